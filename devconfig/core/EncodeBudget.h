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
    int resolution = 0;            // the stream's own, as read
    bool resolutionOffered = true; // false: the stream's own is not among the offered
    int maxFrameRate = 1;          // what the budget allows
    int frameRate = 1;             // the stream's own, as read (at least 1)
    bool vbr = false;
    int quality = 1;
    int maxQuality = QualityGrades; // highest grade within the bit-rate cap
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

    // The device's own values beyond what the page allows. They are shown
    // and kept as read; only a change by the user has to fit.
    bool frameRateOver = false;    // uses more pixel rate than is left for it
    bool bitRateOver = false;      // the stored bit rate is above the cap
    bool overLimits() const { return !resolutionOffered || frameRateOver || bitRateOver; }
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

    // Says what to show. The stream's own values are shown as read, even
    // where they exceed the budget; the view says so.
    StreamView show(StreamKind kind);

    void chooseResolution(StreamKind kind, int resolution, int sliderFrameRate, int sliderQuality);
    void chooseEncodeType(StreamKind kind, int type, int resolution, int sliderFrameRate,
                          int sliderQuality);
    // Every choice below fits the budgets: a frame rate or bit rate above
    // them is lowered to what they allow.
    void releaseFrameRate(StreamKind kind, int frameRate);
    void setBitControl(StreamKind kind, int bitControl);
    // Returns the bit rate that the quality grade gives, within the cap.
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
    // The resolutions the shown stream may take, the main one as given.
    uint32_t offeredMask(StreamKind kind, int mainResolution) const;
    int64_t available(StreamKind kind) const;
    int frameRateLimit(int64_t available, int64_t pixels) const;
    int allowedFrameRate(StreamKind kind) const;
    std::optional<int64_t> bitRateCap(StreamKind kind) const;
    int capped(StreamKind kind, int64_t bitRate) const;
    int maxQuality(StreamKind kind) const;
    int gradeRate(const StreamParams &stream, int quality, int frameRate) const;
    void fitSubToMain();

    // What show() last put in the widgets of each stream, so that storing
    // them back tells a change from a value left as read.
    struct Shown
    {
        bool valid = false;
        int frameRate = 0;
        int bitRate = 0;
    };
    Shown &shown(StreamKind kind) { return m_shown[kind == StreamKind::Main ? 0 : 1]; }
    void forgetShown() { m_shown[0] = m_shown[1] = Shown(); }

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
    Shown m_shown[2];
};

} // namespace scoutrix
