// The emulator's fleets, fleet files, records and state file.

#include <QtTest>

#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstring>
#include <set>

#include "ConfigRecords.h"
#include "DeviceModel.h"
#include "EncodeBudget.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "Fleet.h"
#include "ModelRecords.h"
#include "NetSdk.h"
#include "NetSdkControl.h"

using namespace scoutrix;
using namespace scoutrix::devsim;

namespace {

bool parseFleet(const std::string &text, Fleet &fleet, std::string &error)
{
    JsonIn v;
    return parseJson(text, v, error) && fleetFromJson(v, fleet, error);
}

} // namespace

class TestDevsim : public QObject
{
    Q_OBJECT

private slots:
    void writtenFleetReadsBackInItsOrder()
    {
        const Fleet f = defaultFleet();
        const std::string text = fleetToJson(f).dump(2);
        // Written in the order a person reads a device, not sorted.
        const auto mac = text.find("\"mac\""), serial = text.find("\"serial\""),
                   model = text.find("\"model\""), ip = text.find("\"ip\"");
        QVERIFY(mac < serial && serial < model && model < ip);
        Fleet back;
        std::string error;
        QVERIFY2(parseFleet(text, back, error), error.c_str());
        QCOMPARE(back.devices.size(), f.devices.size());
        for (std::size_t i = 0; i < f.devices.size(); ++i) {
            QCOMPARE(back.devices[i].mac, f.devices[i].mac);
            QCOMPARE(back.devices[i].users[0].password, f.devices[i].users[0].password);
            QCOMPARE(back.devices[i].build[5], f.devices[i].build[5]);
        }
    }

    void jsonWithManyMembersIsRead()
    {
        std::string text = "{";
        for (int i = 0; i < 100000; ++i)
            text += (i ? ",\"m" : "\"m") + std::to_string(i) + "\":" + std::to_string(i);
        text += "}";
        JsonIn v;
        std::string error;
        QVERIFY2(parseJson(text, v, error), error.c_str());
        QCOMPARE(v.size(), std::size_t(100000));
        QCOMPARE(v["m99999"].get<int>(), 99999);
    }

