// libFuzzer target: what a device and the upgrade page read of an upgrade
// file. The firmware header codec and its streamed check, the emulator's
// transfer of a file in chunks, and the logo package check, on a zip as it
// comes and on one zipped here from an install description and an image.
//
// Input: byte 0 chooses the reader, byte 1 holds flags, bytes 2-5 a seed
// (little-endian) for the cuts and the choices, the rest is the file itself,
// so a seed is a real file behind six bytes. With bit 23 of the seed the
// checksums inside are made right first (header CRC and payload digest of a
// firmware file, the CRCs of a boot-loader image), so that mutations get past
// them to the checks behind. Every piece handed on is a copy of exactly its
// own size: a read past what was fed is an out-of-bounds read for the
// address sanitizer.
//
// The seeds in fuzz/corpus/fuzz_firmware are files that scoutrix-devsim
// --write-firmware and scoutrix-cli logo wrote, behind such a prefix.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <zip.h>
#include <zlib.h>

#include "FirmwareFile.h"
#include "LogoBoards.h"
#include "LogoPackage.h"
#include "NetSdk.h"
#include "Protocol.h"
#include "UpgradeJob.h"

using namespace scoutrix;

namespace {

constexpr std::size_t PrefixSize = 6;

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition))                                                                          \
            __builtin_trap();                                                                      \
    } while (0)

// Piece sizes from a seed: always whole bytes 1 or more, sometimes tiny,
// sometimes around the header's size, sometimes the rest at once.
class Cuts
{
public:
    Cuts(uint32_t seed, uint8_t flags)
        : m_x(seed | 1)
    {
        static const std::size_t kLargest[] = { 1, 3, 16, 143, 300, 2300, 4096, SIZE_MAX };
        m_largest = kLargest[flags & 7];
    }
    std::size_t next(std::size_t left)
    {
        m_x ^= m_x << 13;
        m_x ^= m_x >> 17;
        m_x ^= m_x << 5;
        const std::size_t piece = m_largest == SIZE_MAX ? left : 1 + m_x % m_largest;
        return piece < left ? piece : left;
    }
    uint32_t value() const { return m_x; }

private:
    uint32_t m_x;
    std::size_t m_largest;
};

std::vector<uint8_t> copyOf(const uint8_t *data, std::size_t size)
{
    return std::vector<uint8_t>(data, data + size);
}

std::array<uint8_t, 32> digestOf(const proto::UpgradeBegin &begin)
{
    std::array<uint8_t, 32> d {};
    std::memcpy(d.data(), begin.sha256, d.size());
    return d;
}

void put32(uint8_t *p, uint32_t v, bool bigEndian)
{
    for (int i = 0; i < 4; ++i)
        p[bigEndian ? 3 - i : i] = uint8_t(v >> (8 * i));
}

// Header CRC and payload digest as a writer would set them, whatever the
// header says otherwise.
void sealFirmware(std::vector<uint8_t> &file)
{
    if (file.size() < firmware::FixedHeaderSize)
        return;
    const uint32_t count = uint32_t(file[12]) | uint32_t(file[13]) << 8 | uint32_t(file[14]) << 16
        | uint32_t(file[15]) << 24;
    if (count > firmware::MaxModels)
        return;
    const std::size_t length = firmware::FixedHeaderSize + count * firmware::ModelFieldSize;
    if (file.size() < length)
        return;
    const auto digest = firmware::sha256(file.data() + length, file.size() - length);
    std::memcpy(file.data() + 104, digest.data(), digest.size());
    std::memset(file.data() + 136, 0, 4);
    put32(file.data() + 136, uint32_t(::crc32(0L, file.data(), uInt(length))), false);
}

// The boot-loader image's data size and both CRCs.
void sealImage(std::vector<uint8_t> &image)
{
    if (image.size() < devsim::LegacyHeaderSize)
        return;
    const std::size_t data = image.size() - devsim::LegacyHeaderSize;
    put32(image.data() + 12, uint32_t(data), true);
    put32(image.data() + 24, uint32_t(::crc32(0L, image.data() + devsim::LegacyHeaderSize, uInt(data))), true);
    std::memset(image.data() + 4, 0, 4);
    put32(image.data() + 4, uint32_t(::crc32(0L, image.data(), uInt(devsim::LegacyHeaderSize))), true);
}

