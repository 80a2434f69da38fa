// Frame and payload codecs, endpoint texts and the choice of discovery targets.

#include <QtTest>

#include <cstdlib>
#include <cstring>

#include "Net.h"
#include "NetSdk.h"
#include "NetSdkControl.h"
#include "Protocol.h"

using namespace scoutrix;
using proto::FrameAssembler;

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void assemblerCutsAStreamIntoFrames()
    {
        const auto a
            = proto::encodeFrame(proto::Type::GetConfig, 7, proto::encodeGetConfig(19, -1));
        const auto b = proto::encodeFrame(proto::Type::KeepAlive, 8, {});
        std::vector<uint8_t> stream = a;
        stream.insert(stream.end(), b.begin(), b.end());
        // Byte by byte: nothing comes out before a frame is whole.
        FrameAssembler asmb;
        std::vector<proto::Frame> frames;
        for (const uint8_t byte : stream) {
            asmb.feed(&byte, 1);
            proto::Frame f;
            while (asmb.next(f) == FrameAssembler::Status::Frame)
                frames.push_back(f);
        }
        QCOMPARE(int(frames.size()), 2);
        QCOMPARE(frames[0].sequence, 7u);
        QCOMPARE(frames[1].type, uint8_t(proto::Type::KeepAlive));
        proto::ConfigRequest req;
        QVERIFY(proto::decodeGetConfig(frames[0].payload, req));
        QCOMPARE(req.command, 19);
        QCOMPARE(req.channel, -1);
        QCOMPARE(asmb.pending(), std::size_t(0));
    }

    void assemblerRefusesBadHeaders_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("reason");
        QTest::newRow("magic") << 0 << 0x00 << "bad magic";
        QTest::newRow("version") << 4 << 3 << "unsupported version";
        QTest::newRow("type") << 5 << 0x99 << "unknown message type";
        QTest::newRow("oversized") << 15 << 0x01 << "oversized";
    }

    void assemblerRefusesBadHeaders()
    {
        QFETCH(int, offset);
        QFETCH(int, value);
        QFETCH(QString, reason);
        auto frame = proto::encodeFrame(proto::Type::Logout, 1, {});
        frame[std::size_t(offset)] = uint8_t(value);
        FrameAssembler asmb;
        asmb.feed(frame.data(), frame.size()); // the header alone decides
        proto::Frame f;
        QCOMPARE(asmb.next(f), FrameAssembler::Status::Error);
        QVERIFY2(QString::fromStdString(asmb.error()).startsWith(reason), asmb.error().c_str());
        // Once refused, nothing more comes out of the stream.
        const auto good = proto::encodeFrame(proto::Type::Logout, 2, {});
        asmb.feed(good.data(), good.size());
        QCOMPARE(asmb.next(f), FrameAssembler::Status::Error);
    }

    void maximumLengthIsAHardLimit()
    {
        std::vector<uint8_t> header;
        proto::appendHeader(header, proto::Type::SetConfig, 1, proto::MaxTcpPayload);
        FrameAssembler asmb;
        asmb.feed(header.data(), header.size());
        proto::Frame f;
        QCOMPARE(
            asmb.next(f), FrameAssembler::Status::NeedMore); // at the limit: waits for the payload
        header.clear();
        proto::appendHeader(header, proto::Type::SetConfig, 1, proto::MaxTcpPayload + 1);
        FrameAssembler over;
        over.feed(header.data(), header.size());
        QCOMPARE(over.next(f), FrameAssembler::Status::Error);
    }

    void datagramsMustBeExact()
    {
        const auto d = proto::encodeFrame(
            proto::Type::SearchProbe, 0, proto::encode(proto::SearchProbe { 42, 1 }));
        proto::Frame f;
        std::string why;
        QVERIFY(proto::decodeDatagram(d.data(), d.size(), f, why));
        QVERIFY(!proto::decodeDatagram(d.data(), d.size() - 1, f, why));
        QCOMPARE(QString::fromStdString(why), QStringLiteral("truncated frame"));
        auto longer = d;
        longer.push_back(0);
        QVERIFY(!proto::decodeDatagram(longer.data(), longer.size(), f, why));
        QVERIFY(!proto::decodeDatagram(d.data(), 10, f, why));
        std::vector<uint8_t> big;
        proto::appendHeader(big, proto::Type::SearchAnswer, 0, proto::MaxUdpPayload + 1);
        big.resize(big.size() + proto::MaxUdpPayload + 1);
        QVERIFY(!proto::decodeDatagram(big.data(), big.size(), f, why));
    }

    void payloadDecodersAreStrict()
    {
        proto::LoginResult login;
        login.sessionId = 7;
        login.loginBlock[proto::LoginBlockSize - 1] = 0x5a;
        auto p = proto::encode(login);
        QCOMPARE(p.size(), std::size_t(8 + proto::LoginBlockSize));
        proto::LoginResult back;
        QVERIFY(proto::decode(p, back));
        QCOMPARE(back.sessionId, 7u);
        QCOMPARE(back.loginBlock[proto::LoginBlockSize - 1], uint8_t(0x5a));
        p.pop_back();
        QVERIFY(!proto::decode(p, back));
        p.push_back(0);
        p.push_back(0);
        QVERIFY(!proto::decode(p, back));

        proto::SetNoLoginRequest req;
        req.requestId = 9;
        req.command = 20;
        req.channel = -1;
        req.mac = "02:5C:A1:00:00:01";
        req.record.assign(144, 0x11);
        auto s = proto::encode(req);
        proto::SetNoLoginRequest r2;
        QVERIFY(proto::decode(s, r2));
        QCOMPARE(QString::fromStdString(r2.mac), QString::fromStdString(req.mac));
        QVERIFY(r2.record == req.record);
        s[48] = 0xff; // a record count that does not match the bytes that follow
        QVERIFY(!proto::decode(s, r2));

        proto::ErrorMessage em;
        std::vector<uint8_t> e = { 1, 0, 0, 0, 5, 0, 'a', 'b' };
        QVERIFY(!proto::decode(e, em));
        int32_t result = 0;
        QVERIFY(!proto::decodeResult(std::vector<uint8_t> { 1, 2, 3 }, result));
    }

    // Sealed frames travel only on a session's TCP stream; the assembler
    // keeps their header as received, since it is what the tag covers.
    void sealedVersionOnlyOnStreams()
    {
        auto frame = proto::encodeFrame(proto::Type::GetConfig, 5, std::vector<uint8_t>(24, 1));
        frame[4] = proto::SealedFrameVersion;
        frame[6] = 0x80; // flags: ignored, yet part of the header kept
        proto::FrameAssembler a;
        a.feed(frame.data(), frame.size());
        proto::Frame f;
        QCOMPARE(a.next(f), proto::FrameAssembler::Status::Frame);
        QCOMPARE(f.version, proto::SealedFrameVersion);
        QVERIFY(std::memcmp(f.header, frame.data(), proto::HeaderSize) == 0);
        std::string why;
        QVERIFY(!proto::decodeDatagram(frame.data(), frame.size(), f, why));
        frame[4] = 3;
        proto::FrameAssembler b;
        b.feed(frame.data(), frame.size());
        QCOMPARE(b.next(f), proto::FrameAssembler::Status::Error);
    }

    void endpointTexts()
    {
        net::Endpoint e;
        QVERIFY(net::parseEndpoint("127.0.0.1:39500", e));
        QCOMPARE(e.address, 0x7f000001u);
        QCOMPARE(e.port, uint16_t(39500));
        QVERIFY(!net::parseEndpoint("127.0.0.1", e));
        QVERIFY(!net::parseEndpoint("127.0.0.1:0", e));
        QVERIFY(net::parseEndpoint("127.0.0.1:0", e, true));
        QVERIFY(!net::parseEndpoint("127.0.0.1:65536", e));
        QVERIFY(!net::parseEndpoint("localhost:80", e));
        QVERIFY(!net::parseEndpoint("127.0.0.1:-5", e));
        std::vector<net::Endpoint> list;
        std::string error;
        QVERIFY(net::parseEndpointList(" 127.0.0.1:1, 127.0.0.2:2 ,", list, error));
        QCOMPARE(int(list.size()), 2);
        QVERIFY(!net::parseEndpointList("127.0.0.1:1,bogus", list, error));
        QVERIFY(!net::parseEndpointList("", list, error));
    }

    void discoveryTargetsFollowTheirPrecedence()
    {
        // The suite runs with SCOUTRIX_NETSDK_LOOPBACK_ONLY set.
        qputenv("SCOUTRIX_DISCOVERY", "127.0.0.5:4000,10.1.2.255:39500");
        netsdk::clearDiscoveryTargets();
        netsdk::TargetChoice c = netsdk::resolveDiscoveryTargets();
        QCOMPARE(QString::fromStdString(c.source), QStringLiteral("environment"));
        QCOMPARE(int(c.targets.size()), 1); // the non-loopback target is dropped
        QCOMPARE(c.targets[0].port, uint16_t(4000));
        QVERIFY(!c.broadcast);

        netsdk::setDiscoveryTargets({ net::Endpoint { 0x7f000009u, 5000 } });
        c = netsdk::resolveDiscoveryTargets();
        QCOMPARE(QString::fromStdString(c.source), QStringLiteral("explicit"));
        QCOMPARE(c.targets[0].port, uint16_t(5000));

        // A mistyped override never turns into broadcasting.
        netsdk::clearDiscoveryTargets();
        qputenv("SCOUTRIX_DISCOVERY", "127.0.0.1");
        c = netsdk::resolveDiscoveryTargets();
        QVERIFY(c.targets.empty());
        QVERIFY(!c.error.empty());
        std::vector<char> buf(312);
        int32_t bytes = 7;
        QCOMPARE(int(NetSdk_SearchDevice(buf.data(), 312, &bytes, 500, 0)), 0);
        QCOMPARE(bytes, 0);

        // Without any override the guard refuses rather than broadcast.
        qunsetenv("SCOUTRIX_DISCOVERY");
        c = netsdk::resolveDiscoveryTargets();
        QVERIFY(c.targets.empty());
        QVERIFY(!c.broadcast);
        qputenv("SCOUTRIX_DISCOVERY", "127.0.0.1:9");
    }

    void searchWindowsFollowTheTimeoutAndTheSetting()
    {
        QCOMPARE(netsdk::quietPeriodMs(5000), 250);
        QCOMPARE(netsdk::quietPeriodMs(400), 100);
        QCOMPARE(netsdk::answerWindowMs(5000), 600);
        QCOMPARE(netsdk::answerWindowMs(400), 600); // the timeout cuts it short
        qputenv("SCOUTRIX_SEARCH_QUIET_MS", "1500");
        QCOMPARE(netsdk::quietPeriodMs(5000), 1500);
        QCOMPARE(netsdk::answerWindowMs(5000), 1500);
        qputenv("SCOUTRIX_SEARCH_QUIET_MS", "-3");
        QCOMPARE(netsdk::quietPeriodMs(5000), 250);
        qunsetenv("SCOUTRIX_SEARCH_QUIET_MS");
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
