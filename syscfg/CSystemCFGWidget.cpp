#include "CSystemCFGWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "CToolTips.h"
#include "ConfigRecords.h"
#include "Prompt.h"
#include "ResultMark.h"
#include "SystemPageLogic.h"

using scoutrix::DeviceRecord;
using scoutrix::RestoreDefaultsRecord;
using namespace scoutrix::syscfg;

namespace {

constexpr int kIndexRole = Qt::UserRole + 1;     // 257: list index (column 0), code (column 1)
constexpr int kOperationRole = Qt::UserRole + 2; // 258: operation id (column 1)
constexpr int kMacRole = Qt::UserRole + 3;       // 259: the device's MAC text (column 0)
// Pages with one section keep it at a readable width on a wide window.
constexpr int kSectionWidth = 640;
// More parallel logins than this only queue in the devices' accept loops.
constexpr int kMaxJobs = 64;

enum ItemIndex : int { TimeItem = 0, SystemItem, LightItem, ResetItem, NameItem, NetworkItem, ItemPages = 8 };

QLabel *label(const QString &name, const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QComboBox *combo(const QString &name, QWidget *parent)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(name);
    return c;
}

QCheckBox *checkBox(const QString &name, const QString &text, QWidget *parent)
{
    auto *c = new QCheckBox(text, parent);
    c->setObjectName(name);
    return c;
}

QLineEdit *lineEdit(const QString &name, const QString &text, QWidget *parent)
{
    auto *e = new QLineEdit(text, parent);
    e->setObjectName(name);
    return e;
}

QWidget *section(const QString &name, const QString &title, QWidget *parent, QLayout *content)
{
    auto *box = new QWidget(parent);
    box->setObjectName(name);
    box->setProperty("section", true);
    box->setAttribute(Qt::WA_StyledBackground);
    auto *v = new QVBoxLayout(box);
    v->setContentsMargins(16, 10, 16, 14);
    v->setSpacing(10);
    auto *head = label(name + QStringLiteral("Title"), title, box);
    head->setProperty("sectionTitle", true);
    v->addWidget(head);
    v->addLayout(content);
    return box;
}

QIcon itemIcon(const QString &base)
{
    const QString dir = AppPaths::programDir() + QStringLiteral("/Skin/");
    QIcon icon;
    icon.addFile(dir + base + QStringLiteral("_n.png"), QSize(), QIcon::Normal, QIcon::Off);
    icon.addFile(dir + base + QStringLiteral("_h.png"), QSize(), QIcon::Normal, QIcon::On);
    icon.addFile(dir + base + QStringLiteral("_h.png"), QSize(), QIcon::Active, QIcon::Off);
    return icon;
}

// How many devices a batch handles at once: "jobs" under [SystemPage] in
// scoutrix.ini beside the program, else the engine's default.
int batchJobsSetting()
{
    const QSettings settings(AppPaths::programDir() + QStringLiteral("/scoutrix.ini"), QSettings::IniFormat);
    bool ok = false;
    const int jobs = settings.value(QStringLiteral("SystemPage/jobs")).toInt(&ok);
    return ok && jobs >= 1 ? std::min(jobs, kMaxJobs) : SystemBatch::DefaultJobs;
}

} // namespace

CSystemCFGWidget::Choosers CSystemCFGWidget::defaultChoosers()
{
    Choosers c;
    c.folder = [](QWidget *parent) {
        return QFileDialog::getExistingDirectory(parent, QString(), QDir::currentPath(), QFileDialog::ShowDirsOnly);
    };
    c.configFile = [](QWidget *parent) {
        return QFileDialog::getOpenFileName(parent, CMultiLanguage::text(QStringLiteral("Select a cfg file")),
                                            QDir::currentPath(),
                                            CMultiLanguage::text(QStringLiteral("CFG File(*.cfg)")));
    };
    return c;
}

CSystemCFGWidget::CSystemCFGWidget(QWidget *parent, Choosers choosers)
    : QWidget(parent)
    , m_choosers(std::move(choosers))
{
    setObjectName(QStringLiteral("CSystemCFGWidget"));
    qRegisterMetaType<DeviceOutcome>();
    m_batch = new SystemBatch(this);
    m_batch->setJobs(batchJobsSetting());
    // Signals come from the batch's workers.
    connect(m_batch, &SystemBatch::deviceFinished, this, &CSystemCFGWidget::onDeviceFinished, Qt::QueuedConnection);
    connect(m_batch, &SystemBatch::progress, this, &CSystemCFGWidget::onProgress, Qt::QueuedConnection);
    connect(m_batch, &SystemBatch::confirmationNeeded, this, &CSystemCFGWidget::onConfirmationNeeded,
            Qt::QueuedConnection);
    connect(m_batch, &SystemBatch::refusedForLogin, this, &CSystemCFGWidget::onRefusedForLogin,
            Qt::QueuedConnection);
    connect(m_batch, &SystemBatch::finished, this, &CSystemCFGWidget::onFinished, Qt::QueuedConnection);

    buildUi();
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("System.qss")));

    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &CSystemCFGWidget::slot_OnTimedisplay);
    m_clock->start();
    slot_OnTimedisplay();

    refreshLabels();
    showItem(m_currentItem);
    setBatchUi(false);
}

CSystemCFGWidget::~CSystemCFGWidget()
{
    shutdown();
}

void CSystemCFGWidget::shutdown()
{
    m_shutDown = true;
    if (!m_batch)
        return;
    m_batch->cancel();
    // A batch waiting for its question would wait for ever.
    m_batch->confirm(false);
    m_batch->waitForFinished();
}

bool CSystemCFGWidget::batchRunning() const { return m_batch && m_batch->isRunning(); }

const DeviceOutcome *CSystemCFGWidget::outcomeFor(const QString &mac) const
{
    auto it = m_outcomes.constFind(mac);
    return it == m_outcomes.constEnd() ? nullptr : &*it;
}

// ---- building the page ----

