// The system page's batch engine against the recording SDK double: the exact
// exchange of every item, the two dispatch patterns, the pool and cancel.

#include <QtTest>

#include <QTemporaryDir>

#include "ActivityLog.h"
#include "BatchRuns.h"
#include "ConfigRecords.h"
#include "FakeNetSdk.h"
#include "NetSdk.h"
#include "ResultTexts.h"
#include "SystemBatch.h"
#include "SystemItems.h"

using namespace scoutrix;
using namespace scoutrix::syscfg;
using batchrun::BatchRun;
using batchrun::run;
using fakesdk::Call;

namespace {

BatchTarget target(int i)
{
    BatchTarget t;
    t.deviceIndex = i;
    t.ip = "127.0.0." + std::to_string(10 + i);
    t.port = 34567;
    t.mac = "02:00:00:00:00:" + QString::number(10 + i).toStdString();
    t.user = "admin";
    t.password = "pw";
    t.serial = "S" + std::to_string(i);
    t.model = "M";
    return t;
}

QVector<BatchTarget> targets(int n)
{
    QVector<BatchTarget> v;
    for (int i = 0; i < n; ++i)
        v.append(target(i));
    return v;
}

QByteArray pattern(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + seed) & 0xff);
    return b;
}

int32_t wordAt(const QByteArray &b, int offset)
{
    return int32_t(readLe32(reinterpret_cast<const uint8_t *>(b.constData()) + offset));
}

// The kinds and command numbers of the session calls, as "L G41 G112 S41 S112 O".
QString callTrace()
{
    QStringList parts;
    for (const Call &c : fakesdk::state().calls) {
        switch (c.kind) {
        case Call::Login: parts << QStringLiteral("L"); break;
        case Call::Logout: parts << QStringLiteral("O"); break;
        case Call::Get: parts << QStringLiteral("G%1").arg(c.command); break;
        case Call::Set: parts << QStringLiteral("S%1").arg(c.command); break;
        case Call::Reboot: parts << QStringLiteral("R"); break;
        case Call::StreamStart:
        case Call::StreamCallbackSet:
        case Call::StreamCallbackClear:
        case Call::StreamStop: parts << QStringLiteral("V"); break;
        }
    }
    return parts.join(QLatin1Char(' '));
}

QByteArray setRecordOf(int command, int nth = 0)
{
    for (const fakesdk::ConfigSetCall &c : fakesdk::state().configSetCalls) {
        if (c.command == command && nth-- == 0)
            return c.record;
    }
    return QByteArray();
}

} // namespace

class TestSystemBatch : public QObject
{
    Q_OBJECT

    QTemporaryDir m_logDir;

    QVector<ActivityEntry> logEntries() { return ActivityLog::instance().entries(QDate::currentDate()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_logDir.isValid());
        ActivityLog::instance().setDirectory(m_logDir.path());
    }

    void init()
    {
        fakesdk::reset();
        QFile::remove(ActivityLog::instance().fileForDay(QDate::currentDate()));
    }

