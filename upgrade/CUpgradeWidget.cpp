#include "CUpgradeWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSpacerItem>
#include <QStyle>
#include <QVBoxLayout>

#include "AppPaths.h"
#include "CCheckBoxHeaderView.h"
#include "CIPTableWidgetItem.h"
#include "CMultiLanguage.h"
#include "CPortTable.h"
#include "CToolTips.h"
#include "CUpgradeLoad.h"
#include "Prompt.h"
#include "ResultMark.h"

using scoutrix::DeviceRecord;
using namespace scoutrix::upgrade;

namespace {

constexpr int kIndexRole = Qt::UserRole + 1; // the device's list index (IP column)
constexpr int kMacRole = Qt::UserRole + 3;   // the device's MAC text (IP column)

// The row widgets' looks, given once to the table rather than to each of the
// hundreds of row widgets: a sheet parsed per widget makes a full table crawl.
const char *const RowSheet =
    "QPushButton#btnUpgrade{border:none;background-image: url(Skin/upgrade_n.png);"
    "background-repeat:no-repeat;background-position:center;}"
    "QPushButton#btnUpgrade:hover{background-image: url(Skin/upgrade_p.png)}"
    "QPushButton#resultOk{border:none;background-image: url(Skin/ok.png)}"
    "QPushButton#resultOk:hover{background-image: url(Skin/ok_hover.png)}"
    "QPushButton#resultError{border:none;background-image: url(Skin/error.png)}"
    "QPushButton#resultError:hover{background-image: url(Skin/erro_hover.png)}"
    "QProgressBar {border: 2px solid grey;   border-radius: 5px;text-align: center;}"
    "QProgressBar::chunk {background-color: #0087A9 ;}"
    // The platform's own bar is light; on this page's dark rows its text
    // would vanish.
    "QProgressBar#upgradeBar{margin:5px 6px;color:#E6E8EA;background-color:rgb(47,51,56);}"
    "QProgressBar#upgradeBar[failed=\"true\"]{color:#E5675A;}";

QString headerKey(int column)
{
    static const char *const keys[CUpgradeWidget::ColumnCount] = {
        "", LANG_KEY("No"), LANG_KEY("Model"), LANG_KEY("IP"), LANG_KEY("Verison"),
        LANG_KEY("UpgradeFileLocation"), LANG_KEY("Open"), LANG_KEY("Operate")};
    return QString::fromLatin1(keys[column]);
}

QCheckBox *filterBox(const QString &name, const QString &text, QWidget *parent)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(name);
    return box;
}

} // namespace

CUpgradeWidget::Choosers CUpgradeWidget::defaultChoosers()
{
    Choosers c;
    c.upgradeFile = [](QWidget *parent) {
        // Firmware, or a picture the page turns into a boot-logo package.
        static QString lastFolder = QDir::homePath();
        const QString file = QFileDialog::getOpenFileName(parent, CMultiLanguage::text(QStringLiteral("OpenFile")),
                                                          lastFolder,
                                                          QStringLiteral("*.bin;;*.jpg *.bmp *.gif;;*.*"));
        if (!file.isEmpty())
            lastFolder = QFileInfo(file).absolutePath();
        return file;
    };
    return c;
}

