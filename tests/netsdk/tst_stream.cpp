// Live streams through the SDK against the in-process emulator: real H.264
// that decodes at the encode table's size, the end of callbacks on clear,
// stop and logout, refused requests, and a picture that follows the
// camera's image settings.

#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "ConfigRecords.h"
#include "EmulatorFixture.h"
#include "Protocol.h"

using namespace scoutrix;
using devsim::Fleet;
using Clock = std::chrono::steady_clock;

namespace {

struct Request
{
    int32_t channel, stream, reserved1, reserved2;
};
static_assert(sizeof(Request) == NETSDK_STREAM_REQUEST_SIZE, "four words");

struct Picture
{
    int width = 0, height = 0;
    std::vector<uint8_t> y, u, v;
    uint8_t Y(int x, int yy) const { return y[std::size_t(yy) * std::size_t(width) + std::size_t(x)]; }
};

class Decoder
{
public:
    Decoder()
    {
        av_log_set_level(AV_LOG_QUIET);
        m_ctx = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        m_ok = m_ctx && avcodec_open2(m_ctx, avcodec_find_decoder(AV_CODEC_ID_H264), nullptr) == 0;
    }
    ~Decoder()
    {
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_ctx);
    }
    // True once |unit| gave a picture.
    bool decode(std::vector<uint8_t> unit, Picture &out)
    {
        if (!m_ok)
            return false;
        // The decoder reads ahead of the data by up to the padding.
        const std::size_t size = unit.size();
        unit.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        m_packet->data = unit.data();
        m_packet->size = int(size);
        if (avcodec_send_packet(m_ctx, m_packet) < 0)
            return false;
        if (avcodec_receive_frame(m_ctx, m_frame) != 0)
            return false;
        out.width = m_frame->width;
        out.height = m_frame->height;
        auto plane = [this](int p, int w, int h) {
            std::vector<uint8_t> bytes(std::size_t(w) * std::size_t(h));
            for (int row = 0; row < h; ++row)
                std::memcpy(&bytes[std::size_t(row) * std::size_t(w)],
                    m_frame->data[p] + std::ptrdiff_t(row) * m_frame->linesize[p], std::size_t(w));
            return bytes;
        };
        out.y = plane(0, out.width, out.height);
        out.u = plane(1, out.width / 2, out.height / 2);
        out.v = plane(2, out.width / 2, out.height / 2);
        av_frame_unref(m_frame);
        return true;
    }

private:
    AVCodecContext *m_ctx = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
    bool m_ok = false;
};

// Everything one stream's callback saw. |inside| and |afterClear| catch a
// callback that runs when it must not.
struct Collector
{
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> units;
    std::vector<int32_t> types;
    std::atomic<int> calls { 0 };
    std::atomic<int> inside { 0 };
    std::atomic<bool> cleared { false };
    std::atomic<int> afterClear { 0 };
    int sleepMs = 0;
    int32_t handle = 0;
    bool clearFromInside = false;
    bool stopFromInside = false;
    std::atomic<int32_t> insideResult { 1 };
};

