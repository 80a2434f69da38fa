// The C entry points of sdk/NetSdk.h: the project's own device protocol
// (docs/device-protocol.md) and ONVIF (docs/onvif.md). A login goes to the
// backend the search found at its address; every later call is routed by
// the range its handle lies in.

#include "NetSdk.h"

#include "Backend.h"
#include "Internal.h"
#include "NetSdkControl.h"
#include "Protocol.h"

using namespace scoutrix;
namespace onvifbackend = scoutrix::netsdk::onvifbackend;

extern "C" {

int32_t NetSdk_Init(int32_t, int32_t)
{
    return 1;
}

uint8_t NetSdk_SearchDevice(
    char *buffer, int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs, int32_t)
{
    return netsdk::search(buffer, bufferSize, bytesReturned, timeoutMs);
}

int32_t NetSdk_DeviceProtocol(const char *macText)
{
    if (!macText)
        return 0;
    return netsdk::protocolOf(macText) == netsdk::DeviceProtocol::Onvif ? 1 : 0;
}

int32_t NetSdk_SetDefaultCredentials(const char *user, const char *password)
{
    if (!user || !*user || !password)
        netsdk::clearDefaultCredentials();
    else
        netsdk::setDefaultCredentials(user, password);
    return NETSDK_OK;
}

int32_t NetSdk_SetConfigWithoutLogin(
    int32_t command, int32_t channel, void *record, int32_t recordSize, int32_t timeoutMs)
{
    return netsdk::setWithoutLogin(command, channel, record, recordSize, timeoutMs);
}

int32_t NetSdk_Login(const char *address, uint16_t port, const char *user, const char *password,
    void *loginInfo, int32_t mode, int32_t *errorCode, int32_t, int32_t)
{
    if (address && onvifbackend::isOnvifAt(address, port))
        return onvifbackend::login(address, port, user, password, loginInfo, errorCode);
    return netsdk::login(address, port, user, password, loginInfo, mode, errorCode);
}

int32_t NetSdk_Logout(int32_t loginHandle)
{
    if (onvifbackend::ownsHandle(loginHandle))
        return onvifbackend::logout(loginHandle);
    return netsdk::logout(loginHandle);
}

int32_t NetSdk_GetConfig(int32_t loginHandle, int32_t command, int32_t channel, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs)
{
    if (onvifbackend::ownsHandle(loginHandle))
        return onvifbackend::getConfig(
            loginHandle, command, channel, buffer, bufferSize, bytesReturned, timeoutMs);
    return netsdk::getConfig(
        loginHandle, command, channel, buffer, bufferSize, bytesReturned, timeoutMs);
}

int32_t NetSdk_SetConfig(int32_t loginHandle, int32_t command, int32_t channel, const void *buffer,
    int32_t size, int32_t timeoutMs)
{
    if (onvifbackend::ownsHandle(loginHandle))
        return onvifbackend::setConfig(loginHandle, command, channel, buffer, size, timeoutMs);
    return netsdk::setConfig(loginHandle, command, channel, buffer, size, timeoutMs);
}

uint8_t NetSdk_Reboot(int32_t loginHandle, int32_t, int32_t timeoutMs)
{
    if (onvifbackend::ownsHandle(loginHandle))
        return onvifbackend::reboot(loginHandle, timeoutMs);
    return netsdk::reboot(loginHandle, timeoutMs);
}

int32_t NetSdk_Upgrade(int32_t loginHandle, const char *firmwarePath, int32_t,
    NetSdkProgressCallback callback, void *user, int32_t upgradeType)
{
    if (onvifbackend::ownsHandle(loginHandle)) {
        int32_t refusal = 0;
        const int32_t r = onvifbackend::upgrade(loginHandle, firmwarePath, callback, user, &refusal);
        netsdk::setLastUpgradeRefusal(refusal);
        return r;
    }
    return netsdk::upgrade(loginHandle, firmwarePath, callback, user, upgradeType);
}

int32_t NetSdk_StartRealStream(int32_t loginHandle, const void *request, int32_t)
{
    if (onvifbackend::ownsHandle(loginHandle))
        return onvifbackend::startRealStream(loginHandle, request);
    return netsdk::startRealStream(loginHandle, request);
}

int32_t NetSdk_SetStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user)
{
    if (onvifbackend::ownsHandle(streamHandle))
        return onvifbackend::setStreamCallback(streamHandle, callback, user);
    return netsdk::setStreamCallback(streamHandle, callback, user);
}

int32_t NetSdk_ClearStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user)
{
    if (onvifbackend::ownsHandle(streamHandle))
        return onvifbackend::clearStreamCallback(streamHandle, callback, user);
    return netsdk::clearStreamCallback(streamHandle, callback, user);
}

int32_t NetSdk_StopRealStream(int32_t streamHandle)
{
    if (onvifbackend::ownsHandle(streamHandle))
        return onvifbackend::stopRealStream(streamHandle);
    return netsdk::stopRealStream(streamHandle);
}
}
