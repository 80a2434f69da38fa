#include "LiveStream.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "EmulatorState.h"
#include "SocketLoop.h"

namespace scoutrix::devsim {

namespace {

using Clock = std::chrono::steady_clock;

// A client that falls this far behind loses frames (until the next key
// frame) rather than growing the connection's queue towards its limit.
constexpr std::size_t kBacklogLimit = 1u << 20;

// 3x5 glyphs, one row per value, bit 2 the left column.
struct Glyph
{
    char c;
    uint8_t rows[5];
};
constexpr Glyph kFont[] = {
    { '0', { 7, 5, 5, 5, 7 } }, { '1', { 2, 6, 2, 2, 7 } }, { '2', { 7, 1, 7, 4, 7 } },
    { '3', { 7, 1, 7, 1, 7 } }, { '4', { 5, 5, 7, 1, 1 } }, { '5', { 7, 4, 7, 1, 7 } },
    { '6', { 7, 4, 7, 5, 7 } }, { '7', { 7, 1, 2, 2, 2 } }, { '8', { 7, 5, 7, 5, 7 } },
    { '9', { 7, 5, 7, 1, 7 } }, { 'A', { 2, 5, 7, 5, 5 } }, { 'B', { 6, 5, 6, 5, 6 } },
    { 'C', { 3, 4, 4, 4, 3 } }, { 'D', { 6, 5, 5, 5, 6 } }, { 'E', { 7, 4, 6, 4, 7 } },
    { 'F', { 7, 4, 6, 4, 4 } }, { 'G', { 3, 4, 5, 5, 3 } }, { 'H', { 5, 5, 7, 5, 5 } },
    { 'I', { 7, 2, 2, 2, 7 } }, { 'J', { 1, 1, 1, 5, 2 } }, { 'K', { 5, 6, 4, 6, 5 } },
    { 'L', { 4, 4, 4, 4, 7 } }, { 'M', { 5, 7, 7, 5, 5 } }, { 'N', { 6, 5, 5, 5, 5 } },
    { 'O', { 2, 5, 5, 5, 2 } }, { 'P', { 6, 5, 6, 4, 4 } }, { 'Q', { 2, 5, 5, 6, 3 } },
    { 'R', { 6, 5, 6, 5, 5 } }, { 'S', { 3, 4, 2, 1, 6 } }, { 'T', { 7, 2, 2, 2, 2 } },
    { 'U', { 5, 5, 5, 5, 7 } }, { 'V', { 5, 5, 5, 5, 2 } }, { 'W', { 5, 5, 7, 7, 5 } },
    { 'X', { 5, 5, 2, 5, 5 } }, { 'Y', { 5, 5, 2, 2, 2 } }, { 'Z', { 7, 1, 2, 4, 7 } },
    { ':', { 0, 2, 0, 2, 0 } }, { '-', { 0, 0, 7, 0, 0 } }, { '.', { 0, 0, 0, 0, 2 } },
    { '/', { 1, 1, 2, 4, 4 } }, { '(', { 1, 2, 2, 2, 1 } }, { ')', { 4, 2, 2, 2, 4 } },
};

const Glyph *glyphOf(char c)
{
    if (c >= 'a' && c <= 'z')
        c = char(c - 'a' + 'A');
    for (const Glyph &g : kFont) {
        if (g.c == c)
            return &g;
    }
    return nullptr;
}

struct Rgb
{
    uint8_t r, g, b;
};

// The picture before the image settings: RGB, drawn once; only the clock
// strip at the bottom is drawn again for every frame.
class Canvas
{
public:
    Canvas(int w, int h)
        : w(w)
        , h(h)
        // The colour conversion may read a little past the last row.
        , px(std::size_t(w) * std::size_t(h) * 3 + std::size_t(w) * 3 + 64)
    {
    }

