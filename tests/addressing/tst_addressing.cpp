// Address changes, the octet editors, the details card and the web login.

#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "AddressPlan.h"
#include "AppPaths.h"
#include "CChangerIPDlg.h"
#include "CDetailsDlg.h"
#include "CIPLineEdit.h"
#include "CIPSearch.h"
#include "CMultiLanguage.h"
#include "COneIPLineEdit.h"
#include "CToolTips.h"
#include "CPortTable.h"
#include "FakeNetSdk.h"
#include "LanguageCopy.h"
#include "SegmentMovePlan.h"
#include "ModalHelpers.h"
#include "WebLogin.h"

using AddressPlan::Octets;
using scoutrix::NetInfo;

namespace {

NetInfo record(const char *mac, std::initializer_list<uint8_t> ip)
{
    const std::vector<uint8_t> o(ip);
    NetInfo n = fakesdk::makeRecord(mac, o.data(), 2).net;
    const uint8_t mask[4] = {255, 255, 255, 0};
    std::memcpy(n.mask, mask, 4);
    n.gateway[0] = o[0];
    n.gateway[1] = o[1];
    n.gateway[2] = o[2];
    n.gateway[3] = 1;
    // Bytes the program never interprets: they must go back as they came.
    for (size_t i = 0; i < sizeof n.reserved0; ++i)
        n.reserved0[i] = uint8_t(i * 7 + 3);
    n.reserved84[5] = 0xA5;
    return n;
}

QString ipOf(const QByteArray &sent)
{
    NetInfo n;
    std::memcpy(&n, sent.constData(), sizeof n);
    return QString::fromStdString(n.ipText());
}

void setSdkResults(QVector<int32_t> results)
{
    fakesdk::reset();
    QMutexLocker lock(&fakesdk::state().mutex);
    fakesdk::state().setResults = std::move(results);
}

std::string s(const Octets &o) { return AddressPlan::text(o); }

// Found devices from address texts; "" is a blank entry of the search.
std::vector<NetInfo> found(const QStringList &addresses)
{
    std::vector<NetInfo> out;
    for (int i = 0; i < addresses.size(); ++i) {
        if (addresses[i].isEmpty()) {
            out.push_back(NetInfo{});
            continue;
        }
        const QStringList p = addresses[i].split('.');
        const QByteArray mac = QStringLiteral("02:00:00:00:%1:%2").arg(i / 256, 2, 16, QLatin1Char('0'))
                                   .arg(i % 256, 2, 16, QLatin1Char('0')).toLatin1();
        out.push_back(record(mac.constData(), {uint8_t(p[0].toInt()), uint8_t(p[1].toInt()),
                                               uint8_t(p[2].toInt()), uint8_t(p[3].toInt())}));
    }
    return out;
}

// A plan step as text: "move 10.0.0.7", "device 1", "move-by 0", "pc", "host", "in", "-".
QString describe(const SegmentMovePlan::Step &st)
{
    using A = SegmentMovePlan::Action;
    switch (st.action) {
    case A::NoDevice: return QStringLiteral("-");
    case A::InSegment: return QStringLiteral("in");
    case A::Move: return QStringLiteral("move ") + QString::fromStdString(AddressPlan::text(st.to));
    case A::InUseByDevice: return QStringLiteral("device %1").arg(st.holder);
    case A::InUseByMove: return QStringLiteral("move-by %1").arg(st.holder);
    case A::InUseByPc: return QStringLiteral("pc");
    case A::NotHostAddress: return QStringLiteral("host");
    }
    return QString();
}

} // namespace

class TestAddressing : public QObject
{
    Q_OBJECT
    testsupport::LanguageCopy m_lang;

private slots:
    void initTestCase()
    {
        QVERIFY(m_lang.install());
    }
    void cleanup() { WebLogin::setOpener({}); }

