#include "CIPSearch.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CCheckBoxHeaderView.h"
#include "CChangerIPDlg.h"
#include "CDetailsDlg.h"
#include "CIPTableWidgetItem.h"
#include "CMultiLanguage.h"
#include "CPortTable.h"
#include "CToolTips.h"
#include "NetSdk.h"
#include "Prompt.h"
#include "ResultMark.h"
#include "ResultTexts.h"
#include "WebLogin.h"

using scoutrix::DevInfo;
using scoutrix::NetInfo;

namespace {

// The row buttons' looks, given once to the table rather than to each of the
// hundreds of buttons: parsing a sheet per button makes a full table crawl.
const char *const ActionSheet =
    "QPushButton#btnModify{border:none;background-image: url(Skin/list_ip_n.png)}"
    "QPushButton#btnModify:hover{background-image: url(Skin/list_ip_h.png)}"
    "QPushButton#btnDetailed{border:none;background-image: url(Skin/digital_n.png)}"
    "QPushButton#btnDetailed:hover{background-image: url(Skin/digital_h.png)}"
    "QPushButton#btnlogin{border:none;background-image: url(Skin/ie_n.png)}"
    "QPushButton#btnlogin:hover{background-image: url(Skin/ie_h.png)}"
    "QPushButton#resultOk{border:none;background-image: url(Skin/ok.png)}"
    "QPushButton#resultOk:hover{background-image: url(Skin/ok_hover.png)}"
    "QPushButton#resultError{border:none;background-image: url(Skin/error.png)}"
    "QPushButton#resultError:hover{background-image: url(Skin/erro_hover.png)}"
    "QToolTip{background-color: black;background-position: left center;}";

const double ColumnShare[CIPSearch::ColumnCount] = {0.05, 0.05, 0.1, 0.1, 0.1, 0.2, 0.3, 0.1};

QString headerKey(int column)
{
    static const char *const keys[CIPSearch::ColumnCount] = {
        "", LANG_KEY("No"), LANG_KEY("Type"), LANG_KEY("Model"), LANG_KEY("IP"),
        LANG_KEY("Mac"), LANG_KEY("Serial No"), LANG_KEY("Operate")};
    return QString::fromLatin1(keys[column]);
}

QPushButton *actionButton(const QString &name, const QString &tip, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(name);
    button->setFixedSize(24, 24);
    button->setToolTip(tip);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

CIPSearch::CIPSearch(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("CIPSearch"));
    buildForm();
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("IPSearch.qss")));

    connect(m_header, &QHeaderView::sectionClicked, this,
            [this](int column) { m_table->sortByColumn(column, m_header->sortIndicatorOrder()); });
    connect(m_header, &CCheckBoxHeaderView::sig_HeardCheck, m_table, &CPortTable::slot_setAllChecked);
    connect(m_table, &QTableWidget::cellChanged, this, &CIPSearch::slot_setHeardCheck);
    connect(this, &CIPSearch::sig_ListDevice, this, &CIPSearch::OnLvnItemchangedListDevice);
    connect(m_btnModifyAll, &QPushButton::clicked, this, &CIPSearch::slot_BtnModifyAll);
    connect(m_checkAll, &QCheckBox::clicked, this, &CIPSearch::CheckAll);
    connect(m_checkIPC, &QCheckBox::clicked, this, &CIPSearch::CheckIPC);
    connect(m_checkDVR, &QCheckBox::clicked, this, &CIPSearch::CheckDVR);
    connect(m_checkNVR, &QCheckBox::clicked, this, &CIPSearch::CheckNVR);
    connect(m_btnSearchIP, &QPushButton::clicked, this, &CIPSearch::slot_SearchIP);
    connect(m_lineEdit, &QLineEdit::returnPressed, this, &CIPSearch::slot_SearchIP);
    connect(m_btnExport, &QPushButton::clicked, this, &CIPSearch::slot_ExportList);

    m_checkAll->setChecked(true);
    CheckAll();
}

CIPSearch::~CIPSearch() = default;