    void jsonRefusesBrokenText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("trailing comma") << "[1,]" << "line 1";
        QTest::newRow("unterminated") << "{\"a\": \"b" << "line 1";
        QTest::newRow("leading zero") << "[01]" << "line 1";
        QTest::newRow("two values") << "{} {}" << "line 1";
        QTest::newRow("duplicate member") << "{\"a\":1,\"a\":2}" << "\"a\" given twice";
        QTest::newRow("lone surrogate") << "[\"\\ud800\"]" << "line 1";
        QTest::newRow("deep") << QString(100, '[') + QString(100, ']') << "nested deeper";
        QTest::newRow("empty") << "" << "line 1";
        QTest::newRow("second line") << "{\n\"a\": tru}" << "line 2";
    }

    void jsonRefusesBrokenText()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        JsonIn v;
        std::string error;
        QVERIFY(!parseJson(text.toStdString(), v, error));
        QVERIFY2(QString::fromStdString(error).contains(expected), error.c_str());
    }

    void defaultFleetIsMixed()
    {
        const Fleet f = defaultFleet();
        QVERIFY(f.devices.size() >= 20 && f.devices.size() <= 30);
        std::string error;
        QVERIFY2(validateFleet(f, error), error.c_str());
        std::set<int> types, segments;
        bool before = false, after = false;
        for (const DeviceSpec &d : f.devices) {
            types.insert(d.type);
            segments.insert(int(d.ip >> 8));
            QVERIFY(d.channels >= 1 && d.channels <= 32);
            QVERIFY(d.audioChannels <= d.channels);
            const int date = d.build[0] * 10000 + d.build[1] * 100 + d.build[2];
            before = before || date < 20210917;
            after = after || date >= 20210917;
        }
        QCOMPARE(int(types.size()), 4);
        QVERIFY(segments.count((127 << 16) | 10) && segments.count((127 << 16) | 20));
        QVERIFY(before && after);
    }

    void generatedFleetsStayDistinct()
    {
        const Fleet f = generatedFleet(256);
        QCOMPARE(int(f.devices.size()), 256);
        std::string error;
        QVERIFY2(validateFleet(f, error), error.c_str());
        // A move from the second block into the first never lands on a taken address.
        std::set<uint32_t> firstBlock;
        for (const DeviceSpec &d : f.devices) {
            if (((d.ip >> 8) & 0xff) < 20)
                firstBlock.insert(d.ip & 0xff);
        }
        for (const DeviceSpec &d : f.devices) {
            if (((d.ip >> 8) & 0xff) >= 20)
                QVERIFY(!firstBlock.count(d.ip & 0xff));
        }
        QCOMPARE(int(generatedFleet(999).devices.size()), 256);
    }

    void fleetFileFillsDefaultsAndRefusesMistakes()
    {
        Fleet f;
        std::string error;
        QVERIFY2(parseFleet(
                     R"({"defaults": {"port": 40000, "users": [{"name": "root", "password": "pw"}]},
            "devices": [{"ip": "127.0.30.2", "type": "NVR", "channels": 8, "build": "2020-01-02",
                         "faults": {"delay_ms": 250, "empty_mac": true}},
                        {"ip": "127.0.30.3", "mac": "AA:BB", "standard": "NTSC",
                         "records": [{"command": 77, "size": 32, "hex": "0102"}]}]})",
                     f, error),
            error.c_str());
        QCOMPARE(int(f.devices.size()), 2);
        QCOMPARE(f.devices[0].type, 1);
        QCOMPARE(f.devices[0].port, uint16_t(40000));
        QCOMPARE(QString::fromStdString(f.devices[0].users[0].name), QStringLiteral("root"));
        QCOMPARE(f.devices[0].faults.delayMs, 250);
        QVERIFY(f.devices[0].faults.emptyMac);
        QCOMPARE(f.devices[0].build[0], 2020);
        QVERIFY(f.devices[0].mac != f.devices[1].mac);
        QVERIFY(f.devices[1].ntsc);
        QCOMPARE(f.devices[1].extraRecords[0].bytes.size(), std::size_t(32));
        QCOMPARE(f.devices[1].extraRecords[0].bytes[1], uint8_t(2));

        const char *const broken[] = {
            R"({"devices": []})",
            R"({"devices": [{"ip": "127.0.30.2", "type": "PTZ"}]})",
            R"({"devices": [{"ip": "127.0.30.2", "channels": 33}]})",
            R"({"devices": [{"ip": "192.168.1.2"}]})",
            R"({"devices": [{"ip": "127.0.30.2", "mac": "M"}, {"ip": "127.0.30.3", "mac": "M"}]})",
            R"({"devices": [{"ip": "127.0.30.2"}, {"ip": "127.0.30.2"}]})",
            R"({"devices": [{"ip": "127.0.30.2", "faults": {"slow": true}}]})",
            R"({"devices": [{"mac": "no address"}]})",
        };
        for (const char *text : broken) {
            Fleet g;
            error.clear();
            QVERIFY2(!parseFleet(text, g, error), text);
            QVERIFY(!error.empty());
        }
        Faults faults;
        QVERIFY(parseFaults("delay_ms=10,duplicate_answers,malformed=truncate", faults, error));
        QCOMPARE(faults.delayMs, 10);
        QVERIFY(faults.duplicateAnswers);
        QVERIFY(parseFaults("refuse_set", faults, error));
        QVERIFY(faults.refuseSet);
        Faults back;
        QVERIFY(faultsFromJson(faultsToJson(faults), back, error));
        QVERIFY(back.refuseSet && back.duplicateAnswers);
        QVERIFY(!parseFaults("delay_ms=-1", faults, error));
        QVERIFY(!parseFaults("malformed=everything", faults, error));
    }

    void fleetMistakesAreNamed_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("expected");
        QTest::newRow("misspelt password")
            << R"("users": [{"name": "admin", "pasword": "x"}])" << "users[1]: unknown member \"pasword\"";
        QTest::newRow("misspelt member") << R"("chanels": 4)" << "unknown member \"chanels\"";
        QTest::newRow("number as text") << R"("channels": "8")" << "\"channels\" must be a whole number";
        QTest::newRow("fraction") << R"("channels": 2.5)" << "\"channels\"";
        QTest::newRow("huge") << R"("port": 18446744073709551615)" << "\"port\"";
        QTest::newRow("null address") << R"("mask": null)" << "\"mask\" must be a text";
        QTest::newRow("flag as number") << R"("uninitialised": 1)" << "\"uninitialised\"";
        QTest::newRow("users not a list") << R"("users": {"name": "a"})" << "\"users\" must be a list";
        QTest::newRow("user not an object") << R"("users": ["admin"])" << "users[1]";
        QTest::newRow("blacklist not a list") << R"("blacklist": "127.0.0.9")" << "\"blacklist\"";
        QTest::newRow("month 13") << R"("build": "2021-13-45")" << "2021-13-45";
        QTest::newRow("not a leap year") << R"("build": "2021-02-29")" << "2021-02-29";
        QTest::newRow("hour 24") << R"("build": "2021-02-28 24:00:00")" << "\"build\"";
        QTest::newRow("trailing text") << R"("build": "2021-01-02x")" << "\"build\"";
        QTest::newRow("record member") << R"("records": [{"command": 45, "sise": 4}])"
                                       << "records[1]: unknown member \"sise\"";
        QTest::newRow("record without command") << R"("records": [{"size": 4}])" << "\"command\"";
        QTest::newRow("hex over size") << R"("records": [{"command": 45, "size": 1, "hex": "0102"}])"
                                       << "more than \"size\"";
        QTest::newRow("record over a frame")
            << R"("records": [{"command": 45, "size": 1048573}])" << "\"size\"";
        QTest::newRow("short encode table") << R"("records": [{"command": 19, "size": 4}])"
                                            << "record 19 (channel -1) must be 25344 bytes, not 4";
        QTest::newRow("short capabilities") << R"("records": [{"command": 10, "channel": 0, "size": 4}])"
                                            << "record 10 (channel 0) must be 4692 bytes";
        QTest::newRow("short standard") << R"("records": [{"command": 18, "size": 4}])" << "192 bytes";
        QTest::newRow("long resolution list") << R"("records": [{"command": 175, "size": 1300}])"
                                              << "1280 bytes";
        QTest::newRow("short clock") << R"("records": [{"command": 45, "hex": "00ff"}])" << "32 bytes";
        QTest::newRow("light mode unknown") << R"("lights": ["infrared", "ultraviolet"])" << "\"lights\"";
        QTest::newRow("lights not a list") << R"("lights": "dual")" << "\"lights\"";
        QTest::newRow("language 32") << R"("language": 32)" << "\"language\"";
        QTest::newRow("onvif as number") << R"("onvif": 1)" << "\"onvif\"";
        QTest::newRow("clock two centuries ahead")
            << R"("clock_offset_s": 6400000000)" << "\"clock_offset_s\"";
    }

    void fleetMistakesAreNamed()
    {
        QFETCH(QString, device);
        QFETCH(QString, expected);
        const std::string text
            = R"({"devices": [{"ip": "127.0.30.2"}, {"ip": "127.0.30.3", )" + device.toStdString() + "}]}";
        Fleet f;
        std::string error;
        QVERIFY2(!parseFleet(text, f, error), text.c_str());
        QVERIFY2(QString::fromStdString(error).startsWith(QStringLiteral("device 2")), error.c_str());
        QVERIFY2(QString::fromStdString(error).contains(expected), error.c_str());
        // The same member under "defaults" is refused too, and said to be there.
        const std::string underDefaults
            = R"({"defaults": {)" + device.toStdString() + R"(}, "devices": [{"ip": "127.0.30.2"}]})";
        QVERIFY(!parseFleet(underDefaults, f, error));
        QVERIFY2(QString::fromStdString(error).startsWith(QStringLiteral("defaults: "))
                || QString::fromStdString(error).startsWith(QStringLiteral("device 1")),
            error.c_str());
    }

    void goodDatesAndRecordsAreTaken()
    {
        Fleet f;
        std::string error;
        QVERIFY2(parseFleet(R"({"devices": [{"ip": "127.0.30.2", "build": "2024-02-29 23:59:59",
            "records": [{"command": 19, "size": 25344}, {"command": 77, "hex": "00ff"}]}]})",
                     f, error),
            error.c_str());
        QCOMPARE(f.devices[0].build[2], 29);
        QCOMPARE(f.devices[0].build[5], 59);
        QCOMPARE(f.devices[0].extraRecords[1].bytes.size(), std::size_t(2));
    }

    // A record that replaces one the device reads itself with a shorter one
    // was read past its end by the next set.
    void shortBuiltInRecordsAreNeverRead_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("capabilities") << 10;
        QTest::newRow("video standard") << 18;
        QTest::newRow("encode table") << 19;
        QTest::newRow("resolution list") << 175;
        QTest::newRow("clock") << 45;
        QTest::newRow("light capability") << 135;
    }

    void shortBuiltInRecordsAreNeverRead()
    {
        QFETCH(int, command);
        Fleet fleet = generatedFleet(1);
        fleet.devices[0].extraRecords.push_back(ExtraRecord { command, -1, { 1, 2, 3, 4 } });
        std::string error;
        QVERIFY(!validateFleet(fleet, error));
        QVERIFY2(QString::fromStdString(error).contains(
                     QStringLiteral("record %1 (channel -1) must be").arg(command)),
            error.c_str());
        Emulator emu(fleet);
        QVERIFY(!emu.start(error));

        // The model on its own keeps its whole record and sets stay in bounds.
        DeviceModel model(fleet.devices[0]);
        std::vector<uint8_t> bytes;
        QCOMPARE(model.getConfig(command, -1, bytes), 0);
        QCOMPARE(bytes.size(), builtInRecordSize(command));
        std::vector<uint8_t> table;
        QCOMPARE(model.getConfig(CmdEncodeTable, -1, table), 0);
        QCOMPARE(model.setConfig(CmdEncodeTable, -1, table), 0);
        QCOMPARE(model.setConfig(command, -1, { 1, 2, 3, 4 }),
            command == 18 || command == 19 || command == 45 ? -1 : -3);
    }

    void recordsAgreeWithEachOther()
    {
        for (const DeviceSpec &spec : defaultFleet().devices) {
            const DeviceModel m(spec);
            const LoginInfo block = m.loginBlock();
            QCOMPARE(block.videoChannelCount(), spec.channels);
            QCOMPARE(block.loginDeviceType(), spec.type);
            const EncodeCaps caps = recordOf<EncodeCaps>(m, CmdEncodeCaps, -1);
            const EncodeTable table = recordOf<EncodeTable>(m, CmdEncodeTable, -1);
            const VideoStandard standard = recordOf<VideoStandard>(m, CmdVideoStandard, -1);
            const DeviceInfoRecord info = recordOf<DeviceInfoRecord>(m, CmdDeviceInfo, 0);
            const int fps = standard.isNtsc() ? 30 : 25;
            QCOMPARE(standard.isNtsc(), spec.ntsc);
            int64_t used = 0;
            for (int ch = 0; ch < EncodeTable::Channels; ++ch) {
                for (const StreamParams *s : { &table.channel[ch].main, &table.channel[ch].sub }) {
                    QCOMPARE(s->videoOn(), ch < spec.channels);
                    if (!s->videoOn())
                        continue;
                    QVERIFY(s->frameRate() <= fps);
                    const uint32_t mask
                        = caps.entryResolutionMask(s == &table.channel[ch].main ? 0 : 1);
                    QVERIFY(mask & (1u << s->resolution()));
                    QVERIFY(caps.typeMask(0) & (1u << table.channel[ch].main.encodeType()));
                    used += m.pixels(s->resolution()) * s->frameRate();
                }
            }
            // The default settings fit the budget the device reports.
            QVERIFY(used > 0 && used <= caps.pixelRateBudget());
            char date[16];
            std::snprintf(
                date, sizeof date, "%04d-%02d-%02d", spec.build[0], spec.build[1], spec.build[2]);
            QCOMPARE(
                QString::fromStdString(info.buildTimeText()).left(10), QString::fromLatin1(date));
            const ResolutionList list = recordOf<ResolutionList>(m, CmdResolutionList, -1);
            QCOMPARE(list.entry[14].widthValue() * list.entry[14].heightValue(), 2073600);
            QVERIFY(!list.entry[0].nameText().empty());
            QVERIFY(list.entry[21].nameText().empty());
        }
    }

    // What the encode page sees of every default device: nothing beyond its
    // limits, no empty list, and a save without edits is the table as read,
    // which the device takes.
    void defaultFleetOpensAndSavesAsRead()
    {
        for (const DeviceSpec &spec : defaultFleet().devices) {
            DeviceModel m(spec);
            auto d = std::make_unique<EncodeBudget::Device>();
            d->caps = recordOf<EncodeCaps>(m, CmdEncodeCaps, -1);
            d->table = recordOf<EncodeTable>(m, CmdEncodeTable, -1);
            d->ntsc = recordOf<VideoStandard>(m, CmdVideoStandard, -1).isNtsc();
            const DeviceInfoRecord info = recordOf<DeviceInfoRecord>(m, CmdDeviceInfo, 0);
            d->resolutions = ResolutionTable::deviceListApplies(info.buildTimeText())
                ? ResolutionTable::fromDevice(recordOf<ResolutionList>(m, CmdResolutionList, -1))
                : ResolutionTable::fixed(d->ntsc, spec.type);
            d->channelCount = spec.channels;
            d->audioChannelCount = spec.audioChannels;
            EncodeBudget b;
            b.load(*d);
            const QByteArray who = QByteArray::fromStdString(spec.model + " " + spec.mac);
            QVERIFY2(!b.encodeTypes(StreamKind::Main).empty() && !b.encodeTypes(StreamKind::Sub).empty(),
                who.constData());
            for (int ch = 0; ch < spec.channels; ++ch) {
                b.selectChannel(ch);
                for (StreamKind kind : { StreamKind::Main, StreamKind::Sub }) {
                    const StreamView v = b.show(kind);
                    QVERIFY2(!v.resolutions.empty(), who.constData());
                    QVERIFY2(!v.overLimits(), who.constData());
                    QCOMPARE(v.frameRate, v.maxFrameRate);
                    StreamEdit e;
                    e.encodeType = v.encodeType;
                    e.resolution = v.resolution;
                    e.bitControl = v.vbr ? 1 : 0;
                    e.frameRate = v.frameRate;
                    e.quality = v.quality;
                    e.bitRate = v.bitRate;
                    e.iFrameInterval = v.iFrameInterval;
                    e.videoOn = v.videoOn;
                    e.audioOn = v.audioOn;
                    b.store(kind, e);
                }
            }
            b.prepareSave();
            QVERIFY2(std::memcmp(&b.table(), &d->table, sizeof(EncodeTable)) == 0, who.constData());
            const auto *p = reinterpret_cast<const uint8_t *>(&b.table());
            QCOMPARE(m.setConfig(CmdEncodeTable, -1, std::vector<uint8_t>(p, p + sizeof(EncodeTable))), 0);
        }
    }

    // A device keeps its users' verifiers, never their passwords, and a
    // fleet written from devices holds no password either.
    void devicesForgetPasswords()
    {
        const Fleet fleet = generatedFleet(2);
        const DeviceModel m(fleet.devices[0]);
        QVERIFY(!m.spec().users.empty());
        for (const User &u : m.spec().users) {
            QVERIFY(u.password.empty());
            QVERIFY(!u.verifier.empty());
            QVERIFY(m.verifierOf(u.name));
        }
        const Fleet kept = withVerifiers(fleet);
        const std::string text = fleetToJson(kept).dump();
        QVERIFY(text.find("\"password\"") == std::string::npos);
        QVERIFY(text.find("739204") == std::string::npos);
        // The verifier a device made is the one it is rebuilt from.
        const DeviceModel again(kept.devices[0]);
        QCOMPARE(verifierText(*again.verifierOf("admin")), kept.devices[0].users[0].verifier);
    }

    // A fleet file may give a type any channel count; a device the fleet
    // check lets through must take its own table back unchanged.
    void everyChannelCountTakesItsOwnTable()
    {
        int refused = 0;
        for (const DeviceSpec &base : defaultFleet().devices) {
            for (int channels = 1; channels <= 32; ++channels) {
                DeviceSpec spec = base;
                spec.channels = channels;
                spec.audioChannels = std::min(spec.audioChannels, channels);
                Fleet one;
                one.devices.push_back(spec);
                std::string error;
                if (!validateFleet(one, error)) {
                    QVERIFY2(error.find("too many") != std::string::npos, error.c_str());
                    ++refused;
                    continue;
                }
                DeviceModel m(spec);
                const EncodeTable table = recordOf<EncodeTable>(m, CmdEncodeTable, -1);
                const auto *p = reinterpret_cast<const uint8_t *>(&table);
                QVERIFY2(m.setConfig(CmdEncodeTable, -1, std::vector<uint8_t>(p, p + sizeof table)) == 0,
                         qPrintable(QStringLiteral("%1 with %2 channels: %3")
                                    .arg(QString::fromStdString(spec.model))
                                    .arg(channels)
                                    .arg(QString::fromStdString(m.lastRefusal()))));
            }
        }
        // Only the counts whose pixel rate cannot be said in 32 bits go.
        QVERIFY(refused > 0 && refused < 200);
    }

    void encodeTablesBeyondTheLimitsAreRefused_data()
    {
        QTest::addColumn<int>("edit");
        QTest::addColumn<bool>("taken");
        QTest::newRow("as built") << 0 << true;
        QTest::newRow("main resolution outside the mask") << 1 << false;
        QTest::newRow("sub resolution not with this main one") << 2 << false;
        QTest::newRow("encode type not offered") << 3 << false;
        QTest::newRow("quality 0") << 4 << false;
        QTest::newRow("quality 7") << 5 << false;
        QTest::newRow("bit rate 0") << 6 << false;
        QTest::newRow("main bit rates over the budget") << 7 << false;
        QTest::newRow("frame rate over the standard") << 8 << false;
        QTest::newRow("pixel rate over the budget") << 9 << false;
        QTest::newRow("a stream that is off is not checked") << 10 << true;
        QTest::newRow("a smaller sub resolution that goes with the main one") << 11 << true;
    }
    void encodeTablesBeyondTheLimitsAreRefused()
    {
        QFETCH(int, edit);
        QFETCH(bool, taken);
        // An 8-channel NVR: main 1080P H.265, sub VGA, 8192 kbit/s per channel.
        DeviceSpec spec = generatedFleet(8).devices[7];
        QCOMPARE(spec.type, 1);
        DeviceModel m(spec);
        EncodeTable t = recordOf<EncodeTable>(m, CmdEncodeTable, -1);
        StreamParams &main = t.channel[1].main;
        StreamParams &sub = t.channel[1].sub;
        switch (edit) {
        case 1: main.setResolution(20); break;
        case 2: main.setResolution(3); break;  // CIF main: VGA sub no longer fits with it
        case 3: main.setEncodeType(0); break;
        case 4: sub.setQuality(0); break;
        case 5: main.setQuality(7); break;
        case 6: main.setBitRate(0); break;
        case 7:
            for (int ch = 0; ch < spec.channels; ++ch)
                t.channel[ch].main.setBitRate(8192 + 1);
            break;
        case 8: sub.setFrameRate(spec.ntsc ? 31 : 26); break;
        case 9: main.setResolution(16); break;  // 4M at full rate: more than one channel's share
        case 10:
            sub.setVideoOn(false);
            sub.setResolution(20);
            sub.setQuality(0);
            break;
        case 11: sub.setResolution(3); break;
        }
        const auto *p = reinterpret_cast<const uint8_t *>(&t);
        const int32_t result = m.setConfig(CmdEncodeTable, -1, std::vector<uint8_t>(p, p + sizeof t));
        QCOMPARE(result, taken ? 0 : -1);
        QCOMPARE(m.lastRefusal().empty(), taken);
    }

    void addressesADeviceWouldNotTakeAreRefused_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<bool>("taken");
        QTest::newRow("ordinary") << "192.168.1.20" << "255.255.255.0" << "192.168.1.1" << true;
        QTest::newRow("no gateway") << "192.168.1.20" << "255.255.255.0" << "0.0.0.0" << true;
        QTest::newRow("/22, host .0 inside") << "10.0.1.0" << "255.255.252.0" << "10.0.0.1" << true;
        QTest::newRow("/31 has no ends") << "10.0.0.0" << "255.255.255.254" << "10.0.0.1" << true;
        QTest::newRow("network address") << "192.168.1.0" << "255.255.255.0" << "192.168.1.1" << false;
        QTest::newRow("broadcast address") << "192.168.1.255" << "255.255.255.0" << "192.168.1.1" << false;
        QTest::newRow("/22 broadcast") << "10.0.3.255" << "255.255.252.0" << "10.0.0.1" << false;
        QTest::newRow("mask with a hole") << "192.168.1.20" << "255.0.255.0" << "192.168.1.1" << false;
        QTest::newRow("mask of zeros then ones") << "192.168.1.20" << "0.0.0.255" << "0.0.0.0" << false;
        QTest::newRow("empty mask") << "192.168.1.20" << "0.0.0.0" << "0.0.0.0" << false;
        QTest::newRow("gateway outside") << "192.168.1.20" << "255.255.255.0" << "192.168.2.1" << false;
        QTest::newRow("gateway is the device") << "192.168.1.20" << "255.255.255.0" << "192.168.1.20" << false;
        QTest::newRow("gateway is the broadcast") << "192.168.1.20" << "255.255.255.0" << "192.168.1.255" << false;
        QTest::newRow("0.x address") << "0.1.2.3" << "255.0.0.0" << "0.0.0.0" << false;
        QTest::newRow("multicast") << "224.0.0.5" << "255.255.255.0" << "0.0.0.0" << false;
    }
    void addressesADeviceWouldNotTakeAreRefused()
    {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        QFETCH(QString, gateway);
        QFETCH(bool, taken);
        uint32_t a = 0, m = 0, g = 0;
        QVERIFY(net::parseIpv4(ip.toStdString(), a) && net::parseIpv4(mask.toStdString(), m)
            && net::parseIpv4(gateway.toStdString(), g));
        QCOMPARE(DeviceModel::addressRefusal(a, m, g).empty(), taken);

        // The record itself: taken or refused with -1, and the device stays put.
        DeviceModel model(generatedFleet(1).devices[0]);
        const uint32_t before = model.spec().ip;
        NetInfo n = model.netInfo();
        for (int i = 0; i < 4; ++i) {
            n.ip[i] = uint8_t(a >> (24 - 8 * i));
            n.mask[i] = uint8_t(m >> (24 - 8 * i));
            n.gateway[i] = uint8_t(g >> (24 - 8 * i));
        }
        const auto *p = reinterpret_cast<const uint8_t *>(&n);
        QCOMPARE(model.setNetwork(std::vector<uint8_t>(p, p + sizeof n)), taken ? 0 : -1);
        QCOMPARE(model.spec().ip, taken ? a : before);
    }

    void filesAreWrittenPrivatelyAndNeverThroughALink()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("fleet.json")).toStdString();
        std::string error;
        QVERIFY2(writeFileAtomically(path, "{}", error), error.c_str());
        struct stat st {};
        QCOMPARE(::stat(path.c_str(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);

        const QString victim = dir.filePath(QStringLiteral("victim"));
        QFile f(victim);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
        f.close();
        const std::string link = dir.filePath(QStringLiteral("state.json")).toStdString();
        QVERIFY(QFile::link(victim, QString::fromStdString(link)));
        QVERIFY(!writeFileAtomically(link, "{\"devices\": []}", error));
        QVERIFY2(error.find("not a regular file") != std::string::npos, error.c_str());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep"));
        QVERIFY(QFileInfo(QString::fromStdString(link)).isSymLink());
        // An emulator told to keep its state there refuses to start.
        EmulatorOptions o = fixture::loopbackOptions(link);
        Emulator emu(generatedFleet(1), o);
        QVERIFY(!emu.start(error));

        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        QVERIFY(!writeFileAtomically(dir.filePath(QStringLiteral("sub")).toStdString(), "{}", error));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("sub"))).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 3); // no temp left
    }

    // A fleet may hold a user's verifier record instead of the password: the
    // device logs that user in all the same, and writes the record back.
    void aVerifierStandsInForThePassword()
    {
        proto::pake::VerifierRecord record;
        QVERIFY(proto::pake::registerPassword("s3cret", "admin", {}, proto::pake::KdfParams(), record)
            == proto::pake::Error::None);
        const std::string verifier = verifierText(record);
        Fleet fleet;
        std::string error;
        auto fleetText = [](const std::string &user) {
            return "{\"devices\": [{\"ip\": \"127.0.30.2\", \"users\": [" + user + "]}]}";
        };
        auto userText = [](const std::string &password, const std::string &verifier) {
            std::string u = "{\"name\": \"admin\"";
            if (!password.empty())
                u += ", \"password\": \"" + password + "\"";
            return u + ", \"verifier\": \"" + verifier + "\"}";
        };
        QVERIFY2(parseFleet(fleetText(userText({}, verifier)), fleet, error), error.c_str());
        const std::string written = fleetToJson(fleet).dump();
        QVERIFY(written.find(verifier) != std::string::npos);
        QVERIFY(written.find("password") == std::string::npos);
        // Both at once, a wrong prefix, a cut-off record, a hash no client takes.
        std::string otherCurve = verifier;
        otherCurve.replace(0, 11, "spake2+p384");
        std::string costly = verifier;
        costly.replace(12, 2, "20");
        for (const std::string &user : { userText("x", verifier), userText({}, otherCurve),
                 userText({}, verifier.substr(0, verifier.size() - 2)), userText({}, costly) }) {
            Fleet f;
            QVERIFY2(!parseFleet(fleetText(user), f, error), user.c_str());
        }

        Emulator emu(fleet, fixture::loopbackOptions());
        QVERIFY2(emu.start(error), error.c_str());
        const auto dev = emu.device(0);
        LoginInfo info;
        int32_t err = 0;
        QCOMPARE(NetSdk_Login(net::ipv4Text(dev.ip).c_str(), dev.port, "admin", "739204", &info, 1,
                     &err, 0, 0),
            0);
        QCOMPARE(err, int32_t(NETSDK_ERR_PASSWORD));
        const int32_t h = NetSdk_Login(
            net::ipv4Text(dev.ip).c_str(), dev.port, "admin", "s3cret", &info, 1, &err, 0, 0);
        QVERIFY2(h > 0, qPrintable(QString::number(err)));
        NetSdk_Logout(h);
    }

    void aStateFileThatCannotBeWrittenIsCounted()
    {
        QTemporaryDir dir;
        Emulator emu(generatedFleet(1),
            fixture::loopbackOptions(dir.filePath(QStringLiteral("missing/state.json")).toStdString()));
        std::string error;
        QVERIFY2(emu.start(error), error.c_str());
        const auto dev = emu.device(0);
        LoginInfo info;
        int32_t err = 0;
        const int32_t h = NetSdk_Login(
            net::ipv4Text(dev.ip).c_str(), dev.port, "admin", "739204", &info, 1, &err, 0, 0);
        QVERIFY(h > 0);
        std::vector<uint8_t> table;
        QVERIFY(emu.record(0, CmdEncodeTable, -1, table));
        QCOMPARE(NetSdk_SetConfig(h, CmdEncodeTable, -1, table.data(), int32_t(table.size()), 3000), 0);
        NetSdk_Logout(h);
        QCOMPARE(emu.stats().stateWriteFailures, 1);
    }

    void stateFileKeepsChangesAcrossRestarts()
    {
        QTemporaryDir dir;
        const std::string state = dir.filePath(QStringLiteral("state.json")).toStdString();
        const Fleet fleet = generatedFleet(3);
        std::vector<uint8_t> changed;
        {
            const auto started = fixture::start(fleet, state);
            QVERIFY(started);
            Emulator &emu = *started;
            std::vector<SearchRecord> buf(256);
            int32_t bytes = 0;
            QVERIFY(NetSdk_SearchDevice(
                reinterpret_cast<char *>(buf.data()), NETSDK_SEARCH_BUFFER_SIZE, &bytes, 3000, 0));
            QCOMPARE(bytes, 3 * 312);
            const int index = emu.indexOfMac(buf[0].net.macText());
            NetInfo net = buf[0].net;
            net.ip[2] = 88;
            net.gateway[2] = 88;
            QCOMPARE(NetSdk_SetConfigWithoutLogin(20, -1, &net, 144, 5000), 0);

            const auto dev = emu.device(index);
            LoginInfo info;
            int32_t err = 0;
            const int32_t h = NetSdk_Login(
                net::ipv4Text(dev.ip).c_str(), dev.port, "admin", "739204", &info, 1, &err, 0, 0);
            QVERIFY(h > 0);
            QVERIFY(emu.record(index, CmdEncodeTable, -1, changed));
            changed[200] ^= 0xff;
            QCOMPARE(NetSdk_SetConfig(
                         h, CmdEncodeTable, -1, changed.data(), int32_t(changed.size()), 3000),
                0);
            NetSdk_Logout(h);
            emu.stop();
        }
        Emulator again(fleet, fixture::loopbackOptions(state));
        std::string error;
        QVERIFY2(again.start(error), error.c_str());
        int moved = 0;
        for (int i = 0; i < 3; ++i) {
            if (((again.device(i).ip >> 8) & 0xff) == 88) {
                ++moved;
                std::vector<uint8_t> table;
                QVERIFY(again.record(i, CmdEncodeTable, -1, table));
                QVERIFY(table == changed);
            }
        }
        QCOMPARE(moved, 1);
    }
};

QTEST_APPLESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
