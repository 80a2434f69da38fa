// The system page's batch engine end to end: the real network SDK against an
// emulated fleet in-process, on loopback.

#include <QtTest>

#include <QTemporaryDir>

#include "ActivityLog.h"
#include "BatchRuns.h"
#include "ConfigRecords.h"
#include "EmulatorFixture.h"
#include "Fleet.h"
#include "ResultTexts.h"
#include "SystemBatch.h"
#include "SystemItems.h"

using namespace scoutrix;
using namespace scoutrix::syscfg;

using batchrun::BatchRun;
using batchrun::run;

class TestSystemBatchE2e : public QObject
{
    Q_OBJECT

    std::unique_ptr<devsim::Emulator> m_emu;
    devsim::Fleet m_fleet;
    QTemporaryDir m_logDir;

    // The devices as a search finds them, in fleet order, as batch targets.
    QVector<BatchTarget> targetsOf(const QVector<int> &indexes)
    {
        QVector<BatchTarget> out;
        for (int i : indexes) {
            const devsim::DeviceSnapshot d = m_emu->device(i);
            BatchTarget t;
            t.deviceIndex = i;
            t.mac = d.mac;
            t.ip = fixture::ip(d.ip);
            t.port = d.port;
            t.user = "admin";
            t.password = "739204";
            t.serial = d.serial;
            t.model = m_fleet.devices[std::size_t(i)].model;
            out.append(t);
        }
        return out;
    }

    template<typename Record>
    Record recordOf(int device, int32_t command, int32_t channel)
    {
        return fixture::recordOf<Record>(*m_emu, device, command, channel);
    }

    // Waits for the restarts that were asked for to begin, then to end.
    bool waitRestarted(const QVector<int> &devices)
    {
        QElapsedTimer t;
        t.start();
        QSet<int> seen;
        while (seen.size() < devices.size()) {
            for (int d : devices) {
                if (m_emu->device(d).rebooting)
                    seen.insert(d);
            }
            if (t.elapsed() > 3000)
                return false;
            QThread::msleep(2);
        }
        for (int d : devices) {
            if (!fixture::waitReachable(*m_emu, d))
                return false;
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_logDir.isValid());
        ActivityLog::instance().setDirectory(m_logDir.path());
        m_fleet = devsim::generatedFleet(8);
        m_fleet.devices[6].users[0].password = "other";
        for (devsim::DeviceSpec &d : m_fleet.devices)
            d.rebootMs = 1000;
        m_emu = fixture::start(m_fleet);
        QVERIFY(m_emu);
    }

    void formatAsksOnceAndRestartsTheDevicesThatNeedIt()
    {
        ItemRequest req;
        req.item = Item::Format;
        req.videoFormat = 1;
        req.language = deviceLanguages().indexOf(QStringLiteral("Dutch"));
        // "No": nothing changes.
        BatchRun r = run(req, targetsOf({ 0, 1 }), 8, false);
        QVERIFY(r.ended);
        QCOMPARE(r.asked, 2);
        QCOMPARE(r.applied, 0);
        QVERIFY(r.outcomes.isEmpty());
        QCOMPARE(recordOf<GeneralRecord>(0, CmdGeneral, -1).videoFormat(), m_fleet.devices[0].ntsc ? 1 : 0);
        QCOMPARE(m_emu->device(0).sessions, 0);

        // A device that cannot log in: the item goes to none.
        r = run(req, targetsOf({ 0, 6, 1 }));
        QCOMPARE(r.asked, -1);
        QCOMPARE(r.refused, 1);
        QCOMPARE(r.of(6)->operation, int(ResultTexts::OpLogin));
        QCOMPARE(r.of(0)->code, int(CodeNotSent));
        QCOMPARE(r.of(1)->code, int(CodeNotSent));
        QCOMPARE(recordOf<GeneralRecord>(1, CmdGeneral, -1).language(), 0);

        // "Yes": a changed video format answers -11401 and the device restarts.
        r = run(req, targetsOf({ 0, 1 }));
        QCOMPARE(r.asked, 2);
        QCOMPARE(r.applied, 2);
        for (int i : { 0, 1 }) {
            const DeviceOutcome *o = r.of(i);
            QVERIFY(o);
            QCOMPARE(o->operation, int(ResultTexts::OpLanguageVideo));
            QVERIFY2(isOkOutcome(o->code, o->operation), qPrintable(outcomeText(*o)));
            const GeneralRecord g = recordOf<GeneralRecord>(i, CmdGeneral, -1);
            QCOMPARE(g.videoFormat(), 1);
            QCOMPARE(g.language(), 31);
            if (o->code == NETSDK_ERR_NEED_REBOOT) {
                QCOMPARE(o->steps.last().operation, int(ResultTexts::OpReboot));
                QCOMPARE(o->steps.last().code, 0);
            }
        }
        QCOMPARE(r.of(0)->code, int(NETSDK_ERR_NEED_REBOOT));
        QCOMPARE(r.of(1)->code, int(NETSDK_ERR_NEED_REBOOT));
        QVERIFY(waitRestarted({ 0, 1 }));
    }

