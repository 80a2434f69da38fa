// Logged-in TCP sessions: the handle table, one reader thread for every
// session, and request/reply matching by sequence number.

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <cstring>
#include <algorithm>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "Backend.h"
#include "Internal.h"
#include "Net.h"
#include "NetSdkControl.h"
#include "Pake.h"
#include "Protocol.h"
#include "SessionCrypto.h"
#include "Settings.h"
#include "StreamSink.h"

namespace scoutrix::netsdk {

namespace {

using net::Clock;
using net::IoResult;
using proto::Type;
using proto::session::SealError;
using std::chrono::milliseconds;
namespace pake = proto::pake;
namespace sealing = proto::session;

constexpr int kDefaultCallTimeoutMs = 5000;
constexpr int kLogoutWaitMs = 1000;
constexpr auto kKeepAliveAfter = std::chrono::seconds(20);
constexpr int kUpgradeRequestMs = 15000;
// A device that writes firmware pushes its progress; this long without any
// push and the upgrade is given up.
constexpr int kUpgradeSilenceMs = 60000;
constexpr std::size_t kMaxQueuedStatuses = 1024;
constexpr int kStreamRequestMs = 5000;
// Data of a stream whose start reply is still on its way to the caller, kept
// so the first key frame is not lost; bounded for streams never claimed.
constexpr std::size_t kMaxUnclaimedStreams = 8;
constexpr std::size_t kMaxUnclaimedUnits = 16;

std::atomic<int> g_runningUpgrades { 0 };
thread_local int32_t t_lastUpgradeRefusal = 0;

std::atomic<int> g_loginTimeoutMs { 0 };

bool isDeviceToClient(uint8_t type)
{
    switch (Type(type)) {
    case Type::LogoutReply:
    case Type::KeepAliveReply:
    case Type::GetConfigReply:
    case Type::SetConfigReply:
    case Type::RebootReply:
    case Type::UpgradeReady:
    case Type::UpgradeDataAck:
    case Type::UpgradeStatus:
    case Type::StreamStartReply:
    case Type::StreamData:
    case Type::StreamStopReply:
    case Type::Error:
        return true;
    default:
        return false;
    }
}

void sendErrorFrame(int fd, int32_t code, const std::string &text)
{
    proto::ErrorMessage m { code, text };
    const auto frame = proto::encodeFrame(Type::Error, 0, proto::encode(m));
    net::writeAll(fd, frame.data(), frame.size(), Clock::now() + milliseconds(100));
}

class Session
{
public:
    Session(int32_t handle, net::Fd fd, proto::FrameAssembler assembler,
        std::unique_ptr<sealing::FrameSealer> sealer, std::unique_ptr<sealing::FrameOpener> opener)
        : m_handle(handle)
        , m_fd(std::move(fd))
        , m_assembler(std::move(assembler))
        , m_opener(std::move(opener))
        , m_sealer(std::move(sealer))
        , m_lastSend(Clock::now())
    {
    }

    int32_t handle() const { return m_handle; }
    int fd() const { return m_fd.get(); }

    // Sends one request and waits for the reply of |expect| with the same
    // sequence number. A reply that comes after its caller gave up is dropped
    // by the reader, so a timeout leaves the session usable.
    int32_t request(Type type, const std::vector<uint8_t> &payload, Type expect, int timeoutMs,
        proto::Frame &reply)
    {
        const auto deadline = Clock::now() + milliseconds(timeoutMs);
        Waiter w;
        w.expect = uint8_t(expect);
        uint32_t seq;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closed)
                return m_closeCode;
            seq = takeSequence();
            m_waiters[seq] = &w;
        }
        IoResult wr;
        {
            // Sealing and writing stay together: the device opens frames in
            // the order of the counter.
            std::lock_guard<std::mutex> lock(m_writeMutex);
            wr = sealAndWrite(type, seq, payload, deadline);
            m_lastSend = Clock::now();
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        if (wr != IoResult::Ok) {
            m_waiters.erase(seq);
            lock.unlock();
            // A frame cut off half-way leaves the stream unusable.
            fail(wr == IoResult::Timeout ? proto::Timeout : proto::NetworkError, "write failed");
            return wr == IoResult::Timeout ? proto::Timeout : proto::NetworkError;
        }
        m_cv.wait_until(lock, deadline, [&] { return w.done || m_closed; });
        m_waiters.erase(seq);
        if (w.done) {
            reply = std::move(w.reply);
            if (reply.type == uint8_t(Type::Error)) {
                proto::ErrorMessage em;
                return proto::decode(reply.payload, em) && em.code < 0 ? em.code
                                                                       : proto::ProtocolError;
            }
            return proto::Ok;
        }
        return m_closed ? m_closeCode : proto::Timeout;
    }

