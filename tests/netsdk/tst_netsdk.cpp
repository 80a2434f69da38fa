// The network SDK against the emulated fleet on loopback: search, set without
// login, login codes, configuration round trips, threads and timeouts.

#include <QtTest>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ConfigRecords.h"
#include "DeviceList.h"
#include "EmulatorFixture.h"
#include "Protocol.h"

using namespace scoutrix;
using devsim::Fleet;

namespace {

std::vector<uint8_t> getRecord(int32_t handle, int32_t command, int32_t channel,
    int32_t *result = nullptr, int timeoutMs = 3000)
{
    std::vector<uint8_t> buf(65536);
    int32_t got = 0;
    const int32_t r = NetSdk_GetConfig(
        handle, command, channel, buf.data(), int32_t(buf.size()), &got, timeoutMs);
    if (result)
        *result = r;
    buf.resize(r < 0 ? 0 : std::size_t(got));
    return buf;
}

qint64 msOf(const QElapsedTimer &t)
{
    return t.elapsed();
}

} // namespace

class TestNetSdk : public QObject
{
    Q_OBJECT

private slots:
    void searchFindsAFullFleetOfDistinctDevices()
    {
        const Fleet fleet = devsim::generatedFleet(256);
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        QElapsedTimer t;
        t.start();
        bool ok = false;
        const auto records = fixture::search(5000, &ok);
        QVERIFY(ok);
        // Returns on the answer window, well before the timeout, with everyone.
        QVERIFY2(msOf(t) < 5000 + 500, qPrintable(QString::number(msOf(t))));
        QCOMPARE(int(records.size()), 256);
        std::set<std::string> macs;
        for (const auto &r : records) {
            macs.insert(r.net.macText());
            const int i = emu->indexOfMac(r.net.macText());
            QVERIFY(i >= 0);
            QCOMPARE(QString::fromStdString(r.net.ipText()),
                QString::fromStdString(fixture::ip(emu->device(i).ip)));
            QCOMPARE(r.net.loginPort(), emu->device(i).port);
            QCOMPARE(QString::fromStdString(r.dev.serialText()),
                QString::fromStdString(fleet.devices[std::size_t(i)].serial));
        }
        QCOMPARE(int(macs.size()), 256);

        DeviceList list;
        std::memcpy(list.searchBuffer(), records.data(), records.size() * sizeof(SearchRecord));
        list.build(true, int(records.size() * sizeof(SearchRecord)), "admin", "739204");
        QCOMPARE(list.count(), 256);
    }

    void faultyAnswersEndUpAsTheListRulesSay()
    {
        Fleet fleet = devsim::generatedFleet(6);
        fleet.devices[1].faults.duplicateAnswers = true;
        fleet.devices[2].faults.emptyMac = true;
        fleet.devices[3].faults.dropAnswers = 1; // only the second probe is answered
        fleet.devices[4].faults.delayMs = 500; // late, yet inside the answer window
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        const auto records = fixture::search(5000);
        const auto stats = netsdk::lastSearchStats();
        QVERIFY(stats.repeats >= 1);
        QCOMPARE(int(records.size()), 6); // the empty-MAC answer is passed on; the list drops it
        for (int i : { 0, 1, 3, 4, 5 })
            QVERIFY2(fixture::byMac(records, fleet.devices[std::size_t(i)].mac),
                qPrintable(QString::number(i)));

        DeviceList list;
        std::memcpy(list.searchBuffer(), records.data(), records.size() * sizeof(SearchRecord));
        list.build(true, int(records.size() * sizeof(SearchRecord)), "admin", "739204");
        QCOMPARE(list.rawCount(), 6);
        QCOMPARE(list.count(), 5);
        std::set<std::string> macs;
        for (int i = 0; i < list.count(); ++i)
            QVERIFY(macs.insert(list.devices()[i].netInfo.macText()).second);
    }

    void lateDevicesAreFound_data()
    {
        QTest::addColumn<int>("dropped");
        QTest::newRow("both probes answered late") << 0;
        // Only the second probe's answer arrives, 500 ms after that probe.
        QTest::newRow("first answer lost, second late") << 1;
    }