void CIPSearch::buildForm()
{
    m_checkAll = new QCheckBox(CMultiLanguage::text(QStringLiteral("ALL")), this);
    m_checkAll->setObjectName(QStringLiteral("check_All"));
    m_checkIPC = new QCheckBox(QStringLiteral("IPC"), this);
    m_checkIPC->setObjectName(QStringLiteral("check_IPC"));
    m_checkDVR = new QCheckBox(QStringLiteral("DVR/HVR"), this);
    m_checkDVR->setObjectName(QStringLiteral("check_DVR"));
    m_checkNVR = new QCheckBox(QStringLiteral("NVR"), this);
    m_checkNVR->setObjectName(QStringLiteral("check_NVR"));

    m_lineEdit = new QLineEdit(this);
    m_lineEdit->setObjectName(QStringLiteral("lineEdit"));
    m_lineEdit->setPlaceholderText(CMultiLanguage::text(QStringLiteral("Search text")));
    m_lineEdit->setFixedWidth(220);
    m_btnSearchIP = new QPushButton(this);
    m_btnSearchIP->setObjectName(QStringLiteral("btnSearchIP"));
    m_btnSearchIP->setFixedSize(28, 28);
    m_btnSearchIP->setToolTip(CMultiLanguage::text(QStringLiteral("Search text")));

    auto *filters = new QHBoxLayout;
    filters->setSpacing(18);
    filters->addWidget(m_checkAll);
    filters->addWidget(m_checkIPC);
    filters->addWidget(m_checkDVR);
    filters->addWidget(m_checkNVR);
    filters->addStretch();
    filters->addWidget(m_lineEdit);
    filters->addWidget(m_btnSearchIP);

    m_table = new CPortTable(this);
    m_table->setObjectName(QStringLiteral("tableAuto"));
    m_header = new CCheckBoxHeaderView(ColCheck, Qt::Horizontal, m_table);
    m_table->setCheckHeader(m_header);
    m_table->setColumnCount(ColumnCount);
    QStringList labels;
    for (int c = 0; c < ColumnCount; ++c)
        labels << (c == ColCheck ? QString() : CMultiLanguage::text(headerKey(c)));
    m_table->setHorizontalHeaderLabels(labels);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(36);
    m_table->setRowNumbering(true);
    m_table->setStyleSheet(QString::fromLatin1(ActionSheet));
    m_header->setStretchLastSection(true);
    m_header->setSectionsClickable(true);
    m_header->setSortIndicatorShown(true);
    m_header->setSortIndicator(ColNumber, Qt::AscendingOrder);
    m_header->setHighlightSections(false);
    m_header->setMinimumHeight(36);
    QFont bold = m_header->font();
    bold.setBold(true);
    m_header->setFont(bold);
    m_header->sortableColumns() << ColType << ColModel << ColIP << ColMac;
    setColumnWidths();
    m_table->viewport()->installEventFilter(this);
    m_actionTips = QStringList{CMultiLanguage::text(QStringLiteral("ModifyIP")),
                               CMultiLanguage::text(QStringLiteral("Detailed")),
                               CMultiLanguage::text(QStringLiteral("WebLogin"))};
    m_table->setLazyCellWidgets(ColOperate, [this](int) { return makeActionCell(m_actionTips); });

    m_label2 = new QLabel(CMultiLanguage::text(QStringLiteral("Devices found")), this);
    m_label2->setObjectName(QStringLiteral("label_2"));
    m_labSelectNum = new QLabel(QStringLiteral("0"), this);
    m_labSelectNum->setObjectName(QStringLiteral("labSelectNum"));
    m_btnModifyAll = new QPushButton(QStringLiteral("   ") + CMultiLanguage::text(QStringLiteral("ModifyIPAll")), this);
    m_btnModifyAll->setObjectName(QStringLiteral("m_BtnModify"));
    m_btnModifyAll->setMinimumSize(150, 32);

    m_btnExport = new QPushButton(CMultiLanguage::text(QStringLiteral("Export list")), this);
    m_btnExport->setObjectName(QStringLiteral("btnExport"));
    m_btnExport->setMinimumSize(120, 32);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_label2);
    bottom->addWidget(m_labSelectNum);
    bottom->addStretch();
    bottom->addWidget(m_btnExport);
    bottom->addWidget(m_btnModifyAll);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(10);
    layout->addLayout(filters);
    layout->addWidget(m_table, 1);
    layout->addLayout(bottom);
}

