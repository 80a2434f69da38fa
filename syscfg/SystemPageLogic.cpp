#include "SystemPageLogic.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include "ConfigRecords.h"

namespace scoutrix::syscfg {

std::vector<TreeGroup> treeGroups(const DeviceRecord *devices, int count, const QString *filter)
{
    std::vector<TreeGroup> groups;
    if (!devices)
        return groups;
    for (int i = 0; i < count; ++i) {
        const DeviceRecord &d = devices[i];
        const bool ipc = d.devInfo.deviceType() == int32_t(DeviceType::IPC);
        auto it = groups.begin();
        while (it != groups.end() && it->ipc != ipc)
            ++it;
        if (it == groups.end())
            it = groups.insert(groups.end(), TreeGroup{ipc, {}});
        if (filter && !QString::fromStdString(d.netInfo.ipText()).contains(*filter, Qt::CaseSensitive))
            continue;
        it->devices.push_back(i);
    }
    return groups;
}

int masterState(const QVector<bool> &checked)
{
    const int on = int(std::count(checked.begin(), checked.end(), true));
    if (on == 0)
        return 0;
    return on == checked.size() ? 2 : 1;
}

namespace {
constexpr int kFlashFullColour = 1;
constexpr int kDimmingOn = 1;
} // namespace

LightRows rowsForLightType(int type, int flash, int dimming)
{
    LightRows rows;
    rows.dimming = true;
    rows.brightness = true;
    if (type == LightModeRecord::Dual) {
        rows.photosensitive = rows.flashMode = rows.lightTime = true;
        if (flash != kFlashFullColour)
            rows.dimming = rows.brightness = false;
    } else if (type == LightModeRecord::Infrared) {
        rows.dimming = rows.brightness = false;
    }
    if (dimming == kDimmingOn)
        rows.brightness = false;
    return rows;
}

LightRows rowsForFlash(LightRows rows, int flash, int dimming)
{
    if (flash == kFlashFullColour) {
        rows.dimming = rows.brightness = true;
        return rowsForDimming(rows, dimming);
    }
    rows.dimming = rows.brightness = false;
    return rows;
}

LightRows rowsForDimming(LightRows rows, int dimming)
{
    rows.brightness = dimming != kDimmingOn;
    return rows;
}

BatchTarget targetOf(const DeviceRecord &device, int index)
{
    return DeviceTarget::of(device, index);
}

bool readConfigImage(const QString &path, QByteArray &image, QString &errorKey)
{
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) {
        errorKey = QStringLiteral("Config.ImportNotFile");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        errorKey = QStringLiteral("Config.ImportUnreadable");
        return false;
    }
    image = file.read(ConfigImageMax);
    if (image.isEmpty()) {
        errorKey = file.error() == QFileDevice::NoError ? QStringLiteral("Config.ImportEmpty")
                                                        : QStringLiteral("Config.ImportUnreadable");
        return false;
    }
    return true;
}

} // namespace scoutrix::syscfg
