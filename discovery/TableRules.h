#pragma once
// The rules behind the device table, kept apart from its widgets: address
// ordering, type filters and finding a row's device.

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include "ActivityLog.h"
#include "DeviceRecords.h"

namespace TableRules {

// The value of an IPv4 text for ordering, or -1 when the text is no address
// (a character other than digits and dots, a fifth part, a part above 255).
// Missing parts count as 0.
qint64 ipSortValue(const QString &text);

// The type filter of the table: bit 1 DVR and HVR, bit 2 NVR, bit 4 IPC.
// Devices of any other type are always shown.
class TypeFilter
{
public:
    enum Bit : int { DvrHvr = 1, Nvr = 2, Ipc = 4, All = 7 };

    int mask() const { return m_mask; }
    bool shows(int32_t deviceType) const;

    // The ALL box changed: every bit or none.
    void setAll(bool checked) { m_mask = checked ? All : 0; }
    // One type box changed. Returns whether ALL must now be checked (its two
    // siblings were checked already); when unchecked, ALL is always cleared.
    bool setType(Bit bit, bool checked, bool othersChecked);

private:
    int m_mask = All;
};

// Copies the entries with a MAC text from the given arrays into the output
// arrays, from index 0 upward; returns how many were copied.
int compact(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, int rawCount,
            scoutrix::NetInfo *outNet, scoutrix::DevInfo *outDev);

// Index of the first device whose MAC text equals |mac|, or -1. A row never
// falls back to another device: acting on the wrong device is worse than not
// acting.
int findByMac(const scoutrix::NetInfo *net, int count, const QString &mac);

// The header box state for |checked| of |rows| rows: 0 none, 1 some, 2 all.
int headerState(int checked, int rows);

// Whether a row with these cell texts stays listed under the search text: an
// empty text keeps every row, otherwise some cell contains it, whatever the
// case ("sxn" finds "SXN-4M").
bool matchesSearch(const QStringList &cells, const QString &text);

// The texts a device's row is searched by: the running number it would get,
// type, model, IP, MAC and serial.
QStringList searchCells(const scoutrix::NetInfo &net, const scoutrix::DevInfo &dev, int number);

// Indexes of the devices the table lists, in order: those the type filter
// shows and, among them, those matching the search text. The running number
// a device is searched by is its place among the devices the filter shows.
QVector<int> listedDevices(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, int count,
                           const TypeFilter &filter, const QString &searchText);

// The checked MAC texts that stay checked once only |listed| devices are
// shown: a row that stays keeps its check, a hidden row loses it (so a batch
// never acts on a device nobody can see).
QSet<QString> checksToKeep(const QSet<QString> &checked, const scoutrix::NetInfo *net,
                           const QVector<int> &listed);

// The listed devices as CSV for a spreadsheet: a header line, then one line
// per device in table order. Cells are quoted and guarded against formulas.
QString devicesCsv(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, const QVector<int> &listed);

// "address / mask / gateway" of a network record, as the activity log keeps it.
QString networkText(const scoutrix::NetInfo &net);

// The activity-log entry of an address change of device |dev| from |before|
// to |after| with the SDK's |result| (or a program code for a skipped move).
ActivityEntry addressChangeEntry(const scoutrix::NetInfo &before, const scoutrix::NetInfo &after,
                                 const scoutrix::DevInfo &dev, int result);

} // namespace TableRules
