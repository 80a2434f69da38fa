#pragma once
// The device protocol shared by the network SDK and the device emulator:
// frame header, message types and payload codecs. The login's messages and
// the sealing of a session's frames are in Pake.h and SessionCrypto.h. Plain
// C++17; docs/device-protocol.md is the description a device maker works from.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "NetSdk.h"

namespace scoutrix::proto {

constexpr uint16_t DiscoveryPort = 39500; // UDP: search and set without login
constexpr uint16_t ServicePort = 39510; // TCP: the default session port of a device

constexpr uint32_t Magic = 0x50445853; // "SXDP" on the wire
constexpr uint8_t Version = 1; // clear frames: discovery and the login exchange
constexpr uint8_t SealedFrameVersion = 2; // every session frame after the login
constexpr std::size_t HeaderSize = 16;
constexpr uint32_t MaxTcpPayload = 1u << 20; // 1 MiB
constexpr uint32_t MaxUdpPayload = 1400; // one unfragmented datagram on any LAN
constexpr std::size_t MacFieldSize = 36;
constexpr std::size_t MaxUserName = 63;
constexpr std::size_t LoginBlockSize = 408;
constexpr std::size_t SearchRecordSize = 312;
constexpr std::size_t StreamRequestSize = 16;

enum class Type : uint8_t {
    // UDP
    SearchProbe = 0x01,
    SearchAnswer = 0x02,
    SetNoLogin = 0x03,
    SetNoLoginReply = 0x04,
    // TCP session
    LoginHello = 0x10, // pake::Hello2
    LoginParams = 0x11, // pake::Params2
    LoginShare = 0x12, // pake::Share2
    LoginResult = 0x13, // sealed
    LoginReply = 0x18, // pake::Reply2
    LoginConfirm = 0x19, // pake::Confirm2
    Logout = 0x14,
    LogoutReply = 0x15,
    KeepAlive = 0x16,
    KeepAliveReply = 0x17,
    GetConfig = 0x20,
    GetConfigReply = 0x21,
    SetConfig = 0x22,
    SetConfigReply = 0x23,
    Reboot = 0x24,
    RebootReply = 0x25,
    UpgradeBegin = 0x30,
    UpgradeReady = 0x31,
    UpgradeData = 0x32,
    UpgradeDataAck = 0x33,
    UpgradeCommit = 0x34,
    UpgradeStatus = 0x35,
    StreamStart = 0x40,
    StreamStartReply = 0x41,
    StreamData = 0x42,
    StreamStop = 0x43,
    StreamStopReply = 0x44,
    Error = 0x7f,
};

bool isKnownType(uint8_t type);
const char *typeName(uint8_t type);

// Result codes carried on the wire and returned by the SDK. The ones the
// program reads take their values from the SDK's own header, so the two can
// never disagree; the rest are described in the protocol document.
enum Code : int32_t {
    Ok = NETSDK_OK,
    Fail = NETSDK_ERR_FAIL,
    NotSupported = NETSDK_ERR_NOT_SUPPORTED,
    InvalidArgument = -10001,
    InvalidHandle = -10002,
    NetworkError = -10003,
    ProtocolError = -10004,
    Timeout = NETSDK_ERR_TIMEOUT,
    BufferTooSmall = -10006,
    NotLoggedIn = -10007,
    WrongPassword = NETSDK_ERR_PASSWORD,
    NoSuchUser = NETSDK_ERR_NO_USER,
    Locked = NETSDK_ERR_LOCKED,
    BlackListed = NETSDK_ERR_BLACKLIST,
    InUse = NETSDK_ERR_IN_USE,
    NotFound = NETSDK_ERR_NOT_FOUND,
    Uninitialised = NETSDK_ERR_UNINIT,
    NeedReboot = NETSDK_ERR_NEED_REBOOT,
    LoginNetworkError = NETSDK_LOGIN_NET_ERROR,
    SystemBusy = NETSDK_LOGIN_SYSTEM_BUSY,
};

struct Header
{
    uint8_t version = 0;
    uint8_t type = 0;
    uint32_t sequence = 0;
    uint32_t length = 0;
};

struct Frame
{
    uint8_t version = Version;
    uint8_t type = 0;
    uint32_t sequence = 0;
    std::vector<uint8_t> payload;
    uint8_t header[HeaderSize] = {}; // as received: a sealed frame's associated data
};

void appendHeader(std::vector<uint8_t> &out, Type type, uint32_t sequence, uint32_t length);
std::vector<uint8_t> encodeFrame(Type type, uint32_t sequence, const std::vector<uint8_t> &payload);

// Checks the 16 header bytes. On failure |error| says why (bad magic, version,
// unknown type, length over |maxPayload|). Version 2 (sealed) is taken only
// when |sealedAllowed|: datagrams are never sealed.
bool decodeHeader(const uint8_t *bytes, uint32_t maxPayload, Header &out, std::string &error,
    bool sealedAllowed = false);

// One whole datagram: header plus exactly |length| payload bytes.
bool decodeDatagram(const uint8_t *bytes, std::size_t size, Frame &out, std::string &error);

// Cuts a TCP byte stream into frames. A header that fails its checks is
// refused as soon as its 16 bytes are in, so an oversized length never makes
// the reader wait for (or buffer) the payload it announces.
class FrameAssembler
{
public:
    enum class Status { NeedMore, Frame, Error };

