#pragma once
// The encode page without its widgets: the device's encode table, held while
// the user edits it, and the budget arithmetic that keeps every choice of
// resolution, frame rate and bit rate inside what the device can encode.
//
// A channel may only use what the device's total pixel rate leaves after every
// stream of every other channel has been counted; offered bit rates follow
// from a grade table by resolution and quality, scaled by frame rate and
// I-frame interval. Plain C++.

#include <cstdint>
#include <optional>
#include <vector>

#include "ConfigRecords.h"
#include "EncodeTables.h"

namespace scoutrix {

enum class StreamKind { Main, Sub };

// What the widgets of one stream show.
struct StreamView
{
    struct BitRateItem
    {
        int grade;
        int value;
    };

    std::vector<int> resolutions;  // offered indices, in index order
    int resolution = 0;            // the stream's own; absent from the list when not offered
    int maxFrameRate = 1;
    int frameRate = 1;
    bool vbr = false;
    int quality = 1;
    int iFrameInterval = 0;
    int encodeType = 0;
    std::vector<BitRateItem> bitRates;
    int bitRate = 0;               // the value to select
    std::optional<int64_t> bitRateCap;
    bool videoOn = false;
    bool audioOn = false;
    bool bitRateEnabled = false;
    bool qualityEnabled = false;
    bool controlsEnabled = true;   // the sub stream's controls follow its video box
};

// What the widgets of one stream hold when they are stored back. -1 in a
// list field means the list had nothing selected: the stream keeps its value.
struct StreamEdit
{
    int encodeType = -1;
    int resolution = -1;
    int bitControl = 0;
    int frameRate = 1;
    int quality = 1;
    int bitRate = -1;
    int iFrameInterval = 0;
    bool videoOn = false;
    bool audioOn = false;
};

class EncodeBudget
{
public:
    static constexpr int MaxChannels = EncodeTable::Channels;

    struct Device
    {
        EncodeCaps caps;
        EncodeTable table;
        bool ntsc = false;
        ResolutionTable resolutions;
        int channelCount = 0;
        int audioChannelCount = 0;
        bool offerAllFlag = false;  // LoginInfo word 324
    };

    EncodeBudget();

    void load(const Device &device);

    int channelCount() const { return m_channelCount; }
    bool offersAll() const;
    int allChannel() const { return m_channelCount; }
    int fullFrameRate() const { return m_ntsc ? 30 : 25; }
    int64_t bitRateBudget() const { return m_caps.bitRateBudget(); }
    const ResolutionTable &resolutions() const { return m_resolutions; }
    const EncodeTable &table() const { return m_table; }
    const EncodeCaps &caps() const { return m_caps; }

    // A channel index 0..count-1, or allChannel() for "All" (which starts
    // from a copy of the first channel). Other values are ignored.
    void selectChannel(int channel);
    int channel() const { return m_showingAll ? allChannel() : m_channel; }
    bool showingAll() const { return m_showingAll; }
    const ChannelEncode &shownRecord() const;
    bool audioEnabled() const;

    std::vector<int> encodeTypes(StreamKind kind) const;

    // Pixel rate of a stream: resolution pixels x frame rate, 0 with video off.
    int64_t usage(const StreamParams &stream) const;
    int64_t channelBudget(int channel) const;
    int64_t sharedBudget(StreamKind kind) const;
    int64_t mainBitRateCap(int channel) const;

    // Refits the stream to the budget where needed and says what to show.
    StreamView show(StreamKind kind);

    void chooseResolution(StreamKind kind, int resolution, int sliderFrameRate, int sliderQuality);
    void chooseEncodeType(StreamKind kind, int type, int resolution, int sliderFrameRate,
                          int sliderQuality);
    void releaseFrameRate(StreamKind kind, int frameRate);
    void setBitControl(StreamKind kind, int bitControl);
    // Returns the bit rate that the quality grade gives.
    int setQuality(StreamKind kind, int quality);
    void setBitRate(StreamKind kind, int bitRate);
    void setIFrameInterval(StreamKind kind, int interval);
    void setAudio(StreamKind kind, bool audioChecked, bool videoChecked);
    void setSubVideo(bool on);
    void store(StreamKind kind, const StreamEdit &edit);

    // With "All" shown, the scratch record goes to every channel.
    void prepareSave();

private:
    StreamParams &stream(StreamKind kind);
    const StreamParams &stream(StreamKind kind) const;
    const StreamParams &otherStream(StreamKind kind) const;
    uint32_t channelMask(StreamKind kind, int channel) const;
    uint32_t shownMask(StreamKind kind) const;
    int64_t availableForShow(StreamKind kind) const;
    int64_t availableForChange(StreamKind kind) const;
    int frameRateLimit(int64_t available, int64_t pixels) const;
    std::optional<int64_t> bitRateCap(StreamKind kind) const;
    int gradeRate(const StreamParams &stream, int quality, int frameRate) const;

    EncodeCaps m_caps;
    EncodeTable m_table;
    ChannelEncode m_scratch;
    ResolutionTable m_resolutions;
    bool m_ntsc = false;
    int m_channelCount = 0;
    int m_audioChannelCount = 0;
    bool m_offerAllFlag = false;
    int m_channel = 0;
    bool m_showingAll = false;
};

} // namespace scoutrix