    // Reader thread: bytes arrived. Returns false when the session is over.
    bool onReadable()
    {
        uint8_t buf[16384];
        const ssize_t n = ::recv(m_fd.get(), buf, sizeof buf, 0);
        if (n == 0) {
            fail(proto::NetworkError,
                m_assembler.pending() ? "truncated frame: device closed inside a frame"
                                      : "device closed the session");
            return false;
        }
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR
                ? true
                : (fail(proto::NetworkError, std::strerror(errno)), false);
        m_assembler.feed(buf, std::size_t(n));
        proto::Frame frame;
        for (;;) {
            const auto status = m_assembler.next(frame);
            if (status == proto::FrameAssembler::Status::NeedMore)
                return true;
            if (status == proto::FrameAssembler::Status::Error) {
                refuse(m_assembler.error());
                return false;
            }
            const SealError opened = sealing::openFrame(*m_opener, frame);
            if (opened != SealError::None) {
                // Nothing more goes out under a key the peer may be forging.
                fail(proto::ProtocolError, sealing::errorText(opened));
                return false;
            }
            if (!isDeviceToClient(frame.type)) {
                refuse(std::string("unexpected ") + proto::typeName(frame.type) + " from device");
                return false;
            }
            if (frame.type == uint8_t(Type::UpgradeStatus)) {
                if (!queueStatus(frame))
                    return false;
                continue;
            }
            if (frame.type == uint8_t(Type::StreamData)) {
                if (!routeStream(frame))
                    return false;
                continue;
            }
            deliver(frame);
        }
    }

    // One upgrade per session: status pushes are kept only while one runs.
    bool startUpgrade()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_upgradeActive || m_closed)
            return false;
        m_upgradeActive = true;
        m_statuses.clear();
        return true;
    }

    void endUpgrade()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_upgradeActive = false;
        m_statuses.clear();
    }

    // The next status push. Pushes that arrived before the session ended are
    // handed out first, so a device that reports success and then reboots
    // is seen to have succeeded.
    int32_t nextStatus(proto::UpgradeStatus &out, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, milliseconds(timeoutMs), [&] { return !m_statuses.empty() || m_closed; });
        if (!m_statuses.empty()) {
            out = m_statuses.front();
            m_statuses.pop_front();
            return proto::Ok;
        }
        return m_closed ? m_closeCode : proto::Timeout;
    }

    // A request that has no reply of its own.
    int32_t post(Type type, const std::vector<uint8_t> &payload, int timeoutMs)
    {
        uint32_t seq;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closed)
                return m_closeCode;
            seq = takeSequence();
        }
        IoResult wr;
        {
            std::lock_guard<std::mutex> lock(m_writeMutex);
            wr = sealAndWrite(type, seq, payload, Clock::now() + milliseconds(timeoutMs));
            m_lastSend = Clock::now();
        }
        if (wr == IoResult::Ok)
            return proto::Ok;
        const int32_t code = wr == IoResult::Timeout ? proto::Timeout : proto::NetworkError;
        fail(code, "write failed");
        return code;
    }

    void keepAliveIfIdle()
    {
        std::unique_lock<std::mutex> w(m_writeMutex, std::try_to_lock);
        if (!w.owns_lock() || Clock::now() - m_lastSend < kKeepAliveAfter)
            return;
        uint32_t seq;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_closed)
                return;
            seq = takeSequence();
        }
        const IoResult r = sealAndWrite(Type::KeepAlive, seq, {}, Clock::now() + milliseconds(200));
        if (r == IoResult::Error)
            fail(proto::ProtocolError, "session key exhausted");
        else if (r != IoResult::Ok)
            fail(proto::NetworkError, "keep-alive failed");
        m_lastSend = Clock::now();
    }

    void fail(int32_t code, const std::string &reason)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
        m_closeCode = code;
        m_closeReason = reason;
        ::shutdown(m_fd.get(), SHUT_RDWR);
        // The session's streams end with it.
        for (auto &kv : m_sinks)
            kv.second->end();
        m_sinks.clear();
        m_unclaimed.clear();
        m_cv.notify_all();
    }

    // The device's stream |id| goes to |sink| from now on, after what came
    // before the caller knew the id.
    bool addSink(uint32_t id, const std::shared_ptr<StreamSink> &sink)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return false;
        const auto it = m_unclaimed.find(id);
        if (it != m_unclaimed.end()) {
            for (const auto &unit : it->second)
                sink->push(unit.first, unit.second.data(), unit.second.size());
            m_unclaimed.erase(it);
        }
        m_sinks[id] = sink;
        return true;
    }

    void removeSink(uint32_t id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sinks.erase(id);
        m_unclaimed.erase(id);
    }

    bool closed()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closed;
    }

