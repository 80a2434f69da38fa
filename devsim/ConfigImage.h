#pragma once
// The configuration image a device exports (command 51) and imports (52): its
// settable records in one self-describing, checksummed container. Plain C++
// without I/O so tests and the fuzz targets drive it directly.
//
// Layout, little-endian:
//   0   4  magic "SXCF"
//   4   4  version (1)
//   8   4  total length of the image, checksum included
//   12 32  model text, NUL-padded
//   44  4  device type
//   48  4  video channel count
//   52  4  entry count
//   56  .. entries: i32 command, i32 channel, u32 size, size bytes
//   end 4  CRC-32 (IEEE) of every byte before it
// Whatever follows the total length (a client's zero fill up to 64 KiB) is
// not part of the image and must be zero.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scoutrix::devsim {

struct ConfigImage
{
    static constexpr uint32_t Magic = 0x46435853u; // "SXCF"
    static constexpr uint32_t Version = 1;
    static constexpr std::size_t ModelBytes = 32;
    static constexpr std::size_t HeaderSize = 56;
    static constexpr std::size_t EntryHeaderSize = 12;
    static constexpr std::size_t ChecksumSize = 4;
    static constexpr std::size_t MaxSize = 65536;

    struct Entry
    {
        int32_t command = 0;
        int32_t channel = -1;
        std::vector<uint8_t> bytes;
    };

    enum class Error {
        None,
        Truncated, // shorter than its own length says
        Corrupt, // wrong magic, checksum, structure or fill
        Version, // a container version this device does not read
    };

    std::string model;
    int32_t deviceType = 0;
    int32_t channels = 0;
    std::vector<Entry> entries;

    // False when the image would not fit MaxSize or the model text its field.
    bool encode(std::vector<uint8_t> &out) const;
    // |why| says what is wrong for the log; |out| is only written on success.
    static Error decode(const uint8_t *data, std::size_t size, ConfigImage &out, std::string &why);
};

uint32_t crc32(const uint8_t *data, std::size_t size);

} // namespace scoutrix::devsim
