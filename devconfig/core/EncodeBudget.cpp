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
    forgetShown();
}

bool EncodeBudget::offersAll() const
{
    return m_channelCount >= 1 && (m_channelCount != 1 || m_offerAllFlag);
}

void EncodeBudget::selectChannel(int channel)
{
    forgetShown();
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

uint32_t EncodeBudget::offeredMask(StreamKind kind, int mainResolution) const
{
    const uint32_t mask = shownMask(kind);
    uint32_t candidates = mask != 0 ? mask : m_caps.entryResolutionMask(EncodeCaps::MainEntry);
    if (kind == StreamKind::Sub) {
        const int capsChannel = m_showingAll ? 0 : m_channel;
        if (const uint32_t m = m_caps.subMaskByMainRes(capsChannel, mainResolution))
            candidates &= m;
        // Entries without a fixed allowed-sub mask restrict nothing.
        if (const uint32_t a = m_resolutions.allowedSub(mainResolution))
            candidates &= a;
    }
    return candidates;
}

int64_t EncodeBudget::available(StreamKind kind) const
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

// With nothing left at all, the stream may keep its own rate but not raise it.
int EncodeBudget::allowedFrameRate(StreamKind kind) const
{
    const StreamParams &s = stream(kind);
    const int64_t left = available(kind);
    if (left <= 0)
        return std::clamp(s.frameRate(), 1, fullFrameRate());
    return frameRateLimit(left, m_resolutions.pixels(s.resolution()));
}

std::optional<int64_t> EncodeBudget::bitRateCap(StreamKind kind) const
{
    if (kind != StreamKind::Main)
        return std::nullopt;
    if (m_showingAll)
        return bitRateBudget() / std::max(m_channelCount, 1);
    return mainBitRateCap(m_channel);
}

int EncodeBudget::capped(StreamKind kind, int64_t bitRate) const
{
    if (const auto cap = bitRateCap(kind))
        bitRate = std::min(bitRate, std::max<int64_t>(*cap, 0));
    return int(bitRate);
}

int EncodeBudget::maxQuality(StreamKind kind) const
{
    const auto cap = bitRateCap(kind);
    if (!cap)
        return QualityGrades;
    const StreamParams &s = stream(kind);
    int best = 1;
    for (int q = 1; q <= QualityGrades; ++q) {
        if (gradeRate(s, q, s.frameRate()) <= *cap)
            best = q;
    }
    return best;
}

int EncodeBudget::gradeRate(const StreamParams &s, int quality, int frameRate) const
{
    const int table = gradeBitRate(s.resolution(), gradeOf(quality), usesH265Table(s.encodeType()));
    return scaledBitRate(s.iFrameInterval(), frameRate, fullFrameRate(), table);
}

StreamView EncodeBudget::show(StreamKind kind)
{
    StreamParams &s = stream(kind);
    const uint32_t candidates = offeredMask(kind, shownRecord().main.resolution());

    const int64_t left = available(kind);
    if (m_showingAll && kind == StreamKind::Sub && left == 0)
        s.setVideoOn(false);

    StreamView v;
    for (int r = 0; r < ResolutionCount; ++r) {
        if (candidates >> r & 1u)
            v.resolutions.push_back(r);
    }
    v.resolution = s.resolution();
    v.resolutionOffered = !s.videoOn() || !ResolutionTable::valid(s.resolution())
        || (candidates >> s.resolution() & 1u);
    v.maxFrameRate = allowedFrameRate(kind);
    v.frameRate = std::max(1, s.frameRate());
    v.frameRateOver = s.videoOn() && usage(s) > std::max<int64_t>(left, 0);
    v.vbr = s.bitControl() == 1;
    v.quality = s.quality();
    v.iFrameInterval = s.iFrameInterval();
    v.encodeType = s.encodeType();

    v.bitRateCap = bitRateCap(kind);
    v.maxQuality = maxQuality(kind);
    for (int g = 0; g < QualityGrades; ++g) {
        const int value = gradeRate(s, g + 1, s.frameRate());
        if (!v.bitRateCap || value <= *v.bitRateCap)
            v.bitRates.push_back({g, value});
    }
    v.bitRate = v.vbr ? capped(kind, gradeRate(s, s.quality(), s.frameRate())) : s.bitRate();
    v.bitRateOver = s.videoOn() && v.bitRateCap && s.bitRate() > *v.bitRateCap;

    v.videoOn = s.videoOn();
    v.audioOn = s.audioOn() && s.videoOn();
    v.bitRateEnabled = !v.vbr && v.videoOn;
    v.qualityEnabled = v.vbr && v.videoOn;
    v.controlsEnabled = kind == StreamKind::Main || v.videoOn;

    Shown &memo = shown(kind);
    memo.valid = true;
    memo.frameRate = v.frameRate;
    memo.bitRate = v.bitRate;
    return v;
}

void EncodeBudget::chooseResolution(StreamKind kind, int resolution, int sliderFrameRate,
                                    int sliderQuality)
{
    if (!ResolutionTable::valid(resolution))
        return;
    // Only what is offered can be chosen; the device's own resolution, shown
    // though not offered, picked again stays as it is.
    if (!(offeredMask(kind, shownRecord().main.resolution()) >> resolution & 1u))
        return;
    StreamParams &s = stream(kind);
    const int oldResolution = s.resolution();
    s.setResolution(resolution);
    const int maxRate = frameRateLimit(available(kind), m_resolutions.pixels(resolution));
    const int frameRate = std::clamp(sliderFrameRate, 1, maxRate);
    s.setFrameRate(frameRate);
    s.setBitRate(capped(kind, gradeRate(s, sliderQuality, frameRate)));
    if (kind == StreamKind::Main && resolution != oldResolution)
        fitSubToMain();

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

// A new main resolution can take the sub stream's own out of what may go with
// it; the sub stream then moves to the nearest one that may, no larger.
void EncodeBudget::fitSubToMain()
{
    StreamParams &sub = stream(StreamKind::Sub);
    const uint32_t offered = offeredMask(StreamKind::Sub, shownRecord().main.resolution());
    if (!sub.videoOn() || offered == 0 || (ResolutionTable::valid(sub.resolution())
                                           && (offered >> sub.resolution() & 1u)))
        return;
    const int64_t own = m_resolutions.pixels(sub.resolution());
    int best = -1, smallest = -1;
    for (int r = 0; r < ResolutionCount; ++r) {
        if (!(offered >> r & 1u))
            continue;
        const int64_t p = m_resolutions.pixels(r);
        if (smallest < 0 || p < m_resolutions.pixels(smallest))
            smallest = r;
        if (p <= own && (best < 0 || p > m_resolutions.pixels(best)))
            best = r;
    }
    const int chosen = best >= 0 ? best : smallest;
    sub.setResolution(chosen);
    const int frameRate = std::clamp(sub.frameRate(), 1,
                                     frameRateLimit(available(StreamKind::Sub), m_resolutions.pixels(chosen)));
    sub.setFrameRate(frameRate);
    sub.setBitRate(capped(StreamKind::Sub, gradeRate(sub, sub.quality(), frameRate)));
}

void EncodeBudget::chooseEncodeType(StreamKind kind, int type, int resolution, int sliderFrameRate,
                                    int sliderQuality)
{
    StreamParams &s = stream(kind);
    s.setEncodeType(type);
    if (offeredMask(kind, shownRecord().main.resolution()) >> resolution & 1u) {
        chooseResolution(kind, resolution, sliderFrameRate, sliderQuality);
        return;
    }
    // A resolution kept as read stays; the bit rate follows the new type's table.
    s.setBitRate(capped(kind, gradeRate(s, sliderQuality, s.frameRate())));
}

void EncodeBudget::releaseFrameRate(StreamKind kind, int frameRate)
{
    StreamParams &s = stream(kind);
    // Left where it was: the device's own rate stays, whatever the budget.
    if (frameRate == s.frameRate())
        return;
    frameRate = std::clamp(frameRate, 1, std::max(allowedFrameRate(kind), 1));
    const int64_t oldRate = s.frameRate();
    const int64_t interval = s.iFrameInterval();
    const int64_t full = fullFrameRate();
    s.setFrameRate(frameRate);
    if (s.bitControl() == 1) {
        s.setBitRate(capped(kind, gradeRate(s, s.quality(), frameRate)));
        return;
    }
    // CBR keeps its bit rate per frame: scale back to the full rate, then
    // down to the new one.
    const int64_t oldDenominator = interval * oldRate + 10;
    const int64_t fullDenominator = interval * full + 10;
    if (oldDenominator == 0 || fullDenominator == 0)
        return;
    const int64_t atFullRate = fullDenominator * s.bitRate() / oldDenominator;
    s.setBitRate(capped(kind, (interval * frameRate + 10) * atFullRate / fullDenominator));
}

void EncodeBudget::setBitControl(StreamKind kind, int bitControl)
{
    StreamParams &s = stream(kind);
    s.setBitControl(bitControl);
    s.setBitRate(capped(kind, gradeRate(s, s.quality(), s.frameRate())));
}

int EncodeBudget::setQuality(StreamKind kind, int quality)
{
    StreamParams &s = stream(kind);
    // A grade whose bit rate is above the cap is not offered in the list
    // either.
    quality = std::clamp(quality, 1, maxQuality(kind));
    s.setQuality(quality);
    const int rate = capped(kind, gradeRate(s, quality, s.frameRate()));
    s.setBitRate(rate);
    return rate;
}

void EncodeBudget::setBitRate(StreamKind kind, int bitRate)
{
    StreamParams &s = stream(kind);
    if (bitRate != s.bitRate())
        s.setBitRate(capped(kind, bitRate));
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
    const Shown memo = shown(kind);
    if (edit.encodeType >= 0)
        s.setEncodeType(edit.encodeType);
    if (edit.resolution >= 0)
        s.setResolution(edit.resolution);
    if (edit.bitControl != shownBitControl(s.bitControl()))
        s.setBitControl(edit.bitControl);
    // What the widgets still show as it was shown is left as read; a value
    // the user changed must fit.
    if (!memo.valid)
        s.setFrameRate(edit.frameRate);
    else if (edit.frameRate != memo.frameRate)
        s.setFrameRate(std::clamp(edit.frameRate, 1, std::max(allowedFrameRate(kind), 1)));
    if (edit.quality != shownQuality(s.quality()))
        s.setQuality(std::min(edit.quality, maxQuality(kind)));
    if (edit.bitRate >= 0 && (!memo.valid || edit.bitRate != memo.bitRate))
        s.setBitRate(capped(kind, edit.bitRate));
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
