#pragma once
// Configuration records exchanged with SDK get/set configuration, one command
// number each. Plain C++ so that the pages, the SDK layer and the device
// emulator share one layout. Every field is little-endian; every record keeps
// the bytes the program does not interpret so they go back as they came.

#include "DeviceRecords.h"
#include "NetSdk.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace scoutrix {

// Command numbers of the records the program reads and writes.
enum ConfigCommand : int32_t {
    CmdEncodeCaps = 10,
    CmdDeviceInfo = 17,
    CmdVideoStandard = 18,
    CmdEncodeTable = 19,
    CmdNetWithoutLogin = 20,
    CmdResolutionList = 175,
    // System page
    CmdOsd = 30,
    CmdChannelNames = 31,
    CmdRestoreDefaults = 33,
    CmdDhcp = 37,
    CmdNtp = 41,
    CmdSystemTime = 45,
    CmdConfigExport = 51,
    CmdConfigImport = 52,
    CmdOnvif = 96,
    CmdTimeZone = 112,
    CmdLightCaps = 135,
    CmdLightMode = 172,
    // Camera page (channel 0); the image capability record is command 135,
    // the same record whose byte 6 the light-mode page reads.
    CmdImage = 78,
    CmdExposure = 134,
    CmdImageCaps = CmdLightCaps,
    // Audio page
    CmdAudio = 190,
    // Upgrade page
    CmdHardware = 61,
};

// A set the device took, possibly asking for a restart to apply it: what
// the page then knows as the device's record.
inline bool setTaken(int32_t result) { return result >= 0 || result == NETSDK_ERR_NEED_REBOOT; }

// The general record (command 18) is shared with the encode page, which reads
// the video standard from it.
constexpr int32_t CmdGeneral = CmdVideoStandard;

// Largest configuration image a device exports (command 51) or takes (52).
constexpr int32_t ConfigImageMax = 65536;

// Set without login (command 20) takes back the whole 144-byte network record
// the search returned, with the new address, mask and gateway written in; the
// device finds itself by the MAC text inside it.
using NetWithoutLoginRecord = NetInfo;

// A block of N raw bytes with little-endian word access by byte offset.
template<std::size_t N>
struct RawRecord
{
    uint8_t bytes[N];

    static constexpr std::size_t Size = N;
    int32_t word(std::size_t offset) const { return int32_t(readLe32(bytes + offset)); }
    void setWord(std::size_t offset, int32_t v) { writeLe32(bytes + offset, uint32_t(v)); }
};

// Parameters of one stream (main, sub or third) of one channel.
struct StreamParams : RawRecord<132>
{
    enum Offset : std::size_t {
        EncodeType = 0,
        Resolution = 4,
        BitControl = 8,     // 0 CBR, 1 VBR
        Quality = 12,       // 1..6
        FrameRate = 16,
        BitRate = 20,       // kbit/s
        IFrameInterval = 24,
        VideoOn = 40,       // one byte
        AudioOn = 41,       // one byte
    };

    int32_t encodeType() const { return word(EncodeType); }
    int32_t resolution() const { return word(Resolution); }
    int32_t bitControl() const { return word(BitControl); }
    int32_t quality() const { return word(Quality); }
    int32_t frameRate() const { return word(FrameRate); }
    int32_t bitRate() const { return word(BitRate); }
    int32_t iFrameInterval() const { return word(IFrameInterval); }
    bool videoOn() const { return bytes[VideoOn] != 0; }
    bool audioOn() const { return bytes[AudioOn] != 0; }

    void setEncodeType(int32_t v) { setWord(EncodeType, v); }
    void setResolution(int32_t v) { setWord(Resolution, v); }
    void setBitControl(int32_t v) { setWord(BitControl, v); }
    void setQuality(int32_t v) { setWord(Quality, v); }
    void setFrameRate(int32_t v) { setWord(FrameRate, v); }
    void setBitRate(int32_t v) { setWord(BitRate, v); }
    void setIFrameInterval(int32_t v) { setWord(IFrameInterval, v); }
    void setVideoOn(bool on) { bytes[VideoOn] = on ? 1 : 0; }
    void setAudioOn(bool on) { bytes[AudioOn] = on ? 1 : 0; }
};

