#include "Emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "DeviceModel.h"
#include "Protocol.h"

namespace scoutrix::devsim {

namespace {

using net::Clock;
using proto::Type;
using std::chrono::milliseconds;

constexpr auto kLoginIdleLimit = std::chrono::seconds(10);
constexpr auto kSessionIdleLimit = std::chrono::seconds(120);
constexpr std::size_t kSetCacheSize = 32;

sockaddr_in toSockaddr(uint32_t address, uint16_t port)
{
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

} // namespace

struct Emulator::Impl
{
    struct Device
    {
        explicit Device(DeviceSpec spec)
            : model(std::move(spec))
        {
        }
        DeviceModel model;
        net::Fd listener;
        bool reachable = false;
        bool rebooting = false;
        uint32_t lastSearchId = 0;
        int probesThisSearch = 0;
        std::map<uint32_t, int32_t>
            setCache; // request id -> result, so a resent request applies once
        std::deque<uint32_t> setCacheOrder;
    };

    enum class ConnState { AwaitHello, AwaitProof, Session, Closing };

    struct Conn
    {
        uint64_t id = 0;
        net::Fd fd;
        int device = 0;
        proto::FrameAssembler assembler;
        ConnState state = ConnState::AwaitHello;
        std::string user;
        std::string peer;
        uint8_t clientNonce[proto::NonceSize] = {};
        uint8_t deviceNonce[proto::NonceSize] = {};
        Clock::time_point lastActivity = Clock::now();
        std::vector<uint8_t> out;
        bool closeAfterFlush = false;
    };

    struct Hub
    {
        net::Fd fd;
        net::Endpoint bound;
        std::deque<std::pair<sockaddr_in, std::vector<uint8_t>>> out;
    };

    Fleet fleet;
    EmulatorOptions options;
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<Device>> devices;
    std::map<uint64_t, std::unique_ptr<Conn>> conns;
    std::vector<Hub> hubs;
    std::multimap<Clock::time_point, std::function<void()>> timers;
    EmulatorStats stats;
    uint64_t nextConnId = 1;
    uint32_t nextSessionId = 1;
    net::Fd wakeRead, wakeWrite;
    std::atomic<bool> stopping { false };
    std::thread thread;
    bool running = false;

    void log(const std::string &text)
    {
        if (options.log)
            options.log(text);
    }

    void wake()
    {
        const char c = 1;
        if (wakeWrite.valid())
            (void)!::write(wakeWrite.get(), &c, 1);
    }

    std::string deviceName(int i) const
    {
        const DeviceSpec &s = devices[std::size_t(i)]->model.spec();
        return s.mac + " (" + net::ipv4Text(s.ip) + ")";
    }

    // ---- listeners --------------------------------------------------------