void CIPSearch::setColumnWidths()
{
    // The table's viewport, not the widget: the frame and a scroll bar take
    // their share too, and the rows must fit without sideways scrolling.
    const int width = m_table->viewport()->width() > 0 ? m_table->viewport()->width() : m_table->width();
    int widths[ColumnCount];
    for (int c = 0; c < ColumnCount; ++c)
        widths[c] = int(width * ColumnShare[c]);
    // An address or a MAC cut short is useless to an installer: those two
    // columns never get narrower than their longest text, and the serial
    // column, the widest, gives up what they need.
    const QFontMetrics fm(m_table->font());
    const int ipMin = fm.horizontalAdvance(QStringLiteral("255.255.255.255")) + 48;
    const int macMin = fm.horizontalAdvance(QStringLiteral("FF:FF:FF:FF:FF:FF")) + 24;
    const int extra = qMax(0, ipMin - widths[ColIP]) + qMax(0, macMin - widths[ColMac]);
    widths[ColIP] = qMax(widths[ColIP], ipMin);
    widths[ColMac] = qMax(widths[ColMac], macMin);
    widths[ColSerial] -= extra;
    // The stretched last column still needs room for its three buttons.
    const int operateMin = qMax(m_header->minimumSectionSize(), 3 * 24 + 2 * 10 + 12);
    int used = 0;
    for (int c = 0; c < ColumnCount - 1; ++c)
        used += widths[c];
    if (used + operateMin > width)
        widths[ColSerial] -= used + operateMin - width;
    widths[ColSerial] = qMax(widths[ColSerial], fm.horizontalAdvance(QStringLiteral("SERIAL0000000000")));
    for (int c = 0; c < ColumnCount - 1; ++c)
        m_table->setColumnWidth(c, widths[c]);
}

bool CIPSearch::eventFilter(QObject *watched, QEvent *event)
{
    // The shares apply to the width the table really has, which is known
    // only once the page is laid out and changes with the window.
    if (watched == m_table->viewport() && event->type() == QEvent::Resize)
        setColumnWidths();
    return QWidget::eventFilter(watched, event);
}

void CIPSearch::setDevices(const NetInfo *net, const DevInfo *dev, int rawCount)
{
    rawCount = qBound(0, rawCount, int(m_net.size()));
    m_count = TableRules::compact(net, dev, rawCount, m_net.data(), m_dev.data());
    // Outcomes belong to the devices of one search.
    m_outcomes.clear();
    emit sig_ListDevice();
}

QWidget *CIPSearch::makeActionCell(const QStringList &tips)
{
    auto *cell = new QWidget;
    auto *layout = new QHBoxLayout(cell);
    layout->setSpacing(10);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *modify = actionButton(QStringLiteral("btnModify"), tips.value(0), cell);
    auto *details = actionButton(QStringLiteral("btnDetailed"), tips.value(1), cell);
    auto *login = actionButton(QStringLiteral("btnlogin"), tips.value(2), cell);
    layout->addWidget(modify);
    layout->addWidget(details);
    layout->addWidget(login);
    layout->addItem(new QSpacerItem(40, 24, QSizePolicy::Expanding, QSizePolicy::Minimum));
    connect(modify, &QPushButton::clicked, this, &CIPSearch::btnModify_click);
    connect(login, &QPushButton::clicked, this, &CIPSearch::btnlogin_click);
    connect(details, &QPushButton::clicked, this, &CIPSearch::btnDetailed_click);
    return cell;
}

void CIPSearch::OnLvnItemchangedListDevice()
{
    rebuildRows(QSet<QString>());
}

void CIPSearch::refilter()
{
    const QVector<int> listed = TableRules::listedDevices(m_net.data(), m_dev.data(), m_count, m_filter,
                                                          m_lineEdit->text().trimmed());
    rebuildRows(TableRules::checksToKeep(checkedMacs(), m_net.data(), listed));
}

QSet<QString> CIPSearch::checkedMacs() const
{
    QSet<QString> out;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const QTableWidgetItem *check = m_table->item(r, ColCheck);
        const QTableWidgetItem *mac = m_table->item(r, ColMac);
        if (check && mac && check->checkState() == Qt::Checked)
            out.insert(mac->text());
    }
    return out;
}

