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

DeviceTarget DeviceTarget::of(const DeviceRecord &device, int index)
{
    DeviceTarget t;
    t.deviceIndex = index;
    t.mac = device.netInfo.macText();
    t.ip = fieldText(device.ipText);
    t.port = device.port;
    t.user = fieldText(device.userName);
    t.password = fieldText(device.password);
    t.serial = device.devInfo.serialText();
    t.model = device.devInfo.modelText();
    return t;
}

DeviceTarget DeviceTarget::of(const SearchRecord &found, int index, const std::string &user,
                              const std::string &password)
{
    DeviceTarget t;
    t.deviceIndex = index;
    t.mac = found.net.macText();
    t.ip = found.net.ipText();
    t.port = found.net.loginPort();
    t.user = user;
    t.password = password;
    t.serial = found.dev.serialText();
    t.model = found.dev.modelText();
    return t;
}

} // namespace scoutrix
