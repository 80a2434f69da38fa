#include "UpgradePageLogic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "CMultiLanguage.h"

namespace scoutrix::upgrade {

QVector<int> listedDevices(const DeviceRecord *devices, int count, const TableRules::TypeFilter &filter)
{
    QVector<int> out;
    for (int i = 0; devices && i < count; ++i) {
        if (filter.shows(devices[i].devInfo.deviceType()))
            out.append(i);
    }
    return out;
}

QString readableFile(const QString &chosen)
{
    if (chosen.isEmpty())
        return QString();
    const QFileInfo info(chosen);
    if (!info.isFile())
        return QString();
    QFile file(info.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QDir::cleanPath(info.absoluteFilePath());
}

UpgradeTarget targetOf(const DeviceRecord &device, int index, const QString &file)
{
    UpgradeTarget t;
    static_cast<DeviceTarget &>(t) = DeviceTarget::of(device, index);
    // The engine opens the file with the C library: local 8-bit, not UTF-8.
    t.file = QFile::encodeName(file).toStdString();
    return t;
}

void UpgradeTracker::started(int ticket, const QString &mac)
{
    if (ticket <= 0 || mac.isEmpty())
        return;
    const auto old = m_states.constFind(mac);
    if (old != m_states.constEnd())
        m_macs.remove(old->ticket);
    m_macs.insert(ticket, mac);
    // The mark told how the last upgrade ended; a new one is under way.
    m_outcomes.remove(mac);
    RowState s;
    s.ticket = ticket;
    m_states.insert(mac, s);
}

QString UpgradeTracker::macOf(int ticket) const
{
    const QString mac = m_macs.value(ticket);
    const auto s = m_states.constFind(mac);
    return s != m_states.constEnd() && s->ticket == ticket ? mac : QString();
}

QString UpgradeTracker::apply(const UpgradeProgress &progress)
{
    const QString mac = macOf(progress.ticket);
    if (mac.isEmpty())
        return mac;
    RowState &s = m_states[mac];
    // The final word comes with the outcome alone; a late progress report
    // never reopens a finished bar.
    if (s.stage == Stage::Done || progress.stage == Stage::Done)
        return QString();
    s.stage = progress.stage;
    s.percent = qBound(0, progress.percent, 100);
    return mac;
}

QString UpgradeTracker::applyVersion(int ticket, const QString &version)
{
    const QString mac = macOf(ticket);
    if (!mac.isEmpty() && !version.isEmpty())
        m_versions.insert(mac, version);
    return mac;
}

QString UpgradeTracker::finish(const UpgradeOutcome &outcome)
{
    const QString mac = macOf(outcome.ticket);
    if (mac.isEmpty())
        return mac;
    RowState &s = m_states[mac];
    s.stage = Stage::Done;
    s.ok = outcome.ok();
    s.percent = s.ok ? 100 : s.percent;
    m_outcomes.insert(mac, outcome);
    if (!outcome.version.empty())
        m_versions.insert(mac, QString::fromStdString(outcome.version));
    return mac;
}

const RowState *UpgradeTracker::state(const QString &mac) const
{
    const auto s = m_states.constFind(mac);
    return s == m_states.constEnd() ? nullptr : &*s;
}

bool UpgradeTracker::underWay(const QString &mac) const
{
    const RowState *s = state(mac);
    return s && s->stage != Stage::Done;
}

int UpgradeTracker::underWayCount() const
{
    int n = 0;
    for (const RowState &s : m_states)
        n += s.stage != Stage::Done ? 1 : 0;
    return n;
}

const UpgradeOutcome *UpgradeTracker::outcome(const QString &mac) const
{
    const auto o = m_outcomes.constFind(mac);
    return o == m_outcomes.constEnd() ? nullptr : &*o;
}

bool UpgradeTracker::release(const QString &mac)
{
    const auto s = m_states.constFind(mac);
    if (s == m_states.constEnd())
        return true;
    if (s->stage != Stage::Done)
        return false;
    m_macs.remove(s->ticket);
    m_states.remove(mac);
    return true;
}

BarLook barLook(const RowState &state, const TextLookup &lookup)
{
    const auto tr = [&lookup](const char *key) {
        const QString k = QString::fromLatin1(key);
        return lookup ? lookup(k) : CMultiLanguage::text(k);
    };
    const auto percent = [&](const char *key) {
        return tr(key) + QStringLiteral(" %1%").arg(state.percent);
    };
    switch (state.stage) {
    case Stage::Queued: return {tr(LANG_KEY("Upgrade.Queued")), 0};
    case Stage::Preparing: return {tr(LANG_KEY("Upgrade.Preparing")), 0};
    case Stage::Sending: return {percent(LANG_KEY("SendData")), state.percent};
    case Stage::Writing: return {percent(LANG_KEY("Progress")), state.percent};
    case Stage::Verifying: return {tr(LANG_KEY("Upgrade.Verifying")), 100};
    case Stage::Done: break;
    }
    return state.ok ? BarLook {tr(LANG_KEY("UpgradeSuccess")), 100} : BarLook {tr(LANG_KEY("UpgradeFail")), 0};
}

QString noticeDetail(const UpgradeOutcome &outcome)
{
    QString text = outcome.text;
    if (!outcome.ok())
        text += QStringLiteral(" (%1)").arg(outcome.code);
    const QString before = QString::fromStdString(outcome.oldVersion);
    const QString after = QString::fromStdString(outcome.version);
    if (!before.isEmpty() && !after.isEmpty())
        text += QStringLiteral("\n%1 \u2192 %2").arg(before, after);
    else if (!after.isEmpty())
        text += QLatin1Char('\n') + after;
    return text;
}

} // namespace scoutrix::upgrade
