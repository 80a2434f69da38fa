#pragma once
// The network side of the emulator's ONVIF devices: for each, an HTTP
// server (cpp-httplib) on its own loopback address with the device, media
// and imaging services and the firmware upload path, and an RTSP server
// for its two profiles. Servers are started, stopped and moved by one
// worker thread that never holds the emulator's mutex while it waits for a
// server, so a request being answered (which takes that mutex) always ends.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OnvifService.h"

namespace scoutrix::devsim {

class Emulator;
struct EmulatorState;
class StatePersistence;

class OnvifHost final : public OnvifControl
{
public:
    // Request bodies of the services larger than this are refused.
    static constexpr std::size_t MaxSoapBody = 1u << 20;

    OnvifHost(EmulatorState &state, StatePersistence &persistence, const Emulator &emulator);
    ~OnvifHost() override;
    OnvifHost(const OnvifHost &) = delete;
    OnvifHost &operator=(const OnvifHost &) = delete;

    // Gives every ONVIF device its state and starts its servers; false with
    // the reason when one cannot listen.
    bool start(std::string &error);
    void stop();

    void moveDevice(int device) override;
    void rebootDevice(int device, int downMs) override;
    void restream(int device) override;

private:
    struct Served;
    using Clock = std::chrono::steady_clock;

    bool startDevice(int device, std::string &error);
    void stopDevice(int device);
    // The end of a reboot: the device listens again.
    void boot(int device);
    bool startRtsp(int device, std::string &error);
    void stopRtsp(int device);
    // Runs |fn| on the worker after |delayMs|.
    void later(int delayMs, std::function<void()> fn);
    void work();
    void upload(int device, const std::string &token, std::string &&file, int &status, std::string &text);
    void finishUpgrade(int device);

    EmulatorState &m_state;
    StatePersistence &m_persistence;
    const Emulator &m_emulator;
    OnvifService m_service;
    std::vector<std::unique_ptr<Served>> m_served; // by device index; null for own devices

    std::mutex m_queueMutex;
    std::condition_variable m_queueWake;
    std::multimap<Clock::time_point, std::function<void()>> m_queue;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace scoutrix::devsim
