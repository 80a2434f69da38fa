#include "ConfigImage.h"

#include <array>
#include <cstring>

#include "DeviceRecords.h"

namespace scoutrix::devsim {

namespace {

std::array<uint32_t, 256> crcTable()
{
    std::array<uint32_t, 256> t {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

void put32(std::vector<uint8_t> &out, uint32_t v)
{
    uint8_t b[4];
    writeLe32(b, v);
    out.insert(out.end(), b, b + 4);
}

} // namespace

uint32_t crc32(const uint8_t *data, std::size_t size)
{
    static const std::array<uint32_t, 256> table = crcTable();
    uint32_t c = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xffu] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

bool ConfigImage::encode(std::vector<uint8_t> &out) const
{
    std::size_t total = HeaderSize + ChecksumSize;
    for (const Entry &e : entries)
        total += EntryHeaderSize + e.bytes.size();
    if (total > MaxSize || model.size() >= ModelBytes)
        return false;
    std::vector<uint8_t> b;
    b.reserve(total);
    put32(b, Magic);
    put32(b, Version);
    put32(b, uint32_t(total));
    std::array<uint8_t, ModelBytes> name {};
    std::memcpy(name.data(), model.data(), model.size());
    b.insert(b.end(), name.begin(), name.end());
    put32(b, uint32_t(deviceType));
    put32(b, uint32_t(channels));
    put32(b, uint32_t(entries.size()));
    for (const Entry &e : entries) {
        put32(b, uint32_t(e.command));
        put32(b, uint32_t(e.channel));
        put32(b, uint32_t(e.bytes.size()));
        b.insert(b.end(), e.bytes.begin(), e.bytes.end());
    }
    put32(b, crc32(b.data(), b.size()));
    out = std::move(b);
    return true;
}

ConfigImage::Error ConfigImage::decode(
    const uint8_t *data, std::size_t size, ConfigImage &out, std::string &why)
{
    if (!data || size < 4 || readLe32(data) != Magic) {
        why = "not a configuration image (magic)";
        return size < 4 && size > 0 ? Error::Truncated : Error::Corrupt;
    }
    if (size < 12) {
        why = "image header cut short";
        return Error::Truncated;
    }
    if (readLe32(data + 4) != Version) {
        why = "image version " + std::to_string(readLe32(data + 4)) + " not read by this device";
        return Error::Version;
    }
    const uint32_t total = readLe32(data + 8);
    if (total < HeaderSize + ChecksumSize || total > MaxSize) {
        why = "image length " + std::to_string(total) + " out of range";
        return Error::Corrupt;
    }
    if (total > size) {
        why = "image of " + std::to_string(total) + " bytes cut to " + std::to_string(size);
        return Error::Truncated;
    }
    for (std::size_t i = total; i < size; ++i) {
        if (data[i] != 0) {
            why = "bytes after the image that are not its zero fill";
            return Error::Corrupt;
        }
    }
    if (crc32(data, total - ChecksumSize) != readLe32(data + total - ChecksumSize)) {
        why = "checksum does not match";
        return Error::Corrupt;
    }
    ConfigImage img;
    const auto *name = reinterpret_cast<const char *>(data + 12);
    img.model = std::string(name, strnlen(name, ModelBytes));
    img.deviceType = int32_t(readLe32(data + 44));
    img.channels = int32_t(readLe32(data + 48));
    const uint32_t count = readLe32(data + 52);
    const std::size_t end = total - ChecksumSize;
    std::size_t at = HeaderSize;
    // Each entry takes at least its header, so a count beyond that is a lie
    // that must not size an allocation.
    if (count > (end - at) / EntryHeaderSize) {
        why = "entry count " + std::to_string(count) + " does not fit the image";
        return Error::Corrupt;
    }
    img.entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        if (end - at < EntryHeaderSize) {
            why = "entry " + std::to_string(i + 1) + " runs past the image";
            return Error::Corrupt;
        }
        Entry e;
        e.command = int32_t(readLe32(data + at));
        e.channel = int32_t(readLe32(data + at + 4));
        const uint32_t n = readLe32(data + at + 8);
        at += EntryHeaderSize;
        if (n > end - at) {
            why = "entry " + std::to_string(i + 1) + " runs past the image";
            return Error::Corrupt;
        }
        e.bytes.assign(data + at, data + at + n);
        at += n;
        img.entries.push_back(std::move(e));
    }
    if (at != end) {
        why = "bytes between the last entry and the checksum";
        return Error::Corrupt;
    }
    out = std::move(img);
    why.clear();
    return Error::None;
}

} // namespace scoutrix::devsim