private:
    struct Waiter
    {
        uint8_t expect = 0;
        bool done = false;
        proto::Frame reply;
    };

    // Caller holds m_mutex. Never 0: that is the sequence of pushes.
    uint32_t takeSequence()
    {
        const uint32_t seq = m_nextSeq++;
        if (m_nextSeq == 0)
            m_nextSeq = 1;
        return seq;
    }

    bool routeStream(const proto::Frame &frame)
    {
        uint32_t id = 0, type = 0;
        const uint8_t *data = nullptr;
        std::size_t size = 0;
        if (frame.sequence != 0 || !proto::decodeStreamData(frame.payload, id, type, data, size)) {
            refuse("malformed stream data");
            return false;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_sinks.find(id);
        if (it != m_sinks.end()) {
            it->second->push(type, data, size);
            return true;
        }
        auto &early = m_unclaimed[id];
        if (m_unclaimed.size() > kMaxUnclaimedStreams) {
            m_unclaimed.erase(id); // a stream no caller waits for
            return true;
        }
        if (early.size() < kMaxUnclaimedUnits)
            early.emplace_back(type, std::vector<uint8_t>(data, data + size));
        return true;
    }

    bool queueStatus(const proto::Frame &frame)
    {
        proto::UpgradeStatus st;
        if (frame.sequence != 0 || !proto::decode(frame.payload, st)) {
            refuse("malformed upgrade status");
            return false;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_upgradeActive)
            return true; // no upgrade to report to
        if (m_statuses.size() >= kMaxQueuedStatuses) {
            lock.unlock();
            refuse("upgrade status flood");
            return false;
        }
        m_statuses.push_back(st);
        m_cv.notify_all();
        return true;
    }

    void deliver(proto::Frame &frame)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_waiters.find(frame.sequence);
        if (it == m_waiters.end())
            return; // late reply, keep-alive answer, or a push no one listens to yet
        Waiter *w = it->second;
        if (frame.type != w->expect && frame.type != uint8_t(Type::Error))
            return;
        w->reply = std::move(frame);
        w->done = true;
        m_cv.notify_all();
    }

    // Caller holds m_writeMutex. Error means the frame could not be sealed
    // (the direction's frame limit): the session must log in again.
    IoResult sealAndWrite(
        Type type, uint32_t seq, const std::vector<uint8_t> &payload, Clock::time_point deadline)
    {
        std::vector<uint8_t> frame;
        if (sealing::sealFrame(*m_sealer, type, seq, payload, frame) != SealError::None)
            return IoResult::Error;
        return net::writeAll(m_fd.get(), frame.data(), frame.size(), deadline);
    }

    void refuse(const std::string &why)
    {
        // A caller stuck in a write owns the stream; the error frame is then skipped.
        std::unique_lock<std::mutex> w(m_writeMutex, std::try_to_lock);
        if (w.owns_lock()) {
            proto::ErrorMessage m { proto::ProtocolError, why };
            sealAndWrite(Type::Error, 0, proto::encode(m), Clock::now() + milliseconds(100));
        }
        fail(proto::ProtocolError, why);
    }

    const int32_t m_handle;
    net::Fd m_fd;
    proto::FrameAssembler m_assembler; // reader thread only
    std::unique_ptr<sealing::FrameOpener> m_opener; // reader thread only

    std::mutex m_writeMutex;
    std::unique_ptr<sealing::FrameSealer> m_sealer; // under m_writeMutex
    Clock::time_point m_lastSend;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<uint32_t, Waiter *> m_waiters;
    uint32_t m_nextSeq = 1;
    bool m_closed = false;
    int32_t m_closeCode = proto::NetworkError;
    std::string m_closeReason;
    bool m_upgradeActive = false;
    std::deque<proto::UpgradeStatus> m_statuses;
    std::map<uint32_t, std::shared_ptr<StreamSink>> m_sinks;
    std::map<uint32_t, std::deque<std::pair<uint32_t, std::vector<uint8_t>>>> m_unclaimed;
};