    void batchRuns()
    {
        const Octets first = {192, 168, 1, 100};
        QCOMPARE(s(AddressPlan::batchAddress(first, 0, false)), std::string("192.168.1.100"));
        QCOMPARE(s(AddressPlan::batchAddress(first, 2, false)), std::string("192.168.1.102"));
        QCOMPARE(s(AddressPlan::batchAddress(first, 2, true)), std::string("192.168.1.100"));
        // The run stays inside the last octet: 254, 255, 0, 1.
        const Octets high = {10, 0, 0, 254};
        QStringList run;
        for (int i = 0; i < 4; ++i)
            run << QString::fromStdString(s(AddressPlan::batchAddress(high, i, false)));
        QCOMPARE(run, QStringList({"10.0.0.254", "10.0.0.255", "10.0.0.0", "10.0.0.1"}));
        QCOMPARE(s(AddressPlan::fromValues(256 + 10, -1, 0, 300)), std::string("10.255.0.44"));
    }

    void warnings()
    {
        const Octets mask24 = {255, 255, 255, 0};
        auto w = AddressPlan::check({10, 0, 0, 254}, mask24, {10, 0, 0, 1}, 4, false);
        QVERIFY(!w.maskNotContiguous && !w.gatewayOutsideSubnet);
        QCOMPARE(int(w.reservedAddresses.size()), 2);
        QCOMPARE(s(w.reservedAddresses[0]), std::string("10.0.0.255"));
        QCOMPARE(s(w.reservedAddresses[1]), std::string("10.0.0.0"));
        // Same address for all: only that one address counts.
        QVERIFY(!AddressPlan::check({10, 0, 0, 254}, mask24, {10, 0, 0, 1}, 4, true).any());
        // A /16 has hosts at .255 and .0 of its inner /24s.
        QVERIFY(!AddressPlan::check({10, 0, 1, 254}, {255, 255, 0, 0}, {10, 0, 0, 1}, 4, false).any());

        QVERIFY(AddressPlan::check({10, 0, 0, 5}, {255, 0, 255, 0}, {0, 0, 0, 0}, 1, false).maskNotContiguous);
        QVERIFY(AddressPlan::isContiguousMask({255, 255, 255, 255}));
        QVERIFY(AddressPlan::isContiguousMask({0, 0, 0, 0}));
        QVERIFY(!AddressPlan::isContiguousMask({255, 255, 255, 1}));
        QVERIFY(AddressPlan::check({10, 0, 0, 5}, mask24, {10, 0, 1, 1}, 1, false).gatewayOutsideSubnet);
        QVERIFY(!AddressPlan::check({10, 0, 0, 5}, mask24, {0, 0, 0, 0}, 1, false).any());
        // A point-to-point /31 has no network or broadcast address.
        QVERIFY(AddressPlan::check({10, 0, 0, 0}, {255, 255, 255, 254}, {0, 0, 0, 0}, 2, false)
                    .reservedAddresses.empty());
    }

