#pragma once
// Session protection after a version-2 login: per-direction AES-256-GCM keys
// from the login's shared key, and sealing of frame payloads with the frame
// header as associated data. The nonce is the direction's IV XORed with a
// frame counter that both ends keep and never send, so a replayed, reordered,
// dropped or tampered frame fails its tag.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Pake.h"
#include "Protocol.h"

namespace scoutrix::proto::session {

constexpr std::size_t KeySize = 32;
constexpr std::size_t IvSize = 12;
constexpr std::size_t TagSize = 16;
constexpr uint8_t SealedVersion = SealedFrameVersion;
// Far below the 2^64 the nonce could count to; a session that reaches it
// logs in again rather than stretch one key further.
constexpr uint64_t DefaultFrameLimit = uint64_t(1) << 32;

struct DirectionKey
{
    std::array<uint8_t, KeySize> key {};
    std::array<uint8_t, IvSize> iv {};
};

struct SessionKeys
{
    DirectionKey clientToDevice;
    DirectionKey deviceToClient;
};

// HKDF-SHA256 of the login's shared key, a distinct label per direction and
// purpose. False only when libcrypto fails.
bool deriveSessionKeys(const pake::SharedKey &shared, SessionKeys &out);

enum class SealError {
    None,
    Exhausted, // the direction's frame limit is reached: log in again
    Refused, // tag mismatch: tampered, replayed, reordered or wrong key
    TooShort, // fewer bytes than a tag
    TooLong, // over the frame payload limit once sealed
    Closed, // an earlier frame was refused; the session is over
    Internal,
};

// One direction of a session. The sender seals frame after frame; the
// receiver opens them in the same order. A frame that fails to open closes
// the opener for good: the connection is to be dropped, not resynchronised.
class FrameSealer
{
public:
    explicit FrameSealer(const DirectionKey &key, uint64_t frameLimit = DefaultFrameLimit);
    ~FrameSealer();
    FrameSealer(const FrameSealer &) = delete;
    FrameSealer &operator=(const FrameSealer &) = delete;

    // out = ciphertext ‖ tag, authenticating |aad| (the frame header).
    SealError seal(const uint8_t *aad, std::size_t aadSize, const uint8_t *plain,
        std::size_t plainSize, std::vector<uint8_t> &out);
    uint64_t framesSealed() const { return m_counter; }

private:
    DirectionKey m_key;
    uint64_t m_counter = 0;
    uint64_t m_limit;
};

class FrameOpener
{
public:
    explicit FrameOpener(const DirectionKey &key, uint64_t frameLimit = DefaultFrameLimit);
    ~FrameOpener();
    FrameOpener(const FrameOpener &) = delete;
    FrameOpener &operator=(const FrameOpener &) = delete;

    SealError open(const uint8_t *aad, std::size_t aadSize, const uint8_t *sealed,
        std::size_t sealedSize, std::vector<uint8_t> &plain);
    uint64_t framesOpened() const { return m_counter; }
    bool closed() const { return m_closed; }
    void close() { m_closed = true; }

private:
    DirectionKey m_key;
    uint64_t m_counter = 0;
    uint64_t m_limit;
    bool m_closed = false;
};

// A whole sealed frame: the 16-byte header (version 2, length = payload +
// tag) followed by the sealed payload.
SealError sealFrame(FrameSealer &sealer, Type type, uint32_t sequence,
    const std::vector<uint8_t> &payload, std::vector<uint8_t> &frame);
// |header| is the frame's 16 header bytes as received, |body| its payload.
SealError openFrame(FrameOpener &opener, const uint8_t header[HeaderSize],
    const std::vector<uint8_t> &body, std::vector<uint8_t> &payload);
// Opens a frame as the assembler cut it, in place: its payload becomes the
// plain payload. A clear frame is refused like a forged one.
SealError openFrame(FrameOpener &opener, Frame &frame);

const char *errorText(SealError e);

} // namespace scoutrix::proto::session
