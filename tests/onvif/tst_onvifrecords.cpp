// The byte records an ONVIF device's answers make, against a fake device:
// what each record reads as, that a set sends only what changed (and
// nothing when nothing did), refusals that send nothing, and failures
// turned into the SDK's codes.

#include <QtTest>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ConfigRecords.h"
#include "DeviceApi.h"
#include "DeviceRecords.h"
#include "NetSdk.h"
#include "RecordMap.h"

using namespace scoutrix;
using namespace scoutrix::onvif;
namespace map = scoutrix::netsdk::onvifmap;

namespace {

// A device held as plain values; every call is logged by name, and a call
// named in |failing| answers that failure instead.
class FakeDevice final : public DeviceApi
{
public:
    std::vector<std::string> calls;
    std::map<std::string, Failure> failing;
    bool rebootNeeded = false;

    DeviceInformation info { "Maker", "CAM-1", "V2.4.1", "SN0001", "HW7" };
    SystemDateAndTime clock;
    NtpSettings ntp;
    std::vector<NetworkInterface> interfaces;
    std::vector<std::string> gateways { "192.168.1.1" };
    std::vector<Profile> profiles;
    std::map<std::string, VideoEncoderOptions> options;
    ImagingSettings imaging;
    ImagingOptions imagingOptions;

    std::vector<NetworkInterfaceChange> interfaceChanges;
    std::vector<std::vector<std::string>> gatewaySets;
    std::vector<SetDateAndTime> clockSets;
    std::vector<NtpSettings> ntpSets;
    std::vector<VideoEncoderConfiguration> encoderSets;
    std::vector<std::pair<std::string, ImagingSettings>> imagingSets;
    std::vector<bool> factoryDefaults;

    int sets() const
    {
        return int(interfaceChanges.size() + gatewaySets.size() + clockSets.size() + ntpSets.size()
            + encoderSets.size() + imagingSets.size() + factoryDefaults.size());
    }

    Reply<SystemDateAndTime> getSystemDateAndTime() override
    {
        return answer("getSystemDateAndTime", clock);
    }
    Reply<DeviceInformation> getDeviceInformation() override
    {
        return answer("getDeviceInformation", info);
    }
    Reply<ServiceAddresses> getServices() override
    {
        return answer("getServices", ServiceAddresses {});
    }
    Reply<std::vector<NetworkInterface>> getNetworkInterfaces() override
    {
        return answer("getNetworkInterfaces", interfaces);
    }
    Reply<Done> setNetworkInterfaces(const NetworkInterfaceChange &change) override
    {
        return done("setNetworkInterfaces", interfaceChanges, change);
    }
    Reply<std::vector<std::string>> getNetworkDefaultGateway() override
    {
        return answer("getNetworkDefaultGateway", gateways);
    }
    Reply<Done> setNetworkDefaultGateway(const std::vector<std::string> &ipv4) override
    {
        return done("setNetworkDefaultGateway", gatewaySets, ipv4);
    }
    Reply<Done> setSystemDateAndTime(const SetDateAndTime &value) override
    {
        return done("setSystemDateAndTime", clockSets, value);
    }
    Reply<NtpSettings> getNtp() override { return answer("getNtp", ntp); }
    Reply<Done> setNtp(const NtpSettings &value) override { return done("setNtp", ntpSets, value); }
    Reply<Done> systemReboot() override { return answer("systemReboot", Done {}); }
    Reply<Done> setSystemFactoryDefault(bool hard) override
    {
        return done("setSystemFactoryDefault", factoryDefaults, hard);
    }
    Reply<FirmwareUpload> startFirmwareUpgrade() override
    {
        return answer("startFirmwareUpgrade", FirmwareUpload {});
    }
    Reply<std::vector<Profile>> getProfiles() override { return answer("getProfiles", profiles); }
    Reply<std::vector<VideoEncoderConfiguration>> getVideoEncoderConfigurations() override
    {
        std::vector<VideoEncoderConfiguration> all;
        for (const Profile &p : profiles) {
            if (p.videoEncoder)
                all.push_back(*p.videoEncoder);
        }
        return answer("getVideoEncoderConfigurations", all);
    }
    Reply<VideoEncoderOptions> getVideoEncoderConfigurationOptions(
        const std::string &configurationToken, const std::string &) override
    {
        return answer("getVideoEncoderConfigurationOptions", options[configurationToken]);
    }
    Reply<Done> setVideoEncoderConfiguration(const VideoEncoderConfiguration &value) override
    {
        auto reply = done("setVideoEncoderConfiguration", encoderSets, value);
        for (Profile &p : profiles) {
            if (reply && p.videoEncoder && p.videoEncoder->token == value.token)
                p.videoEncoder = value;
        }
        return reply;
    }
    Reply<std::string> getStreamUri(const std::string &) override
    {
        return answer("getStreamUri", std::string());
    }
    Reply<ImagingSettings> getImagingSettings(const std::string &token) override
    {
        return answer("getImagingSettings " + token, imaging, "getImagingSettings");
    }
    Reply<ImagingOptions> getImagingOptions(const std::string &) override
    {
        return answer("getImagingOptions", imagingOptions);
    }
    Reply<Done> setImagingSettings(const std::string &token, const ImagingSettings &change) override
    {
        return done("setImagingSettings", imagingSets, std::make_pair(token, change));
    }

private:
    template <typename T>
    Reply<T> answer(const std::string &call, T value, const std::string &name = {})
    {
        calls.push_back(call);
        const auto it = failing.find(name.empty() ? call : name);
        if (it != failing.end())
            return it->second;
        return value;
    }
    template <typename L, typename V> Reply<Done> done(const std::string &call, L &log, V value)
    {
        calls.push_back(call);
        const auto it = failing.find(call);
        if (it != failing.end())
            return it->second;
        log.push_back(std::move(value));
        return Done { rebootNeeded };
    }
};

VideoEncoderConfiguration encoder(
    const std::string &token, int width, int height, int fps, int kbps)
{
    VideoEncoderConfiguration c;
    c.token = token;
    c.name = "enc " + token;
    c.useCount = 2;
    c.encoding = "H264";
    c.resolution = { width, height };
    c.quality = 4;
    c.frameRateLimit = fps;
    c.bitrateLimit = kbps;
    c.govLength = 50;
    c.h264Profile = "Main";
    c.sessionTimeoutSeconds = 720;
    return c;
}

Profile profile(const std::string &token, const std::string &source,
    std::optional<VideoEncoderConfiguration> enc)
{
    return Profile { token, "profile " + token, source, "vsc-" + source, std::move(enc) };
}

VideoEncoderOptions mainOptions()
{
    VideoEncoderOptions o;
    o.quality = { 0, 10 };
    o.h264Resolutions = { { 1920, 1080 }, { 1280, 720 }, { 640, 360 } };
    o.h264FrameRate = { 1, 25 };
    o.h264GovLength = { 1, 250 };
    o.h264Profiles = { "Main", "High" };
    o.h264Bitrate = Range { 64, 8192 };
    return o;
}

VideoEncoderOptions subOptions()
{
    VideoEncoderOptions o;
    o.quality = { 0, 10 };
    o.h264Resolutions = { { 640, 360 }, { 352, 288 } };
    o.h264FrameRate = { 1, 25 };
    o.h264GovLength = { 1, 250 };
    o.jpegResolutions = { { 640, 360 } };
    o.jpegFrameRate = { 1, 15 };
    return o;
}

// Two video sources: the first with a main, a sub and a third profile,
// the second with only a main one, and a profile without an encoder.
void twoChannels(FakeDevice &d)
{
    d.profiles = {
        profile("p1", "vs1", encoder("e1", 1920, 1080, 25, 4096)),
        profile("p2", "vs1", encoder("e2", 640, 360, 25, 512)),
        profile("p9", "vs2", std::nullopt),
        profile("p3", "vs2", encoder("e3", 1280, 720, 20, 2048)),
        profile("p4", "vs1", encoder("e4", 352, 288, 10, 256)),
    };
    d.options = { { "e1", mainOptions() }, { "e2", subOptions() }, { "e3", mainOptions() },
        { "e4", subOptions() } };
}

template <typename R>
int32_t get(FakeDevice &d, map::DeviceContext &c, int32_t command, R &record, int32_t channel = -1)
{
    std::memset(&record, 0, sizeof record);
    int32_t bytes = 0;
    const int32_t r
        = map::getConfig(d, c, command, channel, &record, int32_t(sizeof record), &bytes);
    if (r == 0 && bytes != int32_t(sizeof record))
        return -999;
    return r;
}

// The two-channel device, and its encode table as read; no table when the
// read failed.
struct EncodeFixture
{
    FakeDevice d;
    map::DeviceContext c;
    std::unique_ptr<EncodeTable> table;
};

EncodeFixture twoChannelTable()
{
    EncodeFixture f { {}, {}, std::make_unique<EncodeTable>() };
    twoChannels(f.d);
    if (get(f.d, f.c, CmdEncodeTable, *f.table) != 0)
        f.table.reset();
    return f;
}

template <typename R>
int32_t set(
    FakeDevice &d, map::DeviceContext &c, int32_t command, const R &record, int32_t channel = -1)
{
    return map::setConfig(d, c, command, channel, &record, int32_t(sizeof record));
}

NetworkInterface nic(const std::string &address, int prefix, bool dhcp = false)
{
    NetworkInterface n;
    n.token = "eth0";
    n.hwAddress = "02:00:00:00:00:01";
    n.address = address;
    n.prefixLength = prefix;
    n.dhcp = dhcp;
    return n;
}

NetInfo netInfo(const uint8_t ip[4], const uint8_t mask[4], const uint8_t gateway[4])
{
    NetInfo n;
    std::memset(&n, 0, sizeof n);
    std::memcpy(n.ip, ip, 4);
    std::memcpy(n.mask, mask, 4);
    std::memcpy(n.gateway, gateway, 4);
    return n;
}

QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

} // namespace