void CSystemCFGWidget::buildUi()
{
    auto *main = new QHBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(buildTreePane());
    main->addWidget(buildItemButtons());

    auto *right = new QWidget(this);
    right->setObjectName(QStringLiteral("widgetPages"));
    right->setAttribute(Qt::WA_StyledBackground);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    m_stack = new QStackedWidget(right);
    m_stack->setObjectName(QStringLiteral("stackedWidget"));
    m_stack->addWidget(itemPage(QStringLiteral("pageTime"), buildTimePage()));
    m_stack->addWidget(itemPage(QStringLiteral("pageSystem"), buildSystemPage()));
    m_stack->addWidget(itemPage(QStringLiteral("pageLight"), buildLightPage()));
    m_stack->addWidget(itemPage(QStringLiteral("pageReset"), buildResetPage()));
    m_stack->addWidget(itemPage(QStringLiteral("pageName"), buildNamePage()));
    m_stack->addWidget(itemPage(QStringLiteral("pageNetwork"), buildNetworkPage()));
    // Two spare pages no button selects.
    for (int i = m_stack->count(); i < ItemPages; ++i) {
        auto *spare = new QWidget(m_stack);
        spare->setObjectName(QStringLiteral("page_%1").arg(i));
        m_stack->addWidget(spare);
    }
    rightLayout->addWidget(m_stack, 1);

    // The running batch: how far it is, and the way to stop it.
    m_progressBar = new QWidget(right);
    m_progressBar->setObjectName(QStringLiteral("widgetProgress"));
    m_progressBar->setAttribute(Qt::WA_StyledBackground);
    auto *bar = new QHBoxLayout(m_progressBar);
    bar->setContentsMargins(16, 8, 16, 8);
    m_progressText = label(QStringLiteral("labProgress"), QString(), m_progressBar);
    m_cancel = new QPushButton(CMultiLanguage::text(QStringLiteral("Config.Cancel")), m_progressBar);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->setFocusPolicy(Qt::NoFocus);
    bar->addWidget(m_progressText, 1);
    bar->addWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, &CSystemCFGWidget::slot_CancelBatch);
    rightLayout->addWidget(m_progressBar);
    main->addWidget(right, 1);
}

QWidget *CSystemCFGWidget::buildTreePane()
{
    auto *pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("widgetTree"));
    pane->setAttribute(Qt::WA_StyledBackground);
    pane->setFixedWidth(210);
    auto *v = new QVBoxLayout(pane);
    v->setContentsMargins(8, 8, 8, 8);
    v->setSpacing(6);
    auto *filterRow = new QHBoxLayout;
    filterRow->setSpacing(4);
    m_filter = lineEdit(QStringLiteral("lineEdit"), QString(), pane);
    m_search = new QPushButton(pane);
    m_search->setObjectName(QStringLiteral("pushButton"));
    m_search->setFixedSize(24, 24);
    m_search->setFocusPolicy(Qt::NoFocus);
    m_search->setToolTip(CMultiLanguage::text(QStringLiteral("Search")));
    filterRow->addWidget(m_filter);
    filterRow->addWidget(m_search);
    v->addLayout(filterRow);

    m_tree = new QTreeWidget(pane);
    m_tree->setObjectName(QStringLiteral("IPTree"));
    m_tree->setColumnCount(2);
    m_tree->header()->hide();
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_tree->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    // Column 1 holds only the 16x16 result mark.
    m_tree->header()->setMinimumSectionSize(16);
    m_tree->header()->resizeSection(1, 22);
    m_tree->setIndentation(16);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QFont font = m_tree->font();
    font.setPointSize(10);
    m_tree->setFont(font);
    v->addWidget(m_tree, 1);

    connect(m_search, &QPushButton::clicked, this, &CSystemCFGWidget::slot_SearchIP);
    connect(m_filter, &QLineEdit::returnPressed, this, &CSystemCFGWidget::slot_SearchIP);
    // itemChanged rather than itemClicked: the keyboard's space bar checks
    // devices too, and its groups must follow.
    connect(m_tree, &QTreeWidget::itemChanged, this, &CSystemCFGWidget::slot_itemClicked);
    return pane;
}

QWidget *CSystemCFGWidget::buildItemButtons()
{
    auto *column = new QWidget(this);
    column->setObjectName(QStringLiteral("widgetItems"));
    column->setAttribute(Qt::WA_StyledBackground);
    column->setFixedWidth(160);
    auto *v = new QVBoxLayout(column);
    v->setContentsMargins(0, 12, 0, 12);
    v->setSpacing(2);
    struct Entry
    {
        const char *name;
        const char *key;
        const char *icon;
        void (CSystemCFGWidget::*slot)();
    };
    const Entry entries[] = {
        {"btnCorrect", LANG_KEY("Config.General"), "sys_time", &CSystemCFGWidget::slot_btnCorrect},
        {"btnSelectReboot", LANG_KEY("Config.SystemSet"), "sys_maint", &CSystemCFGWidget::slot_btnSelectReboot},
        {"btnSelectLight", LANG_KEY("Config.LightMode"), "sys_light", &CSystemCFGWidget::slot_btnSelectLight},
        {"btnSelectReset", LANG_KEY("Config.Default"), "sys_reset", &CSystemCFGWidget::slot_btnSelectReset},
        {"btnSelectName", LANG_KEY("Config.OSDInfoCfg"), "sys_name", &CSystemCFGWidget::slot_btnSelectName},
        {"btnSelectOnvif", LANG_KEY("Config.NetWork"), "sys_net", &CSystemCFGWidget::slot_btnSelectOnvif},
    };
    for (const Entry &e : entries) {
        auto *b = new QPushButton(CMultiLanguage::text(QString::fromLatin1(e.key)), column);
        b->setObjectName(QString::fromLatin1(e.name));
        b->setCheckable(true);
        b->setAutoExclusive(false);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIcon(itemIcon(QString::fromLatin1(e.icon)));
        b->setIconSize(QSize(24, 24));
        b->setProperty("itemButton", true);
        connect(b, &QPushButton::clicked, this, e.slot);
        v->addWidget(b);
        m_itemButtons.append(b);
    }
    v->addStretch(1);
    return column;
}

QWidget *CSystemCFGWidget::itemPage(const QString &name, QWidget *body)
{
    auto *page = new QWidget(m_stack);
    page->setObjectName(name);
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(14, 14, 14, 14);
    v->setSpacing(12);
    auto *selected = label(QStringLiteral("labSelected%1").arg(m_selectedLabels.size()), QString(), page);
    selected->setStyleSheet(QStringLiteral("font: 20pt \"Calibri\";color:white"));
    selected->setProperty("selectedLabel", true);
    m_selectedLabels.append(selected);
    v->addWidget(selected);
    v->addWidget(body, 1);
    return page;
}

QPushButton *CSystemCFGWidget::saveButton(const QString &name, const char *textKey)
{
    auto *b = new QPushButton(CMultiLanguage::text(QString::fromLatin1(textKey)));
    b->setObjectName(name);
    b->setProperty("saveButton", true);
    b->setFocusPolicy(Qt::NoFocus);
    m_saveButtons.append(b);
    return b;
}

