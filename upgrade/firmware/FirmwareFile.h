#pragma once
// The project's firmware file: a little-endian header naming the models the
// image is for, its version and build date, the payload's length and SHA-256,
// then the payload. Shared by the device emulator (which takes such files)
// and the upgrade page (which checks them before sending). Plain C++17 with
// libcrypto and zlib; docs/firmware-format.md describes the layout.
//
//   0    4  magic "SXFW"
//   4    4  format version (1)
//   8    4  header length in bytes (144 + 32 x model count)
//   12   4  model count (1..64)
//   16  64  version text, NUL-padded (at most 63 bytes)
//   80  12  build date: u16 year, month, day, hour, minute, second
//   92   4  0
//   96   8  payload length
//   104 32  SHA-256 of the payload
//   136  4  CRC-32 (IEEE, as zlib) of the header with this field zero
//   140  4  0
//   144 ..  model texts, 32 bytes each, NUL-padded (at most 31 bytes)
//   then the payload

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace scoutrix::firmware {

constexpr uint32_t Magic = 0x57465853u; // "SXFW"
constexpr uint32_t FormatVersion = 1;
constexpr std::size_t FixedHeaderSize = 144;
constexpr std::size_t ModelFieldSize = 32;
constexpr std::size_t VersionFieldSize = 64;
constexpr std::size_t MaxModels = 64;
constexpr std::size_t MaxHeaderSize = FixedHeaderSize + MaxModels * ModelFieldSize;
// Larger than any flash the devices carry; a header that claims more is damaged.
constexpr uint64_t MaxPayload = 1ull << 30;

enum class Error {
    None,
    NotFirmware, // no firmware magic: some other file
    Unsupported, // a format version this code does not read
    Truncated, // the file ends inside the header or before the payload's end
    BadHeader, // impossible lengths, counts, texts or date, or a damaged header
    Checksum, // the payload's SHA-256 differs from the header's, or the header's CRC fails
    TrailingBytes, // bytes after the payload
    Io, // the file could not be opened or read
};

const char *errorText(Error e);

struct Header
{
    std::vector<std::string> models;
    std::string version;
    int build[6] = { 2024, 1, 1, 0, 0, 0 }; // year, month, day, hour, minute, second
    uint64_t payloadLength = 0;
    std::array<uint8_t, 32> payloadSha256 {};

    std::size_t headerLength() const { return FixedHeaderSize + models.size() * ModelFieldSize; }
    // Exact, case-sensitive match of the device's model text.
    bool acceptsModel(const std::string &model) const;
    // "YYYY-MM-DD hh:mm:ss"
    std::string buildText() const;

    // The header bytes (CRC included); false, with |why|, when a text does
    // not fit its field, there are no or too many models, or the date is impossible.
    bool encode(std::vector<uint8_t> &out, std::string &why) const;
};

// Parses a header from the first |size| bytes of a file; never reads past
// them. Truncated when fewer bytes than the header's own length are given.
// |why| says what is wrong for a message or a log.
Error parseHeader(const uint8_t *data, std::size_t size, Header &out, std::string &why);

// Checks a whole file as it streams by: the header, then the payload's
// length and digest. Feed the bytes in order, then call finish(). Memory
// stays bounded by the largest header whatever the file's size.
class Verifier
{
public:
    Verifier();
    ~Verifier();
    Verifier(const Verifier &) = delete;
    Verifier &operator=(const Verifier &) = delete;

    // False once the file is known to be bad (error() says why): a wrong
    // magic or a damaged header. Bytes after that are ignored.
    bool feed(const uint8_t *data, std::size_t size);
    // The header, once its bytes are in.
    bool hasHeader() const { return m_state == State::Payload || m_state == State::Done; }
    const Header &header() const { return m_header; }
    // At the end of the file: None, or why it is refused.
    Error finish(std::string &why);
    Error error() const { return m_error; }
    const std::string &why() const { return m_why; }

private:
    enum class State { Header, Payload, Done, Failed };
    State m_state = State::Header;
    std::vector<uint8_t> m_headerBytes;
    Header m_header;
    uint64_t m_payloadSeen = 0;
    uint64_t m_trailing = 0;
    struct Digest;
    std::unique_ptr<Digest> m_digest;
    Error m_error = Error::None;
    std::string m_why;
};

// Reads a file's header with bounded reads. Checks only the header; the file
// may still be truncated or damaged further on (verifyFile reads it all).
Error readHeader(const std::string &path, Header &out, std::string &why);
// Reads the whole file through a Verifier.
Error verifyFile(const std::string &path, Header &out, std::string &why);

// The same bytes every time for one size: a filler payload for test images.
std::vector<uint8_t> fillerPayload(std::size_t size);

// Writes header and payload; the payload's length and digest are filled in
// from |payload|. Written whole beside |path| and renamed over it.
bool writeFile(const std::string &path, Header header, const std::vector<uint8_t> &payload,
    std::string &why);
// The bytes writeFile would write.
bool buildFile(Header header, const std::vector<uint8_t> &payload, std::vector<uint8_t> &out,
    std::string &why);

std::array<uint8_t, 32> sha256(const uint8_t *data, std::size_t size);

} // namespace scoutrix::firmware