    bool openListener(int i, std::string &error)
    {
        Device &dev = *devices[std::size_t(i)];
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
        const bool systemPort = options.ephemeralPorts || s.port == 0;
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

    void dropConnections(int device)
    {
        for (auto it = conns.begin(); it != conns.end();) {
            if (it->second->device == device)
                it = conns.erase(it);
            else
                ++it;
        }
    }

    int sessionsOf(int device) const
    {
        int n = 0;
        for (const auto &kv : conns)
            n += kv.second->device == device && kv.second->state == ConnState::Session;
        return n;
    }

    // ---- timers -----------------------------------------------------------

    void after(int ms, std::function<void()> fn)
    {
        timers.emplace(Clock::now() + milliseconds(ms), std::move(fn));
    }

    // ---- UDP --------------------------------------------------------------

    void hubSend(std::size_t hub, const sockaddr_in &to, const std::vector<uint8_t> &bytes)
    {
        Hub &h = hubs[hub];
        if (h.out.empty()) {
            const ssize_t n = ::sendto(h.fd.get(), bytes.data(), bytes.size(), 0,
                reinterpret_cast<const sockaddr *>(&to), sizeof to);
            if (n == ssize_t(bytes.size()) || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                return;
        }
        h.out.emplace_back(to, bytes);
    }

    void hubFlush(Hub &h)
    {
        while (!h.out.empty()) {
            auto &front = h.out.front();
            const ssize_t n = ::sendto(h.fd.get(), front.second.data(), front.second.size(), 0,
                reinterpret_cast<const sockaddr *>(&front.first), sizeof front.first);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            h.out.pop_front();
        }
    }

    void sendLater(std::size_t hub, const sockaddr_in &to, std::vector<uint8_t> bytes, int delayMs)
    {
        if (delayMs <= 0) {
            hubSend(hub, to, bytes);
            return;
        }
        after(delayMs, [this, hub, to, bytes = std::move(bytes)] { hubSend(hub, to, bytes); });
    }

    void onProbe(std::size_t hub, const sockaddr_in &from, const proto::SearchProbe &probe)
    {
        ++stats.probes;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            Device &dev = *devices[i];
            if (dev.rebooting)
                continue;
            if (dev.lastSearchId != probe.searchId) {
                dev.lastSearchId = probe.searchId;
                dev.probesThisSearch = 0;
            }
            const Faults &f = dev.model.spec().faults;
            if (++dev.probesThisSearch <= f.dropAnswers)
                continue;
            proto::SearchAnswer answer;
            answer.searchId = probe.searchId;
            SearchRecord rec = dev.model.searchRecord();
            if (f.emptyMac)
                std::memset(rec.net.mac, 0, sizeof rec.net.mac);
            std::memcpy(answer.record, &rec, sizeof rec);
            auto frame = proto::encodeFrame(Type::SearchAnswer, 0, proto::encode(answer));
            // A few milliseconds of spread, as devices on a LAN never answer in one burst.
            const int delay = f.delayMs + int(i % 8);
            if (f.duplicateAnswers)
                sendLater(hub, from, frame, delay + 2);
            sendLater(hub, from, std::move(frame), delay);
            ++stats.answers;
        }
    }

    void onSetWithoutLogin(
        std::size_t hub, const sockaddr_in &from, const proto::SetNoLoginRequest &req)
    {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            Device &dev = *devices[i];
            if (dev.rebooting || dev.model.spec().mac != req.mac)
                continue;
            const Faults &f = dev.model.spec().faults;
            if (f.timeout)
                continue;
            int32_t result;
            const auto cached = dev.setCache.find(req.requestId);
            if (cached != dev.setCache.end()) {
                result = cached->second;
            } else {
                result = req.command != CmdNetWithoutLogin ? proto::NotSupported
                    : f.refuseSet                          ? proto::Fail
                                                           : dev.model.setNetwork(req.record);
                dev.setCache[req.requestId] = result;
                dev.setCacheOrder.push_back(req.requestId);
                if (dev.setCacheOrder.size() > kSetCacheSize) {
                    dev.setCache.erase(dev.setCacheOrder.front());
                    dev.setCacheOrder.pop_front();
                }
                if (result != proto::Ok && !dev.model.lastRefusal().empty())
                    log(deviceName(int(i)) + ": address refused: " + dev.model.lastRefusal());
                if (result == proto::Ok) {
                    log(deviceName(int(i)) + ": new address set without login");
                    moveDevice(int(i));
                    saveState();
                }
            }
            proto::SetNoLoginReply reply { req.requestId, req.mac, result };
            sendLater(hub, from, proto::encodeFrame(Type::SetNoLoginReply, 0, proto::encode(reply)),
                f.delayMs);
        }
    }

    void moveDevice(int i)
    {
        Device &dev = *devices[std::size_t(i)];
        dropConnections(i);
        dev.listener.reset();
        dev.reachable = false;
        if (dev.rebooting)
            return;
        std::string error;
        if (!openListener(i, error))
            log(deviceName(i) + ": unreachable: " + error);
    }

    void onHubReadable(std::size_t hub)
    {
        uint8_t buf[proto::HeaderSize + proto::MaxUdpPayload + 64];
        for (;;) {
            sockaddr_in from {};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(
                hubs[hub].fd.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n < 0)
                return;
            proto::Frame frame;
            std::string why;
            if (!proto::decodeDatagram(buf, std::size_t(n), frame, why)) {
                ++stats.refusedDatagrams;
                log("datagram refused: " + why);
                continue;
            }
            if (frame.type == uint8_t(Type::SearchProbe)) {
                proto::SearchProbe probe;
                if (proto::decode(frame.payload, probe)) {
                    onProbe(hub, from, probe);
                    continue;
                }
            } else if (frame.type == uint8_t(Type::SetNoLogin)) {
                proto::SetNoLoginRequest req;
                if (proto::decode(frame.payload, req)) {
                    onSetWithoutLogin(hub, from, req);
                    continue;
                }
            }
            ++stats.refusedDatagrams;
            log(std::string("datagram refused: unexpected or malformed ")
                + proto::typeName(frame.type));
        }
    }

