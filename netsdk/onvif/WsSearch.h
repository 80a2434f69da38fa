#pragma once
// The WS-Discovery half of one search: the Probe it sends, the ProbeMatches
// it takes, and the completion of each new device with unauthenticated
// calls (GetSystemDateAndTime for reachability, GetDeviceInformation where
// the device allows it) on a few worker threads, so that a large fleet is
// completed within the search's own time.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RecordMap.h"

namespace scoutrix::netsdk::onvifbackend {

class WsSearch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMaxParallel = 8;

    explicit WsSearch(Clock::time_point deadline);
    ~WsSearch(); // waits for the workers, whose calls end by the deadline
    WsSearch(const WsSearch &) = delete;
    WsSearch &operator=(const WsSearch &) = delete;

    // The Probe datagram; the same for every send of this search.
    const std::string &probe() const { return m_probe; }

    enum class Offer { NotXml, Malformed, Foreign, Repeat, Queued };
    // A datagram that was not the own protocol's.
    Offer offer(const uint8_t *data, std::size_t size);

    struct Completed {
        onvifmap::FoundDevice found;
        std::string path; // of the device service
    };
    std::vector<Completed> takeCompleted();
    // Devices queued or being completed.
    bool busy();

private:
    void work();

    const Clock::time_point m_deadline;
    std::string m_probe;
    std::string m_messageId;
    std::set<std::string> m_endpoints; // seen in matches, so each is completed once

    std::mutex m_mutex;
    std::deque<Completed> m_queue;
    std::vector<Completed> m_done;
    int m_active = 0; // queued + running
    std::vector<std::thread> m_workers;
    int m_runningWorkers = 0;
};

} // namespace scoutrix::netsdk::onvifbackend
