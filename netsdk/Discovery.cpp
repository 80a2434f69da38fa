// Search and set without login over UDP.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "Backend.h"
#include "Internal.h"
#include "Net.h"
#include "NetSdkControl.h"
#include "Protocol.h"
#include "RecordMap.h"
#include "Settings.h"
#include "WsSearch.h"

namespace scoutrix::netsdk {

namespace {

using net::Clock;
using net::Endpoint;
using std::chrono::milliseconds;

constexpr int kDefaultSearchTimeoutMs = 5000;
constexpr int kDefaultSetTimeoutMs = 10000;
// A second probe covers one lost datagram on a busy LAN; answers to it that
// repeat an earlier answer byte for byte are dropped.
constexpr int kSecondProbeMs = 250;
// How long the search listens after the last probe: a device that answers
// 500 ms after the probe it heard (even the second one) is still in time.
constexpr int kAnswerWindowMs = 600;
constexpr int kDefaultQuietMs = 250;
constexpr int kSetResendMs = 1000;
constexpr int kNetInfoSize = 144;
constexpr int32_t kNetworkCommand = 20;
constexpr int kMacOffset = 109;
constexpr int kMacField = 35;
// WS-Discovery's multicast group; cameras listen there, not on the own
// protocol's broadcast port.
constexpr uint32_t kWsDiscoveryGroup = 0xeffffffau; // 239.255.255.250
constexpr uint16_t kWsDiscoveryPort = 3702;
// While ONVIF devices are being completed the loop looks at them this often.
constexpr int kCompletionPollMs = 10;
// A ProbeMatches with many scopes is larger than any own-protocol datagram.
constexpr std::size_t kMaxDatagram = 65536;

std::mutex g_mutex;
std::vector<Endpoint> g_explicitTargets;
SearchStats g_lastStats;

// Calls |take| for every IPv4 interface that is up and not loopback.
template <typename Take>
void forEachInterface(Take take)
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return;
    for (ifaddrs *i = list; i; i = i->ifa_next) {
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_UP)
            && !(i->ifa_flags & IFF_LOOPBACK))
            take(*i);
    }
    freeifaddrs(list);
}

std::vector<Endpoint> broadcastTargets()
{
    std::vector<Endpoint> out;
    forEachInterface([&](const ifaddrs &i) {
        if (!(i.ifa_flags & IFF_BROADCAST) || !i.ifa_broadaddr)
            return;
        Endpoint e;
        e.address = ntohl(reinterpret_cast<const sockaddr_in *>(i.ifa_broadaddr)->sin_addr.s_addr);
        e.port = proto::DiscoveryPort;
        if (std::find(out.begin(), out.end(), e) == out.end())
            out.push_back(e);
    });
    return out;
}

// IPv4 addresses of the interfaces a multicast probe leaves through.
std::vector<in_addr> multicastInterfaces()
{
    std::vector<in_addr> out;
    forEachInterface([&](const ifaddrs &i) {
        if (i.ifa_flags & IFF_MULTICAST)
            out.push_back(reinterpret_cast<const sockaddr_in *>(i.ifa_addr)->sin_addr);
    });
    return out;
}

std::string macTextOfRecord(const uint8_t *record)
{
    const char *field = reinterpret_cast<const char *>(record + kMacOffset);
    const void *nul = std::memchr(field, 0, kMacField);
    return std::string(field, nul ? std::size_t(static_cast<const char *>(nul) - field) : kMacField);
}

