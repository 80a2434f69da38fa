#pragma once
// What the upgrade page decides without a window: which devices its table
// lists, the engine's copy of a device, where each device's upgrade stands
// and what its row shows for it.
//
// Reports from the engine carry a ticket, never a row: the table is refilled
// by every search and filter change, and a row may move or vanish while its
// device is still being upgraded. The tracker turns a ticket into the
// device's MAC text, and the page finds the row showing that MAC now.

#include <QHash>
#include <QString>
#include <QVector>

#include "DeviceRecords.h"
#include "TableRules.h"
#include "UpgradeBatch.h"

namespace scoutrix::upgrade {

// Indexes of the devices the table lists, in list order: those the type
// filter shows.
QVector<int> listedDevices(const DeviceRecord *devices, int count, const TableRules::TypeFilter &filter);

// The chosen file as the page keeps it (absolute folder, "/", name), or
// empty when it is no regular file that can be opened for reading.
QString readableFile(const QString &chosen);

// The engine's copy of one device, to be sent |file|.
UpgradeTarget targetOf(const DeviceRecord &device, int index, const QString &file);

// A device's upgrade as its row shows it.
struct RowState
{
    int ticket = 0;
    Stage stage = Stage::Queued;
    int percent = 0;
    bool ok = false; // at Stage::Done
};

class UpgradeTracker
{
public:
    // The engine took |mac|'s device under |ticket|; an earlier, finished
    // upgrade of the device is replaced, its outcome with it.
    void started(int ticket, const QString &mac);
    // The MAC a report belongs to, or empty: a ticket this page never issued,
    // or one replaced since (a late report must not move a newer bar).
    QString macOf(int ticket) const;

    // Each returns the MAC the report was applied to, or empty when it was
    // dropped.
    QString apply(const UpgradeProgress &progress);
    QString applyVersion(int ticket, const QString &version);
    QString finish(const UpgradeOutcome &outcome);

    const RowState *state(const QString &mac) const;
    bool underWay(const QString &mac) const;
    int underWayCount() const;
    // The last outcome of the device, kept for its mark and notice.
    const UpgradeOutcome *outcome(const QString &mac) const;
    // The version the device last reported; empty before it was read.
    QString version(const QString &mac) const { return m_versions.value(mac); }
    // Drops a finished device's bar state (its mark and version stay), so its
    // row offers the Upgrade button again. False while it is under way.
    bool release(const QString &mac);

private:
    QHash<int, QString> m_macs; // ticket -> MAC
    QHash<QString, RowState> m_states;
    QHash<QString, UpgradeOutcome> m_outcomes;
    QHash<QString, QString> m_versions;
};

// What a row's progress bar shows.
struct BarLook
{
    QString text;
    int value = 0; // 0..100
};
BarLook barLook(const RowState &state, const TextLookup &lookup = TextLookup());

// The line under the result in a device's notice: the outcome in words with
// its code, and the version change where one is known.
QString noticeDetail(const UpgradeOutcome &outcome);

} // namespace scoutrix::upgrade
