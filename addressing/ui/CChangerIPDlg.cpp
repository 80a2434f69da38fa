#include "CChangerIPDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AddressPlan.h"
#include "AppPaths.h"
#include "CIPLineEdit.h"
#include "CMultiLanguage.h"
#include "ConfigRecords.h"
#include "NetSdk.h"

using scoutrix::NetInfo;

namespace {

constexpr int SetTimeoutMs = 10000;

CIPLineEdit *namedEdit(const QString &name, QWidget *parent)
{
    auto *edit = new CIPLineEdit(parent);
    edit->setObjectName(name);
    edit->setFixedSize(200, 28);
    return edit;
}

AddressPlan::Octets octetsOf(const CIPLineEdit *edit)
{
    return AddressPlan::fromValues(edit->getOctet(0), edit->getOctet(1), edit->getOctet(2), edit->getOctet(3));
}

} // namespace

CChangerIPDlg::CChangerIPDlg(QWidget *parent)
    : CFramelessDialog(parent)
{
    setObjectName(QStringLiteral("CChangerIPDlg"));
    setFixedWidth(420);
    setWindowTitle(CMultiLanguage::text(QStringLiteral("ChangeIP")));

    QPushButton *btnClose = nullptr;
    QWidget *band = titleBand(CMultiLanguage::text(QStringLiteral("ChangeIP")), &btnClose);

    auto *body = new QWidget(this);
    body->setObjectName(QStringLiteral("widget"));
    body->setAttribute(Qt::WA_StyledBackground);
    m_editIP = namedEdit(QStringLiteral("EditIP"), body);
    m_editMask = namedEdit(QStringLiteral("EditSubmask"), body);
    m_editGateway = namedEdit(QStringLiteral("EditGateway"), body);
    m_checkSameIP = new QCheckBox(CMultiLanguage::text(QStringLiteral("SameIP")), body);
    m_checkSameIP->setObjectName(QStringLiteral("checkSameIP"));
    m_labDeviceNum = namedLabel(QStringLiteral("labDeviceNum"), QStringLiteral("1"), body);
    m_labDeviceNum->setFont(QFont(QStringLiteral("Calibri"), 18));
    m_labWarning = namedLabel(QStringLiteral("labWarning"), QString(), body);
    m_labWarning->setWordWrap(true);
    m_labWarning->hide();
    auto *btnOK = new QPushButton(CMultiLanguage::text(QStringLiteral("OK")), body);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setMinimumSize(100, 30);
    btnOK->setDefault(true);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(14);
    grid->addWidget(namedLabel(QStringLiteral("labIP"), CMultiLanguage::text(QStringLiteral("IP")), body), 0, 0);
    grid->addWidget(m_editIP, 0, 1);
    grid->addWidget(namedLabel(QStringLiteral("labSubmask"), CMultiLanguage::text(QStringLiteral("Submask")), body), 1, 0);
    grid->addWidget(m_editMask, 1, 1);
    grid->addWidget(namedLabel(QStringLiteral("labGateWay"), CMultiLanguage::text(QStringLiteral("GateWay")), body), 2, 0);
    grid->addWidget(m_editGateway, 2, 1);
    grid->addWidget(m_checkSameIP, 3, 1);
    auto *devices = new QHBoxLayout;
    devices->addWidget(namedLabel(QStringLiteral("labelDevice"),
                                  CMultiLanguage::text(QStringLiteral("Select the number of devices:")), body));
    devices->addWidget(m_labDeviceNum);
    devices->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);

    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(36, 24, 36, 20);
    bodyLayout->setSpacing(14);
    bodyLayout->addLayout(grid);
    bodyLayout->addLayout(devices);
    bodyLayout->addWidget(m_labWarning);
    bodyLayout->addStretch();
    bodyLayout->addLayout(buttons);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(band);
    layout->addWidget(body);

    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("ChangeIP.qss")));

    connect(btnOK, &QPushButton::clicked, this, &CChangerIPDlg::slot_OK);
    connect(btnClose, &QPushButton::clicked, this, &CChangerIPDlg::slot_Close);
    for (CIPLineEdit *edit : {m_editIP, m_editMask, m_editGateway})
        connect(edit, &CIPLineEdit::octetsChanged, this, &CChangerIPDlg::updateWarnings);
    connect(m_checkSameIP, &QCheckBox::toggled, this, &CChangerIPDlg::updateWarnings);
}