struct ZipEntry
{
    std::string name;
    std::vector<uint8_t> bytes;
};

// The entries zipped in memory, stored or deflated; empty when libzip fails.
std::vector<uint8_t> zipOf(const std::vector<ZipEntry> &entries, bool deflate)
{
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t *src = zip_source_buffer_create(nullptr, 0, 0, &err);
    zip_error_fini(&err);
    if (!src)
        return {};
    zip_source_keep(src);
    std::vector<uint8_t> out;
    if (zip_t *z = zip_open_from_source(src, ZIP_TRUNCATE, nullptr)) {
        bool added = true;
        for (const ZipEntry &e : entries) {
            zip_source_t *s = zip_source_buffer(z, e.bytes.data(), e.bytes.size(), 0);
            const zip_int64_t index = s ? zip_file_add(z, e.name.c_str(), s, ZIP_FL_ENC_RAW) : -1;
            if (index < 0) {
                zip_source_free(s);
                added = false;
                break;
            }
            zip_set_file_compression(z, zip_uint64_t(index), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 1);
        }
        if (!added || zip_close(z) != 0) {
            zip_discard(z);
        } else if (zip_source_open(src) == 0) {
            zip_source_seek(src, 0, SEEK_END);
            const zip_int64_t size = zip_source_tell(src);
            zip_source_seek(src, 0, SEEK_SET);
            out.resize(size > 0 ? std::size_t(size) : 0);
            if (size <= 0 || zip_source_read(src, out.data(), zip_uint64_t(size)) != size)
                out.clear();
            zip_source_close(src);
        }
    }
    zip_source_free(src);
    return out;
}

bool sameHeader(const firmware::Header &a, const firmware::Header &b)
{
    return a.models == b.models && a.version == b.version && a.payloadLength == b.payloadLength
        && a.payloadSha256 == b.payloadSha256 && std::memcmp(a.build, b.build, sizeof a.build) == 0;
}

firmware::Error verifyWhole(const uint8_t *file, std::size_t size, firmware::Header *header = nullptr)
{
    firmware::Verifier v;
    v.feed(file, size);
    std::string why;
    const firmware::Error e = v.finish(why);
    CHECK(e == firmware::Error::None || !why.empty());
    if (header && v.hasHeader())
        *header = v.header();
    return e;
}

void firmwareFile(const uint8_t *file, std::size_t size, Cuts &cuts)
{
    firmware::Header parsed;
    std::string why;
    const firmware::Error e = firmware::parseHeader(file, size, parsed, why);
    if (e == firmware::Error::None) {
        // One encoding per header: what parses writes back to the same bytes.
        std::vector<uint8_t> again;
        CHECK(parsed.encode(again, why));
        CHECK(again.size() == parsed.headerLength() && again.size() <= size);
        CHECK(std::memcmp(again.data(), file, again.size()) == 0);
    } else {
        CHECK(!why.empty());
    }

    // However the file is cut, the verdict is that of the file in one piece.
    firmware::Header wholeHeader;
    const firmware::Error whole = verifyWhole(file, size, &wholeHeader);
    firmware::Verifier v;
    bool refused = false;
    for (std::size_t at = 0; at < size;) {
        const std::size_t n = cuts.next(size - at);
        const std::vector<uint8_t> piece = copyOf(file + at, n);
        at += n;
        if (!v.feed(piece.data(), piece.size())) {
            refused = true;
            break;
        }
    }
    if (refused) {
        const uint8_t more = 0;
        CHECK(!v.feed(&more, 1)); // a refusal is final
    }
    std::string streamedWhy;
    const firmware::Error streamed = v.finish(streamedWhy);
    CHECK(streamed == whole);
    std::string secondWhy;
    CHECK(v.finish(secondWhy) == streamed && secondWhy == streamedWhy);
    if (e != firmware::Error::None) {
        // A header's fault is the file's fault.
        CHECK(streamed == e);
        return;
    }
    CHECK(v.hasHeader() && sameHeader(v.header(), parsed) && sameHeader(wholeHeader, parsed));
    const std::size_t headerLength = parsed.headerLength();
    const uint64_t payload = size - headerLength;
    if (streamed == firmware::Error::None) {
        CHECK(payload == parsed.payloadLength);
        CHECK(firmware::sha256(file + headerLength, std::size_t(payload)) == parsed.payloadSha256);
    } else if (payload < parsed.payloadLength) {
        CHECK(streamed == firmware::Error::Truncated);
    } else if (payload > parsed.payloadLength) {
        CHECK(streamed == firmware::Error::TrailingBytes);
    } else {
        CHECK(streamed == firmware::Error::Checksum);
    }
}

