#pragma once
// What the record mappings share: copying a record out to the caller's
// buffer, reading one in, and the channels an ONVIF device's profiles form.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceApi.h"
#include "NetSdk.h"
#include "RecordMap.h"

namespace scoutrix::netsdk::onvifmap {

// A get's answer: nothing is written unless the whole record fits.
template <typename R>
int32_t putRecord(const R &record, void *buffer, int32_t bufferSize, int32_t *bytesReturned)
{
    if (!buffer || bufferSize < int32_t(sizeof record))
        return NETSDK_ERR_FAIL;
    std::memcpy(buffer, &record, sizeof record);
    if (bytesReturned)
        *bytesReturned = int32_t(sizeof record);
    return NETSDK_OK;
}

// A set's record, refused unless it has the record's exact size.
template <typename R> bool takeRecord(const void *buffer, int32_t size, R &record)
{
    if (!buffer || size != int32_t(sizeof record))
        return false;
    std::memcpy(&record, buffer, sizeof record);
    return true;
}

template <typename R> void zero(R &record)
{
    std::memset(&record, 0, sizeof record);
}

// One channel: a video source and the profiles that encode it, in the
// device's order. Profiles without a video encoder carry no stream.
struct Channel
{
    std::string sourceToken;
    std::vector<onvif::Profile> streams; // [0] main, [1] sub, further ones unused
};

std::vector<Channel> channelsOf(const std::vector<onvif::Profile> &profiles);

// The context's profiles, asked for again so a set compares against what
// the device holds now.
int32_t refreshProfiles(onvif::DeviceApi &device, DeviceContext &context);

// Whether a set's outcome asks for a restart.
int32_t doneResult(bool rebootNeeded);

// Per area: get and set of the commands each maps. A command an area does
// not know answers NETSDK_ERR_NOT_SUPPORTED.
int32_t getEncode(onvif::DeviceApi &device, DeviceContext &context, int32_t command, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned);
int32_t setEncode(onvif::DeviceApi &device, DeviceContext &context, int32_t command,
    const void *buffer, int32_t size);
int32_t getClock(onvif::DeviceApi &device, int32_t command, void *buffer, int32_t bufferSize,
    int32_t *bytesReturned);
int32_t setClock(onvif::DeviceApi &device, int32_t command, const void *buffer, int32_t size);
int32_t getImage(onvif::DeviceApi &device, DeviceContext &context, int32_t command, int32_t channel,
    void *buffer, int32_t bufferSize, int32_t *bytesReturned);
int32_t setImage(onvif::DeviceApi &device, DeviceContext &context, int32_t command, int32_t channel,
    const void *buffer, int32_t size);

} // namespace scoutrix::netsdk::onvifmap
