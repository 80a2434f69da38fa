#pragma once
// Byte-exact records in which devices arrive from the network SDK and in
// which the program keeps them. Plain C++ so that the SDK layer and the device
// emulator share the layout. Every multi-byte integer is little-endian; every
// text is read bounded by its field.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace scoutrix {

// Little-endian access to a field held as bytes, independent of host order
// and alignment.
inline uint32_t readLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void writeLe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline uint16_t readLe16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline void writeLe16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// A text field of N bytes: reads stop at the first NUL or at the field's end,
// writes cut so that the terminating NUL always fits.
std::string readFixedText(const char *field, std::size_t size);
void writeFixedText(char *field, std::size_t size, const std::string &text);

template<std::size_t N>
std::string fieldText(const char (&field)[N])
{
    return readFixedText(field, N);
}
template<std::size_t N>
void setFieldText(char (&field)[N], const std::string &text)
{
    writeFixedText(field, N, text);
}

enum class DeviceType : int32_t { DVR = 0, NVR = 1, IPC = 2, HVR = 3 };

// Name of a device type as the table shows it, or empty for an unnamed value.
const char *deviceTypeName(int32_t type);

struct NetInfo
{
    uint8_t reserved0[64];
    uint8_t ip[4];          // first octet first
    uint8_t mask[4];
    uint8_t gateway[4];
    uint8_t reserved76[4];
    uint8_t port[4];        // 32-bit; logins use the low 16 bits
    uint8_t reserved84[25];
    char mac[35];

    uint32_t portValue() const { return readLe32(port); }
    void setPortValue(uint32_t v) { writeLe32(port, v); }
    uint16_t loginPort() const { return uint16_t(portValue() & 0xffffu); }
    std::string macText() const { return fieldText(mac); }
    bool hasMac() const { return mac[0] != '\0'; }
    std::string ipText() const;
};

struct DevInfo
{
    uint8_t reserved0[64];
    char serial[64];
    char model[32];
    uint8_t type[4];        // signed DeviceType
    uint8_t reserved164[4];

    int32_t deviceType() const { return int32_t(readLe32(type)); }
    void setDeviceType(int32_t t) { writeLe32(type, uint32_t(t)); }
    std::string serialText() const { return fieldText(serial); }
    std::string modelText() const { return fieldText(model); }
};

struct SearchRecord
{
    NetInfo net;
    DevInfo dev;
};

// The block the SDK log in fills. Only a few words are interpreted.
struct LoginInfo
{
    uint8_t bytes[408];

    enum Offset : std::size_t {
        VersionText = 0,
        VersionTextSize = 64,
        VideoChannelCount = 288,
        LoginDeviceType = 312,
        AudioChannelCount = 316,
        AllChannelsFlag = 324,
    };

    int32_t word(std::size_t offset) const { return int32_t(readLe32(bytes + offset)); }
    void setWord(std::size_t offset, int32_t v) { writeLe32(bytes + offset, uint32_t(v)); }
    int32_t videoChannelCount() const { return word(VideoChannelCount); }
    int32_t loginDeviceType() const { return word(LoginDeviceType); }
    int32_t audioChannelCount() const { return word(AudioChannelCount); }
    std::string versionText() const
    {
        return readFixedText(reinterpret_cast<const char *>(bytes) + VersionText, VersionTextSize);
    }
};

struct DeviceRecord
{
    int32_t progressBarNumber;
    int32_t loginHandle;
    uint16_t port;
    char ipText[16];
    char userName[12];
    char password[18];      // only the first 12 bytes are ever written
    LoginInfo loginInfo;
    NetInfo netInfo;
    DevInfo devInfo;

    static constexpr std::size_t CredentialBytes = 12;
    void setCredentials(const std::string &user, const std::string &pass);
};

// One device as the batch engines reach it: logged in at ip:port with the
// credentials given, and found again by its MAC text after a reboot.
struct DeviceTarget
{
    int deviceIndex = -1; // the caller's key; handed back untouched
    std::string mac;
    std::string ip;
    uint16_t port = 0;
    std::string user;
    std::string password;
    std::string serial;
    std::string model;

    // With the credentials the record holds.
    static DeviceTarget of(const DeviceRecord &device, int index);
    static DeviceTarget of(const SearchRecord &found, int index, const std::string &user,
                           const std::string &password);
};

static_assert(sizeof(NetInfo) == 144, "NetInfo is 144 bytes");
static_assert(offsetof(NetInfo, ip) == 64 && offsetof(NetInfo, mask) == 68
                  && offsetof(NetInfo, gateway) == 72 && offsetof(NetInfo, port) == 80
                  && offsetof(NetInfo, mac) == 109,
              "NetInfo field offsets");
static_assert(sizeof(DevInfo) == 168, "DevInfo is 168 bytes");
static_assert(offsetof(DevInfo, serial) == 64 && offsetof(DevInfo, model) == 128
                  && offsetof(DevInfo, type) == 160,
              "DevInfo field offsets");
static_assert(sizeof(SearchRecord) == 312 && offsetof(SearchRecord, dev) == 144,
              "SearchRecord is NetInfo then DevInfo");
static_assert(sizeof(LoginInfo) == 408, "LoginInfo is 408 bytes");
static_assert(offsetof(DeviceRecord, loginHandle) == 4 && offsetof(DeviceRecord, port) == 8
                  && offsetof(DeviceRecord, ipText) == 10 && offsetof(DeviceRecord, userName) == 26
                  && offsetof(DeviceRecord, password) == 38
                  && offsetof(DeviceRecord, loginInfo) == 56
                  && offsetof(DeviceRecord, netInfo) == 464
                  && offsetof(DeviceRecord, devInfo) == 608,
              "DeviceRecord fields in order, packed");

// Dotted decimal without leading zeros.
std::string octetsText(const uint8_t octets[4]);

} // namespace scoutrix
