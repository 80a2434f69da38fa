// scoutrix-cli run as installers script it, against an in-process fleet.

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTextCodec>

#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include "ActivityLog.h"
#include "ConfigRecords.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "Fleet.h"
#include "LoginPeers.h"
#include "Net.h"
#include "Protocol.h"
#include "ResultTexts.h"

using namespace scoutrix;

namespace {

struct Run
{
    int code = -1;
    QByteArray out, err;
};

// RFC 4180 read strictly: CRLF after every record, quotes only around a whole
// field, a quote inside one doubled; false on anything else.
bool readCsv(const QByteArray &text, QVector<QStringList> &rows)
{
    const QString s = QString::fromUtf8(text);
    QStringList row;
    QString field;
    int i = 0;
    while (i < s.size()) {
        if (s.at(i) == QLatin1Char('"')) {
            for (++i;; ++i) {
                if (i >= s.size())
                    return false;
                if (s.at(i) == QLatin1Char('"')) {
                    if (i + 1 < s.size() && s.at(i + 1) == QLatin1Char('"'))
                        ++i;
                    else
                        break;
                }
                field += s.at(i);
            }
            ++i;
        } else {
            while (i < s.size() && s.at(i) != QLatin1Char(',') && s.at(i) != QLatin1Char('\r')) {
                if (s.at(i) == QLatin1Char('"') || s.at(i) == QLatin1Char('\n'))
                    return false;
                field += s.at(i++);
            }
        }
        row.append(field);
        field.clear();
        if (i < s.size() && s.at(i) == QLatin1Char(',')) {
            ++i;
            if (i == s.size())
                return false;
        } else if (s.mid(i, 2) == QLatin1String("\r\n")) {
            i += 2;
            if (!rows.isEmpty() && rows.first().size() != row.size())
                return false;
            rows.append(row);
            row.clear();
        } else {
            return false;
        }
    }
    return row.isEmpty();
}

bool isValidUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// A device that logs in with any password's proof checked against |password|
// and answers every get with |result|, which the emulator never does.
class OddDevice
{
public:
    OddDevice(std::string password, int32_t result)
        : m_password(std::move(password)), m_result(result)
    {
        m_server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(0x7f000001u);
        socklen_t len = sizeof sa;
        ::bind(m_server, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        ::listen(m_server, 4);
        ::getsockname(m_server, reinterpret_cast<sockaddr *>(&sa), &len);
        m_port = ntohs(sa.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~OddDevice()
    {
        ::shutdown(m_server, SHUT_RDWR);
        m_thread.join();
        ::close(m_server);
    }
    uint16_t port() const { return m_port; }

private:
    void serve()
    {
        const int c = ::accept(m_server, nullptr, nullptr);
        if (c < 0)
            return;
        proto::FrameAssembler in;
        testpeers::DeviceSteps login("admin", m_password);
        for (;;) {
            pollfd p { c, POLLIN, 0 };
            uint8_t buf[4096];
            ssize_t n = 0;
            if (::poll(&p, 1, 10000) <= 0 || (n = ::recv(c, buf, sizeof buf, 0)) <= 0)
                break;
            in.feed(buf, std::size_t(n));
            proto::Frame f;
            while (in.next(f) == proto::FrameAssembler::Status::Frame) {
                std::vector<uint8_t> reply;
                if (!login.loggedIn()) {
                    reply = login.answer(f);
                } else if (!login.open(f)) {
                    break;
                } else if (f.type == uint8_t(proto::Type::GetConfig)) {
                    proto::GetConfigReply r;
                    r.result = m_result;
                    r.data.assign(16, 0x5a);
                    reply = login.sealed(proto::Type::GetConfigReply, f.sequence, proto::encode(r));
                } else if (f.type == uint8_t(proto::Type::Logout)) {
                    reply = login.sealed(
                        proto::Type::LogoutReply, f.sequence, proto::encodeResult(0));
                }
                if (!reply.empty())
                    (void)!::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
        }
        ::close(c);
    }

    std::string m_password;
    int32_t m_result;
    int m_server = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};

class TestCli : public QObject
{
    Q_OBJECT

    std::unique_ptr<devsim::Emulator> m_emu;
    devsim::Fleet m_fleet;
    QString m_discovery;
    QTemporaryDir m_logDir;

    Run cli(const QStringList &args, const QString &discovery = QString(),
        const QStringList &vars = QStringList())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SCOUTRIX_ACTIVITY_DIR"), m_logDir.path());
        env.remove(QStringLiteral("SCOUTRIX_PASSWORD"));
        for (const QString &v : vars)
            env.insert(v.section(QLatin1Char('='), 0, 0), v.section(QLatin1Char('='), 1));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(SCOUTRIX_CLI),
            QStringList { QStringLiteral("--discovery"),
                discovery.isEmpty() ? m_discovery : discovery }
                + args);
        Run r;
        if (!p.waitForFinished(60000))
            return r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    template<typename Record>
    Record recordOf(int device, int32_t command, int32_t channel)
    {
        return fixture::recordOf<Record>(*m_emu, device, command, channel);
    }

    bool waitReachable(int device) { return fixture::waitReachable(*m_emu, device); }

    GeneralRecord generalOf(int i)
    {
        GeneralRecord g;
        std::vector<uint8_t> bytes;
        std::memset(&g, 0, sizeof g);
        if (m_emu->record(i, CmdGeneral, -1, bytes) && bytes.size() == sizeof g)
            std::memcpy(&g, bytes.data(), sizeof g);
        return g;
    }

    QString ipOf(int i) { return QString::fromStdString(net::ipv4Text(m_emu->device(i).ip)); }
    QString portOf(int i) { return QString::number(m_emu->device(i).port); }

private slots:
    void initTestCase()
    {
        m_fleet = devsim::generatedFleet(6);
        m_fleet.devices[5].users[0].password = "other";
        std::string error;
        m_emu = fixture::start(m_fleet, std::string(), &error);
        QVERIFY2(m_emu, error.c_str());
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
            for (const char *key : { "ip", "mac", "model", "serial", "type", "port", "protocol" })
                QVERIFY2(o.contains(QLatin1String(key)), key);
            QCOMPARE(o.value(QStringLiteral("protocol")).toString(), QStringLiteral("own"));
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
        QCOMPARE(lines[0], QByteArray("ip,mask,gateway,port,mac,model,serial,type\r"));
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

    void hostileDeviceTextsAreNeutralised()
    {
        devsim::Fleet fleet = devsim::generatedFleet(3);
        fleet.devices[0].model = "\x1b]0;owned\x07\x1b[2J";
        fleet.devices[0].serial = "=HYPERLINK(\"http://x\",\"y\")";
        fleet.devices[0].version = "\x1b]2;title\x07V1\x9b" "2J";
        fleet.devices[1].model = "caf\xe9 \xff\xfe";
        fleet.devices[1].serial = "SN\r1,\"2\"\n3";
        fleet.devices[2].model = "\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba \xe2\x80\xae" "cba";
        fleet.devices[2].serial = "+cmd|' /C calc'!A0";
        fleet.devices[2].mac = "02:5C:A1:\xff\x1b[K";
        std::string error;
        const auto emu = fixture::start(fleet, std::string(), &error);
        QVERIFY2(emu, error.c_str());
        const QString discovery
            = QString::fromStdString(net::endpointText(emu->discoveryEndpoints().front()));
        const QStringList wanted[] = {
            { QString::fromUtf8("\x1b]0;owned\x07\x1b[2J"),
                QStringLiteral("=HYPERLINK(\"http://x\",\"y\")") },
            { QString::fromLatin1("caf\xe9 \xff\xfe"), QStringLiteral("SN\r1,\"2\"\n3") },
            { QString::fromUtf8("\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba \xe2\x80\xae" "cba"),
                QStringLiteral("+cmd|' /C calc'!A0") },
        };
        auto indexOfSerial = [&](const QString &serial) {
            for (int i = 0; i < 3; ++i)
                if (wanted[i][1] == serial)
                    return i;
            return -1;
        };

        // JSON: valid UTF-8 whatever the bytes, the texts decoded.
        Run r = cli({ QStringLiteral("search"), QStringLiteral("--json"), QStringLiteral("--timeout"),
                        QStringLiteral("1500") },
            discovery);
        QCOMPARE(r.code, 0);
        QVERIFY(isValidUtf8(r.out));
        QJsonParseError pe;
        const QJsonArray list = QJsonDocument::fromJson(r.out, &pe).array();
        QCOMPARE(pe.error, QJsonParseError::NoError);
        QCOMPARE(list.size(), 3);
        for (const QJsonValue &v : list) {
            const int i = indexOfSerial(v.toObject().value(QStringLiteral("serial")).toString());
            QVERIFY(i >= 0);
            QCOMPARE(v.toObject().value(QStringLiteral("model")).toString(), wanted[i][0]);
            if (i == 2)
                QCOMPARE(v.toObject().value(QStringLiteral("mac")).toString(),
                    QString::fromLatin1("02:5C:A1:\xff\x1b[K"));
        }

        // CSV: every row has its eight fields, formula starts are defused.
        r = cli({ QStringLiteral("search"), QStringLiteral("--csv"), QStringLiteral("--timeout"),
                    QStringLiteral("1500") },
            discovery);
        QCOMPARE(r.code, 0);
        QVector<QStringList> rows;
        QVERIFY2(readCsv(r.out, rows), r.out.constData());
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0].join(QLatin1Char(',')),
            QStringLiteral("ip,mask,gateway,port,mac,model,serial,type"));
        for (int k = 1; k < rows.size(); ++k) {
            QString serial = rows[k][6];
            if (serial.startsWith(QLatin1Char('\'')))
                serial.remove(0, 1);
            const int i = indexOfSerial(serial);
            QVERIFY2(i >= 0, qPrintable(serial));
            QCOMPARE(rows[k][5], wanted[i][0]);
            for (const QString &cell : rows[k])
                QVERIFY2(!QStringLiteral("=+-@").contains(cell.left(1)) || cell.isEmpty(),
                    qPrintable(cell));
        }

        // Table and login: nothing that steers a terminal gets through.
        auto steers = [](const QByteArray &out) {
            const QString text = QString::fromUtf8(out);
            for (const QChar c : text) {
                const ushort u = c.unicode();
                if ((u < 0x20 && u != '\n') || (u >= 0x7f && u <= 0x9f) || u == 0x202e)
                    return true;
            }
            return !isValidUtf8(out);
        };
        r = cli({ QStringLiteral("search"), QStringLiteral("--timeout"), QStringLiteral("1500") },
            discovery);
        QCOMPARE(r.code, 0);
        QVERIFY2(!steers(r.out), r.out.toHex().constData());
        QVERIFY(r.out.contains("\\x1b]0;owned\\x07\\x1b[2J"));
        QVERIFY(r.out.contains("SN\\x0d1,\"2\"\\x0a3"));
        QVERIFY(r.out.contains(QString::fromLatin1("caf\xe9 \xff\xfe").toUtf8()));
        QVERIFY(r.out.contains("3 device(s)"));
        r = cli({ QStringLiteral("login"), QString::fromStdString(net::ipv4Text(emu->device(0).ip)),
            QStringLiteral("--port"), QString::number(emu->device(0).port) });
        QCOMPARE(r.code, 0);
        QVERIFY2(!steers(r.out), r.out.toHex().constData());
        QVERIFY(r.out.contains("version: \\x1b]2;title\\x07V1\\x9b2J"));
    }

    void searchNobodyAnswersIsNotFound()
    {
        // Port 9 on loopback: nothing there answers.
        Run r = cli({ QStringLiteral("search"), QStringLiteral("--json"),
                        QStringLiteral("--timeout"), QStringLiteral("300") },
            QStringLiteral("127.0.0.1:9"));
        QCOMPARE(r.code, 3);
        QCOMPARE(QJsonDocument::fromJson(r.out).array().size(), 0);
        QVERIFY(QJsonDocument::fromJson(r.out).isArray());
        r = cli({ QStringLiteral("search"), QStringLiteral("--timeout"), QStringLiteral("300") },
            QStringLiteral("127.0.0.1:9"));
        QCOMPARE(r.code, 3);
        QVERIFY(r.out.contains("0 device(s)"));
    }

    void setTakesOnlyARecordSizedFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QByteArray>("why");
        QTest::newRow("directory") << QStringLiteral("dir") << QByteArray("not a regular file");
        QTest::newRow("device") << QStringLiteral("/dev/zero") << QByteArray("not a regular file");
        QTest::newRow("fifo") << QStringLiteral("fifo") << QByteArray("not a regular file");
        QTest::newRow("too large") << QStringLiteral("big") << QByteArray("larger than a record");
    }

    void setTakesOnlyARecordSizedFile()
    {
        QFETCH(QString, what);
        QFETCH(QByteArray, why);
        QTemporaryDir dir;
        QString path = what;
        if (what == QLatin1String("dir")) {
            path = dir.path();
        } else if (what == QLatin1String("fifo")) {
            path = dir.filePath(what);
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (what == QLatin1String("big")) {
            path = dir.filePath(what);
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qint64(proto::MaxTcpPayload) - 7)); // one byte over
        }
        const Run r = cli({ QStringLiteral("set"), ipOf(0), QStringLiteral("19"),
            QStringLiteral("--port"), portOf(0), QStringLiteral("--in"), path });
        QCOMPARE(r.code, 6);
        QVERIFY2(r.err.contains(why), r.err.constData());
    }