CUpgradeWidget::CUpgradeWidget(QWidget *parent, Choosers choosers)
    : QWidget(parent)
    , m_choosers(std::move(choosers))
    , m_batch(std::make_unique<UpgradeBatch>())
{
    setObjectName(QStringLiteral("CUpgradeWidget"));
    qRegisterMetaType<UpgradeProgress>();
    qRegisterMetaType<UpgradeOutcome>();
    m_batch->setSettings(UpgradeSettings::fromIni());
    // The engine reports from its workers.
    connect(m_batch.get(), &UpgradeBatch::progress, this, &CUpgradeWidget::slot_UpgradeProbar, Qt::QueuedConnection);
    connect(m_batch.get(), &UpgradeBatch::deviceFinished, this, &CUpgradeWidget::slot_DeviceFinished,
            Qt::QueuedConnection);
    connect(m_batch.get(), &UpgradeBatch::versionRead, this, &CUpgradeWidget::slot_VersionRead, Qt::QueuedConnection);
    connect(m_batch.get(), &UpgradeBatch::runningChanged, this, &CUpgradeWidget::slot_RunningChanged,
            Qt::QueuedConnection);

    buildForm();
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Upgrade.qss")));

    connect(m_header, &QHeaderView::sectionClicked, this,
            [this](int column) { m_table->sortByColumn(column, m_header->sortIndicatorOrder()); });
    connect(m_header, &CCheckBoxHeaderView::sig_HeardCheck, m_table, &CPortTable::slot_setAllChecked);
    connect(m_table, &QTableWidget::cellChanged, this, &CUpgradeWidget::slot_setHeardCheck);
    connect(m_table, &QTableWidget::cellChanged, this, &CUpgradeWidget::slot_setSelectNum);
    connect(this, &CUpgradeWidget::sig_ListDevice, this, &CUpgradeWidget::OnLvnItemchangedListDevice);
    connect(m_checkAll, &QCheckBox::clicked, this, &CUpgradeWidget::CheckAll);
    connect(m_checkIPC, &QCheckBox::clicked, this, &CUpgradeWidget::CheckIPC);
    connect(m_checkDVR, &QCheckBox::clicked, this, &CUpgradeWidget::CheckDVR);
    connect(m_checkNVR, &QCheckBox::clicked, this, &CUpgradeWidget::CheckNVR);
    connect(m_btnUpgradeAll, &QPushButton::clicked, this, &CUpgradeWidget::slot_btnUpgradeAll);

    m_checkAll->setChecked(true);
    CheckAll();
}

CUpgradeWidget::~CUpgradeWidget()
{
    // The engine's destructor waits for the devices under way; nothing it
    // reports meanwhile may reach a page that is being torn down.
    m_batch->disconnect(this);
    m_batch->cancel();
    m_batch.reset();
}

// ---- building the page ----

void CUpgradeWidget::buildForm()
{
    m_checkAll = filterBox(QStringLiteral("check_All"), CMultiLanguage::text(QStringLiteral("ALL")), this);
    m_checkIPC = filterBox(QStringLiteral("check_IPC"), QStringLiteral("IPC"), this);
    m_checkDVR = filterBox(QStringLiteral("check_DVR"), QStringLiteral("DVR/HVR"), this);
    m_checkNVR = filterBox(QStringLiteral("check_NVR"), QStringLiteral("NVR"), this);

    auto *typeLabel = new QLabel(CMultiLanguage::text(QStringLiteral("UpgradeType")), this);
    typeLabel->setObjectName(QStringLiteral("labUpgradeType"));
    m_upgradeType = new QComboBox(this);
    m_upgradeType->setObjectName(QStringLiteral("cmbUpgradeType"));
    m_upgradeType->addItem(CMultiLanguage::text(QStringLiteral("Upgrade")));
    m_upgradeType->addItem(CMultiLanguage::text(QStringLiteral("Upgrade and SuperR")));
    m_upgradeType->addItem(CMultiLanguage::text(QStringLiteral("Upgrade SuperR and Delet log")));
    m_upgradeType->setMinimumWidth(220);

    auto *filters = new QHBoxLayout;
    filters->setSpacing(18);
    filters->addWidget(m_checkAll);
    filters->addWidget(m_checkIPC);
    filters->addWidget(m_checkDVR);
    filters->addWidget(m_checkNVR);
    filters->addStretch();
    filters->addWidget(typeLabel);
    filters->addWidget(m_upgradeType);

    m_table = new CPortTable(this);
    m_table->setObjectName(QStringLiteral("tableUpgrade"));
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
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideLeft); // a file path's end names the file
    m_table->verticalHeader()->setDefaultSectionSize(36);
    m_table->setRowNumbering(true);
    m_table->setStyleSheet(QString::fromLatin1(RowSheet));
    m_header->setStretchLastSection(true);
    m_header->setSectionsClickable(true);
    m_header->setSortIndicatorShown(true);
    m_header->setSortIndicator(ColNumber, Qt::AscendingOrder);
    m_header->setHighlightSections(false);
    m_header->setMinimumHeight(36);
    QFont bold = m_header->font();
    bold.setBold(true);
    m_header->setFont(bold);
    m_header->sortableColumns() << ColModel << ColIP << ColVersion << ColFile;
    m_table->viewport()->installEventFilter(this);
    setColumnWidths();

    m_labSelectNum = new QLabel(QStringLiteral("0"), this);
    m_labSelectNum->setObjectName(QStringLiteral("labSelectNum"));
    m_labSelected = new QLabel(CMultiLanguage::text(QStringLiteral("devices selected")), this);
    m_labSelected->setObjectName(QStringLiteral("label_2"));
    m_btnUpgradeAll = new QPushButton(CMultiLanguage::text(QStringLiteral("BatchUpgradeAll")), this);
    m_btnUpgradeAll->setObjectName(QStringLiteral("btnUpgradeAll"));
    m_btnUpgradeAll->setMinimumSize(150, 32);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_labSelectNum);
    bottom->addWidget(m_labSelected);
    bottom->addStretch();
    bottom->addWidget(m_btnUpgradeAll);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(10);
    layout->addLayout(filters);
    layout->addWidget(m_table, 1);
    layout->addLayout(bottom);
}

