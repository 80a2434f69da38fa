#include "LogoPackage.h"

#include <cstring>
#include <memory>

#include <zip.h>
#include <zlib.h>

#include "Fleet.h"
#include "FirmwareFile.h"
#include "LogoBoards.h"
#include "NetSdk.h"

namespace scoutrix::devsim {

namespace {

constexpr zip_uint64_t kMaxDescription = 64 * 1024;
constexpr zip_uint64_t kMaxImage = 16u << 20;

uint32_t be32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

std::string baseName(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string dirName(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

struct ZipCloser
{
    void operator()(zip_t *z) const { zip_discard(z); }
};

// The whole entry, or false when it is larger than |limit| or unreadable.
bool readEntry(zip_t *z, zip_uint64_t index, zip_uint64_t limit, std::vector<uint8_t> &out)
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) || st.size > limit)
        return false;
    zip_file_t *f = zip_fopen_index(z, index, 0);
    if (!f)
        return false;
    out.assign(std::size_t(st.size), 0);
    zip_int64_t got = 0;
    while (zip_uint64_t(got) < st.size) {
        const zip_int64_t n = zip_fread(f, out.data() + got, st.size - zip_uint64_t(got));
        if (n <= 0)
            break;
        got += n;
    }
    // One byte more would mean the directory lied about the size.
    uint8_t extra;
    const bool exact = zip_uint64_t(got) == st.size && zip_fread(f, &extra, 1) == 0;
    return zip_fclose(f) == 0 && exact;
}

std::string hex(const uint8_t *d, std::size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}

} // namespace

