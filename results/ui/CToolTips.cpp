#include "CToolTips.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "CMultiLanguage.h"
#include "ResultTexts.h"

CToolTips::CToolTips(QWidget *parent, const QString &device, int result, int operation, int reserved)
    : CFramelessDialog(parent)
{
    Q_UNUSED(reserved)
    setObjectName(QStringLiteral("CToolTips"));
    setFixedSize(415, 357);
    setStyleSheet(QStringLiteral("color:white"));
    setWindowTitle(CMultiLanguage::text(QStringLiteral("Details")));

    QPushButton *btnClose = nullptr;
    QWidget *band = titleBand(CMultiLanguage::text(QStringLiteral("Details")), &btnClose);
    band->setStyleSheet(QStringLiteral("background-color:rgba(80,85,90);;"));
    btnClose->setStyleSheet(QStringLiteral(
        "QPushButton{border:none;background-color:rgba(80,85,90);background-image: url(Skin/close-normal.png);}"
        "QPushButton:hover{background-image: url(Skin/close-hover.png)}"));

    auto *body = new QWidget(this);
    body->setObjectName(QStringLiteral("widget"));
    body->setAttribute(Qt::WA_StyledBackground);
    body->setStyleSheet(QStringLiteral("background-color:rgba(39,42,47);"));
    auto *grid = new QGridLayout(body);
    grid->setContentsMargins(40, 30, 40, 30);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(28);
    m_labIP2 = namedLabel(QStringLiteral("labIP2"), device, body);
    m_labMode2 = namedLabel(QStringLiteral("labMode2"), QString(), body);
    QFont bold = m_labMode2->font();
    bold.setPointSize(11);
    bold.setBold(true);
    m_labMode2->setFont(bold);
    m_labType2 = namedLabel(QStringLiteral("labType2"), QString(), body);
    m_labType2->setWordWrap(true);
    // Addresses and MAC texts from devices: never read as markup.
    m_labIP2->setTextFormat(Qt::PlainText);
    m_labDetail = namedLabel(QStringLiteral("labDetail"), QString(), body);
    m_labDetail->setTextFormat(Qt::PlainText);
    m_labDetail->setWordWrap(true);
    m_labDetail->hide();
    grid->addWidget(namedLabel(QStringLiteral("labIP"), QStringLiteral("IP"), body), 0, 0);
    grid->addWidget(m_labIP2, 0, 1);
    grid->addWidget(namedLabel(QStringLiteral("labMode"), CMultiLanguage::text(QStringLiteral("OperationType")), body), 1, 0);
    grid->addWidget(m_labMode2, 1, 1);
    grid->addWidget(namedLabel(QStringLiteral("labType"), CMultiLanguage::text(QStringLiteral("OperationResult")), body), 2, 0);
    grid->addWidget(m_labType2, 2, 1);
    grid->addWidget(m_labDetail, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(4, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(band);
    layout->addWidget(body);

    const QString name = ResultTexts::operationName(operation);
    if (!name.isEmpty())
        m_labMode2->setText(name);
    m_labType2->setText(ResultTexts::resultText(result, operation));
    // The outcome is what the installer looks for: coloured so it reads at a
    // glance (done, done but the device wants a reboot, not done).
    const char *colour = ResultTexts::isSuccess(result) ? "#4CC38A"
        : result == ResultTexts::CodeNeedReboot         ? "#E8A33D"
                                                        : "#E5675A";
    m_labType2->setStyleSheet(QStringLiteral("color:%1;").arg(QLatin1String(colour)));

    connect(btnClose, &QPushButton::clicked, this, &CToolTips::OnClose);
}

QString CToolTips::deviceText() const { return m_labIP2->text(); }
QString CToolTips::operationText() const { return m_labMode2->text(); }
QString CToolTips::resultText() const { return m_labType2->text(); }
QString CToolTips::detailText() const { return m_labDetail->text(); }

void CToolTips::setDetail(const QString &detail)
{
    m_labDetail->setText(detail);
    m_labDetail->setVisible(!detail.isEmpty());
}

void CToolTips::OnClose()
{
    close();
}
