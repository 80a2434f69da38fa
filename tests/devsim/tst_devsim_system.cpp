// The emulated devices' system records: clock, NTP and zone, general record,
// restore defaults, lights, channel names and display, services, the
// configuration image, reboot and the restart fault. Driven on the model
// directly and through the SDK on loopback.

#include <QtTest>

#include <cstring>
#include <set>
#include <thread>

#include "ConfigImage.h"
#include "ConfigRecords.h"
#include "DeviceModel.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "Fleet.h"
#include "ModelRecords.h"
#include "NetSdk.h"
#include "NetSdkControl.h"

using namespace scoutrix;
using namespace scoutrix::devsim;

namespace {

SystemTimeRecord timeRecord(int y, int mo, int d, int h, int mi, int s)
{
    SystemTimeRecord t;
    std::memset(&t, 0, sizeof t);
    t.setWord(SystemTimeRecord::Year, y);
    t.setWord(SystemTimeRecord::Month, mo);
    t.setWord(SystemTimeRecord::Day, d);
    t.setWord(SystemTimeRecord::Hour, h);
    t.setWord(SystemTimeRecord::Minute, mi);
    t.setWord(SystemTimeRecord::Second, s);
    return t;
}

// A device of the generated fleet with |type| and, for a camera, |model|.
DeviceSpec deviceOf(int type, const std::string &model = std::string())
{
    for (const DeviceSpec &d : generatedFleet(24).devices) {
        if (d.type == type && (model.empty() || d.model == model))
            return d;
    }
    return DeviceSpec();
}

RestoreDefaultsRecord restoreOf(std::initializer_list<int> groups)
{
    RestoreDefaultsRecord r;
    std::memset(&r, 0, sizeof r);
    for (int g : groups)
        r.setGroup(g, true);
    return r;
}

struct Login
{
    int32_t handle = 0;
    int32_t error = 0;
};

Login loginTo(uint32_t ip, uint16_t port)
{
    Login l;
    LoginInfo info;
    l.handle = NetSdk_Login(net::ipv4Text(ip).c_str(), port, "admin", "739204", &info, 1, &l.error, 0, 0);
    return l;
}

// The search records of every device that answers.
std::vector<SearchRecord> search()
{
    std::vector<SearchRecord> buf(256);
    int32_t bytes = 0;
    if (!NetSdk_SearchDevice(reinterpret_cast<char *>(buf.data()), NETSDK_SEARCH_BUFFER_SIZE, &bytes, 3000, 0))
        return {};
    buf.resize(std::size_t(bytes) / sizeof(SearchRecord));
    return buf;
}

const SearchRecord *findMac(const std::vector<SearchRecord> &found, const std::string &mac)
{
    for (const SearchRecord &r : found) {
        if (r.net.macText() == mac)
            return &r;
    }
    return nullptr;
}

uint32_t ipOf(const NetInfo &n)
{
    return uint32_t(n.ip[0]) << 24 | uint32_t(n.ip[1]) << 16 | uint32_t(n.ip[2]) << 8 | n.ip[3];
}

using fixture::loopbackOptions;

} // namespace

class TestDevsimSystem : public QObject
{
    Q_OBJECT

private slots:
    void clockRunsOnFromWhereItWasSet()
    {
        DeviceModel m(deviceOf(2));
        int64_t host = 1700000000;
        m.setHostClock([&host] { return host; });
        SystemTimeRecord t = timeRecord(2030, 12, 31, 23, 59, 30);
        t.setWord(12, 0x1234); // words the device does not interpret go back as set
        t.setWord(28, -7);
        QCOMPARE(m.setConfig(CmdSystemTime, -1, bytesOf(t)), 0);
        host += 45; // across midnight and the year's end
        const SystemTimeRecord now = recordOf<SystemTimeRecord>(m, CmdSystemTime, -1);
        QCOMPARE(now.word(SystemTimeRecord::Year), 2031);
        QCOMPARE(now.word(SystemTimeRecord::Month), 1);
        QCOMPARE(now.word(SystemTimeRecord::Day), 1);
        QCOMPARE(now.word(SystemTimeRecord::Hour), 0);
        QCOMPARE(now.word(SystemTimeRecord::Minute), 0);
        QCOMPARE(now.word(SystemTimeRecord::Second), 15);
        QCOMPARE(now.word(12), 0x1234);
        QCOMPARE(now.word(28), -7);

        // Impossible times are refused and the clock runs on untouched.
        const SystemTimeRecord bad[] = { timeRecord(2030, 13, 1, 0, 0, 0), timeRecord(2030, 1, 32, 0, 0, 0),
            timeRecord(2030, 2, 29, 0, 0, 0), timeRecord(2030, 4, 31, 0, 0, 0), timeRecord(2030, 1, 1, 24, 0, 0),
            timeRecord(2030, 1, 1, 0, 60, 0), timeRecord(2030, 1, 1, 0, 0, 60), timeRecord(2030, 0, 1, 0, 0, 0),
            timeRecord(1969, 12, 31, 0, 0, 0), timeRecord(2030, 1, 1, -1, 0, 0) };
        const int64_t offset = m.clockOffset();
        for (const SystemTimeRecord &b : bad) {
            QCOMPARE(m.setConfig(CmdSystemTime, -1, bytesOf(b)), -1);
            QVERIFY(!m.lastRefusal().empty());
        }
        QCOMPARE(m.clockOffset(), offset);
        QCOMPARE(m.setConfig(CmdSystemTime, -1, bytesOf(timeRecord(2032, 2, 29, 0, 0, 0))), 0); // leap day
    }

