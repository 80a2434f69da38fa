// The camera page against the recording SDK double, and its logic alone:
// which records are read and written in which order, that every byte the
// page does not edit goes back as read, which controls a camera's records
// show, and the preview's start and stop around the page being shown.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstring>
#include <map>

#include "ActivityLog.h"
#include "CCameraParam.h"
#include "CMultiLanguage.h"
#include "CViewWnd.h"
#include "CameraSettings.h"
#include "EncodeDevice.h"
#include "FakeNetSdk.h"
#include "WidgetFind.h"
#include "NetSdk.h"
#include "PlaySdk.h"
#include "PlaySdkControl.h"
#include "ResultTexts.h"

using namespace scoutrix;

namespace {

constexpr int32_t kIpc = 2;

// A camera's four records with noise in every byte the page leaves alone,
// so that a byte lost or invented on the way back shows.
struct CameraRecords
{
    ImageRecord image;
    ImageCapsRecord caps;
    ExposureRecord exposure;
    LightModeRecord light;

    explicit CameraRecords(uint8_t lightMask = 1, uint8_t nightHeader = 0, uint8_t wdr = 0)
    {
        QRandomGenerator noise(0x5C0u + lightMask * 7u + nightHeader * 3u + wdr);
        const auto scramble = [&noise](uint8_t *p, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i)
                p[i] = uint8_t(noise.bounded(256));
        };
        scramble(image.bytes, sizeof image.bytes);
        scramble(caps.bytes, sizeof caps.bytes);
        scramble(exposure.bytes, sizeof exposure.bytes);
        scramble(light.bytes, sizeof light.bytes);
        const uint8_t imageValues[8] = { 1, 25, 1, 0, 0, 0, 0, wdr };
        std::memcpy(image.bytes, imageValues, 8);
        caps.bytes[ImageCapsRecord::FocusOffered] = 1;
        caps.bytes[ImageCapsRecord::WdrOffered] = 1;
        caps.bytes[ImageCapsRecord::ModeMask] = lightMask;
        exposure.bytes[ExposureRecord::NightBlock] = nightHeader;
        for (int b = 0; b < ExposureRecord::Blocks; ++b) {
            uint8_t *p = exposure.block(b);
            writeLe32(p + ExposureRecord::Mode, 0);
            writeLe32(p + ExposureRecord::LimitFirst, 40001 + uint32_t(b)); // not multiples of 1000
            writeLe32(p + ExposureRecord::LimitSecond, 1234);
            p[ExposureRecord::Balance] = 0;
            p[ExposureRecord::AntiFlicker] = 0;
            p[ExposureRecord::Sensitivity] = uint8_t(2 + b);
            p[ExposureRecord::BackLight] = 0;
            writeLe16(p + ExposureRecord::Ae, uint16_t(100 + 10 * b));
            p[ExposureRecord::NoiseGrade] = uint8_t(b + 1);
        }
        const uint8_t lightValues[6] = { 0, 0, 0, 20, 60, 0 };
        std::memcpy(light.bytes, lightValues, 6);
    }

    QByteArray bytes(int32_t command) const
    {
        switch (command) {
        case CmdImage: return fakesdk::bytesOf(image);
        case CmdImageCaps: return fakesdk::bytesOf(caps);
        case CmdExposure: return fakesdk::bytesOf(exposure);
        case CmdLightMode: return fakesdk::bytesOf(light);
        }
        return {};
    }

    void install() const
    {
        QMutexLocker lock(&fakesdk::state().mutex);
        for (int32_t c : { CmdImage, CmdImageCaps, CmdExposure, CmdLightMode })
            fakesdk::state().configs[c] = bytes(c);
    }
};

// The settings' own reads and writes, without the SDK.
struct Device
{
    std::map<int32_t, QByteArray> records;
    std::map<int32_t, int32_t> getResults;
    QVector<int32_t> setResults;
    QVector<int32_t> gets;
    QVector<QPair<int32_t, QByteArray>> sets;

    explicit Device(const CameraRecords &r)
    {
        for (int32_t c : { CmdImage, CmdImageCaps, CmdExposure, CmdLightMode })
            records[c] = r.bytes(c);
    }

