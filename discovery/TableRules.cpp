#include "TableRules.h"

#include "ResultTexts.h"

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

bool matchesSearch(const QStringList &cells, const QString &text)
{
    if (text.isEmpty())
        return true;
    for (const QString &cell : cells) {
        if (cell.contains(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QStringList searchCells(const scoutrix::NetInfo &net, const scoutrix::DevInfo &dev, int number)
{
    return {QString::number(number), QString::fromLatin1(scoutrix::deviceTypeName(dev.deviceType())),
            QString::fromStdString(dev.modelText()), QString::fromStdString(net.ipText()),
            QString::fromStdString(net.macText()), QString::fromStdString(dev.serialText())};
}

QVector<int> listedDevices(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, int count,
                           const TypeFilter &filter, const QString &searchText)
{
    QVector<int> out;
    int shown = 0;
    for (int i = 0; i < count; ++i) {
        if (!filter.shows(dev[i].deviceType()))
            continue;
        ++shown;
        if (matchesSearch(searchCells(net[i], dev[i], shown), searchText))
            out.append(i);
    }
    return out;
}

QSet<QString> checksToKeep(const QSet<QString> &checked, const scoutrix::NetInfo *net,
                           const QVector<int> &listed)
{
    QSet<QString> out;
    for (int i : listed) {
        const QString mac = QString::fromStdString(net[i].macText());
        if (checked.contains(mac))
            out.insert(mac);
    }
    return out;
}

QString devicesCsv(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, const QVector<int> &listed)
{
    QString out = ActivityLog::csvLine({QStringLiteral("No"), QStringLiteral("Type"), QStringLiteral("Model"),
                                        QStringLiteral("IP"), QStringLiteral("Mask"), QStringLiteral("Gateway"),
                                        QStringLiteral("Port"), QStringLiteral("MAC"), QStringLiteral("Serial No")});
    int number = 0;
    for (int i : listed) {
        const scoutrix::NetInfo &n = net[i];
        const scoutrix::DevInfo &d = dev[i];
        out += ActivityLog::csvLine({QString::number(++number),
                                     QString::fromLatin1(scoutrix::deviceTypeName(d.deviceType())),
                                     QString::fromStdString(d.modelText()), QString::fromStdString(n.ipText()),
                                     QString::fromStdString(scoutrix::octetsText(n.mask)),
                                     QString::fromStdString(scoutrix::octetsText(n.gateway)),
                                     QString::number(n.loginPort()), QString::fromStdString(n.macText()),
                                     QString::fromStdString(d.serialText())});
    }
    return out;
}

QString networkText(const scoutrix::NetInfo &net)
{
    return QString::fromStdString(net.ipText()) + QStringLiteral(" / ")
        + QString::fromStdString(scoutrix::octetsText(net.mask)) + QStringLiteral(" / ")
        + QString::fromStdString(scoutrix::octetsText(net.gateway));
}

ActivityEntry addressChangeEntry(const scoutrix::NetInfo &before, const scoutrix::NetInfo &after,
                                 const scoutrix::DevInfo &dev, int result)
{
    ActivityEntry e;
    e.mac = QString::fromStdString(before.macText());
    e.serial = QString::fromStdString(dev.serialText());
    e.model = QString::fromStdString(dev.modelText());
    e.address = QString::fromStdString(before.ipText());
    e.operation = ResultTexts::OpModifyIP;
    e.oldValue = networkText(before);
    e.newValue = networkText(after);
    e.result = result;
    return e;
}

} // namespace TableRules