class TestOnvifRecords : public QObject
{
    Q_OBJECT

private slots:
    void searchRecordIdentity_data();
    void searchRecordIdentity();
    void searchRecordAddresses();
    void loginBlockCountsVideoSources();
    void failuresMapToCodes_data();
    void failuresMapToCodes();
    void unmappedCommandsAnswerNotSupported_data();
    void unmappedCommandsAnswerNotSupported();
    void smallBufferIsNeverWritten();
    void encodeTableGroupsProfilesBySource();
    void resolutionListKeepsDeviceSizes();
    void encodeCapsOfferOnlyTheOptions();
    void unchangedEncodeSetSendsNothing();
    void oneEncodeFieldSendsOnlyThatField();
    void resolutionAndTypeSetsChecked();
    void encodeRefusalsSendNothing_data();
    void encodeRefusalsSendNothing();
    void pageRecordsForTheEncodePage();
    void timeZoneTexts_data();
    void timeZoneTexts();
    void clockRecords();
    void ntpRecord();
    void imageRecords();
    void imageSetsSendOnlyWhatMaps();
    void exposureSets();
    void networkSetSendsOnlyDifferences();
    void dhcpAndDefaults();
    void failedCallsNeverSucceed();
};

void TestOnvifRecords::searchRecordIdentity_data()
{
    QTest::addColumn<QStringList>("scopes");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("withInfo");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("type");

    const QString uuid = QStringLiteral("urn:uuid:1B2C3D4E-0000-4000-8000-00AABBCCDDEE");
    QTest::newRow("MAC scope, info")
        << QStringList { "onvif://www.onvif.org/MAC/00-1a-2b-3c-4d-5e" }
        << QStringList { "NetworkVideoTransmitter" } << uuid << true << "00:1A:2B:3C:4D:5E"
        << "CAM-1"
        << "SN0001" << 2;
    QTest::newRow("nothing told") << QStringList {} << QStringList { "NetworkVideoTransmitter" }
                                  << uuid << false
                                  << "u1b2c3d4e000040008000"
                                     "00aabbccddee"
                                  << "ONVIF"
                                  << "00aabbccddee" << 2;
    QTest::newRow("hardware scope, recorder")
        << QStringList { "onvif://www.onvif.org/hardware/NVR%208CH",
               "onvif://www.onvif.org/type/NetworkVideoRecorder" }
        << QStringList { "Device" } << uuid << false << "u1b2c3d4e00004000800000aabbccddee"
        << "NVR 8CH"
        << "00aabbccddee" << 1;
    QTest::newRow("a MAC scope that is no MAC")
        << QStringList { "onvif://www.onvif.org/MAC/unknown" } << QStringList {} << uuid << false
        << "u1b2c3d4e00004000800000aabbccddee"
        << "ONVIF"
        << "00aabbccddee" << 2;
}

void TestOnvifRecords::searchRecordIdentity()
{
    QFETCH(QStringList, scopes);
    QFETCH(QStringList, types);
    QFETCH(QString, endpoint);
    QFETCH(bool, withInfo);
    QFETCH(QString, mac);
    QFETCH(QString, model);
    QFETCH(QString, serial);
    QFETCH(int, type);
    map::FoundDevice found;
    for (const QString &s : scopes)
        found.scopes.push_back(s.toStdString());
    for (const QString &t : types)
        found.types.push_back(t.toStdString());
    found.endpoint = endpoint.toStdString();
    found.host = "127.0.0.5";
    if (withInfo)
        found.info = DeviceInformation { "Maker", "CAM-1", "V2.4.1", "SN0001", "HW7" };

    SearchRecord r;
    std::memset(&r, 0xee, sizeof r);
    map::fillSearchRecord(found, &r);
    QCOMPARE(q(r.net.macText()), mac);
    QCOMPARE(q(map::macTextOf(found)), mac);
    QCOMPARE(q(r.dev.modelText()), model);
    QCOMPARE(q(r.dev.serialText()), serial);
    QCOMPARE(r.dev.deviceType(), type);
    QCOMPARE(map::deviceTypeOf(found), type);
}

void TestOnvifRecords::searchRecordAddresses()
{
    map::FoundDevice found;
    found.endpoint = "urn:uuid:1b2c3d4e-0000-4000-8000-00aabbccddee";
    found.host = "127.0.0.5";
    found.port = 8080;
    found.info = DeviceInformation { "Maker", "CAM-1", "V2.4.1", "SN0001", "HW7" };
    SearchRecord r;
    std::memset(&r, 0xee, sizeof r);
    map::fillSearchRecord(found, &r);
    QCOMPARE(q(r.net.ipText()), QStringLiteral("127.0.0.5"));
    QCOMPARE(q(octetsText(r.net.mask)), QStringLiteral("255.255.255.0"));
    QCOMPARE(q(octetsText(r.net.gateway)), QStringLiteral("0.0.0.0"));
    QCOMPARE(r.net.loginPort(), uint16_t(8080));
    QCOMPARE(q(readFixedText(reinterpret_cast<const char *>(r.dev.reserved0), 64)),
        QStringLiteral("V2.4.1"));

    // An endpoint that is no UUID still gives a stable 33-character identity.
    found.endpoint = "http://127.0.0.5/some-device";
    const std::string first = map::macTextOf(found);
    QCOMPARE(first.size(), std::size_t(33));
    QCOMPARE(first, map::macTextOf(found));
    found.endpoint = "http://127.0.0.6/some-device";
    QVERIFY(map::macTextOf(found) != first);
}