    void lateDevicesAreFound()
    {
        QFETCH(int, dropped);
        Fleet fleet = devsim::ownProtocolDevices(devsim::defaultFleet());
        QVERIFY(fleet.devices.size() > 8);
        for (std::size_t i : { std::size_t(1), std::size_t(6), fleet.devices.size() - 1 }) {
            fleet.devices[i].faults.delayMs = 500;
            fleet.devices[i].faults.dropAnswers = dropped;
        }
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        QElapsedTimer t;
        t.start();
        bool ok = false;
        const auto records = fixture::search(5000, &ok);
        QVERIFY(ok);
        QCOMPARE(int(records.size()), int(fleet.devices.size()));
        for (const auto &d : fleet.devices)
            QVERIFY2(fixture::byMac(records, d.mac), d.mac.c_str());
        // It ends on the answer window, not on the timeout.
        QVERIFY2(msOf(t) < 5000 / 2, qPrintable(QString::number(msOf(t))));
    }

    void searchHonoursItsTimeout()
    {
        Fleet fleet = devsim::generatedFleet(3);
        fleet.devices[0].faults.delayMs = 4000;
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        QElapsedTimer t;
        t.start();
        bool ok = false;
        const auto records = fixture::search(1000, &ok);
        QVERIFY(ok);
        QVERIFY2(msOf(t) >= 250 && msOf(t) < 1000 + 400, qPrintable(QString::number(msOf(t))));
        QCOMPARE(int(records.size()), 2);
        QVERIFY(!fixture::byMac(records, fleet.devices[0].mac));

        // Nobody answering: success with nothing, after the answer window.
        emu->stop();
        t.restart();
        const auto none = fixture::search(2000, &ok);
        QVERIFY(ok);
        QVERIFY(none.empty());
        QVERIFY(msOf(t) < 2000 + 400);
    }

