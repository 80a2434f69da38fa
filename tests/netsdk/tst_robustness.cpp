// Malformed, truncated and oversized frames sent to both sides: the other
// side refuses them, drops only that connection and keeps serving the rest.
// Hostile peers on the discovery port: floods, forged replies; and the guard
// that keeps a test process on loopback.

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ConfigRecords.h"
#include "EmulatorFixture.h"
#include "LoginPeers.h"
#include "Net.h"
#include "Protocol.h"

using namespace scoutrix;
namespace pake = proto::pake;

namespace {

net::Fd connectTo(uint32_t ip, uint16_t port)
{
    net::Fd fd;
    std::string error;
    net::connectTcp(
        net::Endpoint { ip, port }, net::Clock::now() + std::chrono::seconds(5), fd, error);
    return fd;
}

// What the peer sent before closing, up to |ms|.
std::vector<uint8_t> readUntilClosed(int fd, int ms, bool *closed)
{
    std::vector<uint8_t> out;
    const auto deadline = net::Clock::now() + std::chrono::milliseconds(ms);
    *closed = false;
    for (;;) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, net::remainingMs(deadline)) <= 0)
            return out;
        uint8_t buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            *closed = true;
            return out;
        }
        out.insert(out.end(), buf, buf + n);
    }
}

bool isErrorFrame(const std::vector<uint8_t> &bytes)
{
    proto::FrameAssembler a;
    a.feed(bytes.data(), bytes.size());
    proto::Frame f;
    proto::ErrorMessage m;
    return a.next(f) == proto::FrameAssembler::Status::Frame
        && f.type == uint8_t(proto::Type::Error) && proto::decode(f.payload, m) && !m.text.empty();
}

std::vector<uint8_t> helloFrame()
{
    proto::pake::Hello2 h;
    h.user = "admin";
    return proto::encodeFrame(proto::Type::LoginHello, 1, proto::pake::encode(h));
}