struct Socket
{
    net::Fd fd;
    bool open(bool broadcast, std::string &error)
    {
        fd.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd.valid() || !net::setNonBlocking(fd.get())) {
            error = std::strerror(errno);
            return false;
        }
        // A whole fleet answers at once: room for a few hundred datagrams.
        const int rcv = 4 << 20;
        setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
        if (broadcast) {
            const int one = 1;
            setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        }
        sockaddr_in any {};
        any.sin_family = AF_INET;
        if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&any), sizeof any) != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    // Number of targets the datagram left for.
    int sendToAll(const std::vector<Endpoint> &targets, const std::vector<uint8_t> &datagram)
    {
        return sendToAll(targets, datagram.data(), datagram.size());
    }
    int sendToAll(const std::vector<Endpoint> &targets, const void *data, std::size_t size)
    {
        int sent = 0;
        for (const Endpoint &t : targets) {
            // The targets were checked against the loopback guard already.
            if (sendTo(t, data, size))
                ++sent;
        }
        return sent;
    }
    bool sendTo(const Endpoint &t, const void *data, std::size_t size)
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(t.port);
        to.sin_addr.s_addr = htonl(t.address);
        countDatagram();
        return ::sendto(fd.get(), data, size, 0, reinterpret_cast<sockaddr *>(&to), sizeof to)
            == ssize_t(size);
    }
    // The WS-Discovery probe to the multicast group, once through every
    // interface: without IP_MULTICAST_IF it would leave by the default
    // route's interface only. Never used in a guarded process.
    int multicastProbe(const std::string &probe)
    {
        int sent = 0;
        for (const in_addr &ifAddr : multicastInterfaces()) {
            if (setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) != 0)
                continue;
            if (sendTo(Endpoint {kWsDiscoveryGroup, kWsDiscoveryPort}, probe.data(), probe.size()))
                ++sent;
        }
        return sent;
    }
    bool wait(int ms)
    {
        pollfd p { fd.get(), POLLIN, 0 };
        return ::poll(&p, 1, ms) > 0;
    }
    // One datagram, or false when none is waiting.
    bool receive(std::vector<uint8_t> &buf, std::size_t &size)
    {
        buf.resize(kMaxDatagram);
        for (;;) {
            const ssize_t n = ::recv(fd.get(), buf.data(), buf.size(), 0);
            if (n >= 0) {
                size = std::size_t(n);
                return true;
            }
            if (errno != EINTR)
                return false;
        }
    }
};

int msSince(Clock::time_point start)
{
    return int(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
}

std::atomic<int> g_datagramsSent { 0 };
std::atomic<int> g_tcpConnects { 0 };

} // namespace

bool loopbackOnly()
{
    const char *v = std::getenv("SCOUTRIX_NETSDK_LOOPBACK_ONLY");
    return v && *v && std::strcmp(v, "0") != 0;
}

void countDatagram()
{
    ++g_datagramsSent;
}

void countTcpConnect()
{
    ++g_tcpConnects;
}

TrafficCounters trafficCounters()
{
    return TrafficCounters { g_datagramsSent.load(), g_tcpConnects.load() };
}

void setDiscoveryTargets(const std::vector<Endpoint> &targets)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_explicitTargets = targets;
}

void clearDiscoveryTargets()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_explicitTargets.clear();
}

TargetChoice resolveDiscoveryTargets()
{
    TargetChoice c;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_explicitTargets.empty()) {
            c.targets = g_explicitTargets;
            c.source = "explicit";
        }
    }
    if (c.targets.empty()) {
        const char *env = std::getenv("SCOUTRIX_DISCOVERY");
        const std::string ini = env && *env ? std::string() : iniValue("Discovery", "targets");
        const std::string text = env && *env ? std::string(env) : ini;
        if (!text.empty()) {
            c.source = env && *env ? "environment" : "ini";
            if (!net::parseEndpointList(text, c.targets, c.error)) {
                c.error = c.source + ": " + c.error;
                c.targets.clear();
                return c; // a mistyped override must not fall back to broadcasting
            }
        }
    }
    const bool guard = loopbackOnly();
    if (c.targets.empty()) {
        if (guard) {
            c.error = "no loopback discovery target set";
            return c;
        }
        c.targets = broadcastTargets();
        if (c.targets.empty())
            c.targets.push_back(Endpoint { 0xffffffffu, proto::DiscoveryPort });
        c.source = "broadcast";
        c.broadcast = true;
        return c;
    }
    if (guard) {
        const auto outside = std::remove_if(c.targets.begin(), c.targets.end(),
            [](const Endpoint &e) { return !net::isLoopback(e.address); });
        if (outside != c.targets.end())
            c.error = "targets outside 127.0.0.0/8 dropped";
        c.targets.erase(outside, c.targets.end());
    }
    return c;
}

int quietPeriodMs(int timeoutMs)
{
    const int configured = intSetting("SCOUTRIX_SEARCH_QUIET_MS", "Discovery", "quiet_ms", 0);
    if (configured > 0)
        return configured;
    return std::clamp(timeoutMs / 4, 1, kDefaultQuietMs);
}

int answerWindowMs(int timeoutMs)
{
    return std::max(kAnswerWindowMs, quietPeriodMs(timeoutMs));
}

DeviceProtocol protocolOf(const std::string &macText)
{
    return onvifbackend::deviceByMac(macText) ? DeviceProtocol::Onvif : DeviceProtocol::Own;
}

const char *protocolName(DeviceProtocol protocol)
{
    return protocol == DeviceProtocol::Onvif ? "onvif" : "own";
}

SearchStats lastSearchStats()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lastStats;
}

