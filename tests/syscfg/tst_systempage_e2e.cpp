// The system page end to end: its save buttons drive the batch engine
// through the real network SDK against an emulated fleet on loopback, and
// the devices' own records are read back from the emulator.

#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <cstring>
#include <vector>

#include "CMultiLanguage.h"
#include "CSystemCFGWidget.h"
#include "ConfigRecords.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "LanguageCopy.h"
#include "ModalHelpers.h"
#include "NetSdk.h"
#include "NetSdkControl.h"

using scoutrix::DeviceRecord;
using scoutrix::SearchRecord;
using scoutrix::devsim::DeviceSpec;
using scoutrix::devsim::Emulator;
using scoutrix::devsim::Fleet;
using testsupport::BoxAnswerer;

namespace {

constexpr int kIndexRole = Qt::UserRole + 1;
constexpr int kOperationRole = Qt::UserRole + 2;

// Five cameras in a block of their own, so suites running at the same time
// never meet them. Their clocks run far from the PC's.
Fleet fleet(int delayMs)
{
    Fleet f;
    for (int n = 1; n <= 5; ++n) {
        DeviceSpec d;
        d.mac = QString::asprintf("02:5B:E0:00:00:%02X", n).toStdString();
        d.serial = "SYS" + std::to_string(100 + n);
        d.model = "SYS-IPC-4M";
        d.type = 2;
        d.ip = (127u << 24) | (0u << 16) | (43u << 8) | uint32_t(10 + n);
        d.gateway = (d.ip & 0xffffff00u) | 1u;
        d.port = 0;
        d.users = {{"admin", "739204"}};
        d.clockOffsetS = -400LL * 86400;
        d.faults.delayMs = delayMs;
        f.devices.push_back(d);
    }
    return f;
}

using fixture::recordOf;

} // namespace

class TestSystemPageE2e : public QObject
{
    Q_OBJECT

private:
    testsupport::LanguageCopy m_language;
    std::unique_ptr<Emulator> m_emulator;
    std::vector<DeviceRecord> m_list;
    std::unique_ptr<CSystemCFGWidget> m_page;

    QTreeWidget *tree() const { return m_page->findChild<QTreeWidget *>("IPTree"); }
    template<typename T = QAbstractButton>
    T *child(const char *name) const { return m_page->findChild<T *>(QLatin1String(name)); }

    bool startFleet(int delayMs)
    {
        m_page.reset();
        m_emulator.reset();
        m_emulator = fixture::start(fleet(delayMs));
        if (!m_emulator)
            return false;
        // The list as a search leaves it, in fleet order.
        m_list.assign(256, DeviceRecord {});
        for (int i = 0; i < m_emulator->deviceCount(); ++i) {
            const auto d = m_emulator->device(i);
            const std::string ip = scoutrix::net::ipv4Text(d.ip);
            DeviceRecord &r = m_list[size_t(i)];
            std::memcpy(r.ipText, ip.c_str(), ip.size() + 1);
            r.port = d.port;
            std::memcpy(r.netInfo.mac, d.mac.c_str(), d.mac.size() + 1);
            for (int b = 0; b < 4; ++b)
                r.netInfo.ip[b] = uint8_t(d.ip >> (24 - 8 * b));
            scoutrix::writeLe32(r.devInfo.type, 2);
            r.setCredentials("admin", "739204");
        }
        m_page = std::make_unique<CSystemCFGWidget>();
        m_page->show();
        m_page->setDeviceList(m_list.data(), m_emulator->deviceCount());
        return true;
    }

    QTreeWidgetItem *deviceItem(int index) const { return tree()->topLevelItem(0)->child(index); }

    bool waitBatch(int ms = 30000)
    {
        QElapsedTimer t;
        t.start();
        while (m_page->batchRunning() && t.elapsed() < ms)
            QTest::qWait(10);
        QTest::qWait(50); // the last queued outcomes
        return !m_page->batchRunning();
    }

