#include "FirmwareFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include <openssl/evp.h>
#include <zlib.h>

namespace scoutrix::firmware {

namespace {

enum Offset : std::size_t {
    OffMagic = 0, OffFormat = 4, OffHeaderLength = 8, OffModelCount = 12, OffVersion = 16,
    OffBuild = 80, OffReserved1 = 92, OffPayloadLength = 96, OffSha = 104, OffCrc = 136,
    OffReserved2 = 140, OffModels = 144,
};

uint32_t get32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint64_t get64(const uint8_t *p) { return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32; }
void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put64(uint8_t *p, uint64_t v)
{
    put32(p, uint32_t(v));
    put32(p + 4, uint32_t(v >> 32));
}

bool allZero(const uint8_t *p, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (p[i])
            return false;
    }
    return true;
}

// A text bounded by its field. A writer pads it with NULs: a field without a
// terminator, or with bytes after it, is damaged, so that a header has one
// encoding and nothing rides along unseen under a valid CRC.
bool fieldText(const uint8_t *field, std::size_t size, std::string &out)
{
    const auto *end = static_cast<const uint8_t *>(std::memchr(field, 0, size));
    if (!end || !allZero(end, std::size_t(field + size - end)))
        return false;
    out.assign(reinterpret_cast<const char *>(field), std::size_t(end - field));
    return true;
}

uint32_t headerCrc(std::vector<uint8_t> bytes)
{
    std::memset(bytes.data() + OffCrc, 0, 4);
    return uint32_t(::crc32(0L, bytes.data(), uInt(bytes.size())));
}

bool isRealDate(int y, int mo, int d)
{
    static const int kDays[12] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (y < 1970 || y > 2099 || mo < 1 || mo > 12 || d < 1)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[mo - 1] + (mo == 2 && leap ? 1 : 0);
}

bool validBuild(const int *b)
{
    return isRealDate(b[0], b[1], b[2]) && b[3] >= 0 && b[3] < 24 && b[4] >= 0 && b[4] < 60
        && b[5] >= 0 && b[5] < 60;
}

} // namespace

const char *errorText(Error e)
{
    switch (e) {
    case Error::None:
        return "valid";
    case Error::NotFirmware:
        return "not a firmware file";
    case Error::Unsupported:
        return "firmware format version not supported";
    case Error::Truncated:
        return "firmware file is truncated";
    case Error::BadHeader:
        return "firmware header is damaged";
    case Error::Checksum:
        return "firmware checksum mismatch";
    case Error::TrailingBytes:
        return "bytes after the firmware payload";
    case Error::Io:
        return "firmware file cannot be read";
    }
    return "";
}

bool Header::acceptsModel(const std::string &model) const
{
    for (const std::string &m : models) {
        if (m == model)
            return true;
    }
    return false;
}

std::string Header::buildText() const
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", build[0], build[1], build[2],
        build[3], build[4], build[5]);
    return text;
}

bool Header::encode(std::vector<uint8_t> &out, std::string &why) const
{
    if (models.empty() || models.size() > MaxModels) {
        why = "a firmware file names 1 to " + std::to_string(MaxModels) + " models";
        return false;
    }
    for (const std::string &m : models) {
        if (m.empty() || m.size() >= ModelFieldSize || m.find('\0') != std::string::npos) {
            why = "model \"" + m + "\" must be 1 to 31 bytes";
            return false;
        }
    }
    if (version.empty() || version.size() >= VersionFieldSize || version.find('\0') != std::string::npos) {
        why = "the version text must be 1 to 63 bytes";
        return false;
    }
    if (!validBuild(build)) {
        why = "the build date is not a real date and time from 1970 to 2099";
        return false;
    }
    if (payloadLength > MaxPayload) {
        why = "payload larger than 1 GiB";
        return false;
    }
    std::vector<uint8_t> b(headerLength(), 0);
    put32(&b[OffMagic], Magic);
    put32(&b[OffFormat], FormatVersion);
    put32(&b[OffHeaderLength], uint32_t(b.size()));
    put32(&b[OffModelCount], uint32_t(models.size()));
    std::memcpy(&b[OffVersion], version.data(), version.size());
    for (int i = 0; i < 6; ++i)
        put16(&b[OffBuild + 2 * std::size_t(i)], uint16_t(build[i]));
    put64(&b[OffPayloadLength], payloadLength);
    std::memcpy(&b[OffSha], payloadSha256.data(), 32);
    for (std::size_t i = 0; i < models.size(); ++i)
        std::memcpy(&b[OffModels + i * ModelFieldSize], models[i].data(), models[i].size());
    put32(&b[OffCrc], headerCrc(b));
    out = std::move(b);
    return true;
}

