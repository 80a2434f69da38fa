#pragma once
// The SDK's inner operations behind the C entry points of NetSdk.h.

#include <cstdint>
#include <memory>

#include "NetSdk.h"
#include "Protocol.h"

namespace scoutrix::netsdk {

// SCOUTRIX_NETSDK_LOOPBACK_ONLY is set: nothing may leave 127.0.0.0/8.
bool loopbackOnly();
void countDatagram();
void countTcpConnect();

uint8_t search(char *buffer, int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs);
int32_t setWithoutLogin(
    int32_t command, int32_t channel, const void *record, int32_t size, int32_t timeoutMs);

int32_t login(const char *address, uint16_t port, const char *user, const char *password,
    void *loginInfo, int32_t mode, int32_t *errorCode);
int32_t logout(int32_t handle);
int32_t getConfig(int32_t handle, int32_t command, int32_t channel, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs);
int32_t setConfig(int32_t handle, int32_t command, int32_t channel, const void *buffer,
    int32_t size, int32_t timeoutMs);
uint8_t reboot(int32_t handle, int32_t timeoutMs);
int32_t upgrade(int32_t handle, const char *path, NetSdkProgressCallback callback, void *user,
    int32_t upgradeType);
void setLastUpgradeRefusal(int32_t refusal);

// The caller's progress callback of one upgrade, as both protocols report it.
struct UpgradeReporter
{
    NetSdkProgressCallback callback = nullptr;
    void *user = nullptr;
    void operator()(int32_t status, int32_t total, int32_t progress) const
    {
        if (callback)
            callback(0, status, total, progress, user);
    }
};
// Own-protocol login and stream handles stay below this; the ONVIF
// backend's start there (onvif/Backend.h).
constexpr int32_t kOwnHandleLimit = 0x40000000;

class StreamSink;
int32_t startRealStream(int32_t loginHandle, const void *request);
int32_t setStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user);
int32_t clearStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user);
int32_t stopRealStream(int32_t streamHandle);
// Session side (Sessions.cpp): asks the device for the stream and routes its
// data to |sink| until closeStream or the session's end.
int32_t openStream(int32_t loginHandle, const proto::StreamRequest &request,
    const std::shared_ptr<StreamSink> &sink, uint32_t &deviceStreamId);
int32_t closeStream(int32_t loginHandle, uint32_t deviceStreamId);

} // namespace scoutrix::netsdk
