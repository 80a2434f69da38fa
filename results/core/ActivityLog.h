#pragma once
// What the program changed, on which device: one append-only log, a file per
// day under the user's data folder, so it outlives searches and restarts.
// Appends may come from any thread (batch workers); the file is the record,
// memory keeps nothing but the folder.

#include <QDate>
#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

struct ActivityEntry
{
    QDateTime time;      // local time; append() stamps it when left invalid
    QString mac;
    QString serial;
    QString model;
    QString address;     // the address the device was reached at
    int operation = 0;   // ResultTexts::Operation
    QString oldValue;    // empty when the page did not read it
    QString newValue;
    int result = 0;      // result code as the page records it (1 or 0: success)
    QString resultText;  // append() fills it from ResultTexts when empty
};
Q_DECLARE_METATYPE(ActivityEntry)

class ActivityLog : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActivityLog)

public:
    // The program's one log. Its folder is SCOUTRIX_ACTIVITY_DIR when set
    // (tests, scripted runs), else <GenericDataLocation>/Scoutrix/activity.
    static ActivityLog &instance();

    explicit ActivityLog(const QString &directory = QString(), QObject *parent = nullptr);
    ~ActivityLog() override;

    QString directory() const;
    void setDirectory(const QString &directory);
    // The file that holds one day's entries.
    QString fileForDay(const QDate &day) const;

    // Thread-safe. Returns false when the entry could not be written.
    bool append(ActivityEntry entry);

    // Entries of one day, oldest first; the days that have a file, newest first.
    QVector<ActivityEntry> entries(const QDate &day) const;
    QVector<QDate> days() const;

    // CSV that a spreadsheet opens safely: RFC 4180 quoting, and a cell that
    // starts with = + - @ (or a tab / carriage return) is prefixed with a
    // single quote so it is never taken for a formula.
    static QString csvCell(const QString &text);
    static QString csvLine(const QStringList &cells);
    static QString toCsv(const QVector<ActivityEntry> &entries);
    static QStringList csvHeader();
    // Writes |csv| whole or not at all, as UTF-8 behind a byte-order mark so
    // that spreadsheets read models and serials in Chinese intact.
    static bool writeCsvFile(const QString &path, const QString &csv);

signals:
    // Emitted from the appending thread; connect queued for widgets.
    void appended(const ActivityEntry &entry);

private:
    mutable QMutex m_mutex;
    QString m_directory;
};