void CUpgradeWidget::setColumnWidths()
{
    const int width = m_table->viewport()->width() > 0 ? m_table->viewport()->width() : m_table->width();
    const QFontMetrics fm(m_table->font());
    const QFontMetrics bold(m_header->font());
    // The fixed columns, never narrower than what they must show whole: an
    // address beside its mark, a model name, the bar's longest text.
    const int check = 40;
    // The number's header also holds the sort arrow.
    const int number = qMax(40, bold.horizontalAdvance(m_table->horizontalHeaderItem(ColNumber)->text()) + 30);
    const int model = qMax(80, fm.horizontalAdvance(QStringLiteral("SX-IPC-D4M-XX")) + 12);
    const int ip = qMax(120, fm.horizontalAdvance(QStringLiteral("255.255.255.255")) + 16 + 20);
    // The file button sits in the cell with margins, padding and a frame;
    // the bar with margins and a thick frame.
    const int open = qMax(80, fm.horizontalAdvance(CMultiLanguage::text(QStringLiteral("OpenFile"))) + 48);
    int barText = 0;
    for (const char *key : {LANG_KEY("SendData"), LANG_KEY("Progress"), LANG_KEY("UpgradeSuccess"), LANG_KEY("UpgradeFail")})
        barText = qMax(barText, fm.horizontalAdvance(CMultiLanguage::text(QString::fromLatin1(key)) + QStringLiteral(" 100%")));
    const int operate = qMax(80, barText + 36);
    const int rest = qMax(2 * 120, width - check - number - model - ip - open - operate);
    m_table->setColumnWidth(ColCheck, check);
    m_table->setColumnWidth(ColNumber, number);
    m_table->setColumnWidth(ColModel, model);
    m_table->setColumnWidth(ColIP, ip);
    m_table->setColumnWidth(ColVersion, rest / 2);
    m_table->setColumnWidth(ColFile, rest - rest / 2);
    m_table->setColumnWidth(ColOpen, open);
    m_table->setColumnWidth(ColOperate, operate);
}

bool CUpgradeWidget::eventFilter(QObject *watched, QEvent *event)
{
    // The columns share the width the table really has, known only once the
    // page is laid out, and changing with the window.
    if (watched == m_table->viewport() && event->type() == QEvent::Resize)
        setColumnWidths();
    return QWidget::eventFilter(watched, event);
}