void TestOnvifRecords::loginBlockCountsVideoSources()
{
    FakeDevice d;
    twoChannels(d);
    map::DeviceContext c;
    c.info = d.info;
    c.profiles = d.profiles;
    LoginInfo block;
    std::memset(&block, 0xee, sizeof block);
    map::fillLoginInfo(c, &block);
    QCOMPARE(q(block.versionText()), QStringLiteral("V2.4.1"));
    QCOMPARE(q(readFixedText(reinterpret_cast<const char *>(block.bytes) + 64, 64)),
        QStringLiteral("SN0001"));
    QCOMPARE(q(readFixedText(reinterpret_cast<const char *>(block.bytes) + 128, 32)),
        QStringLiteral("CAM-1"));
    QCOMPARE(block.videoChannelCount(), 2);
    QCOMPARE(block.loginDeviceType(), int32_t(DeviceType::IPC));
    QCOMPARE(block.audioChannelCount(), 0);
    QCOMPARE(block.word(LoginInfo::AllChannelsFlag), 0);
}

void TestOnvifRecords::failuresMapToCodes_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("code");
    QTest::newRow("not authorized") << int(CallError::NotAuthorized) << int(NETSDK_ERR_PASSWORD);
    QTest::newRow("timeout") << int(CallError::Timeout) << int(NETSDK_ERR_TIMEOUT);
    QTest::newRow("not supported") << int(CallError::NotSupported) << int(NETSDK_ERR_NOT_SUPPORTED);
    QTest::newRow("invalid argument") << int(CallError::InvalidArgument) << int(NETSDK_ERR_FAIL);
    QTest::newRow("fault") << int(CallError::Fault) << int(NETSDK_ERR_FAIL);
    QTest::newRow("unreachable") << int(CallError::Unreachable) << -10003;
    QTest::newRow("bad answer") << int(CallError::BadAnswer) << -10004;
}

void TestOnvifRecords::failuresMapToCodes()
{
    QFETCH(int, kind);
    QFETCH(int, code);
    QCOMPARE(map::resultFor(Failure { CallError(kind), "why" }), code);
}

void TestOnvifRecords::unmappedCommandsAnswerNotSupported_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("isSet");
    for (const int command : { 30, 31, 51, 52, 61, 96, 172, 190, 33 })
        QTest::addRow("get %d", command) << command << false;
    for (const int command : { 10, 17, 30, 31, 51, 52, 61, 96, 135, 172, 175, 190 })
        QTest::addRow("set %d", command) << command << true;
}

void TestOnvifRecords::unmappedCommandsAnswerNotSupported()
{
    QFETCH(int, command);
    QFETCH(bool, isSet);
    FakeDevice d;
    twoChannels(d);
    map::DeviceContext c;
    std::vector<uint8_t> buffer(65536, 0);
    int32_t bytes = -7;
    const int32_t r = isSet
        ? map::setConfig(d, c, command, 0, buffer.data(), 64)
        : map::getConfig(d, c, command, 0, buffer.data(), int32_t(buffer.size()), &bytes);
    QCOMPARE(r, int32_t(NETSDK_ERR_NOT_SUPPORTED));
    QVERIFY(d.calls.empty());
    QCOMPARE(bytes, -7);
}

