#include "WsSearch.h"

#include <algorithm>

#include "BackendSession.h"
#include "HttpDeviceApi.h"
#include "WsDiscovery.h"

namespace scoutrix::netsdk::onvifbackend {

namespace {

// One completion call may take this long at most; a device slower than that
// on its unauthenticated calls is not worth holding the search for.
constexpr int kCompletionCallMs = 2000;
// ProbeMatches are small; a datagram beyond this is nobody's answer.
constexpr std::size_t kMaxMatchesBytes = 64 * 1024;

// The first XAddr the SDK can reach: http, IPv4 (a camera often lists an
// IPv6 or link-local address first).
bool pickXaddr(const std::vector<std::string> &xaddrs, onvif::HttpUrl &out)
{
    for (const std::string &x : xaddrs) {
        auto url = onvif::parseHttpUrl(x);
        if (url && url->host.find_first_not_of("0123456789.") == std::string::npos
            && !hostRefused(url->host)) {
            out = *url;
            return true;
        }
    }
    return false;
}

} // namespace

WsSearch::WsSearch(Clock::time_point deadline)
    : m_deadline(deadline)
{
    onvif::discovery::Probe probe;
    probe.types.push_back(onvif::discovery::networkVideoTransmitter());
    m_probe = onvif::discovery::buildProbe(probe);
    m_messageId = probe.messageId;
}

WsSearch::~WsSearch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_active -= int(m_queue.size());
        m_queue.clear();
    }
    for (std::thread &t : m_workers)
        t.join();
}

WsSearch::Offer WsSearch::offer(const uint8_t *data, std::size_t size)
{
    const auto *begin = reinterpret_cast<const char *>(data);
    std::string_view text(begin, size);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || text[first] != '<')
        return Offer::NotXml;
    if (size > kMaxMatchesBytes)
        return Offer::Malformed;
    auto matches = onvif::discovery::parseProbeMatches(text);
    if (!matches)
        return Offer::Malformed;
    // Answers to another prober on the same segment come to us too in
    // multicast setups; only ours count.
    if (matches->relatesTo != m_messageId)
        return Offer::Foreign;
    Offer result = Offer::Repeat;
    for (const onvif::discovery::ProbeMatch &m : matches->matches) {
        if (!m_endpoints.insert(m.address).second)
            continue;
        onvif::HttpUrl url;
        if (!pickXaddr(m.xaddrs, url))
            continue;
        Completed c;
        c.found.endpoint = m.address;
        c.found.scopes = m.scopes;
        for (const auto &t : m.types)
            c.found.types.push_back(t.local);
        c.found.host = url.host;
        c.found.port = url.port;
        c.path = url.path;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(c));
        ++m_active;
        if (m_runningWorkers < kMaxParallel) {
            ++m_runningWorkers;
            m_workers.emplace_back([this] { work(); });
        }
        result = Offer::Queued;
    }
    return result;
}

void WsSearch::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_queue.empty()) {
        Completed c = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_deadline - Clock::now()).count();
        bool reachable = false;
        if (left > 0) {
            onvif::HttpDeviceApi api(c.found.host, c.found.port, c.path);
            api.setTimeoutMs(int(std::min<long long>(left, kCompletionCallMs)));
            reachable = bool(api.getSystemDateAndTime());
            if (reachable) {
                if (auto info = api.getDeviceInformation())
                    c.found.info = info.value();
            }
        }
        // A device that answered the probe is listed even when its service
        // does not answer yet (a camera still starting its web server after
        // a move, or one in a segment the PC has no route to): its record is
        // filled from the probe alone, and hiding it would hide exactly the
        // device the installer came to find.
        lock.lock();
        m_done.push_back(std::move(c));
        --m_active;
    }
    --m_runningWorkers; // under the lock that saw the queue empty: offer() starts another
}

std::vector<WsSearch::Completed> WsSearch::takeCompleted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Completed> out;
    out.swap(m_done);
    return out;
}

bool WsSearch::busy()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_active > 0;
}

} // namespace scoutrix::netsdk::onvifbackend