// Owns the handle table and the one thread that reads every session.
class SessionTable
{
public:
    SessionTable()
    {
        int p[2];
        if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
            m_wakeRead.reset(p[0]);
            m_wakeWrite.reset(p[1]);
        }
        m_thread = std::thread([this] { run(); });
    }

    ~SessionTable()
    {
        m_stop = true;
        wake();
        if (m_thread.joinable())
            m_thread.join();
    }

    int32_t add(net::Fd fd, proto::FrameAssembler assembler,
        std::unique_ptr<sealing::FrameSealer> sealer, std::unique_ptr<sealing::FrameOpener> opener)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Handles are never 0 or negative and are not reused while open.
        do {
            m_nextHandle = m_nextHandle == kOwnHandleLimit - 1 ? 1 : m_nextHandle + 1;
        } while (m_sessions.count(m_nextHandle));
        auto s = std::make_shared<Session>(m_nextHandle, std::move(fd), std::move(assembler),
            std::move(sealer), std::move(opener));
        m_sessions[s->handle()] = s;
        wake();
        return s->handle();
    }

    std::shared_ptr<Session> find(int32_t handle)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_sessions.find(handle);
        return it == m_sessions.end() ? nullptr : it->second;
    }

    std::shared_ptr<Session> take(int32_t handle)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_sessions.find(handle);
        if (it == m_sessions.end())
            return nullptr;
        auto s = it->second;
        m_sessions.erase(it);
        wake();
        return s;
    }

    int count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_sessions.size());
    }

private:
    void wake()
    {
        const char c = 1;
        if (m_wakeWrite.valid())
            (void)!::write(m_wakeWrite.get(), &c, 1);
    }

    void run()
    {
        std::vector<pollfd> fds;
        std::vector<std::shared_ptr<Session>> polled;
        auto lastTick = Clock::now();
        while (!m_stop) {
            fds.clear();
            polled.clear();
            fds.push_back(pollfd { m_wakeRead.get(), POLLIN, 0 });
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                for (auto &kv : m_sessions) {
                    if (kv.second->closed())
                        continue;
                    polled.push_back(kv.second);
                    fds.push_back(pollfd { kv.second->fd(), POLLIN, 0 });
                }
            }
            const int n = ::poll(fds.data(), nfds_t(fds.size()), 1000);
            if (n < 0 && errno != EINTR)
                break;
            if (fds[0].revents) {
                char drain[64];
                while (::read(m_wakeRead.get(), drain, sizeof drain) > 0) { }
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents)
                    polled[i - 1]->onReadable();
            }
            if (Clock::now() - lastTick >= std::chrono::seconds(1)) {
                lastTick = Clock::now();
                for (auto &s : polled)
                    s->keepAliveIfIdle();
            }
        }
    }

    std::mutex m_mutex;
    std::map<int32_t, std::shared_ptr<Session>> m_sessions;
    int32_t m_nextHandle = 0;
    net::Fd m_wakeRead;
    net::Fd m_wakeWrite;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

SessionTable &table()
{
    static SessionTable t;
    return t;
}

int callTimeout(int32_t timeoutMs)
{
    return timeoutMs > 0 ? timeoutMs : kDefaultCallTimeoutMs;
}

int32_t pakeCode(pake::Error e)
{
    return e == pake::Error::ConfirmationMismatch ? int32_t(proto::WrongPassword)
                                                  : int32_t(proto::ProtocolError);
}

// What a finished login hands to the session table.
struct LoginKeys
{
    std::unique_ptr<sealing::FrameSealer> sealer;
    std::unique_ptr<sealing::FrameOpener> opener;
};

