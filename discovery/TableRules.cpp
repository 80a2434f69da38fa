#include "TableRules.h"

namespace TableRules {

qint64 ipSortValue(const QString &text)
{
    qint64 parts[4] = {0, 0, 0, 0};
    int part = 0;
    for (const QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            parts[part] = parts[part] * 10 + (c.unicode() - '0');
            // Stop growing before it could overflow; anything this big is no
            // octet anyway.
            if (parts[part] > 255)
                parts[part] = 256;
        } else if (c == QLatin1Char('.')) {
            if (++part > 3)
                return -1;
        } else {
            return -1;
        }
    }
    for (qint64 p : parts) {
        if (p > 255)
            return -1;
    }
    return (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
}

bool TypeFilter::shows(int32_t deviceType) const
{
    switch (deviceType) {
    case int32_t(scoutrix::DeviceType::IPC): return m_mask & Ipc;
    case int32_t(scoutrix::DeviceType::NVR): return m_mask & Nvr;
    case int32_t(scoutrix::DeviceType::DVR):
    case int32_t(scoutrix::DeviceType::HVR): return m_mask & DvrHvr;
    default: return true;
    }
}

bool TypeFilter::setType(Bit bit, bool checked, bool othersChecked)
{
    if (!checked) {
        m_mask &= ~bit;
        return false;
    }
    m_mask |= bit;
    if (othersChecked) {
        m_mask = All;
        return true;
    }
    return false;
}

int compact(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, int rawCount,
            scoutrix::NetInfo *outNet, scoutrix::DevInfo *outDev)
{
    int n = 0;
    for (int i = 0; i < rawCount; ++i) {
        if (!net[i].hasMac())
            continue;
        outNet[n] = net[i];
        outDev[n] = dev[i];
        ++n;
    }
    return n;
}

int findByMac(const scoutrix::NetInfo *net, int count, const QString &mac)
{
    if (mac.isEmpty())
        return -1;
    const std::string wanted = mac.toStdString();
    for (int i = 0; i < count; ++i) {
        if (net[i].macText() == wanted)
            return i;
    }
    return -1;
}

int headerState(int checked, int rows)
{
    if (checked <= 0)
        return 0;
    return checked < rows ? 1 : 2;
}

} // namespace TableRules
