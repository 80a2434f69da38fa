#include "CameraSettings.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "NetSdk.h"

namespace scoutrix {

namespace {

int clampTo(int v, int low, int high) { return std::clamp(v, low, high); }

// AE is a signed 16-bit word.
int readAe(const uint8_t *block) { return int16_t(readLe16(block + ExposureRecord::Ae)); }

// A field is written only when the user moved its control away from what
// the read showed, so a device value the control cannot show survives a save.
template<typename T>
void writeIfChanged(uint8_t *field, int wanted, int shown, T encoded)
{
    if (wanted != shown)
        *field = uint8_t(encoded);
}

// A get succeeded when the device answered with the whole record: this SDK
// returns 0 on success, and a short record would send zeros back.
bool readWhole(int32_t result, int32_t bytes, int32_t size) { return result >= 0 && bytes == size; }

const char *onOff(uint8_t v) { return v ? "on" : "off"; }

std::string pick(int v, std::initializer_list<const char *> names)
{
    if (v >= 0 && std::size_t(v) < names.size())
        return *(names.begin() + v);
    return std::to_string(v);
}

} // namespace

bool CameraValues::operator==(const CameraValues &o) const
{
    return dayNight == o.dayNight && dncSensitivity == o.dncSensitivity && irCut == o.irCut
        && mirror == o.mirror && roll == o.roll && irGlassReverse == o.irGlassReverse
        && focusMode == o.focusMode && wdr == o.wdr && exposureMode == o.exposureMode
        && balance == o.balance && antiFlicker == o.antiFlicker && sensitivity == o.sensitivity
        && backLight == o.backLight && ae == o.ae && dayNoiseGrade == o.dayNoiseGrade
        && nightNoiseGrade == o.nightNoiseGrade && lightType == o.lightType
        && photosensitive == o.photosensitive && flashMode == o.flashMode && lightTime == o.lightTime
        && brightness == o.brightness && dimming == o.dimming;
}

LightControls lightControlsFor(int lightType, int flashMode, int dimming)
{
    LightControls c;
    c.dualLight = lightType == LightModeRecord::Dual;
    // Infrared has no dimming; dual light dims only when it lights in full
    // colour at night.
    c.dimming = lightType == LightModeRecord::FullColor || (c.dualLight && flashMode == 1);
    // Automatic dimming sets the brightness itself.
    c.brightness = c.dimming && dimming != 1;
    return c;
}

int exposureBlockFor(uint8_t nightHeader, uint8_t wdr)
{
    return (nightHeader != 0 ? 1 : 0) + (wdr != 0 ? 2 : 0);
}

std::pair<int, int> noiseGradeBlocks(int exposureBlock)
{
    return exposureBlock >= 2 ? std::make_pair(2, 3) : std::make_pair(0, 1);
}

std::pair<int, int> fit16by9(int width, int height)
{
    const int wantedHeight = width * 9 / 16;
    if (height < wantedHeight)
        return { height * 16 / 9, height };
    return { width, wantedHeight };
}

CameraSettings::CameraSettings()
{
    std::memset(&m_image, 0, sizeof m_image);
    std::memset(&m_caps, 0, sizeof m_caps);
    std::memset(&m_exposure, 0, sizeof m_exposure);
    std::memset(&m_light, 0, sizeof m_light);
}

bool CameraSettings::supportsLightType(int lightType) const
{
    if (lightType < 0 || lightType > LightModeRecord::Dual)
        return false;
    return (lightMask() >> lightType) & 1u;
}

int32_t CameraSettings::read(const Getter &get)
{
    ImageRecord image;
    ImageCapsRecord caps;
    ExposureRecord exposure;
    LightModeRecord light;
    std::memset(&image, 0, sizeof image);
    std::memset(&caps, 0, sizeof caps);
    std::memset(&exposure, 0, sizeof exposure);
    std::memset(&light, 0, sizeof light);

    const auto one = [&get](int32_t command, auto &record) {
        int32_t bytes = 0;
        const int32_t size = int32_t(sizeof record);
        const int32_t result = get(command, &record, size, &bytes);
        if (result >= 0 && !readWhole(result, bytes, size))
            return int32_t(NETSDK_ERR_FAIL);
        return result;
    };
    int32_t result = one(CmdImage, image);
    if (result >= 0)
        result = one(CmdImageCaps, caps);
    if (result >= 0)
        result = one(CmdExposure, exposure);
    if (result >= 0 && caps.bytes[ImageCapsRecord::ModeMask] != 0)
        result = one(CmdLightMode, light);
    if (result < 0)
        return result;

    m_image = image;
    m_caps = caps;
    m_exposure = exposure;
    m_light = light;
    m_block = exposureBlockFor(m_exposure.bytes[ExposureRecord::NightBlock], m_image.bytes[ImageRecord::Wdr]);
    m_loaded = true;
    return result;
}

CameraValues CameraSettings::shown() const
{
    CameraValues v;
    const uint8_t *img = m_image.bytes;
    v.dayNight = img[ImageRecord::DayNight] <= 2 ? img[ImageRecord::DayNight] : 0;
    v.dncSensitivity = clampTo(img[ImageRecord::DncSensitivity], DncMin, DncMax);
    v.irCut = img[ImageRecord::IrCut] == 1 ? 1 : 0;
    v.mirror = img[ImageRecord::Mirror] != 0;
    v.roll = img[ImageRecord::Roll] != 0;
    v.irGlassReverse = img[ImageRecord::IrGlassReverse] != 0;
    v.focusMode = img[ImageRecord::FocusMode] <= 2 ? img[ImageRecord::FocusMode] : 0;
    v.wdr = img[ImageRecord::Wdr] != 0 ? 1 : 0;

    const uint8_t *b = m_exposure.block(m_block);
    const int32_t mode = int32_t(readLe32(b + ExposureRecord::Mode));
    v.exposureMode = mode >= 0 && mode < ExposureModes ? mode : 0;
    v.balance = b[ExposureRecord::Balance] <= 2 ? b[ExposureRecord::Balance] : 0;
    v.antiFlicker = b[ExposureRecord::AntiFlicker] != 0 ? 1 : 0;
    v.sensitivity = clampTo(b[ExposureRecord::Sensitivity], SensitivityMin, SensitivityMax);
    v.backLight = b[ExposureRecord::BackLight] != 0 ? 1 : 0;
    v.ae = clampTo(readAe(b), AeMin, AeMax);
    const auto grades = noiseGradeBlocks(m_block);
    const auto grade = [this](int block) {
        const uint8_t g = m_exposure.block(block)[ExposureRecord::NoiseGrade];
        return g < NoiseGrades ? int(g) : 0;
    };
    v.dayNoiseGrade = grade(grades.first);
    v.nightNoiseGrade = grade(grades.second);

    const uint8_t *l = m_light.bytes;
    v.lightType = l[LightModeRecord::Type] <= 2 ? l[LightModeRecord::Type] : 0;
    v.photosensitive = l[LightModeRecord::Photosensitive] == 1 ? 1 : 0;
    v.flashMode = l[LightModeRecord::FlashMode] <= 2 ? l[LightModeRecord::FlashMode] : 0;
    v.lightTime = clampTo(l[LightModeRecord::LightTime], LightTimeMin, LightTimeMax);
    v.brightness = clampTo(l[LightModeRecord::Brightness], BrightnessMin, BrightnessMax);
    v.dimming = l[LightModeRecord::Dimming] == 1 ? 1 : 0;
    return v;
}

ImageRecord CameraSettings::imageFor(const CameraValues &wanted) const
{
    ImageRecord out = m_image;
    const CameraValues was = shown();
    uint8_t *p = out.bytes;
    writeIfChanged(p + ImageRecord::DayNight, wanted.dayNight, was.dayNight, wanted.dayNight);
    writeIfChanged(p + ImageRecord::DncSensitivity, wanted.dncSensitivity, was.dncSensitivity, wanted.dncSensitivity);
    writeIfChanged(p + ImageRecord::IrCut, wanted.irCut, was.irCut, wanted.irCut);
    writeIfChanged(p + ImageRecord::Mirror, wanted.mirror, was.mirror, wanted.mirror);
    writeIfChanged(p + ImageRecord::Roll, wanted.roll, was.roll, wanted.roll);
    writeIfChanged(p + ImageRecord::IrGlassReverse, wanted.irGlassReverse, was.irGlassReverse, wanted.irGlassReverse);
    writeIfChanged(p + ImageRecord::FocusMode, wanted.focusMode, was.focusMode, wanted.focusMode);
    writeIfChanged(p + ImageRecord::Wdr, wanted.wdr, was.wdr, wanted.wdr);
    return out;
}

ExposureRecord CameraSettings::exposureFor(const CameraValues &wanted) const
{
    ExposureRecord out = m_exposure;
    const CameraValues was = shown();
    uint8_t *b = out.block(m_block);
    // The two limits are never rewritten: they go back as read whatever the
    // mode, so no value is rounded on the way.
    if (wanted.exposureMode != was.exposureMode)
        writeLe32(b + ExposureRecord::Mode, uint32_t(wanted.exposureMode));
    writeIfChanged(b + ExposureRecord::Balance, wanted.balance, was.balance, wanted.balance);
    writeIfChanged(b + ExposureRecord::AntiFlicker, wanted.antiFlicker, was.antiFlicker, wanted.antiFlicker);
    writeIfChanged(b + ExposureRecord::Sensitivity, wanted.sensitivity, was.sensitivity, wanted.sensitivity);
    writeIfChanged(b + ExposureRecord::BackLight, wanted.backLight, was.backLight, wanted.backLight);
    if (wanted.ae != was.ae)
        writeLe16(b + ExposureRecord::Ae, uint16_t(int16_t(wanted.ae)));
    const auto grades = noiseGradeBlocks(m_block);
    writeIfChanged(out.block(grades.first) + ExposureRecord::NoiseGrade, wanted.dayNoiseGrade,
                   was.dayNoiseGrade, wanted.dayNoiseGrade);
    writeIfChanged(out.block(grades.second) + ExposureRecord::NoiseGrade, wanted.nightNoiseGrade,
                   was.nightNoiseGrade, wanted.nightNoiseGrade);
    return out;
}

LightModeRecord CameraSettings::lightFor(const CameraValues &wanted) const
{
    LightModeRecord out = m_light;
    const CameraValues was = shown();
    uint8_t *p = out.bytes;
    writeIfChanged(p + LightModeRecord::Type, wanted.lightType, was.lightType, wanted.lightType);
    writeIfChanged(p + LightModeRecord::Photosensitive, wanted.photosensitive, was.photosensitive, wanted.photosensitive);
    writeIfChanged(p + LightModeRecord::FlashMode, wanted.flashMode, was.flashMode, wanted.flashMode);
    writeIfChanged(p + LightModeRecord::LightTime, wanted.lightTime, was.lightTime, wanted.lightTime);
    writeIfChanged(p + LightModeRecord::Brightness, wanted.brightness, was.brightness, wanted.brightness);
    writeIfChanged(p + LightModeRecord::Dimming, wanted.dimming, was.dimming, wanted.dimming);
    return out;
}

CameraSettings::SaveOutcome CameraSettings::save(const CameraValues &wanted, const Setter &set)
{
    SaveOutcome outcome;
    if (!m_loaded)
        return outcome;
    const ImageRecord image = imageFor(wanted);
    const ExposureRecord exposure = exposureFor(wanted);
    const LightModeRecord light = lightFor(wanted);

    const auto write = [&](int32_t command, const auto &record, const std::string &before,
                           const std::string &after) {
        Write w;
        w.command = command;
        w.result = set(command, &record, int32_t(sizeof record));
        w.before = before;
        w.after = after;
        outcome.writes.push_back(w);
        outcome.result = w.result;
        return setTaken(w.result);
    };

    // Each record the device took is what the page knows from then on, even
    // when a later one fails.
    if (!write(CmdImage, image, describe(m_image), describe(image)))
        return outcome;
    m_image = image;
    if (!write(CmdExposure, exposure, describe(m_exposure, m_block), describe(exposure, m_block)))
        return outcome;
    m_exposure = exposure;
    if (!hasFillLight())
        return outcome;
    if (!supportsLightType(wanted.lightType)) {
        outcome.lightRefused = true;
        return outcome;
    }
    if (write(CmdLightMode, light, describe(m_light), describe(light)))
        m_light = light;
    return outcome;
}

std::string CameraSettings::describe(const ImageRecord &r)
{
    const uint8_t *p = r.bytes;
    return "day/night " + pick(p[ImageRecord::DayNight], { "auto", "colour", "black and white" })
        + ", switch sensitivity " + std::to_string(p[ImageRecord::DncSensitivity])
        + ", IR-cut " + pick(p[ImageRecord::IrCut], { "synchronous", "automatic" })
        + ", mirror " + onOff(p[ImageRecord::Mirror]) + ", roll " + onOff(p[ImageRecord::Roll])
        + ", IR glass reversed " + onOff(p[ImageRecord::IrGlassReverse])
        + ", focus " + pick(p[ImageRecord::FocusMode], { "auto", "manual", "semi-automatic" })
        + ", WDR " + onOff(p[ImageRecord::Wdr]);
}

std::string CameraSettings::describe(const ExposureRecord &r, int block)
{
    const uint8_t *b = r.block(block);
    const int32_t mode = int32_t(readLe32(b + ExposureRecord::Mode));
    const auto grades = noiseGradeBlocks(block);
    return "block " + std::to_string(block) + ": exposure "
        + (mode == 0 ? std::string("auto") : "mode " + std::to_string(mode))
        + ", white balance " + pick(b[ExposureRecord::Balance], { "auto", "indoor", "outdoor" })
        + ", anti-flicker " + onOff(b[ExposureRecord::AntiFlicker])
        + ", sensitivity " + std::to_string(b[ExposureRecord::Sensitivity])
        + ", back light " + onOff(b[ExposureRecord::BackLight])
        + ", AE " + std::to_string(readAe(b))
        + ", noise grades " + std::to_string(r.block(grades.first)[ExposureRecord::NoiseGrade]) + "/"
        + std::to_string(r.block(grades.second)[ExposureRecord::NoiseGrade]);
}

std::string CameraSettings::describe(const LightModeRecord &r)
{
    const uint8_t *p = r.bytes;
    return "light " + pick(p[LightModeRecord::Type], { "infrared", "full colour", "dual" })
        + ", photosensitive " + pick(p[LightModeRecord::Photosensitive], { "hardware", "software" })
        + ", night mode " + pick(p[LightModeRecord::FlashMode], { "infrared", "full colour", "smart" })
        + ", light time " + std::to_string(p[LightModeRecord::LightTime]) + " s"
        + ", brightness " + std::to_string(p[LightModeRecord::Brightness])
        + ", auto dimming " + onOff(p[LightModeRecord::Dimming]);
}

} // namespace scoutrix
