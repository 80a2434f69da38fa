// The player on libavcodec: decoding whatever way the bytes are cut, pictures
// out without delay, the port's open / play / input / stop / close sequence,
// the newest picture only, and the view saying so when the stream stops.

#include <QtTest>

#include <QRandomGenerator>
#include <QWidget>

#include "H264Decoder.h"
#include "PlaySdk.h"
#include "PlaySdkControl.h"
#include "PlayerView.h"
#include "TestEncoder.h"

using namespace scoutrix::play;

namespace {

// The picture's number, read back from the height of its white bar.
int barIndex(const QImage &img)
{
    const int x = img.width() / 2;
    int rows = 0;
    while (rows < img.height() && qGray(img.pixel(x, rows)) > 200)
        ++rows;
    return (rows - 8 + 2) / 4;
}

bool bluish(QRgb c) { return qBlue(c) > 150 && qRed(c) < 100; }
bool reddish(QRgb c) { return qRed(c) > 150 && qBlue(c) < 100; }

void countFrames(int32_t, char *, int32_t size, int32_t width, int32_t height, int32_t, int32_t, void *user)
{
    auto *n = static_cast<QAtomicInt *>(user);
    if (size >= width * height * 4)
        n->ref();
}

} // namespace

class TestPlayer : public QObject
{
    Q_OBJECT

    std::vector<testenc::AccessUnit> m_units;

private slots:
    void initTestCase()
    {
        m_units = testenc::encode(320, 180, 30);
        if (m_units.empty())
            QSKIP("libavcodec has no libx264 encoder here");
        QCOMPARE(int(m_units.size()), 30);
    }

    // Whole access units and random cuts give the same pictures; each whole
    // unit gives its picture at once, not a frame later.
    void decodesAnyChunking()
    {
        H264Decoder whole;
        QVERIFY(whole.valid());
        QVector<int> indices;
        for (std::size_t i = 0; i < m_units.size(); ++i) {
            int got = 0;
            whole.feedAccessUnit(m_units[i].data(), m_units[i].size(), [&](DecodedFrame &&f) {
                ++got;
                QCOMPARE(f.image.size(), QSize(320, 180));
                QVERIFY(bluish(f.image.pixel(20, 170)));
                QVERIFY(reddish(f.image.pixel(300, 170)));
                indices.append(barIndex(f.image));
            });
            QCOMPARE(got, 1);
        }
        QCOMPARE(indices.size(), 30);
        QCOMPARE(indices.first(), 0);
        QCOMPARE(indices.last(), 29);

        std::vector<uint8_t> all;
        for (const auto &u : m_units)
            all.insert(all.end(), u.begin(), u.end());
        H264Decoder cut;
        QRandomGenerator gen(11);
        int frames = 0;
        for (std::size_t at = 0; at < all.size();) {
            const std::size_t n = std::min<std::size_t>(all.size() - at, 1 + gen.bounded(3000));
            cut.feed(all.data() + at, n, [&](DecodedFrame &&) { ++frames; });
            at += n;
        }
        cut.flush([&](DecodedFrame &&) { ++frames; });
        QCOMPARE(frames, 30);
    }

    void damagedDataIsSurvived()
    {
        H264Decoder d;
        QRandomGenerator gen(5);
        std::vector<uint8_t> junk(20000);
        for (auto &b : junk)
            b = uint8_t(gen.bounded(256));
        QVERIFY(d.feedAccessUnit(junk.data(), junk.size(), [](DecodedFrame &&) {}));
        // A unit cut short, then the stream from its key frame again.
        QVERIFY(d.feedAccessUnit(m_units[0].data(), m_units[0].size() / 2, [](DecodedFrame &&) {}));
        int good = 0;
        for (const auto &u : m_units)
            d.feedAccessUnit(u.data(), u.size(), [&](DecodedFrame &&f) { good += f.image.size() == QSize(320, 180); });
        QCOMPARE(good, 30);
    }

    void portSequence()
    {
        static const char header = 0;
        QWidget view;
        view.resize(320, 180);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // Nothing but port 0, and nothing before it is open.
        QCOMPARE(PlaySdk_OpenStream(1, &header, 1, 7680000), 0);
        QCOMPARE(PlaySdk_Play(0, uintptr_t(view.winId())), 0);
        QCOMPARE(PlaySdk_InputData(0, reinterpret_cast<const char *>(m_units[0].data()), int32_t(m_units[0].size())), 0);

        QCOMPARE(PlaySdk_OpenStream(0, &header, 1, 7680000), 1);
        QCOMPARE(PlaySdk_OpenStream(0, &header, 1, 7680000), 0); // one preview at a time
        QCOMPARE(PlaySdk_Play(0, uintptr_t(0xdead0000)), 0); // not a window of ours
        QCOMPARE(PlaySdk_Play(0, uintptr_t(view.winId())), 1);
        QAtomicInt decoded;
        QCOMPARE(PlaySdk_SetDecodeCallback(0, countFrames, &decoded), 1);

        // All thirty arrive before the GUI gets a turn: the view shows the
        // last and draws once or twice, never thirty times.
        for (const auto &u : m_units)
            QCOMPARE(PlaySdk_InputData(0, reinterpret_cast<const char *>(u.data()), int32_t(u.size())), 1);
        QCOMPARE(decoded.loadRelaxed(), 30);
        PlayerView *v = portView();
        QVERIFY(v);
        QCOMPARE(v->framesOffered(), 30);
        QTRY_VERIFY(v->framesDrawn() >= 1);
        QVERIFY(v->framesDrawn() <= 2);
        QCOMPARE(barIndex(v->newest()), 29);
        const QImage shown = view.grab().toImage();
        QVERIFY(bluish(shown.pixel(20, 170)));
        QVERIFY(reddish(shown.pixel(300, 170)));

        // Stopped pictures: the view says so within the stall time.
        QVERIFY(!v->stalled());
        QTRY_VERIFY_WITH_TIMEOUT(v->stalled(), PlayerView::StallMs + 1000);
        const QImage stalled = view.grab().toImage();
        QVERIFY(stalled != shown);

        QCOMPARE(PlaySdk_Stop(0), 1);
        QVERIFY(!portView());
        QCOMPARE(PlaySdk_CloseStream(0), 1);
        QCOMPARE(PlaySdk_InputData(0, reinterpret_cast<const char *>(m_units[0].data()), int32_t(m_units[0].size())), 0);
        // The port is free again.
        QCOMPARE(PlaySdk_OpenStream(0, &header, 1, 7680000), 1);
        QCOMPARE(PlaySdk_CloseStream(0), 1);
    }

    // Input from another thread while the GUI stops and closes the port.
    void stopWhileInputRuns()
    {
        static const char header = 0;
        QWidget view;
        view.resize(160, 90);
        view.show();
        for (int round = 0; round < 5; ++round) {
            QCOMPARE(PlaySdk_OpenStream(0, &header, 1, 7680000), 1);
            QCOMPARE(PlaySdk_Play(0, uintptr_t(view.winId())), 1);
            std::atomic<bool> stop { false };
            std::thread feeder([&] {
                for (std::size_t i = 0; !stop; i = (i + 1) % m_units.size())
                    PlaySdk_InputData(0, reinterpret_cast<const char *>(m_units[i].data()), int32_t(m_units[i].size()));
            });
            QTest::qWait(30);
            PlaySdk_Stop(0);
            PlaySdk_CloseStream(0);
            stop = true;
            feeder.join();
            QTest::qWait(5);
        }
        QVERIFY(!portView());
    }
};

QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
