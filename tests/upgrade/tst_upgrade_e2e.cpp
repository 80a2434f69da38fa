// The upgrade engine against an emulated fleet on loopback: what is refused
// before a byte is sent, what a device that reboots into its new firmware
// looks like, what a power loss or a device that stays away looks like, and
// how many transfers are in flight at once.

#include <QtTest>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include "ActivityLog.h"
#include "EmulatorFixture.h"
#include "FirmwareFile.h"
#include "ResultTexts.h"
#include "UpgradeBatch.h"

using namespace scoutrix;
using namespace scoutrix::upgrade;
using devsim::Fleet;

namespace {

constexpr const char *kPassword = "739204";

// Everything a batch reported, gathered from its worker threads.
struct Watch
{
    std::mutex mutex;
    std::map<int, UpgradeOutcome> outcomes; // by device index
    std::map<int, std::vector<UpgradeProgress>> progress;
    std::vector<bool> running;
    int underway = 0;
    int mostUnderway = 0;
    int progressAfterOutcome = 0;

    explicit Watch(UpgradeBatch &b)
    {
        QObject::connect(&b, &UpgradeBatch::progress, &b, [this](const UpgradeProgress &p) {
            std::lock_guard<std::mutex> lock(mutex);
            if (outcomes.count(p.deviceIndex))
                ++progressAfterOutcome;
            auto &list = progress[p.deviceIndex];
            if (p.stage == Stage::Preparing) {
                ++underway;
                mostUnderway = std::max(mostUnderway, underway);
            }
            list.push_back(p);
        }, Qt::DirectConnection);
        QObject::connect(&b, &UpgradeBatch::deviceFinished, &b, [this](const UpgradeOutcome &o) {
            std::lock_guard<std::mutex> lock(mutex);
            outcomes[o.deviceIndex] = o;
            if (progress.count(o.deviceIndex))
                --underway;
        }, Qt::DirectConnection);
        QObject::connect(&b, &UpgradeBatch::runningChanged, &b, [this](bool on) {
            std::lock_guard<std::mutex> lock(mutex);
            running.push_back(on);
        }, Qt::DirectConnection);
    }
    UpgradeOutcome outcome(int index)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return outcomes[index];
    }
    bool sawStage(int index, Stage stage)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const UpgradeProgress &p : progress[index]) {
            if (p.stage == stage)
                return true;
        }
        return false;
    }
};

Fleet quickFleet(int count)
{
    Fleet f = devsim::generatedFleet(count);
    for (auto &d : f.devices) {
        d.flashMs = 300;
        d.rebootMs = 600;
    }
    return f;
}

UpgradeTarget targetOf(const devsim::Emulator &e, int index, const std::string &file, const Fleet &f)
{
    const auto d = e.device(index);
    UpgradeTarget t;
    t.deviceIndex = index;
    t.mac = f.devices[std::size_t(index)].mac;
    t.ip = fixture::ip(d.ip);
    t.port = d.port;
    t.user = "admin";
    t.password = kPassword;
    t.serial = f.devices[std::size_t(index)].serial;
    t.model = f.devices[std::size_t(index)].model;
    t.file = file;
    return t;
}

UpgradeSettings quickSettings(int jobs = 4, int comebackS = 15)
{
    UpgradeSettings s;
    s.jobs = jobs;
    s.comebackS = comebackS;
    s.pollMs = 200;
    s.searchTimeoutMs = 300;
    return s;
}

std::string writeFirmware(const QTemporaryDir &dir, const char *name, const std::vector<std::string> &models,
                          const std::string &version, std::size_t size = 256 * 1024)
{
    firmware::Header h;
    h.models = models;
    h.version = version;
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::string why;
    if (!firmware::writeFile(path, h, firmware::fillerPayload(size), why))
        qWarning("%s", why.c_str());
    return path;
}

// Keys stand for the texts: a test reads which text was chosen.
QString keyOnly(const QString &key) { return key; }

} // namespace

class TestUpgradeE2e : public QObject
{
    Q_OBJECT

    QTemporaryDir m_activity;

private slots:
    void initTestCase()
    {
        QVERIFY(m_activity.isValid());
        ActivityLog::instance().setDirectory(m_activity.path());
        qputenv("SCOUTRIX_CACHE_DIR", m_activity.filePath(QStringLiteral("cache")).toUtf8());
    }