    // ---- TCP --------------------------------------------------------------

    void flush(Conn &c)
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

    void queue(Conn &c, const std::vector<uint8_t> &bytes)
    {
        c.out.insert(c.out.end(), bytes.begin(), bytes.end());
        flush(c);
    }

    // Sends a reply now or after the device's answer delay.
    void reply(Conn &c, Type type, uint32_t seq, const std::vector<uint8_t> &payload,
        bool closeAfter = false)
    {
        const Faults &f = devices[std::size_t(c.device)]->model.spec().faults;
        std::vector<uint8_t> bytes = proto::encodeFrame(type, seq, payload);
        if (c.state == ConnState::Session && !f.malformed.empty()) {
            if (f.malformed == "magic") {
                bytes[0] ^= 0xff;
            } else if (f.malformed == "oversize") {
                bytes.resize(proto::HeaderSize);
                bytes[12] = 0;
                bytes[13] = 0;
                bytes[14] = 0x20; // 2 MiB announced
                bytes[15] = 0;
            } else {
                bytes.resize(proto::HeaderSize + (payload.size() > 2 ? 2 : 0));
                bytes[12] = 100;
                closeAfter = true;
            }
        }
        const uint64_t id = c.id;
        auto deliver = [this, id, closeAfter](const std::vector<uint8_t> &b) {
            const auto it = conns.find(id);
            if (it == conns.end())
                return;
            queue(*it->second, b);
            if (closeAfter)
                it->second->closeAfterFlush = true;
        };
        if (f.delayMs > 0)
            after(f.delayMs, [deliver, bytes] { deliver(bytes); });
        else
            deliver(bytes);
    }

    void refuse(Conn &c, int32_t code, const std::string &why)
    {
        ++stats.refusedFrames;
        log(deviceName(c.device) + ": connection from " + c.peer + " dropped: " + why);
        proto::ErrorMessage m { code, why };
        queue(c, proto::encodeFrame(Type::Error, 0, proto::encode(m)));
        c.closeAfterFlush = true;
        c.state = ConnState::Closing;
    }

