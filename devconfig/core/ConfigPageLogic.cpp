#include "ConfigPageLogic.h"

#include "CMultiLanguage.h"
#include "NetSdk.h"

namespace scoutrix {

const char *loginErrorKey(int32_t error)
{
    switch (error) {
    case NETSDK_LOGIN_NET_ERROR: return LANG_KEY("NetError");
    case NETSDK_LOGIN_SYSTEM_BUSY: return LANG_KEY("SystemBusy");
    case NETSDK_ERR_TIMEOUT: return LANG_KEY("Timeout");
    case NETSDK_ERR_PASSWORD: return LANG_KEY("PasswdError");
    case NETSDK_ERR_NO_USER: return LANG_KEY("UserNotExisted");
    case NETSDK_ERR_LOCKED: return LANG_KEY("Locked");
    case NETSDK_ERR_BLACKLIST: return LANG_KEY("InBlackList");
    case NETSDK_ERR_IN_USE: return LANG_KEY("InUsed");
    case NETSDK_ERR_NOT_FOUND: return LANG_KEY("NotFound");
    case NETSDK_ERR_UNINIT: return LANG_KEY("UNINIT");
    default: return LANG_KEY("UnknowError");
    }
}

std::vector<DeviceGroup> groupDevices(const DeviceRecord *devices, int count,
                                      const std::string *filter)
{
    std::vector<DeviceGroup> groups;
    if (!devices)
        return groups;
    for (int i = 0; i < count; ++i) {
        const DeviceRecord &d = devices[i];
        if (filter && d.netInfo.ipText().find(*filter) == std::string::npos)
            continue;
        const bool ipc = d.devInfo.deviceType() == int32_t(DeviceType::IPC);
        auto it = groups.begin();
        while (it != groups.end() && it->ipc != ipc)
            ++it;
        if (it == groups.end())
            it = groups.insert(groups.end(), DeviceGroup{ipc, {}});
        it->devices.push_back(i);
    }
    return groups;
}

int saveOperationId(int page)
{
    switch (page) {
    case CameraPage: return 21;
    case AudioPage: return 27;
    default: return 15;
    }
}

ActivityEntry activityEntryFor(const DeviceRecord &device, int operation)
{
    ActivityEntry entry;
    entry.mac = QString::fromStdString(device.netInfo.macText());
    entry.serial = QString::fromStdString(device.devInfo.serialText());
    entry.model = QString::fromStdString(device.devInfo.modelText());
    entry.address = QString::fromStdString(fieldText(device.ipText));
    entry.operation = operation;
    return entry;
}

} // namespace scoutrix