// A UDP socket on 127.0.0.1 that the SDK is pointed at as a discovery target.
struct UdpPeer
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    uint16_t port = 0;
    UdpPeer()
    {
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(0x7f000001u);
        socklen_t len = sizeof sa;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0
            && getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
            port = ntohs(sa.sin_port);
    }
    ~UdpPeer() { ::close(fd); }
    net::Endpoint endpoint() const { return net::Endpoint { 0x7f000001u, port }; }
    // The next well-formed frame of |type|, waiting up to |ms|.
    bool receive(proto::Type type, proto::Frame &frame, sockaddr_in &from, int ms = 5000)
    {
        const auto deadline = net::Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, net::remainingMs(deadline)) <= 0)
                return false;
            uint8_t buf[2048];
            socklen_t len = sizeof from;
            const ssize_t n
                = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
            std::string why;
            if (n > 0 && proto::decodeDatagram(buf, std::size_t(n), frame, why)
                && frame.type == uint8_t(type))
                return true;
        }
    }
    void send(const std::vector<uint8_t> &bytes, const sockaddr_in &to)
    {
        ::sendto(
            fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
};

// A raw client from a chosen loopback source address, so one test can be
// two hosts on the LAN.
struct RawLogin
{
    net::Fd fd;
    proto::FrameAssembler assembler;
    int receiveBuffer = 0; // bytes; set before connect() to keep the kernel's share small
    testpeers::ClientSteps steps;

    bool connect(uint32_t source, const net::Endpoint &to)
    {
        fd.reset(::socket(AF_INET, SOCK_STREAM, 0));
        if (receiveBuffer > 0)
            setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in from {};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(source);
        sockaddr_in dst {};
        dst.sin_family = AF_INET;
        dst.sin_port = htons(to.port);
        dst.sin_addr.s_addr = htonl(to.address);
        return ::bind(fd.get(), reinterpret_cast<sockaddr *>(&from), sizeof from) == 0
            && ::connect(fd.get(), reinterpret_cast<sockaddr *>(&dst), sizeof dst) == 0;
    }
    bool next(proto::Frame &f) { return testpeers::nextFrame(fd.get(), assembler, f); }
    // Hello and parameters; the device's answer to the hello.
    int32_t hello(const std::string &user) { return steps.hello(fd.get(), assembler, user); }
    // One guess: share, reply and, when the device's confirmation matched,
    // the client's confirmation and the device's verdict.
    int32_t proof(const std::string &user, const std::string &password)
    {
        return steps.guess(fd.get(), assembler, user, password);
    }
    // Only the share: the client keeps the device's reply to itself.
    int32_t shareOnly(const std::string &user, const std::string &password)
    {
        pake::ProverSecret secret;
        pake::deriveSecret(password, user, {}, steps.params.salt, steps.params.kdf, secret);
        pake::PakeClient client(pake::Identities {
            pake::loginContext(steps.helloPayload, steps.paramsPayload), user, {} });
        pake::Share2 share;
        client.start(secret, share.shareP);
        proto::Frame f;
        pake::Reply2 reply;
        if (!steps.send(fd.get(), proto::Type::LoginShare, 2, pake::encode(share)) || !next(f)
            || !pake::decode(f.payload, reply))
            return INT32_MIN;
        return reply.result;
    }
};

// Logged in as the installer through a raw client, which may then send what
// the SDK never would, or leave the replies unread.
bool rawSession(RawLogin &client, const devsim::Emulator &emu, int device)
{
    const auto d = emu.device(device);
    return client.connect(0x7f000001u, net::Endpoint { d.ip, d.port })
        && client.hello("admin") == proto::Ok && client.proof("admin", "739204") == proto::Ok;
}

bool sendAll(int fd, const std::vector<uint8_t> &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// The process's descriptor limit, lowered so that nothing beyond what is
// open now can be had, and put back however the test ends.
class DescriptorLimit
{
public:
    DescriptorLimit() = default;
    DescriptorLimit(const DescriptorLimit &) = delete;
    DescriptorLimit &operator=(const DescriptorLimit &) = delete;
    ~DescriptorLimit() { restore(); }

    // |anyOpen| is only used to find the lowest free descriptor.
    bool exhaust(int anyOpen)
    {
        if (m_lowered || ::getrlimit(RLIMIT_NOFILE, &m_saved) != 0)
            return false;
        const int lowestFree = ::fcntl(anyOpen, F_DUPFD_CLOEXEC, 0);
        if (lowestFree < 0)
            return false;
        ::close(lowestFree);
        rlimit tight = m_saved;
        tight.rlim_cur = rlim_t(lowestFree);
        m_lowered = ::setrlimit(RLIMIT_NOFILE, &tight) == 0;
        return m_lowered;
    }
    void restore()
    {
        if (m_lowered)
            ::setrlimit(RLIMIT_NOFILE, &m_saved);
        m_lowered = false;
    }

private:
    rlimit m_saved {};
    bool m_lowered = false;
};

} // namespace

class TestRobustness : public QObject
{
    Q_OBJECT

private slots:
    void deviceRefusesBrokenFrames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("errorFrameExpected");
        auto hello = helloFrame();
        QByteArray good(reinterpret_cast<const char *>(hello.data()), int(hello.size()));

        QByteArray magic = good;
        magic[0] = 'X';
        QTest::newRow("bad magic") << magic << true;
        QByteArray version = good;
        version[4] = 9;
        QTest::newRow("unknown version") << version << true;
        QByteArray oversized = good.left(16);
        oversized[14] = 0x40; // 4 MiB announced: refused before any payload arrives
        QTest::newRow("oversized") << oversized << true;
        QByteArray unknownType = good;
        unknownType[5] = char(0x66);
        QTest::newRow("unknown type") << unknownType << true;
        auto get = proto::encodeFrame(proto::Type::GetConfig, 1, proto::encodeGetConfig(19, -1));
        QTest::newRow("request before login")
            << QByteArray(reinterpret_cast<const char *>(get.data()), int(get.size())) << true;
        QByteArray shortHello = good;
        shortHello[12] = 3; // a hello with a 3-byte payload
        QTest::newRow("short payload") << shortHello.left(19) << true;
        QTest::newRow("truncated") << good.left(20) << false;
        QTest::newRow("garbage") << QByteArray(300, char(0xa5)) << true;
    }

    void deviceRefusesBrokenFrames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, errorFrameExpected);
        auto emu = fixture::start(devsim::generatedFleet(2));
        QVERIFY(emu);
        const int32_t healthy = fixture::login(*emu, 0);
        QVERIFY(healthy > 0);
        const auto before = emu->stats().refusedFrames;

        const auto dev = emu->device(0);
        net::Fd fd = connectTo(dev.ip, dev.port);
        QVERIFY(fd.valid());
        QCOMPARE(::send(fd.get(), bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL),
            ssize_t(bytes.size()));
        if (!errorFrameExpected)
            ::shutdown(fd.get(), SHUT_WR); // the frame ends with the connection
        bool closed = false;
        const auto answer = readUntilClosed(fd.get(), 5000, &closed);
        QVERIFY(closed);
        QCOMPARE(isErrorFrame(answer), errorFrameExpected);
        QTRY_COMPARE_WITH_TIMEOUT(emu->stats().refusedFrames, before + 1, 5000);

        // The device goes on serving its other session and new ones.
        std::vector<uint8_t> expected;
        QVERIFY(emu->record(0, CmdEncodeCaps, -1, expected));
        std::vector<uint8_t> buf(8192);
        int32_t got = 0;
        QCOMPARE(NetSdk_GetConfig(
                     healthy, CmdEncodeCaps, -1, buf.data(), int32_t(buf.size()), &got, 3000),
            0);
        buf.resize(std::size_t(got));
        QVERIFY(buf == expected);
        const int32_t fresh = fixture::login(*emu, 0);
        QVERIFY(fresh > 0);
        NetSdk_Logout(fresh);
        NetSdk_Logout(healthy);
    }

    void discoveryIgnoresBrokenDatagrams()
    {
        auto emu = fixture::start(devsim::generatedFleet(3));
        QVERIFY(emu);
        const net::Endpoint hub = emu->discoveryEndpoints().front();
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(hub.port);
        to.sin_addr.s_addr = htonl(hub.address);
        proto::SearchProbe probe { 7, 0 };
        auto good = proto::encodeFrame(proto::Type::SearchProbe, 0, proto::encode(probe));
        std::vector<std::vector<uint8_t>> bad
            = { std::vector<uint8_t>(5, 1), std::vector<uint8_t>(good.begin(), good.end() - 2) };
        auto magic = good;
        magic[3] = 0;
        bad.push_back(magic);
        auto longer = good;
        longer.push_back(9);
        bad.push_back(longer);
        bad.push_back(proto::encodeFrame(proto::Type::SetNoLogin, 0, std::vector<uint8_t>(12, 0)));
        bad.push_back(proto::encodeFrame(proto::Type::LoginHello, 0, {}));
        for (const auto &b : bad)
            ::sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(emu->stats().refusedDatagrams, int(bad.size()), 5000);
        QCOMPARE(int(fixture::search(3000).size()), 3);
    }

    // A client may not make the device buffer a large frame before it has
    // logged in: the announcement alone is refused.
    void largeFramesBeforeLoginAreRefused()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        net::Fd fd = connectTo(d.ip, d.port);
        QVERIFY(fd.valid());
        auto header = proto::encodeFrame(proto::Type::LoginHello, 1, std::vector<uint8_t>(8, 0));
        header.resize(proto::HeaderSize);
        const uint32_t announced = 64 * 1024;
        std::memcpy(header.data() + 12, &announced, 4); // little-endian host
        QCOMPARE(::send(fd.get(), header.data(), header.size(), MSG_NOSIGNAL), ssize_t(header.size()));
        bool closed = false;
        const auto reply = readUntilClosed(fd.get(), 5000, &closed);
        QVERIFY(closed);
        QVERIFY(isErrorFrame(reply));
        QCOMPARE(emu->stats().refusedFrames, 1);
        // Once logged in, records far larger than that still travel.
        const int32_t h = fixture::login(*emu, 0);
        QVERIFY(h > 0);
        std::vector<uint8_t> table(sizeof(EncodeTable));
        int32_t got = 0;
        QVERIFY(NetSdk_GetConfig(h, CmdEncodeTable, -1, table.data(), int32_t(table.size()), &got, 3000) >= 0);
        QCOMPARE(got, int32_t(table.size()));
        QCOMPARE(NetSdk_SetConfig(h, CmdEncodeTable, -1, table.data(), got, 3000), 0);
        NetSdk_Logout(h);
    }

    // Idle connections beyond what a device serves are closed on arrival.
    void connectionsPerDeviceAreCapped()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        std::vector<net::Fd> idle;
        for (int i = 0; i < 100; ++i)
            idle.push_back(connectTo(d.ip, d.port));
        QTRY_VERIFY_WITH_TIMEOUT(emu->stats().refusedConnections >= 30, 5000);
        idle.clear();
        // The device sees the closes on its next turns; then logins work.
        int32_t h = 0;
        for (int i = 0; i < 250 && h <= 0; ++i) {
            h = fixture::login(*emu, 0);
            if (h <= 0)
                QTest::qWait(20);
        }
        QVERIFY(h > 0);
        NetSdk_Logout(h);
    }

    // Out of descriptors, a listener with callers waiting stays readable;
    // the device must rest instead of retrying accept() in a tight loop.
    void acceptRestsWhenDescriptorsRunOut()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(d.port);
        to.sin_addr.s_addr = htonl(d.ip);
        // Every socket the test needs is made before the limit falls.
        std::vector<net::Fd> callers;
        for (int i = 0; i < 4; ++i) {
            callers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            QVERIFY(callers.back().valid());
        }
        const int pausesBefore = emu->stats().acceptPauses;
        DescriptorLimit limit;
        QVERIFY(limit.exhaust(callers.front().get()));
        // Nothing below may allocate a descriptor (no Qt event loop either)
        // until the limit is back.
        for (auto &c : callers)
            QCOMPARE(::connect(c.get(), reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        for (int i = 0; i < 500 && emu->stats().acceptPauses == pausesBefore; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto first = emu->stats();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto later = emu->stats();
        limit.restore();

        QVERIFY(first.acceptPauses > pausesBefore);
        // Resting 100 ms at a time makes about five attempts here; a spinning
        // loop makes thousands.
        const int failed = later.failedAccepts - first.failedAccepts;
        QVERIFY2(failed <= 20, qPrintable(QString::number(failed)));
        QVERIFY2(later.acceptPauses > first.acceptPauses, "the listener was never tried again");

        // With descriptors back, the waiting callers are taken and logins work.
        callers.clear();
        int32_t h = 0;
        for (int i = 0; i < 250 && h <= 0; ++i) {
            h = fixture::login(*emu, 0);
            if (h <= 0)
                QTest::qWait(20);
        }
        QVERIFY(h > 0);
        NetSdk_Logout(h);
    }

    // A client that asks and never reads would otherwise make the device
    // hold every answer it owes.
    void repliesNobodyReadsAreCapped()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        std::vector<uint8_t> table;
        QVERIFY(emu->record(0, CmdEncodeTable, -1, table));
        QCOMPARE(table.size(), sizeof(EncodeTable));
        proto::GetConfigReply answer;
        answer.data = table;
        const std::size_t replySize
            = proto::encodeFrame(proto::Type::GetConfigReply, 0, proto::encode(answer)).size();
        constexpr std::size_t kLimit = 4u << 20;

        RawLogin client;
        client.receiveBuffer = 4096;
        QVERIFY(rawSession(client, *emu, 0));
        const timeval fiveSeconds { 5, 0 };
        setsockopt(client.fd.get(), SOL_SOCKET, SO_SNDTIMEO, &fiveSeconds, sizeof fiveSeconds);
        const auto before = emu->stats();

        // Kernel buffers hold a few megabytes more than the device's own
        // backlog, so the device gives up after a few hundred requests.
        constexpr int kMaxRequests = 2000;
        int sent = 0;
        bool closed = false;
        auto request = [&] {
            // Sealed, as every frame after the login must be.
            return sendAll(client.fd.get(),
                client.steps.sealed(proto::Type::GetConfig, uint32_t(4 + sent),
                    proto::encodeGetConfig(CmdEncodeTable, -1)));
        };
        while (sent < kMaxRequests && !closed
            && emu->stats().refusedConnections == before.refusedConnections) {
            closed = !request();
            // Lets the device keep pace, so the count is what it answered.
            if (!closed && ++sent % 8 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Once the device has given up, the client learns it within a few requests.
        for (int i = 0; i < 100 && !closed; ++i) {
            closed = !request();
            if (!closed)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const auto after = emu->stats();
        QVERIFY2(sent < kMaxRequests, "the device never gave up");
        QVERIFY2(closed, qPrintable(QStringLiteral("still open after %1 requests").arg(sent)));
        QCOMPARE(after.refusedConnections, before.refusedConnections + 1);
        QVERIFY2(after.peakOutputQueue <= kLimit + replySize,
            qPrintable(QString::number(after.peakOutputQueue)));
        QVERIFY2(after.peakOutputQueue + replySize > kLimit,
            qPrintable(QString::number(after.peakOutputQueue)));

        const int32_t h = fixture::login(*emu, 0);
        QVERIFY(h > 0);
        NetSdk_Logout(h);
    }

    void lockoutHoldsAtTheProofStep()
    {
        // Challenges taken before the lock fell may not be spent after it.
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        const net::Endpoint to { d.ip, d.port };
        std::vector<std::unique_ptr<RawLogin>> held;
        for (int i = 0; i < 10; ++i) {
            held.push_back(std::make_unique<RawLogin>());
            QVERIFY(held.back()->connect(0x7f000001u, to));
            QCOMPARE(held.back()->hello("admin"), int32_t(proto::Ok));
        }
        for (int i = 0; i < 5; ++i)
            QCOMPARE(held[size_t(i)]->proof("admin", "000000"), int32_t(proto::WrongPassword));
        for (int i = 5; i < 10; ++i)
            QCOMPARE(held[size_t(i)]->proof("admin", "739204"), int32_t(proto::Locked));
    }

    void strangerCannotLockTheInstallerOut()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        const net::Endpoint to { d.ip, d.port };
        // Another host on the LAN guesses until it is locked...
        for (int i = 0; i < 6; ++i) {
            RawLogin guess;
            QVERIFY(guess.connect(0x7f000063u, to)); // 127.0.0.99
            const int32_t r = guess.hello("admin");
            if (r == proto::Locked)
                break;
            QCOMPARE(r, int32_t(proto::Ok));
            QCOMPARE(guess.proof("admin", "000000"), int32_t(proto::WrongPassword));
        }
        RawLogin again;
        QVERIFY(again.connect(0x7f000063u, to));
        QCOMPARE(again.hello("admin"), int32_t(proto::Locked));
        // ...and the installer's PC still logs in.
        int32_t err = 0;
        const int32_t h = fixture::login(*emu, 0, "739204", &err);
        QVERIFY2(h > 0, qPrintable(QString::number(err)));
        NetSdk_Logout(h);
    }

    // The device counts an attempt once it has answered the share: a client
    // can test its guess against that answer without ever confirming.
    void unconfirmedSharesCountAgainstTheLockout()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        const net::Endpoint to { d.ip, d.port };
        // Four wrong guesses, then the right one: the right one takes back
        // its own count and logs in.
        for (int i = 0; i < 4; ++i) {
            RawLogin guess;
            QVERIFY(guess.connect(0x7f000001u, to));
            QCOMPARE(guess.hello("admin"), int32_t(proto::Ok));
            QCOMPARE(guess.shareOnly("admin", "000000"), int32_t(proto::Ok));
        }
        {
            RawLogin right;
            QVERIFY(right.connect(0x7f000001u, to));
            QCOMPARE(right.hello("admin"), int32_t(proto::Ok));
            QCOMPARE(right.proof("admin", "739204"), int32_t(proto::Ok));
        }
        // A success clears the count; five shares never confirmed lock the user.
        for (int i = 0; i < 5; ++i) {
            RawLogin guess;
            QVERIFY(guess.connect(0x7f000001u, to));
            QCOMPARE(guess.hello("admin"), int32_t(proto::Ok));
            QCOMPARE(guess.shareOnly("admin", "000000"), int32_t(proto::Ok));
        }
        RawLogin locked;
        QVERIFY(locked.connect(0x7f000001u, to));
        QCOMPARE(locked.hello("admin"), int32_t(proto::Locked));
    }

    // What a listener on the LAN records: no message of one login repeats in
    // another with the same password, so no field is a function of the
    // password alone that a guess could be checked against.
    void capturedLoginsShareNothingDerivedFromThePassword()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        const net::Endpoint to { d.ip, d.port };
        RawLogin a, b;
        for (RawLogin *l : { &a, &b }) {
            QVERIFY(l->connect(0x7f000001u, to));
            QCOMPARE(l->hello("admin"), int32_t(proto::Ok));
            QCOMPARE(l->proof("admin", "739204"), int32_t(proto::Ok));
        }
        const auto &ta = a.steps.transcript;
        const auto &tb = b.steps.transcript;
        QCOMPARE(ta.size(), std::size_t(6));
        QCOMPARE(tb.size(), ta.size());
        // Hello (user name) and parameters (the device's salt) carry no secret
        // and are the same; the share, reply, confirmation and the sealed
        // result have no 8-byte run in common.
        QVERIFY(ta[0] == tb[0]);
        QVERIFY(ta[1] == tb[1]);
        const std::string password = "739204";
        for (std::size_t i = 2; i < ta.size(); ++i) {
            const std::vector<uint8_t> pa(ta[i].begin() + proto::HeaderSize, ta[i].end());
            const std::vector<uint8_t> pb(tb[i].begin() + proto::HeaderSize, tb[i].end());
            QVERIFY(!pa.empty());
            for (std::size_t k = 0; k + 8 <= pa.size(); ++k)
                QVERIFY2(std::search(pb.begin(), pb.end(), pa.begin() + long(k),
                             pa.begin() + long(k + 8))
                        == pb.end(),
                    qPrintable(QStringLiteral("message %1 repeats bytes").arg(i)));
            QVERIFY(std::search(pa.begin(), pa.end(), password.begin(), password.end()) == pa.end());
        }
    }

    // After the login every frame is sealed: a changed, replayed or clear
    // frame ends the session without an answer.
    void deviceRefusesTamperedReplayedAndClearFrames_data()
    {
        QTest::addColumn<QString>("attack");
        QTest::newRow("tampered") << "tampered";
        QTest::newRow("replayed") << "replayed";
        QTest::newRow("clear") << "clear";
    }
    void deviceRefusesTamperedReplayedAndClearFrames()
    {
        QFETCH(QString, attack);
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        RawLogin l;
        QVERIFY(l.connect(0x7f000001u, net::Endpoint { d.ip, d.port }));
        QCOMPARE(l.hello("admin"), int32_t(proto::Ok));
        QCOMPARE(l.proof("admin", "739204"), int32_t(proto::Ok));
        const auto keepAlive = l.steps.sealed(proto::Type::KeepAlive, 10, {});
        QVERIFY(testpeers::sendAll(l.fd.get(), keepAlive));
        proto::Frame f;
        QVERIFY(l.next(f));
        QCOMPARE(f.type, uint8_t(proto::Type::KeepAliveReply));
        QVERIFY(proto::session::openFrame(*l.steps.opener, f) == proto::session::SealError::None);
        const int before = emu->stats().refusedFrames;
        std::vector<uint8_t> bad;
        if (attack == "tampered") {
            bad = l.steps.sealed(proto::Type::GetConfig, 11, proto::encodeGetConfig(CmdEncodeCaps, -1));
            bad[proto::HeaderSize + 3] ^= 0x01;
        } else if (attack == "replayed") {
            bad = keepAlive;
        } else {
            bad = proto::encodeFrame(proto::Type::GetConfig, 11, proto::encodeGetConfig(CmdEncodeCaps, -1));
        }
        QVERIFY(testpeers::sendAll(l.fd.get(), bad));
        bool closed = false;
        const auto answer = readUntilClosed(l.fd.get(), 5000, &closed);
        QVERIFY(closed);
        QVERIFY(answer.empty());
        QTRY_COMPARE_WITH_TIMEOUT(emu->stats().refusedFrames, before + 1, 5000);
    }

    // The SDK's side: a device frame that fails its tag, or comes in clear,
    // fails the call with a protocol error and closes the handle's session.
    void sdkRefusesTamperedAndClearFramesFromTheDevice_data()
    {
        QTest::addColumn<bool>("clear");
        QTest::newRow("tampered") << false;
        QTest::newRow("clear") << true;
    }
    void sdkRefusesTamperedAndClearFramesFromTheDevice()
    {
        QFETCH(bool, clear);
        int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(0x7f000001u);
        socklen_t len = sizeof sa;
        QCOMPARE(::bind(server, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        ::listen(server, 4);
        getsockname(server, reinterpret_cast<sockaddr *>(&sa), &len);
        const uint16_t port = ntohs(sa.sin_port);
        std::atomic<bool> peerClosed { false };
        std::thread device([server, clear, &peerClosed] {
            const int c = ::accept(server, nullptr, nullptr);
            testpeers::DeviceSteps login("admin", "739204");
            proto::FrameAssembler in;
            proto::Frame f;
            while (testpeers::nextFrame(c, in, f)) {
                if (!login.loggedIn()) {
                    testpeers::sendAll(c, login.answer(f));
                    continue;
                }
                if (!login.open(f))
                    break;
                proto::GetConfigReply r;
                r.data.assign(16, 0x5a);
                auto frame = clear
                    ? proto::encodeFrame(proto::Type::GetConfigReply, f.sequence, proto::encode(r))
                    : login.sealed(proto::Type::GetConfigReply, f.sequence, proto::encode(r));
                if (!clear)
                    frame.back() ^= 0x80; // in the tag
                testpeers::sendAll(c, frame);
            }
            // The SDK sends nothing more and hangs up.
            uint8_t buf[64];
            peerClosed = ::recv(c, buf, sizeof buf, 0) == 0;
            ::close(c);
        });
        LoginInfo info;
        int32_t err = 0;
        const int32_t h = NetSdk_Login("127.0.0.1", port, "admin", "739204", &info, 1, &err, 0, 0);
        QVERIFY2(h > 0, qPrintable(QString::number(err)));
        uint8_t buf[64];
        int32_t got = 0;
        QCOMPARE(NetSdk_GetConfig(h, CmdEncodeCaps, -1, buf, sizeof buf, &got, 3000),
            int32_t(proto::ProtocolError));
        QCOMPARE(NetSdk_GetConfig(h, CmdEncodeCaps, -1, buf, sizeof buf, &got, 3000),
            int32_t(proto::ProtocolError));
        NetSdk_Logout(h);
        device.join();
        ::close(server);
        QVERIFY(peerClosed);
    }

    // A device that answers with the wrong password's confirmation, or with a
    // share that is not a point, is refused with the program's codes.
    void sdkMapsBadLoginRepliesToResultCodes_data()
    {
        QTest::addColumn<QString>("devicePassword");
        QTest::addColumn<bool>("badPoint");
        QTest::addColumn<int>("expected");
        QTest::newRow("other password") << "111111" << false << int(proto::WrongPassword);
        QTest::newRow("not a point") << "739204" << true << int(proto::ProtocolError);
    }
    void sdkMapsBadLoginRepliesToResultCodes()
    {
        QFETCH(QString, devicePassword);
        QFETCH(bool, badPoint);
        QFETCH(int, expected);
        int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(0x7f000001u);
        socklen_t len = sizeof sa;
        QCOMPARE(::bind(server, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        ::listen(server, 4);
        getsockname(server, reinterpret_cast<sockaddr *>(&sa), &len);
        const uint16_t port = ntohs(sa.sin_port);
        const std::string password = devicePassword.toStdString();
        std::thread device([server, password, badPoint] {
            const int c = ::accept(server, nullptr, nullptr);
            testpeers::DeviceSteps login("admin", password);
            proto::FrameAssembler in;
            proto::Frame f;
            while (testpeers::nextFrame(c, in, f, 3000)) {
                auto reply = login.answer(f);
                if (badPoint && f.type == uint8_t(proto::Type::LoginShare))
                    reply[proto::HeaderSize + 4 + 10] ^= 0x01; // off the curve
                testpeers::sendAll(c, reply);
            }
            ::close(c);
        });
        LoginInfo info;
        int32_t err = 0;
        QCOMPARE(NetSdk_Login("127.0.0.1", port, "admin", "739204", &info, 1, &err, 0, 0), 0);
        QCOMPARE(err, int32_t(expected));
        device.join();
        ::close(server);
    }

    void pendingChallengesAreCapped()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const auto d = emu->device(0);
        const net::Endpoint to { d.ip, d.port };
        std::vector<std::unique_ptr<RawLogin>> held;
        int answered = 0;
        for (int i = 0; i < 40; ++i) {
            held.push_back(std::make_unique<RawLogin>());
            if (held.back()->connect(0x7f000001u, to) && held.back()->hello("admin") == proto::Ok)
                ++answered;
        }
        QVERIFY2(answered <= 16, qPrintable(QString::number(answered)));
        QVERIFY(answered > 0);
        held.clear();
        // Once they are gone, logins work again.
        int32_t err = 0;
        int32_t h = 0;
        for (int i = 0; i < 250 && h <= 0; ++i) {
            h = fixture::login(*emu, 0, "739204", &err);
            if (h <= 0)
                QTest::qWait(20);
        }
        QVERIFY2(h > 0, qPrintable(QString::number(err)));
        NetSdk_Logout(h);
    }

    // A probe flood leaves the emulator a bounded number of answers to owe
    // and logins keep working meanwhile.
    void probeFloodStaysBounded()
    {
        auto emu = fixture::start(devsim::generatedFleet(24));
        QVERIFY(emu);
        const net::Endpoint hub = emu->discoveryEndpoints().front();
        std::atomic<bool> done { false };
        std::atomic<int> sent { 0 };
        std::thread flood([&] {
            int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
            sockaddr_in to {};
            to.sin_family = AF_INET;
            to.sin_port = htons(hub.port);
            to.sin_addr.s_addr = htonl(hub.address);
            for (uint32_t i = 0; i < 40000 && !done; ++i) {
                proto::SearchProbe probe { i, 0 };
                const auto b = proto::encodeFrame(proto::Type::SearchProbe, 0, proto::encode(probe));
                if (::sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0)
                    std::this_thread::yield();
                else
                    ++sent;
            }
            ::close(fd);
        });
        // The login must meet the flood, not race ahead of the thread's start.
        for (int i = 0; i < 500 && sent < 2000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        int32_t err = 0;
        const int32_t h = fixture::login(*emu, 3, "739204", &err);
        done = true;
        flood.join();
        QVERIFY2(h > 0, qPrintable(QString::number(err)));
        NetSdk_Logout(h);
        QVERIFY(emu->stats().probes > 0);
        QVERIFY2(emu->stats().peakPendingAnswers <= 8192,
            qPrintable(QString::number(emu->stats().peakPendingAnswers)));
    }

    void sdkRefusesBrokenReplies_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("bad magic") << "magic";
        QTest::newRow("oversized") << "oversize";
        QTest::newRow("truncated") << "truncate";
    }

    void sdkRefusesBrokenReplies()
    {
        QFETCH(QString, kind);
        devsim::Fleet fleet = devsim::generatedFleet(2);
        fleet.devices[1].faults.malformed = kind.toStdString();
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        const int32_t healthy = fixture::login(*emu, 0);
        const int32_t broken = fixture::login(*emu, 1);
        QVERIFY(healthy > 0 && broken > 0);
        std::vector<uint8_t> buf(65536);
        int32_t got = 0;
        QElapsedTimer t;
        t.start();
        const int32_t r = NetSdk_GetConfig(
            broken, CmdEncodeTable, -1, buf.data(), int32_t(buf.size()), &got, 5000);
        QVERIFY2(
            r == proto::ProtocolError || r == proto::NetworkError, qPrintable(QString::number(r)));
        QVERIFY(t.elapsed() < 3000); // refused at once, not waited out
        QCOMPARE(NetSdk_GetConfig(
                     broken, CmdEncodeTable, -1, buf.data(), int32_t(buf.size()), &got, 1000)
                < 0,
            true);
        QCOMPARE(NetSdk_GetConfig(
                     healthy, CmdEncodeTable, -1, buf.data(), int32_t(buf.size()), &got, 3000),
            0);
        QCOMPARE(got, 25344);
        QCOMPARE(NetSdk_Logout(broken), 0);
        NetSdk_Logout(healthy);
    }

    void sdkRefusesABrokenLoginAnswer()
    {
        // A stranger on a device's port that answers the hello with nonsense.
        int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(0x7f000001u);
        socklen_t len = sizeof sa;
        QCOMPARE(::bind(server, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        ::listen(server, 4);
        getsockname(server, reinterpret_cast<sockaddr *>(&sa), &len);
        const uint16_t port = ntohs(sa.sin_port);
        std::thread stranger([server] {
            for (int i = 0; i < 2; ++i) {
                const int c = ::accept(server, nullptr, nullptr);
                uint8_t buf[512];
                (void)!::recv(c, buf, sizeof buf, 0);
                if (i == 0) {
                    const std::vector<uint8_t> junk(64, 0x42);
                    (void)!::send(c, junk.data(), junk.size(), MSG_NOSIGNAL);
                } else {
                    // Well-formed parameters, then a reply cut off inside.
                    proto::pake::Params2 params;
                    const auto f = proto::encodeFrame(
                        proto::Type::LoginParams, 1, proto::pake::encode(params));
                    (void)!::send(c, f.data(), f.size(), MSG_NOSIGNAL);
                    (void)!::recv(c, buf, sizeof buf, 0);
                    auto half = proto::encodeFrame(
                        proto::Type::LoginReply, 2, std::vector<uint8_t>(101, 0));
                    (void)!::send(c, half.data(), 30, MSG_NOSIGNAL);
                }
                ::close(c);
            }
        });
        LoginInfo info;
        int32_t err = 0;
        QCOMPARE(NetSdk_Login("127.0.0.1", port, "admin", "739204", &info, 1, &err, 0, 0), 0);
        QCOMPARE(err, int32_t(proto::ProtocolError));
        QCOMPARE(NetSdk_Login("127.0.0.1", port, "admin", "739204", &info, 1, &err, 0, 0), 0);
        QCOMPARE(err, int32_t(proto::LoginNetworkError)); // cut off inside the reply frame
        stranger.join();
        ::close(server);
    }

    void floodDoesNotHoldTheSdkPastItsTimeout_data()
    {
        QTest::addColumn<bool>("search");
        QTest::newRow("search") << true;
        QTest::newRow("set without login") << false;
    }

    void floodDoesNotHoldTheSdkPastItsTimeout()
    {
        QFETCH(bool, search);
        // The flooder is the only target: it learns the SDK's socket from the
        // first datagram and then keeps that socket full until it is told to
        // stop, or for 10 s at most.
        UdpPeer flooder;
        QVERIFY(flooder.port);
        netsdk::setDiscoveryTargets({ flooder.endpoint() });
        std::atomic<bool> stop { false };
        std::atomic<bool> floodOver { false };
        std::atomic<long> sent { 0 };
        std::thread flood([&] {
            proto::Frame request;
            sockaddr_in sdk {};
            if (!flooder.receive(
                    search ? proto::Type::SearchProbe : proto::Type::SetNoLogin, request, sdk)) {
                floodOver = true;
                return;
            }
            std::vector<uint8_t> bytes;
            if (search) {
                proto::SearchProbe probe;
                proto::decode(request.payload, probe);
                proto::SearchAnswer a;
                a.searchId = probe.searchId;
                SearchRecord rec;
                std::memset(&rec, 0, sizeof rec);
                setFieldText(rec.net.mac, "02:F1:00:00:00:01");
                std::memcpy(a.record, &rec, sizeof rec);
                flooder.send(
                    proto::encodeFrame(proto::Type::SearchAnswer, 0, proto::encode(a)), sdk);
                // Then small frames of no use to a search: cheaper to send than to read.
                bytes = proto::encodeFrame(proto::Type::SearchProbe, 0, {});
            } else {
                proto::SetNoLoginRequest req;
                proto::decode(request.payload, req);
                proto::SetNoLoginReply r { req.requestId ^ 1u, req.mac, proto::Ok };
                bytes = proto::encodeFrame(proto::Type::SetNoLoginReply, 0, proto::encode(r));
            }
            constexpr int kBatch = 64;
            iovec iov { bytes.data(), bytes.size() };
            std::vector<mmsghdr> batch(kBatch);
            for (auto &m : batch) {
                std::memset(&m, 0, sizeof m);
                m.msg_hdr.msg_name = &sdk;
                m.msg_hdr.msg_namelen = sizeof sdk;
                m.msg_hdr.msg_iov = &iov;
                m.msg_hdr.msg_iovlen = 1;
            }
            const auto end = net::Clock::now() + std::chrono::seconds(10);
            while (!stop && net::Clock::now() < end) {
                const int n = ::sendmmsg(flooder.fd, batch.data(), kBatch, 0);
                if (n > 0)
                    sent += n;
            }
            floodOver = true;
        });
        std::vector<char> buf(NETSDK_SEARCH_BUFFER_SIZE);
        int32_t bytes = 0;
        int32_t result = 0;
        if (search) {
            result = NetSdk_SearchDevice(buf.data(), int32_t(buf.size()), &bytes, 800, 0);
        } else {
            NetInfo net;
            std::memset(&net, 0, sizeof net);
            setFieldText(net.mac, "02:F1:00:00:00:01");
            result = NetSdk_SetConfigWithoutLogin(20, -1, &net, int32_t(sizeof net), 800);
        }
        const bool returnedDuringTheFlood = !floodOver;
        stop = true;
        flood.join();
        netsdk::clearDiscoveryTargets();
        QVERIFY(sent > 1000);
        QVERIFY(returnedDuringTheFlood);
        if (search) {
            QCOMPARE(result, 1);
            QCOMPARE(bytes, int32_t(sizeof(SearchRecord))); // the one real answer
            QVERIFY(netsdk::lastSearchStats().foreign > 0);
        } else {
            QCOMPARE(result, int32_t(proto::Timeout)); // no forged echo is a success
        }
    }

    void forgedSetRepliesAreIgnored_data()
    {
        QTest::addColumn<bool>("wrongId");
        QTest::newRow("wrong request id") << true;
        QTest::newRow("right id, another MAC") << false;
    }

    void forgedSetRepliesAreIgnored()
    {
        QFETCH(bool, wrongId);
        // The device refuses slowly; a forger on the LAN claims success at once.
        devsim::Fleet fleet = devsim::generatedFleet(2);
        fleet.devices[1].faults.delayMs = 300;
        fleet.devices[1].faults.refuseSet = true;
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        const auto records = fixture::search(3000);
        const SearchRecord *rec = fixture::byMac(records, fleet.devices[1].mac);
        QVERIFY(rec);
        const uint32_t oldIp = emu->device(1).ip;

        UdpPeer forger;
        auto targets = emu->discoveryEndpoints();
        targets.insert(targets.begin(), forger.endpoint());
        netsdk::setDiscoveryTargets(targets);
        std::atomic<int> forged { 0 };
        std::thread liar([&] {
            proto::Frame f;
            sockaddr_in sdk {};
            proto::SetNoLoginRequest req;
            while (forger.receive(proto::Type::SetNoLogin, f, sdk, 3000)
                && proto::decode(f.payload, req)) {
                proto::SetNoLoginReply r { req.requestId, req.mac, proto::Ok };
                if (wrongId)
                    r.requestId ^= 0x5a5a5a5au;
                else
                    r.mac = "02:00:00:00:00:99";
                for (int i = 0; i < 3; ++i)
                    forger.send(
                        proto::encodeFrame(proto::Type::SetNoLoginReply, 0, proto::encode(r)), sdk);
                ++forged;
            }
        });
        NetInfo net = rec->net;
        net.ip[3] = uint8_t(net.ip[3] == 200 ? 201 : 200);
        const int32_t r = NetSdk_SetConfigWithoutLogin(20, -1, &net, 144, 5000);
        liar.join();
        netsdk::setDiscoveryTargets(emu->discoveryEndpoints());
        QVERIFY(forged >= 1);
        QCOMPARE(r, int32_t(proto::Fail)); // the device's own answer
        QCOMPARE(emu->device(1).ip, oldIp);

        // The forger alone: nobody echoes the id, so the set times out.
        netsdk::setDiscoveryTargets({ forger.endpoint() });
        forged = 0;
        std::thread liar2([&] {
            proto::Frame f;
            sockaddr_in sdk {};
            proto::SetNoLoginRequest req;
            if (forger.receive(proto::Type::SetNoLogin, f, sdk, 3000)
                && proto::decode(f.payload, req)) {
                proto::SetNoLoginReply fake { req.requestId + 1, req.mac, proto::Ok };
                forger.send(
                    proto::encodeFrame(proto::Type::SetNoLoginReply, 0, proto::encode(fake)), sdk);
                ++forged;
            }
        });
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &net, 144, 600), int32_t(proto::Timeout));
        liar2.join();
        QCOMPARE(int(forged), 1);
        netsdk::clearDiscoveryTargets();
    }

    void loopbackGuardCoversSessionsToo()
    {
        // CTest sets the guard; set it here too, so that a run by hand never
        // reaches 192.0.2.1 (a documentation address) either.
        qputenv("SCOUTRIX_NETSDK_LOOPBACK_ONLY", "1");
        const auto before = netsdk::trafficCounters();
        LoginInfo info;
        int32_t err = 0;
        QCOMPARE(NetSdk_Login("192.0.2.1", 39510, "admin", "739204", &info, 1, &err, 0, 0), 0);
        QCOMPARE(err, int32_t(proto::InvalidArgument));

        netsdk::setDiscoveryTargets({ net::Endpoint { 0xc0000201u, proto::DiscoveryPort } });
        std::vector<char> buf(NETSDK_SEARCH_BUFFER_SIZE);
        int32_t bytes = 5;
        QCOMPARE(int(NetSdk_SearchDevice(buf.data(), int32_t(buf.size()), &bytes, 500, 0)), 0);
        QCOMPARE(bytes, 0);
        NetInfo net;
        std::memset(&net, 0, sizeof net);
        setFieldText(net.mac, "02:00:00:00:00:01");
        QCOMPARE(
            NetSdk_SetConfigWithoutLogin(20, -1, &net, 144, 500), int32_t(proto::NetworkError));
        netsdk::clearDiscoveryTargets();

        const auto after = netsdk::trafficCounters();
        QCOMPARE(after.tcpConnects, before.tcpConnects);
        QCOMPARE(after.datagramsSent, before.datagramsSent);

        // The counters do count: a loopback login where nothing listens tries once.
        QCOMPARE(NetSdk_Login("127.0.33.1", 39510, "admin", "739204", &info, 1, &err, 0, 0), 0);
        QCOMPARE(err, int32_t(proto::LoginNetworkError));
        QCOMPARE(netsdk::trafficCounters().tcpConnects, before.tcpConnects + 1);
    }
};

QTEST_APPLESS_MAIN(TestRobustness)
#include "tst_robustness.moc"