// The login exchange runs on the caller's thread; only a finished login is
// handed to the reader thread. The password never leaves this function: the
// device learns only whether the client knew it.
int32_t loginExchange(const net::Endpoint &peer, const std::string &user,
    const std::string &password, void *loginInfo, net::Fd &fd, proto::FrameAssembler &assembler,
    LoginKeys &keys)
{
    const auto deadline = Clock::now() + milliseconds(loginTimeoutMs());
    std::string error;
    countTcpConnect();
    const IoResult c = net::connectTcp(peer, deadline, fd, error);
    if (c == IoResult::Timeout)
        return proto::Timeout;
    if (c != IoResult::Ok)
        return proto::NetworkError;

    auto protocolError = [&](const std::string &why) {
        sendErrorFrame(fd.get(), proto::ProtocolError, why);
        return proto::ProtocolError;
    };
    auto send = [&](Type type, uint32_t seq, const std::vector<uint8_t> &payload) -> int32_t {
        const auto frame = proto::encodeFrame(type, seq, payload);
        const IoResult w = net::writeAll(fd.get(), frame.data(), frame.size(), deadline);
        if (w == IoResult::Timeout)
            return proto::Timeout;
        return w == IoResult::Ok ? proto::Ok : proto::NetworkError;
    };
    // The next frame of the device. A clear Error frame ends the login with
    // its code; a sealed frame is only expected as the login's result.
    auto receive = [&](proto::Frame &reply) -> int32_t {
        const IoResult r = net::readFrame(fd.get(), assembler, reply, deadline, error);
        if (r == IoResult::Timeout)
            return proto::Timeout;
        if (r == IoResult::Closed)
            return proto::NetworkError;
        if (r == IoResult::Error)
            return protocolError(error);
        if (reply.version == proto::Version && reply.type == uint8_t(Type::Error)) {
            proto::ErrorMessage em;
            return proto::decode(reply.payload, em) && em.code != 0 ? em.code
                                                                    : proto::ProtocolError;
        }
        return proto::Ok;
    };
    auto exchange = [&](Type type, uint32_t seq, const std::vector<uint8_t> &payload, Type expect,
                        proto::Frame &reply) -> int32_t {
        int32_t r = send(type, seq, payload);
        if (r == proto::Ok)
            r = receive(reply);
        if (r != proto::Ok)
            return r;
        if (reply.version != proto::Version || reply.type != uint8_t(expect) || reply.sequence != seq)
            return protocolError(std::string("unexpected ") + proto::typeName(reply.type)
                + " during login");
        return proto::Ok;
    };

    pake::Hello2 hello;
    hello.user = user;
    const std::vector<uint8_t> helloPayload = pake::encode(hello);
    proto::Frame reply;
    int32_t r = exchange(Type::LoginHello, 1, helloPayload, Type::LoginParams, reply);
    if (r != proto::Ok)
        return r;
    const std::vector<uint8_t> paramsPayload = reply.payload;
    pake::Params2 params;
    if (!pake::decode(paramsPayload, params))
        return protocolError("malformed login parameters");
    if (params.result != proto::Ok)
        return params.result;
    // A device that asks for a costlier hash than a batch can afford is
    // refused before any work is spent on it.
    if (!pake::acceptableKdf(params.kdf))
        return protocolError(pake::errorText(pake::Error::BadParameters));

    pake::ProverSecret secret;
    pake::Error e = pake::deriveSecret(password, user, std::string(), params.salt, params.kdf, secret);
    if (e != pake::Error::None)
        return protocolError(pake::errorText(e));
    pake::PakeClient client(
        pake::Identities { pake::loginContext(helloPayload, paramsPayload), user, std::string() });
    pake::Share2 share;
    e = client.start(secret, share.shareP);
    OPENSSL_cleanse(&secret, sizeof secret);
    if (e != pake::Error::None)
        return protocolError(pake::errorText(e));
    r = exchange(Type::LoginShare, 2, pake::encode(share), Type::LoginReply, reply);
    if (r != proto::Ok)
        return r;
    pake::Reply2 answer;
    if (!pake::decode(reply.payload, answer))
        return protocolError("malformed login reply");
    if (answer.result != proto::Ok)
        return answer.result;
    pake::Confirm2 confirm;
    pake::SharedKey shared;
    e = client.finish(answer.shareV, answer.confirmV, confirm.confirmP, shared);
    if (e != pake::Error::None) {
        // A wrong password ends here: the device already counted the attempt.
        if (e != pake::Error::ConfirmationMismatch)
            sendErrorFrame(fd.get(), proto::ProtocolError, pake::errorText(e));
        return pakeCode(e);
    }
    sealing::SessionKeys sessionKeys;
    const bool derived = sealing::deriveSessionKeys(shared, sessionKeys);
    OPENSSL_cleanse(shared.data(), shared.size());
    if (!derived)
        return protocolError("session keys could not be derived");
    keys.sealer = std::make_unique<sealing::FrameSealer>(sessionKeys.clientToDevice);
    keys.opener = std::make_unique<sealing::FrameOpener>(sessionKeys.deviceToClient);
    OPENSSL_cleanse(&sessionKeys, sizeof sessionKeys);

    r = send(Type::LoginConfirm, 3, pake::encode(confirm));
    if (r == proto::Ok)
        r = receive(reply);
    if (r != proto::Ok)
        return r;
    if (sealing::openFrame(*keys.opener, reply) != SealError::None)
        return proto::ProtocolError; // sends nothing more to a device that cannot seal
    proto::LoginResult result;
    if (reply.type != uint8_t(Type::LoginResult) || reply.sequence != 3
        || !proto::decode(reply.payload, result))
        return proto::ProtocolError;
    if (result.result != proto::Ok)
        return result.result;
    if (loginInfo)
        std::memcpy(loginInfo, result.loginBlock, proto::LoginBlockSize);
    return proto::Ok;
}

} // namespace

