// scoutrix-cli against a fleet that mixes the own protocol and ONVIF cameras,
// as an installer scripts it on a site with both.

#include <QtTest>

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "ConfigRecords.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "Fleet.h"
#include "Net.h"

using namespace scoutrix;

namespace {

struct Run
{
    int code = -1;
    QByteArray out, err;
};

QString ipText(uint32_t ip)
{
    return QString::fromStdString(net::ipv4Text(ip));
}

} // namespace

class TestCliOnvif : public QObject
{
    Q_OBJECT

    std::unique_ptr<devsim::Emulator> m_emu;
    QString m_discovery;
    QTemporaryDir m_dir;

    Run cli(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SCOUTRIX_ACTIVITY_DIR"), m_dir.path());
        env.insert(QStringLiteral("SCOUTRIX_PASSWORD"), QStringLiteral("739204"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(SCOUTRIX_CLI), QStringList { QStringLiteral("--discovery"), m_discovery } + args);
        Run r;
        if (!p.waitForFinished(90000))
            return r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    QJsonArray search()
    {
        const Run r = cli({ QStringLiteral("search"), QStringLiteral("--json") });
        return r.code == 0 ? QJsonDocument::fromJson(r.out).array() : QJsonArray();
    }

    QJsonObject deviceWithMac(const QString &mac)
    {
        for (const QJsonValue &v : search())
            if (v.toObject().value(QStringLiteral("mac")).toString() == mac)
                return v.toObject();
        return QJsonObject();
    }

    int firstOnvif() const
    {
        for (int i = 0; i < m_emu->deviceCount(); ++i)
            if (m_emu->device(i).protocol == devsim::Protocol::Onvif)
                return i;
        return -1;
    }

private slots:
    void initTestCase()
    {
        qputenv("SCOUTRIX_NETSDK_LOOPBACK_ONLY", "1");
        // Four own devices and four ONVIF cameras; the last camera's clock
        // runs ten minutes ahead, as on a camera that never saw a time server.
        devsim::Fleet fleet = devsim::generatedFleet(8, 4);
        fleet.devices.back().clockOffsetS = 600;
        std::string error;
        m_emu = fixture::start(fleet, std::string(), &error);
        QVERIFY2(m_emu, error.c_str());
        const net::Endpoint e = m_emu->discoveryEndpoints().front();
        m_discovery = ipText(e.address) + QLatin1Char(':') + QString::number(e.port);
    }

    void oneSearchFindsBothKinds()
    {
        const QJsonArray list = search();
        QCOMPARE(list.size(), m_emu->deviceCount());
        int onvif = 0;
        for (const QJsonValue &v : list) {
            const QJsonObject o = v.toObject();
            const int i = m_emu->indexOfMac(o.value(QStringLiteral("mac")).toString().toStdString());
            QVERIFY(i >= 0);
            const devsim::DeviceSnapshot d = m_emu->device(i);
            const bool isOnvif = d.protocol == devsim::Protocol::Onvif;
            onvif += isOnvif;
            QCOMPARE(o.value(QStringLiteral("protocol")).toString(),
                isOnvif ? QStringLiteral("onvif") : QStringLiteral("own"));
            // For a camera, the port of its device service.
            QCOMPARE(o.value(QStringLiteral("port")).toInt(), int(d.port));
            QCOMPARE(o.value(QStringLiteral("ip")).toString(), ipText(d.ip));
        }
        QCOMPARE(onvif, 4);
    }

    // Found by address alone, the camera is still logged in to through ONVIF,
    // even with its clock ten minutes ahead.
    void loginByAddressAndSkewedClock()
    {
        const devsim::DeviceSnapshot d = m_emu->device(m_emu->deviceCount() - 1);
        QCOMPARE(d.protocol, devsim::Protocol::Onvif);
        Run r = cli({ QStringLiteral("login"), ipText(d.ip), QStringLiteral("--port"), QString::number(d.port) });
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY(r.out.contains("type: IPC"));
        r = cli({ QStringLiteral("login"), ipText(d.ip), QStringLiteral("--port"), QString::number(d.port),
            QStringLiteral("--password"), QStringLiteral("wrong") });
        QCOMPARE(r.code, 4);
    }

    void encodeChangeReadsBack()
    {
        const devsim::DeviceSnapshot d = m_emu->device(firstOnvif());
        const QString table = m_dir.filePath(QStringLiteral("table.bin"));
        const QStringList at { ipText(d.ip), QStringLiteral("19"), QStringLiteral("--port"), QString::number(d.port) };
        Run r = cli(QStringList { QStringLiteral("get") } + at + QStringList { QStringLiteral("--out"), table });
        QVERIFY2(r.code == 0, r.err.constData());
        QFile f(table);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        QCOMPARE(bytes.size(), int(sizeof(EncodeTable)));
        EncodeTable t;
        std::memcpy(&t, bytes.constData(), sizeof t);
        StreamParams &main = t.channel[0].main;
        const int32_t before = main.bitRate();
        const int32_t wanted = before == 2048 ? 3072 : 2048;
        main.setBitRate(wanted);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char *>(&t), sizeof t);
        f.close();
        r = cli(QStringList { QStringLiteral("set") } + at + QStringList { QStringLiteral("--in"), table });
        QVERIFY2(r.code == 0, r.err.constData());
        r = cli(QStringList { QStringLiteral("get") } + at + QStringList { QStringLiteral("--out"), table });
        QVERIFY(f.open(QIODevice::ReadOnly));
        bytes = f.readAll();
        std::memcpy(&t, bytes.constData(), sizeof t);
        QCOMPARE(t.channel[0].main.bitRate(), wanted);
    }

    void snapshotFromTheRtspStream()
    {
        const devsim::DeviceSnapshot d = m_emu->device(firstOnvif());
        const QString png = m_dir.filePath(QStringLiteral("cam.png"));
        const Run r = cli({ QStringLiteral("snapshot"), QString::fromStdString(d.mac), QStringLiteral("--out"), png,
            QStringLiteral("--stream"), QStringLiteral("sub") });
        QVERIFY2(r.code == 0, r.err.constData());
        const QImage picture(png);
        QVERIFY(!picture.isNull());
        QVERIFY(picture.width() > 0 && picture.width() < 1920);
    }

    // Two cameras moved one after the other are found at their new
    // addresses, and the own devices stay where they were.
    void addressChangesFoundAgain()
    {
        QStringList moved;
        int n = 0;
        for (int i = 0; i < m_emu->deviceCount() && n < 2; ++i) {
            const devsim::DeviceSnapshot d = m_emu->device(i);
            if (d.protocol != devsim::Protocol::Onvif)
                continue;
            const QString target = QStringLiteral("127.0.93.%1").arg(20 + n++);
            const Run r = cli({ QStringLiteral("set-ip"), QString::fromStdString(d.mac), target });
            QVERIFY2(r.code == 0, r.err.constData());
            moved << QString::fromStdString(d.mac) + QLatin1Char('=') + target;
        }
        QCOMPARE(moved.size(), 2);
        for (const QString &m : moved) {
            const QJsonObject o = deviceWithMac(m.section(QLatin1Char('='), 0, 0));
            QCOMPARE(o.value(QStringLiteral("ip")).toString(), m.section(QLatin1Char('='), 1));
            QCOMPARE(o.value(QStringLiteral("protocol")).toString(), QStringLiteral("onvif"));
        }
        QCOMPARE(search().size(), m_emu->deviceCount());
    }
};

QTEST_GUILESS_MAIN(TestCliOnvif)
#include "tst_cli_onvif.moc"