uint8_t search(char *buffer, int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs)
{
    if (bytesReturned)
        *bytesReturned = 0;
    if (!buffer || !bytesReturned || bufferSize < 0)
        return 0;
    const TargetChoice choice = resolveDiscoveryTargets();
    if (choice.targets.empty())
        return 0;
    Socket sock;
    std::string error;
    if (!sock.open(choice.broadcast, error))
        return 0;

    const int timeout = timeoutMs > 0 ? timeoutMs : kDefaultSearchTimeoutMs;
    const int quiet = quietPeriodMs(timeout);
    const int window = answerWindowMs(timeout);
    const std::size_t capacity = std::size_t(bufferSize) / proto::SearchRecordSize;
    const auto start = Clock::now();
    const auto deadline = start + milliseconds(timeout);
    const uint32_t searchId = proto::randomU32();

    SearchStats stats;
    onvifbackend::WsSearch ws(deadline);
    std::vector<onvifbackend::KnownDevice> onvifFound;
    std::unordered_set<std::string> macs; // of every record placed, for the ONVIF answers
    std::unordered_set<std::string> seen;
    std::size_t count = 0;
    int attempt = 0;
    auto nextProbe = start;
    // The search ends once the answer window after the last probe has passed
    // and no new answer came for the quiet period, whichever is later.
    auto listenUntil = start;
    std::vector<uint8_t> datagram;
    bool anySent = false;
    // An ONVIF device joins the records unless a device with its MAC text is
    // in them already (e.g. one that speaks both protocols).
    auto mergeOnvif = [&](onvifbackend::WsSearch::Completed &done) {
        if (count >= capacity)
            return;
        uint8_t record[proto::SearchRecordSize];
        onvifmap::fillSearchRecord(done.found, record);
        // The device is known by the MAC text its record carries, as the
        // program will name it back.
        std::string mac = macTextOfRecord(record);
        if (mac.empty())
            mac = onvifmap::macTextOf(done.found).substr(0, kMacField - 1);
        if (mac.empty() || !macs.insert(mac).second) {
            ++stats.repeats;
            return;
        }
        std::memcpy(buffer + count * proto::SearchRecordSize, record, proto::SearchRecordSize);
        ++count;
        onvifFound.push_back(onvifbackend::KnownDevice {mac, done.found.host, done.found.port,
            done.path, done.found.endpoint, onvifmap::deviceTypeOf(done.found)});
    };

    while (count < capacity) {
        auto now = Clock::now();
        if (attempt < 2 && now >= nextProbe) {
            proto::SearchProbe probe;
            probe.searchId = searchId;
            probe.attempt = uint16_t(attempt);
            const int sent = sock.sendToAll(choice.targets,
                proto::encodeFrame(proto::Type::SearchProbe, 0, proto::encode(probe)));
            // ONVIF devices hear the WS-Discovery probe: at an explicit target
            // (a camera's address and port 3702 on a real site) or through
            // the multicast group.
            const int wsSent = choice.broadcast
                ? sock.multicastProbe(ws.probe())
                : sock.sendToAll(choice.targets, ws.probe().data(), ws.probe().size());
            anySent = anySent || sent > 0 || wsSent > 0;
            stats.probesSent += sent + wsSent;
            ++attempt;
            nextProbe = start + milliseconds(kSecondProbeMs);
            listenUntil = std::max(listenUntil, now + milliseconds(window));
        }
        if (!anySent && attempt >= 2)
            break;
        for (auto &done : ws.takeCompleted())
            mergeOnvif(done);
        const bool completing = ws.busy();
        if (now >= deadline || (attempt >= 2 && now >= listenUntil && !completing))
            break;
        // While completions run the answer window may be over already: wake
        // for them, not in a tight loop on the past window.
        const auto poll = now + milliseconds(kCompletionPollMs);
        auto wakeAt = std::min(deadline, completing ? poll : listenUntil);
        if (attempt < 2)
            wakeAt = std::min(wakeAt, nextProbe);
        const int waitMs = std::max(1, net::remainingMs(wakeAt));
        if (!sock.wait(waitMs))
            continue;
        std::size_t size = 0;
        // A sender that never lets the socket run dry must not hold the search
        // past its deadline or keep the second probe from going out.
        auto stillListening = [&] {
            const auto at = Clock::now();
            return at < deadline && (attempt >= 2 || at < nextProbe);
        };
        while (count < capacity && stillListening() && sock.receive(datagram, size)) {
            proto::Frame frame;
            std::string why;
            if (!proto::decodeDatagram(datagram.data(), size, frame, why)) {
                switch (ws.offer(datagram.data(), size)) {
                case onvifbackend::WsSearch::Offer::Queued:
                    listenUntil = std::max(listenUntil, Clock::now() + milliseconds(quiet));
                    break;
                case onvifbackend::WsSearch::Offer::Repeat:
                    ++stats.repeats;
                    break;
                case onvifbackend::WsSearch::Offer::Foreign:
                    ++stats.foreign;
                    break;
                default:
                    ++stats.malformed;
                }
                continue;
            }
            proto::SearchAnswer answer;
            if (frame.type != uint8_t(proto::Type::SearchAnswer)) {
                ++stats.foreign;
                continue;
            }
            if (!proto::decode(frame.payload, answer)) {
                ++stats.malformed;
                continue;
            }
            if (answer.searchId != searchId) {
                ++stats.foreign;
                continue;
            }
            std::string key(reinterpret_cast<const char *>(answer.record), proto::SearchRecordSize);
            if (!seen.insert(std::move(key)).second) {
                ++stats.repeats;
                continue;
            }
            std::memcpy(
                buffer + count * proto::SearchRecordSize, answer.record, proto::SearchRecordSize);
            macs.insert(macTextOfRecord(answer.record));
            ++count;
            listenUntil = std::max(listenUntil, Clock::now() + milliseconds(quiet));
        }
    }
    if (count < capacity) {
        for (auto &done : ws.takeCompleted())
            mergeOnvif(done);
    }
    if (anySent)
        onvifbackend::rememberSearch(onvifFound);
    stats.answers = int(count);
    stats.elapsedMs = msSince(start);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_lastStats = stats;
    }
    if (!anySent)
        return 0;
    *bytesReturned = int32_t(count * proto::SearchRecordSize);
    return 1;
}