    void mixedModelsOneRefusedForItsModel()
    {
        const Fleet f = quickFleet(3);
        auto emu = fixture::start(f);
        QVERIFY(emu);
        QTemporaryDir dir;
        const std::string fw = writeFirmware(dir, "fw.bin", { f.devices[0].model, f.devices[2].model }, "V9.0.0 e2e");
        UpgradeBatch batch;
        batch.setSettings(quickSettings());
        batch.setTextLookup(keyOnly);
        Watch w(batch);
        const QVector<int> tickets
            = batch.enqueue({ targetOf(*emu, 0, fw, f), targetOf(*emu, 1, fw, f), targetOf(*emu, 2, fw, f) });
        QCOMPARE(tickets.size(), 3);
        QVERIFY(tickets[0] > 0 && tickets[1] > 0 && tickets[2] > 0);
        QVERIFY(batch.waitForFinished(60000));

        for (int i : { 0, 2 }) {
            const UpgradeOutcome o = w.outcome(i);
            QCOMPARE(o.code, int(CodeUpgradeOk));
            QCOMPARE(o.version, std::string("V9.0.0 e2e"));
            QCOMPARE(o.oldVersion, f.devices[std::size_t(i)].version);
            QCOMPARE(emu->device(i).version, std::string("V9.0.0 e2e"));
            QVERIFY(w.sawStage(i, Stage::Sending));
            QVERIFY(w.sawStage(i, Stage::Writing));
            QVERIFY(w.sawStage(i, Stage::Verifying));
        }
        const UpgradeOutcome refused = w.outcome(1);
        QCOMPARE(refused.code, int(CodeWrongModel));
        QVERIFY(refused.text.startsWith(QStringLiteral("Upgrade.WrongModel")));
        QVERIFY(!w.sawStage(1, Stage::Sending));
        QCOMPARE(emu->device(1).version, f.devices[1].version);
        QCOMPARE(w.progressAfterOutcome, 0);
        QCOMPARE(w.running, (std::vector<bool> { true, false }));

        // The activity log names old and new versions, for the devices that
        // were sent something only.
        int logged = 0;
        for (const ActivityEntry &e : ActivityLog::instance().entries(QDate::currentDate())) {
            if (e.operation != ResultTexts::OpUpgrade || e.newValue != QLatin1String("V9.0.0 e2e"))
                continue;
            ++logged;
            QVERIFY(e.mac != QString::fromStdString(f.devices[1].mac));
            QCOMPARE(e.result, int(CodeUpgradeOk));
            QVERIFY(!e.oldValue.isEmpty());
        }
        QCOMPARE(logged, 2);
    }

    // A power loss while writing, a device that stays away longer than the
    // batch waits, and files that must not be sent at all.
    void failuresTellTheTruth()
    {
        Fleet f = quickFleet(4);
        f.devices[0].faults.powerLossAtPercent = 40;
        f.devices[1].rebootMs = 6000;
        auto emu = fixture::start(f);
        QVERIFY(emu);
        QTemporaryDir dir;
        std::vector<std::string> models;
        for (const auto &d : f.devices)
            models.push_back(d.model);
        const std::string fw = writeFirmware(dir, "fw.bin", models, "V9.1.0 e2e");
        // The same firmware with its last byte missing, and a text file.
        const std::string cut = dir.filePath(QStringLiteral("cut.bin")).toStdString();
        QVERIFY(QFile::copy(QString::fromStdString(fw), QString::fromStdString(cut)));
        QVERIFY(QFile::resize(QString::fromStdString(cut), QFileInfo(QString::fromStdString(fw)).size() - 1));
        const std::string text = dir.filePath(QStringLiteral("notes.txt")).toStdString();
        {
            QFile t(QString::fromStdString(text));
            QVERIFY(t.open(QIODevice::WriteOnly));
            t.write("not firmware\n");
        }

        UpgradeBatch batch;
        batch.setSettings(quickSettings(4, 3));
        batch.setTextLookup(keyOnly);
        Watch w(batch);
        batch.enqueue({ targetOf(*emu, 0, fw, f), targetOf(*emu, 1, fw, f), targetOf(*emu, 2, cut, f),
                        targetOf(*emu, 3, text, f) });
        QVERIFY(batch.waitForFinished(60000));

        const UpgradeOutcome lost = w.outcome(0);
        QCOMPARE(lost.code, int(CodeOldVersion));
        QCOMPARE(lost.version, f.devices[0].version);
        QVERIFY(lost.text.startsWith(QStringLiteral("Upgrade.OldVersion")));
        QCOMPARE(emu->device(0).version, f.devices[0].version);

        QCOMPARE(w.outcome(1).code, int(CodeNoComeback));
        QCOMPARE(outcomeText(w.outcome(1), 3, [](const QString &k) {
                     return k == QLatin1String("Upgrade.NoComeback") ? QStringLiteral("not back in %1 s") : k;
                 }),
                 QStringLiteral("not back in 3 s"));

        for (int i : { 2, 3 }) {
            QCOMPARE(w.outcome(i).code, int(CodeNotFirmware));
            QVERIFY(!w.sawStage(i, Stage::Sending));
            QCOMPARE(emu->device(i).version, f.devices[std::size_t(i)].version);
        }
    }