QPushButton *CUpgradeWidget::makeUpgradeButton()
{
    auto *b = new QPushButton;
    b->setObjectName(QStringLiteral("btnUpgrade"));
    b->setCursor(Qt::PointingHandCursor);
    b->setToolTip(CMultiLanguage::text(QStringLiteral("Upgrade")));
    connect(b, &QPushButton::clicked, this, &CUpgradeWidget::btnUpgrade_click);
    return b;
}

QPushButton *CUpgradeWidget::makeOpenButton()
{
    auto *b = new QPushButton(CMultiLanguage::text(QStringLiteral("OpenFile")));
    b->setObjectName(QStringLiteral("btnOpen"));
    b->setCursor(Qt::PointingHandCursor);
    connect(b, &QPushButton::clicked, this, &CUpgradeWidget::btnOpen_click);
    return b;
}

// ---- the device list and the rows ----

void CUpgradeWidget::setDeviceList(DeviceRecord *devices, int count)
{
    m_devices = devices;
    m_count = devices ? std::max(count, 0) : 0;
    m_listReady = true;
    updateWidgets();
    emit sig_ListDevice();
}

void CUpgradeWidget::listRebuildStarted()
{
    m_devices = nullptr;
    m_count = 0;
    m_listReady = false;
    updateWidgets();
}

void CUpgradeWidget::OnLvnItemchangedListDevice()
{
    // A new list: nothing stays checked.
    rebuildRows(false);
}

void CUpgradeWidget::rebuildRows(bool keepChecks)
{
    // A filter change keeps the checks of the rows that stay listed; hidden
    // rows lose theirs, so a batch never reaches a device nobody can see.
    QSet<QString> checked;
    for (int r = 0; keepChecks && r < m_table->rowCount(); ++r) {
        const QTableWidgetItem *cell = m_table->item(r, ColCheck);
        if (cell && cell->checkState() == Qt::Checked)
            checked.insert(macOfRow(r));
    }

    m_table->setUpdatesEnabled(false);
    m_table->blockSignals(true);
    m_table->setRowCount(0);
    m_table->clearContents();
    const QVector<int> listed = listedDevices(m_devices, m_count, m_filter);
    m_table->setRowCount(listed.size());
    for (int row = 0; row < listed.size(); ++row) {
        const int i = listed.at(row);
        const DeviceRecord &d = m_devices[i];
        const QString mac = QString::fromStdString(d.netInfo.macText());
        auto *check = new QTableWidgetItem;
        check->setCheckState(checked.contains(mac) ? Qt::Checked : Qt::Unchecked);
        m_table->setItem(row, ColCheck, check);
        m_table->setItem(row, ColNumber, new QTableWidgetItem(QString::number(row + 1)));
        m_table->setItem(row, ColModel, new QTableWidgetItem(QString::fromStdString(d.devInfo.modelText())));
        auto *ip = new CIPTableWidgetItem(QString::fromStdString(d.netInfo.ipText()));
        ip->setData(kIndexRole, i);
        ip->setData(kMacRole, mac);
        m_table->setItem(row, ColIP, ip);
        const QString version = m_tracker.version(mac);
        m_table->setItem(row, ColVersion,
                         new QTableWidgetItem(version.isEmpty() ? QString::fromStdString(d.loginInfo.versionText()) : version));
        const QString file = m_files.value(mac);
        if (!file.isEmpty()) {
            auto *item = new QTableWidgetItem(file);
            item->setToolTip(file);
            m_table->setItem(row, ColFile, item);
        }
        m_table->setCellWidget(row, ColOpen, makeOpenButton());
    }
    m_table->blockSignals(false);
    // Devices under way or finished in this session get their bars and
    // marks back on whichever row now shows them.
    for (int row = 0; row < listed.size(); ++row)
        showDevice(row);
    m_table->setUpdatesEnabled(true);
    slot_setHeardCheck(0, ColCheck);
    slot_setSelectNum(0, ColCheck);
}

