#pragma once
// Logo packages made by hand for the tests: a legacy boot-loader header
// around a file-system stub, zipped with an install description.

#include <zip.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace logopkg {

inline void putBe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// |magic| "hsqs" for squashfs, "\x45\x3d\xcd\x28" for cramfs; |total| the
// image's size in bytes, header included.
inline std::vector<uint8_t> legacyImage(const std::string &magic, std::size_t total)
{
    std::vector<uint8_t> img(total, 0);
    const std::size_t dataSize = total - 64;
    std::memcpy(img.data() + 64, magic.data(), std::min(magic.size(), dataSize));
    for (std::size_t i = 64 + 4; i < total; ++i)
        img[i] = uint8_t(i * 7);
    putBe32(&img[0], 0x27051956u);
    putBe32(&img[12], uint32_t(dataSize));
    putBe32(&img[24], uint32_t(crc32(0L, img.data() + 64, uInt(dataSize))));
    img[28] = 5; // Linux
    img[29] = 2; // ARM
    img[30] = 7; // file system
    std::memcpy(&img[32], "logo", 4);
    putBe32(&img[4], uint32_t(crc32(0L, img.data(), 64)));
    return img;
}

inline std::string installDesc(const std::string &fileName, const std::string &hardware)
{
    return "{\n\t\"UpgradeCommand\" : [\n\t{\n\t\t\"Command\" : \"Burn\",\n\t\t\"FileName\" : \"" + fileName
        + "\"\n\t}\n\t],\n\t\"Hardware\" : \"" + hardware + "\",\n\t\"Vendor\" : \"SX Vision\"\n}\n";
}

struct Entry
{
    std::string name;
    std::vector<uint8_t> bytes;
};

inline bool writeZip(const std::string &path, const std::vector<Entry> &entries)
{
    int err = 0;
    zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!z)
        return false;
    for (const Entry &e : entries) {
        zip_source_t *s = zip_source_buffer(z, e.bytes.data(), e.bytes.size(), 0);
        if (!s || zip_file_add(z, e.name.c_str(), s, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(s);
            zip_discard(z);
            return false;
        }
    }
    return zip_close(z) == 0;
}

inline std::vector<uint8_t> bytesOf(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

} // namespace logopkg
