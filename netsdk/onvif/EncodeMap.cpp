// The encode page's records on an ONVIF device: a channel is a video source,
// its first profile with a video encoder the main stream and its second the
// sub stream. Resolutions are numbered by the program's resolution table; a
// device resolution the table lacks takes the index of the nearest free
// entry, under its own size and name, so budgets and pairings by index stay
// meaningful and a set sends exactly a size the device offered.

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ConfigRecords.h"
#include "EncodeTables.h"
#include "MapCommon.h"

namespace scoutrix::netsdk::onvifmap {

namespace {

constexpr int kStreams = 2;
constexpr int kTypeMpeg4 = 0, kTypeMjpeg = 5, kTypeH264 = 7, kTypeH265 = 8;
// Kbit/s a channel's main stream may use when the device names no limit.
constexpr int64_t kUnnamedBitRateLimit = 16384;

bool sameSize(const onvif::Resolution &a, const onvif::Resolution &b)
{
    return a.width == b.width && a.height == b.height;
}

int64_t pixelsOf(const onvif::Resolution &r)
{
    return int64_t(r.width) * r.height;
}

int32_t encodeTypeOf(const std::string &encoding)
{
    if (encoding == "H265")
        return kTypeH265;
    if (encoding == "JPEG")
        return kTypeMjpeg;
    if (encoding == "MPEG4")
        return kTypeMpeg4;
    return kTypeH264;
}

// One stream of one channel with the options of its configuration.
struct Stream
{
    const onvif::Profile *profile = nullptr;
    const onvif::VideoEncoderOptions *options = nullptr;
    bool exists() const { return profile != nullptr; }
    const onvif::VideoEncoderConfiguration &config() const { return *profile->videoEncoder; }
};

const std::vector<onvif::Resolution> &resolutionsFor(
    const onvif::VideoEncoderOptions &o, const std::string &encoding)
{
    return encoding == "JPEG" ? o.jpegResolutions : o.h264Resolutions;
}

const onvif::Range &frameRatesFor(const onvif::VideoEncoderOptions &o, const std::string &encoding)
{
    return encoding == "JPEG" ? o.jpegFrameRate : o.h264FrameRate;
}

// Everything the encode records are built from, read fresh.
struct EncodeView
{
    std::vector<Channel> channels;
    std::vector<std::array<Stream, kStreams>> streams; // by channel
    ResolutionList list;
    bool ntsc = false;