    void fill(int x0, int y0, int x1, int y1, Rgb c)
    {
        x0 = std::max(0, x0);
        y0 = std::max(0, y0);
        x1 = std::min(w, x1);
        y1 = std::min(h, y1);
        for (int y = y0; y < y1; ++y) {
            uint8_t *p = &px[(std::size_t(y) * std::size_t(w) + std::size_t(x0)) * 3];
            for (int x = x0; x < x1; ++x, p += 3) {
                p[0] = c.r;
                p[1] = c.g;
                p[2] = c.b;
            }
        }
    }

    // Returns the x after the text.
    int text(int x, int y, int dot, const std::string &s, Rgb c)
    {
        for (const char ch : s) {
            if (const Glyph *g = glyphOf(ch)) {
                for (int row = 0; row < 5; ++row) {
                    for (int col = 0; col < 3; ++col) {
                        if (g->rows[row] >> (2 - col) & 1)
                            fill(x + col * dot, y + row * dot, x + (col + 1) * dot, y + (row + 1) * dot, c);
                    }
                }
            }
            x += 4 * dot;
        }
        return x;
    }

    const int w, h;
    std::vector<uint8_t> px;
};

void drawScene(Canvas &cv, const LiveStreamFormat &f)
{
    const int w = cv.w, h = cv.h;
    // A background that changes across and down, so no flip leaves it alike.
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t *p = &cv.px[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 3];
            p[0] = uint8_t(30 + 70 * x / w);
            p[1] = uint8_t(40 + 50 * y / h);
            p[2] = uint8_t(90);
        }
    }
    // Two lines of up to 28 glyphs fit left of the grey wedge.
    const int dot = std::max(1, std::min(h / 70, w / 120));
    // Title, top left.
    int y = h / 24;
    cv.text(w / 24, y, dot, f.title, { 255, 255, 255 });
    y += 7 * dot;
    cv.text(w / 24, y, dot,
        "CH" + std::to_string(f.channel + 1) + (f.sub ? " SUB " : " MAIN ") + std::to_string(f.width)
            + "X" + std::to_string(f.height) + " " + std::to_string(f.fps) + "FPS",
        { 255, 220, 80 });
    // Colour bars, left half.
    static const Rgb bars[] = { { 235, 235, 235 }, { 235, 235, 16 }, { 16, 235, 235 }, { 16, 235, 16 },
        { 235, 16, 235 }, { 235, 16, 16 }, { 16, 16, 235 }, { 16, 16, 16 } };
    const int bx0 = w / 24, bx1 = w / 2, by0 = h / 4, by1 = h / 2;
    for (int i = 0; i < 8; ++i)
        cv.fill(bx0 + (bx1 - bx0) * i / 8, by0, bx0 + (bx1 - bx0) * (i + 1) / 8, by1, bars[i]);
    // Grey wedge, right, darkest at the top.
    const int gx0 = w * 3 / 4, gx1 = w * 7 / 8, gy0 = h / 8, gy1 = h * 3 / 4;
    for (int i = 0; i < 6; ++i) {
        const uint8_t v = uint8_t(16 + 219 * i / 5);
        cv.fill(gx0, gy0 + (gy1 - gy0) * i / 6, gx1, gy0 + (gy1 - gy0) * (i + 1) / 6, { v, v, v });
    }
    // A solid marker in the top right corner and a scale along the left edge.
    cv.fill(w - w / 12, 0, w, h / 12, { 255, 128, 0 });
    for (int i = 0; i <= 20; ++i) {
        const int ty = (h * 9 / 10) * i / 20;
        cv.fill(0, ty, i % 5 == 0 ? w / 30 : w / 60, ty + std::max(1, h / 240), { 255, 255, 255 });
    }
    // Scale along the bottom, above the clock strip.
    const int sy = h * 9 / 10 - dot * 3;
    for (int i = 0; i <= 32; ++i) {
        const int tx = (w - 1) * i / 32;
        cv.fill(tx, sy - (i % 8 == 0 ? dot * 3 : dot), tx + std::max(1, w / 320), sy, { 255, 255, 255 });
    }
}