void CIPSearch::rebuildRows(const QSet<QString> &checked)
{
    m_table->setUpdatesEnabled(false);
    // Cells report themselves as changed while a row is filled; one recount
    // at the end gives the same figure far cheaper.
    m_table->blockSignals(true);
    m_table->setRowCount(0);
    m_table->clearContents();

    // The search text stays applied until it is cleared, whatever else
    // rebuilds the rows.
    const QVector<int> listed = TableRules::listedDevices(m_net.data(), m_dev.data(), m_count, m_filter,
                                                          m_lineEdit->text().trimmed());
    m_table->setRowCount(listed.size());
    const QString onvifTip = CMultiLanguage::text(QStringLiteral("Protocol.Tip.Onvif"));
    const QString ownTip = CMultiLanguage::text(QStringLiteral("Protocol.Tip.Own"));
    QVector<int> marked;
    for (int row = 0; row < listed.size(); ++row) {
        const int i = listed.at(row);
        const NetInfo &net = m_net[size_t(i)];
        const DevInfo &dev = m_dev[size_t(i)];
        const QString mac = QString::fromStdString(net.macText());
        auto *check = new QTableWidgetItem;
        check->setCheckState(checked.contains(mac) ? Qt::Checked : Qt::Unchecked);
        m_table->setItem(row, ColCheck, check);
        m_table->setItem(row, ColNumber, new QTableWidgetItem(QString::number(row + 1)));
        const char *type = scoutrix::deviceTypeName(dev.deviceType());
        if (*type)
            m_table->setItem(row, ColType, new QTableWidgetItem(QString::fromLatin1(type)));
        m_table->setItem(row, ColModel, new QTableWidgetItem(QString::fromStdString(dev.modelText())));
        m_table->setItem(row, ColIP, new CIPTableWidgetItem(QString::fromStdString(net.ipText())));
        m_table->setItem(row, ColMac, new QTableWidgetItem(mac));
        m_table->setItem(row, ColSerial, new QTableWidgetItem(QString::fromStdString(dev.serialText())));
        // The columns stay those of the own protocol; the protocol a device
        // speaks is told on hover and in its details card.
        const QString protocolTip = NetSdk_DeviceProtocol(net.macText().c_str()) == 1
            ? onvifTip
            : ownTip;
        for (int column = ColNumber; column <= ColSerial; ++column)
            if (QTableWidgetItem *item = m_table->item(row, column))
                item->setToolTip(protocolTip);
        if (m_outcomes.contains(mac))
            marked.append(row);
    }
    m_table->blockSignals(false);
    for (int row : marked)
        showOutcome(row);
    m_table->ensureVisibleCellWidgets();
    m_table->setUpdatesEnabled(true);
    slot_setHeardCheck(0, ColCheck);
}

void CIPSearch::slot_setHeardCheck(int row, int column)
{
    Q_UNUSED(row)
    if (column != ColCheck)
        return;
    int checked = 0;
    const int rows = m_table->rowCount();
    for (int r = 0; r < rows; ++r) {
        const QTableWidgetItem *cell = m_table->item(r, ColCheck);
        if (cell && cell->checkState() == Qt::Checked)
            ++checked;
    }
    m_labSelectNum->setText(QString::number(checked));
    m_header->setCheckState(TableRules::headerState(checked, rows));
}

int CIPSearch::deviceOfRow(int row) const
{
    const QTableWidgetItem *mac = m_table->item(row, ColMac);
    return mac ? TableRules::findByMac(m_net.data(), m_count, mac->text()) : -1;
}

int CIPSearch::rowOfSender() const
{
    auto *button = qobject_cast<QWidget *>(sender());
    QWidget *cell = button ? button->parentWidget() : nullptr;
    if (!cell)
        return -1;
    // Looked up by identity rather than by position: a cell placed a moment
    // ago may not have its geometry yet.
    const int rows = m_table->rowCount();
    for (int r = 0; r < rows; ++r) {
        if (m_table->cellWidget(r, ColOperate) == cell || m_table->cellWidget(r, ColIP) == cell) {
            m_table->selectRow(r);
            return r;
        }
    }
    return -1;
}

