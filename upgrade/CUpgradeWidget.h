#pragma once
// The firmware-upgrade page: the discovered devices in a table with a type
// filter and check boxes, a file and an Upgrade button per row, and a batch
// button that sends one file to every checked row. The upgrades run in
// UpgradeBatch, off the GUI thread and a few devices at a time; the page
// only queues devices and shows each report on the row of its device.
// Holds a borrowed pointer to the main window's device list; it never frees
// it, and the engine only ever sees copies.

#include <QHash>
#include <QWidget>

#include <functional>
#include <memory>

#include "DeviceRecords.h"
#include "TableRules.h"
#include "UpgradeBatch.h"
#include "UpgradePageLogic.h"

class CCheckBoxHeaderView;
class CPortTable;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

class CUpgradeWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CUpgradeWidget)

public:
    enum Column { ColCheck, ColNumber, ColModel, ColIP, ColVersion, ColFile, ColOpen, ColOperate, ColumnCount };

    // The file chooser every Open and Browse asks through; tests put their
    // own answers here.
    struct Choosers
    {
        std::function<QString(QWidget *parent)> upgradeFile;
    };
    static Choosers defaultChoosers();

    explicit CUpgradeWidget(QWidget *parent = nullptr, Choosers choosers = defaultChoosers());
    ~CUpgradeWidget() override;

    void setDeviceList(scoutrix::DeviceRecord *devices, int count);
    int deviceCount() const { return m_count; }
    // The main window's search starts rewriting the list: nothing is read
    // from it until the next setDeviceList(). Reports still arriving find
    // their rows by MAC once the table is filled again.
    void listRebuildStarted();

    // Something queued or under way.
    bool upgradesRunning() const;
    // Drops the queued devices; the ones under way finish. Part of a close
    // that waits for them.
    void cancelQueued();

    CPortTable *table() const { return m_table; }
    CCheckBoxHeaderView *header() const { return m_header; }
    int typeFilter() const { return m_filter.mask(); }
    int selectedCount() const;
    scoutrix::upgrade::UpgradeBatch &batch() { return *m_batch; }
    const scoutrix::upgrade::UpgradeTracker &tracker() const { return m_tracker; }
    // The table row showing the device with this MAC text, or -1.
    int rowOfMac(const QString &mac) const;
    QString macOfRow(int row) const;

signals:
    void sig_ListDevice();
    // True from the first queued device until the last upgrade has ended.
    void sig_UpgradeFlag(bool flag);
    // The notice that a mark is about to open.
    void sig_OpenResultNotice(QString device, int result, int operationId);

public slots:
    void OnLvnItemchangedListDevice();
    void slot_UpgradeProbar(const scoutrix::upgrade::UpgradeProgress &progress);
    void slot_DeviceFinished(const scoutrix::upgrade::UpgradeOutcome &outcome);
    void slot_VersionRead(int ticket, int deviceIndex, const QString &version);
    void slot_RunningChanged(bool running);
    void slot_OpenTipPage(int Result, int row);
    void slot_Progress(int row);
    void slot_BtnRestore(int row);
    void btnOpen_click();
    void btnUpgrade_click();
    void btnOpenTips();
    void slot_btnUpgradeAll();
    void slot_UpgradeAll(QString Filename);
    void slot_setHeardCheck(int row, int column);
    void slot_setSelectNum(int row, int column);
    void CheckAll();
    void CheckIPC();
    void CheckDVR();
    void CheckNVR();

private:
    void buildForm();
    void setColumnWidths();
    void rebuildRows(bool keepChecks);
    bool eventFilter(QObject *watched, QEvent *event) override;
    void typeBoxChanged(QCheckBox *box, TableRules::TypeFilter::Bit bit, QCheckBox *other1, QCheckBox *other2);
    QPushButton *makeUpgradeButton();
    QPushButton *makeOpenButton();
    // The row whose cell holds the sending button, selected; -1 when none.
    int rowOfSender(int column);
    int deviceOfRow(int row) const;
    // Queues the devices and shows their rows as waiting; the refused ones
    // (already under way) keep what they show.
    void enqueue(const QVector<scoutrix::upgrade::UpgradeTarget> &targets);
    // Brings a row up to what is known of its device: bar or button, mark, version.
    void showDevice(int row);
    void showBar(int row, const scoutrix::upgrade::RowState &state);
    QProgressBar *barOfRow(int row) const;
    void setBusy(bool busy);
    // The one place controls follow the page's state.
    void updateWidgets();

    scoutrix::DeviceRecord *m_devices = nullptr;
    int m_count = 0;
    Choosers m_choosers;
    TableRules::TypeFilter m_filter;
    std::unique_ptr<scoutrix::upgrade::UpgradeBatch> m_batch;
    scoutrix::upgrade::UpgradeTracker m_tracker;
    // The file chosen per device, by MAC text: it outlives a refill.
    QHash<QString, QString> m_files;
    bool m_busy = false;
    bool m_listReady = true;

    CPortTable *m_table = nullptr;
    CCheckBoxHeaderView *m_header = nullptr;
    QCheckBox *m_checkAll = nullptr;
    QCheckBox *m_checkIPC = nullptr;
    QCheckBox *m_checkDVR = nullptr;
    QCheckBox *m_checkNVR = nullptr;
    QComboBox *m_upgradeType = nullptr;
    QLabel *m_labSelectNum = nullptr;
    QLabel *m_labSelected = nullptr;
    QPushButton *m_btnUpgradeAll = nullptr;
};
