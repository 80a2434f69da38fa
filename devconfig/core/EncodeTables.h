#pragma once
// Fixed tables of the encode page: encode-type names, the resolution table
// (the device's own list on newer firmware, a built-in one otherwise) and the
// bit-rate grade tables. Plain C++.

#include <array>
#include <cstdint>
#include <string>

#include "ConfigRecords.h"

namespace scoutrix {

constexpr int EncodeTypeCount = 11;
constexpr int ResolutionCount = 32;
constexpr int QualityGrades = 6;

// The list text of an encode type, or nullptr outside 0..10.
const char *encodeTypeName(int type);
// Types whose list text contains "265" take the H.265 grade table.
bool usesH265Table(int type);

// Bit rate of a grade in kbit/s at the full frame rate; 0 outside the table.
int gradeBitRate(int resolution, int grade, bool h265);

// (I * min(f, F) + 10) * tableValue / (I * F + 10), in integer arithmetic.
// F is the standard's full rate; an I-frame interval of 0 gives tableValue.
int scaledBitRate(int iFrameInterval, int frameRate, int fullRate, int tableValue);

struct ResolutionInfo
{
    std::string name;
    int64_t pixels = 0;
    uint32_t allowedSub = 0;  // sub resolutions allowed while the main stream uses this one
};

class ResolutionTable
{
public:
    static ResolutionTable fixed(bool ntsc, int32_t loginDeviceType);
    static ResolutionTable fromDevice(const ResolutionList &list);
    // Firmware built on or after 2021-09-17 describes its resolutions itself.
    static bool deviceListApplies(const std::string &buildTimeText);

    static bool valid(int index) { return index >= 0 && index < ResolutionCount; }
    const ResolutionInfo &at(int index) const { return m_entries.at(std::size_t(index)); }
    int64_t pixels(int index) const { return valid(index) ? at(index).pixels : 0; }
    uint32_t allowedSub(int index) const { return valid(index) ? at(index).allowedSub : 0; }

private:
    std::array<ResolutionInfo, ResolutionCount> m_entries;
};

} // namespace scoutrix