void CIPSearch::warnDeviceGone()
{
    Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")),
                         CMultiLanguage::text(QStringLiteral("This device is no longer in the list. Search again.")));
}

int CIPSearch::deviceOfSender(int *rowOut)
{
    const int row = rowOfSender();
    if (rowOut)
        *rowOut = row;
    const int device = row < 0 ? -1 : deviceOfRow(row);
    if (device < 0)
        warnDeviceGone();
    return device;
}

void CIPSearch::runChangerIP(NetInfo *records, int channel, bool batch, int count)
{
    m_pendingRecords = records;
    m_pendingBatch = batch;
    CChangerIPDlg dialog;
    dialog.setUp(records, channel, batch, count);
    connect(&dialog, &CChangerIPDlg::ChangerIPResult, this, &CIPSearch::slot_OpenTipPage);
    dialog.exec();
    m_pendingRecords = nullptr;
    m_channelMacs.clear();
    emit sig_ModifyIP();
}

void CIPSearch::btnModify_click()
{
    int row = -1;
    const int device = deviceOfSender(&row);
    if (device < 0)
        return;
    // The dialog writes into a copy; the table's own record follows only
    // what the device accepted.
    NetInfo record = m_net[size_t(device)];
    m_channelMacs.clear();
    m_channelMacs.insert(row, QString::fromStdString(record.macText()));
    runChangerIP(&record, row, false, 0);
}

void CIPSearch::slot_BtnModifyAll()
{
    std::array<NetInfo, 256> batch {};
    QHash<int, QString> macs;
    int n = 0;
    const int rows = m_table->rowCount();
    for (int r = 0; r < rows && n < int(batch.size()); ++r) {
        const QTableWidgetItem *cell = m_table->item(r, ColCheck);
        if (!cell || cell->checkState() != Qt::Checked)
            continue;
        const int device = deviceOfRow(r);
        if (device < 0)
            continue;
        batch[size_t(n)] = m_net[size_t(device)];
        macs.insert(n++, QString::fromStdString(m_net[size_t(device)].macText()));
    }
    if (n == 0)
        return;
    m_channelMacs = macs;
    if (n == 1)
        runChangerIP(batch.data(), 0, false, 1);
    else
        runChangerIP(batch.data(), 1, true, n);
}

void CIPSearch::btnlogin_click()
{
    const int row = rowOfSender();
    if (row < 0)
        return;
    const int device = deviceOfRow(row);
    if (device < 0) {
        warnDeviceGone();
        return;
    }
    // The device's current address: after a change, the new one.
    WebLogin::open(QString::fromStdString(m_net[size_t(device)].ipText()));
}

void CIPSearch::btnDetailed_click()
{
    const int device = deviceOfSender();
    if (device < 0)
        return;
    scoutrix::DeviceRecord record {};
    record.netInfo = m_net[size_t(device)];
    record.devInfo = m_dev[size_t(device)];
    CDetailsDlg dialog(nullptr, record);
    dialog.exec();
}

void CIPSearch::typeBoxChanged(QCheckBox *box, TableRules::TypeFilter::Bit bit, QCheckBox *other1, QCheckBox *other2)
{
    const bool all = m_filter.setType(bit, box->isChecked(), other1->isChecked() && other2->isChecked());
    m_checkAll->setChecked(all);
    refilter();
}

void CIPSearch::CheckIPC()
{
    typeBoxChanged(m_checkIPC, TableRules::TypeFilter::Ipc, m_checkDVR, m_checkNVR);
}

void CIPSearch::CheckDVR()
{
    typeBoxChanged(m_checkDVR, TableRules::TypeFilter::DvrHvr, m_checkIPC, m_checkNVR);
}

void CIPSearch::CheckNVR()
{
    typeBoxChanged(m_checkNVR, TableRules::TypeFilter::Nvr, m_checkIPC, m_checkDVR);
}

void CIPSearch::CheckAll()
{
    const bool all = m_checkAll->isChecked();
    m_filter.setAll(all);
    m_checkIPC->setChecked(all);
    m_checkDVR->setChecked(all);
    m_checkNVR->setChecked(all);
    refilter();
}

