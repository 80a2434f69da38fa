// The encode page against the recording SDK double: what it reads, what it
// offers, and that a save writes back exactly what was read except for what
// the user changed.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>

#include <cstring>

#include "ActivityLog.h"
#include "CEncodeCfgWidget.h"
#include "CMultiLanguage.h"
#include "EncodeDevice.h"
#include "FakeNetSdk.h"
#include "WidgetFind.h"

using scoutrix::EncodeTable;
using testdevice::EncodeDevice;

namespace {

constexpr int32_t kHandle = 100;
constexpr int32_t kNvr = 1;

QStringList itemTexts(const QComboBox *c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

// What a user's pick in a list delivers to the page.
void pick(QComboBox *c, const QString &text)
{
    const int index = c->findText(text);
    QVERIFY2(index >= 0, qPrintable(text + " not in " + itemTexts(c).join(',')));
    c->setCurrentIndex(index);
    emit c->activated(index);
}

void release(QSlider *s, int value)
{
    s->setValue(value);
    emit s->sliderReleased();
}

} // namespace

class TestEncodePage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<EncodeDevice> m_device;
    std::unique_ptr<CEncodeCfgWidget> m_page;

    template<typename T>
    T *w(const char *name) const
    {
        return testsupport::child<T>(m_page.get(), name);
    }

    void open(int channels, int audioChannels = 0, int allFlag = 0)
    {
        m_device->install();
        scoutrix::DeviceRecord record = testdevice::deviceRecord("A", 10, 0, 0, 5, kNvr);
        record.loginHandle = kHandle;
        record.loginInfo = fakesdk::makeLoginInfo(channels, kNvr, audioChannels, allFlag);
        m_page = std::make_unique<CEncodeCfgWidget>();
        QSignalSpy stop(m_page.get(), &CEncodeCfgWidget::sig_StopMove);
        m_page->setDevice(record);
        QCOMPARE(stop.count(), 1);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    }

    QByteArray written(int call = 0) const
    {
        const auto calls = fakesdk::state().configSetCalls;
        return call < calls.size() ? calls[call].record : QByteArray();
    }

    QByteArray expectedTable(const std::function<void(EncodeTable &)> &edit) const
    {
        auto t = std::make_unique<EncodeTable>(m_device->table);
        edit(*t);
        return fakesdk::bytesOf(*t);
    }

    void save() { QTest::mouseClick(w<QPushButton>("m_btnSave"), Qt::LeftButton); }

private slots:
    void initTestCase()
    {
        CMultiLanguage::setLanguageDir(QStringLiteral(SCOUTRIX_SOURCE_DIR "/Language"));
        QDir::setCurrent(QStringLiteral(SCOUTRIX_DATA_DIR));
    }

    void init()
    {
        fakesdk::reset();
        m_device = EncodeDevice::typical(4);
    }

    void cleanup() { m_page.reset(); }