    void segmentMovePlan_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("in the segment stays") << QStringList{"10.0.0.5"} << QStringList{"in"};
        QTest::newRow("foreign moves, last octet kept")
            << QStringList{"192.168.1.7", "10.0.0.5"} << QStringList{"move 10.0.0.7", "in"};
        QTest::newRow("target held by a device listed later")
            << QStringList{"192.168.1.5", "10.0.0.5"} << QStringList{"device 1", "in"};
        QTest::newRow("target held by a device listed earlier")
            << QStringList{"10.0.0.5", "192.168.1.5"} << QStringList{"in", "device 0"};
        QTest::newRow("same last octet in two segments")
            << QStringList{"192.168.1.7", "172.16.0.7"} << QStringList{"move 10.0.0.7", "move-by 0"};
        QTest::newRow("three factory defaults on one address")
            << QStringList{"192.168.1.108", "192.168.1.108", "192.168.1.108"}
            << QStringList{"move 10.0.0.108", "move-by 0", "move-by 0"};
        // A skipped device claims nothing: the next one is skipped because
        // of the device holding the address, not because of it.
        QTest::newRow("skips claim nothing")
            << QStringList{"192.168.1.5", "172.16.0.5", "10.0.0.5"} << QStringList{"device 2", "device 2", "in"};
        QTest::newRow("the PC's own address") << QStringList{"192.168.1.9"} << QStringList{"pc"};
        QTest::newRow("network and broadcast")
            << QStringList{"172.16.1.255", "172.16.2.0", "172.16.2.254"}
            << QStringList{"host", "host", "move 10.0.0.254"};
        QTest::newRow("blank entries are no holders")
            << QStringList{"", "192.168.1.0", "192.168.1.3"} << QStringList{"-", "host", "move 10.0.0.3"};
        QTest::newRow("a device on the PC's address elsewhere is only foreign")
            << QStringList{"192.168.1.9", "10.0.0.9"} << QStringList{"pc", "in"};
    }
    void segmentMovePlan()
    {
        QFETCH(QStringList, devices);
        QFETCH(QStringList, expected);
        const std::vector<NetInfo> net = found(devices);
        const uint8_t segment[3] = {10, 0, 0};
        const SegmentMovePlan plan(net.data(), int(net.size()), segment, {Octets{10, 0, 0, 9}});
        QStringList got;
        for (const auto &st : plan.steps())
            got << describe(st);
        QCOMPARE(got, expected);
        int moves = 0, skips = 0;
        for (const auto &st : plan.steps()) {
            moves += st.action == SegmentMovePlan::Action::Move;
            skips += st.isSkip();
        }
        QCOMPARE(plan.moveCount(), moves);
        QCOMPARE(plan.inUseCount() + plan.notHostCount(), skips);
        QCOMPARE(plan.foreignCount(), moves + skips);
    }

    void segmentMoveRecordKeepsEverythingElse()
    {
        std::vector<NetInfo> net = found({"192.168.1.7", "192.168.2.8"});
        const uint8_t noGateway[4] = {0, 0, 0, 0};
        std::memcpy(net[1].gateway, noGateway, 4);
        const uint8_t segment[3] = {127, 0, 10};
        const SegmentMovePlan plan(net.data(), 2, segment);
        QCOMPARE(plan.segmentText(), std::string("127.0.10"));
        const NetInfo moved = SegmentMovePlan::movedRecord(net[0], plan.step(0));
        QCOMPARE(QString::fromStdString(moved.ipText()), QStringLiteral("127.0.10.7"));
        QCOMPARE(scoutrix::octetsText(moved.gateway), std::string("127.0.10.1"));
        QCOMPARE(scoutrix::octetsText(moved.mask), std::string("255.255.255.0"));
        QVERIFY(std::memcmp(moved.reserved0, net[0].reserved0, sizeof moved.reserved0) == 0);
        QVERIFY(std::memcmp(moved.reserved84, net[0].reserved84, sizeof moved.reserved84) == 0);
        QCOMPARE(moved.macText(), net[0].macText());
        // No gateway before, none after (not 127.0.10.0).
        const NetInfo bare = SegmentMovePlan::movedRecord(net[1], plan.step(1));
        QCOMPARE(scoutrix::octetsText(bare.gateway), std::string("0.0.0.0"));
    }

    // Whatever the fleet, carrying the plan out never puts two devices on
    // one address that were not sharing one already.
    void segmentMoveNeverSharesAnAddress_data()
    {
        QTest::addColumn<int>("seed");
        for (int seed = 1; seed <= 6; ++seed)
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }
    void segmentMoveNeverSharesAnAddress()
    {
        QFETCH(int, seed);
        QRandomGenerator rng{quint32(seed)};
        QStringList devices;
        QSet<QString> inSegment;
        for (int i = 0; i < 256; ++i) {
            // Few segments and few host numbers: plenty of collisions.
            const int third = 10 + int(rng.bounded(4));
            const int host = 1 + int(rng.bounded(60));
            const QString a = QStringLiteral("127.0.%1.%2").arg(third).arg(host);
            if (third == 10 && inSegment.contains(a)) {
                --i;
                continue;
            }
            if (third == 10)
                inSegment.insert(a);
            devices << a;
        }
        const std::vector<NetInfo> net = found(devices);
        const uint8_t segment[3] = {127, 0, 10};
        const SegmentMovePlan plan(net.data(), int(net.size()), segment);
        QMap<QString, int> after;
        for (int i = 0; i < int(net.size()); ++i) {
            const auto &st = plan.step(i);
            if (st.action == SegmentMovePlan::Action::Move || st.action == SegmentMovePlan::Action::InSegment)
                ++after[QString::fromStdString(AddressPlan::text(st.to))];
            else
                ++after[devices[i]];
        }
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (it.key().startsWith(QLatin1String("127.0.10.")))
                QVERIFY2(it.value() == 1, qPrintable(it.key()));
        }
        QVERIFY(plan.moveCount() > 0 && plan.inUseCount() > 0);
    }

    // The generated fleet of 256: 127.0.10.x and 127.0.11.x share host
    // numbers 11..91, 127.0.20.x uses 101..185.
    void segmentMoveOfTheGeneratedFleet()
    {
        QStringList devices;
        int inA = 0, inB = 0;
        for (int i = 0; i < 256; ++i) {
            if (i % 3 == 2) {
                const int k = inB++;
                devices << QStringLiteral("127.0.%1.%2").arg(20 + k / 90).arg(101 + k % 90);
            } else {
                const int k = inA++;
                devices << QStringLiteral("127.0.%1.%2").arg(10 + k / 90).arg(11 + k % 90);
            }
        }
        const std::vector<NetInfo> net = found(devices);
        const uint8_t segment[3] = {127, 0, 10};
        const SegmentMovePlan plan(net.data(), 256, segment, {Octets{127, 0, 10, 1}});
        QCOMPARE(plan.moveCount(), 85);
        QCOMPARE(plan.inUseCount(), 81);
        QCOMPARE(plan.foreignCount(), 166);
        for (int i = 0; i < 256; ++i) {
            if (devices[i].startsWith(QLatin1String("127.0.11.")))
                QCOMPARE(plan.step(i).action, SegmentMovePlan::Action::InUseByDevice);
        }
    }

    void octetEditorMovesOnWhenNoDigitCanFollow()
    {
        CIPLineEdit edit;
        edit.resize(200, 28);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        edit.activateWindow();
        edit.setFocus();
        QTRY_VERIFY(edit.octet(0)->hasFocus());

        QTest::keyClicks(edit.octet(0), QStringLiteral("26"));
        QTRY_VERIFY(edit.octet(1)->hasFocus());
        QCOMPARE(edit.getOctet(0), 26);

        QTest::keyClicks(edit.octet(1), QStringLiteral("25"));
        QVERIFY(edit.octet(1)->hasFocus());
        QTest::keyClicks(edit.octet(1), QStringLiteral("5"));
        QTRY_VERIFY(edit.octet(2)->hasFocus());
        QCOMPARE(edit.getOctet(1), 255);

        QTest::keyClicks(edit.octet(2), QStringLiteral("30"));
        QTRY_VERIFY(edit.octet(3)->hasFocus());
        QTest::keyClicks(edit.octet(3), QStringLiteral("199"));
        QVERIFY(edit.octet(3)->hasFocus());
        QCOMPARE(edit.getOctet(3), 199);
    }

    void octetEditorValuesAndLoneZero()
    {
        CIPLineEdit edit;
        QCOMPARE(edit.getOctet(4), -1);
        QCOMPARE(edit.getOctet(-1), -1);
        QVERIFY(!edit.setOctet(7, -1));
        QVERIFY(!edit.setOctet(7, 4));
        QVERIFY(edit.setOctet(0, 2));
        QCOMPARE(edit.octet(2)->text(), QStringLiteral("0"));
        // An empty octet counts as 0.
        QCOMPARE(edit.getOctet(1), 0);

        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        edit.octet(2)->setFocus();
        edit.octet(2)->end(false);
        QTest::keyClick(edit.octet(2), Qt::Key_7);
        QCOMPARE(edit.octet(2)->text(), QStringLiteral("7"));

        // Over 255 never gets in.
        edit.octet(1)->clear();
        edit.octet(1)->setFocus();
        QTest::keyClicks(edit.octet(1), QStringLiteral("256"));
        QVERIFY(edit.getOctet(1) <= 255);
    }

    void singleChangeSendsTheRecordBack()
    {
        setSdkResults({0});
        NetInfo device = record("aa:01", {192, 168, 1, 20});
        const NetInfo before = device;
        CChangerIPDlg dialog;
        dialog.setUp(&device, 7, false, 0);
        QCOMPARE(dialog.findChild<QLabel *>("labDeviceNum")->text(), QStringLiteral("1"));
        QVERIFY(dialog.findChild<QCheckBox *>("checkSameIP")->isHidden());
        QCOMPARE(dialog.ipEdit()->getOctet(3), 20);
        QCOMPARE(dialog.maskEdit()->getOctet(0), 255);

        dialog.ipEdit()->setOctet(64, 3);
        dialog.gatewayEdit()->setOctet(254, 3);
        QSignalSpy results(&dialog, &CChangerIPDlg::ChangerIPResult);
        dialog.slot_OK();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(results.count(), 1);
        QCOMPARE(results[0][0].toInt(), 0);
        QCOMPARE(results[0][1].toInt(), 7);
        QCOMPARE(results[0][2].toString(), QStringLiteral("192.168.1.64"));

        const fakesdk::SetCall call = fakesdk::state().setCalls.at(0);
        QCOMPARE(call.command, 20);
        QCOMPARE(call.channel, -1);
        QCOMPARE(call.record.size(), 144);
        QCOMPARE(call.timeoutMs, 10000);
        NetInfo sent;
        std::memcpy(&sent, call.record.constData(), sizeof sent);
        QCOMPARE(QString::fromStdString(sent.ipText()), QStringLiteral("192.168.1.64"));
        QCOMPARE(sent.gateway[3], uint8_t(254));
        QVERIFY(std::memcmp(sent.reserved0, before.reserved0, sizeof sent.reserved0) == 0);
        QVERIFY(std::memcmp(sent.reserved84, before.reserved84, sizeof sent.reserved84) == 0);
        QCOMPARE(sent.macText(), std::string("aa:01"));
        QCOMPARE(device.ip[3], uint8_t(64));
    }

    void refusedChangeKeepsTheOldAddress()
    {
        setSdkResults({-10005});
        NetInfo device = record("aa:01", {192, 168, 1, 20});
        CChangerIPDlg dialog;
        dialog.setUp(&device, 0, false, 0);
        dialog.ipEdit()->setOctet(99, 3);
        dialog.slot_OK();
        QCOMPARE(QString::fromStdString(device.ipText()), QStringLiteral("192.168.1.20"));
    }

    void batchChange_data()
    {
        QTest::addColumn<bool>("same");
        QTest::addColumn<int>("last");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("consecutive") << false << 100
                                     << QStringList({"192.168.1.100", "192.168.1.101", "192.168.1.102"});
        QTest::newRow("same address") << true << 100
                                      << QStringList({"192.168.1.100", "192.168.1.100", "192.168.1.100"});
        QTest::newRow("wraps in the last octet") << false << 254
                                                 << QStringList({"192.168.1.254", "192.168.1.255", "192.168.1.0"});
    }
    void batchChange()
    {
        QFETCH(bool, same);
        QFETCH(int, last);
        QFETCH(QStringList, sent);
        setSdkResults({0, -1, 0});
        NetInfo devices[3] = {record("aa:01", {10, 0, 0, 1}), record("aa:02", {10, 0, 0, 2}),
                              record("aa:03", {10, 0, 0, 3})};
        CChangerIPDlg dialog;
        dialog.setUp(devices, 1, true, 3);
        QCOMPARE(dialog.findChild<QLabel *>("labDeviceNum")->text(), QStringLiteral("3"));
        QVERIFY(!dialog.findChild<QCheckBox *>("checkSameIP")->isHidden());
        dialog.findChild<QCheckBox *>("checkSameIP")->setChecked(same);
        for (int i = 0; i < 3; ++i)
            dialog.ipEdit()->setOctet(QList<int>({192, 168, 1})[i], i);
        dialog.ipEdit()->setOctet(last, 3);
        QSignalSpy results(&dialog, &CChangerIPDlg::ChangerIPResult);
        dialog.slot_OK();

        QStringList out;
        for (const fakesdk::SetCall &call : fakesdk::state().setCalls)
            out << ipOf(call.record);
        QCOMPARE(out, sent);
        QCOMPARE(results.count(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(results[i][1].toInt(), i);
            QCOMPARE(results[i][2].toString(), sent[i]);
        }
        QCOMPARE(results[1][0].toInt(), -1);
    }

    void emptyOctetIsSentAsZero()
    {
        setSdkResults({0});
        NetInfo device = record("aa:01", {10, 0, 0, 9});
        CChangerIPDlg dialog;
        dialog.setUp(&device, 0, false, 0);
        dialog.ipEdit()->octet(2)->clear();
        dialog.slot_OK();
        QCOMPARE(ipOf(fakesdk::state().setCalls.at(0).record), QStringLiteral("10.0.0.9"));
    }

    void warningLineDoesNotBlock()
    {
        setSdkResults({0, 0, 0, 0});
        NetInfo devices[4] = {record("aa:01", {10, 0, 0, 1}), record("aa:02", {10, 0, 0, 2}),
                              record("aa:03", {10, 0, 0, 3}), record("aa:04", {10, 0, 0, 4})};
        CChangerIPDlg dialog;
        dialog.setUp(devices, 1, true, 4);
        QVERIFY(dialog.warningText().isEmpty());
        dialog.ipEdit()->setOctet(254, 3);
        QVERIFY(dialog.warningText().contains(QStringLiteral("10.0.0.255")));
        QVERIFY(dialog.warningText().contains(QStringLiteral("10.0.0.0")));
        dialog.maskEdit()->setOctet(0, 2);
        dialog.maskEdit()->setOctet(255, 3);
        QVERIFY(dialog.warningText().contains(CMultiLanguage::text("The subnet mask is not a contiguous mask.")));
        dialog.maskEdit()->setOctet(255, 2);
        dialog.maskEdit()->setOctet(0, 3);
        dialog.gatewayEdit()->setOctet(9, 2);
        QVERIFY(dialog.warningText().contains(CMultiLanguage::text("The gateway is outside the address's subnet.")));
        dialog.slot_OK();
        QCOMPARE(fakesdk::state().setCalls.size(), 4);
    }

    void oneCheckedRowOpensTheSingleForm()
    {
        setSdkResults({0});
        CIPSearch page;
        NetInfo net[2] = {record("aa:01", {10, 0, 0, 1}), record("aa:02", {10, 0, 0, 2})};
        scoutrix::DevInfo dev[2] = {};
        page.setDevices(net, dev, 2);
        page.table()->item(1, 0)->setCheckState(Qt::Checked);
        QString count;
        bool sameShown = true;
        testsupport::ModalHandler<CChangerIPDlg> handler([&](CChangerIPDlg *d) {
            count = d->findChild<QLabel *>("labDeviceNum")->text();
            sameShown = !d->findChild<QCheckBox *>("checkSameIP")->isHidden();
            d->ipEdit()->setOctet(50, 3);
            d->slot_OK();
        });
        page.findChild<QPushButton *>("m_BtnModify")->click();
        QCOMPARE(count, QStringLiteral("1"));
        QVERIFY(!sameShown);
        // Channel 0 maps back to the checked row, row 1.
        QWidget *cell = page.table()->cellWidget(1, CIPSearch::ColIP);
        QVERIFY(cell && cell->findChild<QPushButton *>("resultOk"));
        QCOMPARE(page.table()->item(1, CIPSearch::ColIP)->text(), QStringLiteral("10.0.0.50"));
        QVERIFY(!page.table()->cellWidget(0, CIPSearch::ColIP));
        // The table's record follows what the device accepted.
        QCOMPARE(QString::fromStdString(page.netInfo(1).ipText()), QStringLiteral("10.0.0.50"));
        QCOMPARE(QString::fromStdString(page.netInfo(0).ipText()), QStringLiteral("10.0.0.1"));
    }

    void rowChangeAndItsNotice()
    {
        CIPSearch page;
        NetInfo net[1] = {record("aa:01", {10, 0, 0, 7})};
        scoutrix::DevInfo dev[1] = {};
        page.setDevices(net, dev, 1);
        auto change = [&](int32_t sdkResult) {
            setSdkResults({sdkResult});
            testsupport::ModalHandler<CChangerIPDlg> handler([](CChangerIPDlg *d) {
                d->ipEdit()->setOctet(99, 3);
                d->slot_OK();
            });
            page.table()->cellWidget(0, CIPSearch::ColOperate)->findChild<QPushButton *>("btnModify")->click();
        };
        auto notice = [&](const char *markName) {
            QString text;
            testsupport::ModalHandler<CToolTips> handler([&](CToolTips *t) {
                text = t->resultText();
                t->OnClose();
            });
            page.table()->cellWidget(0, CIPSearch::ColIP)->findChild<QPushButton *>(markName)->click();
            return text;
        };

        // Refused: the table still knows the device at its old address, and
        // the notice says it failed.
        change(-10005);
        QCOMPARE(QString::fromStdString(page.netInfo(0).ipText()), QStringLiteral("10.0.0.7"));
        QCOMPARE(page.table()->item(0, CIPSearch::ColIP)->text(), QStringLiteral("10.0.0.7"));
        QCOMPARE(notice("resultError"), CMultiLanguage::text("Time out"));

        // Taken: the new address, and the notice says so.
        change(0);
        QCOMPARE(QString::fromStdString(page.netInfo(0).ipText()), QStringLiteral("10.0.0.99"));
        QCOMPARE(notice("resultOk"), CMultiLanguage::text("successful"));
    }

    void detailsCard()
    {
        scoutrix::DeviceRecord r {};
        r.netInfo = record("00:12:34:56:78:9a", {192, 168, 1, 64});
        r.netInfo.setPortValue(34567);
        scoutrix::setFieldText(r.devInfo.model, "IPC-Dome-4");
        scoutrix::setFieldText(r.devInfo.serial, "SN000123");
        r.devInfo.setDeviceType(2);
        CDetailsDlg card(nullptr, r);
        QCOMPARE(card.size(), QSize(416, 364));
        QCOMPARE(card.value("labType2"), QStringLiteral("IPC"));
        QCOMPARE(card.value("labMode2"), QStringLiteral("IPC-Dome-4"));
        QCOMPARE(card.value("labPort2"), QStringLiteral("34567"));
        QCOMPARE(card.value("labMac2"), QStringLiteral("00:12:34:56:78:9a"));
        QCOMPARE(card.value("labMac"), QStringLiteral("MAC"));
        QCOMPARE(card.value("labSubmask2"), QStringLiteral("255.255.255.0"));
        QCOMPARE(card.value("labGateway2"), QStringLiteral("192.168.1.1"));
        QCOMPARE(card.value("labSiera2"), QStringLiteral("SN000123"));

        r.devInfo.setDeviceType(7);
        CDetailsDlg unknown(nullptr, r);
        QCOMPARE(unknown.value("labType2"), QStringLiteral("-"));

        // A device's texts are shown as sent, never rendered as markup.
        scoutrix::setFieldText(r.devInfo.model, "<img src=x><b>X</b>");
        CDetailsDlg hostile(nullptr, r);
        const QLabel *model = hostile.findChild<QLabel *>(QStringLiteral("labMode2"));
        QVERIFY(model);
        QCOMPARE(model->textFormat(), Qt::PlainText);
        QCOMPARE(model->text(), QStringLiteral("<img src=x><b>X</b>"));
    }

    void webLoginOpensExactlyTheAddress()
    {
        QCOMPARE(WebLogin::address(QStringLiteral("192.168.1.64")), QStringLiteral("http://192.168.1.64"));
        QList<QUrl> opened;
        WebLogin::setOpener([&](const QUrl &url) { opened << url; });
        CIPSearch page;
        NetInfo net[1] = {record("aa:01", {192, 168, 1, 64})};
        scoutrix::DevInfo dev[1] = {};
        page.setDevices(net, dev, 1);
        page.table()->cellWidget(0, CIPSearch::ColOperate)->findChild<QPushButton *>("btnlogin")->click();
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0].toString(), QStringLiteral("http://192.168.1.64"));
    }

    void detailsFromTheTableRow()
    {
        CIPSearch page;
        NetInfo net[1] = {record("aa:01", {192, 168, 1, 64})};
        scoutrix::DevInfo dev[1] = {};
        dev[0].setDeviceType(1);
        page.setDevices(net, dev, 1);
        QString type;
        testsupport::ModalHandler<CDetailsDlg> handler([&](CDetailsDlg *d) {
            type = d->value("labType2");
            d->OnClose();
        });
        page.table()->cellWidget(0, CIPSearch::ColOperate)->findChild<QPushButton *>("btnDetailed")->click();
        QCOMPARE(type, QStringLiteral("NVR"));
    }

    // One table holds both kinds of device under the same columns; the
    // protocol is on each cell's tooltip and in the card, looked up by the
    // row's own MAC text.
    void protocolShownOnHoverAndInTheCard()
    {
        fakesdk::reset();
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().onvifMacs.insert(QStringLiteral("u0123456789abcdef0123456789abcdef"));
        }
        CIPSearch page;
        NetInfo net[2] = {record("aa:01", {192, 168, 1, 64}),
                          record("u0123456789abcdef0123456789abcdef", {192, 168, 1, 65})};
        scoutrix::DevInfo dev[2] = {};
        page.setDevices(net, dev, 2);
        const QString own = CMultiLanguage::text(QStringLiteral("Protocol.Tip.Own"));
        const QString onvif = CMultiLanguage::text(QStringLiteral("Protocol.Tip.Onvif"));
        QVERIFY(own != onvif);
        for (int column : {CIPSearch::ColModel, CIPSearch::ColIP, CIPSearch::ColMac}) {
            QCOMPARE(page.table()->item(0, column)->toolTip(), own);
            QCOMPARE(page.table()->item(1, column)->toolTip(), onvif);
        }
        QStringList shown;
        testsupport::ModalHandler<CDetailsDlg> handler([&](CDetailsDlg *d) {
            shown << d->value("labProtocol2");
            d->OnClose();
        });
        for (int row : {0, 1})
            page.table()->cellWidget(row, CIPSearch::ColOperate)->findChild<QPushButton *>("btnDetailed")->click();
        QCOMPARE(shown, QStringList({CMultiLanguage::text(QStringLiteral("Protocol.Own")),
                                     CMultiLanguage::text(QStringLiteral("Protocol.Onvif"))}));
        fakesdk::reset();
    }
};

QTEST_MAIN(TestAddressing)
#include "tst_addressing.moc"