void CIPSearch::slot_SearchIP()
{
    refilter();
}

int CIPSearch::rowOfMac(const QString &mac) const
{
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const QTableWidgetItem *cell = m_table->item(r, ColMac);
        if (cell && cell->text() == mac)
            return r;
    }
    return -1;
}

void CIPSearch::showOutcome(int row)
{
    const QTableWidgetItem *macItem = m_table->item(row, ColMac);
    if (!macItem || !m_outcomes.contains(macItem->text()))
        return;
    const Outcome outcome = m_outcomes.value(macItem->text());
    // The address itself is the IP item's text (the device's current
    // address), drawn once; the cell adds only the mark beside it, so nothing
    // is drawn over it on a selected row.
    auto *cell = new QWidget;
    cell->setObjectName(QStringLiteral("resultCell"));
    auto *layout = new QHBoxLayout(cell);
    layout->setSpacing(0);
    layout->setContentsMargins(4, 0, 6, 0);
    layout->addItem(new QSpacerItem(40, 24, QSizePolicy::Expanding, QSizePolicy::Minimum));
    QPushButton *mark = ResultMark::create(outcome.code >= 0, cell);
    layout->addWidget(mark);
    m_table->setCellWidget(row, ColIP, cell);
    connect(mark, &QPushButton::clicked, this, &CIPSearch::btnOpenTips);
}

void CIPSearch::setOutcome(const QString &mac, int code, const QString &detail)
{
    m_outcomes.insert(mac, Outcome{code, detail});
    const int row = rowOfMac(mac);
    if (row >= 0)
        showOutcome(row);
}

void CIPSearch::slot_OpenTipPage(int Result, int channel, QString text)
{
    Q_UNUSED(text)
    const QString mac = m_channelMacs.value(channel);
    const int device = TableRules::findByMac(m_net.data(), m_count, mac);
    if (device < 0 || !m_pendingRecords)
        return;
    NetInfo &current = m_net[size_t(device)];
    const NetInfo &attempted = m_pendingRecords[m_pendingBatch ? channel : 0];
    ActivityLog::instance().append(
        TableRules::addressChangeEntry(current, attempted, m_dev[size_t(device)], Result));

    if (Result >= 0) {
        std::memcpy(current.ip, attempted.ip, 4);
        std::memcpy(current.mask, attempted.mask, 4);
        std::memcpy(current.gateway, attempted.gateway, 4);
    }
    const int row = rowOfMac(mac);
    if (row >= 0 && Result >= 0) {
        if (QTableWidgetItem *ip = m_table->item(row, ColIP))
            ip->setText(QString::fromStdString(current.ipText()));
    }
    setOutcome(mac, Result >= 0 ? 1 : Result);
}

void CIPSearch::btnOpenTips()
{
    int row = -1;
    const int device = deviceOfSender(&row);
    if (device < 0)
        return;
    const QString mac = QString::fromStdString(m_net[size_t(device)].macText());
    const Outcome outcome = m_outcomes.value(mac);
    CToolTips notice(nullptr, QString::fromStdString(m_net[size_t(device)].ipText()), outcome.code,
                     ResultTexts::OpModifyIP, 0);
    notice.setDetail(outcome.detail);
    notice.exec();
}

QString CIPSearch::listCsv() const
{
    QVector<int> rows;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const int device = deviceOfRow(r);
        if (device >= 0)
            rows.append(device);
    }
    return TableRules::devicesCsv(m_net.data(), m_dev.data(), rows);
}

bool CIPSearch::exportList(const QString &path) const
{
    return ActivityLog::writeCsvFile(path, listCsv());
}

void CIPSearch::slot_ExportList()
{
    const QString path = QFileDialog::getSaveFileName(this, CMultiLanguage::text(QStringLiteral("Export list")),
                                                      QStringLiteral("devices.csv"),
                                                      CMultiLanguage::text(QStringLiteral("CSV files")) + QStringLiteral(" (*.csv)"));
    if (path.isEmpty())
        return;
    if (!exportList(path))
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")),
                        CMultiLanguage::text(QStringLiteral("The list could not be saved.")));
}
