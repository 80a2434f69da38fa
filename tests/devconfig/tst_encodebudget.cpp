// The encode budget arithmetic without a window: grade tables and the bit-rate
// formula, pixel-rate budgets, masks, frame-rate limits, "All" and storing.

#include <QtTest>

#include <cstring>
#include <memory>

#include "EncodeBudget.h"
#include "EncodeChanges.h"
#include "EncodeDevice.h"

using namespace scoutrix;
using testdevice::setStream;

namespace {

constexpr int64_t k1080p = 2073600;
constexpr int64_t kD1 = 405504;

// Channels with 1080P H.264 CBR main and D1 sub, PAL, fixed resolution table,
// every resolution offered, a generous budget.
std::unique_ptr<EncodeBudget::Device> device(int channels, bool ntsc = false)
{
    auto d = std::make_unique<EncodeBudget::Device>();
    std::memset(&d->caps, 0, sizeof d->caps);
    std::memset(&d->table, 0, sizeof d->table);
    d->caps.setWord(EncodeCaps::PixelRateBudget, 1000000000);
    d->caps.setEntry(EncodeCaps::MainEntry, 1u << 7 | 1u << 8, 0x1fffff);
    d->caps.setEntry(EncodeCaps::SubEntry, 1u << 7, 0);
    for (int ch = 0; ch < channels; ++ch) {
        setStream(d->table.channel[ch].main, 7, 14, 0, 4, 25, 4096, 50);
        setStream(d->table.channel[ch].sub, 7, 0, 0, 3, 25, 1024, 50);
    }
    d->ntsc = ntsc;
    d->resolutions = ResolutionTable::fixed(ntsc, 1);
    d->channelCount = channels;
    d->audioChannelCount = channels;
    return d;
}

std::unique_ptr<EncodeBudget> load(const EncodeBudget::Device &d)
{
    auto b = std::make_unique<EncodeBudget>();
    b->load(d);
    return b;
}

QVector<int> values(const StreamView &v)
{
    QVector<int> out;
    for (const auto &item : v.bitRates)
        out << item.value;
    return out;
}

QVector<int> resolutions(const StreamView &v)
{
    return QVector<int>(v.resolutions.begin(), v.resolutions.end());
}

} // namespace

class TestEncodeBudget : public QObject
{
    Q_OBJECT

private slots:
    void bitRateFormula_data()
    {
        QTest::addColumn<int>("iFrame");
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("full");
        QTest::addColumn<int>("table");
        QTest::addColumn<int>("expected");
        QTest::newRow("1080P grade 3 at 25") << 50 << 25 << 25 << 4096 << 4096;
        QTest::newRow("1080P grade 3 at 12") << 50 << 12 << 25 << 4096 << 1982;
        QTest::newRow("above the full rate counts as full") << 50 << 30 << 25 << 4096 << 4096;
        QTest::newRow("no I-frame interval gives the table") << 0 << 12 << 25 << 4096 << 4096;
        QTest::newRow("NTSC at 15") << 60 << 15 << 30 << 2048 << 1029;
    }
    void bitRateFormula()
    {
        QFETCH(int, iFrame);
        QFETCH(int, fps);
        QFETCH(int, full);
        QFETCH(int, table);
        QFETCH(int, expected);
        QCOMPARE(scaledBitRate(iFrame, fps, full, table), expected);
    }

    void gradeTablesAndTypes()
    {
        QCOMPARE(gradeBitRate(14, 3, false), 4096);
        QCOMPARE(gradeBitRate(14, 3, true), 2662);
        QCOMPARE(gradeBitRate(3, 3, true), 512);  // the one row that is not monotonic
        QCOMPARE(gradeBitRate(21, 0, false), 0);
        QCOMPARE(gradeBitRate(0, 6, false), 0);
        QCOMPARE(gradeBitRate(-1, 0, false), 0);
        QVERIFY(usesH265Table(8));
        QVERIFY(usesH265Table(10));
        QVERIFY(!usesH265Table(7));
        QVERIFY(!usesH265Table(9));
        QVERIFY(!usesH265Table(11));
        QCOMPARE(QString(encodeTypeName(0)), QStringLiteral("DIVX MPEG4"));
        QCOMPARE(QString(encodeTypeName(10)), QStringLiteral("H.265+"));
        QVERIFY(!encodeTypeName(11));
    }