void drawClock(Canvas &cv, int64_t frame)
{
    const int top = cv.h * 9 / 10;
    cv.fill(0, top, cv.w, cv.h, { 0, 0, 0 });
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm {};
    localtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d  %lld", tm.tm_hour, tm.tm_min, tm.tm_sec, ms,
        static_cast<long long>(frame));
    const int dot = std::max(1, (cv.h - top) / 7);
    cv.text(cv.w / 24, top + dot, dot, text, { 255, 255, 255 });
}

void flipPlane(uint8_t *p, int linesize, int w, int h, bool mirror, bool roll)
{
    if (mirror) {
        for (int y = 0; y < h; ++y)
            std::reverse(p + std::ptrdiff_t(y) * linesize, p + std::ptrdiff_t(y) * linesize + w);
    }
    if (roll) {
        for (int y = 0; y < h / 2; ++y)
            std::swap_ranges(p + std::ptrdiff_t(y) * linesize, p + std::ptrdiff_t(y) * linesize + w,
                p + std::ptrdiff_t(h - 1 - y) * linesize);
    }
}

uint64_t nowMicros()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch())
                        .count());
}

} // namespace

namespace {

struct LiveStreamEncoder
{
    AVCodecContext *ctx = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    SwsContext *sws = nullptr;
    std::unique_ptr<Canvas> canvas;

    ~LiveStreamEncoder()
    {
        sws_freeContext(sws);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }

    bool open(const LiveStreamFormat &f, std::string &error)
    {
        const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
        if (!codec)
            codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        if (!codec) {
            error = "no H.264 encoder";
            return false;
        }
        ctx = avcodec_alloc_context3(codec);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (!ctx || !frame || !packet) {
            error = "out of memory";
            return false;
        }
        ctx->width = f.width;
        ctx->height = f.height;
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx->time_base = AVRational { 1, f.fps };
        ctx->framerate = AVRational { f.fps, 1 };
        ctx->gop_size = f.keyInterval;
        ctx->max_b_frames = 0;
        // The machine serves many devices; one stream takes one core at most.
        ctx->thread_count = 1;
        ctx->bit_rate = int64_t(f.width) * f.height * f.fps / 10;
        av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        if (avcodec_open2(ctx, codec, nullptr) < 0) {
            error = "the H.264 encoder refused " + std::to_string(f.width) + "x" + std::to_string(f.height);
            return false;
        }
        frame->format = ctx->pix_fmt;
        frame->width = f.width;
        frame->height = f.height;
        if (av_frame_get_buffer(frame, 0) < 0) {
            error = "out of memory";
            return false;
        }
        sws = sws_getContext(f.width, f.height, AV_PIX_FMT_RGB24, f.width, f.height, AV_PIX_FMT_YUV420P,
            SWS_POINT, nullptr, nullptr, nullptr);
        if (!sws) {
            error = "no colour conversion";
            return false;
        }
        canvas = std::make_unique<Canvas>(f.width, f.height);
        drawScene(*canvas, f);
        return true;
    }

    // Draws and encodes frame |n|; the access unit lands in |out|.
    bool encode(int64_t n, const SceneLook &look, bool forceKey, std::vector<uint8_t> &out)
    {
        drawClock(*canvas, n);
        if (av_frame_make_writable(frame) < 0)
            return false;
        const uint8_t *src[1] = { canvas->px.data() };
        const int srcStride[1] = { canvas->w * 3 };
        sws_scale(sws, src, srcStride, 0, canvas->h, frame->data, frame->linesize);
        const int w = canvas->w, h = canvas->h;
        if (look.gain != 1.0) {
            uint8_t lut[256];
            for (int v = 0; v < 256; ++v)
                lut[v] = uint8_t(std::clamp(16.0 + (v - 16) * look.gain, 16.0, 235.0));
            for (int y = 0; y < h; ++y) {
                uint8_t *row = frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0];
                for (int x = 0; x < w; ++x)
                    row[x] = lut[row[x]];
            }
        }
        flipPlane(frame->data[0], frame->linesize[0], w, h, look.mirror, look.roll);
        for (int p = 1; p < 3; ++p) {
            if (look.grey) {
                for (int y = 0; y < h / 2; ++y)
                    std::memset(frame->data[p] + std::ptrdiff_t(y) * frame->linesize[p], 128, std::size_t(w / 2));
            } else {
                flipPlane(frame->data[p], frame->linesize[p], w / 2, h / 2, look.mirror, look.roll);
            }
        }
        frame->pts = n;
        frame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(ctx, frame) < 0)
            return false;
        out.clear();
        while (avcodec_receive_packet(ctx, packet) == 0) {
            if (out.empty()) {
                const std::vector<uint8_t> stamp = proto::streamStampNal(nowMicros());
                out.insert(out.end(), stamp.begin(), stamp.end());
            }
            out.insert(out.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
        return true;
    }
};

} // namespace