void TestOnvifRecords::smallBufferIsNeverWritten()
{
    FakeDevice d;
    twoChannels(d);
    map::DeviceContext c;
    for (const int32_t command :
        { int32_t(CmdEncodeTable), int32_t(CmdResolutionList), int32_t(CmdTimeZone) }) {
        std::vector<uint8_t> buffer(32000, 0xab);
        int32_t bytes = -7;
        const int32_t size = command == CmdEncodeTable ? int32_t(sizeof(EncodeTable))
            : command == CmdResolutionList             ? int32_t(sizeof(ResolutionList))
                                                       : int32_t(sizeof(TimeZoneRecord));
        QVERIFY(map::getConfig(d, c, command, -1, buffer.data(), size - 1, &bytes) < 0);
        QCOMPARE(bytes, -7);
        QVERIFY(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xab; }));
        QCOMPARE(
            map::getConfig(d, c, command, -1, buffer.data(), int32_t(buffer.size()), &bytes), 0);
        QCOMPARE(bytes, size);
        QCOMPARE(buffer[std::size_t(size)], uint8_t(0xab));
    }
    // A set of the wrong size sends nothing.
    TimeZoneRecord zone;
    std::memset(&zone, 0, sizeof zone);
    QCOMPARE(map::setConfig(d, c, CmdTimeZone, -1, &zone, 4), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(map::setNetwork(d, &zone, 8), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(d.sets(), 0);
}

void TestOnvifRecords::encodeTableGroupsProfilesBySource()
{
    auto [d, c, table] = twoChannelTable();
    QVERIFY(table);

    const StreamParams &main0 = table->channel[0].main;
    QCOMPARE(main0.encodeType(), 7);
    QCOMPARE(main0.resolution(), 14); // 1080P
    QCOMPARE(main0.bitControl(), 0);
    QCOMPARE(main0.quality(), 3); // 4 of 0..10
    QCOMPARE(main0.frameRate(), 25);
    QCOMPARE(main0.bitRate(), 4096);
    QCOMPARE(main0.iFrameInterval(), 50);
    QVERIFY(main0.videoOn());
    QVERIFY(!main0.audioOn());
    QCOMPARE(table->channel[0].sub.bitRate(), 512);
    QVERIFY(table->channel[0].sub.videoOn());
    // The second source's only encoding profile is its main stream; it has no sub.
    QCOMPARE(table->channel[1].main.resolution(), 11);
    QCOMPARE(table->channel[1].main.frameRate(), 20);
    QVERIFY(!table->channel[1].sub.videoOn());
    QVERIFY(!table->channel[2].main.videoOn());
    // A third profile of a source is no stream the page shows.
    QCOMPARE(table->channel[0].third.bitRate(), 0);
}

void TestOnvifRecords::resolutionListKeepsDeviceSizes()
{
    FakeDevice d;
    twoChannels(d);
    map::DeviceContext c;
    ResolutionList list;
    QCOMPARE(get(d, c, CmdResolutionList, list), 0);
    // Sizes of the table keep their index and name.
    QCOMPARE(list.entry[14].widthValue(), 1920);
    QCOMPARE(q(list.entry[14].nameText()), QStringLiteral("1080P(1920x1080)"));
    QCOMPARE(list.entry[3].heightValue(), 288);
    // 640x360 is not in the table: it takes the nearest free entry by
    // pixels (HD1, 704x288) under its own size and name.
    QCOMPARE(list.entry[1].widthValue(), 640);
    QCOMPARE(list.entry[1].heightValue(), 360);
    QCOMPARE(q(list.entry[1].nameText()), QStringLiteral("640x360"));
    // Untouched entries are the table's, with PAL sizes for a 25 fps device.
    QCOMPARE(list.entry[0].heightValue(), 576);

    auto table = std::make_unique<EncodeTable>();
    QCOMPARE(get(d, c, CmdEncodeTable, *table), 0);
    QCOMPARE(table->channel[0].sub.resolution(), 1);
}

void TestOnvifRecords::encodeCapsOfferOnlyTheOptions()
{
    FakeDevice d;
    twoChannels(d);
    map::DeviceContext c;
    EncodeCaps caps;
    QCOMPARE(get(d, c, CmdEncodeCaps, caps), 0);
    const uint32_t mainMask = 1u << 14 | 1u << 11 | 1u << 1;
    QCOMPARE(caps.mainResolutionMask(0), mainMask);
    QCOMPARE(caps.subResolutionMask(0), 1u << 1 | 1u << 3);
    QCOMPARE(caps.mainResolutionMask(1), mainMask);
    QCOMPARE(caps.subResolutionMask(1), 0u);
    QCOMPARE(caps.typeMask(EncodeCaps::MainEntry), 1u << 7);
    QCOMPARE(caps.typeMask(EncodeCaps::SubEntry), 1u << 7 | 1u << 5);
    QCOMPARE(caps.subMaskByMainRes(0, 14), 1u << 1 | 1u << 3);
    QCOMPARE(caps.subMaskByMainRes(0, 3), 0u);
    QVERIFY(!caps.sharedBudget());
    // Every stream at its largest size and rate fits the budgets.
    QCOMPARE(caps.pixelRateBudget(), (2073600 + 230400) * 25 + 2073600 * 25);
    QCOMPARE(caps.bitRateBudget(), 2 * 8192);
    // Options are asked for once per configuration and session.
    const auto asked
        = std::count(d.calls.begin(), d.calls.end(), "getVideoEncoderConfigurationOptions");
    QCOMPARE(int(asked), 3);
    QCOMPARE(get(d, c, CmdEncodeCaps, caps), 0);
    QCOMPARE(
        int(std::count(d.calls.begin(), d.calls.end(), "getVideoEncoderConfigurationOptions")), 3);
}

void TestOnvifRecords::unchangedEncodeSetSendsNothing()
{
    auto [d, c, table] = twoChannelTable();
    QVERIFY(table);
    // Bytes the project's devices keep for themselves mean nothing here.
    table->channel[0].main.bytes[100] = 0x5a;
    table->channel[5].third.setBitRate(77);
    QCOMPARE(set(d, c, CmdEncodeTable, *table), 0);
    QCOMPARE(d.sets(), 0);
}

void TestOnvifRecords::oneEncodeFieldSendsOnlyThatField()
{
    auto [d, c, table] = twoChannelTable();
    QVERIFY(table);
    table->channel[1].main.setBitRate(3000);
    QCOMPARE(set(d, c, CmdEncodeTable, *table), 0);
    QCOMPARE(int(d.encoderSets.size()), 1);
    VideoEncoderConfiguration expected = *d.profiles[3].videoEncoder;
    expected.bitrateLimit = 3000;
    const VideoEncoderConfiguration &sent = d.encoderSets[0];
    QCOMPARE(q(sent.token), q(expected.token));
    QCOMPARE(q(sent.name), q(expected.name));
    QCOMPARE(sent.useCount, expected.useCount);
    QCOMPARE(q(sent.encoding), q(expected.encoding));
    QCOMPARE(sent.resolution.width, expected.resolution.width);
    QCOMPARE(sent.resolution.height, expected.resolution.height);
    QCOMPARE(sent.quality, expected.quality);
    QCOMPARE(sent.frameRateLimit, expected.frameRateLimit);
    QCOMPARE(sent.encodingInterval, expected.encodingInterval);
    QCOMPARE(sent.bitrateLimit, 3000);
    QCOMPARE(sent.govLength, expected.govLength);
    QCOMPARE(q(sent.h264Profile), q(expected.h264Profile));
    QCOMPARE(sent.sessionTimeoutSeconds, 720);

    // Quality grades are spread over the device's range.
    d.encoderSets.clear();
    table->channel[0].main.setQuality(6);
    d.rebootNeeded = true;
    QCOMPARE(set(d, c, CmdEncodeTable, *table), int32_t(NETSDK_ERR_NEED_REBOOT));
    QCOMPARE(int(d.encoderSets.size()), 1);
    QCOMPARE(q(d.encoderSets[0].token), QStringLiteral("e1"));
    QCOMPARE(d.encoderSets[0].quality, 10.0);
}

void TestOnvifRecords::resolutionAndTypeSetsChecked()
{
    auto [d, c, table] = twoChannelTable();
    QVERIFY(table);
    table->channel[0].main.setResolution(11);
    table->channel[0].sub.setEncodeType(5);
    table->channel[0].sub.setFrameRate(15);
    QCOMPARE(set(d, c, CmdEncodeTable, *table), 0);
    QCOMPARE(int(d.encoderSets.size()), 2);
    QCOMPARE(d.encoderSets[0].resolution.width, 1280);
    QCOMPARE(d.encoderSets[0].resolution.height, 720);
    QCOMPARE(q(d.encoderSets[1].encoding), QStringLiteral("JPEG"));
    QCOMPARE(d.encoderSets[1].frameRateLimit, 15);
    QCOMPARE(d.encoderSets[1].resolution.width, 640);

    // The index of a size the table lacks sends the device's own size.
    d.encoderSets.clear();
    table->channel[0].main.setResolution(1);
    QCOMPARE(set(d, c, CmdEncodeTable, *table), 0);
    QCOMPARE(int(d.encoderSets.size()), 1);
    QCOMPARE(d.encoderSets[0].resolution.width, 640);
    QCOMPARE(d.encoderSets[0].resolution.height, 360);
}

void TestOnvifRecords::encodeRefusalsSendNothing_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("stream");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("code");
    const int fail = NETSDK_ERR_FAIL, unsupported = NETSDK_ERR_NOT_SUPPORTED;
    QTest::newRow("size the stream does not offer")
        << 0 << 0 << int(StreamParams::Resolution) << 3 << fail;
    QTest::newRow("empty list entry") << 0 << 0 << int(StreamParams::Resolution) << 31 << fail;
    QTest::newRow("frame rate above the range")
        << 0 << 0 << int(StreamParams::FrameRate) << 30 << fail;
    QTest::newRow("bit rate above the range")
        << 0 << 0 << int(StreamParams::BitRate) << 9000 << fail;
    QTest::newRow("GOP of 0") << 0 << 0 << int(StreamParams::IFrameInterval) << 0 << fail;
    QTest::newRow("quality grade 7") << 0 << 0 << int(StreamParams::Quality) << 7 << fail;
    QTest::newRow("H.265 not offered") << 0 << 0 << int(StreamParams::EncodeType) << 8 << fail;
    QTest::newRow("JPEG not offered for main")
        << 0 << 0 << int(StreamParams::EncodeType) << 5 << fail;
    QTest::newRow("JPEG at 25 fps") << 0 << 1 << int(StreamParams::EncodeType) << 5 << fail;
    QTest::newRow("VBR") << 0 << 0 << int(StreamParams::BitControl) << 1 << unsupported;
    QTest::newRow("stream off") << 0 << 1 << int(StreamParams::VideoOn) << 0 << unsupported;
    QTest::newRow("a sub stream the source lacks")
        << 1 << 1 << int(StreamParams::BitRate) << 512 << unsupported;
}

