#pragma once
// What the emulator's parts share: the devices, the open connections, the
// discovery sockets and the timers. Guarded by |mutex|, which the serving
// thread holds except while it waits in poll.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <netinet/in.h>

#include "DeviceModel.h"
#include "Emulator.h"
#include "LiveStream.h"
#include "Net.h"
#include "OnvifState.h"
#include "Pake.h"
#include "Protocol.h"
#include "SessionCrypto.h"
#include "UpgradeJob.h"

namespace scoutrix::devsim {

struct EmulatedDevice
{
    explicit EmulatedDevice(DeviceSpec spec)
        : model(std::move(spec))
    {
    }
    DeviceModel model;
    net::Fd listener;
    net::Clock::time_point acceptPausedUntil {};
    bool reachable = false;
    bool rebooting = false;
    uint32_t lastSearchId = 0;
    int probesThisSearch = 0;
    std::map<uint32_t, int32_t> setCache; // request id -> result, so a resent request applies once
    std::deque<uint32_t> setCacheOrder;
    // The one upgrade the device takes at a time: received by |upgradeConn|,
    // then written (|flashing|) whether or not that session stays.
    std::unique_ptr<UpgradeJob> upgrade;
    uint64_t upgradeConn = 0;
    bool flashing = false;
    // ONVIF devices only.
    std::unique_ptr<OnvifState> onvif;
};

enum class ConnState { AwaitHello, AwaitShare, AwaitConfirm, Session, Closing };

struct Conn
{
    uint64_t id = 0;
    net::Fd fd;
    int device = 0;
    proto::FrameAssembler assembler;
    ConnState state = ConnState::AwaitHello;
    std::string user;
    std::string peer;
    std::vector<uint8_t> loginContext; // hello and parameters as sent
    std::unique_ptr<proto::pake::PakeDevice> pake;
    // Both set once the client's confirmation matched; every frame after
    // that is sealed.
    std::unique_ptr<proto::session::FrameSealer> sealer;
    std::unique_ptr<proto::session::FrameOpener> opener;
    net::Clock::time_point lastActivity = net::Clock::now();
    std::vector<uint8_t> out;
    bool closeAfterFlush = false;
    bool fullFrames = false; // frames up to the protocol's limit once logged in
    // Open live streams; they end with the connection. Declared last, so
    // their threads are joined before anything they look at goes.
    std::vector<std::unique_ptr<LiveStream>> streams;
};

struct Hub
{
    net::Fd fd;
    net::Endpoint bound;
    std::deque<std::pair<sockaddr_in, std::vector<uint8_t>>> out;
    std::map<uint64_t, int> owed; // answers waiting per source address and port
};

struct EmulatorState
{
    Fleet fleet;
    EmulatorOptions options;
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<EmulatedDevice>> devices;
    std::map<uint64_t, std::unique_ptr<Conn>> conns;
    std::vector<Hub> hubs;
    std::multimap<net::Clock::time_point, std::function<void()>> timers;
    EmulatorStats stats;
    uint64_t nextConnId = 1;
    uint32_t nextSessionId = 1;
    uint32_t nextStreamId = 1;
    // Encoder threads still running, stopped or not; the emulator waits for
    // them before it goes (they take |mutex| to see that they are stopped).
    std::atomic<int> encoderThreads { 0 };

    void log(const std::string &text) const
    {
        if (options.log)
            options.log(text);
    }

    EmulatedDevice &device(int i) { return *devices[std::size_t(i)]; }

    std::string deviceName(int i) const
    {
        const DeviceSpec &s = devices[std::size_t(i)]->model.spec();
        return s.mac + " (" + net::ipv4Text(s.ip) + ")";
    }

    void after(int ms, std::function<void()> fn)
    {
        timers.emplace(net::Clock::now() + std::chrono::milliseconds(ms), std::move(fn));
    }

    int sessionsOf(int device) const
    {
        int n = 0;
        for (const auto &kv : conns)
            n += kv.second->device == device && kv.second->state == ConnState::Session;
        return n;
    }

    // The MAC text of another device that holds |ip| (host order); empty when
    // none does. No two devices of the emulator share an address.
    std::string holderOf(uint32_t ip, std::size_t except) const
    {
        for (std::size_t j = 0; j < devices.size(); ++j) {
            if (j != except && devices[j]->model.spec().ip == ip)
                return devices[j]->model.spec().mac;
        }
        return std::string();
    }

    void dropConnections(int device)
    {
        for (auto it = conns.begin(); it != conns.end();) {
            if (it->second->device == device)
                it = conns.erase(it);
            else
                ++it;
        }
    }
};

inline sockaddr_in toSockaddr(uint32_t address, uint16_t port)
{
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

} // namespace scoutrix::devsim
