// Byte layout of the device records and the rules that build the device list.

#include <QtTest>

#include <cstring>
#include <vector>

#include "DeviceList.h"

using namespace scoutrix;

namespace {

SearchRecord record(const char *mac, std::initializer_list<uint8_t> ip, int32_t type = 2)
{
    SearchRecord r;
    std::memset(&r, 0, sizeof r);
    std::copy(ip.begin(), ip.end(), r.net.ip);
    setFieldText(r.net.mac, mac);
    r.net.setPortValue(0x00010000u + 34567u);
    r.dev.setDeviceType(type);
    setFieldText(r.dev.model, std::string("model-") + mac);
    return r;
}

void runSearch(DeviceList &list, const std::vector<SearchRecord> &answers, bool ok = true,
               const std::string &user = "admin", const std::string &pass = "739204")
{
    list.clear();
    if (!answers.empty())
        std::memcpy(list.searchBuffer(), answers.data(), answers.size() * sizeof(SearchRecord));
    list.build(ok, int(answers.size() * sizeof(SearchRecord)), user, pass);
}

} // namespace

class TestDeviceRecords : public QObject
{
    Q_OBJECT

private slots:
    void decodesFieldsAtTheirOffsets()
    {
        uint8_t raw[312];
        for (int i = 0; i < 312; ++i)
            raw[i] = uint8_t(i * 7 + 3); // carried bytes must survive untouched
        const uint8_t ip[] = {192, 168, 1, 64};
        std::memcpy(raw + 64, ip, 4);
        raw[80] = 0x37; raw[81] = 0x87; raw[82] = 0x01; raw[83] = 0x00; // LE 0x00018737
        std::memcpy(raw + 109, "00:11:22:33:44:55", 18);
        std::memcpy(raw + 144 + 64, "SN-42", 6);
        std::memcpy(raw + 144 + 128, "IPC-X", 6);
        raw[144 + 160] = 3; raw[144 + 161] = 0; raw[144 + 162] = 0; raw[144 + 163] = 0;

        SearchRecord r;
        std::memcpy(&r, raw, sizeof r);
        QCOMPARE(QString::fromStdString(r.net.ipText()), QStringLiteral("192.168.1.64"));
        QCOMPARE(r.net.portValue(), 0x00018737u);
        QCOMPARE(r.net.loginPort(), uint16_t(0x8737));
        QCOMPARE(QString::fromStdString(r.net.macText()), QStringLiteral("00:11:22:33:44:55"));
        QCOMPARE(QString::fromStdString(r.dev.serialText()), QStringLiteral("SN-42"));
        QCOMPARE(QString::fromStdString(r.dev.modelText()), QStringLiteral("IPC-X"));
        QCOMPARE(r.dev.deviceType(), int32_t(DeviceType::HVR));
        QCOMPARE(std::memcmp(&r, raw, sizeof r), 0);

        LoginInfo info;
        std::memset(&info, 0, sizeof info);
        info.bytes[288] = 16;
        info.bytes[312] = 2;
        info.bytes[316] = 4;
        std::memcpy(info.bytes, "V4.02.R11", 10);
        QCOMPARE(info.videoChannelCount(), 16);
        QCOMPARE(info.loginDeviceType(), 2);
        QCOMPARE(info.audioChannelCount(), 4);
        QCOMPARE(QString::fromStdString(info.versionText()), QStringLiteral("V4.02.R11"));
    }

    void textReadsStopAtTheFieldEnd()
    {
        // A MAC without terminator inside its 35 bytes and a model that fills
        // its field must not run into the following bytes.
        SearchRecord r;
        std::memset(&r, 'Z', sizeof r);
        std::memset(r.net.mac, 'A', sizeof r.net.mac);
        std::memset(r.dev.model, 'M', sizeof r.dev.model);
        std::memset(r.dev.serial, 'S', sizeof r.dev.serial);
        QCOMPARE(r.net.macText(), std::string(35, 'A'));
        QCOMPARE(r.dev.modelText(), std::string(32, 'M'));
        QCOMPARE(r.dev.serialText(), std::string(64, 'S'));
        QCOMPARE(fieldText(r.net.mac).size(), size_t(35));
    }

