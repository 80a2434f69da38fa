#pragma once
// Configuration records exchanged with SDK get/set configuration, one command
// number each. Plain C++ so that the pages, the SDK layer and the device
// emulator share one layout. Every field is little-endian; every record keeps
// the bytes the program does not interpret so they go back as they came.

#include "DeviceRecords.h"

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
};

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

// Video standard (command 18, channel -1).
struct VideoStandard : RawRecord<192>
{
    enum Offset : std::size_t { Standard = 116 };
    bool isNtsc() const { return word(Standard) != 0; }
    void setNtsc(bool ntsc) { setWord(Standard, ntsc ? 1 : 0); }
};

// Device information (command 17, channel 0); the program reads the firmware
// build time from it.
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
static_assert(sizeof(DeviceInfoRecord) == 408, "device information is 408 bytes");
static_assert(sizeof(ResolutionEntry) == 40 && sizeof(ResolutionList) == 1280,
              "resolution list is 32 entries of 40 bytes");

} // namespace scoutrix
