#pragma once
// One upgrade as a device receives it: the announced file arrives in
// chunks, in order; a firmware file is checked as it streams (its model as
// soon as the header is in), a logo package is kept whole and checked at
// the commit. No I/O, so tests and the fuzz target drive it directly.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FirmwareFile.h"
#include "LogoPackage.h"
#include "Protocol.h"

namespace scoutrix::devsim {

class UpgradeJob
{
public:
    static constexpr uint32_t ChunkSize = 512 * 1024;
    static constexpr uint32_t MaxFileSize = 256u << 20;
    static constexpr uint32_t MaxLogoPackage = 16u << 20;

    enum class Kind { Unknown, Firmware, Logo };

    struct Target
    {
        std::string model;
        LogoTarget logo;
    };

    // 0, or why a device refuses this announcement before any byte.
    static int32_t beginRefusal(const proto::UpgradeBegin &begin);

    UpgradeJob(const proto::UpgradeBegin &begin, Target target);
    ~UpgradeJob();

    // 0, or the refusal that ends the transfer (NETSDK_UPGRADE_ERR_*).
    int32_t add(uint32_t offset, const uint8_t *data, std::size_t size);
    uint32_t received() const { return m_received; }

    // Every byte is in: 0 when the file may be written, else the refusal.
    int32_t commit();
    const std::string &why() const { return m_why; }

    Kind kind() const { return m_kind; }
    // After a commit of firmware: what it brings.
    const firmware::Header &firmware() const { return m_firmware.header(); }
    // After a commit of a logo package: the device's logo marker.
    const std::string &logoMarker() const { return m_logoMarker; }

private:
    int32_t refuse(int32_t status, std::string why);
    int32_t firmwareRefusal(firmware::Error e) const;

    proto::UpgradeBegin m_begin;
    Target m_target;
    uint32_t m_received = 0;
    Kind m_kind = Kind::Unknown;
    std::vector<uint8_t> m_kept; // the first bytes, or a whole logo package
    firmware::Verifier m_firmware;
    struct Digest;
    std::unique_ptr<Digest> m_whole;
    std::string m_logoMarker;
    std::string m_why;
    int32_t m_refused = 0;
};

} // namespace scoutrix::devsim
