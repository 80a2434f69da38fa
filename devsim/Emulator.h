#pragma once
// The device emulator: a fleet of devices, each on its own loopback address
// with its service port, answering search probes on the discovery endpoints.
// One thread serves every socket; tests start it in-process.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Fleet.h"
#include "Net.h"

namespace scoutrix::devsim {

struct EmulatorOptions
{
    // Where probes are heard; port 0 takes a free port (see discoveryEndpoints()).
    std::vector<net::Endpoint> discovery;
    // Service ports chosen by the system instead of the fleet's, so several
    // emulators (parallel test runs) never collide.
    bool ephemeralPorts = false;
    // JSON file that keeps set-ip and configuration changes across restarts.
    std::string stateFile;
    std::function<void(const std::string &)> log;
};

struct DeviceSnapshot
{
    std::string mac;
    std::string serial;
    uint32_t ip = 0;
    uint16_t port = 0;
    bool reachable = false; // listening on its address
    bool rebooting = false;
    int sessions = 0;
    std::string version; // firmware version text
    std::string logo; // boot-logo marker, "" before any logo was written
    bool upgrading = false; // receiving or writing an upgrade
    Protocol protocol = Protocol::Own; // ONVIF: |port| is the HTTP port of the device service
};

struct EmulatorStats
{
    int probes = 0;
    int answers = 0;
    int logins = 0;
    int refusedFrames = 0; // TCP frames refused (the connection was dropped)
    int refusedDatagrams = 0; // UDP datagrams ignored as malformed
    int stateWriteFailures = 0; // state file writes that failed (each also on stderr)
    int pendingAnswers = 0; // discovery datagrams waiting to go out
    int peakPendingAnswers = 0;
    int droppedAnswers = 0; // answers not sent because too many were owed
    int refusedConnections = 0; // connections over the caps, closed at once
    std::size_t peakOutputQueue = 0; // largest reply backlog of one connection, in bytes
    int failedAccepts = 0; // accept() calls that failed (not merely found nobody waiting)
    int acceptPauses = 0; // times a listener rested for want of descriptors or memory
    int liveStreams = 0; // live streams being encoded now
    int streamsStarted = 0;
};

class Emulator
{
public:
    explicit Emulator(Fleet fleet, EmulatorOptions options = EmulatorOptions());
    ~Emulator();
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    // Returns once every device listens, or false with the reason.
    bool start(std::string &error);
    void stop();

    std::vector<net::Endpoint> discoveryEndpoints() const;
    int deviceCount() const;
    DeviceSnapshot device(int index) const;
    int indexOfMac(const std::string &mac) const;
    void setFaults(int index, const Faults &faults);
    bool record(int index, int32_t command, int32_t channel, std::vector<uint8_t> &out) const;
    EmulatorStats stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace scoutrix::devsim