    int indexOf(const onvif::Resolution &r) const
    {
        int nearest = 0;
        int64_t distance = INT64_MAX;
        for (int i = 0; i < ResolutionList::Entries; ++i) {
            const ResolutionEntry &e = list.entry[i];
            if (e.widthValue() == r.width && e.heightValue() == r.height)
                return i;
            const int64_t d = std::llabs(int64_t(e.widthValue()) * e.heightValue() - pixelsOf(r));
            if (e.widthValue() > 0 && d < distance) {
                distance = d;
                nearest = i;
            }
        }
        return nearest;
    }
    uint32_t maskOf(const Stream &s) const
    {
        uint32_t mask = 0;
        if (!s.exists())
            return 0;
        for (const auto *all : { &s.options->h264Resolutions, &s.options->jpegResolutions }) {
            for (const onvif::Resolution &r : *all)
                mask |= 1u << indexOf(r);
        }
        return mask | 1u << indexOf(s.config().resolution);
    }
};

// "D1(704x576)" gives 704 by 576; "H5M(1280*1944)" the same way.
bool sizeInName(const std::string &name, onvif::Resolution &out)
{
    const std::size_t open = name.find('(');
    return open != std::string::npos
        && (std::sscanf(name.c_str() + open, "(%dx%d)", &out.width, &out.height) == 2
            || std::sscanf(name.c_str() + open, "(%d*%d)", &out.width, &out.height) == 2);
}

ResolutionList listFor(bool ntsc, std::vector<onvif::Resolution> device)
{
    const ResolutionTable table = ResolutionTable::fixed(ntsc, int32_t(DeviceType::IPC));
    ResolutionList list;
    zero(list);
    bool taken[ResolutionList::Entries] = {};
    onvif::Resolution base[ResolutionList::Entries] = {};
    for (int i = 0; i < ResolutionList::Entries; ++i) {
        if (ResolutionTable::valid(i) && sizeInName(table.at(i).name, base[i]))
            list.entry[i].set(base[i].width, base[i].height, table.at(i).name);
    }
    // Largest first, so the device's main sizes keep the table's names
    // wherever they can.
    std::sort(
        device.begin(), device.end(), [](const onvif::Resolution &a, const onvif::Resolution &b) {
            return pixelsOf(a) != pixelsOf(b) ? pixelsOf(a) > pixelsOf(b) : a.width > b.width;
        });
    device.erase(std::unique(device.begin(), device.end(), sameSize), device.end());
    std::vector<onvif::Resolution> unmatched;
    for (const onvif::Resolution &r : device) {
        int exact = -1;
        for (int i = 0; i < ResolutionList::Entries && exact < 0; ++i) {
            if (!taken[i] && sameSize(base[i], r))
                exact = i;
        }
        if (exact >= 0)
            taken[exact] = true;
        else
            unmatched.push_back(r);
    }
    for (const onvif::Resolution &r : unmatched) {
        int best = -1;
        int64_t distance = INT64_MAX;
        for (int i = 0; i < ResolutionList::Entries; ++i) {
            if (taken[i])
                continue;
            // Entries past the table are free too, but only as a last resort.
            const int64_t d
                = base[i].width > 0 ? std::llabs(pixelsOf(base[i]) - pixelsOf(r)) : INT64_MAX - 1;
            if (d < distance) {
                distance = d;
                best = i;
            }
        }
        if (best < 0)
            break; // more sizes than entries: the smallest ones are not offered
        taken[best] = true;
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", r.width, r.height);
        list.entry[best].set(r.width, r.height, name);
    }
    return list;
}

int32_t readView(onvif::DeviceApi &device, DeviceContext &context, EncodeView &view)
{
    if (const int32_t r = refreshProfiles(device, context); r < 0)
        return r;
    view.channels = channelsOf(context.profiles);
    if (view.channels.empty())
        return NETSDK_ERR_NOT_SUPPORTED;
    std::vector<onvif::Resolution> sizes;
    view.streams.assign(view.channels.size(), {});
    for (std::size_t ch = 0; ch < view.channels.size(); ++ch) {
        const Channel &channel = view.channels[ch];
        for (std::size_t s = 0; s < kStreams && s < channel.streams.size(); ++s) {
            const onvif::Profile &profile = channel.streams[s];
            const std::string &token = profile.videoEncoder->token;
            auto cached = context.encoderOptions.find(token);
            if (cached == context.encoderOptions.end()) {
                auto options = device.getVideoEncoderConfigurationOptions(token, profile.token);
                if (!options)
                    return resultFor(options.failure());
                cached = context.encoderOptions.emplace(token, std::move(options.value())).first;
            }
            const onvif::VideoEncoderOptions &o = cached->second;
            view.streams[ch][s] = Stream { &profile, &o };
            sizes.insert(sizes.end(), o.h264Resolutions.begin(), o.h264Resolutions.end());
            sizes.insert(sizes.end(), o.jpegResolutions.begin(), o.jpegResolutions.end());
            sizes.push_back(profile.videoEncoder->resolution);
            // A device that offers 30 frames a second is shown the NTSC
            // standard, whose full rate the page's frame-rate list runs to.
            view.ntsc = view.ntsc || std::max(o.h264FrameRate.max, o.jpegFrameRate.max) >= 30;
        }
    }
    view.list = listFor(view.ntsc, sizes);
    return NETSDK_OK;
}

int32_t qualityGrade(double quality, const onvif::Range &range)
{
    if (range.max <= range.min)
        return 4;
    const double share = (quality - range.min) / (range.max - range.min);
    return std::clamp(1 + int32_t(std::lround(share * (QualityGrades - 1))), 1, QualityGrades);
}

double qualityOfGrade(int32_t grade, const onvif::Range &range)
{
    return range.min + (range.max - range.min) * (grade - 1) / (QualityGrades - 1);
}

StreamParams paramsOf(const EncodeView &view, const Stream &s)
{
    StreamParams p;
    zero(p);
    if (!s.exists())
        return p;
    const onvif::VideoEncoderConfiguration &c = s.config();
    p.setEncodeType(encodeTypeOf(c.encoding));
    p.setResolution(view.indexOf(c.resolution));
    p.setBitControl(0);
    p.setQuality(qualityGrade(c.quality, s.options->quality));
    p.setFrameRate(c.frameRateLimit);
    p.setBitRate(c.bitrateLimit);
    p.setIFrameInterval(c.govLength);
    p.setVideoOn(true);
    p.setAudioOn(false);
    return p;
}

EncodeTable tableOf(const EncodeView &view)
{
    EncodeTable table;
    zero(table);
    for (std::size_t ch = 0; ch < view.channels.size() && ch < std::size_t(EncodeTable::Channels);
         ++ch) {
        table.channel[ch].main = paramsOf(view, view.streams[ch][0]);
        table.channel[ch].sub = paramsOf(view, view.streams[ch][1]);
    }
    return table;
}

uint32_t typeMaskOf(const Stream &s)
{
    if (!s.exists())
        return 0;
    uint32_t mask = 1u << encodeTypeOf(s.config().encoding);
    if (!s.options->h264Resolutions.empty())
        mask |= 1u << kTypeH264;
    if (!s.options->jpegResolutions.empty())
        mask |= 1u << kTypeMjpeg;
    return mask;
}

int64_t largestPixelRate(const EncodeView &view, const Stream &s)
{
    if (!s.exists())
        return 0;
    int64_t pixels = 0;
    const uint32_t mask = view.maskOf(s);
    for (int i = 0; i < ResolutionList::Entries; ++i) {
        if (mask >> i & 1u)
            pixels = std::max(pixels,
                int64_t(view.list.entry[i].widthValue()) * view.list.entry[i].heightValue());
    }
    const double fps = std::max({ s.options->h264FrameRate.max, s.options->jpegFrameRate.max,
        double(s.config().frameRateLimit) });
    return pixels * int64_t(std::ceil(fps));
}

EncodeCaps capsOf(const EncodeView &view)
{
    EncodeCaps caps;
    zero(caps);
    // Each stream's choice is bounded by its own options, never by the
    // others: the budgets are the sum of every stream's largest use.
    int64_t pixelRate = 0, bitRate = 0;
    uint32_t mainTypes = 0, subTypes = 0, mainAll = 0, subAll = 0;
    for (std::size_t ch = 0; ch < view.channels.size(); ++ch) {
        const Stream &main = view.streams[ch][0];
        const Stream &sub = view.streams[ch][1];
        pixelRate += largestPixelRate(view, main) + largestPixelRate(view, sub);
        if (main.exists()) {
            bitRate += main.options->h264Bitrate
                ? int64_t(main.options->h264Bitrate->max)
                : std::max<int64_t>(main.config().bitrateLimit, kUnnamedBitRateLimit);
        }
        mainTypes |= typeMaskOf(main);
        subTypes |= typeMaskOf(sub);
        if (int(ch) >= EncodeCaps::MaxChannels)
            continue;
        const uint32_t mainMask = view.maskOf(main), subMask = view.maskOf(sub);
        mainAll |= mainMask;
        subAll |= subMask;
        caps.setMainResolutionMask(int(ch), mainMask);
        caps.setSubResolutionMask(int(ch), subMask);
        for (int r = 0; r < ResolutionCount; ++r) {
            if (mainMask >> r & 1u)
                caps.setSubMaskByMainRes(int(ch), r, subMask);
        }
    }
    caps.setWord(EncodeCaps::PixelRateBudget, int32_t(std::min<int64_t>(pixelRate, INT32_MAX)));
    caps.setWord(EncodeCaps::SharedBudget, 0);
    caps.setEntry(EncodeCaps::MainEntry, mainTypes, mainAll);
    caps.setEntry(EncodeCaps::SubEntry, subTypes, subAll);
    caps.setWord(EncodeCaps::BitRateBudget, int32_t(std::min<int64_t>(bitRate, INT32_MAX)));
    return caps;
}

bool inRange(const onvif::Range &range, double value)
{
    return range.max <= 0 || (value >= range.min && value <= range.max);
}

// The configuration |wanted| asks for, from the one read; NETSDK_OK with
// |changed| false when nothing the device holds differs.
int32_t configFor(const EncodeView &view, const Stream &s, const StreamParams &read,
    const StreamParams &wanted, onvif::VideoEncoderConfiguration &out, bool &changed)
{
    changed = false;
    const bool same = read.encodeType() == wanted.encodeType()
        && read.resolution() == wanted.resolution() && read.bitControl() == wanted.bitControl()
        && read.quality() == wanted.quality() && read.frameRate() == wanted.frameRate()
        && read.bitRate() == wanted.bitRate() && read.iFrameInterval() == wanted.iFrameInterval()
        && read.videoOn() == wanted.videoOn() && read.audioOn() == wanted.audioOn();
    if (same)
        return NETSDK_OK;
    if (!s.exists() || read.bitControl() != wanted.bitControl()
        || read.videoOn() != wanted.videoOn() || read.audioOn() != wanted.audioOn())
        return NETSDK_ERR_NOT_SUPPORTED;

    out = s.config();
    const onvif::VideoEncoderOptions &o = *s.options;
    if (wanted.encodeType() != read.encodeType()) {
        if (wanted.encodeType() == kTypeH264 && !o.h264Resolutions.empty())
            out.encoding = "H264";
        else if (wanted.encodeType() == kTypeMjpeg && !o.jpegResolutions.empty())
            out.encoding = "JPEG";
        else
            return NETSDK_ERR_FAIL;
    }
    if (wanted.resolution() != read.resolution() || out.encoding != s.config().encoding) {
        const int index = wanted.resolution();
        if (index < 0 || index >= ResolutionList::Entries)
            return NETSDK_ERR_FAIL;
        const ResolutionEntry &e = view.list.entry[index];
        const onvif::Resolution size { e.widthValue(), e.heightValue() };
        const auto &offered = resolutionsFor(o, out.encoding);
        if (std::none_of(offered.begin(), offered.end(),
                [&size](const onvif::Resolution &r) { return sameSize(r, size); }))
            return NETSDK_ERR_FAIL;
        out.resolution = size;
    }
    if (wanted.quality() != read.quality()) {
        if (wanted.quality() < 1 || wanted.quality() > QualityGrades
            || o.quality.max <= o.quality.min)
            return NETSDK_ERR_FAIL;
        out.quality = qualityOfGrade(wanted.quality(), o.quality);
    }
    if (wanted.frameRate() != read.frameRate() || out.encoding != s.config().encoding) {
        if (wanted.frameRate() <= 0 || !inRange(frameRatesFor(o, out.encoding), wanted.frameRate()))
            return NETSDK_ERR_FAIL;
        out.frameRateLimit = wanted.frameRate();
    }
    if (wanted.bitRate() != read.bitRate()) {
        if (wanted.bitRate() <= 0 || (o.h264Bitrate && !inRange(*o.h264Bitrate, wanted.bitRate())))
            return NETSDK_ERR_FAIL;
        out.bitrateLimit = wanted.bitRate();
    }
    if (wanted.iFrameInterval() != read.iFrameInterval()) {
        if (out.encoding != "H264" && out.encoding != "H265")
            return NETSDK_ERR_NOT_SUPPORTED;
        if (wanted.iFrameInterval() <= 0 || !inRange(o.h264GovLength, wanted.iFrameInterval()))
            return NETSDK_ERR_FAIL;
        out.govLength = wanted.iFrameInterval();
    }
    changed = true;
    return NETSDK_OK;
}

int32_t setTable(onvif::DeviceApi &device, DeviceContext &context, const EncodeTable &wanted)
{
    EncodeView view;
    if (const int32_t r = readView(device, context, view); r < 0)
        return r;
    const EncodeTable read = tableOf(view);
    // Every stream is checked before the first is sent, so a refusal
    // leaves the device as it was.
    std::vector<onvif::VideoEncoderConfiguration> sets;
    for (std::size_t ch = 0; ch < std::size_t(EncodeTable::Channels); ++ch) {
        const StreamParams *readStreams[kStreams]
            = { &read.channel[ch].main, &read.channel[ch].sub };
        const StreamParams *wantedStreams[kStreams]
            = { &wanted.channel[ch].main, &wanted.channel[ch].sub };
        for (int s = 0; s < kStreams; ++s) {
            const Stream stream
                = ch < view.streams.size() ? view.streams[ch][std::size_t(s)] : Stream {};
            onvif::VideoEncoderConfiguration config;
            bool changed = false;
            if (const int32_t r
                = configFor(view, stream, *readStreams[s], *wantedStreams[s], config, changed);
                r < 0)
                return r;
            if (changed)
                sets.push_back(config);
        }
    }
    bool rebootNeeded = false;
    for (const onvif::VideoEncoderConfiguration &config : sets) {
        const auto done = device.setVideoEncoderConfiguration(config);
        if (!done)
            return resultFor(done.failure());
        rebootNeeded = rebootNeeded || done->rebootNeeded;
        for (onvif::Profile &p : context.profiles) {
            if (p.videoEncoder && p.videoEncoder->token == config.token)
                p.videoEncoder = config;
        }
    }
    return doneResult(rebootNeeded);
}

VideoStandard standardOf(const EncodeView &view)
{
    VideoStandard standard;
    zero(standard);
    standard.setNtsc(view.ntsc);
    standard.setLanguage(0);
    return standard;
}

} // namespace

int32_t getEncode(onvif::DeviceApi &device, DeviceContext &context, int32_t command, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned)
{
    EncodeView view;
    if (const int32_t r = readView(device, context, view); r < 0)
        return r;
    switch (command) {
    case CmdEncodeCaps:
        return putRecord(capsOf(view), buffer, bufferSize, bytesReturned);
    case CmdEncodeTable: {
        const auto table = std::make_unique<EncodeTable>(tableOf(view));
        return putRecord(*table, buffer, bufferSize, bytesReturned);
    }
    case CmdResolutionList:
        return putRecord(view.list, buffer, bufferSize, bytesReturned);
    case CmdVideoStandard:
        return putRecord(standardOf(view), buffer, bufferSize, bytesReturned);
    default:
        return NETSDK_ERR_NOT_SUPPORTED;
    }
}

int32_t setEncode(onvif::DeviceApi &device, DeviceContext &context, int32_t command,
    const void *buffer, int32_t size)
{
    if (command == CmdEncodeTable) {
        const auto wanted = std::make_unique<EncodeTable>();
        if (!takeRecord(buffer, size, *wanted))
            return NETSDK_ERR_FAIL;
        return setTable(device, context, *wanted);
    }
    if (command == CmdVideoStandard) {
        VideoStandard wanted;
        if (!takeRecord(buffer, size, wanted))
            return NETSDK_ERR_FAIL;
        EncodeView view;
        if (const int32_t r = readView(device, context, view); r < 0)
            return r;
        // Neither the standard nor a menu language is anything ONVIF sets.
        const VideoStandard read = standardOf(view);
        return wanted.videoFormat() == read.videoFormat() && wanted.language() == read.language()
            ? NETSDK_OK
            : NETSDK_ERR_NOT_SUPPORTED;
    }
    return NETSDK_ERR_NOT_SUPPORTED;
}

} // namespace scoutrix::netsdk::onvifmap
