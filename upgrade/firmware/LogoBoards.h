#pragma once
// Which boot-logo file system a board takes and where its logo area lies,
// decided from the hardware name of its hardware record (command 61). The
// names are the board families the program knows; they are matched as
// case-sensitive parts of the hardware name.

#include <cstdint>
#include <string>

namespace scoutrix::firmware {

enum class LogoFileSystem { Squashfs, Cramfs };

struct LogoArea
{
    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t size() const { return end - start; } // unsigned, as the area check reads it
};

LogoFileSystem logoFileSystemOf(const std::string &hardwareName);
const char *logoFileSystemName(LogoFileSystem fs); // "squashfs" or "cramfs"

// The area a logo image must fit: a fixed one for the large-area and the
// small-area board families, the default squashfs area for other squashfs
// boards, and the record's own start and end for the rest.
LogoArea logoAreaOf(const std::string &hardwareName, uint32_t recordStart, uint32_t recordEnd);
// The same for an image in |fs|, which a package builder may have chosen
// other than the board's own: a squashfs image takes the squashfs area.
LogoArea logoAreaOf(const std::string &hardwareName, LogoFileSystem fs, uint32_t recordStart,
    uint32_t recordEnd);

} // namespace scoutrix::firmware
