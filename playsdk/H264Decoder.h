#pragma once
// Decodes an H.264 elementary stream (Annex B, any chunking) into pictures.
// Plain C++ on libavcodec and libswscale with Qt's QImage as the picture, so
// the live view and scoutrix-cli snapshot share it without a window.
//
// Not thread-safe: one feeder at a time (the player serialises).

#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>

namespace scoutrix::play {

struct DecodedFrame
{
    QImage image; // RGB32, the stream's own size
    int64_t index = 0; // 0 for the first picture of the stream
    double decodeMs = 0; // decoding this picture
    double convertMs = 0; // YUV to RGB
};

class H264Decoder
{
public:
    H264Decoder();
    ~H264Decoder();
    H264Decoder(const H264Decoder &) = delete;
    H264Decoder &operator=(const H264Decoder &) = delete;

    // False when libavcodec has no H.264 decoder.
    bool valid() const;

    // Feeds one whole access unit (as the device SDK delivers them): its
    // picture comes out at once. Damaged data is skipped (the decoder waits
    // for the next key frame); false only when the decoder itself failed.
    bool feedAccessUnit(const uint8_t *data, std::size_t size, const std::function<void(DecodedFrame &&)> &onFrame);
    // Feeds bytes cut anywhere (a recorded stream): a picture comes out once
    // the next one has begun, the last one at flush().
    bool feed(const uint8_t *data, std::size_t size, const std::function<void(DecodedFrame &&)> &onFrame);
    // Drains pictures still held by the decoder at the end of a stream.
    void flush(const std::function<void(DecodedFrame &&)> &onFrame);

    int64_t framesDecoded() const;
    int64_t errors() const; // chunks the decoder refused

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace scoutrix::play
