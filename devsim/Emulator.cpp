#include "Emulator.h"

#include <atomic>
#include <thread>

#include "DiscoveryResponder.h"
#include "EmulatorState.h"
#include "OnvifHost.h"
#include "Session.h"
#include "SocketLoop.h"
#include "StatePersistence.h"

namespace scoutrix::devsim {

struct Emulator::Impl
{
    EmulatorState state;
    SocketLoop loop { state };
    StatePersistence persistence { state };
    Session session { state, loop, persistence };
    DiscoveryResponder discovery { state, loop, persistence };
    std::unique_ptr<OnvifHost> onvif;
    std::atomic<bool> stopping { false };
    std::thread thread;
    bool running = false;

    Impl() { loop.attach(&session, &discovery); }
};

Emulator::Emulator(Fleet fleet, EmulatorOptions options)
    : d(std::make_unique<Impl>())
{
    d->state.fleet = std::move(fleet);
    d->state.options = std::move(options);
    if (d->state.options.discovery.empty())
        d->state.options.discovery.push_back(
            net::Endpoint { 0x7f000001u, proto::DiscoveryPort });
}

Emulator::~Emulator()
{
    stop();
}

bool Emulator::start(std::string &error)
{
    if (d->running)
        return true;
    EmulatorState &st = d->state;
    if (!validateFleet(st.fleet, error))
        return false;
    st.devices.clear();
    for (const DeviceSpec &s : st.fleet.devices)
        st.devices.push_back(std::make_unique<EmulatedDevice>(s));
    if (!d->persistence.load(error))
        return false;
    if (!d->loop.openHubs(error))
        return false;
    for (std::size_t i = 0; i < st.devices.size(); ++i) {
        if (st.devices[i]->model.spec().protocol == Protocol::Onvif)
            continue; // served over HTTP by the ONVIF host
        std::string why;
        if (!d->loop.openListener(int(i), why)) {
            error = "device " + st.deviceName(int(i)) + ": " + why;
            st.hubs.clear();
            st.devices.clear();
            return false;
        }
    }
    if (!d->loop.openWakePipe(error))
        return false;
    d->onvif = std::make_unique<OnvifHost>(st, d->persistence, *this);
    if (!d->onvif->start(error)) {
        d->onvif.reset();
        st.hubs.clear();
        st.devices.clear();
        return false;
    }
    d->stopping = false;
    d->thread = std::thread([this] { d->loop.run(d->stopping); });
    d->running = true;
    return true;
}

void Emulator::stop()
{
    if (!d->running)
        return;
    // First the ONVIF servers, whose requests wait for the loop's lock.
    if (d->onvif)
        d->onvif->stop();
    d->stopping = true;
    d->loop.wake();
    d->thread.join();
    {
        std::lock_guard<std::mutex> lock(d->state.mutex);
        d->loop.closeAll();
        d->running = false;
    }
    // The streams are stopped; their threads end after the frame in hand.
    while (d->state.encoderThreads > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::vector<net::Endpoint> Emulator::discoveryEndpoints() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    std::vector<net::Endpoint> out;
    for (const auto &h : d->state.hubs)
        out.push_back(h.bound);
    return out;
}

int Emulator::deviceCount() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return int(d->state.devices.size());
}

DeviceSnapshot Emulator::device(int index) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    DeviceSnapshot s;
    if (index < 0 || std::size_t(index) >= d->state.devices.size())
        return s;
    const auto &dev = *d->state.devices[std::size_t(index)];
    s.mac = dev.model.spec().mac;
    s.serial = dev.model.spec().serial;
    s.ip = dev.model.spec().ip;
    s.port = dev.model.boundPort();
    s.reachable = dev.reachable;
    s.rebooting = dev.rebooting;
    s.sessions = d->state.sessionsOf(index);
    s.version = dev.model.spec().version;
    s.logo = dev.model.logo();
    s.upgrading = dev.upgrade != nullptr;
    s.protocol = dev.model.spec().protocol;
    return s;
}

int Emulator::indexOfMac(const std::string &mac) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    for (std::size_t i = 0; i < d->state.devices.size(); ++i) {
        if (d->state.devices[i]->model.spec().mac == mac)
            return int(i);
    }
    return -1;
}

void Emulator::setFaults(int index, const Faults &faults)
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    if (index >= 0 && std::size_t(index) < d->state.devices.size())
        d->state.devices[std::size_t(index)]->model.spec().faults = faults;
}

bool Emulator::record(int index, int32_t command, int32_t channel, std::vector<uint8_t> &out) const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    if (index < 0 || std::size_t(index) >= d->state.devices.size())
        return false;
    return d->state.devices[std::size_t(index)]->model.getConfig(command, channel, out) == proto::Ok;
}

EmulatorStats Emulator::stats() const
{
    std::lock_guard<std::mutex> lock(d->state.mutex);
    return d->state.stats;
}

} // namespace scoutrix::devsim
