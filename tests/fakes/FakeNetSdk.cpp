#include "FakeNetSdk.h"

#include <QMutexLocker>
#include <QThread>

#include <cstring>

#include "NetSdk.h"

namespace fakesdk {

State &state()
{
    static State s;
    return s;
}

void reset()
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.searchAnswer.clear();
    s.searchSucceeds = true;
    s.searchDelayMs = 0;
    s.searchCalls = 0;
    s.setResults.clear();
    s.setCalls.clear();
    s.nextHandle = 100;
    s.loginError = 0;
    s.loginSucceeds = true;
    s.logouts.clear();
}

scoutrix::SearchRecord makeRecord(const char *mac, const uint8_t ip[4], int32_t type,
                                  const char *model, const char *serial, uint32_t port)
{
    scoutrix::SearchRecord r;
    std::memset(&r, 0, sizeof r);
    std::memcpy(r.net.ip, ip, 4);
    const uint8_t mask[4] = {255, 255, 255, 0};
    std::memcpy(r.net.mask, mask, 4);
    std::memcpy(r.net.gateway, ip, 3);
    r.net.gateway[3] = 1;
    r.net.setPortValue(port);
    scoutrix::setFieldText(r.net.mac, mac);
    scoutrix::setFieldText(r.dev.model, model);
    scoutrix::setFieldText(r.dev.serial, serial);
    r.dev.setDeviceType(type);
    return r;
}

} // namespace fakesdk

using fakesdk::state;

extern "C" {

int32_t NetSdk_Init(int32_t, int32_t) { return 1; }

uint8_t NetSdk_SearchDevice(char *buffer, int32_t bufferSize, int32_t *bytes, int32_t, int32_t)
{
    fakesdk::State &s = state();
    ++s.searchCalls;
    int delay;
    {
        QMutexLocker lock(&s.mutex);
        delay = s.searchDelayMs;
    }
    if (delay > 0)
        QThread::msleep(ulong(delay));
    QMutexLocker lock(&s.mutex);
    *bytes = 0;
    if (!s.searchSucceeds)
        return 0;
    const int fit = bufferSize / int(sizeof(scoutrix::SearchRecord));
    const int n = std::min<int>(fit, int(s.searchAnswer.size()));
    std::memcpy(buffer, s.searchAnswer.data(), size_t(n) * sizeof(scoutrix::SearchRecord));
    *bytes = n * int(sizeof(scoutrix::SearchRecord));
    return 1;
}

int32_t NetSdk_SetConfigWithoutLogin(int32_t command, int32_t channel, void *record,
                                     int32_t size, int32_t timeoutMs)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    const int index = s.setCalls.size();
    s.setCalls.append({command, channel,
                       QByteArray(static_cast<const char *>(record), size), timeoutMs});
    return index < s.setResults.size() ? s.setResults.at(index) : 0;
}

int32_t NetSdk_Login(const char *, uint16_t, const char *, const char *, void *info, int32_t,
                     int32_t *error, int32_t, int32_t)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.loginSucceeds) {
        *error = s.loginError;
        return 0;
    }
    std::memset(info, 0, sizeof(scoutrix::LoginInfo));
    *error = 0;
    return s.nextHandle++;
}

int32_t NetSdk_Logout(int32_t handle)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.logouts.append(handle);
    return 0;
}

int32_t NetSdk_GetConfig(int32_t, int32_t, int32_t, void *, int32_t, int32_t *, int32_t) { return -1; }
int32_t NetSdk_SetConfig(int32_t, int32_t, int32_t, const void *, int32_t, int32_t) { return -1; }
uint8_t NetSdk_Reboot(int32_t, int32_t, int32_t) { return 0; }
int32_t NetSdk_Upgrade(int32_t, const char *, int32_t, NetSdkProgressCallback, void *, int32_t) { return 0; }
int32_t NetSdk_StartRealStream(int32_t, const void *, int32_t) { return 0; }
int32_t NetSdk_SetStreamCallback(int32_t, NetSdkDataCallback, void *) { return 0; }
int32_t NetSdk_ClearStreamCallback(int32_t, NetSdkDataCallback, void *) { return 0; }
int32_t NetSdk_StopRealStream(int32_t) { return 0; }
}