    void onFrame(Conn &c, proto::Frame &frame)
    {
        Device &dev = *devices[std::size_t(c.device)];
        const Faults &f = dev.model.spec().faults;
        const auto now = Clock::now();
        c.lastActivity = now;
        const Type type = Type(frame.type);
        switch (c.state) {
        case ConnState::AwaitHello: {
            proto::LoginHello hello;
            if (type != Type::LoginHello) {
                refuse(c, proto::NotLoggedIn,
                    std::string(proto::typeName(frame.type)) + " before login");
                return;
            }
            if (!proto::decode(frame.payload, hello)) {
                refuse(c, proto::ProtocolError, "malformed login hello");
                return;
            }
            if (f.timeout)
                return;
            proto::LoginChallenge ch;
            ch.result = dev.model.admitUser(hello.user, c.peer, sessionsOf(c.device), now);
            c.user = hello.user;
            std::memcpy(c.clientNonce, hello.clientNonce, proto::NonceSize);
            proto::randomBytes(c.deviceNonce, proto::NonceSize);
            if (ch.result == proto::Ok)
                std::memcpy(ch.deviceNonce, c.deviceNonce, proto::NonceSize);
            c.state = ch.result == proto::Ok ? ConnState::AwaitProof : ConnState::Closing;
            reply(
                c, Type::LoginChallenge, frame.sequence, proto::encode(ch), ch.result != proto::Ok);
            return;
        }
        case ConnState::AwaitProof: {
            if (type != Type::LoginProof || frame.payload.size() != proto::ProofSize) {
                refuse(c, proto::ProtocolError, "login proof expected");
                return;
            }
            std::string password;
            dev.model.passwordOf(c.user, password);
            uint8_t expected[proto::ProofSize];
            proto::clientProof(password, c.user, c.deviceNonce, c.clientNonce, expected);
            proto::LoginResult result;
            if (!proto::proofsEqual(expected, frame.payload.data())) {
                dev.model.wrongPassword(c.user, now);
                result.result = proto::WrongPassword;
            } else if (sessionsOf(c.device) >= dev.model.spec().maxSessions) {
                result.result = proto::InUse;
            } else {
                dev.model.rightPassword(c.user);
                result.sessionId = nextSessionId++;
                const LoginInfo block = dev.model.loginBlock();
                std::memcpy(result.loginBlock, &block, sizeof block);
                proto::deviceProof(
                    password, c.user, c.deviceNonce, c.clientNonce, result.deviceProof);
                ++stats.logins;
            }
            const bool ok = result.result == proto::Ok;
            // The reply goes out before the state changes: broken-reply faults
            // start after the login.
            reply(c, Type::LoginResult, frame.sequence, proto::encode(result), !ok);
            c.state = ok ? ConnState::Session : ConnState::Closing;
            return;
        }
        case ConnState::Closing:
            return;
        case ConnState::Session:
            break;
        }
        if (f.timeout)
            return;
        switch (type) {
        case Type::Logout:
            c.state = ConnState::Closing;
            reply(c, Type::LogoutReply, frame.sequence, proto::encodeResult(proto::Ok), true);
            return;
        case Type::KeepAlive:
            reply(c, Type::KeepAliveReply, frame.sequence, {});
            return;
        case Type::GetConfig: {
            proto::ConfigRequest req;
            if (!proto::decodeGetConfig(frame.payload, req)) {
                refuse(c, proto::ProtocolError, "malformed get configuration");
                return;
            }
            proto::GetConfigReply r;
            r.result = dev.model.getConfig(req.command, req.channel, r.data);
            reply(c, Type::GetConfigReply, frame.sequence, proto::encode(r));
            return;
        }
        case Type::SetConfig: {
            proto::ConfigRequest req;
            if (!proto::decodeSetConfig(frame.payload, req)) {
                refuse(c, proto::ProtocolError, "malformed set configuration");
                return;
            }
            const int32_t r = dev.model.setConfig(req.command, req.channel, req.data);
            if (r == proto::Fail && !dev.model.lastRefusal().empty())
                log(deviceName(c.device) + ": command " + std::to_string(req.command)
                    + " refused: " + dev.model.lastRefusal());
            if (r == proto::Ok || r == proto::NeedReboot)
                saveState();
            reply(c, Type::SetConfigReply, frame.sequence, proto::encodeResult(r));
            return;
        }
        case Type::Reboot: {
            reply(c, Type::RebootReply, frame.sequence, proto::encodeResult(proto::Ok));
            const int device = c.device;
            after(f.delayMs + 20, [this, device] { beginReboot(device); });
            return;
        }
        case Type::UpgradeBegin:
            reply(c, Type::UpgradeReady, frame.sequence,
                proto::Writer().i32(proto::NotSupported).u32(0).take());
            return;
        case Type::StreamStart:
            reply(c, Type::StreamStartReply, frame.sequence,
                proto::Writer().i32(proto::NotSupported).u32(0).take());
            return;
        case Type::UpgradeData:
        case Type::UpgradeCommit:
        case Type::StreamStop:
            reply(c, Type::Error, frame.sequence,
                proto::encode(proto::ErrorMessage { proto::NotSupported, "not supported" }));
            return;
        default:
            refuse(
                c, proto::ProtocolError, std::string("unexpected ") + proto::typeName(frame.type));
            return;
        }
    }

    void beginReboot(int device)
    {
        Device &dev = *devices[std::size_t(device)];
        log(deviceName(device) + ": rebooting");
        dev.rebooting = true;
        dropConnections(device);
        dev.listener.reset();
        dev.reachable = false;
        after(dev.model.spec().rebootMs, [this, device] {
            Device &d2 = *devices[std::size_t(device)];
            d2.rebooting = false;
            std::string error;
            if (!openListener(device, error))
                log(deviceName(device) + ": unreachable after reboot: " + error);
        });
    }

    // Returns false when the connection is over.
    bool onConnReadable(Conn &c)
    {
        uint8_t buf[16384];
        for (;;) {
            const ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
            if (n == 0) {
                if (c.assembler.pending() && c.state != ConnState::Closing) {
                    ++stats.refusedFrames;
                    log(deviceName(c.device) + ": truncated frame from " + c.peer);
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
                    refuse(c, proto::ProtocolError, c.assembler.error());
                    break;
                }
                onFrame(c, frame);
                if (c.state == ConnState::Closing)
                    break;
            }
        }
    }

