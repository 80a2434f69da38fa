#pragma once
// The rules behind the device table, kept apart from its widgets: address
// ordering, type filters and finding a row's device.

#include <QString>

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

} // namespace TableRules
