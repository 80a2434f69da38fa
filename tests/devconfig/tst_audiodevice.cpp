// The audio page against emulated cameras on loopback through the real SDK:
// what the device holds after a save, byte for byte.

#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <cstring>

#include "CAudioCfgWidget.h"
#include "CMultiLanguage.h"
#include "ConfigRecords.h"
#include "EmulatorFixture.h"
#include "WidgetFind.h"

using namespace scoutrix;

namespace {

QByteArray bytesOf(const AudioRecord &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.bytes), int(sizeof r.bytes));
}

} // namespace

class TestAudioDevice : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<devsim::Emulator> m_emu;
    DeviceRecord m_records[2];

    AudioRecord held(int device) const { return fixture::recordOf<AudioRecord>(*m_emu, device, CmdAudio, 0); }

    template<typename T>
    static T *w(QWidget *page, const char *name)
    {
        return testsupport::child<T>(page, name);
    }

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
        }
        fleet.devices[1].audioChannels = 0; // a camera without audio
        m_emu = fixture::start(fleet);
        QVERIFY(m_emu);
        for (int i = 0; i < 2; ++i) {
            DeviceRecord &r = m_records[i];
            std::memset(&r, 0, sizeof r);
            r.loginHandle = fixture::login(*m_emu, i, "739204", nullptr, &r.loginInfo);
            QVERIFY(r.loginHandle > 0);
            setFieldText(r.ipText, fixture::ip(m_emu->device(i).ip));
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

    void anAudioRoundTripIsByteIdentical()
    {
        const AudioRecord before = held(0);
        QVERIFY(before.word(AudioRecord::DeviceWord0) != 0);  // the emulator's own words are set
        CAudioCfgWidget page;
        QSignalSpy result(&page, &CAudioCfgWidget::sig_SetAudioResult);
        page.setDevice(m_records[0]);
        QCOMPARE(w<QSlider>(&page, "sldInVolume")->value(), before.inputVolume());
        QCOMPARE(w<QSlider>(&page, "sldOutputVolume")->value(), before.outputVolume());
        QTest::mouseClick(w<QPushButton>(&page, "btnSave"), Qt::LeftButton);
        QCOMPARE(result.count(), 1);
        QVERIFY2(result[0][0].toInt() >= 0, qPrintable(QString::number(result[0][0].toInt())));
        QCOMPARE(bytesOf(held(0)), bytesOf(before));

        // A change reaches the device and nothing else moves.
        w<QSlider>(&page, "sldInVolume")->setValue(before.inputVolume() == 30 ? 31 : 30);
        QTest::mouseClick(w<QPushButton>(&page, "btnSave"), Qt::LeftButton);
        QCOMPARE(result.count(), 2);
        QVERIFY(result[1][0].toInt() >= 0);
        AudioRecord expected = before;
        expected.setInputVolume(w<QSlider>(&page, "sldInVolume")->value());
        QCOMPARE(bytesOf(held(0)), bytesOf(expected));
    }

    void aCameraWithoutAudioIsNeverWrittenWithAnotherCamerasValues()
    {
        CAudioCfgWidget page;
        page.setDevice(m_records[0]);
        QSignalSpy result(&page, &CAudioCfgWidget::sig_SetAudioResult);
        page.setDevice(m_records[1]);
        QVERIFY(!w<QPushButton>(&page, "btnSave")->isEnabled());
        QCOMPARE(w<QLabel>(&page, "labReadError")->text(), CMultiLanguage::text("Audio.NoAudio"));
        page.slot_SaveDevConfig();
        QCOMPARE(result.count(), 0);
        std::vector<uint8_t> none;
        QVERIFY(!m_emu->record(1, CmdAudio, 0, none) || none.empty());
    }
};

QTEST_MAIN(TestAudioDevice)
#include "tst_audiodevice.moc"