struct SceneEncoder::Impl : LiveStreamEncoder
{
};

SceneEncoder::SceneEncoder()
    : d(std::make_unique<Impl>())
{
}

SceneEncoder::~SceneEncoder() = default;

bool SceneEncoder::open(const LiveStreamFormat &format, std::string &error)
{
    av_log_set_level(AV_LOG_ERROR);
    return d->open(format, error);
}

bool SceneEncoder::encode(int64_t n, const SceneLook &look, bool forceKey, std::vector<uint8_t> &out)
{
    return d->encode(n, look, forceKey, out);
}

SceneLook sceneLookOf(const std::vector<uint8_t> &image, const std::vector<uint8_t> &exposure)
{
    SceneLook look;
    if (image.size() >= 8) {
        look.grey = image[0] == 2; // day/night mode: black and white
        look.mirror = image[3] != 0;
        look.roll = image[4] != 0;
    }
    if (exposure.size() >= 212 && image.size() >= 8) {
        // The block in force: the header's switch and wide dynamic range.
        const std::size_t block = (exposure[0] ? 1u : 0u) + (image[7] ? 2u : 0u);
        const uint8_t *b = exposure.data() + 4 + 52 * block;
        const int sensitivity = std::clamp<int>(b[22], 1, 10);
        const int ae = std::clamp<int>(int16_t(uint16_t(b[26] | b[27] << 8)), 1, 255);
        // AE 128 and sensitivity 5 leave the scene as drawn.
        look.gain = std::clamp(ae / 128.0 * (0.75 + 0.05 * sensitivity), 0.2, 2.5);
    }
    return look;
}

// What the encoder thread owns, so a stop never waits for it.
struct LiveStream::Core
{
    Core(EmulatorState &state, SocketLoop &loop, uint64_t connId, int device, uint32_t streamId,
        LiveStreamFormat format)
        : state(state)
        , loop(loop)
        , connId(connId)
        , device(device)
        , streamId(streamId)
        , format(std::move(format))
    {
    }

    void run();
    // Hands one access unit to the connection under the emulator's lock and
    // takes the image settings for the next frame. False once the stream is
    // stopped or its connection has gone.
    bool deliver(const std::vector<uint8_t> &accessUnit, bool &dropped);
    void takeLook();

    EmulatorState &state;
    SocketLoop &loop;
    const uint64_t connId;
    const int device;
    const uint32_t streamId;
    const LiveStreamFormat format;
    LiveStreamEncoder encoder;
    SceneLook look; // encoder thread only, once it runs
    bool stopped = false; // under the emulator's lock
};

LiveStream::LiveStream(EmulatorState &state, SocketLoop &loop, uint64_t connId, int device,
    uint32_t streamId, LiveStreamFormat format)
    : m_streamId(streamId)
    , m_core(std::make_shared<Core>(state, loop, connId, device, streamId, std::move(format)))
{
}

LiveStream::~LiveStream()
{
    // Runs under the emulator's lock; the thread reads the flag under it.
    m_core->stopped = true;
    if (m_started)
        --m_core->state.stats.liveStreams;
}

bool LiveStream::start(std::string &error)
{
    av_log_set_level(AV_LOG_ERROR);
    if (!m_core->encoder.open(m_core->format, error))
        return false;
    m_core->takeLook();
    ++m_core->state.encoderThreads;
    std::thread([core = m_core] {
        core->run();
        EmulatorState &state = core->state;
        // Last of all: once the count is 0 the emulator may go away.
        --state.encoderThreads;
    }).detach();
    m_started = true;
    ++m_core->state.stats.liveStreams;
    ++m_core->state.stats.streamsStarted;
    return true;
}

