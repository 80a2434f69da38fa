#include "Protocol.h"

#include <algorithm>

#include <openssl/rand.h>

#include <cstring>
#include <random>

namespace scoutrix::proto {

namespace {

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

bool isKnownType(uint8_t type)
{
    return typeName(type)[0] != '?';
}

const char *typeName(uint8_t type)
{
    switch (Type(type)) {
    case Type::SearchProbe:
        return "search probe";
    case Type::SearchAnswer:
        return "search answer";
    case Type::SetNoLogin:
        return "set without login";
    case Type::SetNoLoginReply:
        return "set without login reply";
    case Type::LoginHello:
        return "login hello";
    case Type::LoginParams:
        return "login parameters";
    case Type::LoginShare:
        return "login share";
    case Type::LoginReply:
        return "login reply";
    case Type::LoginConfirm:
        return "login confirmation";
    case Type::LoginResult:
        return "login result";
    case Type::Logout:
        return "logout";
    case Type::LogoutReply:
        return "logout reply";
    case Type::KeepAlive:
        return "keep-alive";
    case Type::KeepAliveReply:
        return "keep-alive reply";
    case Type::GetConfig:
        return "get configuration";
    case Type::GetConfigReply:
        return "get configuration reply";
    case Type::SetConfig:
        return "set configuration";
    case Type::SetConfigReply:
        return "set configuration reply";
    case Type::Reboot:
        return "reboot";
    case Type::RebootReply:
        return "reboot reply";
    case Type::UpgradeBegin:
        return "upgrade begin";
    case Type::UpgradeReady:
        return "upgrade ready";
    case Type::UpgradeData:
        return "upgrade data";
    case Type::UpgradeDataAck:
        return "upgrade data ack";
    case Type::UpgradeCommit:
        return "upgrade commit";
    case Type::UpgradeStatus:
        return "upgrade status";
    case Type::StreamStart:
        return "stream start";
    case Type::StreamStartReply:
        return "stream start reply";
    case Type::StreamData:
        return "stream data";
    case Type::StreamStop:
        return "stream stop";
    case Type::StreamStopReply:
        return "stream stop reply";
    case Type::Error:
        return "error";
    }
    return "?";
}

void appendHeader(std::vector<uint8_t> &out, Type type, uint32_t sequence, uint32_t length)
{
    Writer w;
    w.u32(Magic).u8(Version).u8(uint8_t(type)).u16(0).u32(sequence).u32(length);
    const auto &h = w.data();
    out.insert(out.end(), h.begin(), h.end());
}

std::vector<uint8_t> encodeFrame(Type type, uint32_t sequence, const std::vector<uint8_t> &payload)
{
    std::vector<uint8_t> out;
    out.reserve(HeaderSize + payload.size());
    appendHeader(out, type, sequence, uint32_t(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

bool decodeHeader(const uint8_t *bytes, uint32_t maxPayload, Header &out, std::string &error,
    bool sealedAllowed)
{
    if (le32(bytes) != Magic) {
        error = "bad magic";
        return false;
    }
    if (bytes[4] != Version && !(sealedAllowed && bytes[4] == SealedFrameVersion)) {
        error = "unsupported version " + std::to_string(bytes[4]);
        return false;
    }
    if (!isKnownType(bytes[5])) {
        error = "unknown message type " + std::to_string(bytes[5]);
        return false;
    }
    out.version = bytes[4];
    out.type = bytes[5];
    out.sequence = le32(bytes + 8);
    out.length = le32(bytes + 12);
    if (out.length > maxPayload) {
        error = "oversized frame: " + std::to_string(out.length) + " bytes announced, at most "
            + std::to_string(maxPayload);
        return false;
    }
    return true;
}

bool decodeDatagram(const uint8_t *bytes, std::size_t size, Frame &out, std::string &error)
{
    if (size < HeaderSize) {
        error = "truncated header";
        return false;
    }
    Header h;
    if (!decodeHeader(bytes, MaxUdpPayload, h, error))
        return false;
    if (size - HeaderSize != h.length) {
        error = size - HeaderSize < h.length ? "truncated frame" : "bytes after the frame";
        return false;
    }
    out.version = h.version;
    out.type = h.type;
    out.sequence = h.sequence;
    out.payload.assign(bytes + HeaderSize, bytes + size);
    std::memcpy(out.header, bytes, HeaderSize);
    return true;
}

void FrameAssembler::feed(const uint8_t *data, std::size_t size)
{
    if (m_failed)
        return;
    // Drop what was consumed before growing, so a long session stays small.
    if (m_offset > 0 && m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    } else if (m_offset > 65536) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(m_offset));
        m_offset = 0;
    }
    m_buffer.insert(m_buffer.end(), data, data + size);
}

FrameAssembler::Status FrameAssembler::next(Frame &out)
{
    if (m_failed)
        return Status::Error;
    if (pending() < HeaderSize)
        return Status::NeedMore;
    Header h;
    if (!decodeHeader(m_buffer.data() + m_offset, m_maxPayload, h, m_error, true)) {
        m_failed = true;
        return Status::Error;
    }
    if (pending() < HeaderSize + h.length)
        return Status::NeedMore;
    const uint8_t *p = m_buffer.data() + m_offset + HeaderSize;
    std::memcpy(out.header, p - HeaderSize, HeaderSize);
    out.version = h.version;
    out.type = h.type;
    out.sequence = h.sequence;
    out.payload.assign(p, p + h.length);
    m_offset += HeaderSize + h.length;
    return Status::Frame;
}

Writer &Writer::u8(uint8_t v)
{
    m_out.push_back(v);
    return *this;
}
Writer &Writer::u16(uint16_t v)
{
    m_out.push_back(uint8_t(v));
    m_out.push_back(uint8_t(v >> 8));
    return *this;
}
Writer &Writer::u32(uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        m_out.push_back(uint8_t(v >> (8 * i)));
    return *this;
}
Writer &Writer::bytes(const void *data, std::size_t size)
{
    const auto *p = static_cast<const uint8_t *>(data);
    m_out.insert(m_out.end(), p, p + size);
    return *this;
}
Writer &Writer::zeros(std::size_t size)
{
    m_out.insert(m_out.end(), size, 0);
    return *this;
}
Writer &Writer::fixedText(const std::string &text, std::size_t field)
{
    const std::size_t n = text.size() < field - 1 ? text.size() : field - 1;
    bytes(text.data(), n);
    return zeros(field - n);
}

bool Reader::u8(uint8_t &v)
{
    return bytes(&v, 1);
}
bool Reader::u16(uint16_t &v)
{
    uint8_t b[2];
    if (!bytes(b, 2))
        return false;
    v = uint16_t(b[0] | b[1] << 8);
    return true;
}
bool Reader::u32(uint32_t &v)
{
    uint8_t b[4];
    if (!bytes(b, 4))
        return false;
    v = le32(b);
    return true;
}
bool Reader::i32(int32_t &v)
{
    uint32_t u;
    if (!u32(u))
        return false;
    v = int32_t(u);
    return true;
}
bool Reader::bytes(void *out, std::size_t size)
{
    if (m_left < size)
        return false;
    std::memcpy(out, m_p, size);
    m_p += size;
    m_left -= size;
    return true;
}
bool Reader::fixedText(std::string &out, std::size_t field)
{
    if (m_left < field)
        return false;
    const void *nul = std::memchr(m_p, 0, field);
    const std::size_t n = nul ? std::size_t(static_cast<const uint8_t *>(nul) - m_p) : field;
    out.assign(reinterpret_cast<const char *>(m_p), n);
    m_p += field;
    m_left -= field;
    return true;
}
const uint8_t *Reader::rest(std::size_t &size)
{
    const uint8_t *p = m_p;
    size = m_left;
    m_p += m_left;
    m_left = 0;
    return p;
}

std::vector<uint8_t> encode(const SearchProbe &m)
{
    return Writer().u32(m.searchId).u16(m.attempt).u16(0).take();
}
std::vector<uint8_t> encode(const SearchAnswer &m)
{
    return Writer().u32(m.searchId).bytes(m.record, SearchRecordSize).take();
}
std::vector<uint8_t> encode(const SetNoLoginRequest &m)
{
    Writer w;
    w.u32(m.requestId).i32(m.command).i32(m.channel).fixedText(m.mac, MacFieldSize);
    w.u32(uint32_t(m.record.size())).bytes(m.record.data(), m.record.size());
    return w.take();
}
std::vector<uint8_t> encode(const SetNoLoginReply &m)
{
    return Writer().u32(m.requestId).fixedText(m.mac, MacFieldSize).i32(m.result).take();
}
std::vector<uint8_t> encode(const LoginResult &m)
{
    Writer w;
    w.i32(m.result)
        .u32(m.sessionId)
        .bytes(m.loginBlock, LoginBlockSize);
    return w.take();
}
std::vector<uint8_t> encodeGetConfig(int32_t command, int32_t channel)
{
    return Writer().i32(command).i32(channel).take();
}
std::vector<uint8_t> encodeSetConfig(
    int32_t command, int32_t channel, const void *data, std::size_t size)
{
    return Writer().i32(command).i32(channel).bytes(data, size).take();
}
std::vector<uint8_t> encode(const GetConfigReply &m)
{
    return Writer().i32(m.result).bytes(m.data.data(), m.data.size()).take();
}
std::vector<uint8_t> encodeResult(int32_t result)
{
    return Writer().i32(result).take();
}
std::vector<uint8_t> encode(const ErrorMessage &m)
{
    const std::size_t n = m.text.size() < 255 ? m.text.size() : 255;
    return Writer().i32(m.code).u16(uint16_t(n)).bytes(m.text.data(), n).take();
}

bool decode(const std::vector<uint8_t> &p, SearchProbe &m)
{
    Reader r(p);
    uint16_t reserved;
    return r.u32(m.searchId) && r.u16(m.attempt) && r.u16(reserved) && r.atEnd();
}
bool decode(const std::vector<uint8_t> &p, SearchAnswer &m)
{
    Reader r(p);
    return r.u32(m.searchId) && r.bytes(m.record, SearchRecordSize) && r.atEnd();
}
bool decode(const std::vector<uint8_t> &p, SetNoLoginRequest &m)
{
    Reader r(p);
    uint32_t size = 0;
    // The MAC text must end inside its field, so it reads back the same.
    if (!(r.u32(m.requestId) && r.i32(m.command) && r.i32(m.channel)
            && r.fixedText(m.mac, MacFieldSize) && r.u32(size))
        || m.mac.size() >= MacFieldSize)
        return false;
    if (size != r.left())
        return false;
    std::size_t n;
    const uint8_t *data = r.rest(n);
    m.record.assign(data, data + n);
    return true;
}
bool decode(const std::vector<uint8_t> &p, SetNoLoginReply &m)
{
    Reader r(p);
    return r.u32(m.requestId) && r.fixedText(m.mac, MacFieldSize) && r.i32(m.result) && r.atEnd()
        && m.mac.size() < MacFieldSize;
}
bool decode(const std::vector<uint8_t> &p, LoginResult &m)
{
    Reader r(p);
    return r.i32(m.result) && r.u32(m.sessionId) && r.bytes(m.loginBlock, LoginBlockSize)
        && r.atEnd();
}
bool decodeGetConfig(const std::vector<uint8_t> &p, ConfigRequest &m)
{
    Reader r(p);
    m.data.clear();
    return r.i32(m.command) && r.i32(m.channel) && r.atEnd();
}
bool decodeSetConfig(const std::vector<uint8_t> &p, ConfigRequest &m)
{
    Reader r(p);
    if (!(r.i32(m.command) && r.i32(m.channel)))
        return false;
    std::size_t n;
    const uint8_t *data = r.rest(n);
    m.data.assign(data, data + n);
    return true;
}
bool decode(const std::vector<uint8_t> &p, GetConfigReply &m)
{
    Reader r(p);
    if (!r.i32(m.result))
        return false;
    std::size_t n;
    const uint8_t *data = r.rest(n);
    m.data.assign(data, data + n);
    return true;
}
bool decodeResult(const std::vector<uint8_t> &p, int32_t &result)
{
    Reader r(p);
    return r.i32(result) && r.atEnd();
}
bool decode(const std::vector<uint8_t> &p, ErrorMessage &m)
{
    Reader r(p);
    uint16_t n = 0;
    if (!(r.i32(m.code) && r.u16(n)) || r.left() != n)
        return false;
    m.text.resize(n);
    return n == 0 || r.bytes(&m.text[0], n);
}

std::vector<uint8_t> encode(const UpgradeBegin &m)
{
    const std::size_t n = std::min(m.fileName.size(), MaxUpgradeFileName);
    return Writer()
        .i32(m.upgradeType)
        .u32(m.fileSize)
        .bytes(m.sha256, sizeof m.sha256)
        .u16(uint16_t(n))
        .bytes(m.fileName.data(), n)
        .take();
}

std::vector<uint8_t> encode(const UpgradeReady &m)
{
    return Writer().i32(m.result).u32(m.chunkSize).take();
}

std::vector<uint8_t> encode(const UpgradeAck &m)
{
    return Writer().i32(m.result).u32(m.received).take();
}

std::vector<uint8_t> encode(const UpgradeStatus &m)
{
    return Writer().i32(m.state).i32(m.percent).i32(m.status).take();
}

std::vector<uint8_t> encodeUpgradeData(uint32_t offset, const uint8_t *data, std::size_t size)
{
    return Writer().u32(offset).bytes(data, size).take();
}

bool decode(const std::vector<uint8_t> &p, UpgradeBegin &m)
{
    Reader r(p);
    uint16_t n = 0;
    if (!(r.i32(m.upgradeType) && r.u32(m.fileSize) && r.bytes(m.sha256, sizeof m.sha256)
            && r.u16(n))
        || n > MaxUpgradeFileName || r.left() != n)
        return false;
    m.fileName.resize(n);
    return n == 0 || r.bytes(&m.fileName[0], n);
}

bool decode(const std::vector<uint8_t> &p, UpgradeReady &m)
{
    Reader r(p);
    return r.i32(m.result) && r.u32(m.chunkSize) && r.atEnd();
}

bool decode(const std::vector<uint8_t> &p, UpgradeAck &m)
{
    Reader r(p);
    return r.i32(m.result) && r.u32(m.received) && r.atEnd();
}

bool decode(const std::vector<uint8_t> &p, UpgradeStatus &m)
{
    Reader r(p);
    return r.i32(m.state) && r.i32(m.percent) && r.i32(m.status) && r.atEnd() && m.state >= 0
        && m.state <= 2 && m.percent >= 0 && m.percent <= 100;
}

bool decodeUpgradeData(
    const std::vector<uint8_t> &p, uint32_t &offset, const uint8_t *&data, std::size_t &size)
{
    Reader r(p);
    if (!r.u32(offset))
        return false;
    data = r.rest(size);
    return true;
}

void randomBytes(uint8_t *out, std::size_t size)
{
    if (RAND_bytes(out, int(size)) == 1)
        return;
    // Nonces only need to be fresh, not secret; never leave them zero.
    static thread_local std::mt19937_64 fallback { std::random_device {}() };
    for (std::size_t i = 0; i < size; ++i)
        out[i] = uint8_t(fallback());
}

uint32_t randomU32()
{
    uint8_t b[4];
    randomBytes(b, 4);
    return le32(b);
}

std::vector<uint8_t> encode(const StreamRequest &m)
{
    return Writer().i32(m.channel).i32(m.stream).i32(m.reserved1).i32(m.reserved2).take();
}

bool decode(const std::vector<uint8_t> &p, StreamRequest &m)
{
    Reader r(p);
    return r.i32(m.channel) && r.i32(m.stream) && r.i32(m.reserved1) && r.i32(m.reserved2)
        && r.atEnd();
}

std::vector<uint8_t> encode(const StreamStartReply &m)
{
    return Writer().i32(m.result).u32(m.streamId).take();
}

bool decode(const std::vector<uint8_t> &p, StreamStartReply &m)
{
    Reader r(p);
    return r.i32(m.result) && r.u32(m.streamId) && r.atEnd();
}

std::vector<uint8_t> encodeStreamData(
    uint32_t streamId, StreamDataType type, const uint8_t *data, std::size_t size)
{
    return Writer().u32(streamId).u32(uint32_t(type)).bytes(data, size).take();
}

bool decodeStreamData(const std::vector<uint8_t> &p, uint32_t &streamId, uint32_t &type,
    const uint8_t *&data, std::size_t &size)
{
    Reader r(p);
    if (!r.u32(streamId) || !r.u32(type))
        return false;
    data = r.rest(size);
    return size > 0;
}

const uint8_t StreamStampUuid[16] = { 0x5c, 0x07, 0x71, 0x1c, 0x53, 0x74, 0x61, 0x6d, 0x70, 0x2d,
    0x73, 0x65, 0x6e, 0x74, 0x75, 0x73 };

std::vector<uint8_t> streamStampNal(uint64_t microseconds)
{
    // SEI payload type 5 (user data unregistered), 24 bytes: UUID and time.
    std::vector<uint8_t> rbsp = { 5, 24 };
    rbsp.insert(rbsp.end(), StreamStampUuid, StreamStampUuid + 16);
    for (int i = 0; i < 8; ++i)
        rbsp.push_back(uint8_t(microseconds >> (8 * i)));
    rbsp.push_back(0x80); // rbsp trailing bits
    std::vector<uint8_t> nal = { 0, 0, 0, 1, 0x06 };
    int zeros = 0;
    for (const uint8_t b : rbsp) {
        // Emulation prevention: no 00 00 0x (x <= 3) inside a NAL.
        if (zeros >= 2 && b <= 3) {
            nal.push_back(3);
            zeros = 0;
        }
        nal.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return nal;
}

bool findStreamStamp(const uint8_t *data, std::size_t size, uint64_t &microseconds)
{
    for (std::size_t i = 0; i + 4 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || (data[i + 3] & 0x1f) != 6)
            continue;
        // Unescape the NAL up to the next start code.
        std::vector<uint8_t> rbsp;
        int zeros = 0;
        for (std::size_t j = i + 4; j < size; ++j) {
            const uint8_t b = data[j];
            if (zeros >= 2 && b == 1)
                break; // next start code
            if (zeros >= 2 && b == 3) {
                zeros = 0;
                continue;
            }
            rbsp.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        if (rbsp.size() >= 26 && rbsp[0] == 5 && rbsp[1] == 24
            && std::memcmp(rbsp.data() + 2, StreamStampUuid, 16) == 0) {
            microseconds = 0;
            for (int k = 7; k >= 0; --k)
                microseconds = microseconds << 8 | rbsp[std::size_t(18 + k)];
            return true;
        }
    }
    return false;
}

} // namespace scoutrix::proto
