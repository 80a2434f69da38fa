// scoutrix-cli run as installers script it, against an in-process fleet.

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "ActivityLog.h"
#include "ResultTexts.h"
#include <QTemporaryDir>

#include "ConfigRecords.h"
#include "Emulator.h"
#include "Fleet.h"

using namespace scoutrix;

namespace {

struct Run
{
    int code = -1;
    QByteArray out, err;
};

class TestCli : public QObject
{
    Q_OBJECT

    std::unique_ptr<devsim::Emulator> m_emu;
    devsim::Fleet m_fleet;
    QString m_discovery;
    QTemporaryDir m_logDir;

    Run cli(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SCOUTRIX_ACTIVITY_DIR"), m_logDir.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(SCOUTRIX_CLI),
            QStringList { QStringLiteral("--discovery"), m_discovery } + args);
        Run r;
        if (!p.waitForFinished(60000))
            return r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    QString ipOf(int i) { return QString::fromStdString(net::ipv4Text(m_emu->device(i).ip)); }
    QString portOf(int i) { return QString::number(m_emu->device(i).port); }

private slots:
    void initTestCase()
    {
        m_fleet = devsim::generatedFleet(6);
        m_fleet.devices[5].users[0].password = "other";
        devsim::EmulatorOptions o;
        o.discovery.push_back(net::Endpoint { 0x7f000001u, 0 });
        o.ephemeralPorts = true;
        m_emu = std::make_unique<devsim::Emulator>(m_fleet, o);
        std::string error;
        QVERIFY2(m_emu->start(error), error.c_str());
        m_discovery
            = QString::fromStdString(net::endpointText(m_emu->discoveryEndpoints().front()));
    }