QWidget *CSystemCFGWidget::buildTimePage()
{
    auto *body = new QWidget;
    auto *grid = new QGridLayout(body);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(12);

    // PC clock and the two clock saves.
    auto *clock = new QGridLayout;
    clock->setHorizontalSpacing(12);
    clock->setVerticalSpacing(10);
    m_dateLabel = label(QStringLiteral("datelabel"), QString(), body);
    m_timeLabel = label(QStringLiteral("timelabel"), QString(), body);
    m_timeLabel->setProperty("clock", true);
    m_dateLabel->setProperty("clock", true);
    auto *pcTime = saveButton(QStringLiteral("btnPCTime"), LANG_KEY("Sync PC"));
    clock->addWidget(label(QStringLiteral("labPCTime"), CMultiLanguage::text(QStringLiteral("PC Time")), body), 0, 0);
    clock->addWidget(m_dateLabel, 0, 1);
    clock->addWidget(m_timeLabel, 0, 2);
    clock->addWidget(pcTime, 0, 3);
    m_dateEdit = new QDateEdit(QDate::currentDate(), body);
    m_dateEdit->setObjectName(QStringLiteral("dateEdit"));
    m_dateEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_dateEdit->setCalendarPopup(true);
    m_timeEdit = new QTimeEdit(QTime::currentTime(), body);
    m_timeEdit->setObjectName(QStringLiteral("timeEdit"));
    m_timeEdit->setDisplayFormat(QStringLiteral("hh:mm:ss"));
    auto *manual = saveButton(QStringLiteral("btnTime"), LANG_KEY("Manual Sync"));
    clock->addWidget(label(QStringLiteral("labManualTime"), CMultiLanguage::text(QStringLiteral("Config.ManualTime")), body), 1, 0);
    clock->addWidget(m_dateEdit, 1, 1);
    clock->addWidget(m_timeEdit, 1, 2);
    clock->addWidget(manual, 1, 3);
    clock->setColumnStretch(4, 1);
    grid->addWidget(section(QStringLiteral("widgetClock"), CMultiLanguage::text(QStringLiteral("Config.Time")), body, clock), 0, 0, 1, 2);

    // NTP and time zone.
    auto *ntp = new QGridLayout;
    ntp->setHorizontalSpacing(12);
    ntp->setVerticalSpacing(10);
    m_checkNtp = checkBox(QStringLiteral("checkNTP"), CMultiLanguage::text(QStringLiteral("Synchronize with NTP")), body);
    m_checkNtp->setChecked(true);
    m_server = lineEdit(QStringLiteral("EditServer"), QStringLiteral("time.windows.com"), body);
    m_port = lineEdit(QStringLiteral("EditPort"), QStringLiteral("123"), body);
    m_cycle = lineEdit(QStringLiteral("EditCycle"), QStringLiteral("1"), body);
    m_zone = combo(QStringLiteral("cmbTimeZone"), body);
    QPixmap spacer(1, 24);
    spacer.fill(Qt::transparent);
    for (const TimeZoneRow &row : timeZones())
        m_zone->addItem(QIcon(spacer), CMultiLanguage::text(QString::fromLatin1(row.text)));
    m_zone->setIconSize(QSize(1, 24));
    m_zone->setCurrentIndex(DefaultTimeZone);
    m_zone->setMaxVisibleItems(12);
    auto *ntpSave = saveButton(QStringLiteral("btnNTP"), LANG_KEY("Save"));
    ntp->addWidget(m_checkNtp, 0, 0, 1, 3);
    ntp->addWidget(label(QStringLiteral("labServer"), CMultiLanguage::text(QStringLiteral("NTP Server")), body), 1, 0);
    ntp->addWidget(m_server, 1, 1, 1, 2);
    ntp->addWidget(label(QStringLiteral("labPort"), CMultiLanguage::text(QStringLiteral("NTP Port")), body), 2, 0);
    ntp->addWidget(m_port, 2, 1);
    ntp->addWidget(label(QStringLiteral("labCycle"), CMultiLanguage::text(QStringLiteral("Upgrade Period")), body), 3, 0);
    ntp->addWidget(m_cycle, 3, 1);
    ntp->addWidget(label(QStringLiteral("labMinutes"), CMultiLanguage::text(QStringLiteral("Minutes(0-65535)")), body), 3, 2);
    ntp->addWidget(label(QStringLiteral("labTimeZone"), CMultiLanguage::text(QStringLiteral("Config.TimeZone")), body), 4, 0);
    ntp->addWidget(m_zone, 4, 1, 1, 2);
    auto *ntpButtons = new QHBoxLayout;
    ntpButtons->addStretch(1);
    ntpButtons->addWidget(ntpSave);
    ntp->addLayout(ntpButtons, 5, 0, 1, 3);
    ntp->setColumnStretch(1, 1);
    grid->addWidget(section(QStringLiteral("widgetNtp"), CMultiLanguage::text(QStringLiteral("NTP/DST")), body, ntp), 1, 0);

    // Video format and device language.
    auto *format = new QGridLayout;
    format->setHorizontalSpacing(12);
    format->setVerticalSpacing(10);
    m_videoFormat = combo(QStringLiteral("cmbVideoFormat"), body);
    for (const QString &f : videoFormats())
        m_videoFormat->addItem(CMultiLanguage::text(f));
    m_language = combo(QStringLiteral("cmbLanguage"), body);
    for (const QString &l : deviceLanguages())
        m_language->addItem(CMultiLanguage::text(l));
    m_language->setMaxVisibleItems(12);
    auto *formatSave = saveButton(QStringLiteral("btnFormatSwitch"), LANG_KEY("Switch"));
    format->addWidget(label(QStringLiteral("labVideoFormat"), CMultiLanguage::text(QStringLiteral("Video Format")), body), 0, 0);
    format->addWidget(m_videoFormat, 0, 1);
    format->addWidget(label(QStringLiteral("labLanguage"), CMultiLanguage::text(QStringLiteral("Select Language")), body), 1, 0);
    format->addWidget(m_language, 1, 1);
    auto *hint = label(QStringLiteral("labFormatHint"), CMultiLanguage::text(QStringLiteral("Config.FormatHint")), body);
    hint->setWordWrap(true);
    hint->setProperty("hint", true);
    format->addWidget(hint, 2, 0, 1, 2);
    auto *formatButtons = new QHBoxLayout;
    formatButtons->addStretch(1);
    formatButtons->addWidget(formatSave);
    format->addLayout(formatButtons, 3, 0, 1, 2);
    format->setColumnStretch(1, 1);
    format->setRowStretch(4, 1);
    grid->addWidget(section(QStringLiteral("widgetFormat"), CMultiLanguage::text(QStringLiteral("Config.Format")), body, format), 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);

    connect(pcTime, &QPushButton::clicked, this, &CSystemCFGWidget::slot_SetPCTime);
    connect(manual, &QPushButton::clicked, this, &CSystemCFGWidget::slot_SetTime);
    connect(ntpSave, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnNTPSave);
    connect(formatSave, &QPushButton::clicked, this, &CSystemCFGWidget::slot_SwitchFormat);
    return body;
}