void LiveStream::Core::takeLook()
{
    std::vector<uint8_t> image, exposure;
    const DeviceModel &model = state.device(device).model;
    model.getConfig(CmdImage, 0, image);
    model.getConfig(CmdExposure, 0, exposure);
    look = sceneLookOf(image, exposure);
}

bool LiveStream::Core::deliver(const std::vector<uint8_t> &accessUnit, bool &dropped)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (stopped)
        return false;
    const auto it = state.conns.find(connId);
    if (it == state.conns.end() || it->second->state != ConnState::Session || !it->second->sealer)
        return false;
    Conn &c = *it->second;
    dropped = c.out.size() > kBacklogLimit || accessUnit.size() > proto::MaxStreamChunk;
    if (!dropped) {
        std::vector<uint8_t> bytes;
        const auto payload = proto::encodeStreamData(
            streamId, proto::StreamDataType::H264AccessUnit, accessUnit.data(), accessUnit.size());
        if (proto::session::sealFrame(*c.sealer, proto::Type::StreamData, 0, payload, bytes)
            != proto::session::SealError::None)
            return false;
        loop.queue(c, bytes);
        loop.wake();
    }
    takeLook();
    return true;
}

void LiveStream::Core::run()
{
    const auto interval = std::chrono::microseconds(1000000 / std::max(1, format.fps));
    auto next = Clock::now();
    std::vector<uint8_t> au;
    bool forceKey = false;
    for (int64_t n = 0;; ++n) {
        if (!encoder.encode(n, look, forceKey, au))
            return;
        forceKey = false;
        if (!au.empty()) {
            bool dropped = false;
            if (!deliver(au, dropped))
                return;
            // What follows a lost frame cannot be decoded before a key frame.
            forceKey = dropped;
        }
        next += interval;
        const auto now = Clock::now();
        if (next < now)
            next = now; // behind: no burst to catch up
        std::this_thread::sleep_until(next);
    }
}

bool streamFormatOf(const std::vector<uint8_t> &encodeTable, const std::vector<uint8_t> &resolutionList,
    int channel, bool sub, LiveStreamFormat &f, std::string &why)
{
    if (encodeTable.size() != sizeof(EncodeTable) || resolutionList.size() != sizeof(ResolutionList)) {
        why = "no encode settings";
        return false;
    }
    if (channel < 0 || channel >= EncodeTable::Channels) {
        why = "no channel " + std::to_string(channel);
        return false;
    }
    auto table = std::make_unique<EncodeTable>();
    std::memcpy(table.get(), encodeTable.data(), sizeof(EncodeTable));
    ResolutionList list;
    std::memcpy(&list, resolutionList.data(), sizeof list);
    const ChannelEncode &ch = table->channel[channel];
    const StreamParams &s = sub ? ch.sub : ch.main;
    const int res = s.resolution();
    if (res < 0 || res >= ResolutionList::Entries) {
        why = "resolution " + std::to_string(res) + " unknown";
        return false;
    }
    f.width = list.entry[res].widthValue() & ~1;
    f.height = list.entry[res].heightValue() & ~1;
    f.fps = s.frameRate();
    if (f.width < 16 || f.height < 16 || f.width > 4096 || f.height > 4096 || f.fps < 1 || f.fps > 60) {
        why = "stream format " + std::to_string(f.width) + "x" + std::to_string(f.height) + " at "
            + std::to_string(f.fps) + " fps";
        return false;
    }
    f.keyInterval = s.iFrameInterval() > 0 ? s.iFrameInterval() : 2 * f.fps;
    f.channel = channel;
    f.sub = sub;
    return true;
}

std::string sceneTitleOf(const std::string &model, const std::string &serial)
{
    return model + " " + serial.substr(serial.size() > 4 ? serial.size() - 4 : 0);
}

} // namespace scoutrix::devsim