void setLoginTimeoutMs(int ms)
{
    g_loginTimeoutMs = ms > 0 ? ms : 0;
}

int loginTimeoutMs()
{
    const int set = g_loginTimeoutMs;
    if (set > 0)
        return set;
    return intSetting("SCOUTRIX_LOGIN_TIMEOUT_MS", "Session", "login_timeout_ms", 5000);
}

int openSessionCount()
{
    return table().count() + onvifbackend::openSessionCount();
}

int32_t login(const char *address, uint16_t port, const char *user, const char *password,
    void *loginInfo, int32_t mode, int32_t *errorCode)
{
    int32_t ignored = 0;
    int32_t &err = errorCode ? *errorCode : ignored;
    net::Endpoint peer;
    if (!address || !user || !password || !net::parseIpv4(address, peer.address) || port == 0
        || std::strlen(user) > proto::MaxUserName) {
        err = proto::InvalidArgument;
        return 0;
    }
    peer.port = port;
    // Every connection a session makes starts here, so this one check keeps
    // a guarded process on loopback.
    if (loopbackOnly() && !net::isLoopback(peer.address)) {
        err = proto::InvalidArgument;
        return 0;
    }
    (void)mode; // one login mode; the argument stays for the program's sake
    net::Fd fd;
    proto::FrameAssembler assembler;
    LoginKeys keys;
    const int32_t r = loginExchange(
        peer, std::string(user), std::string(password), loginInfo, fd, assembler, keys);
    if (r != proto::Ok) {
        // Callers read 0 as "network error" (the code of success would
        // otherwise be indistinguishable inside the exchange).
        err = r == proto::NetworkError ? int32_t(proto::LoginNetworkError) : r;
        return 0;
    }
    err = proto::Ok;
    return table().add(
        std::move(fd), std::move(assembler), std::move(keys.sealer), std::move(keys.opener));
}

int32_t logout(int32_t handle)
{
    auto s = table().find(handle);
    if (!s)
        return proto::InvalidHandle;
    // The session stays in the table (and so with the reader) until the
    // device has acknowledged, so the acknowledgement is seen.
    proto::Frame reply;
    s->request(Type::Logout, {}, Type::LogoutReply, kLogoutWaitMs, reply);
    s->fail(proto::InvalidHandle, "logged out");
    return table().take(handle) ? int32_t(proto::Ok) : int32_t(proto::InvalidHandle);
}

int32_t openStream(int32_t loginHandle, const proto::StreamRequest &request,
    const std::shared_ptr<StreamSink> &sink, uint32_t &deviceStreamId)
{
    auto s = table().find(loginHandle);
    if (!s)
        return proto::InvalidHandle;
    proto::Frame reply;
    const int32_t r = s->request(
        Type::StreamStart, proto::encode(request), Type::StreamStartReply, kStreamRequestMs, reply);
    if (r != proto::Ok)
        return r;
    proto::StreamStartReply m;
    if (!proto::decode(reply.payload, m))
        return proto::ProtocolError;
    if (m.result != proto::Ok)
        return m.result < 0 ? m.result : int32_t(proto::Fail);
    if (!s->addSink(m.streamId, sink))
        return proto::NetworkError;
    deviceStreamId = m.streamId;
    return proto::Ok;
}

int32_t closeStream(int32_t loginHandle, uint32_t deviceStreamId)
{
    auto s = table().find(loginHandle);
    if (!s || s->closed())
        return proto::Ok; // the stream ended with its session
    s->removeSink(deviceStreamId);
    proto::Frame reply;
    const int32_t r = s->request(Type::StreamStop, proto::Writer().u32(deviceStreamId).take(),
        Type::StreamStopReply, kStreamRequestMs, reply);
    s->removeSink(deviceStreamId); // what came while the stop was on its way
    if (r != proto::Ok)
        return r;
    int32_t result = 0;
    return proto::decodeResult(reply.payload, result) ? result : proto::ProtocolError;
}

