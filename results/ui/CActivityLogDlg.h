#pragma once
// The activity log's window: one day's changes, newest day first, growing as
// the program changes devices, and exported as CSV for the site's records.

#include "CFramelessDialog.h"

#include <QDate>

class ActivityLog;
struct ActivityEntry;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

class CActivityLogDlg final : public CFramelessDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CActivityLogDlg)

public:
    enum Column { ColTime, ColDevice, ColModel, ColAddress, ColOperation, ColChange, ColResult, ColumnCount };

    explicit CActivityLogDlg(QWidget *parent = nullptr, ActivityLog *log = nullptr);
    ~CActivityLogDlg() override;

    QDate day() const { return m_day; }
    void showDay(const QDate &day);
    QTableWidget *table() const { return m_table; }

    // Writes the shown day as CSV (UTF-8 with a byte-order mark, so that
    // spreadsheets read non-Latin texts right). False when it failed.
    bool exportTo(const QString &path) const;

public slots:
    void btnExport_click();
    void slot_Appended(const ActivityEntry &entry);

private:
    void fillDays();
    void addRow(const ActivityEntry &entry);

    ActivityLog *m_log;
    QDate m_day;
    QComboBox *m_cmbDay = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_btnExport = nullptr;
    QLabel *m_labFolder = nullptr;
};