struct ChannelEncode
{
    StreamParams main;
    StreamParams sub;
    StreamParams third;
};

// The encode settings of all channels, read and written in one buffer
// (command 19, channel -1).
struct EncodeTable
{
    static constexpr int Channels = 64;
    ChannelEncode channel[Channels];
};

// Encoding capabilities (command 10, channel -1).
struct EncodeCaps : RawRecord<4692>
{
    static constexpr int MaxChannels = 32;
    static constexpr int DefaultBitRateBudget = 24576;
    enum Offset : std::size_t {
        PixelRateBudget = 0,
        SharedBudget = 4,
        MainPixelLimit = 8,        // + 4 * channel
        MainResolutionMask = 136,  // + 4 * channel
        SubResolutionMask = 264,   // + 4 * channel
        StreamCaps = 404,          // + 20 * entry: word 0 type mask, word 1 resolution mask
        BitRateBudget = 592,
        SubMaskByMainRes = 596,    // + 128 * channel + 4 * resolution
    };
    enum StreamEntry : int { MainEntry = 0, SubEntry = 1, ThirdEntry = 5 };

    int32_t pixelRateBudget() const { return word(PixelRateBudget); }
    bool sharedBudget() const { return word(SharedBudget) != 0; }
    int32_t mainPixelLimit(int ch) const { return inRange(ch) ? word(MainPixelLimit + 4 * ch) : 0; }
    uint32_t mainResolutionMask(int ch) const
    {
        return inRange(ch) ? uint32_t(word(MainResolutionMask + 4 * ch)) : 0;
    }
    uint32_t subResolutionMask(int ch) const
    {
        return inRange(ch) ? uint32_t(word(SubResolutionMask + 4 * ch)) : 0;
    }
    uint32_t typeMask(int entry) const { return uint32_t(word(StreamCaps + 20 * entry)); }
    uint32_t entryResolutionMask(int entry) const { return uint32_t(word(StreamCaps + 20 * entry + 4)); }
    // 0 on the device means the default budget.
    int32_t bitRateBudget() const
    {
        const int32_t v = word(BitRateBudget);
        return v == 0 ? DefaultBitRateBudget : v;
    }
    uint32_t subMaskByMainRes(int ch, int res) const
    {
        if (!inRange(ch) || res < 0 || res >= 32)
            return 0;
        return uint32_t(word(SubMaskByMainRes + 128 * ch + 4 * res));
    }

    void setMainPixelLimit(int ch, int32_t v) { setWord(MainPixelLimit + 4 * ch, v); }
    void setMainResolutionMask(int ch, uint32_t m) { setWord(MainResolutionMask + 4 * ch, int32_t(m)); }
    void setSubResolutionMask(int ch, uint32_t m) { setWord(SubResolutionMask + 4 * ch, int32_t(m)); }
    void setEntry(int entry, uint32_t typeMask, uint32_t resMask)
    {
        setWord(StreamCaps + 20 * entry, int32_t(typeMask));
        setWord(StreamCaps + 20 * entry + 4, int32_t(resMask));
    }
    void setSubMaskByMainRes(int ch, int res, uint32_t m) { setWord(SubMaskByMainRes + 128 * ch + 4 * res, int32_t(m)); }

private:
    static bool inRange(int ch) { return ch >= 0 && ch < MaxChannels; }
};