    CameraSettings::Getter getter()
    {
        return [this](int32_t command, void *buffer, int32_t size, int32_t *bytes) {
            gets << command;
            *bytes = 0;
            if (getResults.count(command) && getResults[command] < 0)
                return getResults[command];
            const QByteArray &r = records[command];
            const int n = std::min(size, int32_t(r.size()));
            std::memcpy(buffer, r.constData(), std::size_t(n));
            *bytes = n;
            return int32_t(0);
        };
    }

    CameraSettings::Setter setter()
    {
        return [this](int32_t command, const void *record, int32_t size) {
            sets << qMakePair(command, QByteArray(static_cast<const char *>(record), size));
            const int i = sets.size() - 1;
            return i < setResults.size() ? setResults[i] : int32_t(0);
        };
    }

    QVector<int32_t> setCommands() const
    {
        QVector<int32_t> out;
        for (const auto &s : sets)
            out << s.first;
        return out;
    }
};

DeviceRecord camera(const char *mac, uint8_t last, int32_t handle)
{
    DeviceRecord d = testdevice::deviceRecord(mac, 10, 0, 0, last, kIpc);
    d.loginHandle = handle;
    d.loginInfo = fakesdk::makeLoginInfo(1, kIpc, 1);
    return d;
}

bool playerPortFree()
{
    static const char header = 0;
    if (!PlaySdk_OpenStream(0, &header, 1, 7680000))
        return false;
    PlaySdk_CloseStream(0);
    return true;
}

QVector<fakesdk::Call::Kind> streamCalls()
{
    QVector<fakesdk::Call::Kind> out;
    for (const fakesdk::Call &c : fakesdk::state().calls) {
        if (c.kind >= fakesdk::Call::StreamStart)
            out << c.kind;
    }
    return out;
}

} // namespace

class TestCameraPage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CCameraParam> m_page;

    template<typename T>
    T *w(const char *name) const
    {
        return testsupport::child<T>(m_page.get(), name);
    }

    void open(const DeviceRecord &d, bool shown = false)
    {
        if (!m_page)
            m_page = std::make_unique<CCameraParam>();
        m_page->setDevice(d);
        if (shown)
            m_page->show();
    }

    int visibleTabs() const
    {
        auto *tabs = w<QTabWidget>("tabWidget");
        int n = 0;
        for (int i = 0; i < tabs->count(); ++i)
            n += tabs->isTabVisible(i) ? 1 : 0;
        // A removed tab is gone, not merely hidden.
        return n == tabs->count() ? n : -1;
    }

    QVector<int32_t> setCommands() const
    {
        QVector<int32_t> out;
        for (const fakesdk::ConfigSetCall &c : fakesdk::state().configSetCalls)
            out << c.command;
        return out;
    }