    void ntpSettingsAreCheckedBeforeAnythingIsSent()
    {
        NtpSettings s;
        const QString server = QStringLiteral("pool.ntp.org");
        QVERIFY(parseNtp(true, server, QStringLiteral("123"), QStringLiteral("60"), 9, s).isEmpty());
        QCOMPARE(s.port, 123);
        QCOMPARE(s.period, 60);
        QCOMPARE(s.zoneIndex, 9);
        QVERIFY(parseNtp(false, server, QStringLiteral(" 65535 "), QStringLiteral("0"), 0, s).isEmpty());
        QVERIFY(!s.enabled);
        for (const char *port : { "", "abc", "12x", "0", "65536", "-1", "1.5" })
            QVERIFY2(!parseNtp(true, server, QString::fromLatin1(port), QStringLiteral("1"), 13, s).isEmpty(), port);
        for (const char *period : { "", "x", "-1", "65536" })
            QVERIFY2(!parseNtp(true, server, QStringLiteral("123"), QString::fromLatin1(period), 13, s).isEmpty(),
                     period);
        // 63 characters leave room for the terminator; 64 do not.
        QVERIFY(parseNtp(true, QString(63, QLatin1Char('a')), QStringLiteral("123"), QStringLiteral("1"), 13, s)
                    .isEmpty());
        QVERIFY(!parseNtp(true, QString(64, QLatin1Char('a')), QStringLiteral("123"), QStringLiteral("1"), 13, s)
                     .isEmpty());
        for (const QString &bad : { QString(), QStringLiteral("ntp\u4e2d.cn"), QStringLiteral("a\nb") })
            QVERIFY(!parseNtp(true, bad, QStringLiteral("123"), QStringLiteral("1"), 13, s).isEmpty());
        QVERIFY(parseNtp(true, server, QStringLiteral("123"), QStringLiteral("1"), 0, s).isEmpty());
        QVERIFY(!parseNtp(true, QStringLiteral("other"), QStringLiteral("123"), QStringLiteral("1"), 33, s).isEmpty());
        // A refusal leaves the settings as they were.
        QCOMPARE(s.server, server);

        QCOMPARE(timeZoneIndex(QStringLiteral("UTC+05:45")), 9);
        QCOMPARE(timeZones()[9].minutesWest, -345);
        QCOMPARE(timeZoneIndex(QStringLiteral("UTC-12:00")), 32);
        QCOMPARE(timeZones()[32].minutesWest, 720);
        QCOMPARE(timeZoneIndex(QStringLiteral("UTC+05:15")), -1);
        QCOMPARE(deviceLanguages().size(), 32);
        QCOMPARE(deviceLanguages().indexOf(QStringLiteral("Dutch")), 31);
        for (int i = 0; i <= int(Item::Import); ++i) {
            Item back = Item::PcTime;
            QVERIFY(itemFromName(itemName(Item(i)), back));
            QCOMPARE(int(back), i);
        }
        QCOMPARE(defaultGroupFromName(QStringLiteral("network")), int(RestoreDefaultsRecord::Network));
        QCOMPARE(defaultGroupFromName(QStringLiteral("ipc")), int(RestoreDefaultsRecord::IpcConfig));
        QCOMPARE(defaultGroupFromName(QString()), -1);
    }

