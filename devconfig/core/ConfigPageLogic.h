#pragma once
// What the configuration page decides without a window: the words for a
// failed login, the grouping of the device tree and the operation id of a
// save result.

#include <cstdint>
#include <string>
#include <vector>

#include "ActivityLog.h"
#include "DeviceRecords.h"

namespace scoutrix {

// Language key of the reason for a failed login, by the SDK's error code.
const char *loginErrorKey(int32_t error);

struct DeviceGroup
{
    bool ipc = false;          // "IPC"; every other device type is "DVR/NVR"
    std::vector<int> devices;  // list indices, in list order
};

// Groups in the order in which their first devices occur. With a filter, a
// device is kept only when its dotted address contains the filter text.
std::vector<DeviceGroup> groupDevices(const DeviceRecord *devices, int count,
                                      const std::string *filter = nullptr);

enum ConfigPage : int { StartPage = 0, EncodePage = 1, CameraPage = 2, AudioPage = 3 };

// Operation id of a save result for the result notice. The start page saves
// nothing; a result arriving while it is shown came from the encode page, the
// one page every configurable device has.
int saveOperationId(int page);

// An activity-log entry naming |device| as the pages know it (MAC, serial,
// model, the address it was reached at) for |operation|.
ActivityEntry activityEntryFor(const DeviceRecord &device, int operation);

} // namespace scoutrix