QString CUpgradeWidget::macOfRow(int row) const
{
    const QTableWidgetItem *ip = m_table->item(row, ColIP);
    return ip ? ip->data(kMacRole).toString() : QString();
}

int CUpgradeWidget::rowOfMac(const QString &mac) const
{
    if (mac.isEmpty())
        return -1;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        if (macOfRow(r) == mac)
            return r;
    }
    return -1;
}

int CUpgradeWidget::deviceOfRow(int row) const
{
    const QTableWidgetItem *ip = m_table->item(row, ColIP);
    if (!ip || !m_devices)
        return -1;
    const int i = ip->data(kIndexRole).toInt();
    // The row was filled from this list; a device that is no longer where
    // the row found it is never replaced by whichever sits there now.
    if (i < 0 || i >= m_count || QString::fromStdString(m_devices[i].netInfo.macText()) != macOfRow(row))
        return -1;
    return i;
}

int CUpgradeWidget::rowOfSender(int column)
{
    auto *w = qobject_cast<QWidget *>(sender());
    if (!w)
        return -1;
    // By identity rather than by position: a widget placed a moment ago may
    // not have its geometry yet.
    for (int r = 0; r < m_table->rowCount(); ++r) {
        QWidget *cell = m_table->cellWidget(r, column);
        if (cell && (cell == w || cell->isAncestorOf(w))) {
            m_table->selectRow(r);
            return r;
        }
    }
    return -1;
}

int CUpgradeWidget::selectedCount() const
{
    int n = 0;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const QTableWidgetItem *cell = m_table->item(r, ColCheck);
        n += cell && cell->checkState() == Qt::Checked ? 1 : 0;
    }
    return n;
}

void CUpgradeWidget::slot_setHeardCheck(int row, int column)
{
    Q_UNUSED(row)
    if (column != ColCheck)
        return;
    m_header->setCheckState(TableRules::headerState(selectedCount(), m_table->rowCount()));
}

void CUpgradeWidget::slot_setSelectNum(int row, int column)
{
    Q_UNUSED(row)
    if (column != ColCheck)
        return;
    m_labSelectNum->setText(QString::number(selectedCount()));
}

// ---- filter boxes ----

void CUpgradeWidget::typeBoxChanged(QCheckBox *box, TableRules::TypeFilter::Bit bit, QCheckBox *other1,
                                    QCheckBox *other2)
{
    m_checkAll->setChecked(m_filter.setType(bit, box->isChecked(), other1->isChecked() && other2->isChecked()));
    rebuildRows(true);
}

void CUpgradeWidget::CheckIPC() { typeBoxChanged(m_checkIPC, TableRules::TypeFilter::Ipc, m_checkDVR, m_checkNVR); }
void CUpgradeWidget::CheckDVR() { typeBoxChanged(m_checkDVR, TableRules::TypeFilter::DvrHvr, m_checkIPC, m_checkNVR); }
void CUpgradeWidget::CheckNVR() { typeBoxChanged(m_checkNVR, TableRules::TypeFilter::Nvr, m_checkIPC, m_checkDVR); }

void CUpgradeWidget::CheckAll()
{
    const bool all = m_checkAll->isChecked();
    m_filter.setAll(all);
    m_checkIPC->setChecked(all);
    m_checkDVR->setChecked(all);
    m_checkNVR->setChecked(all);
    rebuildRows(true);
}

// ---- choosing files and starting ----

void CUpgradeWidget::btnOpen_click()
{
    const int row = rowOfSender(ColOpen);
    if (row < 0)
        return;
    const QString file = readableFile(m_choosers.upgradeFile ? m_choosers.upgradeFile(this) : QString());
    if (file.isEmpty())
        return;
    const QString mac = macOfRow(row);
    m_files.insert(mac, file);
    auto *item = new QTableWidgetItem(file);
    item->setToolTip(file);
    m_table->setItem(row, ColFile, item);
    // A finished device offers its Upgrade button again for the new file.
    if (m_tracker.release(mac) && barOfRow(row))
        slot_BtnRestore(row);
    m_table->selectRow(row);
}