    explicit FrameAssembler(uint32_t maxPayload = MaxTcpPayload)
        : m_maxPayload(maxPayload)
    {
    }
    void feed(const uint8_t *data, std::size_t size);
    Status next(Frame &out);
    const std::string &error() const { return m_error; }
    // Bytes of an unfinished frame; non-zero at end of stream means truncation.
    std::size_t pending() const { return m_buffer.size() - m_offset; }

private:
    std::vector<uint8_t> m_buffer;
    std::size_t m_offset = 0;
    uint32_t m_maxPayload;
    std::string m_error;
    bool m_failed = false;
};

// Bounded little-endian readers and writers for payloads.
class Writer
{
public:
    Writer &u8(uint8_t v);
    Writer &u16(uint16_t v);
    Writer &u32(uint32_t v);
    Writer &i32(int32_t v) { return u32(uint32_t(v)); }
    Writer &bytes(const void *data, std::size_t size);
    Writer &zeros(std::size_t size);
    Writer &fixedText(const std::string &text, std::size_t field);
    std::vector<uint8_t> take() { return std::move(m_out); }
    const std::vector<uint8_t> &data() const { return m_out; }

private:
    std::vector<uint8_t> m_out;
};

class Reader
{
public:
    Reader(const uint8_t *data, std::size_t size)
        : m_p(data)
        , m_left(size)
    {
    }
    explicit Reader(const std::vector<uint8_t> &v)
        : Reader(v.data(), v.size())
    {
    }
    bool u8(uint8_t &v);
    bool u16(uint16_t &v);
    bool u32(uint32_t &v);
    bool i32(int32_t &v);
    bool bytes(void *out, std::size_t size);
    bool fixedText(std::string &out, std::size_t field);
    const uint8_t *rest(std::size_t &size);
    std::size_t left() const { return m_left; }
    bool atEnd() const { return m_left == 0; }

private:
    const uint8_t *m_p;
    std::size_t m_left;
};

// Payloads. Each decode is strict: short or over-long payloads fail.
struct SearchProbe
{
    uint32_t searchId = 0;
    uint16_t attempt = 0;
};
struct SearchAnswer
{
    uint32_t searchId = 0;
    uint8_t record[SearchRecordSize] = {};
};
struct SetNoLoginRequest
{
    uint32_t requestId = 0;
    int32_t command = 0;
    int32_t channel = 0;
    std::string mac;
    std::vector<uint8_t> record;
};
struct SetNoLoginReply
{
    uint32_t requestId = 0;
    std::string mac;
    int32_t result = 0;
};
struct LoginResult
{
    int32_t result = 0;
    uint32_t sessionId = 0;
    uint8_t loginBlock[LoginBlockSize] = {};
};
struct ConfigRequest
{
    int32_t command = 0;
    int32_t channel = 0;
    std::vector<uint8_t> data;
};
struct GetConfigReply
{
    int32_t result = 0;
    std::vector<uint8_t> data;
};
// Firmware upgrade. A device takes one upgrade at a time; the state of a
// status push is 0 writing, 1 done, 2 failed, and its status code is 0 or
// one of the NETSDK_UPGRADE_ERR_* values of NetSdk.h.
struct UpgradeBegin
{
    int32_t upgradeType = 0;
    uint32_t fileSize = 0;
    uint8_t sha256[32] = {}; // of the whole file as sent
    std::string fileName; // at most 255 bytes
};
struct UpgradeReady
{
    int32_t result = 0;
    uint32_t chunkSize = 0; // largest chunk the device takes
};
struct UpgradeAck
{
    int32_t result = 0;
    uint32_t received = 0;
};
enum class UpgradeState : int32_t { Writing = 0, Done = 1, Failed = 2 };
struct UpgradeStatus
{
    int32_t state = 0;
    int32_t percent = 0;
    int32_t status = 0;
};
constexpr std::size_t MaxUpgradeFileName = 255;
// Room for a chunk in one sealed frame: offset word and the seal's tag.
constexpr uint32_t MaxUpgradeChunk = MaxTcpPayload - 4 - 16;

// Live stream. The request is the caller's 16 bytes: channel (0-based),
// stream (0 main, 1 sub), and two words that must be 0.
struct StreamRequest
{
    int32_t channel = 0;
    int32_t stream = 0;
    int32_t reserved1 = 0;
    int32_t reserved2 = 0;
};
enum class StreamKind : int32_t { Main = 0, Sub = 1 };
struct StreamStartReply
{
    int32_t result = 0;
    uint32_t streamId = 0;
};
// What StreamData carries; the one kind so far is a whole H.264 access unit
// in Annex B form.
enum class StreamDataType : uint32_t { H264AccessUnit = 1 };
// Room for an access unit in one sealed frame: the two header words and the tag.
constexpr uint32_t MaxStreamChunk = MaxTcpPayload - 8 - 16;

// The send time a device stamps into each access unit: an SEI NAL of type
// "user data unregistered" with StreamStampUuid and a little-endian u64 of
// microseconds since 1970 (UTC), placed first in the access unit. It rides
// inside the H.264 data, so it reaches whoever decodes it, through any
// callback, and decoders skip it.
extern const uint8_t StreamStampUuid[16];
std::vector<uint8_t> streamStampNal(uint64_t microseconds);
// The stamp of an access unit; false when it carries none.
bool findStreamStamp(const uint8_t *data, std::size_t size, uint64_t &microseconds);

struct ErrorMessage
{
    int32_t code = 0;
    std::string text;
};

std::vector<uint8_t> encode(const SearchProbe &m);
std::vector<uint8_t> encode(const SearchAnswer &m);
std::vector<uint8_t> encode(const SetNoLoginRequest &m);
std::vector<uint8_t> encode(const SetNoLoginReply &m);
std::vector<uint8_t> encode(const LoginResult &m);
std::vector<uint8_t> encodeGetConfig(int32_t command, int32_t channel);
std::vector<uint8_t> encodeSetConfig(
    int32_t command, int32_t channel, const void *data, std::size_t size);
std::vector<uint8_t> encode(const GetConfigReply &m);
std::vector<uint8_t> encodeResult(int32_t result);
std::vector<uint8_t> encode(const ErrorMessage &m);
std::vector<uint8_t> encode(const UpgradeBegin &m);
std::vector<uint8_t> encode(const UpgradeReady &m);
std::vector<uint8_t> encode(const UpgradeAck &m);
std::vector<uint8_t> encode(const UpgradeStatus &m);
std::vector<uint8_t> encodeUpgradeData(uint32_t offset, const uint8_t *data, std::size_t size);
std::vector<uint8_t> encode(const StreamRequest &m);
std::vector<uint8_t> encode(const StreamStartReply &m);
std::vector<uint8_t> encodeStreamData(
    uint32_t streamId, StreamDataType type, const uint8_t *data, std::size_t size);

bool decode(const std::vector<uint8_t> &p, SearchProbe &m);
bool decode(const std::vector<uint8_t> &p, SearchAnswer &m);
bool decode(const std::vector<uint8_t> &p, SetNoLoginRequest &m);
bool decode(const std::vector<uint8_t> &p, SetNoLoginReply &m);
bool decode(const std::vector<uint8_t> &p, LoginResult &m);
bool decodeGetConfig(const std::vector<uint8_t> &p, ConfigRequest &m);
bool decodeSetConfig(const std::vector<uint8_t> &p, ConfigRequest &m);
bool decode(const std::vector<uint8_t> &p, GetConfigReply &m);
bool decodeResult(const std::vector<uint8_t> &p, int32_t &result);
bool decode(const std::vector<uint8_t> &p, ErrorMessage &m);
bool decode(const std::vector<uint8_t> &p, UpgradeBegin &m);
bool decode(const std::vector<uint8_t> &p, UpgradeReady &m);
bool decode(const std::vector<uint8_t> &p, UpgradeAck &m);
bool decode(const std::vector<uint8_t> &p, UpgradeStatus &m);
bool decode(const std::vector<uint8_t> &p, StreamRequest &m);
bool decode(const std::vector<uint8_t> &p, StreamStartReply &m);
// The data is left in place: |data| points into |p|.
bool decodeStreamData(const std::vector<uint8_t> &p, uint32_t &streamId, uint32_t &type,
    const uint8_t *&data, std::size_t &size);
// The chunk is left in place: |data| points into |p|.
bool decodeUpgradeData(
    const std::vector<uint8_t> &p, uint32_t &offset, const uint8_t *&data, std::size_t &size);

void randomBytes(uint8_t *out, std::size_t size);
uint32_t randomU32();

} // namespace scoutrix::proto
