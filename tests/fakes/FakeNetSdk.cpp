#include "FakeNetSdk.h"

#include <QMutexLocker>
#include <QThread>

#include <algorithm>
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
    s.setDelayMs = 0;
    s.nextHandle = 100;
    s.loginError = 0;
    s.loginSucceeds = true;
    s.logouts.clear();
    s.loginAnswers.clear();
    s.loginInfo = scoutrix::LoginInfo{};
    s.acceptUser.reset();
    s.acceptPassword.reset();
    s.loginDelayMs = 0;
    s.loginCalls.clear();
    s.activeLogins = 0;
    s.maxActiveLogins = 0;
    s.configs.clear();
    s.getResults.clear();
    s.getCalls.clear();
    s.configSetResults.clear();
    s.configSetCalls.clear();
    s.rebootResult = 1;
    s.reboots.clear();
    s.loginErrorByAddress.clear();
    s.streamStartResult = 0;
    s.onvifMacs.clear();
    s.defaultCredentials = {};
    s.calls.clear();
}

scoutrix::LoginInfo makeLoginInfo(int32_t videoChannels, int32_t loginDeviceType,
                                  int32_t audioChannels, int32_t allChannelsFlag)
{
    scoutrix::LoginInfo info{};
    info.setWord(scoutrix::LoginInfo::VideoChannelCount, videoChannels);
    info.setWord(scoutrix::LoginInfo::LoginDeviceType, loginDeviceType);
    info.setWord(scoutrix::LoginInfo::AudioChannelCount, audioChannels);
    info.setWord(scoutrix::LoginInfo::AllChannelsFlag, allChannelsFlag);
    return info;
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

int32_t NetSdk_SetDefaultCredentials(const char *user, const char *password)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.defaultCredentials = {user ? user : "", password ? password : ""};
    return 0;
}

int32_t NetSdk_DeviceProtocol(const char *macText)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    return macText && s.onvifMacs.contains(QString::fromLatin1(macText)) ? 1 : 0;
}

int32_t NetSdk_SetConfigWithoutLogin(int32_t command, int32_t channel, void *record,
                                     int32_t size, int32_t timeoutMs)
{
    fakesdk::State &s = state();
    int delay;
    {
        QMutexLocker lock(&s.mutex);
        delay = s.setDelayMs;
    }
    if (delay > 0)
        QThread::msleep(static_cast<unsigned long>(delay));
    QMutexLocker lock(&s.mutex);
    const int index = s.setCalls.size();
    s.setCalls.append({command, channel,
                       QByteArray(static_cast<const char *>(record), size), timeoutMs});
    return index < s.setResults.size() ? s.setResults.at(index) : 0;
}

int32_t NetSdk_Login(const char *address, uint16_t port, const char *user, const char *password,
                     void *info, int32_t mode, int32_t *error, int32_t, int32_t)
{
    fakesdk::State &s = state();
    const int active = ++s.activeLogins;
    int seen = s.maxActiveLogins;
    while (active > seen && !s.maxActiveLogins.compare_exchange_weak(seen, active)) {
    }
    int delay;
    {
        QMutexLocker lock(&s.mutex);
        s.loginCalls.append({address, port, user, password, mode});
        delay = s.loginDelayMs;
    }
    if (delay > 0)
        QThread::msleep(ulong(delay));

    QMutexLocker lock(&s.mutex);
    int32_t handle;
    if (s.loginErrorByAddress.contains(address)) {
        *error = s.loginErrorByAddress.value(address);
        handle = 0;
    } else if (!s.loginAnswers.isEmpty()) {
        const fakesdk::LoginAnswer answer = s.loginAnswers.takeFirst();
        *error = answer.error;
        handle = answer.handle;
        if (handle > 0)
            std::memcpy(info, &answer.info, sizeof answer.info);
    } else if (!s.loginSucceeds) {
        *error = s.loginError;
        handle = 0;
    } else if ((s.acceptUser && *s.acceptUser != user)
               || (s.acceptPassword && *s.acceptPassword != password)) {
        *error = NETSDK_ERR_PASSWORD;
        handle = 0;
    } else {
        std::memcpy(info, &s.loginInfo, sizeof s.loginInfo);
        *error = 0;
        handle = s.nextHandle++;
    }
    s.calls.append({fakesdk::Call::Login, handle, 0, 0, address});
    --s.activeLogins;
    return handle;
}

int32_t NetSdk_Logout(int32_t handle)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.logouts.append(handle);
    s.calls.append({fakesdk::Call::Logout, handle, 0, 0, {}});
    return 0;
}

int32_t NetSdk_GetConfig(int32_t handle, int32_t command, int32_t channel, void *buffer,
                         int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.getCalls.append({handle, command, channel, bufferSize, timeoutMs});
    s.calls.append({fakesdk::Call::Get, handle, command, channel, {}});
    *bytesReturned = 0;
    const int32_t result = s.getResults.value(command, 0);
    if (result < 0)
        return result;
    const auto it = s.configs.constFind(command);
    if (it == s.configs.constEnd())
        return -1;
    const int n = std::min(bufferSize, int32_t(it->size()));
    std::memcpy(buffer, it->constData(), size_t(n));
    *bytesReturned = n;
    return result;
}

int32_t NetSdk_SetConfig(int32_t handle, int32_t command, int32_t channel, const void *buffer,
                         int32_t size, int32_t timeoutMs)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    const int index = s.configSetCalls.size();
    s.configSetCalls.append({handle, command, channel,
                             QByteArray(static_cast<const char *>(buffer), size), timeoutMs});
    s.calls.append({fakesdk::Call::Set, handle, command, channel, {}});
    return index < s.configSetResults.size() ? s.configSetResults.at(index) : 0;
}
uint8_t NetSdk_Reboot(int32_t handle, int32_t, int32_t)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.reboots.append(handle);
    s.calls.append({fakesdk::Call::Reboot, handle, 0, 0, {}});
    return s.rebootResult;
}
int32_t NetSdk_Upgrade(int32_t, const char *, int32_t, NetSdkProgressCallback, void *, int32_t) { return 0; }
int32_t NetSdk_StartRealStream(int32_t handle, const void *, int32_t)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.calls.append({fakesdk::Call::StreamStart, handle, 0, 0, {}});
    return s.streamStartResult;
}
int32_t NetSdk_SetStreamCallback(int32_t stream, NetSdkDataCallback, void *)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.calls.append({fakesdk::Call::StreamCallbackSet, stream, 0, 0, {}});
    return 0;
}
int32_t NetSdk_ClearStreamCallback(int32_t stream, NetSdkDataCallback, void *)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.calls.append({fakesdk::Call::StreamCallbackClear, stream, 0, 0, {}});
    return 0;
}
int32_t NetSdk_StopRealStream(int32_t stream)
{
    fakesdk::State &s = state();
    QMutexLocker lock(&s.mutex);
    s.calls.append({fakesdk::Call::StreamStop, stream, 0, 0, {}});
    return 0;
}
}