private slots:
    void initTestCase()
    {
        CMultiLanguage::setLanguageDir(QStringLiteral(SCOUTRIX_SOURCE_DIR "/Language"));
        QDir::setCurrent(QStringLiteral(SCOUTRIX_DATA_DIR));
    }

    void init() { fakesdk::reset(); }
    void cleanup() { m_page.reset(); }

    // --- the logic alone ---

    void readsOnlyWhatTheCameraHasAndKeepsTheLastWholeRead()
    {
        Device noLight(CameraRecords(0));
        CameraSettings s;
        QCOMPARE(s.read(noLight.getter()), 0);
        QCOMPARE(noLight.gets, (QVector<int32_t>{ 78, 135, 134 }));
        QVERIFY(s.loaded() && !s.hasFillLight());

        Device lit(CameraRecords(7));
        CameraSettings t;
        t.read(lit.getter());
        QCOMPARE(lit.gets, (QVector<int32_t>{ 78, 135, 134, 172 }));
        QCOMPARE(t.shown().lightTime, 20);

        // A failure stops the reads; what was loaded before stays.
        lit.gets.clear();
        lit.getResults[CmdImageCaps] = NETSDK_ERR_TIMEOUT;
        lit.records[CmdImage][int(ImageRecord::Mirror)] = 1;
        QCOMPARE(t.read(lit.getter()), int32_t(NETSDK_ERR_TIMEOUT));
        QCOMPARE(lit.gets, (QVector<int32_t>{ 78, 135 }));
        QVERIFY(t.loaded());
        QVERIFY(!t.shown().mirror);

        // A record shorter than its size is no record: its missing bytes
        // would go back as zeros.
        Device shortLight(CameraRecords(1));
        shortLight.records[CmdLightMode].truncate(100);
        CameraSettings u;
        QVERIFY(u.read(shortLight.getter()) < 0);
        QVERIFY(!u.loaded());
        QVERIFY(!u.save(u.shown(), shortLight.setter()).signalled());
        QVERIFY(shortLight.sets.isEmpty());
    }

    void theExposureControlsEditTheChosenBlock_data()
    {
        QTest::addColumn<int>("header");
        QTest::addColumn<int>("wdr");
        QTest::addColumn<int>("block");
        QTest::newRow("day") << 0 << 0 << 0;
        QTest::newRow("night header") << 1 << 0 << 1;
        QTest::newRow("wide dynamic range") << 0 << 1 << 2;
        QTest::newRow("both") << 5 << 1 << 3;
    }

    void theExposureControlsEditTheChosenBlock()
    {
        QFETCH(int, header);
        QFETCH(int, wdr);
        QFETCH(int, block);
        const CameraRecords r(1, uint8_t(header), uint8_t(wdr));
        Device d(r);
        CameraSettings s;
        s.read(d.getter());
        QCOMPARE(s.exposureBlock(), block);
        CameraValues v = s.shown();
        QCOMPARE(v.sensitivity, 2 + block);
        QCOMPARE(v.ae, 100 + 10 * block);
        const int gradeBase = block >= 2 ? 2 : 0;
        QCOMPARE(v.dayNoiseGrade, gradeBase + 1);
        QCOMPARE(v.nightNoiseGrade, gradeBase + 2);

        v.exposureMode = 3;
        v.ae = 200;
        v.backLight = 1;
        v.dayNoiseGrade = 5;
        v.nightNoiseGrade = 0;
        const ExposureRecord out = s.exposureFor(v);
        for (std::size_t i = 0; i < sizeof out.bytes; ++i) {
            const std::size_t inBlock = (i - 4) % ExposureRecord::BlockBytes;
            const int owner = i < 4 ? -1 : int((i - 4) / ExposureRecord::BlockBytes);
            const bool edited = (owner == block
                                 && (inBlock < 4 || inBlock == ExposureRecord::Ae || inBlock == ExposureRecord::Ae + 1
                                     || inBlock == ExposureRecord::BackLight))
                || ((owner == gradeBase || owner == gradeBase + 1) && inBlock == ExposureRecord::NoiseGrade);
            if (!edited)
                QVERIFY2(out.bytes[i] == r.exposure.bytes[i], qPrintable(QStringLiteral("byte %1 moved").arg(i)));
        }
        QCOMPARE(int32_t(readLe32(out.block(block) + ExposureRecord::Mode)), 3);
        QCOMPARE(int(int16_t(readLe16(out.block(block) + ExposureRecord::Ae))), 200);
        QCOMPARE(int(out.block(gradeBase)[ExposureRecord::NoiseGrade]), 5);
        QCOMPARE(int(out.block(gradeBase + 1)[ExposureRecord::NoiseGrade]), 0);
        // The limits stay what the camera gave, whichever the mode.
        QCOMPARE(readLe32(out.block(block) + ExposureRecord::LimitFirst), 40001u + uint32_t(block));
        QCOMPARE(readLe32(out.block(block) + ExposureRecord::LimitSecond), 1234u);
    }

    void anUnchangedSaveSendsBackEveryByteAsRead()
    {
        CameraRecords r(7, 1, 1);
        // Values no control can show survive too.
        r.image.bytes[ImageRecord::DayNight] = 9;
        r.image.bytes[ImageRecord::DncSensitivity] = 0;
        writeLe32(r.exposure.block(3) + ExposureRecord::Mode, 12);
        writeLe16(r.exposure.block(3) + ExposureRecord::Ae, uint16_t(int16_t(-4)));
        r.light.bytes[LightModeRecord::Brightness] = 3;
        Device d(r);
        CameraSettings s;
        s.read(d.getter());
        const CameraSettings::SaveOutcome o = s.save(s.shown(), d.setter());
        QVERIFY(o.signalled());
        QCOMPARE(d.setCommands(), (QVector<int32_t>{ 78, 134, 172 }));
        QCOMPARE(d.sets[0].second, r.bytes(CmdImage));
        QCOMPARE(d.sets[1].second, r.bytes(CmdExposure));
        QCOMPARE(d.sets[2].second, r.bytes(CmdLightMode));
    }

    void theSaveGoesOnAfterEachSuccessAndStopsAtAFailure_data()
    {
        QTest::addColumn<int>("lightMask");
        QTest::addColumn<QVector<int32_t>>("results");
        QTest::addColumn<QVector<int32_t>>("written");
        QTest::addColumn<int>("signalled");
        const QVector<int32_t> all{ 78, 134, 172 };
        QTest::newRow("all succeed") << 1 << QVector<int32_t>{ 0, 0, 0 } << all << 0;
        QTest::newRow("image refused") << 1 << QVector<int32_t>{ -1 } << QVector<int32_t>{ 78 } << -1;
        QTest::newRow("exposure refused") << 1 << QVector<int32_t>{ 0, -3 } << QVector<int32_t>{ 78, 134 } << -3;
        QTest::newRow("light refused") << 1 << QVector<int32_t>{ 0, 0, -1 } << all << -1;
        QTest::newRow("restart asked") << 1 << QVector<int32_t>{ int32_t(NETSDK_ERR_NEED_REBOOT), 0, 0 } << all << 0;
        QTest::newRow("no fill light") << 0 << QVector<int32_t>{ 0, 0 } << QVector<int32_t>{ 78, 134 } << 0;
    }

    void theSaveGoesOnAfterEachSuccessAndStopsAtAFailure()
    {
        QFETCH(int, lightMask);
        QFETCH(QVector<int32_t>, results);
        QFETCH(QVector<int32_t>, written);
        QFETCH(int, signalled);
        Device d{ CameraRecords(uint8_t(lightMask)) };
        d.setResults = results;
        CameraSettings s;
        s.read(d.getter());
        CameraValues v = s.shown();
        v.mirror = true;
        const CameraSettings::SaveOutcome o = s.save(v, d.setter());
        QCOMPARE(d.setCommands(), written);
        QVERIFY(o.signalled());
        QCOMPARE(o.result, signalled);
        QCOMPARE(int(o.writes.size()), written.size());
        QVERIFY(o.writes[0].before.find("mirror off") != std::string::npos);
        QVERIFY(o.writes[0].after.find("mirror on") != std::string::npos);
        // What the camera took is the next save's base.
        QCOMPARE(s.shown().mirror, results[0] >= 0 || results[0] == NETSDK_ERR_NEED_REBOOT);
    }

    void aLightTypeTheCameraLacksIsNotWritten()
    {
        Device d{ CameraRecords(LightCapsRecord::InfraredBit | LightCapsRecord::FullColorBit) };
        CameraSettings s;
        s.read(d.getter());
        QVERIFY(s.supportsLightType(LightModeRecord::FullColor));
        QVERIFY(!s.supportsLightType(LightModeRecord::Dual));
        CameraValues v = s.shown();
        v.lightType = LightModeRecord::Dual;
        const CameraSettings::SaveOutcome o = s.save(v, d.setter());
        QCOMPARE(d.setCommands(), (QVector<int32_t>{ 78, 134 }));
        QVERIFY(o.lightRefused);
        QVERIFY(!o.signalled());
    }

    void fillLightControls_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("flash");
        QTest::addColumn<int>("dimming");
        QTest::addColumn<bool>("dual");
        QTest::addColumn<bool>("dimmingShown");
        QTest::addColumn<bool>("brightnessShown");
        QTest::newRow("infrared") << 0 << 1 << 0 << false << false << false;
        QTest::newRow("full colour") << 1 << 0 << 0 << false << true << true;
        QTest::newRow("full colour, auto dimming") << 1 << 0 << 1 << false << true << false;
        QTest::newRow("dual, infrared at night") << 2 << 0 << 0 << true << false << false;
        QTest::newRow("dual, full colour at night") << 2 << 1 << 0 << true << true << true;
        QTest::newRow("dual, full colour, auto dimming") << 2 << 1 << 1 << true << true << false;
        QTest::newRow("dual, smart") << 2 << 2 << 0 << true << false << false;
    }

    void fillLightControls()
    {
        QFETCH(int, type);
        QFETCH(int, flash);
        QFETCH(int, dimming);
        const LightControls c = lightControlsFor(type, flash, dimming);
        QTEST(c.dualLight, "dual");
        QTEST(c.dimming, "dimmingShown");
        QTEST(c.brightness, "brightnessShown");
    }

    void theViewKeepsSixteenByNine()
    {
        QCOMPARE(fit16by9(800, 300), std::make_pair(533, 300));
        QCOMPARE(fit16by9(640, 480), std::make_pair(640, 360));
        QCOMPARE(fit16by9(1920, 1080), std::make_pair(1920, 1080));
        QCOMPARE(fit16by9(0, 0), std::make_pair(0, 0));
    }

    // --- the page ---

    void aCameraWithoutFillLightShowsTwoTabsAndWritesTwoRecords()
    {
        QTemporaryDir dir;
        const QString previous = ActivityLog::instance().directory();
        ActivityLog::instance().setDirectory(dir.path());
        CameraRecords(0).install();
        open(camera("A", 7, 100));
        QCOMPARE(visibleTabs(), 2);
        const auto gets = fakesdk::state().getCalls;
        QCOMPARE(gets.size(), 3);
        for (const fakesdk::GetCall &g : gets) {
            QCOMPARE(g.handle, 100);
            QCOMPARE(g.channel, 0);
            QCOMPARE(g.timeoutMs, 1000);
        }
        QSignalSpy result(m_page.get(), &CCameraParam::sig_SetCameraResult);
        w<QCheckBox>("ckbRoll")->setChecked(true);
        QTest::mouseClick(w<QPushButton>("m_btnSave"), Qt::LeftButton);
        QCOMPARE(setCommands(), (QVector<int32_t>{ 78, 134 }));
        QCOMPARE(result.count(), 1);
        QCOMPARE(result[0][0].toInt(), 0);
        QCOMPARE(result[0][1].value<long>(), 100L);
        const QVector<ActivityEntry> entries = ActivityLog::instance().entries(QDate::currentDate());
        ActivityLog::instance().setDirectory(previous);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].operation, int(ResultTexts::OpCamera));
        QVERIFY(entries[0].oldValue.contains("roll off"));
        QVERIFY(entries[0].newValue.contains("roll on"));

        // The next camera has fill light: its tab comes back.
        fakesdk::reset();
        CameraRecords(4).install();
        open(camera("B", 8, 101));
        QCOMPARE(visibleTabs(), 3);
    }

    void theControlsFollowTheCamerasRecords()
    {
        CameraRecords r(LightCapsRecord::DualBit);
        r.caps.bytes[ImageCapsRecord::FocusOffered] = 2; // only 1 offers it
        r.light.bytes[LightModeRecord::Type] = LightModeRecord::Dual;
        r.light.bytes[LightModeRecord::FlashMode] = 0;
        r.light.bytes[LightModeRecord::Dimming] = 1;
        r.install();
        open(camera("A", 7, 100));
        QVERIFY(w<QComboBox>("cmbFocusMode")->isHidden());
        QVERIFY(!w<QComboBox>("cmbWDR")->isHidden());
        QCOMPARE(w<QComboBox>("cmbExposure")->count(), 9);
        QCOMPARE(w<QComboBox>("cmbExposure")->itemData(8).toInt(), 8);
        QCOMPARE(w<QSlider>("sldLightTime")->value(), 20);
        QCOMPARE(w<QLabel>("label")->text(), QStringLiteral("20"));
        // Dual light lighting infrared at night: no dimming, no brightness.
        QVERIFY(!w<QComboBox>("cmbFLashMode")->isHidden());
        QVERIFY(w<QComboBox>("cmbDimming")->isHidden());
        QVERIFY(w<QSlider>("SldLightBrightness")->isHidden());
        // Full colour at night with automatic dimming: dimming only.
        w<QComboBox>("cmbFLashMode")->setCurrentIndex(1);
        emit w<QComboBox>("cmbFLashMode")->activated(1);
        QVERIFY(!w<QComboBox>("cmbDimming")->isHidden());
        QVERIFY(w<QSlider>("SldLightBrightness")->isHidden());
        w<QComboBox>("cmbDimming")->setCurrentIndex(0);
        emit w<QComboBox>("cmbDimming")->activated(0);
        QVERIFY(!w<QSlider>("SldLightBrightness")->isHidden());
        QVERIFY(!w<QLabel>("label_2")->isHidden());
        // Infrared hides all of the dual light's controls.
        w<QComboBox>("cmbLightMode")->setCurrentIndex(0);
        emit w<QComboBox>("cmbLightMode")->activated(0);
        QVERIFY(w<QComboBox>("cmbFLashMode")->isHidden());
        QVERIFY(w<QSlider>("sldLightTime")->isHidden());
        QVERIFY(w<QComboBox>("cmbDimming")->isHidden());

        // Infrared is not this camera's: image and exposure are written, the
        // light record is not, and the page says so instead of a result.
        QSignalSpy result(m_page.get(), &CCameraParam::sig_SetCameraResult);
        QTest::mouseClick(w<QPushButton>("m_btnSave"), Qt::LeftButton);
        QCOMPARE(setCommands(), (QVector<int32_t>{ 78, 134 }));
        QCOMPARE(result.count(), 0);
        QCOMPARE(w<QLabel>("labNotice")->text(), CMultiLanguage::text("Error.NoSupport"));
    }

    void aCameraThatCannotBeReadIsNeverWrittenWithAnotherCamerasValues()
    {
        CameraRecords(1).install();
        open(camera("A", 7, 100));
        w<QCheckBox>("ckbMirror")->setChecked(true);
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().getResults[CmdExposure] = NETSDK_ERR_TIMEOUT;
        }
        QSignalSpy result(m_page.get(), &CCameraParam::sig_SetCameraResult);
        open(camera("B", 8, 101));
        QVERIFY(!w<QPushButton>("m_btnSave")->isEnabled());
        QVERIFY(!w<QLabel>("labReadError")->isHidden());
        QCOMPARE(w<QLabel>("labReadError")->text(), CMultiLanguage::text("Camera.ReadTimeout"));
        m_page->slot_save();
        QVERIFY(fakesdk::state().configSetCalls.isEmpty());
        QCOMPARE(result.count(), 0);

        // Read again once the camera answers: the page is usable.
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().getResults.clear();
        }
        QTest::mouseClick(w<QPushButton>("m_btnRefresh"), Qt::LeftButton);
        QVERIFY(w<QPushButton>("m_btnSave")->isEnabled());
        QVERIFY(w<QLabel>("labReadError")->isHidden());
        QVERIFY(!w<QCheckBox>("ckbMirror")->isChecked());
    }

    void thePreviewRunsWhileThePageIsShown()
    {
        CameraRecords(1).install();
        fakesdk::state().streamStartResult = 77;
        open(camera("A", 7, 100), true);
        QTRY_COMPARE(m_page->streamHandle(), 77);
        QVERIFY(!playerPortFree());
        m_page->hide();
        QCOMPARE(m_page->streamHandle(), 0);
        QVERIFY(playerPortFree());
        using K = fakesdk::Call;
        QCOMPARE(streamCalls(), (QVector<K::Kind>{ K::StreamStart, K::StreamCallbackSet, K::StreamCallbackClear,
                                                  K::StreamStop }));
        // Shown again: a new stream; destroyed while it runs: stopped first.
        m_page->show();
        QCOMPARE(m_page->streamHandle(), 77);
        m_page.reset();
        QVERIFY(playerPortFree());
        QCOMPARE(streamCalls().size(), 8);
        QCOMPARE(streamCalls().last(), K::StreamStop);
    }

    void aStreamThatCannotStartLeavesTheViewEmptyAndThePortFree()
    {
        CameraRecords(1).install();
        fakesdk::state().streamStartResult = NETSDK_ERR_NOT_SUPPORTED;
        open(camera("A", 7, 100), true);
        QCOMPARE(m_page->streamHandle(), 0);
        QVERIFY(!play::portView());
        QVERIFY(playerPortFree());
        QCOMPARE(m_page->view()->message(), CMultiLanguage::text("Preview.NoStream").arg(NETSDK_ERR_NOT_SUPPORTED));
        using K = fakesdk::Call;
        QCOMPARE(streamCalls(), (QVector<K::Kind>{ K::StreamStart }));
        // Hiding has nothing left to stop.
        m_page->hide();
        QCOMPARE(streamCalls().size(), 1);
    }
};

QTEST_MAIN(TestCameraPage)
#include "tst_camerapage.moc"