    void accept(int device)
    {
        Device &dev = *devices[std::size_t(device)];
        for (;;) {
            sockaddr_in from {};
            socklen_t len = sizeof from;
            const int fd = ::accept4(dev.listener.get(), reinterpret_cast<sockaddr *>(&from), &len,
                SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto c = std::make_unique<Conn>();
            c->id = nextConnId++;
            c->fd.reset(fd);
            c->device = device;
            c->peer = net::ipv4Text(ntohl(from.sin_addr.s_addr));
            conns[c->id] = std::move(c);
        }
    }

    // ---- state file -------------------------------------------------------

    void saveState()
    {
        if (options.stateFile.empty())
            return;
        json::Value root = json::Value::object();
        json::Value list = json::Value::array();
        for (const auto &dp : devices) {
            const DeviceModel &m = dp->model;
            json::Value v = json::Value::object();
            v.set("serial", m.spec().serial);
            v.set("ip", net::ipv4Text(m.spec().ip));
            v.set("mask", net::ipv4Text(m.spec().mask));
            v.set("gateway", net::ipv4Text(m.spec().gateway));
            json::Value records = json::Value::array();
            for (const auto &key : m.changedRecords()) {
                const auto it = m.records().find(key);
                if (it == m.records().end())
                    continue;
                records.push(json::Value::object()
                                 .set("command", key.first)
                                 .set("channel", key.second)
                                 .set("hex", hexEncode(it->second)));
            }
            v.set("records", records);
            list.push(v);
        }
        root.set("devices", list);
        std::string error;
        if (!writeFileAtomically(options.stateFile, json::write(root), error))
            log("state file: " + error);
    }

    bool loadState(std::string &error)
    {
        if (options.stateFile.empty() || ::access(options.stateFile.c_str(), F_OK) != 0)
            return true;
        std::string text;
        json::Value root;
        if (!readFile(options.stateFile, text, error) || !json::parse(text, root, error)) {
            error = options.stateFile + ": " + error;
            return false;
        }
        for (const auto &v : root["devices"].items()) {
            for (auto &dp : devices) {
                DeviceSpec &s = dp->model.spec();
                if (!v["serial"].isString() || v["serial"].asString() != s.serial)
                    continue;
                uint32_t a;
                if (v["ip"].isString() && net::parseIpv4(v["ip"].asString(), a))
                    s.ip = a;
                if (v["mask"].isString() && net::parseIpv4(v["mask"].asString(), a))
                    s.mask = a;
                if (v["gateway"].isString() && net::parseIpv4(v["gateway"].asString(), a))
                    s.gateway = a;
                for (const auto &r : v["records"].items()) {
                    std::vector<uint8_t> bytes;
                    if (r["command"].isNumber() && r["channel"].isNumber() && r["hex"].isString()
                        && hexDecode(r["hex"].asString(), bytes))
                        dp->model.restoreRecord(int32_t(r["command"].asNumber()),
                            int32_t(r["channel"].asNumber()), bytes);
                }
            }
        }
        return true;
    }

    // ---- loop -------------------------------------------------------------

    void run()
    {
        enum Kind { Wake, HubFd, ListenFd, ConnFd };
        struct Ref
        {
            Kind kind;
            uint64_t index;
        };
        std::vector<pollfd> fds;
        std::vector<Ref> refs;
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            fds.clear();
            refs.clear();
            fds.push_back({ wakeRead.get(), POLLIN, 0 });
            refs.push_back({ Wake, 0 });
            for (std::size_t h = 0; h < hubs.size(); ++h) {
                fds.push_back(
                    { hubs[h].fd.get(), short(POLLIN | (hubs[h].out.empty() ? 0 : POLLOUT)), 0 });
                refs.push_back({ HubFd, h });
            }
            for (std::size_t i = 0; i < devices.size(); ++i) {
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
            int timeout = 500;
            if (!timers.empty())
                timeout
                    = std::max(0, std::min(timeout, net::remainingMs(timers.begin()->first) + 1));
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
                    while (::read(wakeRead.get(), drain, sizeof drain) > 0) { }
                    break;
                }
                case HubFd:
                    if (fds[k].revents & POLLOUT)
                        hubFlush(hubs[r.index]);
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
            const auto now = Clock::now();
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
};

Emulator::Emulator(Fleet fleet, EmulatorOptions options)
    : d(std::make_unique<Impl>())
{
    d->fleet = std::move(fleet);
    d->options = std::move(options);
    if (d->options.discovery.empty())
        d->options.discovery.push_back(net::Endpoint { 0x7f000001u, proto::DiscoveryPort });
}

Emulator::~Emulator()
{
    stop();
}

bool Emulator::start(std::string &error)
{
    if (d->running)
        return true;
    if (!validateFleet(d->fleet, error))
        return false;
    d->devices.clear();
    for (const DeviceSpec &s : d->fleet.devices)
        d->devices.push_back(std::make_unique<Impl::Device>(s));
    if (!d->loadState(error))
        return false;
    for (const net::Endpoint &e : d->options.discovery) {
        Impl::Hub h;
        h.fd.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const int big = 4 << 20;
        setsockopt(h.fd.get(), SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        setsockopt(h.fd.get(), SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        sockaddr_in sa = toSockaddr(e.address, e.port);
        if (!h.fd.valid() || ::bind(h.fd.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0
            || !net::setNonBlocking(h.fd.get())) {
            error = "discovery " + net::endpointText(e) + ": " + std::strerror(errno);
            d->hubs.clear();
            return false;
        }
        socklen_t len = sizeof sa;
        getsockname(h.fd.get(), reinterpret_cast<sockaddr *>(&sa), &len);
        h.bound = net::Endpoint { e.address, ntohs(sa.sin_port) };
        d->hubs.push_back(std::move(h));
    }
    for (std::size_t i = 0; i < d->devices.size(); ++i) {
        std::string why;
        if (!d->openListener(int(i), why)) {
            error = "device " + d->deviceName(int(i)) + ": " + why;
            d->hubs.clear();
            d->devices.clear();
            return false;
        }
    }
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::strerror(errno);
        return false;
    }
    d->wakeRead.reset(p[0]);
    d->wakeWrite.reset(p[1]);
    d->stopping = false;
    d->thread = std::thread([this] { d->run(); });
    d->running = true;
    return true;
}

void Emulator::stop()
{
    if (!d->running)
        return;
    d->stopping = true;
    d->wake();
    d->thread.join();
    std::lock_guard<std::mutex> lock(d->mutex);
    d->conns.clear();
    d->hubs.clear();
    d->timers.clear();
    for (auto &dev : d->devices) {
        dev->listener.reset();
        dev->reachable = false;
    }
    d->running = false;
}

std::vector<net::Endpoint> Emulator::discoveryEndpoints() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    std::vector<net::Endpoint> out;
    for (const auto &h : d->hubs)
        out.push_back(h.bound);
    return out;
}

int Emulator::deviceCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return int(d->devices.size());
}

DeviceSnapshot Emulator::device(int index) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    DeviceSnapshot s;
    if (index < 0 || std::size_t(index) >= d->devices.size())
        return s;
    const auto &dev = *d->devices[std::size_t(index)];
    s.mac = dev.model.spec().mac;
    s.serial = dev.model.spec().serial;
    s.ip = dev.model.spec().ip;
    s.port = dev.model.boundPort();
    s.reachable = dev.reachable;
    s.rebooting = dev.rebooting;
    s.sessions = d->sessionsOf(index);
    return s;
}

int Emulator::indexOfMac(const std::string &mac) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (std::size_t i = 0; i < d->devices.size(); ++i) {
        if (d->devices[i]->model.spec().mac == mac)
            return int(i);
    }
    return -1;
}

void Emulator::setFaults(int index, const Faults &faults)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (index >= 0 && std::size_t(index) < d->devices.size())
        d->devices[std::size_t(index)]->model.spec().faults = faults;
}

bool Emulator::record(int index, int32_t command, int32_t channel, std::vector<uint8_t> &out) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (index < 0 || std::size_t(index) >= d->devices.size())
        return false;
    return d->devices[std::size_t(index)]->model.getConfig(command, channel, out) == proto::Ok;
}

EmulatorStats Emulator::stats() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->stats;
}

} // namespace scoutrix::devsim
