#include "EncodeBudget.h"

#include <algorithm>
#include <cstring>

namespace scoutrix {

namespace {

int gradeOf(int quality)
{
    return std::clamp(quality, 1, QualityGrades) - 1;
}

// The widgets can show only 1..6 and CBR/VBR; a value they cannot represent
// stays as the device sent it unless the user changed the widget.
int shownQuality(int quality) { return std::clamp(quality, 1, QualityGrades); }
int shownBitControl(int bitControl) { return bitControl == 1 ? 1 : 0; }

int largestIn(uint32_t mask, const ResolutionTable &table)
{
    int best = -1;
    for (int r = 0; r < ResolutionCount; ++r) {
        if ((mask >> r & 1u) && (best < 0 || table.pixels(r) > table.pixels(best)))
            best = r;
    }
    return best;
}

} // namespace

EncodeBudget::EncodeBudget()
{
    std::memset(&m_caps, 0, sizeof m_caps);
    std::memset(&m_table, 0, sizeof m_table);
    std::memset(&m_scratch, 0, sizeof m_scratch);
}

void EncodeBudget::load(const Device &device)
{
    m_caps = device.caps;
    m_table = device.table;
    m_ntsc = device.ntsc;
    m_resolutions = device.resolutions;
    // The table holds 64 channels; a larger count from the device would read
    // past it.
    m_channelCount = std::clamp(device.channelCount, 0, MaxChannels);
    m_audioChannelCount = device.audioChannelCount;
    m_offerAllFlag = device.offerAllFlag;
    m_channel = 0;
    m_showingAll = false;
    m_scratch = m_table.channel[0];
}

bool EncodeBudget::offersAll() const
{
    return m_channelCount >= 1 && (m_channelCount != 1 || m_offerAllFlag);
}

void EncodeBudget::selectChannel(int channel)
{
    if (channel == allChannel() && offersAll()) {
        m_scratch = m_table.channel[0];
        m_showingAll = true;
    } else if (channel >= 0 && channel < m_channelCount) {
        m_channel = channel;
        m_showingAll = false;
    }
}

const ChannelEncode &EncodeBudget::shownRecord() const
{
    return m_showingAll ? m_scratch : m_table.channel[m_channel];
}

bool EncodeBudget::audioEnabled() const
{
    return m_audioChannelCount == m_channelCount || channel() < m_audioChannelCount;
}

std::vector<int> EncodeBudget::encodeTypes(StreamKind kind) const
{
    const uint32_t mask = m_caps.typeMask(kind == StreamKind::Main ? EncodeCaps::MainEntry
                                                                   : EncodeCaps::SubEntry);
    std::vector<int> types;
    for (int t = 0; t < EncodeTypeCount; ++t) {
        if (mask >> t & 1u)
            types.push_back(t);
    }
    return types;
}

StreamParams &EncodeBudget::stream(StreamKind kind)
{
    ChannelEncode &record = m_showingAll ? m_scratch : m_table.channel[m_channel];
    return kind == StreamKind::Main ? record.main : record.sub;
}

const StreamParams &EncodeBudget::stream(StreamKind kind) const
{
    const ChannelEncode &record = shownRecord();
    return kind == StreamKind::Main ? record.main : record.sub;
}

const StreamParams &EncodeBudget::otherStream(StreamKind kind) const
{
    return stream(kind == StreamKind::Main ? StreamKind::Sub : StreamKind::Main);
}

int64_t EncodeBudget::usage(const StreamParams &s) const
{
    return s.videoOn() ? m_resolutions.pixels(s.resolution()) * s.frameRate() : 0;
}

int64_t EncodeBudget::channelBudget(int channel) const
{
    int64_t budget = m_caps.pixelRateBudget();
    for (int k = 0; k < m_channelCount; ++k) {
        if (k != channel)
            budget -= usage(m_table.channel[k].main) + usage(m_table.channel[k].sub);
    }
    return budget;
}

int64_t EncodeBudget::sharedBudget(StreamKind kind) const
{
    int64_t budget = m_caps.pixelRateBudget();
    for (int k = 0; k < m_channelCount; ++k) {
        const ChannelEncode &c = m_table.channel[k];
        budget -= usage(kind == StreamKind::Main ? c.sub : c.main);
    }
    return m_channelCount > 0 ? budget / m_channelCount : budget;
}

int64_t EncodeBudget::mainBitRateCap(int channel) const
{
    int64_t cap = bitRateBudget();
    for (int k = 0; k < m_channelCount; ++k) {
        const StreamParams &m = m_table.channel[k].main;
        if (k != channel && m.videoOn())
            cap -= m.bitRate();
    }
    return cap;
}

uint32_t EncodeBudget::channelMask(StreamKind kind, int channel) const
{
    return kind == StreamKind::Main ? m_caps.mainResolutionMask(channel)
                                    : m_caps.subResolutionMask(channel);
}

uint32_t EncodeBudget::shownMask(StreamKind kind) const
{
    if (!m_showingAll)
        return channelMask(kind, m_channel);
    // "All" offers what every channel can take.
    uint32_t common = ~0u;
    bool any = false;
    for (int k = 0; k < m_channelCount; ++k) {
        if (const uint32_t m = channelMask(kind, k)) {
            common &= m;
            any = true;
        }
    }
    return any ? common : 0;
}

int64_t EncodeBudget::availableForShow(StreamKind kind) const
{
    int64_t available;
    if (m_showingAll) {
        available = m_caps.pixelRateBudget() / std::max(m_channelCount, 1);
        if (kind == StreamKind::Main) {
            int64_t limit = 0;
            for (int k = 0; k < m_channelCount; ++k) {
                const int64_t l = m_caps.mainPixelLimit(k);
                if (l != 0 && (limit == 0 || l < limit))
                    limit = l;
            }
            if (limit != 0)
                available = std::min(available, limit);
        }
        return available - usage(otherStream(kind));
    }
    available = channelBudget(m_channel);
    if (kind == StreamKind::Main && m_caps.mainPixelLimit(m_channel) != 0)
        available = std::min<int64_t>(available, m_caps.mainPixelLimit(m_channel));
    available -= usage(otherStream(kind));
    if (m_caps.sharedBudget())
        available = std::min(available, sharedBudget(kind));
    return available;
}

int64_t EncodeBudget::availableForChange(StreamKind kind) const
{
    if (m_showingAll)
        return m_caps.pixelRateBudget() / std::max(m_channelCount, 1) - usage(otherStream(kind));
    if (m_caps.sharedBudget())
        return sharedBudget(kind);
    return channelBudget(m_channel) - usage(otherStream(kind));
}

// Less than one frame's worth of pixel rate still leaves the lowest rate the
// slider has, 1 fps: a stream is never given 0 or a negative rate.
int EncodeBudget::frameRateLimit(int64_t available, int64_t pixels) const
{
    if (pixels <= 0)
        return fullFrameRate();
    if (available < pixels)
        return 1;
    return int(std::min<int64_t>(available / pixels, fullFrameRate()));
}

std::optional<int64_t> EncodeBudget::bitRateCap(StreamKind kind) const
{
    if (kind != StreamKind::Main)
        return std::nullopt;
    if (m_showingAll)
        return bitRateBudget() / std::max(m_channelCount, 1);
    return mainBitRateCap(m_channel);
}

int EncodeBudget::gradeRate(const StreamParams &s, int quality, int frameRate) const
{
    const int table = gradeBitRate(s.resolution(), gradeOf(quality), usesH265Table(s.encodeType()));
    return scaledBitRate(s.iFrameInterval(), frameRate, fullFrameRate(), table);
}

StreamView EncodeBudget::show(StreamKind kind)
{
    StreamParams &s = stream(kind);
    const uint32_t mask = shownMask(kind);
    if (mask != 0) {
        const int largest = largestIn(mask, m_resolutions);
        if (m_resolutions.pixels(s.resolution()) > m_resolutions.pixels(largest))
            s.setResolution(largest);
    }

    uint32_t candidates = mask != 0 ? mask : m_caps.entryResolutionMask(EncodeCaps::MainEntry);
    if (kind == StreamKind::Sub) {
        const int mainRes = shownRecord().main.resolution();
        const int capsChannel = m_showingAll ? 0 : m_channel;
        if (const uint32_t m = m_caps.subMaskByMainRes(capsChannel, mainRes))
            candidates &= m;
        // Entries without a fixed allowed-sub mask restrict nothing.
        if (const uint32_t a = m_resolutions.allowedSub(mainRes))
            candidates &= a;
    }

    const int64_t available = availableForShow(kind);
    if (m_showingAll && kind == StreamKind::Sub && available == 0)
        s.setVideoOn(false);

    StreamView v;
    for (int r = 0; r < ResolutionCount; ++r) {
        if (candidates >> r & 1u)
            v.resolutions.push_back(r);
    }
    v.resolution = s.resolution();
    v.maxFrameRate = available <= 0 ? std::max(1, s.frameRate())
                                    : frameRateLimit(available, m_resolutions.pixels(s.resolution()));
    v.frameRate = std::clamp(s.frameRate(), 1, v.maxFrameRate);
    v.vbr = s.bitControl() == 1;
    v.quality = s.quality();
    v.iFrameInterval = s.iFrameInterval();
    v.encodeType = s.encodeType();

    v.bitRateCap = bitRateCap(kind);
    for (int g = 0; g < QualityGrades; ++g) {
        const int value = gradeRate(s, g + 1, s.frameRate());
        if (!v.bitRateCap || value <= *v.bitRateCap)
            v.bitRates.push_back({g, value});
    }
    int64_t selected = v.vbr ? gradeRate(s, s.quality(), s.frameRate()) : s.bitRate();
    if (v.bitRateCap)
        selected = std::min(selected, *v.bitRateCap);
    v.bitRate = int(selected);

    v.videoOn = s.videoOn();
    v.audioOn = s.audioOn() && s.videoOn();
    v.bitRateEnabled = !v.vbr && v.videoOn;
    v.qualityEnabled = v.vbr && v.videoOn;
    v.controlsEnabled = kind == StreamKind::Main || v.videoOn;
    return v;
}

void EncodeBudget::chooseResolution(StreamKind kind, int resolution, int sliderFrameRate,
                                    int sliderQuality)
{
    if (!ResolutionTable::valid(resolution))
        return;
    const int maxRate = frameRateLimit(availableForChange(kind), m_resolutions.pixels(resolution));
    const int frameRate = std::clamp(sliderFrameRate, 1, maxRate);
    StreamParams &s = stream(kind);
    s.setResolution(resolution);
    s.setFrameRate(frameRate);
    s.setBitRate(gradeRate(s, sliderQuality, frameRate));

    // One budget for all channels: what one channel gets, every channel gets.
    if (m_caps.sharedBudget()) {
        for (int k = 0; k < m_channelCount; ++k) {
            if (!m_showingAll && k == m_channel)
                continue;
            StreamParams &o = kind == StreamKind::Main ? m_table.channel[k].main : m_table.channel[k].sub;
            o.setResolution(resolution);
            o.setFrameRate(frameRate);
        }
    }
}

void EncodeBudget::chooseEncodeType(StreamKind kind, int type, int resolution, int sliderFrameRate,
                                    int sliderQuality)
{
    stream(kind).setEncodeType(type);
    chooseResolution(kind, resolution, sliderFrameRate, sliderQuality);
}

void EncodeBudget::releaseFrameRate(StreamKind kind, int frameRate)
{
    StreamParams &s = stream(kind);
    const int64_t oldRate = s.frameRate();
    const int64_t interval = s.iFrameInterval();
    const int64_t full = fullFrameRate();
    s.setFrameRate(frameRate);
    if (s.bitControl() == 1) {
        s.setBitRate(gradeRate(s, s.quality(), frameRate));
        return;
    }
    // CBR keeps its bit rate per frame: scale back to the full rate, then
    // down to the new one.
    const int64_t oldDenominator = interval * oldRate + 10;
    const int64_t fullDenominator = interval * full + 10;
    if (oldDenominator == 0 || fullDenominator == 0)
        return;
    const int64_t atFullRate = fullDenominator * s.bitRate() / oldDenominator;
    s.setBitRate(int32_t((interval * frameRate + 10) * atFullRate / fullDenominator));
}

void EncodeBudget::setBitControl(StreamKind kind, int bitControl)
{
    StreamParams &s = stream(kind);
    s.setBitControl(bitControl);
    s.setBitRate(gradeRate(s, s.quality(), s.frameRate()));
}

int EncodeBudget::setQuality(StreamKind kind, int quality)
{
    StreamParams &s = stream(kind);
    s.setQuality(quality);
    const int rate = gradeRate(s, quality, s.frameRate());
    s.setBitRate(rate);
    return rate;
}

void EncodeBudget::setBitRate(StreamKind kind, int bitRate)
{
    stream(kind).setBitRate(bitRate);
}

void EncodeBudget::setIFrameInterval(StreamKind kind, int interval)
{
    stream(kind).setIFrameInterval(interval);
}

void EncodeBudget::setAudio(StreamKind kind, bool audioChecked, bool videoChecked)
{
    StreamParams &s = stream(kind);
    const bool on = audioChecked && videoChecked;
    if (s.audioOn() != on)
        s.setAudioOn(on);
}

void EncodeBudget::setSubVideo(bool on)
{
    StreamParams &s = stream(StreamKind::Sub);
    if (s.videoOn() != on)
        s.setVideoOn(on);
}

void EncodeBudget::store(StreamKind kind, const StreamEdit &edit)
{
    StreamParams &s = stream(kind);
    if (edit.encodeType >= 0)
        s.setEncodeType(edit.encodeType);
    if (edit.resolution >= 0)
        s.setResolution(edit.resolution);
    if (edit.bitControl != shownBitControl(s.bitControl()))
        s.setBitControl(edit.bitControl);
    s.setFrameRate(edit.frameRate);
    if (edit.quality != shownQuality(s.quality()))
        s.setQuality(edit.quality);
    if (edit.bitRate >= 0)
        s.setBitRate(edit.bitRate);
    s.setIFrameInterval(edit.iFrameInterval);
    if (s.videoOn() != edit.videoOn)
        s.setVideoOn(edit.videoOn);
    if (s.audioOn() != edit.audioOn)
        s.setAudioOn(edit.audioOn);
}

void EncodeBudget::prepareSave()
{
    if (!m_showingAll)
        return;
    for (int k = 0; k < m_channelCount; ++k)
        m_table.channel[k] = m_scratch;
}

} // namespace scoutrix