    void getWithAPositiveDeviceResultFails()
    {
        OddDevice odd("739204", 2);
        const Run r = cli({ QStringLiteral("get"), QStringLiteral("127.0.0.1"), QStringLiteral("19"),
            QStringLiteral("--port"), QString::number(odd.port()) });
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("result 2"), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }

    void passwordFromTheVariableOrAPrompt()
    {
        // Device 5 has its own password; the variable gives it without argv.
        Run r = cli({ QStringLiteral("login"), ipOf(5), QStringLiteral("--port"), portOf(5) },
            QString(), { QStringLiteral("SCOUTRIX_PASSWORD=other") });
        QCOMPARE(r.code, 0);
        r = cli({ QStringLiteral("login"), ipOf(5), QStringLiteral("--port"), portOf(5),
                    QStringLiteral("--password"), QStringLiteral("wrong") },
            QString(), { QStringLiteral("SCOUTRIX_PASSWORD=other") });
        QCOMPARE(r.code, 4); // the option comes first

        // On a terminal it is asked for, and not echoed.
        const QByteArray exe = SCOUTRIX_CLI, ip = ipOf(5).toLatin1(), port = portOf(5).toLatin1(),
                         disc = m_discovery.toLatin1();
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::unsetenv("SCOUTRIX_PASSWORD");
            ::setenv("SCOUTRIX_ACTIVITY_DIR", QFile::encodeName(m_logDir.path()).constData(), 1);
            ::execl(exe.constData(), exe.constData(), "--discovery", disc.constData(), "login",
                ip.constData(), "--port", port.constData(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        QByteArray seen;
        auto readFor = [&](int ms, const char *until) {
            const QDeadlineTimer deadline(ms);
            while (!deadline.hasExpired() && !(until && seen.contains(until))) {
                pollfd p { master, POLLIN, 0 };
                if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
                    break;
                char buf[512];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n <= 0)
                    break;
                seen.append(buf, int(n));
            }
        };
        readFor(10000, "password for admin");
        QVERIFY2(seen.contains("password for admin"), seen.constData());
        QVERIFY(::write(master, "other\n", 6) == 6);
        readFor(10000, "audio channels");
        int status = 0;
        const QDeadlineTimer deadline(20000);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (deadline.hasExpired()) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ::close(master);
                QFAIL(seen.constData());
            }
            QTest::qSleep(20);
        }
        ::close(master);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY2(seen.contains("login ok"), seen.constData());
        QVERIFY2(!seen.contains("other"), seen.constData());
    }

