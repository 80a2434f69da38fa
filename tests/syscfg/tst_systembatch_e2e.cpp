// The system page's batch engine end to end: the real network SDK against an
// emulated fleet in-process, on loopback.

#include <QtTest>

#include <QTemporaryDir>

#include <mutex>
#include <optional>

#include "ActivityLog.h"
#include "ConfigRecords.h"
#include "EmulatorFixture.h"
#include "Fleet.h"
#include "ResultTexts.h"
#include "SystemBatch.h"
#include "SystemItems.h"

using namespace scoutrix;
using namespace scoutrix::syscfg;

namespace {

struct BatchRun
{
    QVector<DeviceOutcome> outcomes;
    int applied = -1;
    bool cancelled = false;
    int asked = -1;
    int refused = -1;
    bool ended = false;

    const DeviceOutcome *of(int index) const
    {
        for (const DeviceOutcome &o : outcomes) {
            if (o.deviceIndex == index)
                return &o;
        }
        return nullptr;
    }
};

} // namespace

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

    BatchRun run(const ItemRequest &req, const QVector<BatchTarget> &targets, int jobs = SystemBatch::DefaultJobs,
                 std::optional<bool> answer = true, std::function<void(SystemBatch &, const DeviceOutcome &)> each = {})
    {
        BatchRun r;
        std::mutex m;
        SystemBatch batch;
        batch.setJobs(jobs);
        QObject::connect(&batch, &SystemBatch::deviceFinished, &batch, [&](const DeviceOutcome &o) {
            std::lock_guard<std::mutex> lock(m);
            r.outcomes.append(o);
            if (each)
                each(batch, o);
        }, Qt::DirectConnection);
        QObject::connect(&batch, &SystemBatch::confirmationNeeded, &batch, [&](int n) {
            r.asked = n;
            if (answer)
                batch.confirm(*answer);
        }, Qt::DirectConnection);
        QObject::connect(&batch, &SystemBatch::refusedForLogin, &batch, [&](int n) { r.refused = n; },
                         Qt::DirectConnection);
        QObject::connect(&batch, &SystemBatch::finished, &batch, [&](int applied, bool cancelled) {
            r.applied = applied;
            r.cancelled = cancelled;
        }, Qt::DirectConnection);
        if (batch.start(req, targets))
            r.ended = batch.waitForFinished(60000);
        return r;
    }

    template<typename Record>
    Record recordOf(int device, int32_t command, int32_t channel)
    {
        Record r;
        std::memset(&r, 0, sizeof r);
        std::vector<uint8_t> bytes;
        if (m_emu->record(device, command, channel, bytes) && bytes.size() == sizeof r)
            std::memcpy(&r, bytes.data(), sizeof r);
        return r;
    }

    // Waits until a rebooted device answers again.
    bool waitReachable(int device, int timeoutMs = 15000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            const devsim::DeviceSnapshot d = m_emu->device(device);
            if (!d.rebooting && d.reachable)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_logDir.isValid());
        ActivityLog::instance().setDirectory(m_logDir.path());
        m_fleet = devsim::generatedFleet(8);
        m_fleet.devices[6].users[0].password = "other";
        for (devsim::DeviceSpec &d : m_fleet.devices)
            d.rebootMs = 500;
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
        QVERIFY(r.of(0)->code == NETSDK_ERR_NEED_REBOOT || r.of(1)->code == NETSDK_ERR_NEED_REBOOT);
        QVERIFY(waitReachable(0));
        QVERIFY(waitReachable(1));
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
        QTRY_VERIFY_WITH_TIMEOUT(m_emu->device(2).rebooting || !m_emu->device(2).reachable, 2000);
        QVERIFY(waitReachable(2));
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
        QVERIFY(waitReachable(3));
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