    void exportNamesNeverBecomePaths()
    {
        QTemporaryDir dir;
        const QDateTime when(QDate(2026, 12, 7), QTime(9, 41, 30));
        const QString plain = exportFilePath(dir.path(), QByteArray("V4.02.R11"), when);
        QCOMPARE(plain, dir.path() + QStringLiteral("/Cfg_V4.02.R11_12.07.09.41.cfg"));
        const QString hostile = exportFilePath(dir.path(), QByteArray("../../etc/\x01pass\\wd:*?\"<>|\0hidden", 34),
                                               when);
        QCOMPARE(QFileInfo(hostile).path(), dir.path());
        QCOMPARE(QFileInfo(hostile).fileName(), QStringLiteral("Cfg_....etcpasswd_12.07.09.41.cfg"));
        QCOMPARE(QFileInfo(exportFilePath(dir.path(), QByteArray("/\\\t"), when)).fileName(),
                 QStringLiteral("Cfg_device_12.07.09.41.cfg"));
        QCOMPARE(QFileInfo(exportFilePath(dir.path(), QByteArray(".."), when)).fileName(),
                 QStringLiteral("Cfg_device_12.07.09.41.cfg"));
        // A folder given with backslashes comes back with forward slashes.
        QVERIFY(!exportFilePath(QStringLiteral("C:\\cfg\\site"), QByteArray("v"), when).contains(QLatin1Char('\\')));
        // A second export within the minute does not overwrite the first.
        QFile first(plain);
        QVERIFY(first.open(QIODevice::WriteOnly));
        first.close();
        const QString second = exportFilePath(dir.path(), QByteArray("V4.02.R11"), when);
        QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("Cfg_V4.02.R11_12.07.09.41_2.cfg"));
        QFile f2(second);
        QVERIFY(f2.open(QIODevice::WriteOnly));
        f2.close();
        QVERIFY(exportFilePath(dir.path(), QByteArray("V4.02.R11"), when).endsWith(QStringLiteral("_3.cfg")));
    }

    void ntpReachesBothRecordsAndKeepsTheRest()
    {
        auto &s = fakesdk::state();
        s.configs[CmdNtp] = pattern(216, 1);
        s.configs[CmdTimeZone] = pattern(8, 2);
        ItemRequest req;
        req.item = Item::Ntp;
        QVERIFY(parseNtp(true, QStringLiteral("ntp.example"), QStringLiteral("1123"), QStringLiteral("30"),
                         timeZoneIndex(QStringLiteral("UTC+05:45")), req.ntp).isEmpty());
        const BatchRun r = run(req, targets(1));
        QVERIFY(r.ended);
        QCOMPARE(callTrace(), QStringLiteral("L G41 G112 S41 S112 O"));
        QCOMPARE(s.loginCalls.at(0).mode, 1);
        const QByteArray ntp = setRecordOf(CmdNtp);
        QCOMPARE(ntp.size(), 216);
        QCOMPARE(int(ntp[0]), 1);
        QCOMPARE(ntp.mid(4, 12), QByteArray("ntp.example\0", 12));
        QVERIFY(ntp.mid(4 + 11, 64 - 11) == QByteArray(53, '\0'));
        QCOMPARE(wordAt(ntp, 72), 1123);
        QCOMPARE(wordAt(ntp, 208), 30);
        QCOMPARE(wordAt(ntp, 212), 9);
        // Bytes the page does not own go back as read.
        const QByteArray read = pattern(216, 1);
        QCOMPARE(ntp.mid(1, 3), read.mid(1, 3));
        QCOMPARE(ntp.mid(76, 132), read.mid(76, 132));
        const QByteArray zone = setRecordOf(CmdTimeZone);
        QCOMPARE(zone.size(), 8);
        QCOMPARE(zone.left(4), pattern(8, 2).left(4));
        QCOMPARE(wordAt(zone, 4), -345);
        for (const fakesdk::GetCall &g : s.getCalls) {
            QCOMPARE(g.channel, -1);
            QCOMPARE(g.timeoutMs, 1000);
        }
        QCOMPARE(r.outcomes.size(), 1);
        QCOMPARE(r.outcomes[0].operation, int(ResultTexts::OpNTPSet));
        QCOMPARE(r.outcomes[0].code, 0);
        QCOMPARE(r.applied, 1);
        // Both sets are in the activity log, with what the device held before.
        const QVector<ActivityEntry> log = logEntries();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0].mac, QStringLiteral("02:00:00:00:00:10"));
        QCOMPARE(log[0].serial, QStringLiteral("S0"));
        QCOMPARE(log[0].address, QStringLiteral("127.0.0.10"));
        QVERIFY2(log[0].newValue.contains(QStringLiteral("ntp.example")), qPrintable(log[0].newValue));
        QVERIFY(log[0].newValue.contains(QStringLiteral("UTC+05:45")));
        QVERIFY(!log[0].oldValue.isEmpty());
        QVERIFY(log[1].newValue.contains(QStringLiteral("-345")));
    }

    void ntpSetRefusedSendsNoZone()
    {
        auto &s = fakesdk::state();
        s.configs[CmdNtp] = QByteArray(216, '\0');
        s.getResults[CmdTimeZone] = -1; // a failed read is not fatal
        s.configSetResults = { -1 };
        ItemRequest req;
        req.item = Item::Ntp;
        const BatchRun r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G41 G112 S41 O"));
        QCOMPARE(r.outcomes[0].code, -1);
        QCOMPARE(r.outcomes[0].operation, int(ResultTexts::OpNTPSet));
        // The zone record's result replaces the first when it is sent.
        fakesdk::reset();
        fakesdk::state().configSetResults = { 0, -10005 };
        const BatchRun r2 = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G41 G112 S41 S112 O"));
        QCOMPARE(r2.outcomes[0].code, -10005);
        // A device that took the NTP record but asks for a restart still
        // gets its zone; the time page restarts nothing.
        fakesdk::reset();
        fakesdk::state().configSetResults = { -11401, 0 };
        const BatchRun r3 = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G41 G112 S41 S112 O"));
        QCOMPARE(r3.outcomes[0].code, 0);
    }

    void clockItemsTakeRestartWithoutAReboot()
    {
        auto &s = fakesdk::state();
        s.configSetResults = { -11401, -11401 };
        ItemRequest req;
        req.item = Item::ManualTime;
        req.manualTime = ClockTime::fromDateTime(QDateTime(QDate(2025, 2, 3), QTime(4, 5, 6)));
        const BatchRun r = run(req, targets(2), 1);
        QCOMPARE(callTrace(), QStringLiteral("L S45 O L S45 O"));
        const QByteArray rec = setRecordOf(CmdSystemTime);
        QCOMPARE(rec.size(), 32);
        const int expected[] = { 2025, 2, 3, 0, 4, 5, 6, 0 };
        for (int i = 0; i < 8; ++i)
            QCOMPARE(wordAt(rec, 4 * i), expected[i]);
        QCOMPARE(s.configSetCalls[0].timeoutMs, 4000);
        QCOMPARE(s.configSetCalls[0].channel, -1);
        for (const DeviceOutcome &o : r.outcomes) {
            QCOMPARE(o.code, -11401);
            QVERIFY(isOkOutcome(o.code, o.operation));
        }
        QVERIFY(s.reboots.isEmpty());
        QCOMPARE(r.progress.last(), qMakePair(2, 2));
    }

    void formatAsksOnceThenSendsDutchNtsc()
    {
        auto &s = fakesdk::state();
        s.configs[CmdGeneral] = pattern(192, 3);
        s.configSetResults = { -11401, 0 };
        ItemRequest req;
        req.item = Item::Format;
        req.videoFormat = videoFormats().indexOf(QStringLiteral("NTSC"));
        req.language = deviceLanguages().indexOf(QStringLiteral("Dutch"));
        const BatchRun r = run(req, targets(2), 1);
        QCOMPARE(r.asked, 2);
        // Both log in before the question; the one that answered -11401 is
        // restarted after its set.
        QCOMPARE(callTrace(), QStringLiteral("L L G18 S18 R O G18 S18 O"));
        const QByteArray g = setRecordOf(CmdGeneral);
        QCOMPARE(wordAt(g, 116), 1);
        QCOMPARE(wordAt(g, 120), 31);
        QCOMPARE(g.left(116), pattern(192, 3).left(116));
        QCOMPARE(g.mid(124), pattern(192, 3).mid(124));
        QCOMPARE(r.applied, 2);
        QCOMPARE(r.outcomes.size(), 2);
        for (const DeviceOutcome &o : r.outcomes) {
            QCOMPARE(o.operation, int(ResultTexts::OpLanguageVideo));
            QVERIFY(isOkOutcome(o.code, o.operation));
        }
    }

    void askingFirstRefusesOnAFailedLoginAndOnNo()
    {
        auto &s = fakesdk::state();
        s.loginErrorByAddress["127.0.0.11"] = NETSDK_ERR_PASSWORD;
        ItemRequest req;
        req.item = Item::Services;
        BatchRun r = run(req, targets(3));
        QCOMPARE(r.asked, -1);
        QCOMPARE(r.refused, 1);
        QCOMPARE(r.applied, 0);
        QVERIFY(!r.cancelled);
        QVERIFY(s.configSetCalls.isEmpty());
        QVERIFY(s.getCalls.isEmpty());
        QCOMPARE(r.outcomes.size(), 3);
        for (const DeviceOutcome &o : r.outcomes) {
            const auto identity = [](const QString &key) { return key; };
            if (o.deviceIndex == 1) {
                QCOMPARE(o.operation, int(ResultTexts::OpLogin));
                QCOMPARE(o.code, int(NETSDK_ERR_PASSWORD));
                QCOMPARE(outcomeText(o, identity), QStringLiteral("Login: fail"));
            } else {
                QCOMPARE(o.code, int(CodeNotSent));
                QVERIFY(!isOkOutcome(o.code, o.operation));
                QCOMPARE(outcomeText(o, identity), QStringLiteral("Not sent"));
            }
        }
        QCOMPARE(s.logouts.size(), 2);

        fakesdk::reset();
        r = run(req, targets(3), 8, false);
        QCOMPARE(r.asked, 3);
        QCOMPARE(r.applied, 0);
        QVERIFY(r.outcomes.isEmpty());
        QVERIFY(fakesdk::state().configSetCalls.isEmpty());
        QCOMPARE(fakesdk::state().logouts.size(), 3);
    }

    void servicesKeepAnOnvifFailureVisible()
    {
        auto &s = fakesdk::state();
        s.configs[CmdOnvif] = pattern(64, 4);
        s.configs[CmdDhcp] = pattern(144, 5);
        s.configSetResults = { -1, 0 };
        ItemRequest req;
        req.item = Item::Services;
        req.services.onvif = false;
        req.services.dhcp = true;
        const BatchRun r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G96 S96 G37 S37 O"));
        QCOMPARE(wordAt(setRecordOf(CmdOnvif), 4), 0);
        QCOMPARE(setRecordOf(CmdOnvif).mid(8), pattern(64, 4).mid(8));
        QCOMPARE(wordAt(setRecordOf(CmdDhcp), 0), 1);
        QCOMPARE(setRecordOf(CmdDhcp).mid(4), pattern(144, 5).mid(4));
        const DeviceOutcome &o = r.outcomes.at(0);
        QCOMPARE(o.operation, int(ResultTexts::OpOnvif));
        QCOMPARE(o.code, -1);
        QCOMPARE(o.steps.size(), 2);
        QCOMPARE(o.steps[1].operation, int(ResultTexts::OpDhcp));
        QCOMPARE(o.steps[1].code, 0);
        const auto identity = [](const QString &key) { return key; };
        QCOMPARE(outcomeText(o, identity), QStringLiteral("Onvif: fail; DHCP: successful"));
        const QVector<ActivityEntry> log = logEntries();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0].operation, int(ResultTexts::OpOnvif));
        QCOMPARE(log[0].oldValue, QStringLiteral("on")); // word 4 of the pattern is nonzero
        QCOMPARE(log[0].newValue, QStringLiteral("off"));
        QCOMPARE(log[1].newValue, QStringLiteral("on"));
    }

    void restartComesOnceAfterTheLastSet()
    {
        auto &s = fakesdk::state();
        s.configs[CmdOnvif] = QByteArray(64, '\0');
        s.configs[CmdDhcp] = QByteArray(144, '\0');
        s.configSetResults = { -11401, -11401 };
        ItemRequest req;
        req.item = Item::Services;
        const BatchRun r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G96 S96 G37 S37 R O"));
        const DeviceOutcome &o = r.outcomes.at(0);
        QCOMPARE(o.operation, int(ResultTexts::OpDhcp));
        QVERIFY(isOkOutcome(o.code, o.operation));
        // A restart that fails leaves the settings waiting: that is a failure.
        fakesdk::reset();
        fakesdk::state().configs[CmdOnvif] = QByteArray(64, '\0');
        fakesdk::state().configs[CmdDhcp] = QByteArray(144, '\0');
        fakesdk::state().configSetResults = { 0, -11401 };
        fakesdk::state().rebootResult = 0;
        const BatchRun r2 = run(req, targets(1));
        QCOMPARE(r2.outcomes[0].operation, int(ResultTexts::OpReboot));
        QCOMPARE(r2.outcomes[0].code, -1);
    }

    void rebootByteZeroIsAFailure()
    {
        auto &s = fakesdk::state();
        s.rebootResult = 0;
        ItemRequest req;
        req.item = Item::Reboot;
        BatchRun r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L R O"));
        QCOMPARE(r.outcomes[0].operation, int(ResultTexts::OpReboot));
        QCOMPARE(r.outcomes[0].code, -1);
        QVERIFY(!isOkOutcome(r.outcomes[0].code, r.outcomes[0].operation));
        fakesdk::reset();
        r = run(req, targets(1));
        QVERIFY(ResultTexts::isSuccess(r.outcomes[0].code));
    }

    void restoreSendsTheCheckedGroups()
    {
        auto &s = fakesdk::state();
        s.configSetResults = { -10005 };
        ItemRequest req;
        req.item = Item::Defaults;
        req.groups.fill(true); // word 6 has no group and stays 0 all the same
        req.groups.fill(false);
        req.groups[RestoreDefaultsRecord::Network] = true;
        BatchRun r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L S33 O"));
        QByteArray rec = setRecordOf(CmdRestoreDefaults);
        QCOMPARE(rec.size(), 40);
        QCOMPARE(s.configSetCalls[0].channel, 0);
        for (int w = 0; w < 10; ++w)
            QCOMPARE(wordAt(rec, 4 * w), w == 4 ? 1 : 0);
        QCOMPARE(r.outcomes[0].operation, int(ResultTexts::OpResetWithNetwork));
        QCOMPARE(ResultTexts::resultKey(r.outcomes[0].code, r.outcomes[0].operation), QStringLiteral("HaveModify"));
        QVERIFY(isOkOutcome(r.outcomes[0].code, r.outcomes[0].operation));

        fakesdk::reset();
        fakesdk::state().configSetResults = { -10005 };
        req.groups.fill(true);
        req.groups[RestoreDefaultsRecord::Network] = false;
        r = run(req, targets(1));
        rec = setRecordOf(CmdRestoreDefaults);
        for (int w = 0; w < 10; ++w)
            QCOMPARE(wordAt(rec, 4 * w), (w == 4 || w == 6) ? 0 : 1);
        QCOMPARE(r.outcomes[0].operation, int(ResultTexts::OpReset));
        QVERIFY(!isOkOutcome(r.outcomes[0].code, r.outcomes[0].operation));
    }

    void lightModeFollowsTheCapabilities()
    {
        auto &s = fakesdk::state();
        QByteArray caps(36, '\0');
        caps[6] = 3;
        s.configs[CmdLightCaps] = caps;
        ItemRequest req;
        req.item = Item::Light;
        req.light.type = LightModeRecord::Dual;
        req.light.photosensitive = 1;
        req.light.flashMode = 1;
        req.light.lightTime = 25;
        req.light.brightness = 70;
        req.light.dimming = 1;
        req.light.warmControl = 1;
        req.light.infraredControl = 1;
        req.light.detection = 1;
        BatchRun r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G135 O"));
        QCOMPARE(r.outcomes[0].code, -3);
        QCOMPARE(r.outcomes[0].operation, int(ResultTexts::OpLightType));

        fakesdk::reset();
        caps[6] = 7;
        fakesdk::state().configs[CmdLightCaps] = caps;
        r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G135 S172 O"));
        const QByteArray mode = setRecordOf(CmdLightMode);
        QCOMPARE(mode.size(), 260);
        QCOMPARE(fakesdk::state().configSetCalls[0].channel, 0);
        QCOMPARE(mode.left(9), QByteArray("\x02\x01\x01\x19\x46\x01\x01\x01\x01", 9));
        QCOMPARE(mode.mid(9), QByteArray(251, '\0'));
        QCOMPARE(r.outcomes[0].code, 0);

        // A device that cannot say what it has gets the mode all the same,
        // and the set's result is the mark.
        fakesdk::reset();
        fakesdk::state().getResults[CmdLightCaps] = -1;
        r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G135 S172 O"));
        QCOMPARE(r.outcomes[0].code, 0);
        QCOMPARE(r.outcomes[0].steps.size(), 2);
        QVERIFY(r.outcomes[0].steps[0].advisory);
        QVERIFY(!r.outcomes[0].detail.isEmpty());
    }

    void channelNameIsBoundedAndBothSetsCount()
    {
        auto &s = fakesdk::state();
        s.configs[CmdChannelNames] = pattern(4096, 6);
        s.configs[CmdOsd] = pattern(348, 7);
        s.configSetResults = { -1, 0 };
        ItemRequest req;
        req.item = Item::ChannelName;
        req.channel.name = QString(70, QLatin1Char('x'));
        req.channel.showName = false;
        req.channel.showTime = true;
        const BatchRun r = run(req, targets(1));
        QCOMPARE(callTrace(), QStringLiteral("L G31 G30 S31 S30 O"));
        QCOMPARE(s.getCalls[1].channel, 0);
        QCOMPARE(s.configSetCalls[1].channel, 0);
        const QByteArray names = setRecordOf(CmdChannelNames);
        QCOMPARE(names.left(64), QByteArray(63, 'x') + QByteArray(1, '\0'));
        QCOMPARE(names.mid(64), pattern(4096, 6).mid(64)); // the other channels' names
        const QByteArray osd = setRecordOf(CmdOsd);
        QCOMPARE(int(osd[249]), 0);
        QCOMPARE(int(osd[277]), 1);
        QCOMPARE(osd.left(249), pattern(348, 7).left(249));
        const DeviceOutcome &o = r.outcomes[0];
        // The second set succeeded, but the names were refused: the mark says so.
        QCOMPARE(o.code, -1);
        QCOMPARE(o.operation, int(ResultTexts::OpChannelName));
        QCOMPARE(o.steps.size(), 2);
        QVERIFY(o.detail.contains(QStringLiteral("63")));
    }

    void channelNameCutKeepsWholeCharacters()
    {
        auto &s = fakesdk::state();
        s.configs[CmdChannelNames] = QByteArray(4096, '\0');
        s.configs[CmdOsd] = QByteArray(348, '\0');
        ItemRequest req;
        req.item = Item::ChannelName;
        // In UTF-8 each is three bytes: 21 fit in 63 bytes, a 22nd would be split.
        req.channel.name = QString(70, QChar(0x901a));
        const BatchRun r = run(req, targets(1));
        const QByteArray name = setRecordOf(CmdChannelNames).left(64);
        const QByteArray expected = QString(63 / QString(QChar(0x901a)).toLocal8Bit().size(), QChar(0x901a)).toLocal8Bit();
        QCOMPARE(name.left(name.indexOf('\0')), expected);
        QVERIFY(!r.outcomes[0].detail.isEmpty());
        QCOMPARE(r.outcomes[0].code, 0);
    }

    void exportTakesTheFirstDeviceThatLogsIn()
    {
        QTemporaryDir dir;
        auto &s = fakesdk::state();
        s.loginErrorByAddress["127.0.0.10"] = NETSDK_ERR_TIMEOUT;
        s.configs[CmdConfigExport] = pattern(1000, 8);
        s.getResults[CmdConfigExport] = 1000;
        s.loginInfo = fakesdk::makeLoginInfo(1, 2);
        std::memcpy(s.loginInfo.bytes, "V1/../x", 8);
        ItemRequest req;
        req.item = Item::Export;
        req.exportDirectory = dir.path();
        const BatchRun r = run(req, targets(3));
        QCOMPARE(callTrace(), QStringLiteral("L L G51 O"));
        QCOMPARE(s.loginCalls.size(), 2);
        QCOMPARE(s.getCalls[0].bufferSize, 65536);
        QCOMPARE(s.getCalls[0].timeoutMs, 12000);
        QCOMPARE(r.outcomes.size(), 2);
        QCOMPARE(r.outcomes[0].code, int(NETSDK_ERR_TIMEOUT));
        QCOMPARE(r.outcomes[0].operation, int(ResultTexts::OpLogin));
        const DeviceOutcome &o = r.outcomes[1];
        QCOMPARE(o.deviceIndex, 1);
        QCOMPARE(o.operation, int(ResultTexts::OpExport));
        QVERIFY(ResultTexts::isSuccess(o.code));
        QFile file(o.detail);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), 65536);
        QCOMPARE(bytes.left(1000), pattern(1000, 8));
        QCOMPARE(bytes.mid(1000), QByteArray(65536 - 1000, '\0'));
        QCOMPARE(QFileInfo(o.detail).path(), dir.path());
        QVERIFY(QFileInfo(o.detail).fileName().startsWith(QStringLiteral("Cfg_V1..x_")));
        QCOMPARE(r.applied, 1);
    }

    void exportThatCannotBeWrittenIsAFailure()
    {
        QTemporaryDir dir;
        auto &s = fakesdk::state();
        s.configs[CmdConfigExport] = pattern(100, 9);
        s.getResults[CmdConfigExport] = 100;
        ItemRequest req;
        req.item = Item::Export;
        req.exportDirectory = dir.filePath(QStringLiteral("missing/folder"));
        BatchRun r = run(req, targets(1));
        QCOMPARE(r.outcomes[0].code, int(CodeFileNotWritten));
        QVERIFY(!isOkOutcome(r.outcomes[0].code, r.outcomes[0].operation));
        QVERIFY(r.outcomes[0].detail.isEmpty());
        // A read the device refused writes no file.
        fakesdk::reset();
        fakesdk::state().getResults[CmdConfigExport] = -1;
        req.exportDirectory = dir.path();
        r = run(req, targets(1));
        QCOMPARE(r.outcomes[0].code, -1);
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }

    void importSendsAtMostOneImageAndRestarts()
    {
        auto &s = fakesdk::state();
        s.configSetResults = { -11401, 0 };
        ItemRequest req;
        req.item = Item::Import;
        req.importImage = pattern(70000, 10);
        req.importFile = QStringLiteral("/somewhere/site.cfg");
        const BatchRun r = run(req, targets(2), 1);
        QCOMPARE(callTrace(), QStringLiteral("L S52 R O L S52 O"));
        QCOMPARE(s.configSetCalls[0].record, pattern(65536, 10));
        QCOMPARE(s.configSetCalls[0].timeoutMs, 2000);
        QCOMPARE(s.configSetCalls[0].channel, -1);
        for (const DeviceOutcome &o : r.outcomes) {
            QCOMPARE(o.operation, int(ResultTexts::OpImport));
            QVERIFY(isOkOutcome(o.code, o.operation));
        }
        QVERIFY(logEntries().at(0).newValue.startsWith(QStringLiteral("site.cfg")));
    }

    void poolIsBoundedAndStartsInOrder()
    {
        auto &s = fakesdk::state();
        s.loginDelayMs = 30;
        s.loginErrorByAddress["127.0.0.13"] = -1; // pattern A goes on past a failed login
        ItemRequest req;
        req.item = Item::PcTime;
        BatchRun r = run(req, targets(12), 3);
        QCOMPARE(s.maxActiveLogins.load(), 3);
        QCOMPARE(r.outcomes.size(), 12);
        QCOMPARE(r.applied, 11);
        QCOMPARE(s.configSetCalls.size(), 11);
        QCOMPARE(r.progress.size(), 12);
        for (int i = 0; i < 12; ++i)
            QCOMPARE(r.progress[i], qMakePair(i + 1, 12));

        fakesdk::reset();
        fakesdk::state().loginDelayMs = 5;
        r = run(req, targets(6), 1);
        QCOMPARE(fakesdk::state().maxActiveLogins.load(), 1);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(fakesdk::state().loginCalls[i].address, target(i).ip);
            QCOMPARE(r.outcomes[i].deviceIndex, i);
        }
    }

    void cancelStopsBeforeTheNextDevice()
    {
        fakesdk::state().loginDelayMs = 40;
        ItemRequest req;
        req.item = Item::PcTime;
        SystemBatch batch;
        batch.setJobs(1);
        std::atomic<int> reported { 0 };
        QObject::connect(&batch, &SystemBatch::deviceFinished, &batch, [&](const DeviceOutcome &) {
            if (++reported == 2)
                batch.cancel();
        }, Qt::DirectConnection);
        bool cancelled = false;
        QObject::connect(&batch, &SystemBatch::finished, &batch, [&](int, bool c) { cancelled = c; },
                         Qt::DirectConnection);
        QVERIFY(batch.start(req, targets(10)));
        QVERIFY(!batch.start(req, targets(10))); // one batch at a time
        QVERIFY(batch.waitForFinished(10000));
        QVERIFY(!batch.isRunning());
        QVERIFY(cancelled);
        QCOMPARE(reported.load(), 2);
        QCOMPARE(fakesdk::state().loginCalls.size(), 2);
        QCOMPARE(fakesdk::state().logouts.size(), 2);
        // The batch can run again after a cancel.
        fakesdk::reset();
        QVERIFY(batch.start(req, targets(1)));
        QVERIFY(batch.waitForFinished(10000));
        QCOMPARE(fakesdk::state().configSetCalls.size(), 1);
    }

    void cancelWhileAskingSendsNothing()
    {
        ItemRequest req;
        req.item = Item::Format;
        SystemBatch batch;
        QObject::connect(&batch, &SystemBatch::confirmationNeeded, &batch, [&](int) { batch.cancel(); },
                         Qt::DirectConnection);
        bool cancelled = false;
        int applied = -1;
        QObject::connect(&batch, &SystemBatch::finished, &batch, [&](int a, bool c) {
            applied = a;
            cancelled = c;
        }, Qt::DirectConnection);
        QVERIFY(batch.start(req, targets(4)));
        QVERIFY(batch.waitForFinished(10000));
        QVERIFY(cancelled);
        QCOMPARE(applied, 0);
        QVERIFY(fakesdk::state().configSetCalls.isEmpty());
        QCOMPARE(fakesdk::state().logouts.size(), 4);
    }

    void nothingToDoStartsNothing()
    {
        SystemBatch batch;
        QVERIFY(!batch.start(ItemRequest(), {}));
        QVERIFY(!batch.isRunning());
        QVERIFY(fakesdk::state().loginCalls.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSystemBatch)
#include "tst_systembatch.moc"
