#include "H264Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <chrono>
#include <mutex>

namespace scoutrix::play {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

} // namespace

struct H264Decoder::Impl
{
    const AVCodec *codec = nullptr;
    AVCodecContext *context = nullptr;
    AVCodecParserContext *parser = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    SwsContext *sws = nullptr;
    int swsWidth = 0, swsHeight = 0, swsFormat = -1;
    int64_t decoded = 0;
    int64_t errors = 0;

    ~Impl()
    {
        sws_freeContext(sws);
        av_frame_free(&frame);
        av_packet_free(&packet);
        if (parser)
            av_parser_close(parser);
        avcodec_free_context(&context);
    }

    bool receive(const std::function<void(DecodedFrame &&)> &onFrame, Clock::time_point sent)
    {
        for (;;) {
            const int r = avcodec_receive_frame(context, frame);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0) {
                ++errors;
                return true;
            }
            DecodedFrame out;
            out.decodeMs = msSince(sent);
            const auto convertStart = Clock::now();
            if (!convert(out.image)) {
                av_frame_unref(frame);
                ++errors;
                continue;
            }
            out.convertMs = msSince(convertStart);
            out.index = decoded++;
            av_frame_unref(frame);
            if (onFrame)
                onFrame(std::move(out));
        }
    }

    bool convert(QImage &image)
    {
        const int w = frame->width, h = frame->height;
        if (w <= 0 || h <= 0 || w > 8192 || h > 8192)
            return false;
        if (!sws || w != swsWidth || h != swsHeight || frame->format != swsFormat) {
            sws_freeContext(sws);
            sws = sws_getContext(w, h, AVPixelFormat(frame->format), w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                 nullptr, nullptr);
            swsWidth = w;
            swsHeight = h;
            swsFormat = frame->format;
            if (!sws)
                return false;
        }
        // Format_RGB32 is 0xffRRGGBB per pixel: BGRA bytes on little-endian.
        image = QImage(w, h, QImage::Format_RGB32);
        if (image.isNull())
            return false;
        uint8_t *dst[4] = { image.bits(), nullptr, nullptr, nullptr };
        int dstStride[4] = { int(image.bytesPerLine()), 0, 0, 0 };
        return sws_scale(sws, frame->data, frame->linesize, 0, h, dst, dstStride) == h;
    }
};

H264Decoder::H264Decoder()
    : d(std::make_unique<Impl>())
{
    // Damaged input is counted in errors(); libavcodec's own lines about it
    // would only fill the installer's terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    d->codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!d->codec)
        return;
    d->context = avcodec_alloc_context3(d->codec);
    d->parser = av_parser_init(AV_CODEC_ID_H264);
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    if (!d->context || !d->parser || !d->packet || !d->frame)
        return;
    // A live view wants each picture as soon as it is complete: no frame
    // threading (it delays output by a frame per thread).
    d->context->thread_count = 1;
    d->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(d->context, d->codec, nullptr) < 0)
        avcodec_free_context(&d->context);
}

H264Decoder::~H264Decoder() = default;

bool H264Decoder::valid() const
{
    return d->context && d->parser && d->packet && d->frame;
}

bool H264Decoder::feed(const uint8_t *data, std::size_t size, const std::function<void(DecodedFrame &&)> &onFrame)
{
    if (!valid())
        return false;
    while (size > 0) {
        const auto start = Clock::now();
        uint8_t *out = nullptr;
        int outSize = 0;
        const int chunk = int(std::min<std::size_t>(size, 1 << 30));
        const int used = av_parser_parse2(d->parser, d->context, &out, &outSize, data, chunk, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        if (used < 0)
            return false;
        data += used;
        size -= std::size_t(used);
        if (outSize > 0) {
            d->packet->data = out;
            d->packet->size = outSize;
            if (avcodec_send_packet(d->context, d->packet) < 0)
                ++d->errors;
            d->receive(onFrame, start);
        }
        if (used == 0 && outSize == 0)
            break;
    }
    return true;
}

bool H264Decoder::feedAccessUnit(const uint8_t *data, std::size_t size,
                                 const std::function<void(DecodedFrame &&)> &onFrame)
{
    if (!valid())
        return false;
    if (size == 0 || size > std::size_t(1 << 30))
        return true;
    const auto start = Clock::now();
    // The packet borrows the caller's bytes for the call only.
    d->packet->data = const_cast<uint8_t *>(data);
    d->packet->size = int(size);
    if (avcodec_send_packet(d->context, d->packet) < 0)
        ++d->errors;
    d->packet->data = nullptr;
    d->packet->size = 0;
    d->receive(onFrame, start);
    return true;
}

void H264Decoder::flush(const std::function<void(DecodedFrame &&)> &onFrame)
{
    if (!valid())
        return;
    // The parser still holds the last access unit: it ends with the stream.
    uint8_t *out = nullptr;
    int outSize = 0;
    av_parser_parse2(d->parser, d->context, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (outSize > 0) {
        d->packet->data = out;
        d->packet->size = outSize;
        if (avcodec_send_packet(d->context, d->packet) < 0)
            ++d->errors;
        d->receive(onFrame, Clock::now());
    }
    avcodec_send_packet(d->context, nullptr);
    d->receive(onFrame, Clock::now());
    avcodec_flush_buffers(d->context);
}

int64_t H264Decoder::framesDecoded() const { return d->decoded; }
int64_t H264Decoder::errors() const { return d->errors; }

} // namespace scoutrix::play