int32_t onData(int32_t stream, int32_t type, char *data, int32_t length, void *user)
{
    auto *c = static_cast<Collector *>(user);
    if (!c)
        return -1;
    ++c->inside;
    if (c->cleared)
        ++c->afterClear;
    {
        std::lock_guard<std::mutex> lock(c->mutex);
        c->units.emplace_back(data, data + length);
        c->types.push_back(type);
    }
    ++c->calls;
    if (c->sleepMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(c->sleepMs));
    if (c->clearFromInside && stream == c->handle) {
        c->insideResult = NetSdk_ClearStreamCallback(stream, onData, user);
        c->cleared = true;
    }
    if (c->stopFromInside && stream == c->handle) {
        c->cleared = true;
        c->insideResult = NetSdk_StopRealStream(stream);
    }
    --c->inside;
    return 1;
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int32_t startStream(int32_t login, int32_t channel, int32_t stream)
{
    const Request r { channel, stream, 0, 0 };
    return NetSdk_StartRealStream(login, &r, 0);
}

// The first picture of a new stream.
Picture grab(int32_t login, int32_t stream = 1)
{
    Picture p;
    Collector c;
    const int32_t h = startStream(login, 0, stream);
    if (h <= 0)
        return p;
    NetSdk_SetStreamCallback(h, onData, &c);
    Decoder d;
    std::size_t next = 0;
    waitFor(
        [&] {
            std::vector<std::vector<uint8_t>> units;
            {
                std::lock_guard<std::mutex> lock(c.mutex);
                units.assign(c.units.begin() + std::ptrdiff_t(next), c.units.end());
                next = c.units.size();
            }
            for (auto &u : units) {
                if (d.decode(u, p))
                    return true;
            }
            return false;
        },
        5000);
    NetSdk_StopRealStream(h);
    return p;
}

// The size the encode table and the resolution list give channel 0's stream.
QSize tableSize(int32_t login, bool sub)
{
    auto table = std::make_unique<EncodeTable>();
    ResolutionList list;
    int32_t got = 0;
    if (NetSdk_GetConfig(login, CmdEncodeTable, -1, table.get(), int32_t(sizeof(EncodeTable)), &got, 2000) < 0
        || NetSdk_GetConfig(login, CmdResolutionList, -1, &list, int32_t(sizeof list), &got, 2000) < 0)
        return {};
    const StreamParams &s = sub ? table->channel[0].sub : table->channel[0].main;
    const ResolutionEntry &e = list.entry[s.resolution()];
    return QSize(e.widthValue(), e.heightValue());
}

std::vector<uint8_t> record(int32_t login, int32_t command, std::size_t size)
{
    std::vector<uint8_t> r(size);
    int32_t got = 0;
    if (NetSdk_GetConfig(login, command, 0, r.data(), int32_t(size), &got, 2000) < 0 || std::size_t(got) != size)
        r.clear();
    return r;
}

// Mean absolute difference of the two lumas above the clock strip, with
// |b| read flipped as asked.
double lumaDistance(const Picture &a, const Picture &b, bool mirror, bool roll)
{
    const int h = a.height * 85 / 100;
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const int bx = mirror ? a.width - 1 - x : x;
            const int by = roll ? a.height - 1 - y : y;
            sum += std::abs(int(a.Y(x, y)) - int(b.Y(bx, by)));
        }
    }
    return sum / (double(h) * a.width);
}

int chromaSpread(const Picture &p)
{
    int spread = 0;
    for (std::size_t i = 0; i < p.u.size(); ++i)
        spread = std::max({ spread, std::abs(p.u[i] - 128), std::abs(p.v[i] - 128) });
    return spread;
}

double meanLuma(const Picture &p)
{
    double sum = 0;
    for (const uint8_t v : p.y)
        sum += v;
    return sum / double(p.y.size());
}

} // namespace

class TestStream : public QObject
{
    Q_OBJECT

    std::unique_ptr<devsim::Emulator> m_emu;
    int32_t m_login = 0;

private slots:
    void initTestCase()
    {
        NetSdk_Init(0, 0);
        m_emu = fixture::start(devsim::generatedFleet(1)); // a one-channel camera
        QVERIFY(m_emu);
        m_login = fixture::login(*m_emu, 0);
        QVERIFY(m_login > 0);
    }

    void cleanupTestCase()
    {
        NetSdk_Logout(m_login);
        m_emu.reset();
    }

