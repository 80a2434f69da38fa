#pragma once
// A recording stand-in for the device network SDK, linked into tests in place
// of the real library. Tests script the answers and read back every call.

#include <QMutex>
#include <QVector>

#include <atomic>
#include <cstdint>
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

struct State
{
    QMutex mutex;
    // Search
    std::vector<scoutrix::SearchRecord> searchAnswer;
    bool searchSucceeds = true;
    int searchDelayMs = 0;
    std::atomic<int> searchCalls{0};
    // Set without login: result per call (default 0).
    QVector<int32_t> setResults;
    QVector<SetCall> setCalls;
    // Log in / out
    int32_t nextHandle = 100;
    int32_t loginError = 0;
    bool loginSucceeds = true;
    QVector<int32_t> logouts;
};

State &state();
void reset();

scoutrix::SearchRecord makeRecord(const char *mac, const uint8_t ip[4], int32_t type,
                                  const char *model = "M1", const char *serial = "S1",
                                  uint32_t port = 34567);

} // namespace fakesdk
