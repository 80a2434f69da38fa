#pragma once
// A boot-logo package as a device takes it: a zip holding the install
// description "InstallDesc" and the flash image it names. The image is a
// legacy boot-loader image (64-byte big-endian header: magic 0x27051956,
// header CRC, data size, data CRC) around a squashfs or cramfs file system.
// Plain C++ without I/O, so tests and the fuzz target drive it directly.

#include <cstdint>
#include <string>
#include <vector>

namespace scoutrix::devsim {

struct LogoTarget
{
    std::string hardwareName;
    uint32_t areaStart = 0; // as the hardware record gives them
    uint32_t areaEnd = 0;
};

// 0 with |marker| ("squashfs 4160 <sha-256 of the image>"), or one of the
// NETSDK_UPGRADE_ERR_LOGO_* refusals with |why| for the log.
int32_t checkLogoPackage(const std::vector<uint8_t> &zip, const LogoTarget &target,
    std::string &marker, std::string &why);

constexpr std::size_t LegacyHeaderSize = 64;
constexpr uint32_t LegacyMagic = 0x27051956u;

} // namespace scoutrix::devsim
