#include "DeviceRecords.h"

namespace scoutrix {

std::string readFixedText(const char *field, std::size_t size)
{
    const void *nul = std::memchr(field, '\0', size);
    const std::size_t length = nul ? std::size_t(static_cast<const char *>(nul) - field) : size;
    return std::string(field, length);
}

void writeFixedText(char *field, std::size_t size, const std::string &text)
{
    if (size == 0)
        return;
    const std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), length);
    // Pad with zeros so nothing of an earlier, longer text stays behind.
    std::memset(field + length, 0, size - length);
}

const char *deviceTypeName(int32_t type)
{
    switch (type) {
    case int32_t(DeviceType::DVR): return "DVR";
    case int32_t(DeviceType::NVR): return "NVR";
    case int32_t(DeviceType::IPC): return "IPC";
    case int32_t(DeviceType::HVR): return "HVR";
    default: return "";
    }
}

std::string octetsText(const uint8_t octets[4])
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        if (i)
            s += '.';
        s += std::to_string(octets[i]);
    }
    return s;
}

std::string NetInfo::ipText() const { return octetsText(ip); }

void DeviceRecord::setCredentials(const std::string &user, const std::string &pass)
{
    writeFixedText(userName, CredentialBytes, user);
    writeFixedText(password, CredentialBytes, pass);
}

} // namespace scoutrix
