// What the configuration page decides without a window: the words for login
// errors, the tree's groups and filter, and save-result operation ids.

#include <QtTest>

#include <cstring>
#include <vector>

#include "ConfigPageLogic.h"

using namespace scoutrix;

namespace {

DeviceRecord device(uint8_t a, uint8_t b, uint8_t c, uint8_t d, int32_t type)
{
    DeviceRecord r;
    std::memset(&r, 0, sizeof r);
    const uint8_t ip[4] = {a, b, c, d};
    std::memcpy(r.netInfo.ip, ip, 4);
    r.devInfo.setDeviceType(type);
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
