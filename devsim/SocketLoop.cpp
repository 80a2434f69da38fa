#include "SocketLoop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "DiscoveryResponder.h"
#include "EmulatorState.h"
#include "Session.h"

namespace scoutrix::devsim {

namespace {

constexpr auto kLoginIdleLimit = std::chrono::seconds(10);
constexpr auto kSessionIdleLimit = std::chrono::seconds(120);
// Work done per wake-up and memory held stay bounded however hard a client
// pushes, so a probe flood never starves logins and timers.
constexpr int kDatagramsPerWake = 64;
constexpr int kOwedPerSource = 1024;
constexpr int kOwedInTotal = 8192;
constexpr std::size_t kPreLoginPayload = 4096;
constexpr std::size_t kConnsPerDevice = 64;
constexpr std::size_t kConnsInTotal = 1024;
constexpr std::size_t kPreLoginPerDevice = 16;
constexpr std::size_t kOutputLimit = 4u << 20;
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

uint64_t sourceKey(const sockaddr_in &a)
{
    return uint64_t(ntohl(a.sin_addr.s_addr)) << 16 | ntohs(a.sin_port);
}

} // namespace

bool SocketLoop::openHubs(std::string &error)
{
    for (const net::Endpoint &e : m_state.options.discovery) {
        Hub h;
        h.fd.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const int big = 4 << 20;
        setsockopt(h.fd.get(), SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        setsockopt(h.fd.get(), SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        sockaddr_in sa = toSockaddr(e.address, e.port);
        if (!h.fd.valid() || ::bind(h.fd.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0
            || !net::setNonBlocking(h.fd.get())) {
            error = "discovery " + net::endpointText(e) + ": " + std::strerror(errno);
            m_state.hubs.clear();
            return false;
        }
        socklen_t len = sizeof sa;
        getsockname(h.fd.get(), reinterpret_cast<sockaddr *>(&sa), &len);
        h.bound = net::Endpoint { e.address, ntohs(sa.sin_port) };
        m_state.hubs.push_back(std::move(h));
    }
    return true;
}

bool SocketLoop::openListener(int i, std::string &error)
{
    EmulatedDevice &dev = m_state.device(i);
    dev.listener.reset();
    dev.reachable = false;
    const DeviceSpec &s = dev.model.spec();
    // Only loopback addresses are this machine's; elsewhere the device
    // keeps answering searches but nobody can reach it, as a device in a
    // foreign subnet.
    if (!net::isLoopback(s.ip)) {
        error = net::ipv4Text(s.ip) + " is not local";
        return false;
    }
    net::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // A system-chosen port is chosen once and kept across moves and reboots.
    const bool systemPort = m_state.options.ephemeralPorts || s.port == 0;
    const uint16_t port
        = !systemPort ? s.port : (dev.model.hasBoundPort() ? dev.model.boundPort() : 0);
    sockaddr_in sa = toSockaddr(s.ip, port);
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0
        || ::listen(fd.get(), 128) != 0 || !net::setNonBlocking(fd.get())) {
        error = net::ipv4Text(s.ip) + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof sa;
    getsockname(fd.get(), reinterpret_cast<sockaddr *>(&sa), &len);
    dev.model.setBoundPort(ntohs(sa.sin_port));
    dev.listener = std::move(fd);
    dev.reachable = true;
    return true;
}

void SocketLoop::closeListener(int i)
{
    EmulatedDevice &dev = m_state.device(i);
    dev.listener.reset();
    dev.reachable = false;
}

void SocketLoop::moveDevice(int i)
{
    m_state.dropConnections(i);
    closeListener(i);
    if (m_state.device(i).rebooting)
        return;
    std::string error;
    if (!openListener(i, error))
        m_state.log(m_state.deviceName(i) + ": unreachable: " + error);
}

bool SocketLoop::openWakePipe(std::string &error)
{
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::strerror(errno);
        return false;
    }
    m_wakeRead.reset(p[0]);
    m_wakeWrite.reset(p[1]);
    return true;
}

void SocketLoop::wake()
{
    const char c = 1;
    if (m_wakeWrite.valid())
        (void)!::write(m_wakeWrite.get(), &c, 1);
}

void SocketLoop::closeAll()
{
    m_state.conns.clear();
    m_state.hubs.clear();
    m_state.timers.clear();
    for (std::size_t i = 0; i < m_state.devices.size(); ++i)
        closeListener(int(i));
}

// ---- UDP ------------------------------------------------------------------

void SocketLoop::hubSend(std::size_t hub, const sockaddr_in &to, const std::vector<uint8_t> &bytes)
{
    Hub &h = m_state.hubs[hub];
    if (h.out.empty()) {
        const ssize_t n = ::sendto(h.fd.get(), bytes.data(), bytes.size(), 0,
            reinterpret_cast<const sockaddr *>(&to), sizeof to);
        if (n == ssize_t(bytes.size()) || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            settle(hub, to);
            return;
        }
    }
    h.out.emplace_back(to, bytes);
}

// One owed answer is out (or lost for good).
void SocketLoop::settle(std::size_t hub, const sockaddr_in &to)
{
    Hub &h = m_state.hubs[hub];
    const auto it = h.owed.find(sourceKey(to));
    if (it != h.owed.end() && --it->second <= 0)
        h.owed.erase(it);
    --m_state.stats.pendingAnswers;
}

void SocketLoop::hubFlush(std::size_t hub)
{
    Hub &h = m_state.hubs[hub];
    while (!h.out.empty()) {
        auto &front = h.out.front();
        const ssize_t n = ::sendto(h.fd.get(), front.second.data(), front.second.size(), 0,
            reinterpret_cast<const sockaddr *>(&front.first), sizeof front.first);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        const sockaddr_in to = front.first;
        h.out.pop_front();
        settle(hub, to);
    }
}

bool SocketLoop::sendLater(
    std::size_t hub, const sockaddr_in &to, std::vector<uint8_t> bytes, int delayMs)
{
    EmulatorStats &stats = m_state.stats;
    int &owed = m_state.hubs[hub].owed[sourceKey(to)];
    if (owed >= kOwedPerSource || stats.pendingAnswers >= kOwedInTotal) {
        if (owed == 0)
            m_state.hubs[hub].owed.erase(sourceKey(to));
        ++stats.droppedAnswers;
        return false;
    }
    ++owed;
    stats.peakPendingAnswers = std::max(stats.peakPendingAnswers, ++stats.pendingAnswers);
    if (delayMs <= 0) {
        hubSend(hub, to, bytes);
        return true;
    }
    m_state.after(
        delayMs, [this, hub, to, bytes = std::move(bytes)] { hubSend(hub, to, bytes); });
    return true;
}

void SocketLoop::onHubReadable(std::size_t hub)
{
    uint8_t buf[proto::HeaderSize + proto::MaxUdpPayload + 64];
    for (int k = 0; k < kDatagramsPerWake; ++k) {
        sockaddr_in from {};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(m_state.hubs[hub].fd.get(), buf, sizeof buf, 0,
            reinterpret_cast<sockaddr *>(&from), &len);
        if (n < 0)
            return;
        m_discovery->onDatagram(hub, from, buf, std::size_t(n));
    }
}

// ---- TCP ------------------------------------------------------------------

void SocketLoop::flush(Conn &c)
{
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd.get(), c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.erase(c.out.begin(), c.out.begin() + n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        c.out.clear();
        c.closeAfterFlush = true;
        return;
    }
}

void SocketLoop::queue(Conn &c, const std::vector<uint8_t> &bytes)
{
    if (c.closeAfterFlush && c.out.empty() && c.state == ConnState::Closing)
        return;
    // A client that never reads its replies gets its connection closed, not
    // an ever longer backlog.
    if (c.out.size() + bytes.size() > kOutputLimit) {
        ++m_state.stats.refusedConnections;
        m_state.log(m_state.deviceName(c.device) + ": " + c.peer + " reads no replies; closed");
        c.out.clear();
        c.closeAfterFlush = true;
        c.state = ConnState::Closing;
        return;
    }
    c.out.insert(c.out.end(), bytes.begin(), bytes.end());
    m_state.stats.peakOutputQueue = std::max(m_state.stats.peakOutputQueue, c.out.size());
    flush(c);
}

// Returns false when the connection is over.
bool SocketLoop::onConnReadable(Conn &c)
{
    uint8_t buf[16384];
    for (;;) {
        const ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
        if (n == 0) {
            if (c.assembler.pending() && c.state != ConnState::Closing) {
                ++m_state.stats.refusedFrames;
                m_state.log(m_state.deviceName(c.device) + ": truncated frame from " + c.peer);
            }
            return false;
        }
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (c.state == ConnState::Closing)
            continue; // drain; the connection goes once its last reply is out
        c.assembler.feed(buf, std::size_t(n));
        proto::Frame frame;
        for (;;) {
            const auto st = c.assembler.next(frame);
            if (st == proto::FrameAssembler::Status::NeedMore)
                break;
            if (st == proto::FrameAssembler::Status::Error) {
                m_session->refuse(c, proto::ProtocolError, c.assembler.error());
                break;
            }
            m_session->onFrame(c, frame);
            if (c.state == ConnState::Closing)
                break;
            // Only a logged-in client may send frames up to the protocol's limit.
            if (c.state == ConnState::Session && !c.fullFrames && c.assembler.pending() == 0) {
                c.assembler = proto::FrameAssembler();
                c.fullFrames = true;
            }
        }
    }
}

void SocketLoop::accept(int device)
{
    EmulatedDevice &dev = m_state.device(device);
    for (;;) {
        sockaddr_in from {};
        socklen_t len = sizeof from;
        const int fd = ::accept4(dev.listener.get(), reinterpret_cast<sockaddr *>(&from), &len,
            SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors the listener stays readable: wait a little
            // instead of spinning on it.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                ++m_state.stats.failedAccepts;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                ++m_state.stats.acceptPauses;
                dev.acceptPausedUntil = net::Clock::now() + kAcceptPause;
            }
            return;
        }
        std::size_t ofDevice = 0;
        std::size_t preLogin = 0;
        for (const auto &kv : m_state.conns) {
            if (kv.second->device != device)
                continue;
            ++ofDevice;
            preLogin += kv.second->state == ConnState::AwaitHello
                || kv.second->state == ConnState::AwaitShare
                || kv.second->state == ConnState::AwaitConfirm;
        }
        // Challenges held open in bulk are how a guesser would outrun the
        // lockout; a real client needs one or two at a time.
        if (ofDevice >= kConnsPerDevice || preLogin >= kPreLoginPerDevice
            || m_state.conns.size() >= kConnsInTotal) {
            ++m_state.stats.refusedConnections;
            ::close(fd);
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Conn>();
        c->assembler = proto::FrameAssembler(uint32_t(kPreLoginPayload));
        c->id = m_state.nextConnId++;
        c->fd.reset(fd);
        c->device = device;
        c->peer = net::ipv4Text(ntohl(from.sin_addr.s_addr));
        m_state.conns[c->id] = std::move(c);
    }
}

// ---- loop -----------------------------------------------------------------

void SocketLoop::run(const std::atomic<bool> &stopping)
{
    enum Kind { Wake, HubFd, ListenFd, ConnFd };
    struct Ref
    {
        Kind kind;
        uint64_t index;
    };
    std::vector<pollfd> fds;
    std::vector<Ref> refs;
    std::unique_lock<std::mutex> lock(m_state.mutex);
    auto &hubs = m_state.hubs;
    auto &devices = m_state.devices;
    auto &conns = m_state.conns;
    auto &timers = m_state.timers;
    while (!stopping) {
        fds.clear();
        refs.clear();
        fds.push_back({ m_wakeRead.get(), POLLIN, 0 });
        refs.push_back({ Wake, 0 });
        for (std::size_t h = 0; h < hubs.size(); ++h) {
            fds.push_back(
                { hubs[h].fd.get(), short(POLLIN | (hubs[h].out.empty() ? 0 : POLLOUT)), 0 });
            refs.push_back({ HubFd, h });
        }
        const auto wokeAt = net::Clock::now();
        int timeout = 500;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (devices[i]->acceptPausedUntil > wokeAt) {
                timeout = std::min(timeout, net::remainingMs(devices[i]->acceptPausedUntil) + 1);
                continue;
            }
            if (devices[i]->listener.valid()) {
                fds.push_back({ devices[i]->listener.get(), POLLIN, 0 });
                refs.push_back({ ListenFd, i });
            }
        }
        for (const auto &kv : conns) {
            fds.push_back({ kv.second->fd.get(),
                short(POLLIN | (kv.second->out.empty() ? 0 : POLLOUT)), 0 });
            refs.push_back({ ConnFd, kv.first });
        }
        if (!timers.empty())
            timeout = std::max(0, std::min(timeout, net::remainingMs(timers.begin()->first) + 1));
        lock.unlock();
        ::poll(fds.data(), nfds_t(fds.size()), timeout);
        lock.lock();
        if (stopping)
            break;
        std::vector<uint64_t> closing;
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (!fds[k].revents)
                continue;
            const Ref r = refs[k];
            switch (r.kind) {
            case Wake: {
                char drain[64];
                while (::read(m_wakeRead.get(), drain, sizeof drain) > 0) { }
                break;
            }
            case HubFd:
                if (fds[k].revents & POLLOUT)
                    hubFlush(r.index);
                if (fds[k].revents & POLLIN)
                    onHubReadable(r.index);
                break;
            case ListenFd:
                if (devices[r.index]->listener.valid()
                    && devices[r.index]->listener.get() == fds[k].fd)
                    accept(int(r.index));
                break;
            case ConnFd: {
                const auto it = conns.find(r.index);
                if (it == conns.end())
                    break;
                Conn &c = *it->second;
                if (fds[k].revents & POLLOUT)
                    flush(c);
                if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) && !onConnReadable(c))
                    closing.push_back(c.id);
                break;
            }
            }
        }
        const auto now = net::Clock::now();
        while (!timers.empty() && timers.begin()->first <= now) {
            auto fn = std::move(timers.begin()->second);
            timers.erase(timers.begin());
            fn();
        }
        for (auto &kv : conns) {
            Conn &c = *kv.second;
            const auto idle = now - c.lastActivity;
            if ((c.closeAfterFlush && c.out.empty())
                || (c.state != ConnState::Session && idle > kLoginIdleLimit)
                || idle > kSessionIdleLimit)
                closing.push_back(c.id);
        }
        for (const uint64_t id : closing)
            conns.erase(id);
    }
}

} // namespace scoutrix::devsim