// The general record (command 18, channel -1): video standard and the
// device's menu language.
struct VideoStandard : RawRecord<192>
{
    enum Offset : std::size_t { Standard = 116, Language = 120 };
    bool isNtsc() const { return word(Standard) != 0; }
    void setNtsc(bool ntsc) { setWord(Standard, ntsc ? 1 : 0); }
    int32_t videoFormat() const { return word(Standard); } // 0 PAL, 1 NTSC
    void setVideoFormat(int32_t v) { setWord(Standard, v); }
    int32_t language() const { return word(Language); }    // index in the language list
    void setLanguage(int32_t v) { setWord(Language, v); }
};
using GeneralRecord = VideoStandard;

// The device clock (command 45): local time of the device.
struct SystemTimeRecord : RawRecord<32>
{
    enum Offset : std::size_t { Year = 0, Month = 4, Day = 8, Hour = 16, Minute = 20, Second = 24 };
};

// NTP (command 41). Only the listed fields are ours; the rest goes back as read.
struct NtpRecord : RawRecord<216>
{
    static constexpr std::size_t ServerBytes = 64;
    enum Offset : std::size_t { Enable = 0, Server = 4, Port = 72, Period = 208, ZoneIndex = 212 };
    bool enabled() const { return bytes[Enable] != 0; }
    void setEnabled(bool on) { bytes[Enable] = on ? 1 : 0; }
    // Bounded by the field; a field without a terminator reads as 64 bytes.
    std::string server() const;
    // The caller refuses names of 64 bytes or more; this never writes past
    // the field and always leaves a terminator.
    void setServer(const std::string &latin1);
};

// Time zone (command 112): word 4 is minutes west of UTC (east is negative).
struct TimeZoneRecord : RawRecord<8>
{
    enum Offset : std::size_t { MinutesWest = 4 };
};

// Restore defaults (command 33): ten words, 1 = restore that group.
struct RestoreDefaultsRecord : RawRecord<40>
{
    enum Group : int {
        General = 0, Encode = 1, Record = 2, NetService = 3, Network = 4, AlarmSet = 5,
        Unused = 6, Account = 7, GuiDisplay = 8, IpcConfig = 9, Groups = 10,
    };
    bool group(int g) const { return word(std::size_t(4 * g)) != 0; }
    void setGroup(int g, bool on) { setWord(std::size_t(4 * g), on ? 1 : 0); }
};

// Image and light capability (command 135, read only): byte 0 = 1 when the
// lens has focus modes, byte 1 = 1 when the sensor has wide dynamic range;
// byte 6 is a mask of light modes, bit 0 infrared, bit 1 full colour, bit 2
// dual, and 0 means no fill light at all.
struct LightCapsRecord : RawRecord<36>
{
    enum Offset : std::size_t { FocusOffered = 0, WdrOffered = 1, ModeMask = 6 };
    enum Mode : uint8_t { InfraredBit = 1, FullColorBit = 2, DualBit = 4 };
};
using ImageCapsRecord = LightCapsRecord;

// Image settings (command 78, channel 0): one byte per setting; bytes 8 to 23
// are the device's and go back as read.
struct ImageRecord : RawRecord<24>
{
    enum Offset : std::size_t {
        DayNight = 0,       // 0 auto, 1 colour, 2 black and white
        DncSensitivity = 1, // 1..50
        IrCut = 2,          // 0 synchronous, 1 automatic
        Mirror = 3,
        Roll = 4,
        IrGlassReverse = 5,
        FocusMode = 6,      // 0 auto, 1 manual, 2 semi-automatic
        Wdr = 7,
    };
};

// Exposure (command 134, channel 0): a 4-byte header and four blocks, day
// and night without and with wide dynamic range. Header byte 0 set means the
// device runs a night block of its own.
struct ExposureRecord : RawRecord<212>
{
    static constexpr int Blocks = 4;
    static constexpr std::size_t BlockBytes = 52;
    static constexpr std::size_t blockOffset(int block) { return 4 + BlockBytes * std::size_t(block); }
    enum Header : std::size_t { NightBlock = 0 };
    // Offsets inside a block.
    enum Field : std::size_t {
        Mode = 0,        // word: 0 auto, 1..8 fixed shutters
        LimitFirst = 4,  // words kept as read: the automatic mode's range
        LimitSecond = 8,
        Balance = 20,
        AntiFlicker = 21,
        Sensitivity = 22, // 1..10
        BackLight = 23,
        Ae = 26,          // signed 16-bit, 1..255
        NoiseGrade = 32,  // 0 auto, 1..5
    };