void CChangerIPDlg::setUp(NetInfo *records, int channel, bool batch, int count)
{
    m_records = records;
    m_channel = channel;
    m_batch = batch;
    m_count = count;
    m_checkSameIP->setVisible(batch);
    m_labDeviceNum->setText(batch ? QString::number(count) : QStringLiteral("1"));
    if (records)
        fillFrom(records[0]);
    updateWarnings();
    adjustSize();
}

void CChangerIPDlg::fillFrom(const NetInfo &record)
{
    for (int i = 0; i < 4; ++i) {
        m_editIP->setOctet(record.ip[i], i);
        m_editMask->setOctet(record.mask[i], i);
        m_editGateway->setOctet(record.gateway[i], i);
    }
}

void CChangerIPDlg::writeOctets(const CIPLineEdit *edit, uint8_t out[4]) const
{
    const AddressPlan::Octets o = octetsOf(edit);
    for (int i = 0; i < 4; ++i)
        out[i] = o[size_t(i)];
}

QString CChangerIPDlg::warningText() const
{
    return m_labWarning->text();
}

void CChangerIPDlg::updateWarnings()
{
    const int count = m_batch ? m_count : 1;
    const AddressPlan::Warnings w = AddressPlan::check(octetsOf(m_editIP), octetsOf(m_editMask),
                                                       octetsOf(m_editGateway), count,
                                                       m_batch && m_checkSameIP->isChecked());
    QStringList lines;
    if (w.maskNotContiguous)
        lines << CMultiLanguage::text(QStringLiteral("The subnet mask is not a contiguous mask."));
    if (w.gatewayOutsideSubnet)
        lines << CMultiLanguage::text(QStringLiteral("The gateway is outside the address's subnet."));
    if (!w.reservedAddresses.empty()) {
        QStringList addresses;
        for (const AddressPlan::Octets &a : w.reservedAddresses)
            addresses << QString::fromStdString(AddressPlan::text(a));
        lines << CMultiLanguage::text(QStringLiteral("These addresses are the subnet's network or broadcast address:"))
                + QLatin1Char(' ') + addresses.join(QStringLiteral(", "));
    }
    m_labWarning->setText(lines.join(QLatin1Char('\n')));
    m_labWarning->setVisible(!lines.isEmpty());
}

int CChangerIPDlg::send(NetInfo &record)
{
    const int result = NetSdk_SetConfigWithoutLogin(scoutrix::CmdNetWithoutLogin, -1, &record,
                                                    int32_t(sizeof(NetInfo)), SetTimeoutMs);
    qDebug() << "nRet = " << result;
    return result;
}

void CChangerIPDlg::slot_OK()
{
    if (!m_records) {
        accept();
        return;
    }
    if (!m_batch) {
        NetInfo &record = m_records[0];
        const NetInfo before = record;
        writeOctets(m_editIP, record.ip);
        writeOctets(m_editMask, record.mask);
        writeOctets(m_editGateway, record.gateway);
        const QString ip = QString::asprintf("%d.%d.%d.%d", record.ip[0], record.ip[1], record.ip[2], record.ip[3]);
        const int result = send(record);
        // The receiver reads the values that were sent from the record; after
        // that, a refused change must leave it saying where the device is.
        emit ChangerIPResult(result, m_channel, ip);
        if (result < 0)
            record = before;
        accept();
        return;
    }

    const AddressPlan::Octets first = octetsOf(m_editIP);
    const bool same = m_checkSameIP->isChecked();
    // Each device may take the SDK's whole timeout; show how far the batch is
    // so a long run never looks like a hung window.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_labWarning->show();
    for (int i = 0; i < m_count; ++i) {
        m_labWarning->setText(CMultiLanguage::text(QStringLiteral("ChangingDeviceOf"))
                                  .arg(i + 1)
                                  .arg(m_count));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        NetInfo &record = m_records[i];
        const AddressPlan::Octets address = AddressPlan::batchAddress(first, i, same);
        for (int k = 0; k < 4; ++k)
            record.ip[k] = address[size_t(k)];
        writeOctets(m_editMask, record.mask);
        writeOctets(m_editGateway, record.gateway);
        const int result = send(record);
        emit ChangerIPResult(result, i,
                             QString::asprintf("%d.%d.%d.%d", record.ip[0], record.ip[1], record.ip[2], record.ip[3]));
    }
    QApplication::restoreOverrideCursor();
    accept();
}

void CChangerIPDlg::slot_Close()
{
    close();
}
