// The camera page against emulated cameras on loopback through the real SDK
// and player: what the camera holds after a save, byte for byte, and a page
// that comes and goes while pictures are arriving.

#include <QtTest>

#include <QCheckBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstring>

#include "ActivityLog.h"
#include "CCameraParam.h"
#include "CMultiLanguage.h"
#include "CViewWnd.h"
#include "ConfigRecords.h"
#include "EmulatorFixture.h"
#include "PlaySdk.h"
#include "PlaySdkControl.h"
#include "PlayerView.h"
#include "WidgetFind.h"

using namespace scoutrix;

namespace {

std::vector<uint8_t> held(const devsim::Emulator &e, int device, int32_t command)
{
    std::vector<uint8_t> out;
    e.record(device, command, 0, out);
    return out;
}

int64_t framesDrawn()
{
    play::PlayerView *v = play::portView();
    return v ? v->framesDrawn() : 0;
}

bool playerPortFree()
{
    static const char header = 0;
    if (!PlaySdk_OpenStream(0, &header, 1, 7680000))
        return false;
    PlaySdk_CloseStream(0);
    return true;
}

} // namespace

class TestCameraDevice : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<devsim::Emulator> m_emu;
    DeviceRecord m_records[2];

private slots:
    void initTestCase()
    {
        qputenv("SCOUTRIX_NETSDK_LOOPBACK_ONLY", "1");
        CMultiLanguage::setLanguageDir(QStringLiteral(SCOUTRIX_SOURCE_DIR "/Language"));
        NetSdk_Init(0, 0);
        devsim::Fleet fleet = devsim::generatedFleet(2);
        for (devsim::DeviceSpec &d : fleet.devices) {
            d.type = 2;
            d.channels = 1;
            d.audioChannels = 1;
        }
        fleet.devices[0].model = "SX-IPC-5M"; // dual light, focus, WDR
        fleet.devices[1].model = "SX-IPC-4M";
        fleet.devices[1].lightModes = 0; // no fill light
        m_emu = fixture::start(fleet);
        QVERIFY(m_emu);
        for (int i = 0; i < 2; ++i) {
            DeviceRecord &r = m_records[i];
            std::memset(&r, 0, sizeof r);
            r.loginHandle = fixture::login(*m_emu, i, "739204", nullptr, &r.loginInfo);
            QVERIFY(r.loginHandle > 0);
            setFieldText(r.ipText, fixture::ip(m_emu->device(i).ip));
            setFieldText(r.netInfo.mac, m_emu->device(i).mac);
        }
    }

    void cleanupTestCase()
    {
        for (const DeviceRecord &r : m_records) {
            if (r.loginHandle > 0)
                NetSdk_Logout(r.loginHandle);
        }
        m_emu.reset();
    }

    void anUnchangedSaveLeavesTheCameraAsItWas()
    {
        const auto image = held(*m_emu, 0, CmdImage);
        const auto exposure = held(*m_emu, 0, CmdExposure);
        const auto light = held(*m_emu, 0, CmdLightMode);
        QCOMPARE(image.size(), sizeof(ImageRecord));
        QCOMPARE(light.size(), sizeof(LightModeRecord));
        CCameraParam page;
        QSignalSpy result(&page, &CCameraParam::sig_SetCameraResult);
        page.setDevice(m_records[0]);
        QVERIFY(page.settings().loaded());
        QVERIFY(page.settings().focusOffered() && page.settings().wdrOffered());
        QCOMPARE(int(page.settings().lightMask()), 7);
        QTest::mouseClick(testsupport::child<QPushButton>(&page, "m_btnSave"), Qt::LeftButton);
        QCOMPARE(result.count(), 1);
        QCOMPARE(result[0][0].toInt(), 0);
        QVERIFY(held(*m_emu, 0, CmdImage) == image);
        QVERIFY(held(*m_emu, 0, CmdExposure) == exposure);
        QVERIFY(held(*m_emu, 0, CmdLightMode) == light);
    }

    void aCameraWithoutFillLightGetsTwoRecords()
    {
        QTemporaryDir dir;
        const QString previous = ActivityLog::instance().directory();
        ActivityLog::instance().setDirectory(dir.path());
        CCameraParam page;
        QSignalSpy result(&page, &CCameraParam::sig_SetCameraResult);
        page.setDevice(m_records[1]);
        auto *tabs = testsupport::child<QTabWidget>(&page, "tabWidget");
        QCOMPARE(tabs->count(), 2);
        testsupport::child<QCheckBox>(&page, "ckbRoll")->setChecked(true);
        QTest::mouseClick(testsupport::child<QPushButton>(&page, "m_btnSave"), Qt::LeftButton);
        const QVector<ActivityEntry> entries = ActivityLog::instance().entries(QDate::currentDate());
        ActivityLog::instance().setDirectory(previous);
        QCOMPARE(result.count(), 1);
        QCOMPARE(result[0][0].toInt(), 0);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(int(held(*m_emu, 1, CmdImage)[ImageRecord::Roll]), 1);
        QVERIFY(held(*m_emu, 1, CmdLightMode).empty());
        QCOMPARE(entries[1].mac, QString::fromStdString(m_emu->device(1).mac));
    }

    void pagesComingAndGoingWhilePicturesArriveAreSafe()
    {
        // Each page is destroyed while its stream still delivers: after the
        // stop nothing may reach it, and the port is free for the next one.
        for (int round = 0; round < 6; ++round) {
            auto page = std::make_unique<CCameraParam>();
            page->resize(640, 480);
            page->setDevice(m_records[round % 2]);
            page->show();
            QVERIFY(page->streamHandle() > 0);
            QTRY_VERIFY_WITH_TIMEOUT(framesDrawn() > 0, 10000);
            if (round % 3 == 2)
                page->hide();
            page.reset();
            QVERIFY(!play::portView());
            QVERIFY(playerPortFree());
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_emu->stats().liveStreams, 0, 5000);
    }

    void aStreamThatCannotStartLeavesTheViewEmptyAndThePortFree()
    {
        DeviceRecord gone = m_records[0];
        gone.loginHandle = fixture::login(*m_emu, 0);
        QVERIFY(gone.loginHandle > 0);
        CCameraParam page;
        page.setDevice(gone);
        NetSdk_Logout(gone.loginHandle); // the session is gone before the page shows
        page.show();
        QCOMPARE(page.streamHandle(), 0);
        QVERIFY(!play::portView());
        QVERIFY(playerPortFree());
        QVERIFY(!page.view()->message().isEmpty());
    }

    void aStreamThatStopsIsSaidOnTheView()
    {
        DeviceRecord record = m_records[1];
        record.loginHandle = fixture::login(*m_emu, 1);
        QVERIFY(record.loginHandle > 0);
        CCameraParam page;
        page.resize(640, 480);
        page.setDevice(record);
        page.show();
        QTRY_VERIFY_WITH_TIMEOUT(framesDrawn() > 0, 10000);
        QVERIFY(!play::portView()->stalled());
        // The session ends under the page: pictures stop, the view says so.
        NetSdk_Logout(record.loginHandle);
        QTRY_VERIFY_WITH_TIMEOUT(play::portView() && play::portView()->stalled(), 3000);
        page.hide();
        QVERIFY(playerPortFree());
    }
};

QTEST_MAIN(TestCameraDevice)
#include "tst_cameradevice.moc"