    // One picture of the live stream through the player's decoder, by IP or
    // by MAC; a channel the camera does not have gets nothing written.
    void snapshotOfTheLiveStream()
    {
        const QString png = m_logDir.filePath(QStringLiteral("snap.png"));
        Run r = cli({ QStringLiteral("snapshot"), ipOf(4), QStringLiteral("--port"), portOf(4), QStringLiteral("--stream"),
                      QStringLiteral("sub"), QStringLiteral("--channel"), QStringLiteral("1"), QStringLiteral("--out"), png });
        QVERIFY2(r.code == 0, r.err.constData());
        const QImage sub(png);
        QVERIFY(!sub.isNull());
        QVERIFY(sub.width() >= 160 && sub.height() >= 90);
        // A test card, not a blank: many colours.
        QSet<QRgb> colours;
        for (int y = 0; y < sub.height(); y += 8) {
            for (int x = 0; x < sub.width(); x += 8)
                colours.insert(sub.pixel(x, y) & 0xf0f0f0);
        }
        QVERIFY(colours.size() > 8);

        const QString mac = QString::fromStdString(m_fleet.devices[4].mac).toLower();
        const QString main = m_logDir.filePath(QStringLiteral("main.png"));
        r = cli({ QStringLiteral("snapshot"), mac, QStringLiteral("--out"), main });
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY(QImage(main).width() > sub.width());

        const QString none = m_logDir.filePath(QStringLiteral("none.png"));
        r = cli({ QStringLiteral("snapshot"), ipOf(4), QStringLiteral("--port"), portOf(4), QStringLiteral("--channel"),
                  QStringLiteral("9"), QStringLiteral("--out"), none });
        QCOMPARE(r.code, 1);
        QVERIFY(!QFile::exists(none));
        QCOMPARE(cli({ QStringLiteral("snapshot"), ipOf(4), QStringLiteral("--stream"), QStringLiteral("third"),
                       QStringLiteral("--out"), none })
                     .code,
                 2);
    }