// Boards of each logo kind and a model; the last has its area from the seed,
// possibly one that ends before it starts.
devsim::UpgradeJob::Target targetOf(uint8_t choice, uint32_t seed)
{
    switch (choice & 3) {
    case 0:
        return { "SX-IPC-4M", { "QRX52_IPC4M", 0x790000, 0x7A0000 } };
    case 1:
        return { "SX-NVR-8", { "NVR3536A", 0x100000, 0x140000 } };
    case 2:
        return { "SX-IPC-2M", { "YMC06_S2M", 0, 0 } };
    default:
        return { "", { "DVR3521A", (seed & 0xffffu) << 8, (seed >> 16) << 8 } };
    }
}

void checkLogo(const std::vector<uint8_t> &file, const devsim::LogoTarget &target)
{
    std::string marker, why;
    const int32_t r = devsim::checkLogoPackage(file, target, marker, why);
    if (r != 0) {
        CHECK(r <= NETSDK_UPGRADE_ERR_LOGO_PACKAGE && r >= NETSDK_UPGRADE_ERR_LOGO_SIZE);
        CHECK(!why.empty());
        return;
    }
    // "squashfs 4160 <digest>": the board's own file system, and an image
    // that fits the board's area.
    const std::string fs = firmware::logoFileSystemName(firmware::logoFileSystemOf(target.hardwareName));
    CHECK(marker.compare(0, fs.size() + 1, fs + " ") == 0);
    const unsigned long imageSize = std::stoul(marker.substr(fs.size() + 1));
    const auto area = firmware::logoAreaOf(target.hardwareName, target.areaStart, target.areaEnd);
    CHECK(imageSize >= devsim::LegacyHeaderSize && imageSize <= area.size());
}

