#pragma once
// H.264 access units for the player tests, encoded with libavcodec's libx264
// the way the devices stream (no B-frames, zero latency): pictures that are
// blue on the left and red on the right, with a white bar whose height tells
// the picture's number.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <cstdint>
#include <vector>

namespace testenc {

using AccessUnit = std::vector<uint8_t>;

inline void paint(AVFrame *f, int index)
{
    const int w = f->width, h = f->height;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            f->data[0][y * f->linesize[0] + x] = uint8_t(x < w / 2 ? 41 : 81); // Y of blue / red
    }
    for (int y = 0; y < h / 2; ++y) {
        for (int x = 0; x < w / 2; ++x) {
            const bool left = x < w / 4;
            f->data[1][y * f->linesize[1] + x] = uint8_t(left ? 240 : 90); // U
            f->data[2][y * f->linesize[2] + x] = uint8_t(left ? 110 : 240); // V
        }
    }
    const int bar = std::min(h, 8 + index * 4);
    for (int y = 0; y < bar; ++y) {
        for (int x = w / 2 - 8; x < w / 2 + 8; ++x)
            f->data[0][y * f->linesize[0] + x] = 235;
    }
    for (int y = 0; y < bar / 2; ++y) {
        for (int x = w / 4 - 4; x < w / 4 + 4; ++x) {
            f->data[1][y * f->linesize[1] + x] = 128;
            f->data[2][y * f->linesize[2] + x] = 128;
        }
    }
}

// |count| access units of a |w| x |h| stream at |fps|; empty when libx264
// is missing.
inline std::vector<AccessUnit> encode(int w, int h, int count, int fps = 25, int gop = 25)
{
    std::vector<AccessUnit> out;
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return out;
    AVCodecContext *c = avcodec_alloc_context3(codec);
    c->width = w;
    c->height = h;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational { 1, fps };
    c->framerate = AVRational { fps, 1 };
    c->gop_size = gop;
    c->max_b_frames = 0;
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(c, codec, nullptr) < 0) {
        avcodec_free_context(&c);
        return out;
    }
    AVFrame *f = av_frame_alloc();
    f->format = c->pix_fmt;
    f->width = w;
    f->height = h;
    av_frame_get_buffer(f, 0);
    AVPacket *pkt = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(c, pkt) == 0) {
            out.emplace_back(pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt);
        }
    };
    for (int i = 0; i < count; ++i) {
        av_frame_make_writable(f);
        paint(f, i);
        f->pts = i;
        avcodec_send_frame(c, f);
        drain();
    }
    avcodec_send_frame(c, nullptr);
    drain();
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return out;
}

} // namespace testenc
