// The audio page against the recording SDK double, and its logic alone: a
// save sends back every byte that was read except what the user changed,
// and a device that could not be read is never written.

#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include <cstring>

#include "ActivityLog.h"
#include "AudioSettings.h"
#include "CAudioCfgWidget.h"
#include "CMultiLanguage.h"
#include "EncodeDevice.h"
#include "FakeNetSdk.h"
#include "WidgetFind.h"

using scoutrix::AudioRecord;
using scoutrix::AudioSettings;
using scoutrix::AudioValues;

namespace {

constexpr int32_t kIpc = 2;

// Words 0 and 16 hold what only the device knows; odd values show a byte
// that was lost or invented.
AudioRecord deviceAudio(int compression, int input, int output)
{
    AudioRecord r;
    r.setWord(AudioRecord::DeviceWord0, 0x1F40ABCD);
    r.setCompression(compression);
    r.setInputVolume(input);
    r.setOutputVolume(output);
    r.setWord(AudioRecord::DeviceWord16, 0x10203040);
    return r;
}

void installAudio(const AudioRecord &r)
{
    QMutexLocker lock(&fakesdk::state().mutex);
    fakesdk::state().configs[scoutrix::CmdAudio] = fakesdk::bytesOf(r);
    fakesdk::state().getResults.remove(scoutrix::CmdAudio);
}

void failAudioRead(int32_t result)
{
    QMutexLocker lock(&fakesdk::state().mutex);
    fakesdk::state().configs.remove(scoutrix::CmdAudio);
    fakesdk::state().getResults[scoutrix::CmdAudio] = result;
}

scoutrix::DeviceRecord camera(const char *mac, uint8_t last, int32_t handle, int audioChannels = 1)
{
    scoutrix::DeviceRecord d = testdevice::deviceRecord(mac, 10, 0, 0, last, kIpc);
    d.loginHandle = handle;
    d.loginInfo = fakesdk::makeLoginInfo(1, kIpc, audioChannels);
    return d;
}

} // namespace

class TestAudioPage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CAudioCfgWidget> m_page;

    template<typename T>
    T *w(const char *name) const
    {
        return testsupport::child<T>(m_page.get(), name);
    }

    void open(const scoutrix::DeviceRecord &d)
    {
        if (!m_page) {
            m_page = std::make_unique<CAudioCfgWidget>();
            m_page->show();
        }
        m_page->setDevice(d);
    }

    QVector<fakesdk::ConfigSetCall> sets() const { return fakesdk::state().configSetCalls; }
    void save() { QTest::mouseClick(w<QPushButton>("btnSave"), Qt::LeftButton); }