    void restartFaultOnAnySetIsFollowedByAReboot()
    {
        devsim::Faults f;
        f.needReboot = true;
        m_emu->setFaults(2, f);
        ItemRequest req;
        req.item = Item::Format;
        req.videoFormat = m_fleet.devices[2].ntsc ? 1 : 0; // unchanged: only the fault asks for the restart
        req.language = 1;
        const BatchRun r = run(req, targetsOf({ 2 }));
        m_emu->setFaults(2, devsim::Faults());
        QCOMPARE(r.outcomes.size(), 1);
        QCOMPARE(r.outcomes[0].code, int(NETSDK_ERR_NEED_REBOOT));
        QCOMPARE(r.outcomes[0].steps.size(), 2);
        QCOMPARE(r.outcomes[0].steps[1].operation, int(ResultTexts::OpReboot));
        QCOMPARE(r.outcomes[0].steps[1].code, 0);
        // The device really went away and comes back.
        QVERIFY(waitRestarted({ 2 }));
    }

    void rebootMarksEachDevice()
    {
        ItemRequest req;
        req.item = Item::Reboot;
        const BatchRun r = run(req, targetsOf({ 3, 6 }));
        QCOMPARE(r.of(3)->code, 0);
        QCOMPARE(r.of(3)->operation, int(ResultTexts::OpReboot));
        QCOMPARE(r.of(6)->operation, int(ResultTexts::OpLogin));
        QVERIFY(!isOkOutcome(r.of(6)->code, r.of(6)->operation));
        QCOMPARE(r.applied, 1);
        QVERIFY(waitRestarted({ 3 }));
    }

    void clockItemsSetTheRunningClock()
    {
        ItemRequest req;
        req.item = Item::ManualTime;
        req.manualTime = ClockTime::fromDateTime(QDateTime(QDate(2031, 1, 2), QTime(3, 4, 5)));
        BatchRun r = run(req, targetsOf({ 4, 5 }));
        QCOMPARE(r.applied, 2);
        for (int i : { 4, 5 }) {
            QCOMPARE(r.of(i)->code, 0);
            const SystemTimeRecord t = recordOf<SystemTimeRecord>(i, CmdSystemTime, -1);
            QCOMPARE(t.word(SystemTimeRecord::Year), 2031);
            QCOMPARE(t.word(SystemTimeRecord::Day), 2);
            QCOMPARE(t.word(SystemTimeRecord::Minute), 4);
            QVERIFY(t.word(SystemTimeRecord::Second) >= 5 && t.word(SystemTimeRecord::Second) < 20);
        }
        req.item = Item::PcTime;
        r = run(req, targetsOf({ 7 }));
        QCOMPARE(r.of(7)->code, 0);
        const SystemTimeRecord t = recordOf<SystemTimeRecord>(7, CmdSystemTime, -1);
        const QDateTime device(QDate(t.word(SystemTimeRecord::Year), t.word(SystemTimeRecord::Month),
                                     t.word(SystemTimeRecord::Day)),
                               QTime(t.word(SystemTimeRecord::Hour), t.word(SystemTimeRecord::Minute),
                                     t.word(SystemTimeRecord::Second)));
        QVERIFY2(qAbs(device.secsTo(QDateTime::currentDateTime())) <= 5, qPrintable(device.toString()));
    }