QWidget *CSystemCFGWidget::buildSystemPage()
{
    auto *body = new QWidget;
    auto *v = new QVBoxLayout(body);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(14);

    auto *reboot = new QHBoxLayout;
    auto *rebootHint = label(QStringLiteral("labRebootHint"), CMultiLanguage::text(QStringLiteral("Config.RebootHint")), body);
    rebootHint->setWordWrap(true);
    rebootHint->setProperty("hint", true);
    auto *rebootButton = saveButton(QStringLiteral("btnReboot"), LANG_KEY("Reboot"));
    reboot->addWidget(rebootHint, 1);
    reboot->addWidget(rebootButton);
    auto *rebootBox = section(QStringLiteral("widgetReboot"), CMultiLanguage::text(QStringLiteral("Reboot")), body, reboot);
    rebootBox->setMaximumWidth(kSectionWidth);
    v->addWidget(rebootBox);

    auto *files = new QGridLayout;
    files->setHorizontalSpacing(12);
    files->setVerticalSpacing(10);
    auto *exportHint = label(QStringLiteral("labExportHint"), CMultiLanguage::text(QStringLiteral("Config.ExportHint")), body);
    exportHint->setWordWrap(true);
    exportHint->setProperty("hint", true);
    auto *importHint = label(QStringLiteral("labImportHint"), CMultiLanguage::text(QStringLiteral("Config.ImportHint")), body);
    importHint->setWordWrap(true);
    importHint->setProperty("hint", true);
    auto *exportButton = saveButton(QStringLiteral("btnExport"), LANG_KEY("EMPROT"));
    auto *importButton = saveButton(QStringLiteral("btnImport"), LANG_KEY("IMPROT"));
    files->addWidget(exportHint, 0, 0);
    files->addWidget(exportButton, 0, 1);
    files->addWidget(importHint, 1, 0);
    files->addWidget(importButton, 1, 1);
    files->setColumnStretch(0, 1);
    auto *filesBox = section(QStringLiteral("widgetImport"), CMultiLanguage::text(QStringLiteral("Config.ImPort")), body, files);
    filesBox->setMaximumWidth(kSectionWidth);
    v->addWidget(filesBox);
    v->addStretch(1);

    connect(rebootButton, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnReboot);
    connect(exportButton, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnExport);
    connect(importButton, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnImport);
    return body;
}