    void ntpAndZoneAreKeptAndNonsenseRefused()
    {
        DeviceModel m(deviceOf(1));
        NtpRecord ntp = recordOf<NtpRecord>(m, CmdNtp, -1);
        QVERIFY(!ntp.enabled());
        QCOMPARE(ntp.server(), std::string("time.windows.com"));
        QCOMPARE(ntp.word(NtpRecord::Port), 123);
        QCOMPARE(ntp.word(NtpRecord::ZoneIndex), 13);
        QCOMPARE(recordOf<TimeZoneRecord>(m, CmdTimeZone, -1).word(TimeZoneRecord::MinutesWest), -480);

        ntp.setEnabled(true);
        ntp.setServer("pool.example");
        ntp.setWord(NtpRecord::ZoneIndex, 9);
        ntp.bytes[100] = 0xa5; // not ours: must come back
        QCOMPARE(m.setConfig(CmdNtp, -1, bytesOf(ntp)), 0);
        QVERIFY(recordOf<NtpRecord>(m, CmdNtp, -1).server() == "pool.example");
        QCOMPARE(recordOf<NtpRecord>(m, CmdNtp, -1).bytes[100], uint8_t(0xa5));
        TimeZoneRecord zone = recordOf<TimeZoneRecord>(m, CmdTimeZone, -1);
        zone.setWord(TimeZoneRecord::MinutesWest, -345);
        zone.setWord(0, 77);
        QCOMPARE(m.setConfig(CmdTimeZone, -1, bytesOf(zone)), 0);
        QCOMPARE(recordOf<TimeZoneRecord>(m, CmdTimeZone, -1).word(0), 77);

        const std::vector<uint8_t> kept = bytesOf(recordOf<NtpRecord>(m, CmdNtp, -1));
        NtpRecord badZone = ntp, badPort = ntp, noServer = ntp, badFlag = ntp;
        badZone.setWord(NtpRecord::ZoneIndex, 33);
        badPort.setWord(NtpRecord::Port, 70000);
        noServer.setServer("");
        badFlag.bytes[NtpRecord::Enable] = 2;
        for (const NtpRecord &b : { badZone, badPort, noServer, badFlag })
            QCOMPARE(m.setConfig(CmdNtp, -1, bytesOf(b)), -1);
        QVERIFY(bytesOf(recordOf<NtpRecord>(m, CmdNtp, -1)) == kept);
        zone.setWord(TimeZoneRecord::MinutesWest, 7);
        QCOMPARE(m.setConfig(CmdTimeZone, -1, bytesOf(zone)), -1);
        QCOMPARE(recordOf<TimeZoneRecord>(m, CmdTimeZone, -1).word(TimeZoneRecord::MinutesWest), -345);
    }

