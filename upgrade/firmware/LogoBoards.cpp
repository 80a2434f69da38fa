#include "LogoBoards.h"

namespace scoutrix::firmware {

namespace {

const char *const kSquashfsBoards[] = { "QRX51", "QRX52", "QRX53", "_C", "_S", "ZTL51", "ZTL52",
    "ZTL53", "WPN51", "WPN52", "WPN53" };
const char *const kLargeAreaBoards[] = { "QRX51", "QRX52", "QRX53", "ZTL51", "ZTL52", "ZTL53",
    "WPN51", "WPN52", "WPN53", "YMC07", "QRX5104K" };
const char *const kSmallAreaBoard = "YMC06";

template<std::size_t N>
bool containsAny(const std::string &name, const char *const (&list)[N])
{
    for (const char *b : list) {
        if (name.find(b) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

LogoFileSystem logoFileSystemOf(const std::string &hardwareName)
{
    return containsAny(hardwareName, kSquashfsBoards) ? LogoFileSystem::Squashfs
                                                      : LogoFileSystem::Cramfs;
}

const char *logoFileSystemName(LogoFileSystem fs)
{
    return fs == LogoFileSystem::Squashfs ? "squashfs" : "cramfs";
}

LogoArea logoAreaOf(const std::string &hardwareName, uint32_t recordStart, uint32_t recordEnd)
{
    return logoAreaOf(hardwareName, logoFileSystemOf(hardwareName), recordStart, recordEnd);
}

LogoArea logoAreaOf(const std::string &hardwareName, LogoFileSystem fs, uint32_t recordStart,
    uint32_t recordEnd)
{
    LogoArea a { recordStart, recordEnd };
    if (fs == LogoFileSystem::Squashfs)
        a = { 0x790000, 0x7A0000 };
    // The area families apply whatever the file system (one of them, YMC07,
    // is a cramfs board).
    if (containsAny(hardwareName, kLargeAreaBoards))
        a = { 0xE80000, 0xEC0000 };
    // The small board wins over a large family name in the same text.
    if (hardwareName.find(kSmallAreaBoard) != std::string::npos)
        a = { 0x7A0000, 0x7B0000 };
    return a;
}

} // namespace scoutrix::firmware