    void fixedResolutionTable()
    {
        const ResolutionTable pal = ResolutionTable::fixed(false, 1);
        const ResolutionTable ntsc = ResolutionTable::fixed(true, 2);
        QCOMPARE(QString::fromStdString(pal.at(0).name), QStringLiteral("D1(704x576)"));
        QCOMPARE(pal.pixels(0), kD1);
        QCOMPARE(QString::fromStdString(ntsc.at(0).name), QStringLiteral("D1(704x480)"));
        QCOMPARE(ntsc.pixels(0), int64_t(337920));
        QCOMPARE(QString::fromStdString(ntsc.at(11).name), QStringLiteral("720(1280x720)"));
        QCOMPARE(QString::fromStdString(pal.at(17).name), QStringLiteral("3M(1920x1440)"));
        QCOMPARE(pal.pixels(17), int64_t(2764800));
        QCOMPARE(QString::fromStdString(ntsc.at(18).name), QStringLiteral("5M(2592*1944)"));
        QCOMPARE(ntsc.pixels(18), int64_t(5038848));
        QCOMPARE(pal.allowedSub(0), 27u);
        QCOMPARE(pal.allowedSub(14), 59u);
        QVERIFY(pal.at(21).name.empty());
        QCOMPARE(pal.pixels(21), int64_t(0));
        QCOMPARE(pal.pixels(32), int64_t(0));
    }

    void deviceResolutionList()
    {
        auto list = std::make_unique<ResolutionList>();
        std::memset(list.get(), 0, sizeof *list);
        list->entry[0].set(1920, 1080, "1080P");
        list->entry[25].set(2688, 1520, "4MP");
        list->entry[26].set(-5, 100, "broken");
        const ResolutionTable t = ResolutionTable::fromDevice(*list);
        QCOMPARE(QString::fromStdString(t.at(0).name), QStringLiteral("1080P"));
        QCOMPARE(t.pixels(0), k1080p);
        QCOMPARE(t.allowedSub(0), 27u);  // allowed-sub masks stay the fixed ones
        QCOMPARE(t.pixels(25), int64_t(2688 * 1520));
        QCOMPARE(t.pixels(26), int64_t(0));
    }

    void buildDateChoosesTheList_data()
    {
        QTest::addColumn<QString>("built");
        QTest::addColumn<bool>("deviceList");
        QTest::newRow("2021-09-16") << "2021-09-16 23:59:59" << false;
        QTest::newRow("2021-09-17") << "2021-09-17 00:00:00" << true;
        QTest::newRow("later") << "2023-01-02 03:04:05" << true;
        QTest::newRow("unset") << "0000-00-00 00:00:00" << false;
    }
    void buildDateChoosesTheList()
    {
        QFETCH(QString, built);
        QFETCH(bool, deviceList);
        QCOMPARE(ResolutionTable::deviceListApplies(built.toStdString()), deviceList);
        DeviceInfoRecord info;
        std::memset(&info, 0, sizeof info);
        const QStringList p = built.split(QRegularExpression("[- :]"));
        info.setBuildTime(p[0].toInt(), p[1].toInt(), p[2].toInt(), p[3].toInt(), p[4].toInt(), p[5].toInt());
        QCOMPARE(QString::fromStdString(info.buildTimeText()), built);
    }

