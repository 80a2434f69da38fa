#pragma once
// The device table page: every device of the last search, with type filters,
// a search text, check boxes, IP-aware sorting and per-row actions.

#include <QHash>
#include <QSet>
#include <QWidget>

#include <array>

#include "DeviceRecords.h"
#include "TableRules.h"

class CCheckBoxHeaderView;
class CPortTable;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CIPSearch : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CIPSearch)

public:
    enum Column { ColCheck, ColNumber, ColType, ColModel, ColIP, ColMac, ColSerial, ColOperate, ColumnCount };

    explicit CIPSearch(QWidget *parent = nullptr);
    ~CIPSearch() override;

    // Copies the entries with a MAC text and rebuilds the rows.
    void setDevices(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, int rawCount);

    int deviceCount() const { return m_count; }
    const scoutrix::NetInfo &netInfo(int i) const { return m_net[size_t(i)]; }
    const scoutrix::DevInfo &devInfo(int i) const { return m_dev[size_t(i)]; }
    CPortTable *table() const { return m_table; }
    CCheckBoxHeaderView *header() const { return m_header; }
    int typeFilter() const { return m_filter.mask(); }
    // The stored outcome of the last address change of the device with this
    // MAC text: 1 success, a negative code after a failure or a skip, 0 when
    // none. Outcomes stay with their device, not with an address that several
    // devices may share, and last until the next set-devices.
    int storedResult(const QString &mac) const { return m_outcomes.value(mac).code; }
    QString storedDetail(const QString &mac) const { return m_outcomes.value(mac).detail; }
    // Marks a device's row with the outcome of an address change made
    // elsewhere (the segment move); |detail| says more in its notice.
    void setOutcome(const QString &mac, int code, const QString &detail = QString());

    // The listed devices, in table order, as CSV (no credentials in it).
    QString listCsv() const;
    // Writes listCsv() to |path|; false when the file could not be written.
    bool exportList(const QString &path) const;

    // Device index of a table row, found by its MAC text; -1 when the row's
    // device is no longer in the list.
    int deviceOfRow(int row) const;

signals:
    void sig_ListDevice();
    void sig_ModifyIP();

public slots:
    void slot_setHeardCheck(int row, int column);
    void OnLvnItemchangedListDevice();
    void btnModify_click();
    void btnlogin_click();
    void btnDetailed_click();
    void slot_BtnModifyAll();
    void CheckDVR();
    void CheckNVR();
    void CheckIPC();
    void CheckAll();
    void slot_SearchIP();
    void slot_OpenTipPage(int Result, int channel, QString text);
    void btnOpenTips();
    void slot_ExportList();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildForm();
    void setColumnWidths();
    QWidget *makeActionCell(const QStringList &tips);
    // The row under a row widget's button, selected; -1 when none.
    int rowOfSender() const;
    // The device of the row under the sending button, or -1 after telling
    // the user that the row's device is gone.
    int deviceOfSender(int *rowOut = nullptr);
    void warnDeviceGone();
    void runChangerIP(scoutrix::NetInfo *records, int channel, bool batch, int count);
    // Rebuilds the rows from the type filter and the search text; |checked|
    // are the MAC texts whose rows come back checked.
    void rebuildRows(const QSet<QString> &checked);
    // A filter or the search text changed: rows that stay keep their checks.
    void refilter();
    QSet<QString> checkedMacs() const;
    int rowOfMac(const QString &mac) const;
    void showOutcome(int row);
    void typeBoxChanged(QCheckBox *box, TableRules::TypeFilter::Bit bit, QCheckBox *other1, QCheckBox *other2);

    std::array<scoutrix::NetInfo, 256> m_net {};
    std::array<scoutrix::DevInfo, 256> m_dev {};
    int m_count = 0;
    TableRules::TypeFilter m_filter;
    struct Outcome
    {
        int code = 0;
        QString detail;
    };
    QHash<QString, Outcome> m_outcomes;
    // The modify-IP dialog's run: its records, and the device (MAC text)
    // behind each result channel.
    scoutrix::NetInfo *m_pendingRecords = nullptr;
    bool m_pendingBatch = false;
    QHash<int, QString> m_channelMacs;
    QStringList m_actionTips;

    CPortTable *m_table = nullptr;
    CCheckBoxHeaderView *m_header = nullptr;
    QLineEdit *m_lineEdit = nullptr;
    QPushButton *m_btnSearchIP = nullptr;
    QCheckBox *m_checkAll = nullptr;
    QCheckBox *m_checkIPC = nullptr;
    QCheckBox *m_checkDVR = nullptr;
    QCheckBox *m_checkNVR = nullptr;
    QPushButton *m_btnModifyAll = nullptr;
    QPushButton *m_btnExport = nullptr;
    QLabel *m_labSelectNum = nullptr;
    QLabel *m_label2 = nullptr;
};