    uint8_t *block(int b) { return bytes + blockOffset(b); }
    const uint8_t *block(int b) const { return bytes + blockOffset(b); }
};

// Light mode (command 172, channel 0), built from zero: one byte per field.
struct LightModeRecord : RawRecord<260>
{
    enum Offset : std::size_t {
        Type = 0, Photosensitive = 1, FlashMode = 2, LightTime = 3, Brightness = 4,
        Dimming = 5, WarmControl = 6, InfraredControl = 7, Detection = 8,
    };
    enum Type : uint8_t { Infrared = 0, FullColor = 1, Dual = 2 };
};

// Channel names (command 31, channel -1): one NUL-terminated name per
// channel, local 8-bit encoding, ChannelNameBytes each.
struct ChannelNamesRecord : RawRecord<4096>
{
    static constexpr std::size_t ChannelNameBytes = 64;
    static constexpr int Channels = 4096 / ChannelNameBytes;
    // Bounded by the channel's part of the record.
    std::string name(int channel) const;
    // Writes at most ChannelNameBytes - 1 bytes and a terminator; returns how
    // many bytes of |text| were kept.
    std::size_t setName(int channel, const std::string &text);
};

// On-screen display of one channel (command 30).
struct OsdRecord : RawRecord<348>
{
    enum Offset : std::size_t { ShowName = 249, ShowTime = 277 };
};

// Onvif service (command 96): word 4, 1 = on.
struct OnvifRecord : RawRecord<64>
{
    enum Offset : std::size_t { Enable = 4 };
};

// DHCP (command 37): word 0, 1 = on.
struct DhcpRecord : RawRecord<144>
{
    enum Offset : std::size_t { Enable = 0 };
};

// Device information (command 17, channel 0); the program reads the firmware
// build time from it.
// Audio settings (command 190, channel 0). Words 0 and 16 belong to the
// device and must go back exactly as read.
struct AudioRecord : RawRecord<20>
{
    enum Offset : std::size_t {
        DeviceWord0 = 0,
        Compression = 4,   // 0 G711A, 1 G711U
        InputVolume = 8,   // 0..100
        OutputVolume = 12, // 0..10
        DeviceWord16 = 16,
    };

    int32_t compression() const { return word(Compression); }
    int32_t inputVolume() const { return word(InputVolume); }
    int32_t outputVolume() const { return word(OutputVolume); }
    void setCompression(int32_t v) { setWord(Compression, v); }
    void setInputVolume(int32_t v) { setWord(InputVolume, v); }
    void setOutputVolume(int32_t v) { setWord(OutputVolume, v); }
};

struct DeviceInfoRecord : RawRecord<408>
{
    enum Offset : std::size_t {
        BuildYear = 192, BuildMonth = 196, BuildDay = 200,
        BuildHour = 208, BuildMinute = 212, BuildSecond = 216,
    };
    // "YYYY-MM-DD hh:mm:ss", each number zero-padded to its width.
    std::string buildTimeText() const;
    void setBuildTime(int year, int month, int day, int hour, int minute, int second);
};

