#include "CDetailsDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "NetSdk.h"

namespace {

// Stored texts are 8-bit; shown as they are.
QString stored(const std::string &text)
{
    return QString::fromLatin1(text.c_str());
}

} // namespace

CDetailsDlg::CDetailsDlg(QWidget *parent, const scoutrix::DeviceRecord &record)
    : CFramelessDialog(parent)
    , m_record(record)
{
    setObjectName(QStringLiteral("CDetailsDlg"));
    setFixedSize(416, 364);
    setWindowTitle(CMultiLanguage::text(QStringLiteral("Details")));

    QPushButton *btnClose = nullptr;
    QWidget *band = titleBand(CMultiLanguage::text(QStringLiteral("Details")), &btnClose);

    auto *body = new QWidget(this);
    body->setObjectName(QStringLiteral("widget"));
    body->setAttribute(Qt::WA_StyledBackground);
    body->setFixedSize(415, 331);
    auto *grid = new QGridLayout(body);
    grid->setContentsMargins(40, 24, 30, 24);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(12);
    grid->setColumnMinimumWidth(1, 20);

    const scoutrix::NetInfo &net = m_record.netInfo;
    const scoutrix::DevInfo &dev = m_record.devInfo;
    // The four type names are not translated; an unknown type keeps the
    // placeholder.
    const char *typeName = scoutrix::deviceTypeName(dev.deviceType());
    struct Row
    {
        int gridRow;
        const char *label;
        QString caption;
        const char *value;
        QString text;
    };
    const Row rows[] = {
        {0, "labType", CMultiLanguage::text(QStringLiteral("Type")), "labType2",
         *typeName ? QString::fromLatin1(typeName) : QStringLiteral("-")},
        {1, "labMode", CMultiLanguage::text(QStringLiteral("Model Number")), "labMode2", stored(dev.modelText())},
        {2, "labPort", CMultiLanguage::text(QStringLiteral("Port")), "labPort2", QString::number(net.portValue())},
        {4, "labMac", QStringLiteral("MAC"), "labMac2", stored(net.macText())},
        {6, "labSubmask", CMultiLanguage::text(QStringLiteral("Submask")), "labSubmask2",
         QString::fromStdString(scoutrix::octetsText(net.mask))},
        {7, "labGateway", CMultiLanguage::text(QStringLiteral("Gateway")), "labGateway2",
         QString::fromStdString(scoutrix::octetsText(net.gateway))},
        {8, "labSiera", CMultiLanguage::text(QStringLiteral("Serial Number")), "labSiera2", stored(dev.serialText())},
        {9, "labProtocol", CMultiLanguage::text(QStringLiteral("Protocol")), "labProtocol2",
         CMultiLanguage::text(NetSdk_DeviceProtocol(net.macText().c_str()) == 1 ? QStringLiteral("Protocol.Onvif")
                                                                  : QStringLiteral("Protocol.Own"))},
    };
    for (const Row &row : rows) {
        grid->addWidget(namedLabel(QString::fromLatin1(row.label), row.caption, body), row.gridRow, 0);
        QLabel *value = namedLabel(QString::fromLatin1(row.value), row.text, body);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(value, row.gridRow, 2);
    }
    grid->addWidget(namedLabel(QStringLiteral("label_15"), QString(), body), 10, 0);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(10, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(band);
    layout->addWidget(body);

    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Detail.qss")));
    connect(btnClose, &QPushButton::clicked, this, &CDetailsDlg::OnClose);
}

QString CDetailsDlg::value(const char *objectName) const
{
    const QLabel *label = findChild<QLabel *>(QString::fromLatin1(objectName));
    return label ? label->text() : QString();
}

void CDetailsDlg::OnClose()
{
    close();
}
