#include "ActivityLog.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

#include "ResultTexts.h"

namespace {

const char *const FilePrefix = "activity-";
const char *const FileSuffix = ".jsonl";

QString defaultDirectory()
{
    const QByteArray fixed = qgetenv("SCOUTRIX_ACTIVITY_DIR");
    if (!fixed.isEmpty())
        return QString::fromLocal8Bit(fixed);
    // Not the per-application folder: the window and scoutrix-cli are two
    // programs, and a site's changes belong in one log.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/Scoutrix/activity");
}

QJsonObject toJson(const ActivityEntry &e)
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), e.time.toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("mac"), e.mac);
    o.insert(QStringLiteral("serial"), e.serial);
    o.insert(QStringLiteral("model"), e.model);
    o.insert(QStringLiteral("address"), e.address);
    o.insert(QStringLiteral("operation"), e.operation);
    o.insert(QStringLiteral("old"), e.oldValue);
    o.insert(QStringLiteral("new"), e.newValue);
    o.insert(QStringLiteral("result"), e.result);
    o.insert(QStringLiteral("resultText"), e.resultText);
    return o;
}

ActivityEntry fromJson(const QJsonObject &o)
{
    ActivityEntry e;
    e.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    e.mac = o.value(QStringLiteral("mac")).toString();
    e.serial = o.value(QStringLiteral("serial")).toString();
    e.model = o.value(QStringLiteral("model")).toString();
    e.address = o.value(QStringLiteral("address")).toString();
    e.operation = o.value(QStringLiteral("operation")).toInt();
    e.oldValue = o.value(QStringLiteral("old")).toString();
    e.newValue = o.value(QStringLiteral("new")).toString();
    e.result = o.value(QStringLiteral("result")).toInt();
    e.resultText = o.value(QStringLiteral("resultText")).toString();
    return e;
}

} // namespace

ActivityLog &ActivityLog::instance()
{
    static ActivityLog log;
    return log;
}

ActivityLog::ActivityLog(const QString &directory, QObject *parent)
    : QObject(parent)
    , m_directory(directory.isEmpty() ? defaultDirectory() : directory)
{
    qRegisterMetaType<ActivityEntry>();
}

ActivityLog::~ActivityLog() = default;

QString ActivityLog::directory() const
{
    QMutexLocker lock(&m_mutex);
    return m_directory;
}

void ActivityLog::setDirectory(const QString &directory)
{
    QMutexLocker lock(&m_mutex);
    m_directory = directory;
}

QString ActivityLog::fileForDay(const QDate &day) const
{
    return directory() + QLatin1Char('/') + QLatin1String(FilePrefix) + day.toString(Qt::ISODate)
        + QLatin1String(FileSuffix);
}

bool ActivityLog::append(ActivityEntry entry)
{
    if (!entry.time.isValid())
        entry.time = QDateTime::currentDateTime();
    if (entry.resultText.isEmpty())
        entry.resultText = ResultTexts::resultText(entry.result, entry.operation);
    const QByteArray line = QJsonDocument(toJson(entry)).toJson(QJsonDocument::Compact) + '\n';
    bool written = false;
    {
        QMutexLocker lock(&m_mutex);
        QDir().mkpath(m_directory);
        QFile file(m_directory + QLatin1Char('/') + QLatin1String(FilePrefix)
                   + entry.time.date().toString(Qt::ISODate) + QLatin1String(FileSuffix));
        // One write of a whole line in append mode: a crash loses at most
        // the line being written, never the entries before it.
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            written = file.write(line) == line.size();
            file.close();
        }
    }
    emit appended(entry);
    return written;
}

QVector<ActivityEntry> ActivityLog::entries(const QDate &day) const
{
    QVector<ActivityEntry> out;
    QFile file(fileForDay(day));
    if (!file.open(QIODevice::ReadOnly))
        return out;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        // A torn last line after a crash is skipped, not fatal.
        if (doc.isObject())
            out.append(fromJson(doc.object()));
    }
    return out;
}

QVector<QDate> ActivityLog::days() const
{
    QVector<QDate> out;
    const QStringList names = QDir(directory()).entryList(
        QStringList{QLatin1String(FilePrefix) + QLatin1Char('*') + QLatin1String(FileSuffix)}, QDir::Files,
        QDir::Name | QDir::Reversed);
    for (const QString &name : names) {
        const QString middle = name.mid(int(qstrlen(FilePrefix)),
                                        name.size() - int(qstrlen(FilePrefix)) - int(qstrlen(FileSuffix)));
        const QDate day = QDate::fromString(middle, Qt::ISODate);
        if (day.isValid())
            out.append(day);
    }
    return out;
}

QString ActivityLog::csvCell(const QString &text)
{
    QString cell = text;
    if (!cell.isEmpty()) {
        const QChar first = cell.at(0);
        if (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-')
            || first == QLatin1Char('@') || first == QLatin1Char('\t') || first == QLatin1Char('\r'))
            cell.prepend(QLatin1Char('\''));
    }
    if (cell.contains(QLatin1Char('"')) || cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('\n'))
        || cell.contains(QLatin1Char('\r'))) {
        cell.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        cell = QLatin1Char('"') + cell + QLatin1Char('"');
    }
    return cell;
}

QString ActivityLog::csvLine(const QStringList &cells)
{
    QStringList quoted;
    quoted.reserve(cells.size());
    for (const QString &c : cells)
        quoted.append(csvCell(c));
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QStringList ActivityLog::csvHeader()
{
    return {QStringLiteral("Time"), QStringLiteral("MAC"), QStringLiteral("Serial"), QStringLiteral("Model"),
            QStringLiteral("Address"), QStringLiteral("Operation"), QStringLiteral("Old value"),
            QStringLiteral("New value"), QStringLiteral("Result"), QStringLiteral("Result text")};
}

QString ActivityLog::toCsv(const QVector<ActivityEntry> &entries)
{
    QString out = csvLine(csvHeader());
    for (const ActivityEntry &e : entries) {
        out += csvLine({e.time.toString(Qt::ISODate), e.mac, e.serial, e.model, e.address,
                        ResultTexts::operationName(e.operation), e.oldValue, e.newValue,
                        QString::number(e.result), e.resultText});
    }
    return out;
}

bool ActivityLog::writeCsvFile(const QString &path, const QString &csv)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("\xEF\xBB\xBF");
    file.write(csv.toUtf8());
    return file.commit();
}