    void searchAsJsonCsvAndTable()
    {
        Run r = cli({ QStringLiteral("search"), QStringLiteral("--json"),
            QStringLiteral("--timeout"), QStringLiteral("2000") });
        QCOMPARE(r.code, 0);
        QJsonParseError pe;
        const QJsonArray list = QJsonDocument::fromJson(r.out, &pe).array();
        QCOMPARE(pe.error, QJsonParseError::NoError);
        QCOMPARE(list.size(), 6);
        for (const QJsonValue &v : list) {
            const QJsonObject o = v.toObject();
            for (const char *key : { "ip", "mac", "model", "serial", "type", "port" })
                QVERIFY2(o.contains(QLatin1String(key)), key);
            const int i
                = m_emu->indexOfMac(o.value(QStringLiteral("mac")).toString().toStdString());
            QVERIFY(i >= 0);
            QCOMPARE(o.value(QStringLiteral("ip")).toString(), ipOf(i));
            QCOMPARE(o.value(QStringLiteral("port")).toInt(), int(m_emu->device(i).port));
            QCOMPARE(o.value(QStringLiteral("type")).toString(),
                QString::fromLatin1(devsim::deviceTypeText(m_fleet.devices[std::size_t(i)].type)));
        }
        r = cli({ QStringLiteral("search"), QStringLiteral("--csv") });
        QCOMPARE(r.code, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], QByteArray("ip,mask,gateway,port,mac,model,serial,type"));
        r = cli({ QStringLiteral("search") });
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("6 device(s)"));
    }

    void setIpThenSearchSeesTheNewAddress()
    {
        const QString mac = QString::fromStdString(m_fleet.devices[1].mac);
        const QString before = ipOf(1);
        Run r = cli({ QStringLiteral("set-ip"), mac, QStringLiteral("127.0.66.9"),
            QStringLiteral("--gateway"), QStringLiteral("127.0.66.1") });
        QCOMPARE(r.code, 0);
        r = cli({ QStringLiteral("search"), QStringLiteral("--json") });
        bool seen = false;
        for (const QJsonValue &v : QJsonDocument::fromJson(r.out).array()) {
            const QJsonObject o = v.toObject();
            if (o.value(QStringLiteral("mac")).toString() == mac) {
                seen = true;
                QCOMPARE(o.value(QStringLiteral("ip")).toString(), QStringLiteral("127.0.66.9"));
                QCOMPARE(
                    o.value(QStringLiteral("gateway")).toString(), QStringLiteral("127.0.66.1"));
            }
        }
        QVERIFY(seen);
        // The change is in the activity log with the record before and after.
        const QVector<ActivityEntry> log = ActivityLog(m_logDir.path()).entries(QDate::currentDate());
        QVERIFY(!log.isEmpty());
        const ActivityEntry &e = log.last();
        QCOMPARE(e.mac, mac);
        QCOMPARE(e.operation, int(ResultTexts::OpModifyIP));
        QCOMPARE(e.serial, QString::fromStdString(m_fleet.devices[1].serial));
        QCOMPARE(e.address, before);
        QVERIFY2(e.oldValue.startsWith(before + QStringLiteral(" mask ")), qPrintable(e.oldValue));
        QVERIFY2(e.newValue.startsWith(QStringLiteral("127.0.66.9 mask ")), qPrintable(e.newValue));
        QVERIFY(e.newValue.endsWith(QStringLiteral("gw 127.0.66.1")));
        QCOMPARE(e.result, 0);
        r = cli({ QStringLiteral("set-ip"), QStringLiteral("02:00:00:00:00:00"),
            QStringLiteral("127.0.66.10") });
        QCOMPARE(r.code, 3);
        QVERIFY(r.err.contains("no device with MAC"));
    }

    void getAndSetThroughFiles()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("enc.bin"));
        Run r = cli({ QStringLiteral("get"), ipOf(0), QStringLiteral("19"),
            QStringLiteral("--port"), portOf(0), QStringLiteral("--out"), file });
        QCOMPARE(r.code, 0);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        std::vector<uint8_t> expected;
        QVERIFY(m_emu->record(0, CmdEncodeTable, -1, expected));
        QCOMPARE(bytes,
            QByteArray(reinterpret_cast<const char *>(expected.data()), int(expected.size())));

        bytes[300] = char(bytes[300] ^ 0x0f);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        r = cli({ QStringLiteral("set"), ipOf(0), QStringLiteral("19"), QStringLiteral("--port"),
            portOf(0), QStringLiteral("--in"), file });
        QCOMPARE(r.code, 0);
        QVERIFY(m_emu->record(0, CmdEncodeTable, -1, expected));
        QCOMPARE(bytes,
            QByteArray(reinterpret_cast<const char *>(expected.data()), int(expected.size())));

        r = cli({ QStringLiteral("get"), ipOf(0), QStringLiteral("17"), QStringLiteral("--channel"),
            QStringLiteral("0"), QStringLiteral("--port"), portOf(0) });
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.startsWith("00000000 "));
        QCOMPARE(r.out.count('\n'), 408 / 16 + 1);
        r = cli({ QStringLiteral("set"), ipOf(0), QStringLiteral("10"), QStringLiteral("--port"),
            portOf(0), QStringLiteral("--in"), file });
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.contains("not supported"));
        r = cli({ QStringLiteral("set"), ipOf(0), QStringLiteral("19"), QStringLiteral("--in"),
            dir.filePath(QStringLiteral("missing")) });
        QCOMPARE(r.code, 6);
    }

    void failuresHaveTheirOwnExitCodes()
    {
        Run r = cli({ QStringLiteral("login"), ipOf(5), QStringLiteral("--port"), portOf(5) });
        QCOMPARE(r.code, 4);
        QVERIFY(r.err.contains("wrong password"));
        r = cli({ QStringLiteral("login"), ipOf(5), QStringLiteral("--port"), portOf(5),
            QStringLiteral("--password"), QStringLiteral("other") });
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("video channels: "));
        r = cli({ QStringLiteral("login"), QStringLiteral("127.0.99.98"), QStringLiteral("--port"),
            QStringLiteral("39510") });
        QCOMPARE(r.code, 4);
        QVERIFY(r.err.contains("cannot be reached"));
        r = cli({ QStringLiteral("frobnicate") });
        QCOMPARE(r.code, 2);
        r = cli({ QStringLiteral("get"), ipOf(0) });
        QCOMPARE(r.code, 2);
        r = cli({ QStringLiteral("search"), QStringLiteral("--bogus"), QStringLiteral("1") });
        QCOMPARE(r.code, 2);
        QProcess p;
        p.start(QStringLiteral(SCOUTRIX_CLI),
            { QStringLiteral("--discovery"), QStringLiteral("nowhere"), QStringLiteral("search") });
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
    }

    void emulatorExecutableWritesItsReadyFile()
    {
        QTemporaryDir dir;
        const QString ready = dir.filePath(QStringLiteral("ready"));
        QProcess sim;
        sim.start(QStringLiteral(SCOUTRIX_DEVSIM),
            { QStringLiteral("--devices"), QStringLiteral("3"), QStringLiteral("--discovery"),
                QStringLiteral("127.0.0.1:0"), QStringLiteral("--ephemeral-ports"),
                QStringLiteral("--fault"), QStringLiteral("2:empty_mac"),
                QStringLiteral("--ready-file"), ready });
        QVERIFY(sim.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(ready).size() > 0, 20000);
        QFile f(ready);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY(text.contains("devices=3\n"));
        const QString discovery
            = QString::fromLatin1(text.split('\n').first().mid(int(strlen("discovery="))));
        QVERIFY(discovery.startsWith(QStringLiteral("127.0.0.1:")));

        const QString saved = m_discovery;
        m_discovery = discovery;
        const Run r = cli({ QStringLiteral("search"), QStringLiteral("--csv"),
            QStringLiteral("--timeout"), QStringLiteral("2000") });
        m_discovery = saved;
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.trimmed().split('\n').size(), 4);
        QCOMPARE(r.out.count(",,"), 1); // the device with the empty MAC text
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);

        QProcess bad;
        bad.start(QStringLiteral(SCOUTRIX_DEVSIM),
            { QStringLiteral("--discovery"), QStringLiteral("10.0.0.1:39500") });
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2); // the emulator never listens outside loopback
    }

    void rebootThroughTheCli()
    {
        Run r = cli({ QStringLiteral("reboot"), ipOf(2), QStringLiteral("--port"), portOf(2) });
        QCOMPARE(r.code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_emu->device(2).rebooting, 5000);
    }
};

} // namespace

QTEST_APPLESS_MAIN(TestCli)
#include "tst_cli.moc"