    void refusedLoginsAreFailures()
    {
        Fleet f = quickFleet(2);
        f.devices[1].faults.busy = true;
        auto emu = fixture::start(f);
        QVERIFY(emu);
        QTemporaryDir dir;
        const std::string fw = writeFirmware(dir, "fw.bin", { f.devices[0].model, f.devices[1].model }, "V9.2");
        UpgradeTarget wrongPassword = targetOf(*emu, 0, fw, f);
        wrongPassword.password = "nope";
        UpgradeBatch batch;
        batch.setSettings(quickSettings());
        batch.setTextLookup([](const QString &k) {
            return k == QLatin1String("Upgrade.LoginError") ? QStringLiteral("login error %1") : k;
        });
        Watch w(batch);
        batch.enqueue({ wrongPassword, targetOf(*emu, 1, fw, f) });
        QVERIFY(batch.waitForFinished(30000));
        for (int i : { 0, 1 }) {
            const UpgradeOutcome o = w.outcome(i);
            QCOMPARE(o.operation, int(ResultTexts::OpLogin));
            QVERIFY2(o.code < 0, qPrintable(QString::number(o.code))); // "system busy" (7) is no success
            QVERIFY(!o.ok());
        }
        // The busy device's own reason stays readable.
        QCOMPARE(w.outcome(1).deviceStatus, int(NETSDK_LOGIN_SYSTEM_BUSY));
        QVERIFY2(w.outcome(1).text.endsWith(QLatin1String("(login error 7)")), qPrintable(w.outcome(1).text));
    }