int32_t setWithoutLogin(
    int32_t command, int32_t channel, const void *record, int32_t size, int32_t timeoutMs)
{
    // The device is addressed by the MAC text of the network record the
    // caller sends back; without it the request could reach any device.
    if (!record || size < kNetInfoSize || size > int32_t(proto::MaxUdpPayload - 64))
        return proto::InvalidArgument;
    const auto *bytes = static_cast<const uint8_t *>(record);
    const char *macField = reinterpret_cast<const char *>(bytes + kMacOffset);
    const void *nul = std::memchr(macField, 0, kMacField);
    const std::string mac(
        macField, nul ? std::size_t(static_cast<const char *>(nul) - macField) : kMacField);
    if (mac.empty())
        return proto::InvalidArgument;
    if (onvifbackend::deviceByMac(mac)) {
        if (command != kNetworkCommand)
            return NETSDK_ERR_NOT_SUPPORTED;
        return onvifbackend::setNetwork(
            mac, record, size, timeoutMs > 0 ? timeoutMs : kDefaultSetTimeoutMs);
    }

    const TargetChoice choice = resolveDiscoveryTargets();
    if (choice.targets.empty())
        return proto::NetworkError;
    Socket sock;
    std::string error;
    if (!sock.open(choice.broadcast, error))
        return proto::NetworkError;

    proto::SetNoLoginRequest req;
    req.requestId = proto::randomU32();
    req.command = command;
    req.channel = channel;
    req.mac = mac;
    req.record.assign(bytes, bytes + size);
    const std::vector<uint8_t> datagram
        = proto::encodeFrame(proto::Type::SetNoLogin, 0, proto::encode(req));

    const int timeout = timeoutMs > 0 ? timeoutMs : kDefaultSetTimeoutMs;
    const auto start = Clock::now();
    const auto deadline = start + milliseconds(timeout);
    auto nextSend = start;
    bool anySent = false;
    std::vector<uint8_t> buf;
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline)
            return anySent ? proto::Timeout : proto::NetworkError;
        if (now >= nextSend) {
            // Repeats carry the same request id: the device applies it once.
            anySent = sock.sendToAll(choice.targets, datagram) > 0 || anySent;
            nextSend = now + milliseconds(kSetResendMs);
        }
        if (!sock.wait(std::max(1, net::remainingMs(std::min(deadline, nextSend)))))
            continue;
        std::size_t n = 0;
        while (Clock::now() < std::min(deadline, nextSend) && sock.receive(buf, n)) {
            proto::Frame frame;
            std::string why;
            proto::SetNoLoginReply reply;
            if (!proto::decodeDatagram(buf.data(), n, frame, why)
                || frame.type != uint8_t(proto::Type::SetNoLoginReply)
                || !proto::decode(frame.payload, reply))
                continue;
            // Anyone may answer; only the echo of this request's random id
            // from the addressed MAC counts.
            if (reply.requestId == req.requestId && reply.mac == mac)
                return reply.result;
        }
    }
}

} // namespace scoutrix::netsdk