void CUpgradeWidget::btnUpgrade_click()
{
    const int row = rowOfSender(ColOperate);
    if (row < 0)
        return;
    const QTableWidgetItem *file = m_table->item(row, ColFile);
    if (!file || file->text().isEmpty()) {
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")),
                        CMultiLanguage::text(QStringLiteral("Upgrade.ChooseFileFirst")));
        return;
    }
    const int device = deviceOfRow(row);
    if (device < 0)
        return;
    enqueue({targetOf(m_devices[device], device, file->text())});
}

void CUpgradeWidget::slot_btnUpgradeAll()
{
    const int selected = selectedCount();
    if (selected == 0) {
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")),
                        CMultiLanguage::text(QStringLiteral("Please select one or more devices")));
        return;
    }
    CUpgradeLoad dialog(this, selected, m_choosers.upgradeFile);
    connect(&dialog, &CUpgradeLoad::sig_OpenUpgradePath, this, &CUpgradeWidget::slot_UpgradeAll);
    dialog.exec();
}

void CUpgradeWidget::slot_UpgradeAll(QString Filename)
{
    const QString file = readableFile(Filename);
    if (file.isEmpty() || !m_devices)
        return;
    QVector<UpgradeTarget> targets;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const QTableWidgetItem *cell = m_table->item(r, ColCheck);
        const int device = deviceOfRow(r);
        if (!cell || cell->checkState() != Qt::Checked || device < 0)
            continue;
        m_files.insert(macOfRow(r), file);
        auto *item = new QTableWidgetItem(file);
        item->setToolTip(file);
        m_table->setItem(r, ColFile, item);
        targets.append(targetOf(m_devices[device], device, file));
    }
    enqueue(targets);
}

void CUpgradeWidget::enqueue(const QVector<UpgradeTarget> &targets)
{
    if (targets.isEmpty())
        return;
    UpgradeSettings settings = m_batch->settings();
    settings.upgradeType = m_upgradeType->currentIndex();
    m_batch->setSettings(settings);
    const QVector<int> tickets = m_batch->enqueue(targets);
    bool any = false;
    for (int i = 0; i < tickets.size() && i < targets.size(); ++i) {
        // Refused: the device is queued or under way already, and its row
        // goes on showing that upgrade.
        if (tickets.at(i) <= 0)
            continue;
        any = true;
        const QString mac = QString::fromStdString(targets.at(i).mac);
        m_tracker.started(tickets.at(i), mac);
        const int row = rowOfMac(mac);
        if (row >= 0)
            showDevice(row);
    }
    if (any)
        setBusy(true);
}

// ---- what the rows show ----

QProgressBar *CUpgradeWidget::barOfRow(int row) const
{
    return qobject_cast<QProgressBar *>(m_table->cellWidget(row, ColOperate));
}

void CUpgradeWidget::showDevice(int row)
{
    const QString mac = macOfRow(row);
    if (const RowState *state = m_tracker.state(mac))
        showBar(row, *state);
    else if (!qobject_cast<QPushButton *>(m_table->cellWidget(row, ColOperate)))
        slot_BtnRestore(row);
    if (const UpgradeOutcome *outcome = m_tracker.outcome(mac))
        slot_OpenTipPage(outcome->code, row);
    else if (m_table->cellWidget(row, ColIP))
        m_table->removeCellWidget(row, ColIP);
    const QString version = m_tracker.version(mac);
    QTableWidgetItem *cell = m_table->item(row, ColVersion);
    if (cell && !version.isEmpty() && cell->text() != version)
        cell->setText(version);
}

