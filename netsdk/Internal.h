#pragma once
// The SDK's inner operations behind the C entry points of NetSdk.h.

#include <cstdint>

#include "NetSdk.h"

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

} // namespace scoutrix::netsdk