    void readsTheDeviceAndShowsTheFirstChannel()
    {
        open(4);
        const auto gets = fakesdk::state().getCalls;
        QCOMPARE(gets.size(), 4);  // firmware of 2021-09-16: no resolution list
        const int commands[] = {10, 19, 18, 17};
        const int channels[] = {-1, -1, -1, 0};
        const int sizes[] = {4692, 25344, 192, 408};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(gets[i].handle, kHandle);
            QCOMPARE(gets[i].command, commands[i]);
            QCOMPARE(gets[i].channel, channels[i]);
            QCOMPARE(gets[i].bufferSize, sizes[i]);
            QCOMPARE(gets[i].timeoutMs, 1000);
        }
        auto *channel = w<QComboBox>("m_cmbChannel");
        const QString ch = CMultiLanguage::text("Channel");
        QCOMPARE(itemTexts(channel), (QStringList{ch + "1", ch + "2", ch + "3", ch + "4", CMultiLanguage::text("All")}));
        QCOMPARE(channel->itemData(4).toInt(), 4);
        QCOMPARE(channel->currentIndex(), 0);
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbEncodeType")), (QStringList{"H.264", "H.265"}));
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbSubStream")), QStringList{"H.264"});
        QCOMPARE(w<QComboBox>("m_cmbEncodeType")->currentText(), QStringLiteral("H.264"));
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbFramesize")),
                 (QStringList{"D1(704x576)", "HD1(704x288)", "CIF(352x288)", "QCIF(176x144)", "VGA(640x480)",
                              "720P(1280x720)", "1080P(1920x1080)", "4M(2560x1440)"}));
        QCOMPARE(w<QComboBox>("m_cmbFramesize")->currentText(), QStringLiteral("1080P(1920x1080)"));
        // A 1080P main stream leaves the sub stream D1, HD1, CIF, QCIF and VGA.
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbFramesize_2")),
                 (QStringList{"D1(704x576)", "HD1(704x288)", "CIF(352x288)", "QCIF(176x144)", "VGA(640x480)"}));
        QCOMPARE(w<QSlider>("m_sliderFPS")->maximum(), 25);
        QCOMPARE(w<QSlider>("m_sliderFPS")->value(), 25);
        QCOMPARE(w<QLabel>("m_labFPS")->text(), QStringLiteral("25"));
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbBitRate")), (QStringList{"1024", "2048", "3072", "4096", "6144", "8192"}));
        QCOMPARE(w<QComboBox>("m_cmbBitRate")->currentText(), QStringLiteral("4096"));
        QCOMPARE(w<QComboBox>("m_cmbBitRate_2")->currentText(), QStringLiteral("1024"));
        QVERIFY(w<QRadioButton>("m_btnCBR")->isChecked());
        QVERIFY(w<QComboBox>("m_cmbBitRate")->isEnabled());
        QVERIFY(!w<QSlider>("m_sliderQuality")->isEnabled());
        QCOMPARE(w<QSlider>("m_sliderQuality")->value(), 4);
        QCOMPARE(w<QLineEdit>("m_editISecond")->text(), QStringLiteral("50"));
        QVERIFY(w<QCheckBox>("m_ckVideo")->isChecked());
        QVERIFY(!w<QCheckBox>("m_ckVideo")->isEnabled());
        QVERIFY(w<QCheckBox>("m_ckVideo_2")->isChecked());
    }

    void newFirmwareNamesItsOwnResolutions()
    {
        m_device->info.setBuildTime(2021, 9, 17, 0, 0, 0);
        for (int r = 0; r < 21; ++r)
            m_device->resolutions.entry[r].set(100 + r, 100, "dev" + std::to_string(r));
        m_device->resolutions.entry[14].set(1920, 1080, "Full HD");
        open(4);
        const auto gets = fakesdk::state().getCalls;
        QCOMPARE(gets.size(), 5);
        QCOMPARE(gets[4].command, 175);
        QCOMPARE(gets[4].channel, -1);
        QCOMPARE(gets[4].bufferSize, 1280);
        QCOMPARE(w<QComboBox>("m_cmbFramesize")->currentText(), QStringLiteral("Full HD"));
        QVERIFY(itemTexts(w<QComboBox>("m_cmbFramesize")).contains("dev11"));
    }

    void frameRateSliderFollowsTheStandard()
    {
        m_device->standard.setNtsc(true);
        open(4);
        QCOMPARE(w<QSlider>("m_sliderFPS")->maximum(), 30);
        QCOMPARE(w<QComboBox>("m_cmbFramesize")->itemText(0), QStringLiteral("D1(704x480)"));
    }

    void oneChannelOffersAllOnlyWithTheFlag()
    {
        m_device = EncodeDevice::typical(1);
        open(1);
        QCOMPARE(w<QComboBox>("m_cmbChannel")->count(), 1);
        m_page.reset();
        open(1, 0, 1);
        QCOMPARE(w<QComboBox>("m_cmbChannel")->count(), 2);
    }

    void saveWritesBackOnlyWhatChanged()
    {
        open(4);
        pick(w<QComboBox>("m_cmbChannel"), CMultiLanguage::text("Channel") + "2");
        pick(w<QComboBox>("m_cmbFramesize"), "720P(1280x720)");
        QCOMPARE(w<QComboBox>("m_cmbBitRate")->currentText(), QStringLiteral("2560"));  // grade 4 of 720P
        pick(w<QComboBox>("m_cmbBitRate"), "3072");
        QCOMPARE(w<QSlider>("m_sliderQuality")->value(), 5);
        QSignalSpy result(m_page.get(), &CEncodeCfgWidget::sig_SetEncodeResult);
        save();

        const auto calls = fakesdk::state().configSetCalls;
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].handle, kHandle);
        QCOMPARE(calls[0].command, 19);
        QCOMPARE(calls[0].channel, -1);
        QCOMPARE(calls[0].timeoutMs, 1000);
        QCOMPARE(calls[0].record.size(), 25344);
        const QByteArray expected = expectedTable([](EncodeTable &t) {
            t.channel[1].main.setResolution(11);
            t.channel[1].main.setQuality(5);
            t.channel[1].main.setBitRate(3072);
        });
        QCOMPARE(written(), expected);
        QCOMPARE(result.count(), 1);
        QCOMPARE(result[0][0].toInt(), 0);
        QCOMPARE(result[0][1].toLongLong(), qint64(kHandle));
    }

    void channelEditsAreKeptWhileOthersAreViewed()
    {
        open(4);
        pick(w<QComboBox>("m_cmbChannel"), CMultiLanguage::text("Channel") + "3");
        QTest::mouseClick(w<QRadioButton>("m_btnSubVBR"), Qt::LeftButton);
        QVERIFY(w<QSlider>("m_sliderSubQuality")->isEnabled());
        QVERIFY(!w<QComboBox>("m_cmbBitRate_2")->isEnabled());
        pick(w<QComboBox>("m_cmbChannel"), CMultiLanguage::text("Channel") + "1");
        QVERIFY(w<QRadioButton>("m_btnSubCBR")->isChecked());
        pick(w<QComboBox>("m_cmbChannel"), CMultiLanguage::text("Channel") + "3");
        QVERIFY(w<QRadioButton>("m_btnSubVBR")->isChecked());
        save();
        QCOMPARE(written(), expectedTable([](EncodeTable &t) {
                     t.channel[2].sub.setBitControl(1);
                     t.channel[2].sub.setBitRate(1024);  // D1 grade 3 at full rate
                 }));
    }

    void allWritesOneRecordToEveryChannel()
    {
        open(4);
        pick(w<QComboBox>("m_cmbChannel"), CMultiLanguage::text("All"));
        // 24576 kbit/s shared by four channels: nothing above 6144.
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbBitRate")), (QStringList{"1024", "2048", "3072", "4096", "6144"}));
        pick(w<QComboBox>("m_cmbBitRate"), "2048");
        save();
        QCOMPARE(written(), expectedTable([](EncodeTable &t) {
                     scoutrix::ChannelEncode first = t.channel[0];
                     first.main.setQuality(2);
                     first.main.setBitRate(2048);
                     for (int ch = 0; ch < 4; ++ch)
                         t.channel[ch] = first;
                 }));
    }

    void frameRateReleaseRescalesTheBitRate()
    {
        open(4);
        release(w<QSlider>("m_sliderFPS"), 12);
        QCOMPARE(w<QComboBox>("m_cmbBitRate")->currentText(), QStringLiteral("1982"));
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbBitRate")), (QStringList{"495", "991", "1487", "1982", "2974", "3965"}));

        // An empty I-frame field counts as 0: every offered rate is its table value.
        auto *iframe = w<QLineEdit>("m_editISecond");
        iframe->selectAll();
        QTest::keyClick(iframe, Qt::Key_Backspace);
        QTest::keyClick(iframe, Qt::Key_Return);
        // The stream's own rate is no grade now; it stays shown after them.
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbBitRate")),
                 (QStringList{"1024", "2048", "3072", "4096", "6144", "8192", "1982"}));
        QCOMPARE(w<QComboBox>("m_cmbBitRate")->currentText(), QStringLiteral("1982"));
        save();
        QCOMPARE(written(), expectedTable([](EncodeTable &t) {
                     t.channel[0].main.setFrameRate(12);
                     t.channel[0].main.setBitRate(1982);
                     t.channel[0].main.setIFrameInterval(0);
                 }));
    }

    void subVideoOffDisablesTheSubStream()
    {
        open(4, 4);
        QTest::mouseClick(w<QCheckBox>("m_ckAudio_2"), Qt::LeftButton);
        QTest::mouseClick(w<QCheckBox>("m_ckVideo_2"), Qt::LeftButton);
        QVERIFY(!w<QCheckBox>("m_ckVideo_2")->isChecked());
        for (const char *name : {"m_cmbSubStream", "m_cmbFramesize_2", "m_sliderFPS_2", "m_cmbBitRate_2",
                                 "m_editISecond_2", "m_ckAudio_2"})
            QVERIFY2(!w<QWidget>(name)->isEnabled(), name);
        QVERIFY(!w<QCheckBox>("m_ckAudio_2")->isChecked());
        save();
        QCOMPARE(written(), expectedTable([](EncodeTable &t) { t.channel[0].sub.setVideoOn(false); }));
    }

    void audioBoxesFollowTheAudioChannels()
    {
        open(4, 2);
        QVERIFY(w<QCheckBox>("m_ckAudio")->isEnabled());
        pick(w<QComboBox>("m_cmbChannel"), CMultiLanguage::text("Channel") + "3");
        QVERIFY(!w<QCheckBox>("m_ckAudio")->isEnabled());
    }

    void anUnreadTableIsNeverWritten()
    {
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().getResults[19] = -1;
        }
        open(4);
        QVERIFY(!w<QPushButton>("m_btnSave")->isEnabled());
        m_page->slot_SetDevConfig();
        QVERIFY(fakesdk::state().configSetCalls.isEmpty());
    }

    void failedReadSaysSoAndShowsNoForm_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("gets");
        QTest::newRow("capabilities time out") << 10 << -10005 << "Encode.ReadTimeout" << 1;
        QTest::newRow("table refused") << 19 << -1 << "Encode.ReadFailed" << 2;
        QTest::newRow("standard broken") << 18 << -10004 << "Encode.ReadFailed" << 3;
        QTest::newRow("device information gone") << 17 << -10003 << "Encode.ReadFailed" << 4;
    }
    void failedReadSaysSoAndShowsNoForm()
    {
        QFETCH(int, command);
        QFETCH(int, code);
        QFETCH(QString, key);
        QFETCH(int, gets);
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().getResults[command] = code;
        }
        open(4);
        // Nothing more is asked once a read has failed.
        QCOMPARE(fakesdk::state().getCalls.size(), gets);
        QCOMPARE(m_page->readError(), code);
        auto *message = w<QLabel>("labReadError");
        QVERIFY(message->isVisible());
        const QString expected = key == "Encode.ReadTimeout" ? CMultiLanguage::text(key)
                                                             : CMultiLanguage::text(key).arg(code);
        QCOMPARE(message->text(), expected);
        QVERIFY(!message->text().isEmpty() && message->text() != key);
        for (const char *name : {"groupMain", "groupSub", "m_cmbChannel", "m_btnSave"})
            QVERIFY2(!w<QWidget>(name)->isVisible(), name);
        QCOMPARE(w<QComboBox>("m_cmbChannel")->count(), 0);
        m_page->slot_SetDevConfig();
        QVERIFY(fakesdk::state().configSetCalls.isEmpty());

        // The next device that answers gets its form back.
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().getResults.clear();
        }
        scoutrix::DeviceRecord record = m_page->device();
        m_page->setDevice(record);
        QVERIFY(!message->isVisible());
        QVERIFY(w<QWidget>("groupMain")->isVisible());
        QCOMPARE(m_page->readError(), 0);
    }

    void valuesBeyondTheLimitsAreShownAndSavedAsRead()
    {
        // Channel 1 gets the pixel rate of 1080P at 20 fps and 3000 kbit/s:
        // the device's own 25 fps and 4096 kbit/s are beyond both.
        m_device->caps.setWord(scoutrix::EncodeCaps::PixelRateBudget,
                               4 * 405504 * 25 + 3 * 2073600 * 25 + 2073600 * 20);
        m_device->caps.setWord(scoutrix::EncodeCaps::BitRateBudget, 3 * 4096 + 3000);
        open(4);
        auto *note = w<QLabel>("labOverMain");
        QVERIFY(note->isVisible());
        QVERIFY(note->text().contains("4096"));
        QVERIFY(note->text().contains("3000"));
        QVERIFY(note->text().contains("20"));
        QCOMPARE(w<QSlider>("m_sliderFPS")->value(), 25);
        QCOMPARE(w<QLabel>("m_labFPS")->text(), QStringLiteral("25"));
        QCOMPARE(w<QComboBox>("m_cmbBitRate")->currentText(), QStringLiteral("4096"));
        // Grades above the cap are still not offered.
        QCOMPARE(itemTexts(w<QComboBox>("m_cmbBitRate")), (QStringList{"1024", "2048", "4096"}));
        save();
        QCOMPARE(written(), fakesdk::bytesOf(m_device->table));

        // A change to the stream has to fit: the slider released at 24 gives 20.
        release(w<QSlider>("m_sliderFPS"), 24);
        QCOMPARE(w<QSlider>("m_sliderFPS")->value(), 20);
        QCOMPARE(w<QComboBox>("m_cmbBitRate")->currentText(), QStringLiteral("3000"));
        QVERIFY(!note->isVisible());
    }

    void vbrQualityStaysWithinTheBitRateCap()
    {
        m_device->table.channel[0].main.setBitControl(1);
        m_device->caps.setWord(scoutrix::EncodeCaps::BitRateBudget, 3 * 4096 + 3500);
        open(4);
        auto *quality = w<QSlider>("m_sliderQuality");
        QVERIFY(quality->isEnabled());
        QCOMPARE(quality->maximum(), 4);  // the stored grade, as read
        QVERIFY(w<QLabel>("labOverMain")->isVisible());
        m_page->slot_QualitysetText(6);
        save();
        QVERIFY(fakesdk::state().configSetCalls.size() == 1);
        scoutrix::EncodeTable t;
        std::memcpy(&t, written().constData(), sizeof t);
        QVERIFY(t.channel[0].main.bitRate() <= 3500);
        QCOMPARE(t.channel[0].main.bitRate(), 3072);
        QCOMPARE(t.channel[0].main.quality(), 3);
        QCOMPARE(quality->value(), 3);
        QCOMPARE(quality->maximum(), 3);
    }

    void everySaveIsLogged()
    {
        QTemporaryDir dir;
        const QString previous = ActivityLog::instance().directory();
        ActivityLog::instance().setDirectory(dir.path());
        open(4);
        pick(w<QComboBox>("m_cmbChannel"), CMultiLanguage::text("Channel") + "2");
        pick(w<QComboBox>("m_cmbFramesize"), "720P(1280x720)");
        pick(w<QComboBox>("m_cmbBitRate"), "2048");
        save();
        save();  // nothing changed since
        const QVector<ActivityEntry> entries = ActivityLog::instance().entries(QDate::currentDate());
        ActivityLog::instance().setDirectory(previous);
        QCOMPARE(entries.size(), 2);
        const ActivityEntry &e = entries[0];
        QCOMPARE(e.operation, 15);
        QCOMPARE(e.mac, QStringLiteral("A"));
        QCOMPARE(e.address, QStringLiteral("10.0.0.5"));
        QCOMPARE(e.oldValue, QStringLiteral("ch2 main: 1920x1080 25fps 4096kbps q4"));
        QCOMPARE(e.newValue, QStringLiteral("ch2 main: 1280x720 25fps 2048kbps q3"));
        QCOMPARE(e.result, 0);
        // A second save sends the same table again, and says so.
        QVERIFY(entries[1].oldValue.isEmpty());
        QCOMPARE(entries[1].newValue, CMultiLanguage::text(QStringLiteral("Saved unchanged")));
    }

    void setResultIsPassedOn()
    {
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().configSetResults = {-11401};
        }
        open(4);
        QSignalSpy result(m_page.get(), &CEncodeCfgWidget::sig_SetEncodeResult);
        save();
        QCOMPARE(result.count(), 1);
        QCOMPARE(result[0][0].toInt(), -11401);
    }
};

QTEST_MAIN(TestEncodePage)
#include "tst_encodepage.moc"
