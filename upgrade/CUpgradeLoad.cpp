#include "CUpgradeLoad.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "CMultiLanguage.h"
#include "UpgradePageLogic.h"

namespace {

const char *const ButtonSheet = "QPushButton{border:none;border-image: url(Skin/btn_nor.png);}"
                                "QPushButton:hover{border-image: url(Skin/btn_over.png)}"
                                "QPushButton:disabled{color:rgb(120,125,130);}";

// The dialog moves only by its title band: presses and moves in the body end
// here instead of reaching the dialog's drag.
class Body final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void mousePressEvent(QMouseEvent *event) override { event->accept(); }
    void mouseMoveEvent(QMouseEvent *event) override { event->accept(); }
};

QPushButton *dialogButton(const QString &name, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setMinimumSize(80, 28);
    b->setStyleSheet(QString::fromLatin1(ButtonSheet));
    return b;
}

} // namespace

CUpgradeLoad::CUpgradeLoad(QWidget *parent, int selected, FileChooser chooser)
    : CFramelessDialog(parent)
    , m_chooser(std::move(chooser))
{
    setObjectName(QStringLiteral("CUpgradeLoad"));
    setModal(true);
    setFixedWidth(560);
    setStyleSheet(QStringLiteral("color:white"));
    setWindowTitle(CMultiLanguage::text(QStringLiteral("Batch Upgrade")));

    QPushButton *btnClose = nullptr;
    QWidget *band = titleBand(CMultiLanguage::text(QStringLiteral("Batch Upgrade")), &btnClose);
    band->setStyleSheet(QStringLiteral("background-color:rgb(80,85,90);"));
    btnClose->setStyleSheet(QStringLiteral(
        "QPushButton{border:none;background-color:rgb(80,85,90);border-image: url(Skin/close-normal.png);}"
        "QPushButton:hover{border-image: url(Skin/close-hover.png)}"));

    auto *body = new Body(this);
    body->setObjectName(QStringLiteral("widget"));
    body->setAttribute(Qt::WA_StyledBackground);
    body->setStyleSheet(QStringLiteral("#widget{background-color:rgb(39,42,47);}"
                                       "QLineEdit{color:white;background-color:rgb(61,66,72);"
                                       "border:1px solid rgb(80,85,90);padding:0 4px;}"));

    m_path = new QLineEdit(body);
    m_path->setObjectName(QStringLiteral("lineEditPath"));
    m_path->setReadOnly(true);
    m_path->setMinimumHeight(28);
    auto *btnBrowse = dialogButton(QStringLiteral("btnBrowse"), CMultiLanguage::text(QStringLiteral("Browse")), body);
    m_count = namedLabel(QStringLiteral("labNum"), QString::number(selected), body);
    QFont big = m_count->font();
    big.setPointSize(14);
    m_count->setFont(big);
    m_btnOK = dialogButton(QStringLiteral("btnOK"), CMultiLanguage::text(QStringLiteral("OK")), body);
    m_btnOK->setEnabled(false);
    m_btnOK->setDefault(true);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(16);
    grid->addWidget(namedLabel(QStringLiteral("labPath"), CMultiLanguage::text(QStringLiteral("Upgrade File Path:")), body), 0, 0);
    grid->addWidget(m_path, 0, 1);
    grid->addWidget(btnBrowse, 0, 2);
    grid->addWidget(namedLabel(QStringLiteral("labSelected"),
                               CMultiLanguage::text(QStringLiteral("Selected number of devices:")), body),
                    1, 0);
    grid->addWidget(m_count, 1, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnOK);

    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(24, 24, 24, 18);
    bodyLayout->setSpacing(18);
    bodyLayout->addLayout(grid);
    bodyLayout->addLayout(buttons);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(band);
    layout->addWidget(body);

    connect(btnBrowse, &QPushButton::clicked, this, &CUpgradeLoad::Slot_OnBrowse);
    connect(m_btnOK, &QPushButton::clicked, this, &CUpgradeLoad::Slot_OK);
    connect(btnClose, &QPushButton::clicked, this, &CUpgradeLoad::OnClose);
}

CUpgradeLoad::~CUpgradeLoad() = default;

QString CUpgradeLoad::path() const { return m_path->text(); }
bool CUpgradeLoad::okEnabled() const { return m_btnOK->isEnabled(); }

void CUpgradeLoad::Slot_OnBrowse()
{
    const QString file = scoutrix::upgrade::readableFile(m_chooser ? m_chooser(this) : QString());
    // A cancelled or unreadable choice leaves an earlier good one in place.
    if (file.isEmpty())
        return;
    m_path->setText(file);
    m_path->setToolTip(file);
    m_btnOK->setEnabled(true);
}

void CUpgradeLoad::Slot_OK()
{
    if (m_path->text().isEmpty())
        return;
    emit sig_OpenUpgradePath(m_path->text());
    accept();
}

void CUpgradeLoad::OnClose() { reject(); }