// The emulator's side of a transfer: the announcement, the chunks in order
// (or, when the flags say so, one at a wrong offset), then the commit.
void upgradeJob(const uint8_t *file, std::size_t size, uint8_t flags, uint32_t seed, Cuts &cuts)
{
    using devsim::UpgradeJob;
    proto::UpgradeBegin begin;
    begin.upgradeType = flags >> 6; // 3 is no type at all
    begin.fileSize = uint32_t(size);
    if (flags & 0x08) // announced one size, sent another
        begin.fileSize = uint32_t(size + (seed >> 24) - 128);
    if (flags & 0x10) {
        const auto digest = firmware::sha256(file, size);
        std::memcpy(begin.sha256, digest.data(), digest.size());
    }
    if (UpgradeJob::beginRefusal(begin) != 0)
        return;
    const UpgradeJob::Target target = targetOf(uint8_t(seed >> 8), seed);
    UpgradeJob job(begin, target);
    const std::size_t misplacedAt = flags & 0x20 ? (seed >> 4) % 8 : SIZE_MAX;
    bool misplaced = false;
    int32_t refused = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; at < size; ++i) {
        std::size_t n = cuts.next(size - at);
        if (n > UpgradeJob::ChunkSize)
            n = UpgradeJob::ChunkSize;
        const std::vector<uint8_t> piece = copyOf(file + at, n);
        const uint32_t offset = uint32_t(at) + (i == misplacedAt ? 1 : 0);
        misplaced |= i == misplacedAt;
        const uint32_t before = job.received();
        const int32_t r = job.add(offset, piece.data(), piece.size());
        at += n;
        CHECK(job.received() <= begin.fileSize);
        if (refused) {
            CHECK(r == refused && job.received() == before); // the first refusal stands
            continue;
        }
        if (offset != before)
            CHECK(r == NETSDK_UPGRADE_ERR_TRANSFER);
        if (r) {
            CHECK(!job.why().empty());
            refused = r;
        } else {
            CHECK(job.received() == before + n);
        }
    }
    const int32_t committed = job.commit();
    if (refused) {
        CHECK(committed == refused);
        return;
    }
    CHECK(committed == 0 || !job.why().empty());
    const bool faithful = !misplaced && begin.fileSize == size
        && firmware::sha256(file, size) == digestOf(begin);
    if (!faithful) {
        CHECK(committed != 0);
        return;
    }
    // Sent as announced: the device's verdict is that of its own checks on
    // the whole file.
    if (size >= 4 && std::memcmp(file, "SXFW", 4) == 0) {
        firmware::Header h;
        const bool good = verifyWhole(file, size, &h) == firmware::Error::None;
        CHECK((committed == 0) == (good && h.acceptsModel(target.model)));
        if (committed == 0)
            CHECK(job.kind() == UpgradeJob::Kind::Firmware && sameHeader(job.firmware(), h));
    } else if (size >= 4 && std::memcmp(file, "PK\x03\x04", 4) == 0) {
        std::string marker, why;
        const int32_t own = devsim::checkLogoPackage(copyOf(file, size), target.logo, marker, why);
        CHECK(committed == (size > UpgradeJob::MaxLogoPackage ? NETSDK_UPGRADE_ERR_TOO_LARGE : own));
        if (committed == 0)
            CHECK(job.kind() == UpgradeJob::Kind::Logo && marker == job.logoMarker());
    } else {
        CHECK(committed == NETSDK_UPGRADE_ERR_FORMAT);
    }
}

// A package zipped here: the file is a u16 (little-endian) length of the
// install description, the description, then the image, which the seeds'
// descriptions name "logo-x.img". The flags put both in a folder, add a
// second description, or leave the image out.
void builtLogo(const std::vector<uint8_t> &file, uint8_t flags, uint32_t seed, bool seal)
{
    if (file.size() < 2)
        return;
    const std::size_t descSize = std::min<std::size_t>(file[0] | file[1] << 8, file.size() - 2);
    const std::vector<uint8_t> desc(file.begin() + 2, file.begin() + 2 + std::ptrdiff_t(descSize));
    std::vector<uint8_t> image(file.begin() + 2 + std::ptrdiff_t(descSize), file.end());
    if (seal)
        sealImage(image);
    const std::string folder = flags & 0x08 ? "Logo/" : "";
    std::vector<ZipEntry> entries { { folder + "InstallDesc", desc } };
    if (!(flags & 0x10))
        entries.push_back({ folder + "logo-x.img", image });
    if (flags & 0x20)
        entries.push_back({ "Other/InstallDesc", desc });
    const std::vector<uint8_t> zip = zipOf(entries, flags & 0x40);
    if (zip.empty())
        return;
    checkLogo(zip, targetOf(flags, seed).logo);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < PrefixSize)
        return 0;
    const uint8_t what = data[0];
    const uint8_t flags = data[1];
    const uint32_t seed
        = uint32_t(data[2]) | uint32_t(data[3]) << 8 | uint32_t(data[4]) << 16 | uint32_t(data[5]) << 24;
    const bool seal = seed & 0x800000u;
    // The file in a buffer of its own size.
    std::vector<uint8_t> file = copyOf(data + PrefixSize, size - PrefixSize);
    if (seal && what % 4 < 2)
        sealFirmware(file);
    Cuts cuts(seed, flags);
    switch (what % 4) {
    case 0:
        firmwareFile(file.data(), file.size(), cuts);
        break;
    case 1:
        upgradeJob(file.data(), file.size(), flags, seed, cuts);
        break;
    case 2:
        checkLogo(file, targetOf(flags, seed).logo);
        break;
    default:
        builtLogo(file, flags, seed, seal);
        break;
    }
    return 0;
}