void TestOnvifRecords::encodeRefusalsSendNothing()
{
    QFETCH(int, channel);
    QFETCH(int, stream);
    QFETCH(int, offset);
    QFETCH(int, value);
    QFETCH(int, code);
    auto [d, c, table] = twoChannelTable();
    QVERIFY(table);
    // A valid change elsewhere must not go out ahead of the refusal.
    table->channel[1].main.setBitRate(1000);
    StreamParams &s = stream == 0 ? table->channel[channel].main : table->channel[channel].sub;
    if (offset == StreamParams::VideoOn)
        s.setVideoOn(value != 0);
    else
        s.setWord(std::size_t(offset), value);
    QCOMPARE(set(d, c, CmdEncodeTable, *table), int32_t(code));
    QCOMPARE(d.sets(), 0);
}

void TestOnvifRecords::pageRecordsForTheEncodePage()
{
    FakeDevice d;
    twoChannels(d);
    map::DeviceContext c;
    DeviceInfoRecord info;
    QCOMPARE(get(d, c, CmdDeviceInfo, info, 0), 0);
    QCOMPARE(
        q(readFixedText(reinterpret_cast<const char *>(info.bytes), 64)), QStringLiteral("V2.4.1"));
    QCOMPARE(q(readFixedText(reinterpret_cast<const char *>(info.bytes) + 64, 64)),
        QStringLiteral("SN0001"));
    QCOMPARE(info.word(160), 2);
    // The page reads the device's resolution list only for firmware built
    // on or after this day.
    QCOMPARE(q(info.buildTimeText()), QStringLiteral("2021-09-17 00:00:00"));

    VideoStandard standard;
    QCOMPARE(get(d, c, CmdVideoStandard, standard), 0);
    QVERIFY(!standard.isNtsc());
    QCOMPARE(set(d, c, CmdVideoStandard, standard), 0);
    standard.setNtsc(true);
    QCOMPARE(set(d, c, CmdVideoStandard, standard), int32_t(NETSDK_ERR_NOT_SUPPORTED));

    d.options["e1"].h264FrameRate.max = 30;
    c.encoderOptions.clear();
    QCOMPARE(get(d, c, CmdVideoStandard, standard), 0);
    QVERIFY(standard.isNtsc());
    ResolutionList list;
    QCOMPARE(get(d, c, CmdResolutionList, list), 0);
    QCOMPARE(list.entry[0].heightValue(), 480);
    QCOMPARE(d.sets(), 0);
}

void TestOnvifRecords::timeZoneTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("minutesWest"); // -9999: no offset in the text
    QTest::newRow("east") << "UTC-8" << -480;
    QTest::newRow("west with minutes") << "UTC3:30" << 210;
    QTest::newRow("zero") << "UTC0" << 0;
    QTest::newRow("quarter hours") << "UTC-5:45" << -345;
    QTest::newRow("with a summer rule") << "CET-1CEST,M3.5.0,M10.5.0/3" << -60;
    QTest::newRow("quoted name") << "<+0530>-5:30" << -330;
    QTest::newRow("explicit plus") << "EST+5EDT" << 300;
    QTest::newRow("with seconds") << "XYZ-8:00:00" << -480;
    QTest::newRow("name only") << "UTC" << -9999;
    QTest::newRow("short name") << "X-8" << -9999;
    QTest::newRow("zone file") << ":Europe/Berlin" << -9999;
    QTest::newRow("empty") << "" << -9999;
}

void TestOnvifRecords::timeZoneTexts()
{
    QFETCH(QString, text);
    QFETCH(int, minutesWest);
    const auto parsed = map::minutesWestOf(text.toStdString());
    QCOMPARE(parsed.value_or(-9999), minutesWest);
    if (parsed)
        QCOMPARE(map::minutesWestOf(map::posixTimeZone(*parsed)).value_or(-9999), minutesWest);
}

