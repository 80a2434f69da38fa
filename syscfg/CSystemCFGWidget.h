#pragma once
// The system-configuration page: the discovered devices as a tree with check
// boxes, six item buttons with their pages, and a save button per item that
// applies it to every checked device. The batch runs in SystemBatch, off the
// GUI thread; the page only fills the request, copies the checked devices and
// marks each one as its outcome arrives. Holds a borrowed pointer to the main
// window's device list; it never frees it, and the batch never sees it.

#include <QHash>
#include <QPair>
#include <QVector>
#include <QWidget>

#include <functional>

#include "DeviceRecords.h"
#include "SystemBatch.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTimeEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

class CSystemCFGWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CSystemCFGWidget)

public:
    // The file choosers the export and import ask through; tests put their
    // own answers here.
    struct Choosers
    {
        std::function<QString(QWidget *parent)> folder;
        std::function<QString(QWidget *parent)> configFile;
    };
    static Choosers defaultChoosers();

    explicit CSystemCFGWidget(QWidget *parent = nullptr, Choosers choosers = defaultChoosers());
    ~CSystemCFGWidget() override;

    void setDeviceList(scoutrix::DeviceRecord *devices, int count);
    int deviceCount() const { return m_count; }
    // The main window's search starts rewriting the list: nothing is read
    // from it until the next setDeviceList().
    void listRebuildStarted();

    // Cancels a running batch, answers a pending question with no and waits
    // for the devices under way. Part of the window's close.
    void shutdown();

    bool batchRunning() const;
    int checkedCount() const { return m_checked; }
    int currentItem() const { return m_currentItem; }
    scoutrix::syscfg::SystemBatch &batch() { return *m_batch; }
    // The outcome kept for a device, by MAC text; null when it has none.
    const scoutrix::syscfg::DeviceOutcome *outcomeFor(const QString &mac) const;

signals:
    // The notice that a mark or slot_btnOpenTips is about to open.
    void sig_OpenResultNotice(QString device, int result, int operationId);
    // A batch started (true) or ended (false).
    void sig_BatchRunning(bool running);

public slots:
    void slot_SearchIP();
    void slot_itemClicked(QTreeWidgetItem *item, int column);
    void slot_btnCorrect();
    void slot_btnSelectReboot();
    void slot_btnSelectLight();
    void slot_btnSelectName();
    void slot_btnSelectReset();
    void slot_btnSelectOnvif();

    void slot_SetPCTime();
    void slot_SetTime();
    void slot_btnNTPSave();
    void slot_SwitchFormat();
    void slot_btnReboot();
    void slot_btnReset();
    void slot_btnSaveLightMode();
    void slot_btnSaveName();
    void slot_btnNetConfigSave();
    void slot_btnExport();
    void slot_btnImport();

    void slot_OnTimedisplay();
    void slot_ChangeLightMode(int type);
    void slot_ChangeDimming(int index);
    void slot_ChangeFlash(int index);
    void listclicked();
    void ckbAllclicked();
    void slot_btnOpenTips();
    void slot_CancelBatch();

private:
    void buildUi();
    QWidget *buildTreePane();
    QWidget *buildItemButtons();
    QWidget *buildTimePage();
    QWidget *buildSystemPage();
    QWidget *buildLightPage();
    QWidget *buildResetPage();
    QWidget *buildNamePage();
    QWidget *buildNetworkPage();
    QWidget *itemPage(const QString &name, QWidget *body);
    QPushButton *saveButton(const QString &name, const char *textKey);
    void buildTree();
    void recount();
    void refreshLabels();
    void showItem(int index);
    void applyLightRows(bool photosensitive, bool flash, bool lightTime, bool dimming, bool brightness);

    QVector<scoutrix::syscfg::BatchTarget> checkedTargets() const;
    bool runBatch(const scoutrix::syscfg::ItemRequest &request);
    bool refuseWhileRunning();
    void onDeviceFinished(const scoutrix::syscfg::DeviceOutcome &outcome);
    void onProgress(int done, int total);
    void onConfirmationNeeded(int devices);
    void onRefusedForLogin(int failedLogins);
    void onFinished(int applied, bool cancelled);
    void placeMark(QTreeWidgetItem *item, const scoutrix::syscfg::DeviceOutcome &outcome);
    QTreeWidgetItem *itemForMac(const QString &mac) const;
    void setBatchUi(bool running);

    scoutrix::DeviceRecord *m_devices = nullptr;
    int m_count = 0;
    QString m_filterText;
    bool m_filterActive = false;
    int m_checked = 0;
    int m_currentItem = 0;
    Choosers m_choosers;

    scoutrix::syscfg::SystemBatch *m_batch = nullptr;
    scoutrix::syscfg::Item m_runningItem = scoutrix::syscfg::Item::PcTime;
    bool m_shutDown = false;
    // Outcomes by MAC text: a rebuilt tree (new search, filter) gets its
    // marks back, and a late outcome finds its own device.
    QHash<QString, scoutrix::syscfg::DeviceOutcome> m_outcomes;

    QTimer *m_clock = nullptr;
    QTreeWidget *m_tree = nullptr;
    QLineEdit *m_filter = nullptr;
    QPushButton *m_search = nullptr;
    QStackedWidget *m_stack = nullptr;
    QVector<QPushButton *> m_itemButtons;
    QVector<QLabel *> m_selectedLabels;
    QVector<QPushButton *> m_saveButtons;
    QWidget *m_progressBar = nullptr;
    QLabel *m_progressText = nullptr;
    QPushButton *m_cancel = nullptr;

    // Time and NTP
    QLabel *m_timeLabel = nullptr;
    QLabel *m_dateLabel = nullptr;
    QDateEdit *m_dateEdit = nullptr;
    QTimeEdit *m_timeEdit = nullptr;
    QCheckBox *m_checkNtp = nullptr;
    QLineEdit *m_server = nullptr;
    QLineEdit *m_port = nullptr;
    QLineEdit *m_cycle = nullptr;
    QComboBox *m_zone = nullptr;
    QComboBox *m_videoFormat = nullptr;
    QComboBox *m_language = nullptr;

    // Light
    QComboBox *m_lightMode = nullptr;
    QComboBox *m_photosen = nullptr;
    QComboBox *m_flash = nullptr;
    QSlider *m_lightTime = nullptr;
    QSlider *m_brightness = nullptr;
    QComboBox *m_dimming = nullptr;
    QComboBox *m_warm = nullptr;
    QComboBox *m_infrared = nullptr;
    QComboBox *m_detection = nullptr;
    QVector<QWidget *> m_photosenRow, m_flashRow, m_lightTimeRow, m_dimmingRow, m_brightnessRow;

    // Restore defaults: the boxes by RestoreDefaultsRecord::Group.
    QCheckBox *m_ckbAll = nullptr;
    QVector<QPair<int, QCheckBox *>> m_groupBoxes;

    // Channel name and services
    QLineEdit *m_editName = nullptr;
    QCheckBox *m_showName = nullptr;
    QCheckBox *m_showTime = nullptr;
    QCheckBox *m_onvif = nullptr;
    QCheckBox *m_dhcp = nullptr;
};