    void textWritesKeepTheTerminator_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::newRow("short") << "admin" << "admin";
        QTest::newRow("eleven") << "abcdefghijk" << "abcdefghijk";
        QTest::newRow("twelve is cut") << "abcdefghijkl" << "abcdefghijk";
        QTest::newRow("long is cut") << "a-very-long-user-name" << "a-very-long";
        QTest::newRow("empty") << "" << "";
    }
    void textWritesKeepTheTerminator()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        DeviceRecord rec;
        std::memset(&rec, 0x55, sizeof rec);
        rec.setCredentials(text.toStdString(), text.toStdString());
        QCOMPARE(QString::fromStdString(fieldText(rec.userName)), stored);
        QCOMPARE(QString::fromStdString(readFixedText(rec.password, 12)), stored);
        QCOMPARE(rec.userName[11], '\0');
        QCOMPARE(rec.password[11], '\0');
        // Bytes 12..17 of the password are never written.
        QCOMPARE(uint8_t(rec.password[12]), uint8_t(0x55));
    }

    void ipTextHasNoLeadingZeros_data()
    {
        QTest::addColumn<QByteArray>("octets");
        QTest::addColumn<QString>("text");
        QTest::newRow("10.0.0.5") << QByteArray("\x0a\x00\x00\x05", 4) << "10.0.0.5";
        QTest::newRow("255s") << QByteArray("\xff\xff\xff\xff", 4) << "255.255.255.255";
        QTest::newRow("zeros") << QByteArray(4, '\0') << "0.0.0.0";
    }
    void ipTextHasNoLeadingZeros()
    {
        QFETCH(QByteArray, octets);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(octetsText(reinterpret_cast<const uint8_t *>(octets.constData()))), text);
    }

    void duplicatesAndEmptyMacsAreDropped()
    {
        DeviceList list;
        runSearch(list, {record("A", {10, 0, 0, 1}), record("B", {10, 0, 0, 2}),
                         record("A", {10, 0, 0, 3}), record("", {10, 0, 0, 4})});
        QCOMPARE(list.rawCount(), 4);
        QCOMPARE(list.count(), 2);
        QCOMPARE(QString::fromLatin1(list.devices()[0].ipText), QStringLiteral("10.0.0.1"));
        QCOMPARE(QString::fromLatin1(list.devices()[1].ipText), QStringLiteral("10.0.0.2"));
        QCOMPARE(list.devices()[0].port, uint16_t(34567));
        QCOMPARE(QString::fromLatin1(list.devices()[0].userName), QStringLiteral("admin"));
        // The later duplicate is blanked in the network array, not removed.
        QVERIFY(!list.netArray()[2].hasMac());
        QCOMPARE(list.devices()[2].netInfo.hasMac(), false);
    }

    void failedOrEmptySearchRebuildsThePreviousResult_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("answers");
        QTest::newRow("failed") << false << 0;
        QTest::newRow("no bytes") << true << 0;
    }
    void failedOrEmptySearchRebuildsThePreviousResult()
    {
        QFETCH(bool, ok);
        QFETCH(int, answers);
        DeviceList list;
        runSearch(list, {record("A", {10, 0, 0, 1}), record("B", {10, 0, 0, 2})});
        list.devices()[0].loginHandle = 7;
        runSearch(list, std::vector<SearchRecord>(size_t(answers)), ok);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.devices()[0].loginHandle, 0);
        QCOMPARE(QString::fromStdString(list.devices()[1].netInfo.macText()), QStringLiteral("B"));
    }

    void firstEmptySearchGivesAnEmptyList()
    {
        DeviceList list;
        runSearch(list, {}, false);
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.rawCount(), 0);
    }

    void partialRecordsAndOverreportsAreIgnored()
    {
        DeviceList list;
        std::vector<SearchRecord> one{record("A", {1, 2, 3, 4})};
        list.clear();
        std::memcpy(list.searchBuffer(), one.data(), sizeof(SearchRecord));
        list.build(true, int(sizeof(SearchRecord)) + 100, "u", "p");
        QCOMPARE(list.rawCount(), 1);
        // A byte count beyond the buffer never reads past its 256 records.
        list.clear();
        list.build(true, SearchBufferSize * 4, "u", "p");
        QCOMPARE(list.rawCount(), MaxDevices);
    }

    void credentialsReachEveryRecordAndKeepHandles()
    {
        DeviceList list;
        runSearch(list, {record("A", {10, 0, 0, 1}), record("B", {10, 0, 0, 2})});
        list.devices()[1].loginHandle = 42;
        list.setCredentials("installer-long-name", "secret");
        for (int i = 0; i < list.count(); ++i) {
            QCOMPARE(QString::fromLatin1(list.devices()[i].userName), QStringLiteral("installer-l"));
            QCOMPARE(QString::fromLatin1(list.devices()[i].password), QStringLiteral("secret"));
        }
        QCOMPARE(list.devices()[1].loginHandle, 42);
        // Nothing of the old password stays behind its terminator.
        QCOMPARE(list.devices()[0].password[6], '\0');
        QCOMPARE(list.devices()[0].password[7], '\0');
    }

    void logoutAllLogsOutEveryPositiveHandle()
    {
        DeviceList list;
        runSearch(list, {record("A", {10, 0, 0, 1}), record("B", {10, 0, 0, 2}),
                         record("C", {10, 0, 0, 3})});
        list.devices()[0].loginHandle = 5;
        list.devices()[1].loginHandle = -11301; // a failed login holds its code
        list.devices()[2].loginHandle = 9;
        list.devices()[3].loginHandle = 77;      // beyond the count: not a device
        std::vector<int32_t> loggedOut;
        list.logoutAll([&](int32_t h) { loggedOut.push_back(h); });
        QCOMPARE(loggedOut, (std::vector<int32_t>{5, 9}));
        QCOMPARE(list.devices()[0].loginHandle, 0);
        QCOMPARE(list.devices()[1].loginHandle, -11301);
        QCOMPARE(list.devices()[2].loginHandle, 0);
    }

    void sessionsFollowTheirMacThroughASearch()
    {
        DeviceList list;
        runSearch(list, {record("A", {10, 0, 0, 1}), record("B", {10, 0, 0, 2}), record("C", {10, 0, 0, 3})});
        list.devices()[0].loginHandle = 5;
        list.devices()[0].loginInfo.setWord(LoginInfo::VideoChannelCount, 16);
        list.devices()[1].loginHandle = 6;
        list.devices()[2].loginHandle = -11301;
        const uint32_t g = list.generation();

        list.beginSearch();
        QCOMPARE(list.generation(), g + 1);
        // C and A answer, in that order; B is gone.
        runSearch(list, {record("C", {10, 0, 0, 3}), record("A", {10, 0, 0, 1})});
        QCOMPARE(list.indexOfMac("A"), 1);
        QCOMPARE(list.indexOfMac("B"), -1);
        QCOMPARE(list.devices()[1].loginHandle, 5);
        QCOMPARE(list.devices()[1].loginInfo.videoChannelCount(), 16);
        QCOMPARE(list.devices()[0].loginHandle, 0);
        std::vector<int32_t> loggedOut;
        list.releaseOrphanedSessions([&](int32_t h) { loggedOut.push_back(h); });
        QCOMPARE(loggedOut, std::vector<int32_t>{6});
        list.releaseOrphanedSessions([&](int32_t h) { loggedOut.push_back(h); });
        QCOMPARE(loggedOut.size(), std::size_t(1));

        // Without beginSearch() a rebuild keeps no session (and sets none aside).
        runSearch(list, {record("A", {10, 0, 0, 1})});
        QCOMPARE(list.devices()[0].loginHandle, 0);
        list.releaseOrphanedSessions([&](int32_t h) { loggedOut.push_back(h); });
        QCOMPARE(loggedOut.size(), std::size_t(1));
    }

    void fullListOf256UniqueDevices()
    {
        DeviceList list;
        std::vector<SearchRecord> answers;
        for (int i = 0; i < MaxDevices; ++i)
            answers.push_back(record(QByteArray::number(i).constData(), {127, 0, uint8_t(i / 200), uint8_t(i % 200 + 1)}));
        runSearch(list, answers);
        QCOMPARE(list.count(), MaxDevices);
        QCOMPARE(QString::fromStdString(list.devices()[255].netInfo.macText()), QStringLiteral("255"));
    }
};

QTEST_APPLESS_MAIN(TestDeviceRecords)
#include "tst_devicerecords.moc"