// Hardware record (command 61, channel -1, read only): the board the device
// runs on and the flash area that takes a boot-logo image. The board name
// decides the logo file system and may override the area.
struct HardwareRecord : RawRecord<200>
{
    static constexpr std::size_t NameBytes = 32, VersionBytes = 32, VendorBytes = 64;
    enum Offset : std::size_t { Name = 64, Version = 96, Vendor = 128, AreaStart = 192, AreaEnd = 196 };
    // Texts are bounded by their fields; a field without a terminator reads whole.
    std::string hardwareName() const;
    std::string versionText() const;
    std::string vendorText() const;
    uint32_t areaStart() const { return readLe32(bytes + AreaStart); }
    uint32_t areaEnd() const { return readLe32(bytes + AreaEnd); }
    // Writers never pass their field and always leave a terminator.
    void setHardwareName(const std::string &text);
    void setVersionText(const std::string &text);
    void setVendorText(const std::string &text);
    void setArea(uint32_t start, uint32_t end)
    {
        writeLe32(bytes + AreaStart, start);
        writeLe32(bytes + AreaEnd, end);
    }
};

// The device's own resolution list (command 175, channel -1).
struct ResolutionEntry
{
    uint8_t width[4];
    uint8_t height[4];
    char name[32];

    int32_t widthValue() const { return int32_t(readLe32(width)); }
    int32_t heightValue() const { return int32_t(readLe32(height)); }
    std::string nameText() const { return fieldText(name); }
    void set(int32_t w, int32_t h, const std::string &n)
    {
        writeLe32(width, uint32_t(w));
        writeLe32(height, uint32_t(h));
        setFieldText(name, n);
    }
};

struct ResolutionList
{
    static constexpr int Entries = 32;
    ResolutionEntry entry[Entries];
};

static_assert(sizeof(NetWithoutLoginRecord) == 144, "command 20 carries a whole network record");
static_assert(sizeof(StreamParams) == 132, "stream parameters are 132 bytes");
static_assert(sizeof(ChannelEncode) == 396, "a channel record is three streams");
static_assert(sizeof(EncodeTable) == 25344, "the encode table holds 64 channels");
static_assert(sizeof(EncodeCaps) == 4692, "encoding capabilities are 4692 bytes");
static_assert(EncodeCaps::SubMaskByMainRes + 128 * 32 == 4692, "sub-mask matrix ends the record");
static_assert(sizeof(VideoStandard) == 192, "video standard is 192 bytes");
static_assert(sizeof(SystemTimeRecord) == 32 && sizeof(NtpRecord) == 216 && sizeof(TimeZoneRecord) == 8,
              "clock records");
static_assert(sizeof(RestoreDefaultsRecord) == 40 && sizeof(LightCapsRecord) == 36
                  && sizeof(LightModeRecord) == 260,
              "maintenance records");
static_assert(sizeof(ChannelNamesRecord) == 4096 && sizeof(OsdRecord) == 348 && sizeof(OnvifRecord) == 64
                  && sizeof(DhcpRecord) == 144,
              "channel and service records");
static_assert(NtpRecord::Server + NtpRecord::ServerBytes <= NtpRecord::Port, "server name ends before the port");
static_assert(sizeof(ImageRecord) == 24 && sizeof(ExposureRecord) == 212
                  && ExposureRecord::blockOffset(ExposureRecord::Blocks) == 212
                  && ExposureRecord::NoiseGrade < ExposureRecord::BlockBytes,
              "image settings are 24 bytes, exposure a header and four 52-byte blocks");
static_assert(sizeof(AudioRecord) == 20 && AudioRecord::DeviceWord16 + 4 == 20, "audio record is five words");
static_assert(sizeof(DeviceInfoRecord) == 408, "device information is 408 bytes");
static_assert(sizeof(HardwareRecord) == 200 && HardwareRecord::AreaEnd + 4 == 200
                  && HardwareRecord::Vendor + HardwareRecord::VendorBytes == HardwareRecord::AreaStart,
              "hardware record is 200 bytes, the area words end it");
static_assert(sizeof(ResolutionEntry) == 40 && sizeof(ResolutionList) == 1280,
              "resolution list is 32 entries of 40 bytes");

} // namespace scoutrix