    void searchIgnoresMalformedAnswers()
    {
        auto emu = fixture::start(devsim::generatedFleet(4));
        QVERIFY(emu);
        // A second target that answers the probe with every kind of garbage.
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(0x7f000001u);
        socklen_t len = sizeof sa;
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
        auto targets = emu->discoveryEndpoints();
        targets.push_back(net::Endpoint { 0x7f000001u, ntohs(sa.sin_port) });
        netsdk::setDiscoveryTargets(targets);

        std::thread liar([fd] {
            uint8_t buf[2048];
            sockaddr_in from {};
            socklen_t fl = sizeof from;
            const ssize_t n
                = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fl);
            proto::Frame probeFrame;
            std::string why;
            proto::SearchProbe probe;
            if (n <= 0 || !proto::decodeDatagram(buf, std::size_t(n), probeFrame, why)
                || !proto::decode(probeFrame.payload, probe))
                return;
            proto::SearchAnswer good;
            good.searchId = probe.searchId;
            SearchRecord rec;
            std::memset(&rec, 0, sizeof rec);
            setFieldText(rec.net.mac, "02:FA:CE:00:00:01");
            std::memcpy(good.record, &rec, sizeof rec);
            const auto valid
                = proto::encodeFrame(proto::Type::SearchAnswer, 0, proto::encode(good));
            std::vector<std::vector<uint8_t>> bad;
            auto badMagic = valid;
            badMagic[1] ^= 0x55;
            bad.push_back(badMagic);
            bad.push_back(std::vector<uint8_t>(valid.begin(), valid.begin() + 100)); // truncated
            auto oversized = valid;
            oversized[14] = 0x10; // announces far more than a datagram holds
            bad.push_back(oversized);
            auto trailing = valid;
            trailing.push_back(0);
            bad.push_back(trailing);
            proto::SearchAnswer other = good;
            other.searchId ^= 1; // another search
            bad.push_back(proto::encodeFrame(proto::Type::SearchAnswer, 0, proto::encode(other)));
            bad.push_back(
                proto::encodeFrame(proto::Type::SearchAnswer, 0, std::vector<uint8_t>(10, 0)));
            for (const auto &b : bad)
                ::sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&from), fl);
            ::sendto(fd, valid.data(), valid.size(), 0, reinterpret_cast<sockaddr *>(&from), fl);
        });
        const auto records = fixture::search(3000);
        liar.join();
        ::close(fd);
        QCOMPARE(int(records.size()), 5);
        QVERIFY(fixture::byMac(records, "02:FA:CE:00:00:01"));
        QVERIFY(netsdk::lastSearchStats().malformed >= 4);
        QVERIFY(netsdk::lastSearchStats().foreign >= 1);
    }

    void setIpMovesTheDevice()
    {
        const Fleet fleet = devsim::generatedFleet(5);
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        const std::string mac = fleet.devices[2].mac;
        auto records = fixture::search(3000);
        const SearchRecord *found = fixture::byMac(records, mac);
        QVERIFY(found);
        const std::string oldIp = found->net.ipText();

        NetInfo net = found->net;
        const uint8_t newIp[4] = { 127, 0, 77, 5 };
        const uint8_t newGateway[4] = { 127, 0, 77, 1 };
        std::memcpy(net.ip, newIp, 4);
        std::memcpy(net.gateway, newGateway, 4);
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &net, 144, 10000), 0);
        records = fixture::search(3000);
        found = fixture::byMac(records, mac);
        QVERIFY(found);
        QCOMPARE(QString::fromStdString(found->net.ipText()), QStringLiteral("127.0.77.5"));
        // Everything but the address came back as the device sent it.
        QCOMPARE(std::memcmp(found->net.reserved0, net.reserved0, sizeof net.reserved0), 0);

        int32_t err = -1;
        LoginInfo info;
        int32_t h = NetSdk_Login(
            "127.0.77.5", found->net.loginPort(), "admin", "739204", &info, 1, &err, 0, 0);
        QVERIFY(h > 0);
        NetSdk_Logout(h);
        h = NetSdk_Login(
            oldIp.c_str(), found->net.loginPort(), "admin", "739204", &info, 1, &err, 0, 0);
        QCOMPARE(h, 0);
        QCOMPARE(err, 0);

        // A foreign subnet: still found, no longer reachable (and never contacted here).
        net = found->net;
        const uint8_t foreign[4] = { 10, 99, 0, 5 };
        const uint8_t foreignGateway[4] = { 10, 99, 0, 1 };
        std::memcpy(net.ip, foreign, 4);
        std::memcpy(net.gateway, foreignGateway, 4);
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &net, 144, 10000), 0);
        records = fixture::search(3000);
        found = fixture::byMac(records, mac);
        QVERIFY(found);
        QCOMPARE(QString::fromStdString(found->net.ipText()), QStringLiteral("10.99.0.5"));
        QVERIFY(!emu->device(emu->indexOfMac(mac)).reachable);
        h = NetSdk_Login(
            "127.0.77.5", found->net.loginPort(), "admin", "739204", &info, 1, &err, 0, 0);
        QCOMPARE(h, 0);
        QCOMPARE(err, 0);
    }

    void setWithoutLoginRefusals()
    {
        const Fleet fleet = devsim::generatedFleet(2);
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        const auto records = fixture::search(3000);
        QCOMPARE(int(records.size()), 2);
        NetInfo net = records[0].net;

        QCOMPARE(
            NetSdk_SetConfigWithoutLogin(20, -1, &net, 100, 1000), int32_t(proto::InvalidArgument));
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, nullptr, 144, 1000),
            int32_t(proto::InvalidArgument));
        NetInfo noMac = net;
        std::memset(noMac.mac, 0, sizeof noMac.mac);
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &noMac, 144, 1000),
            int32_t(proto::InvalidArgument));
        NetInfo zero = net;
        std::memset(zero.ip, 0, 4);
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &zero, 144, 3000), int32_t(proto::Fail));
        // The subnet's broadcast address, a gateway beyond the subnet.
        NetInfo broadcast = net;
        broadcast.ip[3] = 255;
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &broadcast, 144, 3000), int32_t(proto::Fail));
        NetInfo farGateway = net;
        farGateway.gateway[2] ^= 1;
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &farGateway, 144, 3000), int32_t(proto::Fail));
        QCOMPARE(
            NetSdk_SetConfigWithoutLogin(21, -1, &net, 144, 3000), int32_t(proto::NotSupported));
        // Another device's address would take both offline; the device's own
        // address is no new conflict.
        const NetInfo &other = records[1].net;
        NetInfo taken = net;
        std::memcpy(taken.ip, other.ip, 4);
        std::memcpy(taken.mask, other.mask, 4);
        std::memcpy(taken.gateway, other.gateway, 4);
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &taken, 144, 3000), int32_t(proto::Fail));
        QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &net, 144, 3000), 0);

        NetInfo stranger = net;
        setFieldText(stranger.mac, "02:00:00:00:00:99");
        QElapsedTimer t;
        t.start();
        QCOMPARE(
            NetSdk_SetConfigWithoutLogin(20, -1, &stranger, 144, 800), int32_t(proto::Timeout));
        QVERIFY(msOf(t) >= 700 && msOf(t) < 800 + 500);
        QCOMPARE(QString::fromStdString(fixture::ip(emu->device(0).ip)),
            QString::fromStdString(net.ipText()));
    }

    void loginErrorCodes_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("expected");
        QTest::newRow("wrong password") << 0 << "admin"
                                        << "nope" << int(proto::WrongPassword);
        QTest::newRow("no such user") << 0 << "ghost"
                                      << "739204" << int(proto::NoSuchUser);
        QTest::newRow("busy") << 1 << "admin"
                              << "739204" << int(proto::SystemBusy);
        QTest::newRow("uninitialised") << 2 << "admin"
                                       << "739204" << int(proto::Uninitialised);
        QTest::newRow("blacklisted") << 3 << "admin"
                                     << "739204" << int(proto::BlackListed);
        QTest::newRow("second user") << 4 << "viewer"
                                     << "v1ew" << 1;
        QTest::newRow("second user, wrong password") << 4 << "viewer"
                                                     << "739204" << int(proto::WrongPassword);
    }

    void loginErrorCodes()
    {
        QFETCH(int, device);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, expected);
        Fleet fleet = devsim::generatedFleet(5);
        fleet.devices[1].faults.busy = true;
        fleet.devices[2].uninitialised = true;
        fleet.devices[3].blacklist.push_back("127.0.0.1");
        fleet.devices[4].users.push_back(devsim::User { "viewer", "v1ew" });
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        int32_t err = 12345;
        const int32_t h = fixture::login(*emu, device, password.toLatin1().constData(), &err,
            nullptr, user.toLatin1().constData());
        if (expected == 1) {
            QVERIFY(h > 0);
            NetSdk_Logout(h);
            return;
        }
        QVERIFY(h <= 0);
        QCOMPARE(err, expected);
    }

    void loginLocksAfterRepeatedWrongPasswords()
    {
        Fleet fleet = devsim::generatedFleet(1);
        fleet.devices[0].lockoutAfter = 3;
        fleet.devices[0].lockoutMs = 60000;
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        int32_t err = 0;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(fixture::login(*emu, 0, "wrong", &err), 0);
            QCOMPARE(err, int32_t(proto::WrongPassword));
        }
        QCOMPARE(fixture::login(*emu, 0, "739204", &err), 0);
        QCOMPARE(err, int32_t(proto::Locked));
    }

    void loginSessionLimitAndNetworkErrors()
    {
        Fleet fleet = devsim::generatedFleet(2);
        fleet.devices[0].maxSessions = 1;
        fleet.devices[1].faults.timeout = true;
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        int32_t err = 0;
        const int32_t first = fixture::login(*emu, 0, "739204", &err);
        QVERIFY(first > 0);
        QCOMPARE(fixture::login(*emu, 0, "739204", &err), 0);
        QCOMPARE(err, int32_t(proto::InUse));
        NetSdk_Logout(first);
        const int32_t again = fixture::login(*emu, 0, "739204", &err);
        QVERIFY(again > 0);
        NetSdk_Logout(again);

        netsdk::setLoginTimeoutMs(700);
        QElapsedTimer t;
        t.start();
        QCOMPARE(fixture::login(*emu, 1, "739204", &err), 0);
        QCOMPARE(err, int32_t(proto::Timeout));
        QVERIFY2(msOf(t) >= 600 && msOf(t) < 700 + 600, qPrintable(QString::number(msOf(t))));
        netsdk::setLoginTimeoutMs(0);

        LoginInfo info;
        QCOMPARE(NetSdk_Login("127.0.99.99", 39510, "admin", "739204", &info, 1, &err, 0, 0), 0);
        QCOMPARE(err, int32_t(proto::LoginNetworkError));
        QCOMPARE(NetSdk_Login("not an address", 39510, "admin", "739204", &info, 1, &err, 0, 0), 0);
        QCOMPARE(err, int32_t(proto::InvalidArgument));
        const std::string longName(64, 'u'); // longer than the hello can carry
        QCOMPARE(
            NetSdk_Login("127.0.0.1", 39510, longName.c_str(), "739204", &info, 1, &err, 0, 0), 0);
        QCOMPARE(err, int32_t(proto::InvalidArgument));
    }

    void loginBlockDescribesTheDevice()
    {
        Fleet fleet = devsim::generatedFleet(6);
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        for (int i = 0; i < 6; ++i) {
            LoginInfo info;
            std::memset(&info, 0xee, sizeof info);
            int32_t err = 0;
            const int32_t h = fixture::login(*emu, i, "739204", &err, &info);
            QVERIFY(h > 0);
            QCOMPARE(info.videoChannelCount(), fleet.devices[std::size_t(i)].channels);
            QCOMPARE(info.loginDeviceType(), fleet.devices[std::size_t(i)].type);
            QCOMPARE(info.audioChannelCount(), fleet.devices[std::size_t(i)].audioChannels);
            QCOMPARE(QString::fromStdString(info.versionText()),
                QString::fromStdString(fleet.devices[std::size_t(i)].version));
            NetSdk_Logout(h);
        }
    }

    void getAndSetRoundTripByteForByte()
    {
        Fleet fleet = devsim::generatedFleet(2);
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        const int32_t h = fixture::login(*emu, 1);
        QVERIFY(h > 0);
        const struct
        {
            int32_t command, channel;
            std::size_t size;
        } records[] = { { 10, -1, 4692 }, { 17, 0, 408 }, { 18, -1, 192 }, { 19, -1, 25344 },
            { 175, -1, 1280 } };
        for (const auto &r : records) {
            int32_t result = 0;
            const auto got = getRecord(h, r.command, r.channel, &result);
            QCOMPARE(result, 0);
            QCOMPARE(got.size(), r.size);
            std::vector<uint8_t> expected;
            QVERIFY(emu->record(1, r.command, r.channel, expected));
            QVERIFY(got == expected);
        }

        std::vector<uint8_t> table = getRecord(h, CmdEncodeTable, -1);
        EncodeTable et;
        std::memcpy(&et, table.data(), sizeof et);
        et.channel[0].main.bytes[100] ^= 0x5a; // a byte no page interprets
        et.channel[0].sub.setBitRate(256);
        std::memcpy(table.data(), &et, sizeof et);
        QCOMPARE(
            NetSdk_SetConfig(h, CmdEncodeTable, -1, table.data(), int32_t(table.size()), 3000), 0);
        QVERIFY(getRecord(h, CmdEncodeTable, -1) == table);

        // Refusals a page can meet.
        QCOMPARE(
            NetSdk_SetConfig(h, CmdEncodeTable, -1, table.data(), 100, 3000), int32_t(proto::Fail));
        const auto caps = getRecord(h, CmdEncodeCaps, -1);
        QCOMPARE(NetSdk_SetConfig(h, CmdEncodeCaps, -1, caps.data(), int32_t(caps.size()), 3000),
            int32_t(proto::NotSupported));
        int32_t result = 0;
        getRecord(h, 4242, 0, &result);
        QCOMPARE(result, int32_t(proto::NotSupported));
        EncodeTable greedy = et;
        greedy.channel[0].main.setResolution(20); // 8M at full rate exceeds the budget
        QCOMPARE(NetSdk_SetConfig(h, CmdEncodeTable, -1, &greedy, int32_t(sizeof greedy), 3000),
            int32_t(proto::Fail));

        // A new video standard takes a restart.
        auto standard = getRecord(h, CmdVideoStandard, -1);
        VideoStandard vs;
        std::memcpy(&vs, standard.data(), sizeof vs);
        vs.setNtsc(!vs.isNtsc());
        QCOMPARE(NetSdk_SetConfig(h, CmdVideoStandard, -1, &vs, int32_t(sizeof vs), 3000),
            int32_t(proto::NeedReboot));

        // Never half a record.
        std::vector<uint8_t> small(100);
        int32_t got = 0;
        QCOMPARE(NetSdk_GetConfig(h, CmdEncodeTable, -1, small.data(), 100, &got, 3000),
            int32_t(proto::BufferTooSmall));
        QCOMPARE(got, 25344);

        devsim::Faults f;
        f.needReboot = true;
        emu->setFaults(1, f);
        QCOMPARE(NetSdk_SetConfig(h, CmdEncodeTable, -1, table.data(), int32_t(table.size()), 3000),
            int32_t(proto::NeedReboot));
        NetSdk_Logout(h);

        QCOMPARE(NetSdk_GetConfig(h, CmdEncodeTable, -1, small.data(), 100, &got, 3000),
            int32_t(proto::InvalidHandle));
        QCOMPARE(NetSdk_SetConfig(0, CmdEncodeTable, -1, small.data(), 100, 3000),
            int32_t(proto::InvalidHandle));
        QCOMPARE(NetSdk_Logout(h), int32_t(proto::InvalidHandle));
        QCOMPARE(int(NetSdk_Reboot(h, 0, 1000)), 0);
    }

    void sixteenThreadsLogInAndReadAtOnce()
    {
        Fleet fleet = devsim::generatedFleet(8);
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        std::vector<std::vector<uint8_t>> expected(8);
        for (int i = 0; i < 8; ++i)
            QVERIFY(emu->record(i, CmdEncodeTable, -1, expected[std::size_t(i)]));
        std::atomic<int> failures { 0 };
        std::vector<std::thread> threads;
        for (int t = 0; t < 16; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < 3; ++round) {
                    const int device = (t + round) % 8; // two threads share every device
                    int32_t err = 0;
                    LoginInfo info;
                    const int32_t h = fixture::login(*emu, device, "739204", &err, &info);
                    if (h <= 0) {
                        ++failures;
                        continue;
                    }
                    int32_t r = 0;
                    if (getRecord(h, CmdEncodeTable, -1, &r, 10000) != expected[std::size_t(device)]
                        || r != 0)
                        ++failures;
                    if (getRecord(h, CmdEncodeCaps, -1, &r, 10000).size() != 4692)
                        ++failures;
                    NetSdk_Logout(h);
                }
            });
        }
        for (auto &th : threads)
            th.join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(netsdk::openSessionCount(), 0);
    }

    void callTimeoutsLeaveTheSessionUsable()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const int32_t h = fixture::login(*emu, 0);
        QVERIFY(h > 0);
        devsim::Faults slow;
        slow.delayMs = 1200;
        emu->setFaults(0, slow);
        QElapsedTimer t;
        t.start();
        int32_t r = 0;
        getRecord(h, CmdDeviceInfo, 0, &r, 300);
        QCOMPARE(r, int32_t(proto::Timeout));
        QVERIFY2(msOf(t) >= 250 && msOf(t) < 300 + 500, qPrintable(QString::number(msOf(t))));
        emu->setFaults(0, devsim::Faults());
        // The late answer to the first request must not be taken for this one.
        std::vector<uint8_t> expected;
        QVERIFY(emu->record(0, CmdEncodeCaps, -1, expected));
        QVERIFY(getRecord(h, CmdEncodeCaps, -1, &r, 5000) == expected);
        QCOMPARE(r, 0);
        NetSdk_Logout(h);
    }

    void rebootTakesTheDeviceAwayForAWhile()
    {
        Fleet fleet = devsim::generatedFleet(1);
        fleet.devices[0].rebootMs = 1000;
        auto emu = fixture::start(fleet);
        QVERIFY(emu);
        const int32_t h = fixture::login(*emu, 0);
        QVERIFY(h > 0);
        QCOMPARE(int(NetSdk_Reboot(h, 0, 10000)), 1);
        QTRY_VERIFY_WITH_TIMEOUT(emu->device(0).rebooting, 5000);
        int32_t err = -1;
        QCOMPARE(fixture::login(*emu, 0, "739204", &err), 0);
        QCOMPARE(err, int32_t(proto::LoginNetworkError));
        int32_t r = 0;
        getRecord(h, CmdDeviceInfo, 0, &r, 1000);
        QVERIFY(r < 0); // the old session went with the reboot
        NetSdk_Logout(h);
        QTRY_VERIFY_WITH_TIMEOUT(emu->device(0).reachable, 10000);
        const int32_t again = fixture::login(*emu, 0);
        QVERIFY(again > 0);
        NetSdk_Logout(again);
    }
};

QTEST_APPLESS_MAIN(TestNetSdk)
#include "tst_netsdk.moc"