int32_t checkLogoPackage(const std::vector<uint8_t> &bytes, const LogoTarget &target,
    std::string &marker, std::string &why)
{
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t *src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &err);
    if (!src) {
        why = "zip source: out of memory";
        zip_error_fini(&err);
        return NETSDK_UPGRADE_ERR_LOGO_PACKAGE;
    }
    std::unique_ptr<zip_t, ZipCloser> z(zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err));
    if (!z) {
        why = std::string("not a readable zip: ") + zip_error_strerror(&err);
        zip_source_free(src);
        zip_error_fini(&err);
        return NETSDK_UPGRADE_ERR_LOGO_PACKAGE;
    }
    zip_error_fini(&err);
    const zip_int64_t count = zip_get_num_entries(z.get(), 0);
    zip_int64_t descIndex = -1;
    std::string descName;
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *name = zip_get_name(z.get(), zip_uint64_t(i), 0);
        if (name && baseName(name) == "InstallDesc") {
            if (descIndex >= 0) {
                why = "more than one InstallDesc";
                return NETSDK_UPGRADE_ERR_LOGO_PACKAGE;
            }
            descIndex = i;
            descName = name;
        }
    }
    std::vector<uint8_t> descBytes;
    if (descIndex < 0 || !readEntry(z.get(), zip_uint64_t(descIndex), kMaxDescription, descBytes)) {
        why = descIndex < 0 ? "no InstallDesc" : "InstallDesc unreadable or over 64 KiB";
        return NETSDK_UPGRADE_ERR_LOGO_PACKAGE;
    }
    JsonIn desc;
    std::string jsonError;
    if (!parseJson(std::string(descBytes.begin(), descBytes.end()), desc, jsonError)
        || !desc.is_object()) {
        why = "InstallDesc is not a JSON object: " + jsonError;
        return NETSDK_UPGRADE_ERR_LOGO_PACKAGE;
    }
    std::string fileName;
    const auto commands = desc.find("UpgradeCommand");
    if (commands != desc.end() && commands->is_array()) {
        for (const auto &c : *commands) {
            if (!c.is_object())
                continue;
            const auto cmd = c.find("Command");
            const auto file = c.find("FileName");
            if (cmd != c.end() && cmd->is_string() && cmd->get<std::string>() == "Burn"
                && file != c.end() && file->is_string()) {
                fileName = file->get<std::string>();
                break;
            }
        }
    }
    if (fileName.empty() || fileName.find('/') != std::string::npos || fileName == "."
        || fileName == "..") {
        why = "InstallDesc names no image to burn";
        return NETSDK_UPGRADE_ERR_LOGO_PACKAGE;
    }
    const auto hardware = desc.find("Hardware");
    if (hardware == desc.end() || !hardware->is_string()
        || hardware->get<std::string>() != target.hardwareName) {
        why = "InstallDesc is for other hardware than " + target.hardwareName;
        return NETSDK_UPGRADE_ERR_LOGO_HARDWARE;
    }
    const zip_int64_t imageIndex
        = zip_name_locate(z.get(), (dirName(descName) + fileName).c_str(), ZIP_FL_ENC_RAW);
    std::vector<uint8_t> image;
    if (imageIndex < 0 || !readEntry(z.get(), zip_uint64_t(imageIndex), kMaxImage, image)) {
        why = "image " + fileName + (imageIndex < 0 ? " missing" : " unreadable or over 16 MiB");
        return NETSDK_UPGRADE_ERR_LOGO_PACKAGE;
    }
    if (image.size() < LegacyHeaderSize || be32(image.data()) != LegacyMagic) {
        why = "image has no boot-loader header";
        return NETSDK_UPGRADE_ERR_LOGO_IMAGE;
    }
    uint8_t header[LegacyHeaderSize];
    std::memcpy(header, image.data(), sizeof header);
    std::memset(header + 4, 0, 4);
    if (uint32_t(::crc32(0L, header, uInt(sizeof header))) != be32(image.data() + 4)) {
        why = "image header CRC mismatch";
        return NETSDK_UPGRADE_ERR_LOGO_IMAGE;
    }
    const uint32_t dataSize = be32(image.data() + 12);
    if (dataSize != image.size() - LegacyHeaderSize) {
        why = "image data size " + std::to_string(dataSize) + " but "
            + std::to_string(image.size() - LegacyHeaderSize) + " bytes follow the header";
        return NETSDK_UPGRADE_ERR_LOGO_IMAGE;
    }
    const uint8_t *data = image.data() + LegacyHeaderSize;
    if (uint32_t(::crc32(0L, data, uInt(dataSize))) != be32(image.data() + 24)) {
        why = "image data CRC mismatch";
        return NETSDK_UPGRADE_ERR_LOGO_IMAGE;
    }
    const bool squashfs = dataSize >= 4 && std::memcmp(data, "hsqs", 4) == 0;
    // cramfs keeps its magic in the host's order: either end is seen.
    const bool cramfs = dataSize >= 4
        && (std::memcmp(data, "\x45\x3d\xcd\x28", 4) == 0 || std::memcmp(data, "\x28\xcd\x3d\x45", 4) == 0);
    const firmware::LogoFileSystem wanted = firmware::logoFileSystemOf(target.hardwareName);
    if (!squashfs && !cramfs) {
        why = "no squashfs or cramfs file system in the image";
        return NETSDK_UPGRADE_ERR_LOGO_FILESYSTEM;
    }
    if (squashfs != (wanted == firmware::LogoFileSystem::Squashfs)) {
        why = std::string("board ") + target.hardwareName + " takes "
            + firmware::logoFileSystemName(wanted);
        return NETSDK_UPGRADE_ERR_LOGO_FILESYSTEM;
    }
    const firmware::LogoArea area
        = firmware::logoAreaOf(target.hardwareName, target.areaStart, target.areaEnd);
    if (image.size() > area.size()) {
        why = "image of " + std::to_string(image.size()) + " bytes over the logo area of "
            + std::to_string(area.size());
        return NETSDK_UPGRADE_ERR_LOGO_SIZE;
    }
    const auto digest = firmware::sha256(image.data(), image.size());
    marker = std::string(firmware::logoFileSystemName(wanted)) + " " + std::to_string(image.size())
        + " " + hex(digest.data(), digest.size());
    return 0;
}

} // namespace scoutrix::devsim