QWidget *CSystemCFGWidget::buildLightPage()
{
    auto *body = new QWidget;
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    int row = 0;
    auto addRow = [&](const QString &labelName, const char *key, QWidget *field, QWidget *extra = nullptr) {
        auto *l = label(labelName, CMultiLanguage::text(QString::fromLatin1(key)), body);
        grid->addWidget(l, row, 0);
        grid->addWidget(field, row, 1);
        QVector<QWidget *> widgets {l, field};
        if (extra) {
            grid->addWidget(extra, row, 2);
            widgets << extra;
        }
        ++row;
        return widgets;
    };
    auto fill = [](QComboBox *c, std::initializer_list<std::pair<const char *, int>> entries) {
        for (const auto &e : entries)
            c->addItem(CMultiLanguage::text(QString::fromLatin1(e.first)), e.second);
    };

    m_lightMode = combo(QStringLiteral("cmbLightMode"), body);
    fill(m_lightMode, {{LANG_KEY("CameraPara.Infrared"), 0}, {LANG_KEY("CameraPara.FullColor"), 1},
                       {LANG_KEY("CameraPara.Dual"), 2}});
    m_photosen = combo(QStringLiteral("cmbPhotosen"), body);
    fill(m_photosen, {{LANG_KEY("CameraPara.Hard"), 0}, {LANG_KEY("CameraPara.Soft"), 1}});
    m_flash = combo(QStringLiteral("cmbFLashMode"), body);
    fill(m_flash, {{LANG_KEY("CameraPara.InfraredN"), 0}, {LANG_KEY("CameraPara.FullColorN"), 1},
                   {LANG_KEY("CameraPara.DualN"), 2}});
    m_lightTime = new QSlider(Qt::Horizontal, body);
    m_lightTime->setObjectName(QStringLiteral("SldLightTime"));
    m_lightTime->setRange(10, 30);
    m_lightTime->setPageStep(1);
    auto *lightTimeValue = label(QStringLiteral("labLightTimeValue"), QString::number(m_lightTime->value()), body);
    lightTimeValue->setProperty("value", true);
    m_dimming = combo(QStringLiteral("cmbDimming"), body);
    fill(m_dimming, {{LANG_KEY("CameraPara.OFF"), 0}, {LANG_KEY("CameraPara.ON"), 1}});
    m_brightness = new QSlider(Qt::Horizontal, body);
    m_brightness->setObjectName(QStringLiteral("SldLightBrightness"));
    m_brightness->setRange(0, 100);
    m_brightness->setSingleStep(10);
    m_brightness->setValue(100);
    auto *brightnessValue = label(QStringLiteral("labLightBrightnessValue"), QString::number(100), body);
    brightnessValue->setProperty("value", true);
    m_warm = combo(QStringLiteral("cmbWarmControl"), body);
    fill(m_warm, {{LANG_KEY("CameraPara.HighOpen"), 0}, {LANG_KEY("CameraPara.LowOpen"), 1}});
    m_infrared = combo(QStringLiteral("cmbInfraredControl"), body);
    fill(m_infrared, {{LANG_KEY("CameraPara.HighOpen"), 0}, {LANG_KEY("CameraPara.LowOpen"), 1}});
    m_detection = combo(QStringLiteral("cmbDetection"), body);
    fill(m_detection, {{LANG_KEY("CameraPara.Conventional"), 0}, {LANG_KEY("CameraPara.Unconventional"), 1}});

    addRow(QStringLiteral("labLightMode"), LANG_KEY("CameraPara.LightType"), m_lightMode);
    m_photosenRow = addRow(QStringLiteral("labPhotosen"), LANG_KEY("CameraPara.Photosen"), m_photosen);
    m_flashRow = addRow(QStringLiteral("labFlashMode"), LANG_KEY("CameraPara.Flash"), m_flash);
    m_lightTimeRow = addRow(QStringLiteral("labLightTime"), LANG_KEY("CameraPara.LightTime"), m_lightTime, lightTimeValue);
    m_dimmingRow = addRow(QStringLiteral("labDimming"), LANG_KEY("CameraPara.Dimming"), m_dimming);
    m_brightnessRow = addRow(QStringLiteral("labLightBrightness"), LANG_KEY("CameraPara.LightBrightness"),
                             m_brightness, brightnessValue);
    addRow(QStringLiteral("labWarmControl"), LANG_KEY("CameraPara.WarmControl"), m_warm);
    addRow(QStringLiteral("labInfraredControl"), LANG_KEY("CameraPara.InfraredControl"), m_infrared);
    addRow(QStringLiteral("labDetection"), LANG_KEY("CameraPara.Detection"), m_detection);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(2, 36);

    auto *save = saveButton(QStringLiteral("btnSaveLightMode"), LANG_KEY("Config.Save"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    grid->addLayout(buttons, row, 0, 1, 3);

    auto *v = new QVBoxLayout(body);
    v->setContentsMargins(0, 0, 0, 0);
    auto *box = section(QStringLiteral("widgetLight"), CMultiLanguage::text(QStringLiteral("Config.LightMode")), body, grid);
    box->setMaximumWidth(kSectionWidth);
    v->addWidget(box);
    v->addStretch(1);

    connect(m_lightTime, &QSlider::valueChanged, lightTimeValue, [lightTimeValue](int value) {
        lightTimeValue->setText(QString::number(value));
    });
    connect(m_brightness, &QSlider::valueChanged, brightnessValue, [brightnessValue](int value) {
        brightnessValue->setText(QString::number(value));
    });
    connect(m_lightMode, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        slot_ChangeLightMode(m_lightMode->itemData(index).toInt());
    });
    connect(m_flash, QOverload<int>::of(&QComboBox::activated), this, &CSystemCFGWidget::slot_ChangeFlash);
    connect(m_dimming, QOverload<int>::of(&QComboBox::activated), this, &CSystemCFGWidget::slot_ChangeDimming);
    connect(save, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnSaveLightMode);
    slot_ChangeLightMode(m_lightMode->currentData().toInt());
    return body;
}

QWidget *CSystemCFGWidget::buildResetPage()
{
    auto *body = new QWidget;
    auto *list = new QVBoxLayout;
    list->setSpacing(8);
    auto *prompt = label(QStringLiteral("labDefaultPrompt"),
                         CMultiLanguage::text(QStringLiteral("Config.Please select setting entries that you want to default")), body);
    prompt->setWordWrap(true);
    list->addWidget(prompt);
    m_ckbAll = checkBox(QStringLiteral("ckbAll"), CMultiLanguage::text(QStringLiteral("Config.ALL")), body);
    m_ckbAll->setTristate(true);
    list->addWidget(m_ckbAll);
    struct Entry
    {
        const char *name;
        const char *key;
        int group;
    };
    const Entry entries[] = {
        {"ckbGeneral", LANG_KEY("Config.General"), RestoreDefaultsRecord::General},
        {"ckbEncode", LANG_KEY("Config.Encode"), RestoreDefaultsRecord::Encode},
        {"ckbRecord", LANG_KEY("Config.Record"), RestoreDefaultsRecord::Record},
        {"ckbAlarmSet", LANG_KEY("Config.AlarmSet"), RestoreDefaultsRecord::AlarmSet},
        {"ckbNetwork", LANG_KEY("Config.Network"), RestoreDefaultsRecord::Network},
        {"ckbNetService", LANG_KEY("Config.NetService"), RestoreDefaultsRecord::NetService},
        {"ckbGUIDisplay", LANG_KEY("Config.GUIDisplay"), RestoreDefaultsRecord::GuiDisplay},
        {"ckbAccount", LANG_KEY("Config.ckbAccount"), RestoreDefaultsRecord::Account},
        {"ckbIPCConfig", LANG_KEY("Config.IPCConfig"), RestoreDefaultsRecord::IpcConfig},
    };
    auto *groups = new QGridLayout;
    groups->setContentsMargins(26, 0, 0, 0);
    groups->setHorizontalSpacing(24);
    groups->setVerticalSpacing(8);
    int n = 0;
    for (const Entry &e : entries) {
        auto *box = checkBox(QString::fromLatin1(e.name), CMultiLanguage::text(QString::fromLatin1(e.key)), body);
        groups->addWidget(box, n / 3, n % 3);
        ++n;
        m_groupBoxes.append({e.group, box});
        connect(box, &QCheckBox::clicked, this, &CSystemCFGWidget::listclicked);
    }
    list->addLayout(groups);
    auto *save = saveButton(QStringLiteral("btnReset"), LANG_KEY("Restore"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    list->addLayout(buttons);

    auto *v = new QVBoxLayout(body);
    v->setContentsMargins(0, 0, 0, 0);
    auto *defaultBox = section(QStringLiteral("widgetDefault"), CMultiLanguage::text(QStringLiteral("Config.Default")), body, list);
    defaultBox->setMaximumWidth(kSectionWidth);
    v->addWidget(defaultBox);
    v->addStretch(1);
    connect(m_ckbAll, &QCheckBox::clicked, this, &CSystemCFGWidget::ckbAllclicked);
    connect(save, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnReset);
    return body;
}

QWidget *CSystemCFGWidget::buildNamePage()
{
    auto *body = new QWidget;
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    m_editName = lineEdit(QStringLiteral("m_editName"), QString(), body);
    m_showName = checkBox(QStringLiteral("m_ckosdName"), CMultiLanguage::text(QStringLiteral("Config.OSD.NameEnable")), body);
    m_showTime = checkBox(QStringLiteral("m_ckOsdTime"), CMultiLanguage::text(QStringLiteral("Config.OSD.TimeEnable")), body);
    m_showName->setChecked(true);
    m_showTime->setChecked(true);
    grid->addWidget(label(QStringLiteral("labChannelName"), CMultiLanguage::text(QStringLiteral("Config.OSD.ChannelName")), body), 0, 0);
    grid->addWidget(m_editName, 0, 1);
    grid->addWidget(m_showName, 1, 1);
    grid->addWidget(m_showTime, 2, 1);
    auto *hint = label(QStringLiteral("labNameHint"), CMultiLanguage::text(QStringLiteral("Config.NameHint")), body);
    hint->setWordWrap(true);
    hint->setProperty("hint", true);
    grid->addWidget(hint, 3, 0, 1, 2);
    auto *save = saveButton(QStringLiteral("m_btnSaveName"), LANG_KEY("Config.Save"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    auto *v = new QVBoxLayout(body);
    v->setContentsMargins(0, 0, 0, 0);
    auto *box = section(QStringLiteral("widgetName"), CMultiLanguage::text(QStringLiteral("Config.OSDInfoCfg")), body, grid);
    box->setMaximumWidth(kSectionWidth);
    v->addWidget(box);
    v->addStretch(1);
    connect(save, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnSaveName);
    return body;
}

QWidget *CSystemCFGWidget::buildNetworkPage()
{
    auto *body = new QWidget;
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(12);
    m_onvif = checkBox(QStringLiteral("m_btnOnvif"), CMultiLanguage::text(QStringLiteral("Onvif")), body);
    m_dhcp = checkBox(QStringLiteral("m_btnDhcp"), CMultiLanguage::text(QStringLiteral("Dhcp")), body);
    m_onvif->setChecked(true);
    grid->addWidget(m_onvif, 0, 0);
    grid->addWidget(m_dhcp, 1, 0);
    auto *hint = label(QStringLiteral("labNetHint"), CMultiLanguage::text(QStringLiteral("Config.NetHint")), body);
    hint->setWordWrap(true);
    hint->setProperty("hint", true);
    grid->addWidget(hint, 2, 0, 1, 2);
    auto *save = saveButton(QStringLiteral("btnNetConfigSave"), LANG_KEY("Save"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    grid->addLayout(buttons, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    auto *v = new QVBoxLayout(body);
    v->setContentsMargins(0, 0, 0, 0);
    auto *box = section(QStringLiteral("widgetNet"), CMultiLanguage::text(QStringLiteral("Config.NetWork")), body, grid);
    box->setMaximumWidth(kSectionWidth);
    v->addWidget(box);
    v->addStretch(1);
    connect(save, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnNetConfigSave);
    return body;
}

// ---- the device tree ----

void CSystemCFGWidget::setDeviceList(DeviceRecord *devices, int count)
{
    m_devices = devices;
    m_count = devices ? std::max(count, 0) : 0;
    m_tree->setEnabled(true);
    buildTree();
    m_checked = 0;
    refreshLabels();
    showItem(m_currentItem);
}

void CSystemCFGWidget::listRebuildStarted()
{
    // The search worker rewrites the list: nothing is read from it until the
    // next setDeviceList(). Outcomes still arriving find their devices by MAC.
    m_devices = nullptr;
    m_count = 0;
    m_tree->setEnabled(false);
}

void CSystemCFGWidget::buildTree()
{
    const QSignalBlocker block(m_tree);
    m_tree->clear();
    const auto groups = treeGroups(m_devices, m_count, m_filterActive ? &m_filterText : nullptr);
    for (const TreeGroup &group : groups) {
        auto *top = new QTreeWidgetItem(m_tree);
        top->setText(0, group.ipc ? CMultiLanguage::text(QStringLiteral("IPC")) : CMultiLanguage::text(QStringLiteral("DVR/NVR")));
        top->setData(0, kIndexRole, -1);
        top->setCheckState(0, Qt::Unchecked);
        for (int index : group.devices) {
            const DeviceRecord &d = m_devices[index];
            auto *item = new QTreeWidgetItem(top);
            item->setText(0, QString::fromStdString(d.netInfo.ipText()));
            item->setData(0, kIndexRole, index);
            item->setData(0, kMacRole, QString::fromStdString(d.netInfo.macText()));
            item->setCheckState(0, Qt::Unchecked);
        }
    }
    m_tree->expandAll();
    // Outcomes outlive the tree: each device gets its mark back.
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        const QString mac = (*it)->data(0, kMacRole).toString();
        if (const DeviceOutcome *o = mac.isEmpty() ? nullptr : outcomeFor(mac))
            placeMark(*it, *o);
    }
}

void CSystemCFGWidget::slot_SearchIP()
{
    m_filterText = m_filter->text();
    m_filterActive = true;
    buildTree();
    m_filterActive = false;
    m_checked = 0;
    refreshLabels();
}

void CSystemCFGWidget::slot_itemClicked(QTreeWidgetItem *item, int column)
{
    if (!item || column != 0)
        return;
    {
        const QSignalBlocker block(m_tree);
        if (!item->parent()) {
            const Qt::CheckState state = item->checkState(0) == Qt::Checked ? Qt::Checked : Qt::Unchecked;
            for (int i = 0; i < item->childCount(); ++i)
                item->child(i)->setCheckState(0, state);
        } else {
            QTreeWidgetItem *group = item->parent();
            bool all = true;
            for (int i = 0; i < group->childCount(); ++i)
                all = all && group->child(i)->checkState(0) == Qt::Checked;
            group->setCheckState(0, all ? Qt::Checked : Qt::Unchecked);
        }
    }
    // The view repaints from the model; blocked signals kept it from hearing.
    m_tree->viewport()->update();
    recount();
}

void CSystemCFGWidget::recount()
{
    int n = 0;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        if ((*it)->parent() && (*it)->checkState(0) == Qt::Checked)
            ++n;
    }
    m_checked = n;
    refreshLabels();
}

void CSystemCFGWidget::refreshLabels()
{
    QString text = CMultiLanguage::text(QStringLiteral("Selected (")) + QString::number(m_checked)
        + CMultiLanguage::text(QStringLiteral(") devices,"));
    // The blank before the last word; a language file cannot hold a key that
    // starts with one, and full-width punctuation needs none.
    if (!text.isEmpty() && text.back().unicode() < 0x3000)
        text += QLatin1Char(' ');
    text += CMultiLanguage::text(QStringLiteral("Wait"));
    for (QLabel *l : m_selectedLabels)
        l->setText(text);
}

QTreeWidgetItem *CSystemCFGWidget::itemForMac(const QString &mac) const
{
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        if ((*it)->parent() && (*it)->data(0, kMacRole).toString() == mac)
            return *it;
    }
    return nullptr;
}

QVector<BatchTarget> CSystemCFGWidget::checkedTargets() const
{
    QVector<BatchTarget> targets;
    if (!m_devices)
        return targets;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        QTreeWidgetItem *item = *it;
        if (!item->parent() || item->checkState(0) != Qt::Checked)
            continue;
        const int index = item->data(0, kIndexRole).toInt();
        if (index < 0 || index >= m_count)
            continue;
        targets.append(targetOf(m_devices[index], index));
    }
    return targets;
}

// ---- item buttons ----

void CSystemCFGWidget::showItem(int index)
{
    m_currentItem = index;
    m_stack->setCurrentIndex(index);
    for (int i = 0; i < m_itemButtons.size(); ++i)
        m_itemButtons[i]->setChecked(i == index);
}

void CSystemCFGWidget::slot_btnCorrect() { showItem(TimeItem); }
void CSystemCFGWidget::slot_btnSelectReboot() { showItem(SystemItem); }
void CSystemCFGWidget::slot_btnSelectLight() { showItem(LightItem); }
void CSystemCFGWidget::slot_btnSelectReset() { showItem(ResetItem); }
void CSystemCFGWidget::slot_btnSelectName() { showItem(NameItem); }
void CSystemCFGWidget::slot_btnSelectOnvif() { showItem(NetworkItem); }

void CSystemCFGWidget::slot_OnTimedisplay()
{
    const QDateTime now = QDateTime::currentDateTime();
    m_timeLabel->setText(now.toString(QStringLiteral("hh:mm:ss")));
    m_dateLabel->setText(now.toString(QStringLiteral("yyyy-MM-dd")));
}

// ---- light page ----

void CSystemCFGWidget::applyLightRows(bool photosensitive, bool flash, bool lightTime, bool dimming, bool brightness)
{
    for (QWidget *w : qAsConst(m_photosenRow))
        w->setVisible(photosensitive);
    for (QWidget *w : qAsConst(m_flashRow))
        w->setVisible(flash);
    for (QWidget *w : qAsConst(m_lightTimeRow))
        w->setVisible(lightTime);
    for (QWidget *w : qAsConst(m_dimmingRow))
        w->setVisible(dimming);
    for (QWidget *w : qAsConst(m_brightnessRow))
        w->setVisible(brightness);
}

namespace {
LightRows shownRows(const QVector<QWidget *> &p, const QVector<QWidget *> &f, const QVector<QWidget *> &t,
                    const QVector<QWidget *> &d, const QVector<QWidget *> &b)
{
    LightRows rows;
    rows.photosensitive = !p.first()->isHidden();
    rows.flashMode = !f.first()->isHidden();
    rows.lightTime = !t.first()->isHidden();
    rows.dimming = !d.first()->isHidden();
    rows.brightness = !b.first()->isHidden();
    return rows;
}
} // namespace

void CSystemCFGWidget::slot_ChangeLightMode(int type)
{
    const LightRows r = rowsForLightType(type, m_flash->currentIndex(), m_dimming->currentIndex());
    applyLightRows(r.photosensitive, r.flashMode, r.lightTime, r.dimming, r.brightness);
}

void CSystemCFGWidget::slot_ChangeFlash(int index)
{
    const LightRows r = rowsForFlash(shownRows(m_photosenRow, m_flashRow, m_lightTimeRow, m_dimmingRow, m_brightnessRow),
                                     index, m_dimming->currentIndex());
    applyLightRows(r.photosensitive, r.flashMode, r.lightTime, r.dimming, r.brightness);
}

void CSystemCFGWidget::slot_ChangeDimming(int index)
{
    const LightRows r = rowsForDimming(
        shownRows(m_photosenRow, m_flashRow, m_lightTimeRow, m_dimmingRow, m_brightnessRow), index);
    applyLightRows(r.photosensitive, r.flashMode, r.lightTime, r.dimming, r.brightness);
}

// ---- restore list ----

void CSystemCFGWidget::ckbAllclicked()
{
    // A click moves the master box on from any state; partly checked means
    // the user wants them all.
    const bool on = m_ckbAll->checkState() != Qt::Unchecked;
    m_ckbAll->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    for (const auto &g : qAsConst(m_groupBoxes))
        g.second->setChecked(on);
}

void CSystemCFGWidget::listclicked()
{
    QVector<bool> checked;
    for (const auto &g : qAsConst(m_groupBoxes))
        checked.append(g.second->isChecked());
    m_ckbAll->setCheckState(Qt::CheckState(masterState(checked)));
}

// ---- saves ----

bool CSystemCFGWidget::refuseWhileRunning()
{
    if (!batchRunning())
        return false;
    Prompt::information(this, CMultiLanguage::text(QStringLiteral("tips")), CMultiLanguage::text(QStringLiteral("Config.BatchBusy")));
    return true;
}

bool CSystemCFGWidget::runBatch(const ItemRequest &request)
{
    if (m_shutDown || refuseWhileRunning())
        return false;
    const QVector<BatchTarget> targets = checkedTargets();
    if (targets.isEmpty())
        return false;
    m_runningItem = request.item;
    if (!m_batch->start(request, targets))
        return false;
    setBatchUi(true);
    onProgress(0, targets.size());
    return true;
}

void CSystemCFGWidget::slot_SetPCTime()
{
    ItemRequest r;
    r.item = Item::PcTime;
    runBatch(r);
}

void CSystemCFGWidget::slot_SetTime()
{
    ItemRequest r;
    r.item = Item::ManualTime;
    r.manualTime = ClockTime::fromDateTime(QDateTime(m_dateEdit->date(), m_timeEdit->time()));
    runBatch(r);
}

void CSystemCFGWidget::slot_btnNTPSave()
{
    if (checkedTargets().isEmpty() || refuseWhileRunning())
        return;
    ItemRequest r;
    r.item = Item::Ntp;
    const QString refusal = parseNtp(m_checkNtp->isChecked(), m_server->text(), m_port->text(), m_cycle->text(),
                                     m_zone->currentIndex(), r.ntp);
    if (!refusal.isEmpty()) {
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")), CMultiLanguage::text(refusal));
        return;
    }
    runBatch(r);
}

void CSystemCFGWidget::slot_SwitchFormat()
{
    if (refuseWhileRunning())
        return;
    if (checkedTargets().isEmpty()) {
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")), CMultiLanguage::text(QStringLiteral("Please select one or more devices")), QMessageBox::Yes);
        return;
    }
    ItemRequest r;
    r.item = Item::Format;
    r.videoFormat = m_videoFormat->currentIndex();
    r.language = m_language->currentIndex();
    runBatch(r);
}

void CSystemCFGWidget::slot_btnReboot()
{
    ItemRequest r;
    r.item = Item::Reboot;
    runBatch(r);
}

void CSystemCFGWidget::slot_btnReset()
{
    ItemRequest r;
    r.item = Item::Defaults;
    for (const auto &g : qAsConst(m_groupBoxes))
        r.groups[size_t(g.first)] = g.second->isChecked();
    runBatch(r);
}

void CSystemCFGWidget::slot_btnSaveLightMode()
{
    ItemRequest r;
    r.item = Item::Light;
    r.light.type = uint8_t(m_lightMode->currentData().toInt());
    r.light.photosensitive = uint8_t(m_photosen->currentData().toInt());
    r.light.flashMode = uint8_t(m_flash->currentIndex());
    r.light.lightTime = uint8_t(m_lightTime->value());
    r.light.brightness = uint8_t(m_brightness->value());
    r.light.dimming = uint8_t(m_dimming->currentIndex());
    r.light.warmControl = uint8_t(m_warm->currentIndex());
    r.light.infraredControl = uint8_t(m_infrared->currentIndex());
    r.light.detection = uint8_t(m_detection->currentIndex());
    runBatch(r);
}

void CSystemCFGWidget::slot_btnSaveName()
{
    ItemRequest r;
    r.item = Item::ChannelName;
    r.channel.name = m_editName->text();
    r.channel.showName = m_showName->isChecked();
    r.channel.showTime = m_showTime->isChecked();
    runBatch(r);
}

void CSystemCFGWidget::slot_btnNetConfigSave()
{
    if (refuseWhileRunning())
        return;
    if (checkedTargets().isEmpty()) {
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")), CMultiLanguage::text(QStringLiteral("Please select one or more devices")), QMessageBox::Yes);
        return;
    }
    ItemRequest r;
    r.item = Item::Services;
    r.services.onvif = m_onvif->isChecked();
    r.services.dhcp = m_dhcp->isChecked();
    runBatch(r);
}

void CSystemCFGWidget::slot_btnExport()
{
    // The folder is asked before any device is touched, so a batch never
    // waits on a dialog.
    if (checkedTargets().isEmpty() || refuseWhileRunning())
        return;
    QString folder = m_choosers.folder ? m_choosers.folder(this) : QString();
    if (folder.isEmpty())
        return;
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    ItemRequest r;
    r.item = Item::Export;
    r.exportDirectory = folder;
    runBatch(r);
}

void CSystemCFGWidget::slot_btnImport()
{
    if (checkedTargets().isEmpty() || refuseWhileRunning())
        return;
    const QString path = m_choosers.configFile ? m_choosers.configFile(this) : QString();
    if (path.isEmpty())
        return;
    ItemRequest r;
    r.item = Item::Import;
    QString errorKey;
    if (!readConfigImage(path, r.importImage, errorKey)) {
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")), CMultiLanguage::text(errorKey));
        return;
    }
    r.importFile = path;
    runBatch(r);
}

void CSystemCFGWidget::slot_CancelBatch()
{
    if (!batchRunning())
        return;
    m_batch->cancel();
    m_cancel->setEnabled(false);
    m_progressText->setText(CMultiLanguage::text(QStringLiteral("Config.Cancelling")));
}

// ---- batch outcomes ----

void CSystemCFGWidget::setBatchUi(bool running)
{
    m_progressBar->setVisible(running);
    m_cancel->setEnabled(running);
    for (QPushButton *b : qAsConst(m_saveButtons))
        b->setEnabled(!running);
    emit sig_BatchRunning(running);
}

void CSystemCFGWidget::onProgress(int done, int total)
{
    if (!m_cancel->isEnabled())
        return; // "cancelling" stays until the batch ends
    m_progressText->setText(CMultiLanguage::text(QStringLiteral("Config.BatchProgress")).arg(done).arg(total));
}

void CSystemCFGWidget::onDeviceFinished(const DeviceOutcome &outcome)
{
    const QString mac = QString::fromStdString(outcome.mac);
    m_outcomes.insert(mac, outcome);
    if (QTreeWidgetItem *item = itemForMac(mac))
        placeMark(item, outcome);
}

void CSystemCFGWidget::placeMark(QTreeWidgetItem *item, const DeviceOutcome &outcome)
{
    QPushButton *mark = ResultMark::create(isOkOutcome(outcome.code, outcome.operation));
    connect(mark, &QPushButton::clicked, this, &CSystemCFGWidget::slot_btnOpenTips);
    // Replaces (and deletes) an earlier mark.
    m_tree->setItemWidget(item, 1, mark);
    const QSignalBlocker block(m_tree);
    item->setData(1, kIndexRole, outcome.code);
    item->setData(1, kOperationRole, outcome.operation);
}

void CSystemCFGWidget::onConfirmationNeeded(int devices)
{
    Q_UNUSED(devices)
    if (m_shutDown) {
        m_batch->confirm(false);
        return;
    }
    const QString text = m_runningItem == Item::Format ? CMultiLanguage::text(QStringLiteral("Configure this item to reboot the device. Continue?"))
                                                       : CMultiLanguage::text(QStringLiteral("Are you sure to modify?"));
    const bool yes = Prompt::question(this, CMultiLanguage::text(QStringLiteral("tips")), text) == QMessageBox::Yes;
    m_batch->confirm(yes && !m_shutDown);
}

void CSystemCFGWidget::onRefusedForLogin(int failedLogins)
{
    Q_UNUSED(failedLogins)
    if (m_shutDown)
        return;
    Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")), CMultiLanguage::text(QStringLiteral("Please log in to the selected device first")));
}

void CSystemCFGWidget::onFinished(int applied, bool cancelled)
{
    Q_UNUSED(cancelled)
    setBatchUi(false);
    if (m_shutDown)
        return;
    if (m_runningItem == Item::Services && applied > 0)
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")), CMultiLanguage::text(QStringLiteral("IP address has been modified!")));
}

void CSystemCFGWidget::slot_btnOpenTips()
{
    // The pressed mark names its own device; without one, the selection does.
    QList<QTreeWidgetItem *> items;
    if (auto *mark = qobject_cast<QPushButton *>(sender()); mark && mark != m_search) {
        for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
            if (m_tree->itemWidget(*it, 1) == mark)
                items << *it;
        }
    }
    if (items.isEmpty())
        items = m_tree->selectedItems();
    for (QTreeWidgetItem *item : qAsConst(items)) {
        const QVariant code = item->data(1, kIndexRole);
        if (!item->parent() || !code.isValid())
            continue;
        const QString device = item->text(0);
        const int result = code.toInt();
        const int operationId = item->data(1, kOperationRole).toInt();
        emit sig_OpenResultNotice(device, result, operationId);
        CToolTips notice(nullptr, device, result, operationId, 0);
        if (const DeviceOutcome *o = outcomeFor(item->data(0, kMacRole).toString())) {
            QVector<QPair<int, int>> steps;
            // A check that did not decide the mark is told in the detail line.
            for (const StepResult &s : o->steps) {
                if (!s.advisory)
                    steps.append({s.operation, s.code});
            }
            // One step says no more than the result line above it.
            if (steps.size() > 1)
                notice.setSteps(steps);
            notice.setDetail(o->detail);
        }
        notice.exec();
    }
}