    void ntpReachesBothRecords()
    {
        ItemRequest req;
        req.item = Item::Ntp;
        QVERIFY(parseNtp(true, QStringLiteral("ntp.example"), QStringLiteral("1123"), QStringLiteral("30"),
                         timeZoneIndex(QStringLiteral("UTC+05:45")), req.ntp).isEmpty());
        const BatchRun r = run(req, targetsOf({ 4, 5 }));
        for (int i : { 4, 5 }) {
            QCOMPARE(r.of(i)->code, 0);
            QCOMPARE(r.of(i)->operation, int(ResultTexts::OpNTPSet));
            const NtpRecord ntp = recordOf<NtpRecord>(i, CmdNtp, -1);
            QVERIFY(ntp.enabled());
            QCOMPARE(ntp.server(), std::string("ntp.example"));
            QCOMPARE(ntp.word(NtpRecord::Port), 1123);
            QCOMPARE(ntp.word(NtpRecord::Period), 30);
            QCOMPARE(ntp.word(NtpRecord::ZoneIndex), 9);
            QCOMPARE(recordOf<TimeZoneRecord>(i, CmdTimeZone, -1).word(TimeZoneRecord::MinutesWest), -345);
        }
        const QVector<ActivityEntry> log = ActivityLog::instance().entries(QDate::currentDate());
        QVERIFY(std::any_of(log.begin(), log.end(), [&](const ActivityEntry &e) {
            return e.mac == QString::fromStdString(m_fleet.devices[4].mac) && e.operation == ResultTexts::OpNTPSet
                && e.oldValue.contains(QStringLiteral("time.windows.com"))
                && e.newValue.contains(QStringLiteral("ntp.example"));
        }));
    }

    void restoreOfTheNetworkBringsTheDeviceHome()
    {
        const devsim::DeviceSnapshot home = m_emu->device(7);
        const auto found = fixture::search(3000);
        const SearchRecord *rec = fixture::byMac(found, home.mac);
        QVERIFY(rec);
        NetInfo n = rec->net;
        const uint8_t elsewhere[4] = { 127, 0, 77, 10 };
        std::memcpy(n.ip, elsewhere, 4);
        n.gateway[2] = 77;
        QCOMPARE(NetSdk_SetConfigWithoutLogin(CmdNetWithoutLogin, -1, &n, int32_t(sizeof n), 5000), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_emu->device(7).ip != home.ip && m_emu->device(7).reachable, 3000);

        ItemRequest req;
        req.item = Item::Defaults;
        req.groups[RestoreDefaultsRecord::Network] = true;
        req.groups[RestoreDefaultsRecord::General] = true;
        const BatchRun r = run(req, targetsOf({ 7 }));
        const DeviceOutcome *o = r.of(7);
        QCOMPARE(o->code, int(NETSDK_ERR_TIMEOUT));
        QCOMPARE(o->operation, int(ResultTexts::OpResetWithNetwork));
        QVERIFY(isOkOutcome(o->code, o->operation));
        QCOMPARE(ResultTexts::resultKey(o->code, o->operation), QStringLiteral("HaveModify"));
        // A search finds it at its factory address again.
        QTRY_VERIFY_WITH_TIMEOUT(m_emu->device(7).ip == home.ip && m_emu->device(7).reachable, 3000);
        QVERIFY(fixture::ip(home.ip) == fixture::byMac(fixture::search(3000), home.mac)->net.ipText());
    }

    void lightModeFollowsTheModel()
    {
        ItemRequest req;
        req.item = Item::Light;
        req.light.type = LightModeRecord::Dual;
        req.light.lightTime = 20;
        req.light.brightness = 60;
        const BatchRun r = run(req, targetsOf({ 4, 0, 1 }));
        QCOMPARE(r.of(4)->code, 0); // a 5M camera has every light
        const LightModeRecord mode = recordOf<LightModeRecord>(4, CmdLightMode, 0);
        QCOMPARE(int(mode.bytes[LightModeRecord::Type]), 2);
        QCOMPARE(int(mode.bytes[LightModeRecord::LightTime]), 20);
        QCOMPARE(int(mode.bytes[LightModeRecord::Brightness]), 60);
        QCOMPARE(r.of(0)->code, int(NETSDK_ERR_NOT_SUPPORTED)); // infrared only
        QCOMPARE(r.of(0)->steps.size(), 1);
        // A recorder reports no light: the mode is sent anyway and its answer is the mark.
        const DeviceOutcome *nvr = r.of(1);
        QCOMPARE(nvr->steps.size(), 2);
        QVERIFY(nvr->steps[0].advisory);
        QCOMPARE(nvr->code, nvr->steps[1].code);
        QVERIFY(!isOkOutcome(nvr->code, nvr->operation));
    }

    void channelNameIsCutAndTheDisplaySet()
    {
        ItemRequest req;
        req.item = Item::ChannelName;
        req.channel.name = QString(70, QLatin1Char('N'));
        req.channel.showName = false;
        req.channel.showTime = true;
        const BatchRun r = run(req, targetsOf({ 4 }));
        const DeviceOutcome *o = r.of(4);
        QCOMPARE(o->code, 0);
        QVERIFY(!o->detail.isEmpty());
        QCOMPARE(recordOf<ChannelNamesRecord>(4, CmdChannelNames, -1).name(0), std::string(63, 'N'));
        const OsdRecord osd = recordOf<OsdRecord>(4, CmdOsd, 0);
        QCOMPARE(int(osd.bytes[OsdRecord::ShowName]), 0);
        QCOMPARE(int(osd.bytes[OsdRecord::ShowTime]), 1);
    }

