#pragma once
// The camera page without its window: the four records it reads (image 78,
// capability 135, exposure 134, light 172), what they show, and the records
// a save sends. A save starts from the bytes the device gave, so every byte
// the page does not edit, the exposure limits among them, goes back exactly
// as read.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ConfigRecords.h"

namespace scoutrix {

// What the controls show, one value per control; lists hold their values.
struct CameraValues
{
    // Image record
    int dayNight = 0;
    int dncSensitivity = 1;
    int irCut = 0;
    bool mirror = false;
    bool roll = false;
    bool irGlassReverse = false;
    int focusMode = 0;
    int wdr = 0;
    // The chosen exposure block
    int exposureMode = 0;
    int balance = 0;
    int antiFlicker = 0;
    int sensitivity = 1;
    int backLight = 0;
    int ae = 1;
    // Byte 32 of the two noise-grade blocks
    int dayNoiseGrade = 0;
    int nightNoiseGrade = 0;
    // Light record
    int lightType = 0;
    int photosensitive = 0;
    int flashMode = 0;
    int lightTime = 10;
    int brightness = 10;
    int dimming = 0;

    bool operator==(const CameraValues &o) const;
    bool operator!=(const CameraValues &o) const { return !(*this == o); }
};

// Which fill-light controls the light tab shows for a light type, flash mode
// and dimming choice.
struct LightControls
{
    bool dualLight = false;  // photosensitive mode, flash mode, light time
    bool dimming = false;
    bool brightness = false;
};
LightControls lightControlsFor(int lightType, int flashMode, int dimming);

// The block the exposure controls edit: header byte 0 picks the night block,
// wide dynamic range the second pair.
int exposureBlockFor(uint8_t nightHeader, uint8_t wdr);
// The day and night noise grades live in the first pair of blocks unless the
// chosen block is in the second.
std::pair<int, int> noiseGradeBlocks(int exposureBlock);

// The view area's largest 16:9 rectangle: as wide as the area unless that is
// too tall for it.
std::pair<int, int> fit16by9(int width, int height);

class CameraSettings
{
public:
    static constexpr int DncMin = 1, DncMax = 50;
    static constexpr int SensitivityMin = 1, SensitivityMax = 10;
    static constexpr int AeMin = 1, AeMax = 255;
    static constexpr int LightTimeMin = 10, LightTimeMax = 60;
    static constexpr int BrightnessMin = 10, BrightnessMax = 100;
    static constexpr int ExposureModes = 9; // 0 auto and eight fixed shutters
    static constexpr int NoiseGrades = 6;   // 0 auto and grades 1..5

    // One record read: (command, buffer, size, bytes returned) → SDK result.
    using Getter = std::function<int32_t(int32_t command, void *buffer, int32_t size, int32_t *bytes)>;
    // One record written: (command, record, size) → SDK result.
    using Setter = std::function<int32_t(int32_t command, const void *record, int32_t size)>;

    CameraSettings();

    // Reads 78, then 135, then 134, then 172 when the camera has fill light,
    // each only after the one before succeeded. Only a complete read replaces
    // what was loaded; a failed one keeps it. Returns the last result.
    int32_t read(const Getter &get);
    bool loaded() const { return m_loaded; }

    bool focusOffered() const { return m_caps.bytes[ImageCapsRecord::FocusOffered] == 1; }
    bool wdrOffered() const { return m_caps.bytes[ImageCapsRecord::WdrOffered] == 1; }
    uint8_t lightMask() const { return m_caps.bytes[ImageCapsRecord::ModeMask]; }
    bool hasFillLight() const { return lightMask() != 0; }
    bool supportsLightType(int lightType) const;
    int exposureBlock() const { return m_block; }

    CameraValues shown() const;

    // The records a save sends for |wanted|: what was read, with the edited
    // fields written over.
    ImageRecord imageFor(const CameraValues &wanted) const;
    ExposureRecord exposureFor(const CameraValues &wanted) const;
    LightModeRecord lightFor(const CameraValues &wanted) const;

    struct Write
    {
        int32_t command = 0;
        int32_t result = 0;
        std::string before; // the record as the page last knew it, described
        std::string after;
    };
    struct SaveOutcome
    {
        std::vector<Write> writes;
        int32_t result = 0;        // the last write's result
        bool lightRefused = false; // the chosen light type is not the camera's
        bool signalled() const { return !lightRefused && !writes.empty(); }
    };
    // Sets 78, then 134, then 172 (with fill light), stopping at the first
    // failure. A light type the camera lacks ends the save before 172.
    SaveOutcome save(const CameraValues &wanted, const Setter &set);

    const ImageRecord &image() const { return m_image; }
    const ImageCapsRecord &caps() const { return m_caps; }
    const ExposureRecord &exposure() const { return m_exposure; }
    const LightModeRecord &light() const { return m_light; }

    // For the activity log: "mirror on, roll off, ..." and the like.
    static std::string describe(const ImageRecord &r);
    static std::string describe(const ExposureRecord &r, int block);
    static std::string describe(const LightModeRecord &r);

private:
    ImageRecord m_image;
    ImageCapsRecord m_caps;
    ExposureRecord m_exposure;
    LightModeRecord m_light;
    int m_block = 0;
    bool m_loaded = false;
};

} // namespace scoutrix