    void streamDecodesAtTheEncodeTablesSizeAndCarriesItsSendTime()
    {
        for (const int stream : { 1, 0 }) {
            const QSize expected = tableSize(m_login, stream == 1);
            QVERIFY(expected.isValid());
            Collector c;
            const int32_t h = startStream(m_login, 0, stream);
            QVERIFY2(h > 0, qPrintable(QString::number(h)));
            QCOMPARE(NetSdk_SetStreamCallback(h, onData, &c), 0);
            QVERIFY(waitFor([&] { return c.calls >= 3; }, 5000));
            QCOMPARE(NetSdk_StopRealStream(h), 0);
            const int after = c.calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            QCOMPARE(c.calls.load(), after);

            Decoder d;
            Picture p;
            bool decoded = false;
            for (const auto &u : c.units)
                decoded = d.decode(u, p) || decoded;
            QVERIFY(decoded);
            QCOMPARE(QSize(p.width, p.height), expected);
            QCOMPARE(c.types.front(), int32_t(proto::StreamDataType::H264AccessUnit));
            // Each unit is stamped with the time it left the device.
            const uint64_t now = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                                              .count());
            for (const auto &u : c.units) {
                uint64_t sent = 0;
                QVERIFY(proto::findStreamStamp(u.data(), u.size(), sent));
                QVERIFY(sent <= now && now - sent < 10000000);
            }
        }
        // The stamp survives every byte value: emulation prevention at work.
        for (const uint64_t t : { uint64_t(0), uint64_t(0x0000000300000001), ~uint64_t(0) }) {
            const auto nal = proto::streamStampNal(t);
            uint64_t back = 1;
            QVERIFY(proto::findStreamStamp(nal.data(), nal.size(), back));
            QCOMPARE(back, t);
        }
    }

    // The stream takes the encode table as it is when the stream starts.
    void frameRateFollowsTheEncodeTable()
    {
        auto table = std::make_unique<EncodeTable>();
        int32_t got = 0;
        QVERIFY(NetSdk_GetConfig(m_login, CmdEncodeTable, -1, table.get(), int32_t(sizeof(EncodeTable)), &got, 2000) >= 0);
        const int32_t before = table->channel[0].sub.frameRate();
        table->channel[0].sub.setFrameRate(8);
        QCOMPARE(NetSdk_SetConfig(m_login, CmdEncodeTable, -1, table.get(), int32_t(sizeof(EncodeTable)), 2000), 0);
        Collector c;
        const int32_t h = startStream(m_login, 0, 1);
        QVERIFY(h > 0);
        NetSdk_SetStreamCallback(h, onData, &c);
        QVERIFY(waitFor([&] { return c.calls >= 1; }, 5000));
        const int first = c.calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const int frames = c.calls - first;
        QCOMPARE(NetSdk_StopRealStream(h), 0);
        table->channel[0].sub.setFrameRate(before);
        QCOMPARE(NetSdk_SetConfig(m_login, CmdEncodeTable, -1, table.get(), int32_t(sizeof(EncodeTable)), 2000), 0);
        QVERIFY2(frames >= 8 && frames <= 16, qPrintable(QString::number(frames))); // 12 expected
    }

    void requestsTheDeviceCannotServeAreRefused()
    {
        QVERIFY(startStream(m_login, 1, 1) <= 0); // the camera has one channel
        QVERIFY(startStream(m_login, -1, 1) <= 0);
        QVERIFY(startStream(m_login, 0, 2) <= 0); // neither main nor sub
        const Request reserved { 0, 1, 7, 0 };
        QVERIFY(NetSdk_StartRealStream(m_login, &reserved, 0) <= 0);
        QVERIFY(NetSdk_StartRealStream(m_login, nullptr, 0) <= 0);
        QVERIFY(startStream(999999, 0, 1) <= 0);
        QVERIFY(NetSdk_SetStreamCallback(424242, onData, nullptr) < 0);
        QVERIFY(NetSdk_StopRealStream(424242) < 0);
        // The session is still good for a stream after the refusals.
        const int32_t h = startStream(m_login, 0, 1);
        QVERIFY(h > 0);
        QCOMPARE(NetSdk_StopRealStream(h), 0);
        QVERIFY(NetSdk_StopRealStream(h) < 0); // stopped once only
    }

    // A page may be destroyed as soon as clear (or stop) returns: no call of
    // its callback may run then, even one that had already begun.
    void noCallbackRunsOnceClearOrStopHasReturned()
    {
        for (int round = 0; round < 12; ++round) {
            Collector c;
            c.sleepMs = 15;
            const int32_t h = startStream(m_login, 0, 1);
            QVERIFY(h > 0);
            NetSdk_SetStreamCallback(h, onData, &c);
            QVERIFY(waitFor([&] { return c.calls >= 1 + round % 3; }, 5000));
            if (round % 2 == 0) {
                QCOMPARE(NetSdk_ClearStreamCallback(h, onData, &c), 0);
                c.cleared = true;
                QCOMPARE(c.inside.load(), 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                QCOMPARE(NetSdk_StopRealStream(h), 0);
            } else {
                QCOMPARE(NetSdk_StopRealStream(h), 0);
                c.cleared = true;
                QCOMPARE(c.inside.load(), 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
            }
            QCOMPARE(c.afterClear.load(), 0);
        }
        // Clearing with another user pointer leaves the callback in place.
        Collector c;
        const int32_t h = startStream(m_login, 0, 1);
        NetSdk_SetStreamCallback(h, onData, &c);
        QVERIFY(NetSdk_ClearStreamCallback(h, onData, nullptr) < 0);
        const int before = c.calls;
        QVERIFY(waitFor([&] { return c.calls > before; }, 5000));
        QCOMPARE(NetSdk_StopRealStream(h), 0);
    }

    void clearAndStopFromInsideTheCallbackDoNotDeadlock()
    {
        for (const bool stop : { false, true }) {
            Collector c;
            c.clearFromInside = !stop;
            c.stopFromInside = stop;
            c.handle = startStream(m_login, 0, 1);
            QVERIFY(c.handle > 0);
            NetSdk_SetStreamCallback(c.handle, onData, &c);
            QVERIFY(waitFor([&] { return c.cleared.load(); }, 5000));
            QVERIFY(waitFor([&] { return c.inside == 0; }, 2000));
            QCOMPARE(c.insideResult.load(), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            QCOMPARE(c.calls.load(), 1);
            if (!stop)
                QCOMPARE(NetSdk_StopRealStream(c.handle), 0);
        }
    }

    void logoutEndsTheStream()
    {
        const int32_t login = fixture::login(*m_emu, 0);
        QVERIFY(login > 0);
        Collector c;
        const int32_t h = startStream(login, 0, 1);
        QVERIFY(h > 0);
        NetSdk_SetStreamCallback(h, onData, &c);
        QVERIFY(waitFor([&] { return c.calls >= 2; }, 5000));
        NetSdk_Logout(login);
        const int after = c.calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QCOMPARE(c.calls.load(), after);
        QCOMPARE(NetSdk_StopRealStream(h), 0); // the handle is still released
    }

    // A device that goes away (here: the whole emulator, mid-stream, main
    // streams being the slowest to encode) ends the stream like a logout.
    void emulatorStopsWithStreamsOpen()
    {
        auto emu = fixture::start(devsim::generatedFleet(1));
        QVERIFY(emu);
        const int32_t login = fixture::login(*emu, 0);
        QVERIFY(login > 0);
        Collector c;
        std::vector<int32_t> streams;
        for (const int stream : { 0, 1, 0 }) {
            streams.push_back(startStream(login, 0, stream));
            QVERIFY(streams.back() > 0);
        }
        NetSdk_SetStreamCallback(streams.front(), onData, &c);
        QVERIFY(waitFor([&] { return c.calls >= 1; }, 5000));
        const auto t0 = Clock::now();
        emu.reset();
        QVERIFY(Clock::now() - t0 < std::chrono::seconds(2));
        const int after = c.calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QCOMPARE(c.calls.load(), after);
        for (const int32_t h : streams)
            QCOMPARE(NetSdk_StopRealStream(h), 0);
        NetSdk_Logout(login);
    }

    void pictureFollowsTheImageSettings()
    {
        const std::vector<uint8_t> image = record(m_login, 78, 24);
        const std::vector<uint8_t> exposure = record(m_login, 134, 212);
        QVERIFY(!image.empty() && !exposure.empty());
        const Picture plain = grab(m_login);
        QVERIFY(plain.width > 0);
        QVERIFY(lumaDistance(plain, plain, true, false) > 15); // asymmetric both ways
        QVERIFY(lumaDistance(plain, plain, false, true) > 15);
        QVERIFY(chromaSpread(plain) > 40);

        auto withImage = [&](int offset, uint8_t value) {
            std::vector<uint8_t> r = image;
            r[std::size_t(offset)] = value;
            return NetSdk_SetConfig(m_login, 78, 0, r.data(), int32_t(r.size()), 2000);
        };
        QCOMPARE(withImage(3, 1), 0); // mirror
        const Picture mirrored = grab(m_login);
        QVERIFY2(lumaDistance(plain, mirrored, true, false) < 4,
            qPrintable(QString::number(lumaDistance(plain, mirrored, true, false))));
        QCOMPARE(withImage(4, 1), 0); // roll, mirror off again
        const Picture rolled = grab(m_login);
        QVERIFY(lumaDistance(plain, rolled, false, true) < 4);
        QCOMPARE(withImage(0, 2), 0); // black and white
        const Picture grey = grab(m_login);
        QVERIFY(chromaSpread(grey) <= 3);
        QVERIFY(lumaDistance(plain, grey, false, false) < 4);

        // AE in the block in force (header byte 0 and WDR both 0: block 0);
        // a change in another block leaves the picture alone.
        QCOMPARE(withImage(0, 0), 0);
        std::vector<uint8_t> e = exposure;
        e[4 + 52 * 1 + 26] = 255;
        QCOMPARE(NetSdk_SetConfig(m_login, 134, 0, e.data(), int32_t(e.size()), 2000), 0);
        const Picture other = grab(m_login);
        QVERIFY(std::abs(meanLuma(other) - meanLuma(plain)) < 2);
        e[4 + 26] = 255;
        QCOMPARE(NetSdk_SetConfig(m_login, 134, 0, e.data(), int32_t(e.size()), 2000), 0);
        const Picture bright = grab(m_login);
        QVERIFY2(meanLuma(bright) > meanLuma(plain) + 15,
            qPrintable(QString("%1 %2").arg(meanLuma(bright)).arg(meanLuma(plain))));
        QCOMPARE(NetSdk_SetConfig(m_login, 134, 0, exposure.data(), int32_t(exposure.size()), 2000), 0);
    }
};

QTEST_GUILESS_MAIN(TestStream)
#include "tst_stream.moc"
