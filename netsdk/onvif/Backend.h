#pragma once
// The SDK's operations on ONVIF devices. Login and stream handles of this
// backend start at kFirstHandle, so NetSdk.cpp routes every call after a
// login by its handle alone; the own protocol's handles stay below it.
//
// Which devices are ONVIF is learnt from searches (by MAC text and by
// address:port) and from successful ONVIF logins.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "NetSdk.h"

namespace scoutrix::netsdk::onvifbackend {

constexpr int32_t kFirstHandle = 0x40000000;
inline bool ownsHandle(int32_t handle)
{
    return handle >= kFirstHandle;
}

// A device as the last search (or a later change) left it.
struct KnownDevice {
    std::string macText;
    std::string host;
    uint16_t port = 80;
    std::string path; // of the device service
    std::string endpoint; // WS-Discovery endpoint reference
    int32_t deviceType = 2; // DeviceType from its type scopes; a login reports it
};

// The search's ONVIF devices replace those of the previous search.
void rememberSearch(const std::vector<KnownDevice> &devices);
std::optional<KnownDevice> deviceByMac(const std::string &macText);
// An ONVIF device was found, or logged in to, at this address and port.
bool isOnvifAt(const std::string &host, uint16_t port);

int32_t login(const char *address, uint16_t port, const char *user, const char *password,
    void *loginInfo, int32_t *errorCode);
int32_t logout(int32_t handle);
int32_t getConfig(int32_t handle, int32_t command, int32_t channel, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs);
int32_t setConfig(int32_t handle, int32_t command, int32_t channel, const void *buffer,
    int32_t size, int32_t timeoutMs);
uint8_t reboot(int32_t handle, int32_t timeoutMs);
// Command 20 without a login, on the device the record's MAC text names.
int32_t setNetwork(const std::string &macText, const void *record, int32_t size, int32_t timeoutMs);

int32_t upgrade(int32_t handle, const char *path, NetSdkProgressCallback callback, void *user,
    int32_t *refusal);

int32_t startRealStream(int32_t loginHandle, const void *request);
int32_t setStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user);
int32_t clearStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user);
int32_t stopRealStream(int32_t streamHandle);

int openSessionCount();
int runningUpgrades();

} // namespace scoutrix::netsdk::onvifbackend
