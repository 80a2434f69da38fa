#include "EncodeTables.h"

#include <algorithm>
#include <cstring>

namespace scoutrix {

namespace {

const char *const kEncodeTypeNames[EncodeTypeCount] = {
    "DIVX MPEG4", "MS MPEG4", "MPEG2", "MPEG1", "H.263", "MJPG",
    "FCC MPEG4", "H.264", "H.265", "H.264+", "H.265+",
};

constexpr int kGradedRows = 21;

const int kH264Grades[kGradedRows][QualityGrades] = {
    {512, 768, 1024, 1536, 2048, 2560},     // 0
    {384, 512, 768, 1024, 1536, 2048},      // 1
    {1024, 1536, 2048, 2560, 3072, 4096},   // 2
    {64, 192, 384, 512, 768, 1024},         // 3
    {64, 128, 192, 384, 448, 512},          // 4
    {512, 768, 896, 1280, 1536, 2048},      // 5
    {256, 384, 512, 640, 768, 1024},        // 6
    {1024, 2048, 3072, 4096, 6144, 8192},   // 7
    {1024, 2048, 3072, 4096, 6144, 8192},   // 8
    {1024, 2048, 3072, 4096, 6144, 8192},   // 9
    {896, 1024, 1536, 2048, 3072, 4096},    // 10
    {1024, 1536, 2048, 2560, 3072, 4096},   // 11
    {1024, 1536, 2048, 3072, 4096, 5120},   // 12
    {1024, 2048, 3072, 4096, 6144, 8192},   // 13
    {1024, 2048, 3072, 4096, 6144, 8192},   // 14
    {640, 1024, 1536, 2048, 3072, 4096},    // 15
    {1024, 2048, 3072, 4096, 6144, 8192},   // 16
    {1024, 2048, 3072, 4096, 6144, 8192},   // 17
    {1024, 2048, 3072, 4096, 6144, 8192},   // 18
    {1024, 2048, 3072, 4096, 6144, 8192},   // 19
    {1024, 2048, 3072, 4096, 6144, 8192},   // 20
};

// Row 3 is not monotonic on the device either; it is kept as the devices use it.
const int kH265Grades[kGradedRows][QualityGrades] = {
    {332, 499, 665, 998, 1331, 1664},       // 0
    {249, 312, 499, 665, 998, 1331},        // 1
    {665, 998, 1331, 1664, 1996, 2662},     // 2
    {41, 124, 249, 512, 499, 665},          // 3
    {41, 83, 124, 249, 291, 332},           // 4
    {332, 499, 582, 832, 998, 1331},        // 5
    {166, 249, 332, 416, 499, 665},         // 6
    {665, 1331, 1996, 2662, 3993, 5324},    // 7
    {665, 1331, 1996, 2662, 3993, 5324},    // 8
    {665, 1331, 1996, 2662, 3993, 5324},    // 9
    {582, 665, 998, 1664, 1996, 2662},      // 10
    {665, 998, 1331, 1664, 1996, 2662},     // 11
    {665, 998, 1331, 1664, 1996, 2662},     // 12
    {998, 1996, 2662, 3993, 5324, 6656},    // 13
    {665, 1331, 1996, 2662, 3993, 5324},    // 14
    {665, 1331, 1996, 2662, 3993, 5324},    // 15
    {998, 1996, 2662, 3993, 5324, 6656},    // 16
    {998, 1996, 2662, 3993, 5324, 6656},    // 17
    {998, 1996, 2662, 3993, 5324, 6656},    // 18
    {1024, 2048, 3072, 4096, 6144, 8192},   // 19
    {1024, 2048, 3072, 4096, 6144, 8192},   // 20
};

struct FixedResolution
{
    const char *palName;
    const char *ntscName;
    int64_t palPixels;
    int64_t ntscPixels;
    uint32_t allowedSub;
};

const FixedResolution kFixed[kGradedRows] = {
    {"D1(704x576)", "D1(704x480)", 405504, 337920, 27},
    {"HD1(704x288)", "HD1(704x240)", 202752, 168960, 26},
    {"H1080(960*1080)", "H1080(960*1080)", 1019520, 1019520, 29},
    {"CIF(352x288)", "CIF(352x240)", 101376, 84480, 24},
    {"QCIF(176x144)", "QCIF(176x120)", 25344, 21120, 16},
    {"VGA(640x480)", "VGA(640x480)", 307200, 307200, 96},
    {"QVGA(320x240)", "QVGA(320x240)", 76800, 76800, 64},
    {"H3M(960x1440)", "H3M(960x1440)", 1382400, 1382400, 27},
    {"H4M(1280x1440)", "H4M(1280x1440)", 1843200, 1843200, 27},
    {"H5M(1280*1944)", "H5M(1280x1944)", 2488320, 2488320, 27},
    {"960H(928x576)", "960H(928x576)", 534528, 534528, 27},
    {"720P(1280x720)", "720(1280x720)", 921600, 921600, 59},
    {"1.3M(1280x960)", "1.3M(1280x960)", 1228800, 1228800, 59},
    {"H8M(1920x2160)", "H8M(1920x2160)", 4147200, 4147200, 59},
    {"1080P(1920x1080)", "1080P(1920x1080)", 2073600, 2073600, 59},
    {"WUXGA(1920x1200)", "WUXGA(1920x1200)", 2304000, 2304000, 59},
    {"4M(2560x1440)", "4M(2560x1440)", 3686400, 3686400, 59},
    {nullptr, nullptr, 0, 0, 59},   // 17: depends on the login device type
    {nullptr, nullptr, 0, 0, 59},   // 18: depends on the login device type
    {"6M(3072x2048)", "6M(3072x2048)", 6291456, 6291456, 59},
    {"8M(3840x2160)", "8M(3840x2160)", 8294400, 8294400, 59},
};

} // namespace

const char *encodeTypeName(int type)
{
    return type >= 0 && type < EncodeTypeCount ? kEncodeTypeNames[type] : nullptr;
}

bool usesH265Table(int type)
{
    const char *name = encodeTypeName(type);
    return name && std::strstr(name, "265");
}

int gradeBitRate(int resolution, int grade, bool h265)
{
    if (resolution < 0 || resolution >= kGradedRows || grade < 0 || grade >= QualityGrades)
        return 0;
    return h265 ? kH265Grades[resolution][grade] : kH264Grades[resolution][grade];
}

int scaledBitRate(int iFrameInterval, int frameRate, int fullRate, int tableValue)
{
    const int64_t f = std::min(frameRate, fullRate);
    const int64_t denominator = int64_t(iFrameInterval) * fullRate + 10;
    if (denominator == 0)
        return tableValue;
    return int((int64_t(iFrameInterval) * f + 10) * tableValue / denominator);
}

ResolutionTable ResolutionTable::fixed(bool ntsc, int32_t loginDeviceType)
{
    ResolutionTable table;
    for (int i = 0; i < kGradedRows; ++i) {
        ResolutionInfo &e = table.m_entries[std::size_t(i)];
        const FixedResolution &f = kFixed[i];
        e.allowedSub = f.allowedSub;
        if (f.palName) {
            e.name = ntsc ? f.ntscName : f.palName;
            e.pixels = ntsc ? f.ntscPixels : f.palPixels;
        }
    }
    const bool ipc = loginDeviceType == int32_t(scoutrix::DeviceType::IPC);
    table.m_entries[17].name = ipc ? "3M(2304x1296)" : "3M(1920x1440)";
    table.m_entries[17].pixels = ipc ? 2985984 : 2764800;
    table.m_entries[18].name = ipc ? "5M(2592*1944)" : "5M(2560*1944)";
    table.m_entries[18].pixels = ipc ? 5038848 : 4976640;
    return table;
}

ResolutionTable ResolutionTable::fromDevice(const ResolutionList &list)
{
    ResolutionTable table;
    for (int i = 0; i < ResolutionCount; ++i) {
        ResolutionInfo &e = table.m_entries[std::size_t(i)];
        const ResolutionEntry &d = list.entry[i];
        e.name = d.nameText();
        // A negative size from the device would turn every budget upside down.
        if (d.widthValue() > 0 && d.heightValue() > 0)
            e.pixels = int64_t(d.widthValue()) * d.heightValue();
        e.allowedSub = i < kGradedRows ? kFixed[i].allowedSub : 0;
    }
    return table;
}

bool ResolutionTable::deviceListApplies(const std::string &buildTimeText)
{
    return buildTimeText.substr(0, 10).compare("2021-09-17") >= 0;
}

} // namespace scoutrix