    int marks() const
    {
        int n = 0;
        for (int i = 0; i < tree()->topLevelItem(0)->childCount(); ++i)
            n += tree()->itemWidget(deviceItem(i), 1) ? 1 : 0;
        return n;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_language.install());
        CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
        NetSdk_Init(0, 0);
    }

    void cleanup()
    {
        m_page.reset();
        m_emulator.reset();
    }


    void pcTimeReachesEachCheckedDevice()
    {
        QVERIFY(startFleet(0));
        deviceItem(0)->setCheckState(0, Qt::Checked);
        deviceItem(2)->setCheckState(0, Qt::Checked);
        child("btnPCTime")->click();
        QVERIFY(waitBatch());
        QCOMPARE(marks(), 2);
        for (int i : {0, 2}) {
            QCOMPARE(deviceItem(i)->data(1, kOperationRole).toInt(), 11);
            QCOMPARE(tree()->itemWidget(deviceItem(i), 1)->objectName(), QStringLiteral("resultOk"));
            const auto t = recordOf<scoutrix::SystemTimeRecord>(*m_emulator, i, scoutrix::CmdSystemTime);
            const QDateTime device(QDate(t.word(t.Year), t.word(t.Month), t.word(t.Day)),
                                   QTime(t.word(t.Hour), t.word(t.Minute), t.word(t.Second)));
            QVERIFY2(qAbs(device.secsTo(QDateTime::currentDateTime())) < 120,
                     qPrintable(device.toString(Qt::ISODate)));
        }
        // The unchecked device keeps its own clock.
        const auto other = recordOf<scoutrix::SystemTimeRecord>(*m_emulator, 1, scoutrix::CmdSystemTime);
        QVERIFY(other.word(other.Year) < QDate::currentDate().year());
    }

    void ntpWithAQuarterHourZone()
    {
        QVERIFY(startFleet(0));
        deviceItem(1)->setCheckState(0, Qt::Checked);
        child<QLineEdit>("EditServer")->setText(QStringLiteral("ntp.site.lan"));
        child<QLineEdit>("EditPort")->setText(QStringLiteral("1123"));
        child<QLineEdit>("EditCycle")->setText(QStringLiteral("60"));
        auto *zones = child<QComboBox>("cmbTimeZone");
        zones->setCurrentIndex(zones->findText(QStringLiteral("UTC+05:45")));
        child("btnNTP")->click();
        QVERIFY(waitBatch());
        QCOMPARE(deviceItem(1)->data(1, kOperationRole).toInt(), 13);
        QVERIFY(deviceItem(1)->data(1, kIndexRole).toInt() >= 0);
        const auto ntp = recordOf<scoutrix::NtpRecord>(*m_emulator, 1, scoutrix::CmdNtp);
        QVERIFY(ntp.enabled());
        QCOMPARE(ntp.server(), std::string("ntp.site.lan"));
        QCOMPARE(ntp.word(ntp.Port), 1123);
        QCOMPARE(ntp.word(ntp.Period), 60);
        QCOMPARE(ntp.word(ntp.ZoneIndex), 9);
        const auto zone = recordOf<scoutrix::TimeZoneRecord>(*m_emulator, 1, scoutrix::CmdTimeZone);
        QCOMPARE(zone.word(zone.MinutesWest), -345);
    }

    void servicesAskOnceAndSayTheAddressMayChange()
    {
        QVERIFY(startFleet(0));
        tree()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        deviceItem(4)->setCheckState(0, Qt::Unchecked);
        child("m_btnOnvif")->setChecked(false);
        BoxAnswerer boxes(QMessageBox::Yes);
        child("btnNetConfigSave")->click();
        QVERIFY(waitBatch());
        QTRY_COMPARE(boxes.count, 2); // the question, then the warning once
        QCOMPARE(boxes.lastText, CMultiLanguage::text(QStringLiteral("IP address has been modified!")));
        QCOMPARE(marks(), 4);
        for (int i = 0; i < 4; ++i) {
            const auto onvif = recordOf<scoutrix::OnvifRecord>(*m_emulator, i, scoutrix::CmdOnvif);
            QCOMPARE(onvif.word(onvif.Enable), 0);
            QCOMPARE(tree()->itemWidget(deviceItem(i), 1)->objectName(), QStringLiteral("resultOk"));
            // Both outcomes are kept for the notice.
            const auto *outcome = m_page->outcomeFor(deviceItem(i)->data(0, Qt::UserRole + 3).toString());
            QVERIFY(outcome);
            QCOMPARE(outcome->steps.size(), 2);
        }
        const auto untouched = recordOf<scoutrix::OnvifRecord>(*m_emulator, 4, scoutrix::CmdOnvif);
        QCOMPARE(untouched.word(untouched.Enable), 1);
    }

    void cancelStopsBeforeTheNextDevice()
    {
        // Slow devices, one at a time: the batch is cancelled after the first.
        QVERIFY(startFleet(60));
        m_page->batch().setJobs(1);
        tree()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        child("btnPCTime")->click();
        QVERIFY(m_page->batchRunning());
        QTRY_VERIFY_WITH_TIMEOUT(marks() >= 1, 20000);
        child("btnCancel")->click();
        QVERIFY(waitBatch());
        const int done = marks();
        QVERIFY2(done >= 1 && done <= 2, qPrintable(QString::number(done)));
        // The devices never started keep their clocks.
        const auto last = recordOf<scoutrix::SystemTimeRecord>(*m_emulator, 4, scoutrix::CmdSystemTime);
        QVERIFY(last.word(last.Year) < QDate::currentDate().year());
        QVERIFY(!tree()->itemWidget(deviceItem(4), 1));

        // Closing the page during a batch cancels it and waits for the
        // device under way.
        child("btnPCTime")->click();
        QVERIFY(m_page->batchRunning());
        m_page->shutdown();
        QVERIFY(!m_page->batchRunning());
    }
};

QTEST_MAIN(TestSystemPageE2e)
#include "tst_systempage_e2e.moc"
