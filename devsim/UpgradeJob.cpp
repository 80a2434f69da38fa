#include "UpgradeJob.h"

#include <algorithm>
#include <cstring>

#include <openssl/evp.h>

#include "NetSdk.h"

namespace scoutrix::devsim {

struct UpgradeJob::Digest
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    ~Digest() { EVP_MD_CTX_free(ctx); }
};

int32_t UpgradeJob::beginRefusal(const proto::UpgradeBegin &begin)
{
    if (begin.upgradeType < 0 || begin.upgradeType > 2)
        return NETSDK_UPGRADE_ERR_TYPE;
    if (begin.fileSize > MaxFileSize)
        return NETSDK_UPGRADE_ERR_TOO_LARGE;
    return 0;
}

UpgradeJob::UpgradeJob(const proto::UpgradeBegin &begin, Target target)
    : m_begin(begin)
    , m_target(std::move(target))
    , m_whole(std::make_unique<Digest>())
{
    if (!m_whole->ctx || EVP_DigestInit_ex(m_whole->ctx, EVP_sha256(), nullptr) != 1)
        refuse(NETSDK_UPGRADE_ERR_TRANSFER, "no SHA-256");
}

UpgradeJob::~UpgradeJob() = default;

int32_t UpgradeJob::refuse(int32_t status, std::string why)
{
    if (!m_refused) {
        m_refused = status;
        m_why = std::move(why);
    }
    m_kept.clear();
    m_kept.shrink_to_fit();
    return m_refused;
}

int32_t UpgradeJob::firmwareRefusal(firmware::Error e) const
{
    switch (e) {
    case firmware::Error::None:
        return 0;
    case firmware::Error::Truncated:
        return NETSDK_UPGRADE_ERR_TRUNCATED;
    case firmware::Error::Checksum:
        return NETSDK_UPGRADE_ERR_CHECKSUM;
    default:
        return NETSDK_UPGRADE_ERR_FORMAT;
    }
}

int32_t UpgradeJob::add(uint32_t offset, const uint8_t *data, std::size_t size)
{
    if (m_refused)
        return m_refused;
    if (offset != m_received || size == 0 || size > ChunkSize
        || size > m_begin.fileSize - m_received)
        return refuse(NETSDK_UPGRADE_ERR_TRANSFER,
            "chunk of " + std::to_string(size) + " bytes at " + std::to_string(offset) + " after "
                + std::to_string(m_received) + " of " + std::to_string(m_begin.fileSize));
    if (EVP_DigestUpdate(m_whole->ctx, data, size) != 1)
        return refuse(NETSDK_UPGRADE_ERR_TRANSFER, "SHA-256 failed");
    m_received += uint32_t(size);
    if (m_kind == Kind::Unknown) {
        // The first four bytes tell a firmware file from a zip.
        const std::size_t take = std::min<std::size_t>(size, 4 - m_kept.size());
        m_kept.insert(m_kept.end(), data, data + take);
        data += take;
        size -= take;
        if (m_kept.size() < 4)
            return 0;
        if (std::memcmp(m_kept.data(), "SXFW", 4) == 0) {
            m_kind = Kind::Firmware;
            m_firmware.feed(m_kept.data(), m_kept.size());
            m_kept.clear();
        } else if (std::memcmp(m_kept.data(), "PK\x03\x04", 4) == 0) {
            if (m_begin.fileSize > MaxLogoPackage)
                return refuse(NETSDK_UPGRADE_ERR_TOO_LARGE, "logo package over 16 MiB");
            m_kind = Kind::Logo;
            m_kept.reserve(m_begin.fileSize);
        } else {
            return refuse(NETSDK_UPGRADE_ERR_FORMAT, "neither a firmware file nor a zip");
        }
    }
    if (m_kind == Kind::Logo) {
        m_kept.insert(m_kept.end(), data, data + size);
        return 0;
    }
    if (!m_firmware.feed(data, size))
        return refuse(firmwareRefusal(m_firmware.error()), m_firmware.why());
    // The model is known as soon as the header is in: nothing more of a
    // file for another model is worth receiving.
    if (m_firmware.hasHeader() && !m_firmware.header().acceptsModel(m_target.model))
        return refuse(NETSDK_UPGRADE_ERR_MODEL, "firmware is not for " + m_target.model);
    return 0;
}

int32_t UpgradeJob::commit()
{
    if (m_refused)
        return m_refused;
    if (m_received != m_begin.fileSize)
        return refuse(NETSDK_UPGRADE_ERR_TRANSFER,
            "committed after " + std::to_string(m_received) + " of "
                + std::to_string(m_begin.fileSize) + " bytes");
    uint8_t digest[32];
    unsigned int n = 0;
    if (EVP_DigestFinal_ex(m_whole->ctx, digest, &n) != 1 || n != 32
        || std::memcmp(digest, m_begin.sha256, 32) != 0)
        return refuse(NETSDK_UPGRADE_ERR_TRANSFER, "file differs from the SHA-256 announced");
    switch (m_kind) {
    case Kind::Unknown:
        return refuse(NETSDK_UPGRADE_ERR_FORMAT, "file of fewer than 4 bytes");
    case Kind::Firmware: {
        std::string why;
        const firmware::Error e = m_firmware.finish(why);
        if (e != firmware::Error::None)
            return refuse(firmwareRefusal(e), why);
        return 0;
    }
    case Kind::Logo: {
        std::string why;
        const int32_t r = checkLogoPackage(m_kept, m_target.logo, m_logoMarker, why);
        m_kept.clear();
        m_kept.shrink_to_fit();
        return r ? refuse(r, why) : 0;
    }
    }
    return 0;
}

} // namespace scoutrix::devsim