    void generalRecordAsksForARestartOnlyWhenItChanges()
    {
        DeviceModel m(deviceOf(2));
        GeneralRecord g = recordOf<GeneralRecord>(m, CmdGeneral, -1);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(g)), 0);
        g.setLanguage(31);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(g)), -11401);
        QCOMPARE(recordOf<GeneralRecord>(m, CmdGeneral, -1).language(), 31);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(g)), 0);
        g.setVideoFormat(1);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(g)), -11401);
        QVERIFY(m.spec().ntsc);
        GeneralRecord bad = g;
        bad.setLanguage(32);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(bad)), -1);
        bad = g;
        bad.setVideoFormat(2);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(bad)), -1);
        QVERIFY(bytesOf(recordOf<GeneralRecord>(m, CmdGeneral, -1)) == bytesOf(g));
    }

    void restoreResetsOnlyTheChosenGroups()
    {
        DeviceModel m(deviceOf(1));
        const GeneralRecord g0 = recordOf<GeneralRecord>(m, CmdGeneral, -1);
        const std::vector<uint8_t> table0 = bytesOf(recordOf<EncodeTable>(m, CmdEncodeTable, -1));
        GeneralRecord g = g0;
        g.setLanguage(5);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(g)), -11401);
        EncodeTable t = recordOf<EncodeTable>(m, CmdEncodeTable, -1);
        t.channel[0].main.setQuality(2);
        QCOMPARE(m.setConfig(CmdEncodeTable, -1, bytesOf(t)), 0);
        OnvifRecord onvif = recordOf<OnvifRecord>(m, CmdOnvif, -1);
        onvif.setWord(OnvifRecord::Enable, 0);
        QCOMPARE(m.setConfig(CmdOnvif, -1, bytesOf(onvif)), 0);
        ChannelNamesRecord names = recordOf<ChannelNamesRecord>(m, CmdChannelNames, -1);
        names.setName(0, "Gate");
        QCOMPARE(m.setConfig(CmdChannelNames, -1, bytesOf(names)), 0);

        // General: the language returns, which wants a restart; the rest stays.
        QCOMPARE(m.setConfig(CmdRestoreDefaults, 0, bytesOf(restoreOf({ RestoreDefaultsRecord::General }))), -11401);
        QCOMPARE(recordOf<GeneralRecord>(m, CmdGeneral, -1).language(), g0.language());
        QCOMPARE(recordOf<EncodeTable>(m, CmdEncodeTable, -1).channel[0].main.quality(), 2);
        QCOMPARE(recordOf<OnvifRecord>(m, CmdOnvif, -1).word(OnvifRecord::Enable), 0);
        QCOMPARE(m.setConfig(CmdRestoreDefaults, 0,
                     bytesOf(restoreOf({ RestoreDefaultsRecord::Encode, RestoreDefaultsRecord::NetService }))),
            0);
        QVERIFY(bytesOf(recordOf<EncodeTable>(m, CmdEncodeTable, -1)) == table0);
        QCOMPARE(recordOf<OnvifRecord>(m, CmdOnvif, -1).word(OnvifRecord::Enable), 1);
        QCOMPARE(recordOf<ChannelNamesRecord>(m, CmdChannelNames, -1).name(0), std::string("Gate"));
        QCOMPARE(m.setConfig(CmdRestoreDefaults, 0, bytesOf(restoreOf({ RestoreDefaultsRecord::GuiDisplay }))), 0);
        QCOMPARE(recordOf<ChannelNamesRecord>(m, CmdChannelNames, -1).name(0), std::string("CH01"));

        // Words are flags; anything else is refused before a group is touched.
        RestoreDefaultsRecord odd = restoreOf({ RestoreDefaultsRecord::General });
        odd.setWord(4 * RestoreDefaultsRecord::Unused, 2);
        QCOMPARE(m.setConfig(CmdRestoreDefaults, 0, bytesOf(odd)), -1);
        QCOMPARE(m.setConfig(CmdRestoreDefaults, 0, std::vector<uint8_t>(36)), -1);
        // Restoring the network settings of a device at its factory address moves nothing.
        QCOMPARE(m.setConfig(CmdRestoreDefaults, 0, bytesOf(restoreOf({ RestoreDefaultsRecord::Network }))), 0);
    }

    void restoreAfterAStandardChangeGivesATableTheDeviceTakes()
    {
        DeviceModel m(deviceOf(1));
        GeneralRecord g = recordOf<GeneralRecord>(m, CmdGeneral, -1);
        g.setVideoFormat(g.videoFormat() ? 0 : 1);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(g)), -11401);
        QCOMPARE(m.setConfig(CmdRestoreDefaults, 0, bytesOf(restoreOf({ RestoreDefaultsRecord::Encode }))), 0);
        const EncodeTable t = recordOf<EncodeTable>(m, CmdEncodeTable, -1);
        QCOMPARE(t.channel[0].main.frameRate(), 25);
        QCOMPARE(m.setConfig(CmdEncodeTable, -1, bytesOf(t)), 0);

        // After the restart the capabilities follow the new standard, and
        // the device takes its own table back under either.
        const int32_t budget = recordOf<EncodeCaps>(m, CmdEncodeCaps, -1).pixelRateBudget();
        m.restarted();
        QVERIFY(recordOf<EncodeCaps>(m, CmdEncodeCaps, -1).pixelRateBudget() != budget);
        QCOMPARE(m.setConfig(CmdEncodeTable, -1, bytesOf(recordOf<EncodeTable>(m, CmdEncodeTable, -1))), 0);
        QCOMPARE(m.setConfig(CmdRestoreDefaults, 0, bytesOf(restoreOf({ RestoreDefaultsRecord::Encode }))), 0);
        QCOMPARE(recordOf<EncodeTable>(m, CmdEncodeTable, -1).channel[0].main.frameRate(), m.spec().ntsc ? 30 : 25);
        QCOMPARE(m.setConfig(CmdEncodeTable, -1, bytesOf(recordOf<EncodeTable>(m, CmdEncodeTable, -1))), 0);
    }

    void lightModesFollowTheModel()
    {
        std::set<int> masks;
        for (const DeviceSpec &d : defaultFleet().devices) {
            DeviceModel m(d);
            std::vector<uint8_t> caps;
            const int32_t r = m.getConfig(CmdLightCaps, -1, caps);
            if (d.type != 2) {
                // Recorders have no lights: neither record exists.
                QCOMPARE(r, -3);
                LightModeRecord mode;
                std::memset(&mode, 0, sizeof mode);
                QCOMPARE(m.setConfig(CmdLightMode, 0, bytesOf(mode)), -3);
                continue;
            }
            QCOMPARE(r, 0);
            const int mask = caps[LightCapsRecord::ModeMask];
            masks.insert(mask);
            for (uint8_t type = 0; type < 3; ++type) {
                LightModeRecord mode;
                std::memset(&mode, 0, sizeof mode);
                mode.bytes[LightModeRecord::Type] = type;
                mode.bytes[LightModeRecord::Brightness] = 60;
                const std::vector<uint8_t> before = bytesOf(recordOf<LightModeRecord>(m, CmdLightMode, 0));
                const int32_t set = m.setConfig(CmdLightMode, 0, bytesOf(mode));
                QCOMPARE(set, (mask >> type & 1) ? 0 : -3);
                QVERIFY(bytesOf(recordOf<LightModeRecord>(m, CmdLightMode, 0)) == (set == 0 ? bytesOf(mode) : before));
            }
            LightModeRecord odd;
            std::memset(&odd, 0, sizeof odd);
            odd.bytes[LightModeRecord::Type] = 3;
            QCOMPARE(m.setConfig(CmdLightMode, 0, bytesOf(odd)), -1);
        }
        // The default fleet has infrared-only, full-colour-only and dual cameras.
        QVERIFY(masks.count(1) && masks.count(2) && masks.count(7));

        // A fleet file gives a camera its own lights, and none to a recorder.
        JsonIn v;
        Fleet f;
        std::string error;
        QVERIFY(parseJson(R"({"devices": [{"ip": "127.0.30.2", "type": "IPC", "lights": ["full_color", "dual"]},
            {"ip": "127.0.30.3", "type": "IPC", "lights": []}]})", v, error));
        QVERIFY2(fleetFromJson(v, f, error), error.c_str());
        QCOMPARE(lightModesOf(f.devices[0]), 6);
        // A camera without lights says so in its capabilities; it has no light record.
        std::vector<uint8_t> none;
        QCOMPARE(DeviceModel(f.devices[1]).getConfig(CmdLightCaps, -1, none), 0);
        QCOMPARE(int(none[LightCapsRecord::ModeMask]), 0);
        QCOMPARE(DeviceModel(f.devices[1]).getConfig(CmdLightMode, 0, none), -3);
        QVERIFY(parseJson(R"({"devices": [{"ip": "127.0.30.2", "type": "DVR", "lights": ["infrared"]}]})", v, error));
        QVERIFY(!fleetFromJson(v, f, error));
        QVERIFY2(error.find("device 1") == 0 && error.find("\"lights\"") != std::string::npos, error.c_str());
    }

    // The camera page reads 78, 135, 134 and 172 and the audio page 190: each
    // camera answers what its model has, and refuses what it lacks.
    void cameraRecordsFollowTheModel()
    {
        std::set<std::pair<bool, bool>> lensAndSensor;
        std::set<int> exposureHeaders;
        for (const DeviceSpec &d : defaultFleet().devices) {
            DeviceModel m(d);
            std::vector<uint8_t> caps, image, exposure, audio;
            const bool camera = d.type == 2;
            QCOMPARE(m.getConfig(CmdLightCaps, -1, caps), camera ? 0 : -3);
            QCOMPARE(m.getConfig(CmdImage, 0, image), camera ? 0 : -3);
            QCOMPARE(m.getConfig(CmdExposure, 0, exposure), camera ? 0 : -3);
            QCOMPARE(m.getConfig(CmdAudio, 0, audio), camera && d.audioChannels > 0 ? 0 : -3);
            if (!camera)
                continue;
            QCOMPARE(image.size(), ImageRecordSize);
            QCOMPARE(exposure.size(), ExposureRecordSize);
            const bool focus = caps[0] == 1, wdr = caps[1] == 1;
            lensAndSensor.insert({ focus, wdr });
            exposureHeaders.insert(exposure[0]);
            // A dual-light camera keeps a night exposure block of its own.
            QCOMPARE(exposure[0] != 0, (caps[LightCapsRecord::ModeMask] & 4) != 0);
            QCOMPARE(m.setConfig(CmdImage, 0, image), 0);
            QCOMPARE(m.setConfig(CmdExposure, 0, exposure), 0);

            std::vector<uint8_t> withWdr = image;
            withWdr[7] = 1;
            QCOMPARE(m.setConfig(CmdImage, 0, withWdr), wdr ? 0 : -3);
            std::vector<uint8_t> withFocus = image;
            withFocus[6] = 2;
            QCOMPARE(m.setConfig(CmdImage, 0, withFocus), focus ? 0 : -3);
            std::vector<uint8_t> odd = image;
            odd[0] = 3; // no fourth day/night mode
            QCOMPARE(m.setConfig(CmdImage, 0, odd), -1);
            std::vector<uint8_t> dark = exposure;
            dark[4 + 52 * 3 + 26] = 0; // AE 0 in the last block
            QCOMPARE(m.setConfig(CmdExposure, 0, dark), -1);

            if (audio.empty())
                continue;
            audio[4] = 1; // G711U
            audio[8] = 35;
            audio[12] = 10;
            QCOMPARE(m.setConfig(CmdAudio, 0, audio), 0);
            std::vector<uint8_t> back;
            QCOMPARE(m.getConfig(CmdAudio, 0, back), 0);
            QVERIFY(back == audio);
            std::vector<uint8_t> foreign = audio;
            foreign[0] ^= 1; // another device's own word
            QCOMPARE(m.setConfig(CmdAudio, 0, foreign), -1);
            std::vector<uint8_t> loud = audio;
            loud[12] = 11;
            QCOMPARE(m.setConfig(CmdAudio, 0, loud), -1);
        }
        // The fleet has lenses without focus or WDR, with WDR only, and with
        // both, and both exposure headers.
        QVERIFY(lensAndSensor.count({ false, false }) && lensAndSensor.count({ false, true })
            && lensAndSensor.count({ true, true }));
        QCOMPARE(exposureHeaders.size(), std::size_t(2));
    }

    void namesDisplayAndServicesAreKeptPerChannel()
    {
        const DeviceSpec nvr = deviceOf(1);
        QVERIFY(nvr.channels >= 4);
        DeviceModel m(nvr);
        for (int ch = 0; ch < nvr.channels; ++ch) {
            const OsdRecord osd = recordOf<OsdRecord>(m, CmdOsd, ch);
            QCOMPARE(int(osd.bytes[OsdRecord::ShowName]), 1);
        }
        std::vector<uint8_t> none;
        QCOMPARE(m.getConfig(CmdOsd, nvr.channels, none), -1);
        OsdRecord osd = recordOf<OsdRecord>(m, CmdOsd, 2);
        osd.bytes[OsdRecord::ShowTime] = 0;
        QCOMPARE(m.setConfig(CmdOsd, 2, bytesOf(osd)), 0);
        QCOMPARE(int(recordOf<OsdRecord>(m, CmdOsd, 2).bytes[OsdRecord::ShowTime]), 0);
        QCOMPARE(int(recordOf<OsdRecord>(m, CmdOsd, 1).bytes[OsdRecord::ShowTime]), 1);
        QCOMPARE(m.setConfig(CmdOsd, nvr.channels, bytesOf(osd)), -1);
        osd.bytes[OsdRecord::ShowName] = 2;
        QCOMPARE(m.setConfig(CmdOsd, 2, bytesOf(osd)), -1);

        ChannelNamesRecord names = recordOf<ChannelNamesRecord>(m, CmdChannelNames, -1);
        QCOMPARE(names.name(nvr.channels - 1), "CH" + std::string(nvr.channels < 10 ? "0" : "") + std::to_string(nvr.channels));
        QVERIFY(names.name(nvr.channels).empty());
        QCOMPARE(recordOf<ChannelNamesRecord>(DeviceModel(deviceOf(2)), CmdChannelNames, -1).name(0), std::string("IPC"));

        DhcpRecord dhcp = recordOf<DhcpRecord>(m, CmdDhcp, -1);
        QCOMPARE(dhcp.word(DhcpRecord::Enable), 0);
        dhcp.setWord(DhcpRecord::Enable, 1);
        dhcp.bytes[50] = 9;
        QCOMPARE(m.setConfig(CmdDhcp, -1, bytesOf(dhcp)), 0);
        QVERIFY(bytesOf(recordOf<DhcpRecord>(m, CmdDhcp, -1)) == bytesOf(dhcp));
        dhcp.setWord(DhcpRecord::Enable, 3);
        QCOMPARE(m.setConfig(CmdDhcp, -1, bytesOf(dhcp)), -1);
        OnvifRecord onvif = recordOf<OnvifRecord>(m, CmdOnvif, -1);
        onvif.setWord(OnvifRecord::Enable, -1);
        QCOMPARE(m.setConfig(CmdOnvif, -1, bytesOf(onvif)), -1);
    }

    void restartFaultAnswersEverySetButAppliesIt()
    {
        DeviceSpec spec = deviceOf(2);
        spec.faults.needReboot = true;
        DeviceModel m(spec);
        OnvifRecord onvif = recordOf<OnvifRecord>(m, CmdOnvif, -1);
        onvif.setWord(OnvifRecord::Enable, 0);
        QCOMPARE(m.setConfig(CmdOnvif, -1, bytesOf(onvif)), -11401);
        QCOMPARE(recordOf<OnvifRecord>(m, CmdOnvif, -1).word(OnvifRecord::Enable), 0);
        QCOMPARE(m.setConfig(CmdSystemTime, -1, bytesOf(timeRecord(2031, 5, 6, 7, 8, 9))), -11401);
        std::vector<uint8_t> image;
        QCOMPARE(m.getConfig(CmdConfigExport, -1, image), 0);
        QCOMPARE(m.setConfig(CmdConfigImport, -1, image), -11401);
        // Refusals stay refusals.
        QCOMPARE(m.setConfig(CmdSystemTime, -1, bytesOf(timeRecord(2031, 13, 6, 7, 8, 9))), -1);
        // The fault by its fleet and command-line name.
        Faults f;
        std::string error;
        QVERIFY(parseFaults("need_reboot", f, error));
        QVERIFY(f.needReboot);
    }

    void imageRoundTripRestoresChangedValues()
    {
        DeviceModel m(deviceOf(1));
        std::vector<uint8_t> image;
        QCOMPARE(m.getConfig(CmdConfigExport, -1, image), 0);
        QVERIFY(image.size() <= std::size_t(ConfigImageMax));
        const std::vector<uint8_t> names0 = bytesOf(recordOf<ChannelNamesRecord>(m, CmdChannelNames, -1));

        GeneralRecord g = recordOf<GeneralRecord>(m, CmdGeneral, -1);
        g.setLanguage(7);
        QCOMPARE(m.setConfig(CmdGeneral, -1, bytesOf(g)), -11401);
        ChannelNamesRecord names = recordOf<ChannelNamesRecord>(m, CmdChannelNames, -1);
        names.setName(1, "Yard");
        QCOMPARE(m.setConfig(CmdChannelNames, -1, bytesOf(names)), 0);
        OsdRecord osd = recordOf<OsdRecord>(m, CmdOsd, 3);
        osd.bytes[OsdRecord::ShowName] = 0;
        QCOMPARE(m.setConfig(CmdOsd, 3, bytesOf(osd)), 0);
        EncodeTable t = recordOf<EncodeTable>(m, CmdEncodeTable, -1);
        t.channel[1].sub.setQuality(1);
        QCOMPARE(m.setConfig(CmdEncodeTable, -1, bytesOf(t)), 0);

        // As a client sends a file: the image and its zero fill to 64 KiB.
        std::vector<uint8_t> file = image;
        file.resize(std::size_t(ConfigImageMax), 0);
        QCOMPARE(m.setConfig(CmdConfigImport, -1, file), -11401); // the language returns: restart
        std::vector<uint8_t> again;
        QCOMPARE(m.getConfig(CmdConfigExport, -1, again), 0);
        QVERIFY(again == image);
        QVERIFY(bytesOf(recordOf<ChannelNamesRecord>(m, CmdChannelNames, -1)) == names0);
        QCOMPARE(int(recordOf<OsdRecord>(m, CmdOsd, 3).bytes[OsdRecord::ShowName]), 1);
        // The same image once more changes nothing and needs no restart.
        QCOMPARE(m.setConfig(CmdConfigImport, -1, image), 0);

        // A model text with a NUL in it is known by what its records show.
        DeviceSpec odd = deviceOf(2);
        odd.model = std::string("SX-IPC\0-2M", 10);
        DeviceModel camera(odd);
        QCOMPARE(camera.getConfig(CmdConfigExport, -1, image), 0);
        QCOMPARE(camera.setConfig(CmdConfigImport, -1, image), 0);
    }

    void imagesThatDoNotFitAreRefusedWhole_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<int>("code");
        QTest::newRow("another model") << 0 << -3;
        QTest::newRow("a byte changed") << 1 << -1;
        QTest::newRow("cut short") << 2 << -1;
        QTest::newRow("junk after the image") << 3 << -1;
        QTest::newRow("a record the device refuses") << 4 << -1;
        QTest::newRow("a newer container") << 5 << -3;
        QTest::newRow("a record twice") << 6 << -1;
        QTest::newRow("over 64 KiB") << 7 << -1;
        QTest::newRow("empty") << 8 << -1;
        QTest::newRow("same model text, other channel count") << 9 << -3;
    }
    void imagesThatDoNotFitAreRefusedWhole()
    {
        QFETCH(int, damage);
        QFETCH(int, code);
        const DeviceSpec nvr = deviceOf(1);
        DeviceModel m(nvr);
        std::vector<uint8_t> bytes;
        QCOMPARE(m.getConfig(CmdConfigExport, -1, bytes), 0);
        ConfigImage image;
        std::string why;
        QVERIFY(ConfigImage::decode(bytes.data(), bytes.size(), image, why) == ConfigImage::Error::None);
        // Every image carries a change that would show if any of it were applied.
        GeneralRecord g;
        std::memcpy(&g, image.entries[0].bytes.data(), sizeof g);
        QCOMPARE(image.entries[0].command, int32_t(CmdGeneral));
        g.setLanguage(9);
        image.entries[0].bytes = bytesOf(g);
        auto encoded = [](const ConfigImage &i) {
            std::vector<uint8_t> out;
            return i.encode(out) ? out : std::vector<uint8_t>();
        };
        switch (damage) {
        case 0: {
            DeviceModel other(deviceOf(2));
            QCOMPARE(other.getConfig(CmdConfigExport, -1, bytes), 0);
            break;
        }
        case 1:
            bytes = encoded(image);
            bytes[bytes.size() / 2] ^= 0x10;
            break;
        case 2:
            bytes = encoded(image);
            bytes.resize(bytes.size() - 100);
            break;
        case 3:
            bytes = encoded(image);
            bytes.resize(ConfigImageMax, 0);
            bytes.back() = 1;
            break;
        case 4: {
            EncodeTable t;
            std::memcpy(&t, image.entries[1].bytes.data(), sizeof t);
            QCOMPARE(image.entries[1].command, int32_t(CmdEncodeTable));
            t.channel[0].main.setQuality(9);
            image.entries[1].bytes = bytesOf(t);
            bytes = encoded(image);
            break;
        }
        case 5:
            bytes = encoded(image);
            bytes[4] = 2;
            break;
        case 6:
            image.entries.push_back(image.entries[0]);
            bytes = encoded(image);
            break;
        case 7:
            bytes = encoded(image);
            bytes.resize(ConfigImageMax + 1, 0);
            break;
        case 8:
            bytes.clear();
            break;
        case 9: {
            DeviceSpec wider = nvr;
            wider.channels = nvr.channels * 2;
            DeviceModel other(wider);
            QCOMPARE(other.getConfig(CmdConfigExport, -1, bytes), 0);
            break;
        }
        }
        QVERIFY(!bytes.empty() || damage == 8);
        std::vector<uint8_t> before;
        QCOMPARE(m.getConfig(CmdConfigExport, -1, before), 0);
        QCOMPARE(m.setConfig(CmdConfigImport, -1, bytes), code);
        QVERIFY(!m.lastRefusal().empty());
        std::vector<uint8_t> after;
        QCOMPARE(m.getConfig(CmdConfigExport, -1, after), 0);
        QVERIFY(after == before);
    }

    void imageCodecSurvivesLies()
    {
        ConfigImage image;
        image.model = "SX-TEST";
        image.deviceType = 2;
        image.channels = 1;
        image.entries.push_back({ 18, -1, std::vector<uint8_t>(192, 3) });
        image.entries.push_back({ 96, -1, {} });
        std::vector<uint8_t> bytes;
        QVERIFY(image.encode(bytes));
        ConfigImage back;
        std::string why;
        QVERIFY(ConfigImage::decode(bytes.data(), bytes.size(), back, why) == ConfigImage::Error::None);
        QCOMPARE(back.model, image.model);
        QCOMPARE(int(back.entries.size()), 2);
        QVERIFY(back.entries[0].bytes == image.entries[0].bytes);

        // A count or a size that claims more than the image holds, with a
        // checksum that matches, is corrupt, not a reason to read further.
        auto withWord = [&](std::size_t at, uint32_t v) {
            std::vector<uint8_t> b = bytes;
            writeLe32(b.data() + at, v);
            writeLe32(b.data() + b.size() - 4, crc32(b.data(), b.size() - 4));
            return b;
        };
        for (const auto &b : { withWord(52, 0xffffffffu), withWord(52, 3), withWord(56 + 8, 100000),
                 withWord(56 + 8, 191), withWord(8, 20) }) {
            QVERIFY(ConfigImage::decode(b.data(), b.size(), back, why) == ConfigImage::Error::Corrupt);
            QVERIFY(!why.empty());
        }
        QVERIFY(ConfigImage::decode(bytes.data(), 30, back, why) == ConfigImage::Error::Truncated);
        // The model text must leave room for its terminator.
        image.model = std::string(32, 'M');
        QVERIFY(!image.encode(bytes));
        image.model = "M";
        image.entries.push_back({ 19, -1, std::vector<uint8_t>(70000) });
        QVERIFY(!image.encode(bytes));
    }

    // Through the SDK: the clock keeps running, the image crosses in one
    // frame each way, and the restart fault answers a set.
    void systemRecordsThroughTheSdk()
    {
        Fleet fleet = generatedFleet(2);
        Emulator emu(fleet, loopbackOptions());
        std::string error;
        QVERIFY2(emu.start(error), error.c_str());
        const auto dev = emu.device(1); // an NVR
        const Login l = loginTo(dev.ip, dev.port);
        QVERIFY2(l.handle > 0, qPrintable(QString::number(l.error)));

        const SystemTimeRecord set = timeRecord(2029, 6, 30, 23, 59, 58);
        QCOMPARE(NetSdk_SetConfig(l.handle, CmdSystemTime, -1, &set, int32_t(sizeof set), 4000), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        SystemTimeRecord now;
        int32_t got = 0;
        QCOMPARE(NetSdk_GetConfig(l.handle, CmdSystemTime, -1, &now, int32_t(sizeof now), &got, 1000), 0);
        QCOMPARE(got, int32_t(sizeof now));
        QCOMPARE(now.word(SystemTimeRecord::Month), 7); // two seconds later it is July
        QCOMPARE(now.word(SystemTimeRecord::Day), 1);
        QVERIFY(now.word(SystemTimeRecord::Second) <= 5);

        std::vector<uint8_t> buffer(ConfigImageMax, 0);
        QVERIFY(NetSdk_GetConfig(l.handle, CmdConfigExport, -1, buffer.data(), ConfigImageMax, &got, 12000) >= 0);
        QVERIFY(got > int32_t(ConfigImage::HeaderSize) && got <= ConfigImageMax);
        QCOMPARE(readLe32(buffer.data()), ConfigImage::Magic);
        QCOMPARE(NetSdk_SetConfig(l.handle, CmdConfigImport, -1, buffer.data(), ConfigImageMax, 2000), 0);
        buffer[got - 1] ^= 1;
        QCOMPARE(NetSdk_SetConfig(l.handle, CmdConfigImport, -1, buffer.data(), ConfigImageMax, 2000), -1);

        Faults f;
        f.needReboot = true;
        emu.setFaults(1, f);
        OnvifRecord onvif;
        QCOMPARE(NetSdk_GetConfig(l.handle, CmdOnvif, -1, &onvif, int32_t(sizeof onvif), &got, 1000), 0);
        onvif.setWord(OnvifRecord::Enable, 0);
        QCOMPARE(NetSdk_SetConfig(l.handle, CmdOnvif, -1, &onvif, int32_t(sizeof onvif), 1000), -11401);
        std::vector<uint8_t> kept;
        QVERIFY(emu.record(1, CmdOnvif, -1, kept));
        QCOMPARE(int(readLe32(kept.data() + OnvifRecord::Enable)), 0);
        NetSdk_Logout(l.handle);
    }

    void restoreOfTheNetworkReturnsTheDeviceToItsFactoryAddress()
    {
        Fleet fleet = generatedFleet(3);
        Emulator emu(fleet, loopbackOptions());
        std::string error;
        QVERIFY2(emu.start(error), error.c_str());
        netsdk::setDiscoveryTargets(emu.discoveryEndpoints());
        const DeviceSnapshot a = emu.device(0), b = emu.device(1);
        auto moveTo = [&](const std::string &mac, uint32_t ip) {
            const SearchRecord *r = nullptr;
            const auto found = search();
            r = findMac(found, mac);
            if (!r)
                return -99;
            NetInfo n = r->net;
            for (int i = 0; i < 4; ++i)
                n.ip[i] = uint8_t(ip >> (24 - 8 * i));
            for (int i = 0; i < 4; ++i)
                n.gateway[i] = uint8_t(((ip & 0xffffff00u) | 1u) >> (24 - 8 * i));
            return NetSdk_SetConfigWithoutLogin(CmdNetWithoutLogin, -1, &n, 144, 5000);
        };
        const uint32_t elsewhere = (127u << 24) | (0u << 16) | (77u << 8) | 10u;
        QCOMPARE(moveTo(a.mac, elsewhere), 0);
        QTRY_COMPARE_WITH_TIMEOUT(emu.device(0).ip, elsewhere, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(emu.device(0).reachable, 3000);

        // While another device sits on its factory address, it stays put.
        QCOMPARE(moveTo(b.mac, a.ip), 0);
        QTRY_COMPARE_WITH_TIMEOUT(emu.device(1).ip, a.ip, 3000);
        Login l = loginTo(elsewhere, emu.device(0).port);
        QVERIFY(l.handle > 0);
        const RestoreDefaultsRecord network = restoreOf({ RestoreDefaultsRecord::Network });
        QCOMPARE(NetSdk_SetConfig(l.handle, CmdRestoreDefaults, 0, &network, int32_t(sizeof network), 1000), -1);
        QCOMPARE(emu.device(0).ip, elsewhere);

        QCOMPARE(moveTo(b.mac, b.ip), 0);
        QTRY_COMPARE_WITH_TIMEOUT(emu.device(1).ip, b.ip, 3000);
        QCOMPARE(NetSdk_SetConfig(l.handle, CmdRestoreDefaults, 0, &network, int32_t(sizeof network), 1000), -10005);
        NetSdk_Logout(l.handle);
        const auto found = search();
        const SearchRecord *r = findMac(found, a.mac);
        QVERIFY(r);
        QCOMPARE(ipOf(r->net), a.ip);
        QTRY_VERIFY_WITH_TIMEOUT(emu.device(0).reachable, 3000);
        l = loginTo(a.ip, emu.device(0).port);
        QVERIFY2(l.handle > 0, qPrintable(QString::number(l.error)));
        NetSdk_Logout(l.handle);
    }

    void rebootTakesTheDeviceAwayAndBringsItBack()
    {
        Fleet fleet = generatedFleet(2);
        // Long enough for a whole search to fall inside it.
        fleet.devices[0].rebootMs = 2500;
        Emulator emu(fleet, loopbackOptions());
        std::string error;
        QVERIFY2(emu.start(error), error.c_str());
        netsdk::setDiscoveryTargets(emu.discoveryEndpoints());
        const DeviceSnapshot d = emu.device(0);
        const Login l = loginTo(d.ip, d.port);
        QVERIFY(l.handle > 0);
        QCOMPARE(int(NetSdk_Reboot(l.handle, 0, 10000)), 1);
        QTRY_VERIFY_WITH_TIMEOUT(emu.device(0).rebooting, 3000);
        QCOMPARE(emu.device(0).sessions, 0);
        QVERIFY(!findMac(search(), d.mac));
        QVERIFY(loginTo(d.ip, d.port).handle <= 0);
        int32_t got = 0;
        GeneralRecord g;
        QVERIFY(NetSdk_GetConfig(l.handle, CmdGeneral, -1, &g, int32_t(sizeof g), &got, 1000) < 0);
        NetSdk_Logout(l.handle);

        QTRY_VERIFY_WITH_TIMEOUT(emu.device(0).reachable && !emu.device(0).rebooting, 5000);
        QVERIFY(findMac(search(), d.mac));
        const Login again = loginTo(d.ip, d.port);
        QVERIFY(again.handle > 0);
        NetSdk_Logout(again.handle);
    }

    void stateFileKeepsTheClockAndSystemRecords()
    {
        QTemporaryDir dir;
        EmulatorOptions o = loopbackOptions();
        o.stateFile = dir.filePath(QStringLiteral("state.json")).toStdString();
        const Fleet fleet = generatedFleet(1);
        {
            Emulator emu(fleet, o);
            std::string error;
            QVERIFY2(emu.start(error), error.c_str());
            const auto dev = emu.device(0);
            const Login l = loginTo(dev.ip, dev.port);
            QVERIFY(l.handle > 0);
            const SystemTimeRecord t = timeRecord(2040, 1, 2, 3, 4, 5);
            QCOMPARE(NetSdk_SetConfig(l.handle, CmdSystemTime, -1, &t, int32_t(sizeof t), 4000), 0);
            LightModeRecord mode;
            std::memset(&mode, 0, sizeof mode);
            mode.bytes[LightModeRecord::Brightness] = 40;
            QCOMPARE(NetSdk_SetConfig(l.handle, CmdLightMode, 0, &mode, int32_t(sizeof mode), 1000), 0);
            NetSdk_Logout(l.handle);
        }
        Emulator again(fleet, o);
        std::string error;
        QVERIFY2(again.start(error), error.c_str());
        std::vector<uint8_t> bytes;
        QVERIFY(again.record(0, CmdSystemTime, -1, bytes));
        SystemTimeRecord t;
        std::memcpy(&t, bytes.data(), sizeof t);
        QCOMPARE(t.word(SystemTimeRecord::Year), 2040);
        QCOMPARE(t.word(SystemTimeRecord::Month), 1);
        QVERIFY(again.record(0, CmdLightMode, 0, bytes));
        QCOMPARE(int(bytes[LightModeRecord::Brightness]), 40);
    }
};

QTEST_APPLESS_MAIN(TestDevsimSystem)
#include "tst_devsim_system.moc"