    void servicesSetBothAndSayBoth()
    {
        ItemRequest req;
        req.item = Item::Services;
        req.services.onvif = false;
        req.services.dhcp = true;
        BatchRun r = run(req, targetsOf({ 5 }));
        QCOMPARE(r.asked, 1);
        const DeviceOutcome *o = r.of(5);
        QCOMPARE(o->operation, int(ResultTexts::OpDhcp));
        QCOMPARE(o->code, 0);
        QCOMPARE(o->steps.size(), 2);
        QCOMPARE(recordOf<OnvifRecord>(5, CmdOnvif, -1).word(OnvifRecord::Enable), 0);
        QCOMPARE(recordOf<DhcpRecord>(5, CmdDhcp, -1).word(DhcpRecord::Enable), 1);
        req.services = ServiceSettings();
        r = run(req, targetsOf({ 5 }));
        QCOMPARE(recordOf<OnvifRecord>(5, CmdOnvif, -1).word(OnvifRecord::Enable), 1);
        QCOMPARE(recordOf<DhcpRecord>(5, CmdDhcp, -1).word(DhcpRecord::Enable), 0);
    }

    void exportAndImportRoundTrip()
    {
        QTemporaryDir dir;
        ItemRequest req;
        req.item = Item::Export;
        req.exportDirectory = dir.path();
        // The first device cannot log in; the second is exported; the third is left alone.
        BatchRun r = run(req, targetsOf({ 6, 4, 5 }));
        QCOMPARE(r.outcomes.size(), 2);
        QCOMPARE(r.of(6)->operation, int(ResultTexts::OpLogin));
        const DeviceOutcome *o = r.of(4);
        QCOMPARE(o->code, 0);
        QCOMPARE(o->operation, int(ResultTexts::OpExport));
        QVERIFY(!r.of(5));
        QFile file(o->detail);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray image = file.readAll();
        QCOMPARE(image.size(), 65536);
        const std::string exportedServer = recordOf<NtpRecord>(4, CmdNtp, -1).server();

        ItemRequest ntp;
        ntp.item = Item::Ntp;
        ntp.ntp.server = QStringLiteral("changed.example");
        run(ntp, targetsOf({ 4 }));
        QCOMPARE(recordOf<NtpRecord>(4, CmdNtp, -1).server(), std::string("changed.example"));

        ItemRequest back;
        back.item = Item::Import;
        back.importImage = image;
        back.importFile = o->detail;
        r = run(back, targetsOf({ 4, 0 }));
        QVERIFY2(isOkOutcome(r.of(4)->code, r.of(4)->operation), qPrintable(outcomeText(*r.of(4))));
        QCOMPARE(r.of(4)->operation, int(ResultTexts::OpImport));
        QTRY_VERIFY_WITH_TIMEOUT(recordOf<NtpRecord>(4, CmdNtp, -1).server() == exportedServer, 5000);
        // Another model's image is refused.
        QVERIFY(!isOkOutcome(r.of(0)->code, r.of(0)->operation));
        if (r.of(4)->code == NETSDK_ERR_NEED_REBOOT)
            QVERIFY(waitRestarted({ 4 }));
    }

    void cancelPartWayThroughABatch()
    {
        devsim::Faults slow;
        slow.delayMs = 150;
        for (int i = 0; i < 6; ++i)
            m_emu->setFaults(i, slow);
        ItemRequest req;
        req.item = Item::PcTime;
        const BatchRun r = run(req, targetsOf({ 0, 1, 2, 3, 4, 5 }), 1, true,
                               [](SystemBatch &b, const DeviceOutcome &o) {
                                   if (o.deviceIndex == 1)
                                       b.cancel();
                               });
        for (int i = 0; i < 6; ++i)
            m_emu->setFaults(i, devsim::Faults());
        QVERIFY(r.ended);
        QVERIFY(r.cancelled);
        QCOMPARE(r.outcomes.size(), 2);
        QCOMPARE(r.outcomes[0].deviceIndex, 0);
        QCOMPARE(r.outcomes[1].deviceIndex, 1);
        // Nobody is left logged in.
        for (int i = 0; i < 6; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(m_emu->device(i).sessions, 0, 3000);
    }
};

QTEST_GUILESS_MAIN(TestSystemBatchE2e)
#include "tst_systembatch_e2e.moc"