Error parseHeader(const uint8_t *data, std::size_t size, Header &out, std::string &why)
{
    if (size < 4) {
        why = "the file ends before its magic";
        return Error::Truncated;
    }
    if (get32(data) != Magic) {
        why = "no firmware magic";
        return Error::NotFirmware;
    }
    if (size < FixedHeaderSize) {
        why = "the file ends inside the header";
        return Error::Truncated;
    }
    if (get32(data + OffFormat) != FormatVersion) {
        why = "format version " + std::to_string(get32(data + OffFormat));
        return Error::Unsupported;
    }
    const uint32_t count = get32(data + OffModelCount);
    const uint32_t length = get32(data + OffHeaderLength);
    if (count < 1 || count > MaxModels || length != FixedHeaderSize + count * ModelFieldSize) {
        why = "model count " + std::to_string(count) + " and header length " + std::to_string(length)
            + " do not agree";
        return Error::BadHeader;
    }
    if (size < length) {
        why = "the file ends inside the header";
        return Error::Truncated;
    }
    const std::vector<uint8_t> bytes(data, data + length);
    if (headerCrc(bytes) != get32(data + OffCrc)) {
        why = "header checksum mismatch";
        return Error::Checksum;
    }
    if (!allZero(data + OffReserved1, 4) || !allZero(data + OffReserved2, 4)) {
        why = "reserved header fields are not zero";
        return Error::BadHeader;
    }
    Header h;
    if (!fieldText(data + OffVersion, VersionFieldSize, h.version) || h.version.empty()) {
        why = "version text missing, unterminated or not padded with zeros";
        return Error::BadHeader;
    }
    for (int i = 0; i < 6; ++i)
        h.build[i] = get16(data + OffBuild + 2 * std::size_t(i));
    if (!validBuild(h.build)) {
        why = "impossible build date";
        return Error::BadHeader;
    }
    h.payloadLength = get64(data + OffPayloadLength);
    if (h.payloadLength > MaxPayload) {
        why = "payload length over 1 GiB";
        return Error::BadHeader;
    }
    std::memcpy(h.payloadSha256.data(), data + OffSha, 32);
    for (uint32_t i = 0; i < count; ++i) {
        std::string m;
        if (!fieldText(data + OffModels + i * ModelFieldSize, ModelFieldSize, m) || m.empty()) {
            why = "model " + std::to_string(i + 1) + " empty, unterminated or not padded with zeros";
            return Error::BadHeader;
        }
        h.models.push_back(std::move(m));
    }
    out = std::move(h);
    return Error::None;
}

struct Verifier::Digest
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    ~Digest() { EVP_MD_CTX_free(ctx); }
};

Verifier::Verifier()
    : m_digest(std::make_unique<Digest>())
{
    if (!m_digest->ctx || EVP_DigestInit_ex(m_digest->ctx, EVP_sha256(), nullptr) != 1) {
        m_state = State::Failed;
        m_error = Error::Io;
        m_why = "no SHA-256";
    }
}

Verifier::~Verifier() = default;

bool Verifier::feed(const uint8_t *data, std::size_t size)
{
    if (m_state == State::Failed)
        return false;
    if (m_state == State::Header) {
        // Takes only what the header can hold, so a file that is not
        // firmware never makes this buffer grow.
        const std::size_t want = MaxHeaderSize - m_headerBytes.size();
        const std::size_t take = size < want ? size : want;
        m_headerBytes.insert(m_headerBytes.end(), data, data + take);
        Header h;
        std::string why;
        const Error e = parseHeader(m_headerBytes.data(), m_headerBytes.size(), h, why);
        if (e == Error::Truncated && m_headerBytes.size() < MaxHeaderSize)
            return true;
        if (e != Error::None) {
            m_state = State::Failed;
            m_error = e;
            m_why = why;
            return false;
        }
        m_header = std::move(h);
        m_state = State::Payload;
        // What came beyond the header belongs to the payload.
        const std::size_t headerLength = m_header.headerLength();
        const std::size_t extra = m_headerBytes.size() - headerLength;
        const std::size_t consumed = take - extra;
        m_headerBytes.resize(headerLength);
        data += consumed;
        size -= consumed;
    }
    if (size == 0)
        return true;
    const uint64_t room = m_header.payloadLength - m_payloadSeen;
    const std::size_t part = uint64_t(size) < room ? size : std::size_t(room);
    if (part && EVP_DigestUpdate(m_digest->ctx, data, part) != 1) {
        m_state = State::Failed;
        m_error = Error::Io;
        m_why = "SHA-256 failed";
        return false;
    }
    m_payloadSeen += part;
    m_trailing += size - part;
    return true;
}