int32_t getConfig(int32_t handle, int32_t command, int32_t channel, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs)
{
    if (bytesReturned)
        *bytesReturned = 0;
    if (bufferSize < 0 || (!buffer && bufferSize > 0))
        return proto::InvalidArgument;
    auto s = table().find(handle);
    if (!s)
        return proto::InvalidHandle;
    proto::Frame reply;
    const int32_t r = s->request(Type::GetConfig, proto::encodeGetConfig(command, channel),
        Type::GetConfigReply, callTimeout(timeoutMs), reply);
    if (r != proto::Ok)
        return r;
    proto::GetConfigReply m;
    if (!proto::decode(reply.payload, m))
        return proto::ProtocolError;
    if (m.result < 0)
        return m.result;
    if (m.data.size() > std::size_t(bufferSize)) {
        // Never cut a record short: a caller would take half a record for a whole one.
        if (bytesReturned)
            *bytesReturned = int32_t(m.data.size());
        return proto::BufferTooSmall;
    }
    if (!m.data.empty())
        std::memcpy(buffer, m.data.data(), m.data.size());
    if (bytesReturned)
        *bytesReturned = int32_t(m.data.size());
    return m.result;
}

int32_t setConfig(int32_t handle, int32_t command, int32_t channel, const void *buffer,
    int32_t size, int32_t timeoutMs)
{
    if (size < 0 || (!buffer && size > 0) || uint32_t(size) > proto::MaxTcpPayload - 8)
        return proto::InvalidArgument;
    auto s = table().find(handle);
    if (!s)
        return proto::InvalidHandle;
    proto::Frame reply;
    const int32_t r = s->request(Type::SetConfig,
        proto::encodeSetConfig(command, channel, buffer, std::size_t(size)), Type::SetConfigReply,
        callTimeout(timeoutMs), reply);
    if (r != proto::Ok)
        return r;
    int32_t result = 0;
    return proto::decodeResult(reply.payload, result) ? result : proto::ProtocolError;
}

uint8_t reboot(int32_t handle, int32_t timeoutMs)
{
    auto s = table().find(handle);
    if (!s)
        return 0;
    proto::Frame reply;
    if (s->request(Type::Reboot, {}, Type::RebootReply, callTimeout(timeoutMs), reply) != proto::Ok)
        return 0;
    int32_t result = 0;
    return proto::decodeResult(reply.payload, result) && result == proto::Ok ? 1 : 0;
}

namespace {

struct FileHandle
{
    std::FILE *f = nullptr;
    ~FileHandle()
    {
        if (f)
            std::fclose(f);
    }
};

// One running upgrade, owned by its thread.
struct UpgradeJob
{
    std::shared_ptr<Session> session;
    FileHandle file;
    uint32_t size = 0;
    uint32_t chunk = 0;
    UpgradeReporter report;

    // Everything the job holds is let go before the final callback, so the
    // caller may start the next upgrade on this handle from inside it.
    void finish(bool ok, int32_t status)
    {
        std::fclose(file.f);
        file.f = nullptr;
        session->endUpgrade();
        report(ok ? 0 : status, int32_t(size), ok ? -1 : -2);
    }

