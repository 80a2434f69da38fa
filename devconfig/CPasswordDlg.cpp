#include "CPasswordDlg.h"
#include "ui_CPasswordDlg.h"


#include "AppPaths.h"
#include "CMultiLanguage.h"

CPasswordDlg::CPasswordDlg(QWidget *parent)
    : CFramelessDialog(parent)
    , m_ui(std::make_unique<Ui::CPasswordDlg>())
{
    m_ui->setupUi(this);
    m_ui->labTitle->setTextFormat(Qt::PlainText);
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Password.qss")));
    m_ui->labUser->setText(CMultiLanguage::text(QStringLiteral("User")));
    // The key carries its historic spelling; the language files hold the text.
    m_ui->labPassword->setText(CMultiLanguage::text(QStringLiteral("Passwrod")));
    m_ui->btnOK->setText(CMultiLanguage::text(QStringLiteral("OK")));
    m_ui->EditPassword->setEchoMode(QLineEdit::Password);

    connect(m_ui->btnOK, &QPushButton::clicked, this, &CPasswordDlg::slotOK);
    connect(m_ui->btnClose, &QPushButton::clicked, this, &CPasswordDlg::slotClose);
}

CPasswordDlg::~CPasswordDlg() = default;

void CPasswordDlg::setCredentials(const QString &user, const QString &password,
                                  const QString &title)
{
    m_ui->EditUser->setText(user);
    m_ui->EditPassword->setText(password);
    m_ui->labTitle->setText(title);
    setWindowTitle(title);
}

QString CPasswordDlg::userText() const { return m_ui->EditUser->text(); }
QString CPasswordDlg::passwordText() const { return m_ui->EditPassword->text(); }

void CPasswordDlg::slotOK()
{
    close();
    emit PasswordDlgChange(m_ui->EditUser->text(), m_ui->EditPassword->text());
}

void CPasswordDlg::slotClose()
{
    close();
}
