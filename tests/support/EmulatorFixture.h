#pragma once
// Starts an in-process emulated fleet on loopback with free ports and points
// the SDK's discovery at it (and only at it), for the tests and the
// benchmarks alike: plain C++, no Qt.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DeviceRecords.h"
#include "Emulator.h"
#include "NetSdk.h"
#include "NetSdkControl.h"

namespace fixture {

// Discovery on 127.0.0.1 and every device on a port the system picks.
inline scoutrix::devsim::EmulatorOptions loopbackOptions(const std::string &stateFile = std::string())
{
    scoutrix::devsim::EmulatorOptions o;
    o.discovery.push_back(scoutrix::net::Endpoint { 0x7f000001u, 0 });
    o.ephemeralPorts = true;
    o.stateFile = stateFile;
    return o;
}

// Null when the emulator cannot start: with |error| set when given, else
// with the reason on stderr.
inline std::unique_ptr<scoutrix::devsim::Emulator> start(const scoutrix::devsim::Fleet &fleet,
    const std::string &stateFile = std::string(), std::string *error = nullptr)
{
    auto e = std::make_unique<scoutrix::devsim::Emulator>(fleet, loopbackOptions(stateFile));
    std::string why;
    if (!e->start(why)) {
        if (error)
            *error = why;
        else
            std::fprintf(stderr, "emulator: %s\n", why.c_str());
        return nullptr;
    }
    scoutrix::netsdk::setDiscoveryTargets(e->discoveryEndpoints());
    return e;
}

inline std::vector<scoutrix::SearchRecord> search(int timeoutMs = 5000, bool *ok = nullptr)
{
    std::vector<scoutrix::SearchRecord> buffer(NETSDK_MAX_DEVICES);
    int32_t bytes = 0;
    const uint8_t r = NetSdk_SearchDevice(
        reinterpret_cast<char *>(buffer.data()), NETSDK_SEARCH_BUFFER_SIZE, &bytes, timeoutMs, 0);
    if (ok)
        *ok = r != 0;
    buffer.resize(std::size_t(bytes) / sizeof(scoutrix::SearchRecord));
    return buffer;
}

inline const scoutrix::SearchRecord *byMac(
    const std::vector<scoutrix::SearchRecord> &records, const std::string &mac)
{
    for (const auto &r : records) {
        if (r.net.macText() == mac)
            return &r;
    }
    return nullptr;
}

inline std::string ip(uint32_t address)
{
    return scoutrix::net::ipv4Text(address);
}

// Logs in to device |index| of the emulator with the given password.
inline int32_t login(const scoutrix::devsim::Emulator &e, int index,
    const char *password = "739204", int32_t *error = nullptr, scoutrix::LoginInfo *info = nullptr,
    const char *user = "admin")
{
    const auto d = e.device(index);
    scoutrix::LoginInfo local;
    int32_t err = 12345;
    const int32_t h = NetSdk_Login(
        ip(d.ip).c_str(), d.port, user, password, info ? info : &local, 1, &err, 0, 0);
    if (error)
        *error = err;
    return h;
}

// A record as the device holds it now; all zero when it has none of that size.
template<typename Record>
Record recordOf(const scoutrix::devsim::Emulator &e, int device, int32_t command, int32_t channel = -1)
{
    Record r;
    std::memset(&r, 0, sizeof r);
    std::vector<uint8_t> bytes;
    if (e.record(device, command, channel, bytes) && bytes.size() == sizeof r)
        std::memcpy(&r, bytes.data(), sizeof r);
    return r;
}

// Waits until the device answers again after a restart.
inline bool waitReachable(const scoutrix::devsim::Emulator &e, int device, int timeoutMs = 15000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        const scoutrix::devsim::DeviceSnapshot d = e.device(device);
        if (d.reachable && !d.rebooting)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

} // namespace fixture