    void allIsOfferedByCountAndFlag_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("flag");
        QTest::addColumn<bool>("offered");
        QTest::newRow("one channel") << 1 << false << false;
        QTest::newRow("one channel, flag") << 1 << true << true;
        QTest::newRow("two channels") << 2 << false << true;
        QTest::newRow("no channel, flag") << 0 << true << false;
    }
    void allIsOfferedByCountAndFlag()
    {
        QFETCH(int, channels);
        QFETCH(bool, flag);
        QFETCH(bool, offered);
        auto d = device(channels);
        d->offerAllFlag = flag;
        QCOMPARE(load(*d)->offersAll(), offered);
    }

    void channelCountBeyondTheTableIsBounded()
    {
        auto d = device(1);
        d->channelCount = 1000;
        auto b = load(*d);
        QCOMPARE(b->channelCount(), 64);
        b->selectChannel(63);
        QCOMPARE(b->channel(), 63);
        b->show(StreamKind::Main);  // reads inside the table
    }

    void frameRateIsCappedByTheStandard_data()
    {
        QTest::addColumn<bool>("ntsc");
        QTest::addColumn<int>("cap");
        QTest::newRow("PAL") << false << 25;
        QTest::newRow("NTSC") << true << 30;
    }
    void frameRateIsCappedByTheStandard()
    {
        QFETCH(bool, ntsc);
        QFETCH(int, cap);
        auto b = load(*device(2, ntsc));
        QCOMPARE(b->show(StreamKind::Main).maxFrameRate, cap);
        QCOMPARE(b->show(StreamKind::Sub).maxFrameRate, cap);
    }

    void budgetCountsEveryOtherStream()
    {
        auto d = device(3);
        d->table.channel[2].sub.setVideoOn(false);
        const int64_t total = 150000000;
        d->caps.setWord(EncodeCaps::PixelRateBudget, int32_t(total));
        auto b = load(*d);
        const int64_t main = k1080p * 25, sub = kD1 * 25;
        QCOMPARE(b->channelBudget(0), total - (main + sub) - main);
        QCOMPARE(b->channelBudget(2), total - 2 * (main + sub));
        // Main stream of channel 0: its budget minus its own sub stream.
        const int64_t available = total - (main + sub) - main - sub;
        const StreamView v = b->show(StreamKind::Main);
        QCOMPARE(v.maxFrameRate, int(available / k1080p));
        // The device's own rate is shown as read, and said to be over.
        QCOMPARE(v.frameRate, 25);
        QVERIFY(v.frameRateOver);
        QCOMPARE(b->shownRecord().main.frameRate(), 25);
    }

    void mainPixelLimitAndSharedBudget()
    {
        auto d = device(2);
        d->caps.setMainPixelLimit(0, int32_t(k1080p * 10 + kD1 * 25));
        auto b = load(*d);
        QCOMPARE(b->show(StreamKind::Main).maxFrameRate, 10);

        auto s = device(2);
        s->caps.setWord(EncodeCaps::PixelRateBudget, int32_t((k1080p * 25 + kD1 * 25) * 2));
        s->caps.setWord(EncodeCaps::SharedBudget, 1);
        s->table.channel[1].main.setResolution(0);  // leaves channel 0 more, but shared is even
        auto shared = load(*s);
        QCOMPARE(shared->sharedBudget(StreamKind::Main), (2 * (k1080p + kD1) * 25 - 2 * kD1 * 25) / 2);
        QCOMPARE(shared->show(StreamKind::Main).maxFrameRate, 25);
        shared->chooseResolution(StreamKind::Main, 11, 20, 4);
        QCOMPARE(shared->table().channel[1].main.resolution(), 11);
        QCOMPARE(shared->table().channel[1].main.frameRate(), 20);
    }

    void frameRateBelowOneFrameAndExhaustedBudget()
    {
        auto d = device(2);
        const int64_t others = (k1080p + kD1) * 25;
        d->caps.setWord(EncodeCaps::PixelRateBudget, int32_t(others + kD1 * 25 + k1080p / 2));
        auto b = load(*d);
        // Half a frame left: the slider still offers 1 fps.
        StreamView v = b->show(StreamKind::Main);
        QCOMPARE(v.maxFrameRate, 1);
        QCOMPARE(v.frameRate, 25);
        QVERIFY(v.frameRateOver);

        // Nothing left: showing keeps the stream's own rate ...
        d->caps.setWord(EncodeCaps::PixelRateBudget, int32_t(others));
        b = load(*d);
        v = b->show(StreamKind::Main);
        QCOMPARE(v.maxFrameRate, 25);
        // ... and a new resolution gets 1 fps, never 0 or less.
        b->chooseResolution(StreamKind::Main, 11, 25, 4);
        QCOMPARE(b->shownRecord().main.resolution(), 11);
        QCOMPARE(b->shownRecord().main.frameRate(), 1);
        QVERIFY(b->shownRecord().main.bitRate() > 0);
    }

    void resolutionBeyondTheMaskIsShownAsRead()
    {
        auto d = device(1);
        d->caps.setMainResolutionMask(0, 1u << 0 | 1u << 11);  // D1 and 720P
        auto b = load(*d);
        const StreamView v = b->show(StreamKind::Main);
        QCOMPARE(resolutions(v), (QVector<int>{0, 11}));
        QCOMPARE(v.resolution, 14);
        QVERIFY(!v.resolutionOffered);
        QVERIFY(v.overLimits());
        QCOMPARE(b->shownRecord().main.resolution(), 14);
        // Picking it again keeps it, a resolution not offered cannot be
        // picked, and an offered one is a change like any other.
        b->chooseResolution(StreamKind::Main, 14, 10, 1);
        QVERIFY(std::memcmp(&b->shownRecord().main, &d->table.channel[0].main, sizeof(StreamParams)) == 0);
        b->chooseResolution(StreamKind::Main, 16, 25, 4);
        QCOMPARE(b->shownRecord().main.resolution(), 14);
        b->chooseEncodeType(StreamKind::Main, 8, 14, 25, 4);
        QCOMPARE(b->shownRecord().main.resolution(), 14);
        QCOMPARE(b->shownRecord().main.bitRate(), 2662);  // 1080P grade 3 in the H.265 table
        b->chooseResolution(StreamKind::Main, 11, 25, 4);
        QVERIFY(b->show(StreamKind::Main).resolutionOffered);

        // An index outside the table is left alone.
        d->table.channel[0].main.setResolution(40);
        b = load(*d);
        QCOMPARE(b->show(StreamKind::Main).resolution, 40);
    }

    void subResolutionsFollowTheMainOne()
    {
        auto d = device(1);
        d->table.channel[0].main.setResolution(0);
        auto b = load(*d);
        // D1 main stream: the sub stream may use D1, HD1, CIF and QCIF (mask 27).
        QCOMPARE(resolutions(b->show(StreamKind::Sub)), (QVector<int>{0, 1, 3, 4}));

        d->caps.setSubMaskByMainRes(0, 0, 1u << 3 | 1u << 5);
        b = load(*d);
        QCOMPARE(resolutions(b->show(StreamKind::Sub)), (QVector<int>{3}));

        // A main resolution without an allowed-sub mask restricts nothing.
        d->caps.setSubMaskByMainRes(0, 0, 0);
        d->table.channel[0].main.setResolution(25);
        b = load(*d);
        QCOMPARE(b->show(StreamKind::Sub).resolutions.size(), std::size_t(21));
    }

    void offeredBitRates()
    {
        auto d = device(1);
        d->table.channel[0].main.setFrameRate(12);
        d->table.channel[0].main.setBitControl(1);
        auto b = load(*d);
        StreamView v = b->show(StreamKind::Main);
        QCOMPARE(values(v), (QVector<int>{495, 991, 1487, 1982, 2974, 3965}));
        QCOMPARE(v.bitRate, 1982);  // VBR follows quality 4
        QVERIFY(v.qualityEnabled);
        QVERIFY(!v.bitRateEnabled);

        // An empty I-frame field counts as 0: the table values themselves.
        b->setIFrameInterval(StreamKind::Main, 0);
        QCOMPARE(values(b->show(StreamKind::Main)), (QVector<int>{1024, 2048, 3072, 4096, 6144, 8192}));

        // H.265 takes its own table.
        b->chooseEncodeType(StreamKind::Main, 8, 14, 25, 4);
        QCOMPARE(values(b->show(StreamKind::Main)), (QVector<int>{665, 1331, 1996, 2662, 3993, 5324}));
    }

    void bitRateCapHidesHigherGrades()
    {
        auto d = device(4);
        for (int ch = 1; ch < 4; ++ch)
            d->table.channel[ch].main.setBitRate(7192);  // 24576 - 3 * 7192 = 3000
        auto b = load(*d);
        QCOMPARE(b->mainBitRateCap(0), int64_t(3000));
        StreamView v = b->show(StreamKind::Main);
        QCOMPARE(values(v), (QVector<int>{1024, 2048}));
        // The stored 4096 is shown as read and said to be over the cap.
        QCOMPARE(v.bitRate, 4096);
        QVERIFY(v.bitRateOver);
        QCOMPARE(v.maxQuality, 2);
        // The sub stream has no cap.
        QCOMPARE(b->show(StreamKind::Sub).bitRates.size(), std::size_t(6));
        // A channel whose main video is off does not count.
        d->table.channel[1].main.setVideoOn(false);
        QCOMPARE(load(*d)->mainBitRateCap(0), int64_t(24576 - 2 * 7192));
        // A budget of 0 on the device means 24576.
        d->caps.setWord(EncodeCaps::BitRateBudget, 30000);
        QCOMPARE(load(*d)->bitRateBudget(), int64_t(30000));
    }

    void frameRateReleaseRescalesTheBitRate()
    {
        auto b = load(*device(1));
        b->releaseFrameRate(StreamKind::Main, 12);
        QCOMPARE(b->shownRecord().main.frameRate(), 12);
        QCOMPARE(b->shownRecord().main.bitRate(), 1982);
        b->releaseFrameRate(StreamKind::Main, 25);
        QCOMPARE(b->shownRecord().main.bitRate(), 4093);  // integer division loses a little

        auto d = device(1);
        d->table.channel[0].main.setBitControl(1);
        d->table.channel[0].main.setQuality(6);
        b = load(*d);
        b->releaseFrameRate(StreamKind::Main, 12);
        QCOMPARE(b->shownRecord().main.bitRate(), 610 * 8192 / 1260);

        // An interval and rate that would divide by zero leave the rate alone.
        d = device(1);
        d->table.channel[0].main.setIFrameInterval(-1);
        d->table.channel[0].main.setFrameRate(10);
        b = load(*d);
        b->releaseFrameRate(StreamKind::Main, 5);
        QCOMPARE(b->shownRecord().main.bitRate(), 4096);
    }

    void newResolutionRecomputesTheBitRate()
    {
        auto b = load(*device(1));
        b->chooseResolution(StreamKind::Main, 11, 25, 5);
        QCOMPARE(b->shownRecord().main.resolution(), 11);
        QCOMPARE(b->shownRecord().main.frameRate(), 25);
        QCOMPARE(b->shownRecord().main.bitRate(), 3072);
        b->chooseResolution(StreamKind::Main, 32, 25, 5);  // not a resolution
        QCOMPARE(b->shownRecord().main.resolution(), 11);
    }

    void qualityAndBitControl()
    {
        auto b = load(*device(1));
        QCOMPARE(b->setQuality(StreamKind::Main, 2), 2048);
        QCOMPARE(b->shownRecord().main.quality(), 2);
        b->setBitControl(StreamKind::Main, 1);
        QCOMPARE(b->shownRecord().main.bitControl(), 1);
        QCOMPARE(b->shownRecord().main.bitRate(), 2048);
    }

    void allChannels()
    {
        auto d = device(4);
        d->caps.setWord(EncodeCaps::PixelRateBudget, int32_t(4 * (k1080p * 20 + kD1 * 25)));
        d->caps.setMainResolutionMask(0, 0x1fffff);
        d->caps.setMainResolutionMask(1, 1u << 0 | 1u << 11 | 1u << 14);
        d->caps.setMainPixelLimit(2, int32_t(k1080p * 15 + kD1 * 25));
        d->caps.setMainPixelLimit(3, int32_t(k1080p * 18 + kD1 * 25));
        for (int ch = 1; ch < 4; ++ch)
            d->table.channel[ch].main.setResolution(0);
        auto b = load(*d);
        b->selectChannel(b->allChannel());
        QVERIFY(b->showingAll());
        QCOMPARE(b->shownRecord().main.resolution(), 14);  // a copy of the first channel
        StreamView v = b->show(StreamKind::Main);
        QCOMPARE(resolutions(v), (QVector<int>{0, 11, 14}));
        QCOMPARE(v.maxFrameRate, 15);  // the smallest main limit
        QCOMPARE(v.bitRateCap, std::optional<int64_t>(24576 / 4));

        b->chooseResolution(StreamKind::Main, 11, 25, 4);
        b->prepareSave();
        for (int ch = 0; ch < 4; ++ch)
            QVERIFY(std::memcmp(&b->table().channel[ch], &b->shownRecord(), sizeof(ChannelEncode)) == 0);
        QCOMPARE(b->table().channel[0].main.resolution(), 11);
        // Records beyond the device's channels stay as read.
        QVERIFY(std::memcmp(&b->table().channel[4], &d->table.channel[4], sizeof(ChannelEncode)) == 0);

        // Picking a real channel leaves "All".
        b->selectChannel(2);
        QVERIFY(!b->showingAll());
        QCOMPARE(b->channel(), 2);
    }

    void allWithNothingLeftSwitchesTheSubStreamOff()
    {
        auto d = device(2);
        d->caps.setWord(EncodeCaps::PixelRateBudget, int32_t(2 * k1080p * 25));
        auto b = load(*d);
        b->selectChannel(b->allChannel());
        const StreamView v = b->show(StreamKind::Sub);
        QVERIFY(!v.videoOn);
        QVERIFY(!v.controlsEnabled);
        QVERIFY(!b->shownRecord().sub.videoOn());
    }

    void storingKeepsWhatTheWidgetsCannotShow()
    {
        auto d = device(1);
        StreamParams &m = d->table.channel[0].main;
        m.setQuality(0);
        m.setBitControl(2);
        m.bytes[StreamParams::VideoOn] = 5;
        auto b = load(*d);
        const StreamView v = b->show(StreamKind::Main);
        StreamEdit e;
        e.encodeType = -1;
        e.resolution = -1;
        e.bitRate = -1;
        e.bitControl = v.vbr ? 1 : 0;
        e.quality = 1;  // what the slider shows for 0
        e.frameRate = v.frameRate;
        e.iFrameInterval = v.iFrameInterval;
        e.videoOn = true;
        e.audioOn = false;
        b->store(StreamKind::Main, e);
        QVERIFY(std::memcmp(&b->shownRecord().main, &m, sizeof m) == 0);

        e.quality = 3;
        e.bitRate = 2000;
        e.videoOn = false;
        b->store(StreamKind::Main, e);
        QCOMPARE(b->shownRecord().main.quality(), 3);
        QCOMPARE(b->shownRecord().main.bitRate(), 2000);
        QVERIFY(!b->shownRecord().main.videoOn());
    }

    // Every way the page sets a main-stream bit rate stays within the cap;
    // the cap here is 3000 (three other channels at 7192 of 24576).
    void choicesStayWithinTheBitRateCap_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("vbr");
        QTest::newRow("VBR quality slider at 6") << 0 << true;
        QTest::newRow("new resolution at quality 6") << 1 << false;
        QTest::newRow("switch to VBR at quality 6") << 2 << false;
        QTest::newRow("CBR frame rate raised") << 3 << false;
        QTest::newRow("bit rate typed above the cap") << 4 << false;
        QTest::newRow("stored widgets above the cap") << 5 << false;
        QTest::newRow("\"All\" quality slider at 6") << 6 << true;
    }
    void choicesStayWithinTheBitRateCap()
    {
        QFETCH(int, choice);
        QFETCH(bool, vbr);
        auto d = device(4);
        for (int ch = 1; ch < 4; ++ch)
            d->table.channel[ch].main.setBitRate(7192);
        d->table.channel[0].main.setBitControl(vbr ? 1 : 0);
        d->table.channel[0].main.setQuality(6);
        d->table.channel[0].main.setBitRate(2000);
        d->table.channel[0].main.setFrameRate(10);
        auto b = load(*d);
        int64_t cap = 3000;
        switch (choice) {
        case 0:
            QCOMPARE(b->setQuality(StreamKind::Main, 6), 2486);  // grade 5 at 10 fps: the highest within
            QVERIFY(b->shownRecord().main.quality() <= b->show(StreamKind::Main).maxQuality);
            break;
        case 1:
            b->chooseResolution(StreamKind::Main, 16, 25, 6);
            break;
        case 2:
            b->setBitControl(StreamKind::Main, 1);
            break;
        case 3:
            b->releaseFrameRate(StreamKind::Main, 25);
            QCOMPARE(b->shownRecord().main.frameRate(), 25);
            break;
        case 4:
            b->setBitRate(StreamKind::Main, 8192);
            break;
        case 5: {
            const StreamView v = b->show(StreamKind::Main);
            StreamEdit e;
            e.bitControl = 0;
            e.frameRate = v.frameRate;
            e.quality = v.quality;
            e.bitRate = 6144;
            e.iFrameInterval = v.iFrameInterval;
            e.videoOn = true;
            b->store(StreamKind::Main, e);
            break;
        }
        case 6:
            b->selectChannel(b->allChannel());
            cap = 24576 / 4;
            b->setQuality(StreamKind::Main, 6);
            break;
        }
        QVERIFY2(b->shownRecord().main.bitRate() <= cap, qPrintable(QString::number(b->shownRecord().main.bitRate())));
        QVERIFY(b->shownRecord().main.bitRate() > 0);
        QVERIFY(!b->show(StreamKind::Main).bitRateOver);
    }

    // A device beyond its own limits: saving what was shown writes back
    // exactly what was read; a change still has to fit.
    void valuesAsReadAreKeptUnlessChanged()
    {
        auto d = device(2);
        const int64_t total = (k1080p * 20 + kD1 * 25) * 2;
        d->caps.setWord(EncodeCaps::PixelRateBudget, int32_t(total));
        d->caps.setWord(EncodeCaps::BitRateBudget, 6000);
        d->caps.setMainResolutionMask(0, 1u << 0 | 1u << 11);
        auto b = load(*d);
        const StreamView v = b->show(StreamKind::Main);
        QVERIFY(v.frameRateOver);
        QVERIFY(v.bitRateOver);
        QVERIFY(!v.resolutionOffered);
        QCOMPARE(v.frameRate, 25);
        QCOMPARE(v.maxFrameRate, 15);
        StreamEdit e;
        e.encodeType = v.encodeType;
        e.resolution = v.resolution;
        e.bitControl = v.vbr ? 1 : 0;
        e.frameRate = v.frameRate;
        e.quality = v.quality;
        e.bitRate = v.bitRate;
        e.iFrameInterval = v.iFrameInterval;
        e.videoOn = v.videoOn;
        e.audioOn = v.audioOn;
        b->store(StreamKind::Main, e);
        b->prepareSave();
        QVERIFY(std::memcmp(&b->table(), &d->table, sizeof(EncodeTable)) == 0);

        // Leaving the slider where it was keeps the rate; moving it fits.
        b->releaseFrameRate(StreamKind::Main, 25);
        QCOMPARE(b->shownRecord().main.frameRate(), 25);
        b->show(StreamKind::Main);
        e.frameRate = 24;
        b->store(StreamKind::Main, e);
        QCOMPARE(b->shownRecord().main.frameRate(), 15);
        b->releaseFrameRate(StreamKind::Main, 22);
        QCOMPARE(b->shownRecord().main.frameRate(), 15);
    }

    void subStreamFollowsANewMainResolution()
    {
        auto d = device(1);
        d->table.channel[0].sub.setResolution(5);  // VGA goes with 1080P, not with CIF
        d->table.channel[0].sub.setBitControl(1);
        auto b = load(*d);
        QVERIFY(b->show(StreamKind::Sub).resolutionOffered);
        b->chooseResolution(StreamKind::Main, 3, 25, 4);
        // CIF main allows CIF and QCIF below it: the nearest no larger is CIF.
        QCOMPARE(b->shownRecord().sub.resolution(), 3);
        QCOMPARE(b->shownRecord().sub.bitRate(), 384);
        QVERIFY(b->show(StreamKind::Sub).resolutionOffered);
        // A sub stream that is off is left alone.
        d->table.channel[0].sub.setVideoOn(false);
        b = load(*d);
        b->chooseResolution(StreamKind::Main, 3, 25, 4);
        QCOMPARE(b->shownRecord().sub.resolution(), 5);
    }

    void changesAreDescribedShortly()
    {
        auto d = device(3);
        const ResolutionTable table = ResolutionTable::fixed(false, 1);
        EncodeTable after = d->table;
        QCOMPARE(describeChanges(d->table, after, 3, table).before, std::string());
        after.channel[1].main.setResolution(11);
        after.channel[1].main.setBitRate(2048);
        after.channel[2].sub.setBitControl(1);
        after.channel[2].sub.setQuality(5);
        after.channel[5].main.setFrameRate(3);  // beyond the channel count: not the device's
        const EncodeChangeText t = describeChanges(d->table, after, 3, table);
        QCOMPARE(QString::fromStdString(t.before),
                 QStringLiteral("ch2 main: 1920x1080 25fps 4096kbps; ch3 sub: 704x576 25fps 1024kbps CBR q3"));
        QCOMPARE(QString::fromStdString(t.after),
                 QStringLiteral("ch2 main: 1280x720 25fps 2048kbps; ch3 sub: 704x576 25fps 1024kbps VBR q5"));
        QCOMPARE(QString::fromStdString(resolutionSizeText(table, 9)), QStringLiteral("1280x1944"));
        QCOMPARE(QString::fromStdString(resolutionSizeText(table, 25)), QStringLiteral("#25"));
    }

    void audioNeedsVideoAndAnAudioChannel()
    {
        auto d = device(4);
        d->audioChannelCount = 2;
        auto b = load(*d);
        QVERIFY(b->audioEnabled());
        b->selectChannel(2);
        QVERIFY(!b->audioEnabled());
        b->setAudio(StreamKind::Main, true, false);
        QVERIFY(!b->shownRecord().main.audioOn());
        b->setAudio(StreamKind::Main, true, true);
        QVERIFY(b->shownRecord().main.audioOn());
        d->audioChannelCount = 4;
        b = load(*d);
        b->selectChannel(b->allChannel());
        QVERIFY(b->audioEnabled());
    }
};

QTEST_APPLESS_MAIN(TestEncodeBudget)
#include "tst_encodebudget.moc"
