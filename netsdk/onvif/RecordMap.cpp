// Not mapped yet: every command answers "not supported".

#include "RecordMap.h"

#include <cstring>

#include "NetSdk.h"

namespace scoutrix::netsdk::onvifmap {

void fillSearchRecord(const FoundDevice &, void *record)
{
    std::memset(record, 0, NETSDK_SEARCH_RECORD_SIZE);
}

std::string macTextOf(const FoundDevice &found)
{
    return found.endpoint;
}

void fillLoginInfo(const DeviceContext &, void *loginInfo)
{
    std::memset(loginInfo, 0, NETSDK_LOGININFO_SIZE);
}

int32_t resultFor(const onvif::Failure &)
{
    return NETSDK_ERR_FAIL;
}

int32_t getConfig(
    onvif::DeviceApi &, DeviceContext &, int32_t, int32_t, void *, int32_t, int32_t *)
{
    return NETSDK_ERR_NOT_SUPPORTED;
}

int32_t setConfig(onvif::DeviceApi &, DeviceContext &, int32_t, int32_t, const void *, int32_t)
{
    return NETSDK_ERR_NOT_SUPPORTED;
}

int32_t setNetwork(onvif::DeviceApi &, const void *, int32_t)
{
    return NETSDK_ERR_NOT_SUPPORTED;
}

} // namespace scoutrix::netsdk::onvifmap