void CUpgradeWidget::showBar(int row, const RowState &state)
{
    if (!barOfRow(row))
        slot_Progress(row);
    QProgressBar *bar = barOfRow(row);
    const BarLook look = barLook(state);
    bar->setFormat(look.text);
    bar->setValue(look.value);
    const bool failed = state.stage == Stage::Done && !state.ok;
    if (bar->property("failed").toBool() != failed) {
        bar->setProperty("failed", failed);
        bar->style()->unpolish(bar);
        bar->style()->polish(bar);
    }
}

void CUpgradeWidget::slot_Progress(int row)
{
    auto *bar = new QProgressBar;
    bar->setObjectName(QStringLiteral("upgradeBar"));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(true);
    // Replaces (and deletes, later) the Upgrade button, whose click may be
    // what brought us here.
    m_table->setCellWidget(row, ColOperate, bar);
}

void CUpgradeWidget::slot_BtnRestore(int row)
{
    m_table->setCellWidget(row, ColOperate, makeUpgradeButton());
}

void CUpgradeWidget::slot_OpenTipPage(int Result, int row)
{
    // The address is the IP item's own text; the cell adds only the mark at
    // its right end, so nothing is drawn twice on a selected row.
    auto *cell = new QWidget;
    cell->setObjectName(QStringLiteral("resultCell"));
    auto *layout = new QHBoxLayout(cell);
    layout->setSpacing(0);
    layout->setContentsMargins(4, 0, 6, 0);
    layout->addItem(new QSpacerItem(40, 24, QSizePolicy::Expanding, QSizePolicy::Minimum));
    QPushButton *mark = ResultMark::create(Result == CodeUpgradeOk, cell);
    layout->addWidget(mark);
    connect(mark, &QPushButton::clicked, this, &CUpgradeWidget::btnOpenTips);
    m_table->setCellWidget(row, ColIP, cell);
}

void CUpgradeWidget::btnOpenTips()
{
    const int row = rowOfSender(ColIP);
    if (row < 0)
        return;
    const UpgradeOutcome *outcome = m_tracker.outcome(macOfRow(row));
    if (!outcome)
        return;
    const QString device = m_table->item(row, ColIP)->text();
    emit sig_OpenResultNotice(device, outcome->code, outcome->operation);
    CToolTips notice(nullptr, device, outcome->code, outcome->operation, 0);
    notice.setDetail(noticeDetail(*outcome));
    notice.exec();
}

// ---- engine reports ----

void CUpgradeWidget::slot_UpgradeProbar(const UpgradeProgress &progress)
{
    const QString mac = m_tracker.apply(progress);
    const int row = rowOfMac(mac);
    if (row >= 0)
        showBar(row, *m_tracker.state(mac));
}

void CUpgradeWidget::slot_VersionRead(int ticket, int deviceIndex, const QString &version)
{
    Q_UNUSED(deviceIndex)
    const int row = rowOfMac(m_tracker.applyVersion(ticket, version));
    if (row >= 0)
        showDevice(row);
}

void CUpgradeWidget::slot_DeviceFinished(const UpgradeOutcome &outcome)
{
    const int row = rowOfMac(m_tracker.finish(outcome));
    if (row >= 0)
        showDevice(row);
}

void CUpgradeWidget::slot_RunningChanged(bool running)
{
    // A device queued after the engine reported its end restarted it; the
    // newer report is on its way.
    if (!running && m_batch->isRunning())
        return;
    setBusy(running);
}

void CUpgradeWidget::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    updateWidgets();
    emit sig_UpgradeFlag(busy);
}

void CUpgradeWidget::updateWidgets()
{
    // While a search rewrites the list no row can be read.
    m_table->setEnabled(m_listReady);
    m_btnUpgradeAll->setEnabled(m_listReady);
    // Devices queued later take the type in force when they start: it stays
    // as it is until the last one has ended, so every device of a run gets
    // the type that was shown when it was queued.
    m_upgradeType->setEnabled(!m_busy);
}

bool CUpgradeWidget::upgradesRunning() const { return m_busy || m_batch->isRunning(); }

void CUpgradeWidget::cancelQueued() { m_batch->cancel(); }
