#pragma once
// A recording stand-in for the device network SDK, linked into tests in place
// of the real library. Tests script the answers and read back every call.

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DeviceRecords.h"

namespace fakesdk {

struct SetCall
{
    int32_t command;
    int32_t channel;
    QByteArray record;
    int32_t timeoutMs;
};

struct LoginCall
{
    std::string address;
    uint16_t port;
    std::string user;
    std::string password;
    int32_t mode;
};

// One scripted answer to SDK log in: handle > 0 succeeds and hands out |info|.
struct LoginAnswer
{
    int32_t handle;
    int32_t error;
    scoutrix::LoginInfo info;
};

struct GetCall
{
    int32_t handle;
    int32_t command;
    int32_t channel;
    int32_t bufferSize;
    int32_t timeoutMs;
};

struct ConfigSetCall
{
    int32_t handle;
    int32_t command;
    int32_t channel;
    QByteArray record;
    int32_t timeoutMs;
};

// Every session call in the order it was made, for tests of exchange order.
struct Call
{
    enum Kind { Login, Logout, Get, Set, Reboot, StreamStart, StreamCallbackSet, StreamCallbackClear, StreamStop } kind;
    int32_t handle;  // the handle handed out (Login) or used; the stream's for the stream calls
    int32_t command; // Get and Set
    int32_t channel;
    std::string address; // Login
};

struct State
{
    QMutex mutex;
    // Search
    std::vector<scoutrix::SearchRecord> searchAnswer;
    bool searchSucceeds = true;
    int searchDelayMs = 0;
    std::atomic<int> searchCalls{0};
    // MAC texts the fake's search calls ONVIF devices.
    QSet<QString> onvifMacs;
    // What the program last handed over as its default login (user, password).
    std::pair<std::string, std::string> defaultCredentials;
    // Set without login: result per call (default 0).
    QVector<int32_t> setResults;
    QVector<SetCall> setCalls;
    int setDelayMs = 0;
    // Log in / out
    int32_t nextHandle = 100;
    int32_t loginError = 0;
    bool loginSucceeds = true;
    QVector<int32_t> logouts;
    // Scripted answers are used first, in order; then the rules above, with
    // |loginInfo| handed out on success and, when set, the credentials checked
    // (a mismatch fails with the password error).
    QVector<LoginAnswer> loginAnswers;
    scoutrix::LoginInfo loginInfo{};
    std::optional<std::string> acceptUser;
    std::optional<std::string> acceptPassword;
    int loginDelayMs = 0;
    QVector<LoginCall> loginCalls;
    std::atomic<int> activeLogins{0};
    std::atomic<int> maxActiveLogins{0};
    // Get configuration: the record per command, copied into the caller's
    // buffer (at most its size); a command without a record fails with -1,
    // a negative result per command fails without copying.
    QMap<int32_t, QByteArray> configs;
    QMap<int32_t, int32_t> getResults;
    QVector<GetCall> getCalls;
    // Set configuration: result per call (default 0).
    QVector<int32_t> configSetResults;
    QVector<ConfigSetCall> configSetCalls;
    // Reboot: the byte result (default 1, success); the handles rebooted.
    uint8_t rebootResult = 1;
    QVector<int32_t> reboots;
    // Live stream: what a start returns (a handle > 0, or the refusal).
    int32_t streamStartResult = 0;
    // Logins to these addresses fail with the given error, before any other rule.
    QMap<std::string, int32_t> loginErrorByAddress;
    QVector<Call> calls;
};

// A fake device's login block with its channel counts and type.
scoutrix::LoginInfo makeLoginInfo(int32_t videoChannels, int32_t loginDeviceType,
                                  int32_t audioChannels = 0, int32_t allChannelsFlag = 0);

template<typename Record>
QByteArray bytesOf(const Record &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof record));
}

State &state();
void reset();

scoutrix::SearchRecord makeRecord(const char *mac, const uint8_t ip[4], int32_t type,
                                  const char *model = "M1", const char *serial = "S1",
                                  uint32_t port = 34567);

} // namespace fakesdk