Error Verifier::finish(std::string &why)
{
    if (m_state == State::Failed) {
        why = m_why;
        return m_error;
    }
    if (m_state == State::Header) {
        const Error e = parseHeader(m_headerBytes.data(), m_headerBytes.size(), m_header, why);
        m_state = State::Failed;
        m_error = e == Error::None ? Error::Truncated : e;
        m_why = why;
        return m_error;
    }
    if (m_state == State::Done) {
        why = m_why;
        return m_error;
    }
    m_state = State::Done;
    if (m_payloadSeen < m_header.payloadLength) {
        m_error = Error::Truncated;
        m_why = "payload has " + std::to_string(m_payloadSeen) + " of "
            + std::to_string(m_header.payloadLength) + " bytes";
    } else if (m_trailing) {
        m_error = Error::TrailingBytes;
        m_why = std::to_string(m_trailing) + " bytes after the payload";
    } else {
        std::array<uint8_t, 32> digest {};
        unsigned int n = 0;
        if (EVP_DigestFinal_ex(m_digest->ctx, digest.data(), &n) != 1 || n != 32) {
            m_error = Error::Io;
            m_why = "SHA-256 failed";
        } else if (digest != m_header.payloadSha256) {
            m_error = Error::Checksum;
            m_why = "payload SHA-256 differs from the header's";
        } else {
            m_error = Error::None;
            m_why.clear();
        }
    }
    why = m_why;
    return m_error;
}

namespace {

struct FileCloser
{
    int fd = -1;
    ~FileCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

namespace {

// Hands the file's bytes to |sink| in order until the end or until |sink|
// answers false. Io (with |why|) when the file cannot be opened or read.
Error streamFile(const std::string &path, const std::function<bool(const uint8_t *, std::size_t)> &sink,
    std::string &why)
{
    FileCloser f { ::open(path.c_str(), O_RDONLY | O_CLOEXEC) };
    if (f.fd < 0) {
        why = path + ": " + std::strerror(errno);
        return Error::Io;
    }
    std::vector<uint8_t> buf(1 << 16);
    for (;;) {
        const ssize_t n = ::read(f.fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = path + ": " + std::strerror(errno);
            return Error::Io;
        }
        if (n == 0 || !sink(buf.data(), std::size_t(n)))
            return Error::None;
    }
}

} // namespace

Error readHeader(const std::string &path, Header &out, std::string &why)
{
    std::vector<uint8_t> head;
    const Error e = streamFile(path,
        [&](const uint8_t *data, std::size_t size) {
            head.insert(head.end(), data, data + std::min(size, MaxHeaderSize - head.size()));
            return head.size() < MaxHeaderSize;
        },
        why);
    return e != Error::None ? e : parseHeader(head.data(), head.size(), out, why);
}

Error verifyFile(const std::string &path, Header &out, std::string &why)
{
    Verifier v;
    const Error e = streamFile(
        path, [&](const uint8_t *data, std::size_t size) { return v.feed(data, size); }, why);
    if (e != Error::None)
        return e;
    const Error result = v.finish(why);
    if (v.hasHeader())
        out = v.header();
    return result;
}

std::vector<uint8_t> fillerPayload(std::size_t size)
{
    std::vector<uint8_t> out(size);
    // xorshift32 from a fixed seed: incompressible-looking, and the same
    // bytes on every run.
    uint32_t x = 0x5c0f1e1du;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = uint8_t(x);
    }
    return out;
}

std::array<uint8_t, 32> sha256(const uint8_t *data, std::size_t size)
{
    std::array<uint8_t, 32> d {};
    unsigned int n = 0;
    EVP_Digest(data, size, d.data(), &n, EVP_sha256(), nullptr);
    return d;
}

bool buildFile(Header header, const std::vector<uint8_t> &payload, std::vector<uint8_t> &out,
    std::string &why)
{
    header.payloadLength = payload.size();
    header.payloadSha256 = sha256(payload.data(), payload.size());
    std::vector<uint8_t> bytes;
    if (!header.encode(bytes, why))
        return false;
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    out = std::move(bytes);
    return true;
}

bool writeFile(const std::string &path, Header header, const std::vector<uint8_t> &payload,
    std::string &why)
{
    std::vector<uint8_t> bytes;
    if (!buildFile(std::move(header), payload, bytes, why))
        return false;
    const std::string temp = path + ".tmp";
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        why = temp + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written || std::rename(temp.c_str(), path.c_str()) != 0) {
        why = path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

} // namespace scoutrix::firmware