    // Transfers in flight stay within the pool, a device is never queued
    // twice, and cancelling drops what has not started.
    void boundedQueueAndCancel()
    {
        const Fleet f = quickFleet(6);
        auto emu = fixture::start(f);
        QVERIFY(emu);
        QTemporaryDir dir;
        std::vector<std::string> models;
        for (const auto &d : f.devices)
            models.push_back(d.model);
        const std::string fw = writeFirmware(dir, "fw.bin", models, "V9.3.0 e2e");
        UpgradeBatch batch;
        batch.setSettings(quickSettings(2));
        Watch w(batch);
        QVector<UpgradeTarget> all;
        for (int i = 0; i < 5; ++i)
            all.append(targetOf(*emu, i, fw, f));
        const QVector<int> tickets = batch.enqueue(all);
        QCOMPARE(std::set<int>(tickets.begin(), tickets.end()).size(), std::size_t(5));
        // Already under way or queued: refused.
        QCOMPARE(batch.enqueue({ targetOf(*emu, 0, fw, f) }), QVector<int> { 0 });
        QVERIFY(batch.isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(w.sawStage(0, Stage::Writing) || w.sawStage(1, Stage::Writing), 20000);
        batch.cancel();
        QVERIFY(batch.waitForFinished(60000));
        QVERIFY(!batch.isRunning());
        QCOMPARE(w.mostUnderway, 2);
        int ok = 0, cancelled = 0;
        for (int i = 0; i < 5; ++i) {
            const UpgradeOutcome o = w.outcome(i);
            if (o.code == CodeUpgradeOk)
                ++ok;
            else if (o.code == CodeCancelled)
                ++cancelled;
        }
        QCOMPARE(ok + cancelled, 5);
        QVERIFY(ok >= 2);
        QVERIFY(cancelled >= 1);
        QCOMPARE(w.running.front(), true);
        QCOMPARE(w.running.back(), false);
        // Once idle, the same device may be upgraded again.
        QVERIFY(batch.enqueue({ targetOf(*emu, 5, fw, f) }).first() > 0);
        QVERIFY(batch.waitForFinished(30000));
        QCOMPARE(w.outcome(5).code, int(CodeUpgradeOk));
    }

    // A device queued while every worker is busy with a long upgrade gets a
    // worker of its own rather than waiting for that upgrade to end.
    void aDeviceQueuedLaterStartsAtOnce()
    {
        Fleet f = quickFleet(2);
        f.devices[0].flashMs = 8000;
        auto emu = fixture::start(f);
        QVERIFY(emu);
        QTemporaryDir dir;
        const std::string fw = writeFirmware(dir, "fw.bin", { f.devices[0].model, f.devices[1].model }, "V9.5");
        UpgradeBatch batch;
        batch.setSettings(quickSettings());
        Watch w(batch);
        batch.enqueue({ targetOf(*emu, 0, fw, f) });
        QTRY_VERIFY_WITH_TIMEOUT(w.sawStage(0, Stage::Writing), 10000);
        batch.enqueue({ targetOf(*emu, 1, fw, f) });
        QTRY_VERIFY_WITH_TIMEOUT(w.outcome(1).code == CodeUpgradeOk, 6000);
        QVERIFY(!w.sawStage(0, Stage::Verifying)); // the first is still writing
        QVERIFY(batch.waitForFinished(60000));
        QCOMPARE(w.outcome(0).code, int(CodeUpgradeOk));
    }

    // A picture becomes a logo package for the board it goes to: squashfs for
    // one, cramfs for another; one too large for a small area is refused
    // with the builder's own message and nothing is sent.
    void logoPackagesEndToEnd()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("mksquashfs")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("mkfs.cramfs")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("mkimage")).isEmpty())
            QSKIP("packing tools missing (scripts/deps.sh installs them)");
        const Fleet f = quickFleet(3); // squashfs large, cramfs, squashfs small
        auto emu = fixture::start(f);
        QVERIFY(emu);
        QTemporaryDir dir;
        QImage small(64, 48, QImage::Format_RGB32);
        small.fill(Qt::darkCyan);
        const QString logo = dir.filePath(QStringLiteral("boot.bmp"));
        QVERIFY(small.save(logo, "BMP"));
        // Noise does not compress: too large for the small area.
        QImage noise(400, 300, QImage::Format_RGB32);
        QRandomGenerator gen(7);
        for (int y = 0; y < noise.height(); ++y) {
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, gen.generate());
        }
        const QString big = dir.filePath(QStringLiteral("noise.bmp"));
        QVERIFY(noise.save(big, "BMP"));

        UpgradeBatch batch;
        batch.setSettings(quickSettings());
        batch.setTextLookup(keyOnly);
        Watch w(batch);
        batch.enqueue({ targetOf(*emu, 0, logo.toStdString(), f), targetOf(*emu, 1, logo.toStdString(), f),
                        targetOf(*emu, 2, big.toStdString(), f) });
        QVERIFY(batch.waitForFinished(90000));
        QCOMPARE(w.outcome(0).code, int(CodeUpgradeOk));
        QCOMPARE(w.outcome(1).code, int(CodeUpgradeOk));
        QVERIFY(QString::fromStdString(emu->device(0).logo).startsWith(QLatin1String("squashfs ")));
        QVERIFY(QString::fromStdString(emu->device(1).logo).startsWith(QLatin1String("cramfs ")));
        QCOMPARE(emu->device(0).version, f.devices[0].version);

        const UpgradeOutcome over = w.outcome(2);
        QCOMPARE(over.code, int(CodeLogoFailed));
        QVERIFY2(over.text.contains(QLatin1String("Upgrade.OverSize")), qPrintable(over.text));
        QVERIFY(!w.sawStage(2, Stage::Sending));
        QVERIFY(emu->device(2).logo.empty());
    }

    // The headless twin: the same engine, its JSON fields and exit codes.
    void cliBatchUpgrade()
    {
        const Fleet f = quickFleet(3);
        auto emu = fixture::start(f);
        QVERIFY(emu);
        QTemporaryDir dir;
        const std::string fw = writeFirmware(dir, "fw.bin", { f.devices[0].model, f.devices[1].model }, "V9.4.0 cli");
        const QString discovery = QString::fromStdString(net::endpointText(emu->discoveryEndpoints().front()));
        auto run = [&](const QStringList &args, QByteArray *out = nullptr, QByteArray *err = nullptr) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("SCOUTRIX_ACTIVITY_DIR"), m_activity.path());
            env.insert(QStringLiteral("SCOUTRIX_PASSWORD"), QString::fromLatin1(kPassword));
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(SCOUTRIX_CLI), QStringList { QStringLiteral("--discovery"), discovery,
                                                                QStringLiteral("batch"), QStringLiteral("upgrade") }
                                                      + args);
            if (!p.waitForFinished(90000))
                return -1;
            if (out)
                *out = p.readAllStandardOutput();
            if (err)
                *err = p.readAllStandardError();
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const QString file = QString::fromStdString(fw);
        const QString ip0 = QString::fromStdString(fixture::ip(emu->device(0).ip));
        const QString ip2 = QString::fromStdString(fixture::ip(emu->device(2).ip));
        // Refused before anything is searched for or sent.
        QCOMPARE(run({ QStringLiteral("--all") }), 2);
        QCOMPARE(run({ QStringLiteral("--file"), file, QStringLiteral("--type"), QStringLiteral("3"), ip0 }), 2);
        QCOMPARE(run({ QStringLiteral("--file"), file, QStringLiteral("--all"), ip0 }), 2);
        QCOMPARE(run({ QStringLiteral("--file"), dir.filePath(QStringLiteral("missing.bin")), ip0 }), 6);
        QCOMPARE(emu->device(0).version, f.devices[0].version);

        QByteArray out, err;
        QCOMPARE(run({ QStringLiteral("--file"), file, QStringLiteral("--json"), QStringLiteral("--comeback"),
                       QStringLiteral("20"), ip2, ip0 },
                     &out, &err),
                 1);
        const QJsonArray list = QJsonDocument::fromJson(out).array();
        QCOMPARE(list.size(), 2);
        const QJsonObject refused = list[0].toObject(), done = list[1].toObject();
        QStringList keys = done.keys();
        keys.sort();
        QCOMPARE(keys, (QStringList { QStringLiteral("code"), QStringLiteral("ip"), QStringLiteral("mac"),
                                      QStringLiteral("text"), QStringLiteral("version") }));
        QCOMPARE(refused.value(QStringLiteral("ip")).toString(), ip2);
        QCOMPARE(refused.value(QStringLiteral("code")).toInt(), int(CodeWrongModel));
        QVERIFY(refused.value(QStringLiteral("text")).toString().contains(QLatin1String("not for this model")));
        QCOMPARE(done.value(QStringLiteral("ip")).toString(), ip0);
        QCOMPARE(done.value(QStringLiteral("mac")).toString(), QString::fromStdString(f.devices[0].mac));
        QCOMPARE(done.value(QStringLiteral("code")).toInt(), int(CodeUpgradeOk));
        QCOMPARE(done.value(QStringLiteral("version")).toString(), QStringLiteral("V9.4.0 cli"));
        // Progress goes to stderr when stdout carries JSON.
        QVERIFY2(err.contains("SendData") && err.contains("Progress"), err.constData());
        QCOMPARE(emu->device(0).version, std::string("V9.4.0 cli"));

        // Every device upgraded: exit 0, and the table names the version read back.
        QCOMPARE(run({ QStringLiteral("--file"), file, QStringLiteral("--comeback"), QStringLiteral("20"),
                       QString::fromStdString(f.devices[1].mac).toLower() },
                     &out),
                 0);
        QVERIFY2(out.contains("V9.4.0 cli") && out.contains("UpgradeSuccess"), out.constData());
    }
};

QTEST_GUILESS_MAIN(TestUpgradeE2e)
#include "tst_upgrade_e2e.moc"