void TestOnvifRecords::clockRecords()
{
    FakeDevice d;
    d.clock.timeZone = "CST-8";
    d.clock.utc = DateTime { 2026, 2, 28, 20, 0, 5 };
    map::DeviceContext c;
    SystemTimeRecord t;
    QCOMPARE(get(d, c, CmdSystemTime, t), 0);
    QCOMPARE(t.word(SystemTimeRecord::Year), 2026);
    QCOMPARE(t.word(SystemTimeRecord::Month), 3);
    QCOMPARE(t.word(SystemTimeRecord::Day), 1);
    QCOMPARE(t.word(SystemTimeRecord::Hour), 4);
    QCOMPARE(t.word(SystemTimeRecord::Second), 5);
    // A device that tells its local time is believed.
    d.clock.local = DateTime { 2026, 3, 1, 4, 30, 0 };
    QCOMPARE(get(d, c, CmdSystemTime, t), 0);
    QCOMPARE(t.word(SystemTimeRecord::Minute), 30);

    // A set is local time, sent as UTC in manual mode with the zone kept.
    d.clock.ntp = true;
    d.clock.daylightSavings = true;
    t.setWord(SystemTimeRecord::Day, 1);
    t.setWord(SystemTimeRecord::Hour, 7);
    t.setWord(SystemTimeRecord::Minute, 15);
    QCOMPARE(set(d, c, CmdSystemTime, t), 0);
    QCOMPARE(int(d.clockSets.size()), 1);
    const SetDateAndTime &sent = d.clockSets[0];
    QVERIFY(!sent.ntp);
    QVERIFY(sent.daylightSavings);
    QVERIFY(!sent.timeZone);
    QVERIFY(sent.utc);
    QCOMPARE(sent.utc->day, 28);
    QCOMPARE(sent.utc->month, 2);
    QCOMPARE(sent.utc->hour, 23);
    QCOMPARE(sent.utc->minute, 15);
    t.setWord(SystemTimeRecord::Day, 30);
    t.setWord(SystemTimeRecord::Month, 2);
    QCOMPARE(set(d, c, CmdSystemTime, t), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(int(d.clockSets.size()), 1);

    // The zone: read as minutes west, written only when it differs.
    TimeZoneRecord zone;
    QCOMPARE(get(d, c, CmdTimeZone, zone), 0);
    QCOMPARE(zone.word(TimeZoneRecord::MinutesWest), -480);
    QCOMPARE(set(d, c, CmdTimeZone, zone), 0);
    QCOMPARE(int(d.clockSets.size()), 1);
    zone.setWord(TimeZoneRecord::MinutesWest, -330);
    QCOMPARE(set(d, c, CmdTimeZone, zone), 0);
    QCOMPARE(int(d.clockSets.size()), 2);
    QCOMPARE(q(d.clockSets[1].timeZone.value_or("")), QStringLiteral("UTC-5:30"));
    QVERIFY(d.clockSets[1].ntp);
    QVERIFY(!d.clockSets[1].utc);
    zone.setWord(TimeZoneRecord::MinutesWest, 17);
    QCOMPARE(set(d, c, CmdTimeZone, zone), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(int(d.clockSets.size()), 2);

    // A device that names no zone is on UTC, and stays without one.
    d.clock.timeZone.clear();
    QCOMPARE(get(d, c, CmdTimeZone, zone), 0);
    QCOMPARE(zone.word(TimeZoneRecord::MinutesWest), 0);
    QCOMPARE(set(d, c, CmdTimeZone, zone), 0);
    QCOMPARE(int(d.clockSets.size()), 2);
}

void TestOnvifRecords::ntpRecord()
{
    FakeDevice d;
    d.clock.timeZone = "CST-8";
    d.ntp.servers = { "pool.example" };
    map::DeviceContext c;
    NtpRecord n;
    QCOMPARE(get(d, c, CmdNtp, n), 0);
    QVERIFY(!n.enabled());
    QCOMPARE(q(n.server()), QStringLiteral("pool.example"));
    QCOMPARE(n.word(NtpRecord::Port), 123);
    QCOMPARE(n.word(NtpRecord::ZoneIndex), 13); // UTC+08:00

    QCOMPARE(set(d, c, CmdNtp, n), 0);
    QCOMPARE(d.sets(), 0);

    n.setEnabled(true);
    QCOMPARE(set(d, c, CmdNtp, n), 0);
    QCOMPARE(int(d.ntpSets.size()), 0);
    QCOMPARE(int(d.clockSets.size()), 1);
    QVERIFY(d.clockSets[0].ntp);
    QVERIFY(!d.clockSets[0].timeZone);

    d.clock.ntp = true;
    n.setServer("time.example");
    n.setWord(NtpRecord::ZoneIndex, 0);
    QCOMPARE(set(d, c, CmdNtp, n), 0);
    QCOMPARE(int(d.ntpSets.size()), 1);
    QCOMPARE(int(d.ntpSets[0].servers.size()), 1);
    QCOMPARE(q(d.ntpSets[0].servers[0]), QStringLiteral("time.example"));
    QVERIFY(!d.ntpSets[0].fromDhcp);
    QCOMPARE(int(d.clockSets.size()), 2);
    QCOMPARE(q(d.clockSets[1].timeZone.value_or("")), QStringLiteral("UTC0"));

    // A poll period is the device's own business: the system page's default
    // of one minute neither refuses the set nor adds a call to it.
    int before = d.sets();
    QCOMPARE(set(d, c, CmdNtp, n), 0);
    const int calls = d.sets() - before;
    before = d.sets();
    NtpRecord other = n;
    other.setWord(NtpRecord::Period, 1);
    QCOMPARE(set(d, c, CmdNtp, other), 0);
    QCOMPARE(d.sets() - before, calls);
    before = d.sets();

    // No word for a port; no NTP without a server.
    other = n;
    other.setWord(NtpRecord::Port, 124);
    QCOMPARE(set(d, c, CmdNtp, other), int32_t(NETSDK_ERR_NOT_SUPPORTED));
    other = n;
    other.setServer("");
    QCOMPARE(set(d, c, CmdNtp, other), int32_t(NETSDK_ERR_FAIL));
    other = n;
    other.setWord(NtpRecord::ZoneIndex, 33);
    QCOMPARE(set(d, c, CmdNtp, other), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(d.sets(), before);

    // A server name too long for the record reads as none and survives an
    // unchanged set, even with NTP on.
    d.ntp.servers = { std::string(70, 'n') + ".example" };
    QCOMPARE(get(d, c, CmdNtp, n), 0);
    QCOMPARE(q(n.server()), QString());
    QCOMPARE(set(d, c, CmdNtp, n), 0);
    QCOMPARE(d.sets(), before);
}

void TestOnvifRecords::imageRecords()
{
    FakeDevice d;
    twoChannels(d);
    d.imaging.irCutFilter = "ON";
    d.imaging.exposureMode = "MANUAL";
    d.imaging.exposureTime = 4100;
    d.imaging.minExposureTime = 100;
    d.imaging.maxExposureTime = 40000;
    d.imaging.wideDynamicRangeMode = "ON";
    d.imaging.backlightCompensationMode = "ON";
    d.imagingOptions.wideDynamicRangeModes = { "ON", "OFF" };
    map::DeviceContext c;

    ImageRecord image;
    QCOMPARE(get(d, c, CmdImage, image, 1), 0);
    QVERIFY(std::find(d.calls.begin(), d.calls.end(), "getImagingSettings vs2") != d.calls.end());
    QCOMPARE(image.bytes[ImageRecord::DayNight], uint8_t(1));
    QCOMPARE(image.bytes[ImageRecord::DncSensitivity], uint8_t(25));
    QCOMPARE(image.bytes[ImageRecord::Wdr], uint8_t(1));
    QCOMPARE(image.bytes[ImageRecord::Mirror], uint8_t(0));

    ExposureRecord exposure;
    QCOMPARE(get(d, c, CmdExposure, exposure, 0), 0);
    for (int b = 0; b < ExposureRecord::Blocks; ++b) {
        const uint8_t *block = exposure.block(b);
        QCOMPARE(readLe32(block + ExposureRecord::Mode), 3u); // 1/250 s is the nearest shutter
        QCOMPARE(readLe32(block + ExposureRecord::LimitFirst), 40000u);
        QCOMPARE(readLe32(block + ExposureRecord::LimitSecond), 100u);
        QCOMPARE(block[ExposureRecord::BackLight], uint8_t(1));
        QCOMPARE(readLe16(block + ExposureRecord::Ae), uint16_t(128));
    }

    ImageCapsRecord caps;
    QCOMPARE(get(d, c, CmdImageCaps, caps), 0);
    QCOMPARE(caps.bytes[ImageCapsRecord::WdrOffered], uint8_t(1));
    QCOMPARE(caps.bytes[ImageCapsRecord::FocusOffered], uint8_t(0));
    QCOMPARE(caps.bytes[ImageCapsRecord::ModeMask], uint8_t(0));
    d.imagingOptions.wideDynamicRangeModes = { "OFF" };
    QCOMPARE(get(d, c, CmdImageCaps, caps), 0);
    QCOMPARE(caps.bytes[ImageCapsRecord::WdrOffered], uint8_t(0));

    QCOMPARE(get(d, c, CmdImage, image, 2), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(d.sets(), 0);
}

void TestOnvifRecords::imageSetsSendOnlyWhatMaps()
{
    FakeDevice d;
    twoChannels(d);
    d.imaging.irCutFilter = "ON";
    d.imaging.wideDynamicRangeMode = "OFF";
    d.imagingOptions.irCutFilterModes = { "ON", "OFF", "AUTO" };
    d.imagingOptions.wideDynamicRangeModes = { "ON", "OFF" };
    map::DeviceContext c;
    ImageRecord image;
    QCOMPARE(get(d, c, CmdImage, image, 0), 0);
    image.bytes[20] = 9; // the project's devices' own bytes
    QCOMPARE(set(d, c, CmdImage, image, 0), 0);
    QCOMPARE(d.sets(), 0);

    image.bytes[ImageRecord::DayNight] = 2;
    QCOMPARE(set(d, c, CmdImage, image, 0), 0);
    QCOMPARE(int(d.imagingSets.size()), 1);
    QCOMPARE(q(d.imagingSets[0].first), QStringLiteral("vs1"));
    const ImagingSettings &sent = d.imagingSets[0].second;
    QCOMPARE(q(sent.irCutFilter.value_or("")), QStringLiteral("OFF"));
    QVERIFY(!sent.wideDynamicRangeMode && !sent.exposureMode && !sent.brightness
        && !sent.backlightCompensationMode);

    // Fields without a counterpart refuse the whole record.
    for (const std::size_t at : { ImageRecord::Mirror, ImageRecord::Roll, ImageRecord::FocusMode,
             ImageRecord::DncSensitivity, ImageRecord::IrCut }) {
        ImageRecord changed = image;
        changed.bytes[ImageRecord::Wdr] = 1;
        changed.bytes[at] = uint8_t(changed.bytes[at] + 1);
        QCOMPARE(set(d, c, CmdImage, changed, 0), int32_t(NETSDK_ERR_NOT_SUPPORTED));
    }
    // A mode the camera does not offer is refused.
    d.imagingOptions.irCutFilterModes = { "ON", "OFF" };
    ImageRecord automatic = image;
    automatic.bytes[ImageRecord::DayNight] = 0;
    QCOMPARE(set(d, c, CmdImage, automatic, 0), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(int(d.imagingSets.size()), 1);
}

void TestOnvifRecords::exposureSets()
{
    FakeDevice d;
    twoChannels(d);
    d.imaging.exposureMode = "AUTO";
    d.imaging.minExposureTime = 100;
    d.imaging.maxExposureTime = 40000;
    d.imagingOptions.exposureModes = { "AUTO", "MANUAL" };
    d.imagingOptions.exposureTime = Range { 200, 40000 };
    map::DeviceContext c;
    ExposureRecord read;
    QCOMPARE(get(d, c, CmdExposure, read, 0), 0);

    ExposureRecord e = read;
    writeLe32(e.block(2) + ExposureRecord::Mode, 3);
    QCOMPARE(set(d, c, CmdExposure, e, 0), 0);
    QCOMPARE(int(d.imagingSets.size()), 1);
    const ImagingSettings &sent = d.imagingSets[0].second;
    QCOMPARE(q(sent.exposureMode.value_or("")), QStringLiteral("MANUAL"));
    QCOMPARE(sent.exposureTime.value_or(0), 4000.0);
    QVERIFY(!sent.minExposureTime && !sent.maxExposureTime && !sent.backlightCompensationMode);

    e = read;
    writeLe32(e.block(0) + ExposureRecord::LimitFirst, 20000);
    QCOMPARE(set(d, c, CmdExposure, e, 0), 0);
    QCOMPARE(int(d.imagingSets.size()), 2);
    QCOMPARE(d.imagingSets[1].second.maxExposureTime.value_or(0), 20000.0);
    QCOMPARE(d.imagingSets[1].second.minExposureTime.value_or(0), 100.0);
    QCOMPARE(q(d.imagingSets[1].second.exposureMode.value_or("")), QStringLiteral("AUTO"));

    // The limits the device holds may lie outside the manual range; a
    // limit changed to such a value is refused.
    e = read;
    writeLe32(e.block(0) + ExposureRecord::LimitSecond, 150);
    QCOMPARE(set(d, c, CmdExposure, e, 0), int32_t(NETSDK_ERR_FAIL));
    writeLe32(e.block(0) + ExposureRecord::LimitSecond, 50000);
    QCOMPARE(set(d, c, CmdExposure, e, 0), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(int(d.imagingSets.size()), 2);

    struct Refusal
    {
        std::size_t at;
        uint32_t value;
        int32_t code;
    };
    for (const Refusal &r :
        { Refusal { ExposureRecord::Mode, 8, NETSDK_ERR_FAIL }, // 1/8000 s below the range
            Refusal { ExposureRecord::Mode, 9, NETSDK_ERR_FAIL },
            Refusal { ExposureRecord::Sensitivity, 6, NETSDK_ERR_NOT_SUPPORTED },
            Refusal { ExposureRecord::NoiseGrade, 2, NETSDK_ERR_NOT_SUPPORTED },
            Refusal { ExposureRecord::BackLight, 1, NETSDK_ERR_NOT_SUPPORTED } }) {
        e = read;
        if (r.at == ExposureRecord::Mode)
            writeLe32(e.block(0) + r.at, r.value);
        else
            e.block(0)[r.at] = uint8_t(r.value);
        QCOMPARE(set(d, c, CmdExposure, e, 0), r.code);
    }
    // Two blocks asking for different things.
    e = read;
    writeLe32(e.block(0) + ExposureRecord::Mode, 2);
    writeLe32(e.block(1) + ExposureRecord::Mode, 3);
    QCOMPARE(set(d, c, CmdExposure, e, 0), int32_t(NETSDK_ERR_FAIL));
    d.imagingOptions.exposureModes = { "AUTO" };
    e = read;
    writeLe32(e.block(0) + ExposureRecord::Mode, 3);
    QCOMPARE(set(d, c, CmdExposure, e, 0), int32_t(NETSDK_ERR_NOT_SUPPORTED));
    QCOMPARE(int(d.imagingSets.size()), 2);
}

void TestOnvifRecords::networkSetSendsOnlyDifferences()
{
    FakeDevice d;
    d.interfaces = { nic("192.168.1.10", 24) };
    map::DeviceContext c;
    c.macText = "02:00:00:00:00:01";
    c.port = 8080;
    NetInfo n;
    QCOMPARE(get(d, c, CmdNetWithoutLogin, n), 0);
    QCOMPARE(q(n.ipText()), QStringLiteral("192.168.1.10"));
    QCOMPARE(q(octetsText(n.mask)), QStringLiteral("255.255.255.0"));
    QCOMPARE(q(octetsText(n.gateway)), QStringLiteral("192.168.1.1"));
    QCOMPARE(n.loginPort(), uint16_t(8080));
    QCOMPARE(q(n.macText()), QStringLiteral("02:00:00:00:00:01"));

    QCOMPARE(map::setNetwork(d, &n, int32_t(sizeof n)), 0);
    QCOMPARE(d.sets(), 0);

    const uint8_t ip[4] = { 192, 168, 1, 20 }, mask16[4] = { 255, 255, 0, 0 },
                  gw[4] = { 192, 168, 1, 1 };
    NetInfo moved = netInfo(ip, mask16, gw);
    QCOMPARE(map::setNetwork(d, &moved, int32_t(sizeof moved)), 0);
    QCOMPARE(int(d.interfaceChanges.size()), 1);
    QCOMPARE(int(d.gatewaySets.size()), 0);
    const NetworkInterfaceChange &change = d.interfaceChanges[0];
    QCOMPARE(q(change.token), QStringLiteral("eth0"));
    QVERIFY(!change.dhcp);
    QCOMPARE(q(change.address.value_or("")), QStringLiteral("192.168.1.20"));
    QCOMPARE(change.prefixLength.value_or(0), 16);

    const uint8_t oldIp[4] = { 192, 168, 1, 10 }, mask24[4] = { 255, 255, 255, 0 },
                  newGw[4] = { 192, 168, 1, 254 };
    NetInfo gateway = netInfo(oldIp, mask24, newGw);
    d.rebootNeeded = true;
    QCOMPARE(
        map::setNetwork(d, &gateway, int32_t(sizeof gateway)), int32_t(NETSDK_ERR_NEED_REBOOT));
    QCOMPARE(int(d.interfaceChanges.size()), 1);
    QCOMPARE(int(d.gatewaySets.size()), 1);
    QCOMPARE(int(d.gatewaySets[0].size()), 1);
    QCOMPARE(q(d.gatewaySets[0][0]), QStringLiteral("192.168.1.254"));

    // Leaving DHCP for the same address is a change.
    d.rebootNeeded = false;
    d.interfaces = { nic("192.168.1.10", 24, true) };
    NetInfo same = netInfo(oldIp, mask24, gw);
    QCOMPARE(map::setNetwork(d, &same, int32_t(sizeof same)), 0);
    QCOMPARE(int(d.interfaceChanges.size()), 2);
    QCOMPARE(d.interfaceChanges[1].dhcp.value_or(true), false);

    const uint8_t badMask[4] = { 255, 0, 255, 0 }, noIp[4] = { 0, 0, 0, 0 };
    NetInfo holes = netInfo(ip, badMask, gw);
    QCOMPARE(map::setNetwork(d, &holes, int32_t(sizeof holes)), int32_t(NETSDK_ERR_FAIL));
    NetInfo none = netInfo(noIp, mask24, gw);
    QCOMPARE(map::setNetwork(d, &none, int32_t(sizeof none)), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(d.sets(), 3);
}

void TestOnvifRecords::dhcpAndDefaults()
{
    FakeDevice d;
    d.interfaces = { nic("10.0.0.5", 8) };
    map::DeviceContext c;
    DhcpRecord dhcp;
    QCOMPARE(get(d, c, CmdDhcp, dhcp), 0);
    QCOMPARE(dhcp.word(DhcpRecord::Enable), 0);
    QCOMPARE(set(d, c, CmdDhcp, dhcp), 0);
    QCOMPARE(d.sets(), 0);
    dhcp.setWord(DhcpRecord::Enable, 1);
    QCOMPARE(set(d, c, CmdDhcp, dhcp), 0);
    QCOMPARE(int(d.interfaceChanges.size()), 1);
    QCOMPARE(d.interfaceChanges[0].dhcp.value_or(false), true);
    QVERIFY(!d.interfaceChanges[0].address);

    d.interfaces = { nic("10.0.0.77", 8, true) };
    dhcp.setWord(DhcpRecord::Enable, 0);
    QCOMPARE(set(d, c, CmdDhcp, dhcp), 0);
    QCOMPARE(q(d.interfaceChanges[1].address.value_or("")), QStringLiteral("10.0.0.77"));
    QCOMPARE(d.interfaceChanges[1].prefixLength.value_or(0), 8);
    dhcp.setWord(DhcpRecord::Enable, 2);
    QCOMPARE(set(d, c, CmdDhcp, dhcp), int32_t(NETSDK_ERR_FAIL));

    RestoreDefaultsRecord defaults;
    std::memset(&defaults, 0, sizeof defaults);
    QCOMPARE(set(d, c, CmdRestoreDefaults, defaults, 0), 0);
    QVERIFY(d.factoryDefaults.empty());
    defaults.setGroup(RestoreDefaultsRecord::Encode, true);
    defaults.setGroup(RestoreDefaultsRecord::GuiDisplay, true);
    QCOMPARE(set(d, c, CmdRestoreDefaults, defaults, 0), 0);
    QCOMPARE(int(d.factoryDefaults.size()), 1);
    QCOMPARE(d.factoryDefaults[0], false); // soft
    for (const int group :
        { int(RestoreDefaultsRecord::Network), int(RestoreDefaultsRecord::Account) }) {
        RestoreDefaultsRecord wide = defaults;
        wide.setGroup(group, true);
        QCOMPARE(set(d, c, CmdRestoreDefaults, wide, 0), int32_t(NETSDK_ERR_NOT_SUPPORTED));
    }
    QCOMPARE(int(d.factoryDefaults.size()), 1);
}

void TestOnvifRecords::failedCallsNeverSucceed()
{
    struct Case
    {
        const char *failing;
        CallError kind;
        int32_t command;
        bool isSet;
        int32_t code;
    };
    const Case cases[] = {
        { "getProfiles", CallError::NotAuthorized, CmdEncodeTable, false, NETSDK_ERR_PASSWORD },
        { "getVideoEncoderConfigurationOptions", CallError::Timeout, CmdEncodeCaps, false,
            NETSDK_ERR_TIMEOUT },
        { "setVideoEncoderConfiguration", CallError::InvalidArgument, CmdEncodeTable, true,
            NETSDK_ERR_FAIL },
        { "getImagingOptions", CallError::Unreachable, CmdImage, false, -10003 },
        { "setImagingSettings", CallError::Fault, CmdImage, true, NETSDK_ERR_FAIL },
        { "getNtp", CallError::NotSupported, CmdNtp, false, NETSDK_ERR_NOT_SUPPORTED },
        { "setSystemDateAndTime", CallError::Timeout, CmdTimeZone, true, NETSDK_ERR_TIMEOUT },
        { "getDeviceInformation", CallError::BadAnswer, CmdDeviceInfo, false, -10004 },
        { "setSystemFactoryDefault", CallError::Fault, CmdRestoreDefaults, true, NETSDK_ERR_FAIL },
    };
    for (const Case &k : cases) {
        FakeDevice d;
        twoChannels(d);
        d.interfaces = { nic("10.0.0.5", 8) };
        d.imaging.irCutFilter = "ON";
        d.imagingOptions.irCutFilterModes = { "ON", "OFF" };
        map::DeviceContext c;
        std::vector<uint8_t> buffer(32000, 0);
        int32_t bytes = 0;
        int32_t size = 0;
        QVERIFY(map::getConfig(d, c, k.command == CmdRestoreDefaults ? CmdDhcp : k.command, 0,
                    buffer.data(), int32_t(buffer.size()), &bytes)
            == 0);
        size = bytes;
        // Something to send: a change each mapping takes.
        if (k.command == CmdEncodeTable)
            writeLe32(buffer.data() + StreamParams::BitRate, 1000);
        else if (k.command == CmdImage)
            buffer[ImageRecord::DayNight] = 2;
        else if (k.command == CmdTimeZone)
            writeLe32(buffer.data() + TimeZoneRecord::MinutesWest, 60);
        else if (k.command == CmdRestoreDefaults) {
            std::fill(buffer.begin(), buffer.begin() + 40, 0);
            buffer[4] = 1;
            size = 40;
        }
        d.failing[k.failing] = Failure { k.kind, "injected" };
        map::DeviceContext fresh;
        const int32_t r = k.isSet
            ? map::setConfig(d, c, k.command, 0, buffer.data(), size)
            : map::getConfig(d, fresh, k.command, 0, buffer.data(), int32_t(buffer.size()), &bytes);
        QVERIFY2(r == k.code, k.failing);
    }

    // A set that failed half way through is no success.
    FakeDevice d;
    d.interfaces = { nic("192.168.1.10", 24) };
    d.failing["setNetworkInterfaces"] = Failure { CallError::Fault, "refused" };
    const uint8_t ip[4] = { 192, 168, 1, 20 }, mask[4] = { 255, 255, 255, 0 },
                  gw[4] = { 192, 168, 1, 254 };
    NetInfo n = netInfo(ip, mask, gw);
    QCOMPARE(map::setNetwork(d, &n, int32_t(sizeof n)), int32_t(NETSDK_ERR_FAIL));
    QCOMPARE(int(d.gatewaySets.size()), 1);
    d.failing = { { "getNetworkInterfaces", Failure { CallError::NotAuthorized, "" } } };
    QCOMPARE(map::setNetwork(d, &n, int32_t(sizeof n)), int32_t(NETSDK_ERR_PASSWORD));
}

QTEST_APPLESS_MAIN(TestOnvifRecords)
#include "tst_onvifrecords.moc"