    void rebootThroughTheCli()
    {
        Run r = cli({ QStringLiteral("reboot"), ipOf(2), QStringLiteral("--port"), portOf(2) });
        QCOMPARE(r.code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_emu->device(2).rebooting, 5000);
    }

    void batchRefusesBadCommandLinesBeforeSending()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("missing"));
        const int logged = ActivityLog(m_logDir.path()).entries(QDate::currentDate()).size();
        const QString b = QStringLiteral("batch"), all = QStringLiteral("--all");
        const struct
        {
            QStringList args;
            int code;
        } cases[] = {
            { { b }, 2 },
            { { b, QStringLiteral("frobnicate"), all }, 2 },
            { { b, QStringLiteral("pc-time") }, 2 },
            { { b, QStringLiteral("pc-time"), all, ipOf(0) }, 2 },
            { { b, QStringLiteral("pc-time"), QStringLiteral("--server"), QStringLiteral("x"), all }, 2 },
            { { b, QStringLiteral("pc-time"), QStringLiteral("--jobs"), QStringLiteral("0"), all }, 2 },
            { { b, QStringLiteral("time"), QStringLiteral("--at"), QStringLiteral("2025-02-30 10:00:00"), all }, 2 },
            { { b, QStringLiteral("ntp"), QStringLiteral("--port"), QStringLiteral("70000"), all }, 2 },
            { { b, QStringLiteral("ntp"), QStringLiteral("--period"), QStringLiteral("ten"), all }, 2 },
            { { b, QStringLiteral("ntp"), QStringLiteral("--server"), QString(64, QLatin1Char('a')), all }, 2 },
            { { b, QStringLiteral("ntp"), QStringLiteral("--zone"), QStringLiteral("UTC+05:15"), all }, 2 },
            { { b, QStringLiteral("format"), QStringLiteral("--video"), QStringLiteral("SECAM"),
                QStringLiteral("--language"), QStringLiteral("English"), all }, 2 },
            { { b, QStringLiteral("format"), QStringLiteral("--video"), QStringLiteral("PAL"), all }, 2 },
            { { b, QStringLiteral("defaults"), QStringLiteral("--groups"), QStringLiteral("general,kitchen"), all }, 2 },
            { { b, QStringLiteral("light"), QStringLiteral("--mode"), QStringLiteral("dual"),
                QStringLiteral("--brightness"), QStringLiteral("101"), all }, 2 },
            { { b, QStringLiteral("services"), QStringLiteral("--onvif"), QStringLiteral("yes"),
                QStringLiteral("--dhcp"), QStringLiteral("off"), all }, 2 },
            { { b, QStringLiteral("pc-time"), QStringLiteral("02:00:00:00:00:99") }, 3 },
            { { b, QStringLiteral("pc-time"), ipOf(0), QStringLiteral("127.0.99.99") }, 3 },
            { { b, QStringLiteral("import-config"), dir.path(), ipOf(0) }, 6 },
            { { b, QStringLiteral("import-config"), QStringLiteral("/dev/null"), ipOf(0) }, 6 },
            { { b, QStringLiteral("import-config"), missing, ipOf(0) }, 6 },
            { { b, QStringLiteral("export-config"), QStringLiteral("--dir"), missing, all }, 6 },
        };
        for (const auto &c : cases) {
            const Run r = cli(c.args + QStringList { QStringLiteral("--timeout"), QStringLiteral("1500") });
            QVERIFY2(r.code == c.code, qPrintable(c.args.join(QLatin1Char(' ')) + QStringLiteral(" -> ")
                                                  + QString::number(r.code) + QLatin1Char(' ')
                                                  + QString::fromUtf8(r.err)));
            QVERIFY(r.out.isEmpty());
        }
        QCOMPARE(ActivityLog(m_logDir.path()).entries(QDate::currentDate()).size(), logged);
    }

    void batchAskingFirstGoesToNoneWhenALoginFails()
    {
        const GeneralRecord before = generalOf(0);
        Run r = cli({ QStringLiteral("batch"), QStringLiteral("format"), QStringLiteral("--video"),
            QStringLiteral("NTSC"), QStringLiteral("--language"), QStringLiteral("dutch"), ipOf(0), ipOf(5),
            QStringLiteral("--json") });
        QCOMPARE(r.code, 4);
        QVERIFY2(r.err.contains("sent to no device"), r.err.constData());
        const QJsonArray list = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].toObject().value(QStringLiteral("ip")).toString(), ipOf(0));
        QCOMPARE(list[0].toObject().value(QStringLiteral("code")).toInt(), int(ResultTexts::CodeNotSent));
        QCOMPARE(list[0].toObject().value(QStringLiteral("text")).toString(),
            QStringLiteral("Not sent: another checked device could not log in"));
        QCOMPARE(list[1].toObject().value(QStringLiteral("text")).toString(), QStringLiteral("Login: Failed"));
        QVERIFY(std::memcmp(generalOf(0).bytes, before.bytes, sizeof before.bytes) == 0);
    }

    void batchFormatByMacAndIpAsJson()
    {
        const QString mac = QString::fromStdString(m_fleet.devices[3].mac).toLower();
        Run r = cli({ QStringLiteral("batch"), QStringLiteral("format"), QStringLiteral("--video"),
            QStringLiteral("ntsc"), QStringLiteral("--language"), QStringLiteral("Dutch"), mac, ipOf(4),
            QStringLiteral("--json"), QStringLiteral("--jobs"), QStringLiteral("1") });
        QCOMPARE(r.code, 0);
        QVERIFY(isValidUtf8(r.out));
        const QJsonArray list = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(list.size(), 2);
        for (int k = 0; k < 2; ++k) {
            const QJsonObject o = list[k].toObject();
            QStringList keys = o.keys();
            keys.sort();
            QCOMPARE(keys, QStringList({ QStringLiteral("code"), QStringLiteral("ip"), QStringLiteral("mac"),
                                           QStringLiteral("text") }));
            const int i = k == 0 ? 3 : 4;
            QCOMPARE(o.value(QStringLiteral("ip")).toString(), ipOf(i));
            QCOMPARE(o.value(QStringLiteral("mac")).toString(), QString::fromStdString(m_fleet.devices[std::size_t(i)].mac));
            const int code = o.value(QStringLiteral("code")).toInt();
            const QString text = o.value(QStringLiteral("text")).toString();
            // A new language or video format takes a restart, which follows.
            QCOMPARE(code, -11401);
            QCOMPARE(text, QStringLiteral("Language and video format: Done; the device needs a reboot; "
                                          "Reboot: Successful"));
            QCOMPARE(generalOf(i).videoFormat(), 1);
            QCOMPARE(generalOf(i).language(), 31);
        }
        // Both restart a moment after the answer, and come back.
        QTRY_VERIFY_WITH_TIMEOUT(m_emu->device(3).rebooting && m_emu->device(4).rebooting, 2000);
        QVERIFY(waitReachable(3));
        QVERIFY(waitReachable(4));
        const QVector<ActivityEntry> log = ActivityLog(m_logDir.path()).entries(QDate::currentDate());
        QVERIFY(std::any_of(log.begin(), log.end(), [&](const ActivityEntry &e) {
            return e.operation == ResultTexts::OpLanguageVideo && e.mac.compare(mac, Qt::CaseInsensitive) == 0
                && e.newValue == QStringLiteral("NTSC, Dutch") && !e.oldValue.isEmpty();
        }));
    }

    void batchItemsReachTheDevices()
    {
        QVERIFY(waitReachable(0));
        QVERIFY(waitReachable(4));
        const QString b = QStringLiteral("batch");
        auto json = [](const Run &r) { return QJsonDocument::fromJson(r.out).array(); };

        Run r = cli({ b, QStringLiteral("time"), QStringLiteral("--at"), QStringLiteral("2031-01-02 03:04:05"),
            ipOf(0) });
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith("IP "), r.out.constData());
        QVERIFY(r.out.contains("Successful"));
        QCOMPARE(recordOf<SystemTimeRecord>(0, CmdSystemTime, -1).word(SystemTimeRecord::Year), 2031);
        QCOMPARE(cli({ b, QStringLiteral("pc-time"), ipOf(0) }).code, 0);
        QCOMPARE(recordOf<SystemTimeRecord>(0, CmdSystemTime, -1).word(SystemTimeRecord::Year),
            QDate::currentDate().year());

        r = cli({ b, QStringLiteral("ntp"), QStringLiteral("--server"), QStringLiteral("ntp.example"),
            QStringLiteral("--port"), QStringLiteral("1123"), QStringLiteral("--period"), QStringLiteral("30"),
            QStringLiteral("--zone"), QStringLiteral("UTC+05:45"), ipOf(0), ipOf(4), QStringLiteral("--json") });
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(json(r).size(), 2);
        for (int i : { 0, 4 }) {
            const NtpRecord ntp = recordOf<NtpRecord>(i, CmdNtp, -1);
            QVERIFY(ntp.enabled());
            QCOMPARE(ntp.server(), std::string("ntp.example"));
            QCOMPARE(ntp.word(NtpRecord::Port), 1123);
            QCOMPARE(ntp.word(NtpRecord::Period), 30);
            QCOMPARE(ntp.word(NtpRecord::ZoneIndex), 9);
            QCOMPARE(recordOf<TimeZoneRecord>(i, CmdTimeZone, -1).word(TimeZoneRecord::MinutesWest), -345);
        }
        QCOMPARE(cli({ b, QStringLiteral("ntp"), QStringLiteral("--off"), ipOf(4) }).code, 0);
        QVERIFY(!recordOf<NtpRecord>(4, CmdNtp, -1).enabled());

        // Dual light: the 5M camera has it, the 4M camera does not.
        r = cli({ b, QStringLiteral("light"), QStringLiteral("--mode"), QStringLiteral("dual"),
            QStringLiteral("--light-time"), QStringLiteral("20"), QStringLiteral("--dimming"), QStringLiteral("on"),
            ipOf(4), ipOf(0), QStringLiteral("--json") });
        QCOMPARE(r.code, 1);
        QCOMPARE(json(r)[0].toObject().value(QStringLiteral("code")).toInt(), 0);
        QCOMPARE(json(r)[1].toObject().value(QStringLiteral("text")).toString(), QStringLiteral("Not supported"));
        const LightModeRecord light = recordOf<LightModeRecord>(4, CmdLightMode, 0);
        QCOMPARE(int(light.bytes[LightModeRecord::Type]), 2);
        QCOMPARE(int(light.bytes[LightModeRecord::LightTime]), 20);
        QCOMPARE(int(light.bytes[LightModeRecord::Dimming]), 1);

        r = cli({ b, QStringLiteral("channel-name"), QStringLiteral("--name"), QStringLiteral("Gate 1"),
            QStringLiteral("--show-time"), QStringLiteral("off"), ipOf(4) });
        QCOMPARE(r.code, 0);
        QCOMPARE(recordOf<ChannelNamesRecord>(4, CmdChannelNames, -1).name(0), std::string("Gate 1"));
        QCOMPARE(int(recordOf<OsdRecord>(4, CmdOsd, 0).bytes[OsdRecord::ShowTime]), 0);

        r = cli({ b, QStringLiteral("services"), QStringLiteral("--onvif"), QStringLiteral("off"),
            QStringLiteral("--dhcp"), QStringLiteral("on"), ipOf(0), QStringLiteral("--json") });
        QCOMPARE(r.code, 0);
        QCOMPARE(json(r)[0].toObject().value(QStringLiteral("text")).toString(),
            QStringLiteral("Onvif: Successful; DHCP: Successful"));
        QCOMPARE(recordOf<OnvifRecord>(0, CmdOnvif, -1).word(OnvifRecord::Enable), 0);
        QCOMPARE(recordOf<DhcpRecord>(0, CmdDhcp, -1).word(DhcpRecord::Enable), 1);
        // The network services group brings Onvif back.
        QCOMPARE(cli({ b, QStringLiteral("defaults"), QStringLiteral("--groups"), QStringLiteral("netservice,gui"),
                     ipOf(0) }).code,
            0);
        QCOMPARE(recordOf<OnvifRecord>(0, CmdOnvif, -1).word(OnvifRecord::Enable), 1);

        QTemporaryDir dir;
        r = cli({ b, QStringLiteral("export-config"), QStringLiteral("--dir"), dir.path(), ipOf(4),
            QStringLiteral("--json") });
        QCOMPARE(r.code, 0);
        const QString text = json(r)[0].toObject().value(QStringLiteral("text")).toString();
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(text.endsWith(dir.filePath(files[0])), qPrintable(text));
        QCOMPARE(QFileInfo(dir.filePath(files[0])).size(), 65536);
        QCOMPARE(cli({ b, QStringLiteral("channel-name"), QStringLiteral("--name"), QStringLiteral("Other"),
                     ipOf(4) }).code,
            0);
        r = cli({ b, QStringLiteral("import-config"), dir.filePath(files[0]), ipOf(4), QStringLiteral("--json") });
        QCOMPARE(r.code, 0);
        QCOMPARE(recordOf<ChannelNamesRecord>(4, CmdChannelNames, -1).name(0), std::string("Gate 1"));
        if (json(r)[0].toObject().value(QStringLiteral("code")).toInt() == -11401) {
            QTRY_VERIFY_WITH_TIMEOUT(m_emu->device(4).rebooting, 2000);
            QVERIFY(waitReachable(4));
        }
    }

    void batchInterruptedPartWay()
    {
        QVERIFY(waitReachable(0));
        QVERIFY(waitReachable(4));
        devsim::Faults slow;
        slow.delayMs = 250;
        for (int i : { 0, 2, 3, 4 })
            m_emu->setFaults(i, slow);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SCOUTRIX_ACTIVITY_DIR"), m_logDir.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(SCOUTRIX_CLI),
            { QStringLiteral("--discovery"), m_discovery, QStringLiteral("batch"), QStringLiteral("pc-time"),
                QStringLiteral("--jobs"), QStringLiteral("1"), QStringLiteral("--json"), ipOf(0), ipOf(2), ipOf(3),
                ipOf(4) });
        QVERIFY(p.waitForStarted());
        // Once the first device is under way (a login alone takes several answers).
        QTRY_VERIFY_WITH_TIMEOUT(m_emu->device(0).sessions > 0, 10000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        for (int i : { 0, 2, 3, 4 })
            m_emu->setFaults(i, devsim::Faults());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains("interrupted"));
        const QJsonArray list = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
        QVERIFY2(list.size() >= 1 && list.size() < 4, qPrintable(QString::number(list.size())));
        QCOMPARE(list[0].toObject().value(QStringLiteral("ip")).toString(), ipOf(0));
    }
};

} // namespace

QTEST_APPLESS_MAIN(TestCli)
#include "tst_cli.moc"