    void run()
    {
        std::vector<uint8_t> buf(chunk);
        const uint32_t step = std::max<uint32_t>(size / 100, 64 * 1024);
        uint32_t sent = 0, reported = 0;
        while (sent < size) {
            const std::size_t want = std::min<uint32_t>(chunk, size - sent);
            if (std::fread(buf.data(), 1, want, file.f) != want) {
                // The file shrank under us; the device drops the half
                // transfer when the session's next upgrade begins or it ends.
                finish(false, proto::InvalidArgument);
                return;
            }
            proto::Frame reply;
            int32_t r = session->request(Type::UpgradeData,
                proto::encodeUpgradeData(sent, buf.data(), want), Type::UpgradeDataAck,
                kUpgradeRequestMs, reply);
            proto::UpgradeAck ack;
            if (r == proto::Ok && !proto::decode(reply.payload, ack))
                r = proto::ProtocolError;
            if (r == proto::Ok && ack.result < 0)
                r = ack.result;
            if (r == proto::Ok && ack.received != sent + want)
                r = proto::ProtocolError;
            if (r != proto::Ok) {
                finish(false, r);
                return;
            }
            sent += uint32_t(want);
            if (sent - reported >= step || sent == size) {
                reported = sent;
                report(0, int32_t(size), int32_t(sent));
            }
        }
        int32_t r = session->post(Type::UpgradeCommit, {}, kUpgradeRequestMs);
        int lastPercent = -1;
        while (r == proto::Ok) {
            proto::UpgradeStatus st;
            r = session->nextStatus(st, kUpgradeSilenceMs);
            if (r != proto::Ok)
                break;
            if (st.state == int32_t(proto::UpgradeState::Done)) {
                finish(true, proto::Ok);
                return;
            }
            if (st.state == int32_t(proto::UpgradeState::Failed)) {
                finish(false, st.status < 0 ? st.status : int32_t(proto::Fail));
                return;
            }
            if (st.percent > lastPercent) {
                lastPercent = st.percent;
                report(0, -1, st.percent);
            }
        }
        finish(false, r);
    }
};

} // namespace

int32_t lastUpgradeRefusal()
{
    return t_lastUpgradeRefusal;
}

void setLastUpgradeRefusal(int32_t refusal)
{
    t_lastUpgradeRefusal = refusal;
}

int runningUpgrades()
{
    return g_runningUpgrades + onvifbackend::runningUpgrades();
}

int32_t upgrade(int32_t handle, const char *path, NetSdkProgressCallback callback, void *user,
    int32_t upgradeType)
{
    t_lastUpgradeRefusal = proto::InvalidArgument;
    if (!path || !*path)
        return 0;
    auto s = table().find(handle);
    if (!s) {
        t_lastUpgradeRefusal = proto::InvalidHandle;
        return 0;
    }
    auto job = std::make_unique<UpgradeJob>();
    job->file.f = std::fopen(path, "rb");
    if (!job->file.f)
        return 0;
    // The whole file is hashed first: the device checks what it received
    // against this before it writes anything.
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    proto::UpgradeBegin begin;
    begin.upgradeType = upgradeType;
    uint64_t size = 0;
    bool readOk = md && EVP_DigestInit_ex(md, EVP_sha256(), nullptr) == 1;
    std::vector<uint8_t> buf(1 << 16);
    while (readOk) {
        const std::size_t n = std::fread(buf.data(), 1, buf.size(), job->file.f);
        if (n == 0) {
            readOk = !std::ferror(job->file.f);
            break;
        }
        size += n;
        readOk = size <= uint64_t(INT32_MAX) && EVP_DigestUpdate(md, buf.data(), n) == 1;
    }
    unsigned int digestSize = 0;
    readOk = readOk && EVP_DigestFinal_ex(md, begin.sha256, &digestSize) == 1 && digestSize == 32;
    EVP_MD_CTX_free(md);
    if (!readOk || std::fseek(job->file.f, 0, SEEK_SET) != 0)
        return 0;
    begin.fileSize = uint32_t(size);
    const char *slash = std::strrchr(path, '/');
    begin.fileName = slash ? slash + 1 : path;
    if (!s->startUpgrade()) {
        t_lastUpgradeRefusal = NETSDK_UPGRADE_ERR_BUSY;
        return 0;
    }
    proto::Frame reply;
    int32_t r = s->request(
        Type::UpgradeBegin, proto::encode(begin), Type::UpgradeReady, kUpgradeRequestMs, reply);
    proto::UpgradeReady ready;
    if (r == proto::Ok && (!proto::decode(reply.payload, ready) || (ready.result == 0 && ready.chunkSize == 0)))
        r = proto::ProtocolError;
    if (r == proto::Ok && ready.result != 0)
        r = ready.result;
    if (r != proto::Ok) {
        s->endUpgrade();
        t_lastUpgradeRefusal = r;
        return 0;
    }
    job->session = s;
    job->size = begin.fileSize;
    job->chunk = std::min(ready.chunkSize, proto::MaxUpgradeChunk);
    job->report = UpgradeReporter {callback, user};
    t_lastUpgradeRefusal = 0;
    ++g_runningUpgrades;
    // Detached: the job owns what it uses (the session by shared pointer),
    // and touches nothing of the caller's after its final callback.
    std::thread([j = std::move(job)] {
        j->run();
        j->session.reset();
        --g_runningUpgrades;
    }).detach();
    return 1;
}

} // namespace scoutrix::netsdk