private slots:
    void initTestCase()
    {
        CMultiLanguage::setLanguageDir(QStringLiteral(SCOUTRIX_SOURCE_DIR "/Language"));
        QDir::setCurrent(QStringLiteral(SCOUTRIX_DATA_DIR));
    }

    void init() { fakesdk::reset(); }
    void cleanup() { m_page.reset(); }

    // --- the logic alone ---

    void unchangedValuesLeaveEveryByteAsRead_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("output");
        QTest::newRow("in range") << 1 << 35 << 7;
        QTest::newRow("limits") << 0 << 100 << 0;
        // Beyond what the controls can show: still written back untouched.
        QTest::newRow("unknown compression") << 4 << 50 << 5;
        QTest::newRow("volumes too high") << 0 << 250 << 99;
        QTest::newRow("negative volumes") << 1 << -3 << -1;
    }

    void unchangedValuesLeaveEveryByteAsRead()
    {
        QFETCH(int, compression);
        QFETCH(int, input);
        QFETCH(int, output);
        AudioSettings s;
        const AudioRecord read = deviceAudio(compression, input, output);
        s.loadRead(0, read);
        QVERIFY(s.canSave());
        const AudioValues shown = s.shown();
        QVERIFY(shown.compression == 0 || shown.compression == 1);
        QVERIFY(shown.inputVolume >= 0 && shown.inputVolume <= 100);
        QVERIFY(shown.outputVolume >= 0 && shown.outputVolume <= 10);
        QCOMPARE(fakesdk::bytesOf(s.recordFor(shown)), fakesdk::bytesOf(read));
    }

    void aChangeWritesOnlyItsField()
    {
        AudioSettings s;
        const AudioRecord read = deviceAudio(0, 250, 7);
        s.loadRead(0, read);
        AudioValues v = s.shown();
        v.outputVolume = 3;
        AudioRecord expected = read;
        expected.setOutputVolume(3);
        // The out-of-range input volume the user left alone stays as it was.
        QCOMPARE(fakesdk::bytesOf(s.recordFor(v)), fakesdk::bytesOf(expected));
        v.compression = 1;
        expected.setCompression(1);
        QCOMPARE(fakesdk::bytesOf(s.recordFor(v)), fakesdk::bytesOf(expected));
    }

    void aFailedReadForgetsTheDeviceBefore()
    {
        AudioSettings s;
        s.loadRead(0, deviceAudio(1, 35, 7));
        s.loadRead(-10005, deviceAudio(1, 35, 7));
        QVERIFY(!s.canSave());
        QCOMPARE(s.readError(), -10005);
        QCOMPARE(s.shown(), AudioValues());
        QCOMPARE(s.record().word(AudioRecord::DeviceWord0), 0);
        QCOMPARE(s.record().word(AudioRecord::DeviceWord16), 0);
        s.saved(deviceAudio(1, 35, 7));
        QVERIFY(!s.canSave());
        QCOMPARE(s.record().word(AudioRecord::DeviceWord0), 0);
    }

    void aSavedRecordIsTheNextBase()
    {
        AudioSettings s;
        s.loadRead(0, deviceAudio(0, 80, 7));
        AudioValues v = s.shown();
        v.inputVolume = 20;
        const AudioRecord written = s.recordFor(v);
        s.saved(written);
        QCOMPARE(s.shown().inputVolume, 20);
        QCOMPARE(fakesdk::bytesOf(s.recordFor(s.shown())), fakesdk::bytesOf(written));
        QCOMPARE(AudioSettings::describe(written), std::string("G711A, in 20, out 7"));
        QCOMPARE(AudioSettings::describe(deviceAudio(3, 1, 2)), std::string("compression 3, in 1, out 2"));
    }

    // --- the page ---

    void showsWhatTheDeviceHolds()
    {
        installAudio(deviceAudio(1, 35, 7));
        open(camera("A", 7, 100));
        const auto gets = fakesdk::state().getCalls;
        QCOMPARE(gets.size(), 1);
        QCOMPARE(gets[0].handle, 100);
        QCOMPARE(gets[0].command, 190);
        QCOMPARE(gets[0].channel, 0);
        QCOMPARE(gets[0].bufferSize, 20);
        QCOMPARE(gets[0].timeoutMs, 1000);
        auto *type = w<QComboBox>("cmbEncodeType");
        QCOMPARE(type->count(), 2);
        QCOMPARE(type->currentIndex(), 1);
        QCOMPARE(type->currentText(), CMultiLanguage::text("G711U"));
        QCOMPARE(type->itemData(0).toInt(), 0);
        QCOMPARE(type->iconSize(), QSize(1, 24));
        QCOMPARE(w<QSlider>("sldInVolume")->value(), 35);
        QCOMPARE(w<QSlider>("sldOutputVolume")->value(), 7);
        QCOMPARE(w<QSlider>("sldOutputVolume")->maximum(), 10);
        QCOMPARE(w<QLabel>("labInNum")->text(), QStringLiteral("35"));
        QCOMPARE(w<QLabel>("labOutNum")->text(), QStringLiteral("7"));
        QVERIFY(w<QPushButton>("btnSave")->isEnabled());
        QVERIFY(!w<QLabel>("labReadError")->isVisible());
    }

    void aRoundTripIsByteIdentical()
    {
        const AudioRecord read = deviceAudio(0, 80, 7);
        installAudio(read);
        open(camera("A", 7, 100));
        QSignalSpy result(m_page.get(), &CAudioCfgWidget::sig_SetAudioResult);
        save();
        QCOMPARE(sets().size(), 1);
        QCOMPARE(sets()[0].command, 190);
        QCOMPARE(sets()[0].channel, 0);
        QCOMPARE(sets()[0].handle, 100);
        QCOMPARE(sets()[0].timeoutMs, 1000);
        QCOMPARE(sets()[0].record, fakesdk::bytesOf(read));
        QCOMPARE(result.count(), 1);
        QCOMPARE(result[0][0].toInt(), 0);
        QCOMPARE(result[0][1].value<long>(), 100L);
    }

    void aChangeWritesOnlyTheIntendedBytes()
    {
        const AudioRecord read = deviceAudio(0, 80, 7);
        installAudio(read);
        open(camera("A", 7, 100));
        w<QSlider>("sldOutputVolume")->setValue(2);
        QCOMPARE(w<QLabel>("labOutNum")->text(), QStringLiteral("2"));
        auto *type = w<QComboBox>("cmbEncodeType");
        type->setCurrentIndex(1);
        save();
        QCOMPARE(sets().size(), 1);
        const QByteArray before = fakesdk::bytesOf(read);
        const QByteArray after = sets()[0].record;
        QCOMPARE(after.size(), 20);
        for (int i = 0; i < 20; ++i) {
            const bool intended = (i >= 4 && i < 8) || (i >= 12 && i < 16);
            if (!intended)
                QVERIFY2(after[i] == before[i], qPrintable(QString("byte %1 changed").arg(i)));
        }
        AudioRecord sent;
        std::memcpy(sent.bytes, after.constData(), 20);
        QCOMPARE(sent.compression(), 1);
        QCOMPARE(sent.outputVolume(), 2);
        QCOMPARE(sent.inputVolume(), 80);
    }

    void cancelDiscardsEditsByReadingAgain()
    {
        installAudio(deviceAudio(0, 80, 7));
        open(camera("A", 7, 100));
        w<QSlider>("sldInVolume")->setValue(10);
        QTest::mouseClick(w<QPushButton>("btnCancel"), Qt::LeftButton);
        QCOMPARE(fakesdk::state().getCalls.size(), 2);
        QCOMPARE(w<QSlider>("sldInVolume")->value(), 80);
        QCOMPARE(w<QLabel>("labInNum")->text(), QStringLiteral("80"));
    }

    void aFailedReadNeverWritesThePreviousDevice_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("key");
        QTest::newRow("timeout") << -10005 << "Audio.ReadTimeout";
        QTest::newRow("refused") << -1 << "Audio.ReadFailed";
    }

    void aFailedReadNeverWritesThePreviousDevice()
    {
        QFETCH(int, error);
        QFETCH(QString, key);
        installAudio(deviceAudio(1, 35, 7));
        open(camera("A", 7, 100));
        failAudioRead(error);
        open(camera("B", 8, 101));
        auto *saveButton = w<QPushButton>("btnSave");
        QVERIFY(!saveButton->isEnabled());
        auto *message = w<QLabel>("labReadError");
        QVERIFY(message->isVisible());
        QString expected = CMultiLanguage::text(key);
        if (expected.contains("%1"))
            expected = expected.arg(error);
        QCOMPARE(message->text(), expected);
        QVERIFY(!w<QWidget>("layoutWidget")->isVisible());
        // Nothing of device A is left in the controls.
        QCOMPARE(w<QSlider>("sldInVolume")->value(), 0);
        QCOMPARE(w<QComboBox>("cmbEncodeType")->currentIndex(), 0);
        // Even a save forced past the disabled button writes nothing.
        QSignalSpy result(m_page.get(), &CAudioCfgWidget::sig_SetAudioResult);
        m_page->slot_SaveDevConfig();
        QVERIFY(sets().isEmpty());
        QCOMPARE(result.count(), 0);

        // Once the device answers, the page is whole again.
        installAudio(deviceAudio(0, 60, 4));
        QTest::mouseClick(w<QPushButton>("btnCancel"), Qt::LeftButton);
        QVERIFY(saveButton->isEnabled());
        QVERIFY(!message->isVisible());
        QCOMPARE(w<QSlider>("sldInVolume")->value(), 60);
    }

    void aCameraWithoutAudioSaysSo()
    {
        failAudioRead(-1);
        open(camera("C", 9, 102, 0));
        QVERIFY(!w<QPushButton>("btnSave")->isEnabled());
        QCOMPARE(w<QLabel>("labReadError")->text(), CMultiLanguage::text("Audio.NoAudio"));
    }

    void switchingDevicesKeepsTwoCompressionEntries()
    {
        installAudio(deviceAudio(1, 35, 7));
        for (int i = 0; i < 4; ++i)
            open(camera("A", uint8_t(7 + i), 100 + i));
        QCOMPARE(w<QComboBox>("cmbEncodeType")->count(), 2);
        QCOMPARE(m_page->loginHandle(), 103);
    }

    void savesGoToTheActivityLog()
    {
        QTemporaryDir dir;
        const QString previous = ActivityLog::instance().directory();
        ActivityLog::instance().setDirectory(dir.path());
        installAudio(deviceAudio(0, 80, 7));
        open(camera("A", 7, 100));
        w<QSlider>("sldInVolume")->setValue(30);
        save();
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().configSetResults = {0, -1};
        }
        w<QSlider>("sldInVolume")->setValue(40);
        save();
        const QVector<ActivityEntry> entries = ActivityLog::instance().entries(QDate::currentDate());
        ActivityLog::instance().setDirectory(previous);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].operation, 27);
        QCOMPARE(entries[0].mac, QStringLiteral("A"));
        QCOMPARE(entries[0].oldValue, QStringLiteral("G711A, in 80, out 7"));
        QCOMPARE(entries[0].newValue, QStringLiteral("G711A, in 30, out 7"));
        QCOMPARE(entries[0].result, 0);
        // The second save failed, the first one is still what the device holds.
        QCOMPARE(entries[1].oldValue, QStringLiteral("G711A, in 30, out 7"));
        QCOMPARE(entries[1].newValue, QStringLiteral("G711A, in 40, out 7"));
        QCOMPARE(entries[1].result, -1);
    }
};

QTEST_MAIN(TestAudioPage)
#include "tst_audiopage.moc"
