// The camera page's records on an ONVIF device's imaging settings. Only a
// few fields have a counterpart; the others read as fixed values, and a set
// that changes one of them is refused whole, before anything is sent, so
// the page never sees a success for a setting the camera did not take.

#include <algorithm>
#include <cmath>

#include "ConfigRecords.h"
#include "MapCommon.h"

namespace scoutrix::netsdk::onvifmap {

namespace {

// Fixed values of fields ONVIF has no word for.
constexpr uint8_t kDncSensitivity = 25;
constexpr uint8_t kExposureSensitivity = 5;
constexpr int16_t kAe = 128;

// The fixed shutters of exposure modes 1..8, in microseconds.
constexpr double kShutterMicroseconds[8]
    = { 20000, 1000000.0 / 120, 4000, 2000, 1000, 500, 250, 125 };

bool offers(const std::vector<std::string> &modes, const std::string &mode)
{
    return std::find(modes.begin(), modes.end(), mode) != modes.end();
}

bool within(const std::optional<onvif::Range> &range, double value)
{
    return !range || range->max < range->min || (value >= range->min && value <= range->max);
}

int32_t shutterModeOf(double microseconds)
{
    int32_t best = 0;
    for (int32_t i = 1; i < 8; ++i) {
        if (std::fabs(std::log(kShutterMicroseconds[i] / microseconds))
            < std::fabs(std::log(kShutterMicroseconds[best] / microseconds)))
            best = i;
    }
    return best + 1;
}

uint8_t dayNightOf(const std::optional<std::string> &irCut)
{
    if (irCut == std::string("ON"))
        return 1;
    if (irCut == std::string("OFF"))
        return 2;
    return 0;
}

const char *irCutOf(uint8_t dayNight)
{
    return dayNight == 1 ? "ON" : dayNight == 2 ? "OFF" : "AUTO";
}

struct Imaging
{
    onvif::ImagingSettings settings;
    onvif::ImagingOptions options;
};

// The channel's imaging settings and options, or a result code.
int32_t readImaging(onvif::DeviceApi &device, DeviceContext &context, int32_t channel, Imaging &out)
{
    if (context.profiles.empty()) {
        if (const int32_t r = refreshProfiles(device, context); r < 0)
            return r;
    }
    const std::vector<Channel> channels = channelsOf(context.profiles);
    // The camera page asks for channel 0; a recorder's other channels by number.
    if (channel < 0 || std::size_t(channel) >= channels.size())
        return channels.empty() ? NETSDK_ERR_NOT_SUPPORTED : NETSDK_ERR_FAIL;
    const std::string &source = channels[std::size_t(channel)].sourceToken;
    const auto settings = device.getImagingSettings(source);
    if (!settings)
        return resultFor(settings.failure());
    const auto options = device.getImagingOptions(source);
    if (!options)
        return resultFor(options.failure());
    out.settings = settings.value();
    out.options = options.value();
    return NETSDK_OK;
}

ImageRecord imageRecordOf(const onvif::ImagingSettings &s)
{
    ImageRecord r;
    zero(r);
    r.bytes[ImageRecord::DayNight] = dayNightOf(s.irCutFilter);
    r.bytes[ImageRecord::DncSensitivity] = kDncSensitivity;
    r.bytes[ImageRecord::Wdr] = s.wideDynamicRangeMode == std::string("ON") ? 1 : 0;
    return r;
}

ExposureRecord exposureRecordOf(const onvif::ImagingSettings &s)
{
    ExposureRecord r;
    zero(r);
    const bool manual = s.exposureMode == std::string("MANUAL") && s.exposureTime;
    for (int b = 0; b < ExposureRecord::Blocks; ++b) {
        uint8_t *block = r.block(b);
        writeLe32(
            block + ExposureRecord::Mode, uint32_t(manual ? shutterModeOf(*s.exposureTime) : 0));
        writeLe32(block + ExposureRecord::LimitFirst,
            uint32_t(std::lround(s.maxExposureTime.value_or(0))));
        writeLe32(block + ExposureRecord::LimitSecond,
            uint32_t(std::lround(s.minExposureTime.value_or(0))));
        block[ExposureRecord::Sensitivity] = kExposureSensitivity;
        block[ExposureRecord::BackLight] = s.backlightCompensationMode == std::string("ON") ? 1 : 0;
        writeLe16(block + ExposureRecord::Ae, uint16_t(kAe));
    }
    return r;
}

int32_t setImageRecord(onvif::DeviceApi &device, const std::string &source, const Imaging &now,
    const ImageRecord &wanted)
{
    const ImageRecord read = imageRecordOf(now.settings);
    const uint8_t *w = wanted.bytes;
    // Bytes 8 onwards are the device's own on the project's cameras; an
    // ONVIF camera has none, so they are not compared.
    for (std::size_t at : { ImageRecord::DncSensitivity, ImageRecord::IrCut, ImageRecord::Mirror,
             ImageRecord::Roll, ImageRecord::IrGlassReverse, ImageRecord::FocusMode }) {
        if (w[at] != read.bytes[at])
            return NETSDK_ERR_NOT_SUPPORTED;
    }
    if (w[ImageRecord::DayNight] > 2 || w[ImageRecord::Wdr] > 1)
        return NETSDK_ERR_FAIL;
    onvif::ImagingSettings change;
    bool any = false;
    if (w[ImageRecord::DayNight] != read.bytes[ImageRecord::DayNight]) {
        const std::string mode = irCutOf(w[ImageRecord::DayNight]);
        if (!now.settings.irCutFilter)
            return NETSDK_ERR_NOT_SUPPORTED;
        if (!offers(now.options.irCutFilterModes, mode))
            return NETSDK_ERR_FAIL;
        change.irCutFilter = mode;
        any = true;
    }
    if (w[ImageRecord::Wdr] != read.bytes[ImageRecord::Wdr]) {
        const std::string mode = w[ImageRecord::Wdr] ? "ON" : "OFF";
        if (!offers(now.options.wideDynamicRangeModes, mode))
            return NETSDK_ERR_NOT_SUPPORTED;
        change.wideDynamicRangeMode = mode;
        any = true;
    }
    if (!any)
        return NETSDK_OK;
    const auto done = device.setImagingSettings(source, change);
    return done ? doneResult(done->rebootNeeded) : resultFor(done.failure());
}

// The page writes the block it shows and the others as read; a changed
// block says what is wanted, and two changed blocks must agree.
int32_t setExposureRecord(onvif::DeviceApi &device, const std::string &source, const Imaging &now,
    const ExposureRecord &wanted)
{
    const ExposureRecord read = exposureRecordOf(now.settings);
    if (wanted.bytes[ExposureRecord::NightBlock] != read.bytes[ExposureRecord::NightBlock])
        return NETSDK_ERR_NOT_SUPPORTED;
    const uint8_t *chosen = nullptr;
    const uint8_t *readBlock = read.block(0);
    for (int b = 0; b < ExposureRecord::Blocks; ++b) {
        const uint8_t *block = wanted.block(b);
        if (std::memcmp(block, readBlock, ExposureRecord::BlockBytes) == 0)
            continue;
        if (chosen && std::memcmp(block, chosen, ExposureRecord::BlockBytes) != 0)
            return NETSDK_ERR_FAIL;
        chosen = block;
    }
    if (!chosen)
        return NETSDK_OK;
    // Only the mode, the automatic mode's limits and back light compensation
    // have a counterpart.
    for (std::size_t at = 0; at < ExposureRecord::BlockBytes; ++at) {
        const bool mapped = at < 12 || at == ExposureRecord::BackLight;
        if (!mapped && chosen[at] != readBlock[at])
            return NETSDK_ERR_NOT_SUPPORTED;
    }
    const int32_t mode = int32_t(readLe32(chosen + ExposureRecord::Mode));
    const int32_t readMode = int32_t(readLe32(readBlock + ExposureRecord::Mode));
    const uint32_t maxTime = readLe32(chosen + ExposureRecord::LimitFirst);
    const uint32_t minTime = readLe32(chosen + ExposureRecord::LimitSecond);
    if (mode < 0 || mode > 8 || chosen[ExposureRecord::BackLight] > 1)
        return NETSDK_ERR_FAIL;

    onvif::ImagingSettings change;
    if (mode != readMode) {
        const std::string wantedMode = mode == 0 ? "AUTO" : "MANUAL";
        if (!offers(now.options.exposureModes, wantedMode))
            return NETSDK_ERR_NOT_SUPPORTED;
        change.exposureMode = wantedMode;
        if (mode > 0) {
            const double time = kShutterMicroseconds[mode - 1];
            if (!within(now.options.exposureTime, time))
                return NETSDK_ERR_FAIL;
            change.exposureTime = time;
        }
    }
    const bool maxChanged = maxTime != readLe32(readBlock + ExposureRecord::LimitFirst);
    const bool minChanged = minTime != readLe32(readBlock + ExposureRecord::LimitSecond);
    if (maxChanged || minChanged) {
        if (!now.settings.maxExposureTime || !now.settings.minExposureTime)
            return NETSDK_ERR_NOT_SUPPORTED;
        // A limit the device already holds is its own business, even
        // outside the manual range it names.
        if (minTime > maxTime || (minChanged && !within(now.options.exposureTime, minTime))
            || (maxChanged && !within(now.options.exposureTime, maxTime)))
            return NETSDK_ERR_FAIL;
        change.minExposureTime = minTime;
        change.maxExposureTime = maxTime;
        // The limits belong to the automatic mode; the device is told its
        // mode with them.
        if (!change.exposureMode)
            change.exposureMode = now.settings.exposureMode;
    }
    if (chosen[ExposureRecord::BackLight] != readBlock[ExposureRecord::BackLight]) {
        if (!now.settings.backlightCompensationMode)
            return NETSDK_ERR_NOT_SUPPORTED;
        change.backlightCompensationMode = chosen[ExposureRecord::BackLight] ? "ON" : "OFF";
    }
    const auto done = device.setImagingSettings(source, change);
    return done ? doneResult(done->rebootNeeded) : resultFor(done.failure());
}

} // namespace

int32_t getImage(onvif::DeviceApi &device, DeviceContext &context, int32_t command, int32_t channel,
    void *buffer, int32_t bufferSize, int32_t *bytesReturned)
{
    // The capability record is asked for with channel -1.
    Imaging now;
    if (const int32_t r = readImaging(device, context, std::max(channel, 0), now); r < 0)
        return r;
    switch (command) {
    case CmdImage:
        return putRecord(imageRecordOf(now.settings), buffer, bufferSize, bytesReturned);
    case CmdExposure:
        return putRecord(exposureRecordOf(now.settings), buffer, bufferSize, bytesReturned);
    case CmdImageCaps: {
        // No focus and no fill light: the page then shows neither tab.
        ImageCapsRecord caps;
        zero(caps);
        caps.bytes[ImageCapsRecord::WdrOffered]
            = offers(now.options.wideDynamicRangeModes, "ON") ? 1 : 0;
        return putRecord(caps, buffer, bufferSize, bytesReturned);
    }
    default:
        return NETSDK_ERR_NOT_SUPPORTED;
    }
}

int32_t setImage(onvif::DeviceApi &device, DeviceContext &context, int32_t command, int32_t channel,
    const void *buffer, int32_t size)
{
    ImageRecord image;
    ExposureRecord exposure;
    const bool taken = command == CmdImage ? takeRecord(buffer, size, image)
                                           : takeRecord(buffer, size, exposure);
    if (!taken)
        return NETSDK_ERR_FAIL;
    Imaging now;
    if (const int32_t r = readImaging(device, context, std::max(channel, 0), now); r < 0)
        return r;
    const std::string source
        = channelsOf(context.profiles)[std::size_t(std::max(channel, 0))].sourceToken;
    return command == CmdImage ? setImageRecord(device, source, now, image)
                               : setExposureRecord(device, source, now, exposure);
}

} // namespace scoutrix::netsdk::onvifmap
