// Temporary: initialises and answers every search with nothing.
#include "NetSdk.h"

extern "C" {
int32_t NetSdk_Init(int32_t, int32_t) { return 1; }
uint8_t NetSdk_SearchDevice(char *, int32_t, int32_t *bytes, int32_t, int32_t)
{
    if (bytes)
        *bytes = 0;
    return 1;
}
int32_t NetSdk_SetConfigWithoutLogin(int32_t, int32_t, void *, int32_t, int32_t) { return -1; }
int32_t NetSdk_Login(const char *, uint16_t, const char *, const char *, void *, int32_t,
                     int32_t *err, int32_t, int32_t)
{
    if (err)
        *err = 0;
    return 0;
}
int32_t NetSdk_Logout(int32_t) { return 0; }
int32_t NetSdk_GetConfig(int32_t, int32_t, int32_t, void *, int32_t, int32_t *, int32_t) { return -1; }
int32_t NetSdk_SetConfig(int32_t, int32_t, int32_t, const void *, int32_t, int32_t) { return -1; }
uint8_t NetSdk_Reboot(int32_t, int32_t, int32_t) { return 0; }
int32_t NetSdk_Upgrade(int32_t, const char *, int32_t, NetSdkProgressCallback, void *, int32_t) { return 0; }
int32_t NetSdk_StartRealStream(int32_t, const void *, int32_t) { return 0; }
int32_t NetSdk_SetStreamCallback(int32_t, NetSdkDataCallback, void *) { return 0; }
int32_t NetSdk_ClearStreamCallback(int32_t, NetSdkDataCallback, void *) { return 0; }
int32_t NetSdk_StopRealStream(int32_t) { return 0; }
}
