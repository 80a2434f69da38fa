// What the configuration page decides without a window: the words for login
// errors, the tree's groups and filter, and save-result operation ids.

#include <QtTest>

#include <cstring>
#include <vector>

#include "ConfigPageLogic.h"
#include "LoginBinding.h"

using namespace scoutrix;

namespace {

DeviceRecord device(uint8_t a, uint8_t b, uint8_t c, uint8_t d, int32_t type, const char *mac = "")
{
    DeviceRecord r;
    std::memset(&r, 0, sizeof r);
    const uint8_t ip[4] = {a, b, c, d};
    std::memcpy(r.netInfo.ip, ip, 4);
    r.devInfo.setDeviceType(type);
    setFieldText(r.netInfo.mac, mac);
    return r;
}

QVector<int> indices(const DeviceGroup &g) { return QVector<int>(g.devices.begin(), g.devices.end()); }

} // namespace

class TestConfigLogic : public QObject
{
    Q_OBJECT

private slots:
    void loginErrorWords_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("key");
        QTest::newRow("0") << 0 << "NetError";
        QTest::newRow("7") << 7 << "SystemBusy";
        QTest::newRow("-10005") << -10005 << "Timeout";
        QTest::newRow("-11301") << -11301 << "PasswdError";
        QTest::newRow("-11302") << -11302 << "UserNotExisted";
        QTest::newRow("-11303") << -11303 << "Locked";
        QTest::newRow("-11304") << -11304 << "InBlackList";
        QTest::newRow("-11305") << -11305 << "InUsed";
        QTest::newRow("-11306") << -11306 << "UnknowError";
        QTest::newRow("-11307") << -11307 << "NotFound";
        QTest::newRow("-11317") << -11317 << "UNINIT";
        QTest::newRow("-1") << -1 << "UnknowError";
        QTest::newRow("1") << 1 << "UnknowError";
    }
    void loginErrorWords()
    {
        QFETCH(int, code);
        QFETCH(QString, key);
        QCOMPARE(QString::fromLatin1(loginErrorKey(code)), key);
    }

    void groupsAppearInTheOrderOfTheirFirstDevice()
    {
        std::vector<DeviceRecord> list = {device(10, 0, 0, 1, 0), device(10, 0, 0, 2, 1),
                                          device(10, 0, 0, 3, 3), device(10, 0, 0, 4, 7)};
        auto groups = groupDevices(list.data(), int(list.size()));
        QCOMPARE(groups.size(), std::size_t(1));  // DVR, NVR, HVR and unnamed types share one
        QVERIFY(!groups[0].ipc);
        QCOMPARE(indices(groups[0]), (QVector<int>{0, 1, 2, 3}));

        list = {device(10, 0, 0, 1, 2), device(10, 0, 0, 2, 0), device(10, 0, 0, 3, 2)};
        groups = groupDevices(list.data(), int(list.size()));
        QCOMPARE(groups.size(), std::size_t(2));
        QVERIFY(groups[0].ipc);
        QCOMPARE(indices(groups[0]), (QVector<int>{0, 2}));
        QCOMPARE(indices(groups[1]), (QVector<int>{1}));

        QVERIFY(groupDevices(nullptr, 3).empty());
    }

    void filterMatchesAnyPartOfTheAddress_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QVector<int>>("kept");
        QTest::newRow("prefix matches the longer address") << "192.168.1.1" << QVector<int>{0, 1};
        QTest::newRow("middle") << "168.1." << QVector<int>{0, 1, 2};
        QTest::newRow("empty matches all") << "" << QVector<int>{0, 1, 2, 3};
        QTest::newRow("none") << "172." << QVector<int>{};
        QTest::newRow("no leading zeros") << "192.168.001" << QVector<int>{};
    }
    void filterMatchesAnyPartOfTheAddress()
    {
        QFETCH(QString, filter);
        QFETCH(QVector<int>, kept);
        std::vector<DeviceRecord> list = {device(192, 168, 1, 1, 2), device(192, 168, 1, 10, 0),
                                          device(192, 168, 1, 2, 2), device(10, 0, 0, 1, 0)};
        const std::string f = filter.toStdString();
        QVector<int> found;
        for (const DeviceGroup &g : groupDevices(list.data(), int(list.size()), &f))
            found += indices(g);
        std::sort(found.begin(), found.end());
        QCOMPARE(found, kept);
    }

    void onlyCredentialErrorsAskForCredentials_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("asks");
        QTest::newRow("wrong password") << -11301 << true;
        QTest::newRow("unknown user") << -11302 << true;
        QTest::newRow("not reachable") << 0 << false;
        QTest::newRow("busy") << 7 << false;
        QTest::newRow("timeout") << -10005 << false;
        QTest::newRow("locked") << -11303 << false;
        QTest::newRow("black list") << -11304 << false;
        QTest::newRow("in use") << -11305 << false;
        QTest::newRow("unknown") << -11306 << false;
        QTest::newRow("uninitialised") << -11317 << false;
    }
    void onlyCredentialErrorsAskForCredentials()
    {
        QFETCH(int, code);
        QFETCH(bool, asks);
        QCOMPARE(loginErrorAsksForCredentials(code), asks);
    }

    void requestCopiesTheRecord()
    {
        DeviceRecord d = device(127, 0, 31, 12, 1, "02:00:00:00:00:0B");
        setFieldText(d.ipText, "127.0.31.12");
        d.port = 34567;
        d.setCredentials("admin", "secret");
        d.loginHandle = 42;
        const LoginRequest r = makeLoginRequest(d, 3, 9);
        QCOMPARE(r.sequence, uint64_t(9));
        QCOMPARE(r.generation, uint32_t(3));
        QCOMPARE(QString::fromStdString(r.mac), QStringLiteral("02:00:00:00:00:0B"));
        QCOMPARE(QString::fromStdString(r.ip), QStringLiteral("127.0.31.12"));
        QCOMPARE(r.port, uint16_t(34567));
        QCOMPARE(QString::fromStdString(r.user), QStringLiteral("admin"));
        QCOMPARE(QString::fromStdString(r.password), QStringLiteral("secret"));
        QCOMPARE(r.previousHandle, 42);
    }

    void loginResultsGoToTheirDevice_data()
    {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<uint>("generation");
        QTest::addColumn<bool>("rebuilding");
        QTest::addColumn<int>("handle");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("logout");
        // The list holds A, B, C under generation 5.
        QTest::newRow("current") << "B" << 5u << false << 100 << 1 << false;
        QTest::newRow("current failure") << "C" << 5u << false << -1 << 2 << false;
        QTest::newRow("older generation") << "B" << 4u << false << 100 << -1 << true;
        QTest::newRow("older generation, failed") << "B" << 4u << false << 0 << -1 << false;
        QTest::newRow("list being rebuilt") << "B" << 5u << true << 100 << -1 << true;
        QTest::newRow("device gone") << "D" << 5u << false << 100 << -1 << true;
        QTest::newRow("no MAC") << "" << 5u << false << 100 << -1 << true;
    }
    void loginResultsGoToTheirDevice()
    {
        QFETCH(QString, mac);
        QFETCH(uint, generation);
        QFETCH(bool, rebuilding);
        QFETCH(int, handle);
        QFETCH(int, index);
        QFETCH(bool, logout);
        std::vector<DeviceRecord> list = {device(10, 0, 0, 1, 2, "A"), device(10, 0, 0, 2, 2, "B"),
                                          device(10, 0, 0, 3, 0, "C")};
        LoginResult r;
        r.mac = mac.toStdString();
        r.generation = generation;
        r.handle = handle;
        const LoginPlacement p = placeLoginResult(r, 5, rebuilding, list.data(), int(list.size()));
        QCOMPARE(p.index, index);
        QCOMPARE(p.logout, logout);
        QCOMPARE(placeLoginResult(r, 5, rebuilding, nullptr, 0).index, -1);
    }

    void saveOperationIds()
    {
        QCOMPARE(saveOperationId(EncodePage), 15);
        QCOMPARE(saveOperationId(CameraPage), 21);
        QCOMPARE(saveOperationId(AudioPage), 27);
        QCOMPARE(saveOperationId(StartPage), 15);
    }
};

QTEST_APPLESS_MAIN(TestConfigLogic)
#include "tst_configlogic.moc"
