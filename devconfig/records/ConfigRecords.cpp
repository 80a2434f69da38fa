#include "ConfigRecords.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace scoutrix {

std::string DeviceInfoRecord::buildTimeText() const
{
    char text[64];
    std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", word(BuildYear), word(BuildMonth),
                  word(BuildDay), word(BuildHour), word(BuildMinute), word(BuildSecond));
    return text;
}

void DeviceInfoRecord::setBuildTime(int year, int month, int day, int hour, int minute, int second)
{
    setWord(BuildYear, year);
    setWord(BuildMonth, month);
    setWord(BuildDay, day);
    setWord(BuildHour, hour);
    setWord(BuildMinute, minute);
    setWord(BuildSecond, second);
}

namespace {

std::string boundedText(const uint8_t *field, std::size_t size)
{
    const auto *end = static_cast<const uint8_t *>(std::memchr(field, 0, size));
    return std::string(reinterpret_cast<const char *>(field), end ? std::size_t(end - field) : size);
}

// Keeps at most size - 1 bytes and NUL-fills the rest of the field.
std::size_t writeBoundedText(uint8_t *field, std::size_t size, const std::string &text)
{
    const std::size_t kept = std::min(text.size(), size - 1);
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), kept);
    return kept;
}

} // namespace

std::string NtpRecord::server() const { return boundedText(bytes + Server, ServerBytes); }

void NtpRecord::setServer(const std::string &latin1) { writeBoundedText(bytes + Server, ServerBytes, latin1); }

std::string HardwareRecord::hardwareName() const { return boundedText(bytes + Name, NameBytes); }
std::string HardwareRecord::versionText() const { return boundedText(bytes + Version, VersionBytes); }
std::string HardwareRecord::vendorText() const { return boundedText(bytes + Vendor, VendorBytes); }
void HardwareRecord::setHardwareName(const std::string &text) { writeBoundedText(bytes + Name, NameBytes, text); }
void HardwareRecord::setVersionText(const std::string &text) { writeBoundedText(bytes + Version, VersionBytes, text); }
void HardwareRecord::setVendorText(const std::string &text) { writeBoundedText(bytes + Vendor, VendorBytes, text); }

std::string ChannelNamesRecord::name(int channel) const
{
    if (channel < 0 || channel >= Channels)
        return {};
    return boundedText(bytes + std::size_t(channel) * ChannelNameBytes, ChannelNameBytes);
}

std::size_t ChannelNamesRecord::setName(int channel, const std::string &text)
{
    if (channel < 0 || channel >= Channels)
        return 0;
    return writeBoundedText(bytes + std::size_t(channel) * ChannelNameBytes, ChannelNameBytes, text);
}

} // namespace scoutrix
