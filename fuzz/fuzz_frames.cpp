// libFuzzer target: the byte parsers that face the network. Frames cut at
// random points, every payload decoder and the search record's text fields.
// The fleet and state files have fuzz_files.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceRecords.h"
#include "Pake.h"
#include "Protocol.h"

using namespace scoutrix;

namespace {

void decodeEveryPayload(const std::vector<uint8_t> &p)
{
    proto::SearchProbe a;
    proto::SearchAnswer b;
    proto::SetNoLoginRequest c;
    proto::SetNoLoginReply d;
    proto::pake::Hello2 e;
    proto::pake::Params2 f;
    proto::LoginResult g;
    proto::pake::Reply2 k;
    proto::ConfigRequest h;
    proto::GetConfigReply i;
    proto::ErrorMessage j;
    int32_t r;
    proto::decode(p, a);
    if (proto::decode(p, b)) {
        SearchRecord rec;
        std::memcpy(&rec, b.record, sizeof rec);
        // Texts are bounded by their fields even without a terminator.
        if (rec.net.macText().size() > sizeof rec.net.mac
            || rec.dev.modelText().size() > sizeof rec.dev.model)
            __builtin_trap();
        (void)rec.net.ipText();
        (void)rec.dev.serialText();
    }
    if (proto::decode(p, c)) {
        // What a decoded request encodes to decodes to the same request.
        proto::SetNoLoginRequest again;
        if (!proto::decode(proto::encode(c), again) || again.mac != c.mac
            || again.record != c.record || again.requestId != c.requestId)
            __builtin_trap();
    }
    proto::decode(p, d);
    proto::pake::decode(p, e);
    proto::pake::decode(p, f);
    proto::decode(p, g);
    proto::pake::decode(p, k);
    proto::decodeGetConfig(p, h);
    proto::decodeSetConfig(p, h);
    proto::decode(p, i);
    proto::decode(p, j);
    proto::decodeResult(p, r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool stream = in.ConsumeBool();
    if (stream) {
        // A TCP stream delivered in random pieces.
        proto::FrameAssembler assembler(
            in.ConsumeIntegralInRange<uint32_t>(0, proto::MaxTcpPayload));
        while (in.remaining_bytes() > 0) {
            const std::vector<uint8_t> piece
                = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 64));
            assembler.feed(piece.data(), piece.size());
            proto::Frame frame;
            proto::FrameAssembler::Status s;
            while ((s = assembler.next(frame)) == proto::FrameAssembler::Status::Frame)
                decodeEveryPayload(frame.payload);
            if (s == proto::FrameAssembler::Status::Error)
                break;
        }
    } else {
        const std::vector<uint8_t> datagram = in.ConsumeRemainingBytes<uint8_t>();
        proto::Frame frame;
        std::string why;
        if (proto::decodeDatagram(datagram.data(), datagram.size(), frame, why))
            decodeEveryPayload(frame.payload);
        decodeEveryPayload(datagram);
    }
    return 0;
}
