#include "RecordMap.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

#include "ConfigRecords.h"
#include "DeviceRecords.h"
#include "MapCommon.h"
#include "NetSdk.h"
#include "Protocol.h"

namespace scoutrix::netsdk::onvifmap {

namespace {

const char kScopePrefix[] = "onvif://www.onvif.org/";

// The text after onvif://www.onvif.org/<what>/ in the first scope that has
// one, percent-decoded (scopes are URIs, and names carry %20).
std::string scopeValue(const std::vector<std::string> &scopes, const std::string &what)
{
    const std::string prefix = kScopePrefix + what + "/";
    for (const std::string &scope : scopes) {
        if (scope.size() <= prefix.size() || scope.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string out;
        const std::string raw = scope.substr(prefix.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '%' && i + 2 < raw.size() && std::isxdigit(uint8_t(raw[i + 1]))
                && std::isxdigit(uint8_t(raw[i + 2]))) {
                out += char(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                out += raw[i];
            }
        }
        return out;
    }
    return {};
}

bool scopeOrTypeNames(const FoundDevice &found, const char *name)
{
    const std::string typeScope = std::string(kScopePrefix) + "type/" + name;
    return std::find(found.types.begin(), found.types.end(), name) != found.types.end()
        || std::find(found.scopes.begin(), found.scopes.end(), typeScope) != found.scopes.end();
}

// Twelve hex-digit pairs, colon separated, upper case; empty when |text|
// is no MAC address.
std::string normalisedMac(const std::string &text)
{
    std::string digits;
    for (const char c : text) {
        if (std::isxdigit(uint8_t(c)))
            digits += char(std::toupper(uint8_t(c)));
        else if (c != ':' && c != '-')
            return {};
    }
    if (digits.size() != 12)
        return {};
    std::string out;
    for (std::size_t i = 0; i < 12; i += 2) {
        if (!out.empty())
            out += ':';
        out += digits.substr(i, 2);
    }
    return out;
}

// The endpoint's 32 hex digits: those of its UUID, or for an address that
// is no UUID a stable digest of it, so the identity still survives an
// address change.
std::string endpointDigits(const std::string &endpoint)
{
    std::string digits;
    for (const char c :
        endpoint.substr(endpoint.rfind(':') == std::string::npos ? 0 : endpoint.rfind(':') + 1)) {
        if (std::isxdigit(uint8_t(c)))
            digits += char(std::tolower(uint8_t(c)));
        else if (c != '-')
            break;
    }
    if (digits.size() == 32)
        return digits;
    uint64_t halves[2] = { 14695981039346656037ull, 1099511628211ull * 31 };
    for (uint64_t &h : halves) {
        for (const char c : endpoint)
            h = (h ^ uint8_t(c)) * 1099511628211ull;
    }
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(halves[0]),
        static_cast<unsigned long long>(halves[1]));
    return text;
}

void putText(uint8_t *field, std::size_t size, const std::string &text)
{
    writeFixedText(reinterpret_cast<char *>(field), size, text);
}

bool parseIpv4(const std::string &text, uint8_t out[4])
{
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255
        || c > 255 || d > 255)
        return false;
    out[0] = uint8_t(a);
    out[1] = uint8_t(b);
    out[2] = uint8_t(c);
    out[3] = uint8_t(d);
    return true;
}

void maskOfPrefix(int prefix, uint8_t out[4])
{
    const uint32_t mask = prefix <= 0 ? 0 : prefix >= 32 ? 0xffffffffu : ~(0xffffffffu >> prefix);
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(mask >> (24 - 8 * i));
}

// -1 for a mask whose ones are not contiguous.
int prefixOfMask(const uint8_t mask[4])
{
    const uint32_t m
        = uint32_t(mask[0]) << 24 | uint32_t(mask[1]) << 16 | uint32_t(mask[2]) << 8 | mask[3];
    int prefix = 0;
    while (prefix < 32 && (m >> (31 - prefix) & 1u))
        ++prefix;
    const uint32_t expected = prefix == 0 ? 0 : ~(0xffffffffu >> prefix);
    return m == expected ? prefix : -1;
}

// The interface the device is reached on: the first enabled one with IPv4.
const onvif::NetworkInterface *mainInterface(const std::vector<onvif::NetworkInterface> &all)
{
    for (const onvif::NetworkInterface &i : all) {
        if (i.enabled && i.ipv4Enabled)
            return &i;
    }
    return all.empty() ? nullptr : &all.front();
}

// The main interface, or a result code.
int32_t readInterface(onvif::DeviceApi &device, onvif::NetworkInterface &out)
{
    const auto interfaces = device.getNetworkInterfaces();
    if (!interfaces)
        return resultFor(interfaces.failure());
    const onvif::NetworkInterface *nic = mainInterface(interfaces.value());
    if (!nic)
        return NETSDK_ERR_NOT_SUPPORTED;
    out = *nic;
    return NETSDK_OK;
}

int32_t readNetwork(
    onvif::DeviceApi &device, onvif::NetworkInterface &nic, std::vector<std::string> &gateways)
{
    if (const int32_t r = readInterface(device, nic); r < 0)
        return r;
    auto answer = device.getNetworkDefaultGateway();
    if (!answer)
        return resultFor(answer.failure());
    gateways = std::move(answer.value());
    return NETSDK_OK;
}

int32_t getNetInfo(onvif::DeviceApi &device, const DeviceContext &context, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned)
{
    onvif::NetworkInterface nic;
    std::vector<std::string> gateways;
    if (const int32_t r = readNetwork(device, nic, gateways); r < 0)
        return r;
    NetInfo net;
    zero(net);
    parseIpv4(nic.address, net.ip);
    maskOfPrefix(nic.prefixLength, net.mask);
    if (!gateways.empty())
        parseIpv4(gateways.front(), net.gateway);
    net.setPortValue(context.port);
    writeLe32(net.reserved84, context.port);
    setFieldText(net.mac, context.macText);
    return putRecord(net, buffer, bufferSize, bytesReturned);
}

int32_t getDhcp(onvif::DeviceApi &device, void *buffer, int32_t bufferSize, int32_t *bytesReturned)
{
    onvif::NetworkInterface nic;
    if (const int32_t r = readInterface(device, nic); r < 0)
        return r;
    DhcpRecord record;
    zero(record);
    record.setWord(DhcpRecord::Enable, nic.dhcp ? 1 : 0);
    return putRecord(record, buffer, bufferSize, bytesReturned);
}

int32_t setDhcp(onvif::DeviceApi &device, const void *buffer, int32_t size)
{
    DhcpRecord record;
    if (!takeRecord(buffer, size, record))
        return NETSDK_ERR_FAIL;
    const int32_t on = record.word(DhcpRecord::Enable);
    if (on != 0 && on != 1)
        return NETSDK_ERR_FAIL;
    onvif::NetworkInterface nic;
    if (const int32_t r = readInterface(device, nic); r < 0)
        return r;
    if (nic.dhcp == (on == 1))
        return NETSDK_OK;
    onvif::NetworkInterfaceChange change;
    change.token = nic.token;
    change.dhcp = on == 1;
    if (on == 0) {
        // Leaving DHCP keeps the address it obtained, now as a manual one.
        change.address = nic.address;
        change.prefixLength = nic.prefixLength;
    }
    const auto done = device.setNetworkInterfaces(change);
    return done ? doneResult(done->rebootNeeded) : resultFor(done.failure());
}

int32_t setDefaults(onvif::DeviceApi &device, const void *buffer, int32_t size)
{
    RestoreDefaultsRecord record;
    if (!takeRecord(buffer, size, record))
        return NETSDK_ERR_FAIL;
    bool any = false;
    for (int g = 0; g < RestoreDefaultsRecord::Groups; ++g) {
        const int32_t w = record.word(std::size_t(4 * g));
        if (w != 0 && w != 1)
            return NETSDK_ERR_FAIL;
        any = any || (w == 1 && g != RestoreDefaultsRecord::Unused);
    }
    if (!any)
        return NETSDK_OK;
    // A soft factory default keeps the network and the users; answering
    // success to a request for those would be untrue.
    if (record.group(RestoreDefaultsRecord::Network)
        || record.group(RestoreDefaultsRecord::Account))
        return NETSDK_ERR_NOT_SUPPORTED;
    const auto done = device.setSystemFactoryDefault(false);
    return done ? doneResult(done->rebootNeeded) : resultFor(done.failure());
}

// The firmware build time: ONVIF has none, and this date makes the encode
// page read the resolution list the mapping builds from the device.
constexpr int kBuildTime[6] = { 2021, 9, 17, 0, 0, 0 };

int32_t getDeviceInfo(onvif::DeviceApi &device, DeviceContext &context, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned)
{
    const auto info = device.getDeviceInformation();
    if (!info)
        return resultFor(info.failure());
    context.info = info.value();
    if (context.profiles.empty()) {
        if (const int32_t r = refreshProfiles(device, context); r < 0)
            return r;
    }
    DeviceInfoRecord record;
    zero(record);
    putText(record.bytes, 64, info->firmwareVersion);
    putText(record.bytes + 64, 64, info->serialNumber);
    putText(record.bytes + 128, 32, info->model);
    record.setWord(160, int32_t(channelsOf(context.profiles).size()));
    record.setWord(164, 0);
    record.setWord(168, context.deviceType);
    record.setBuildTime(
        kBuildTime[0], kBuildTime[1], kBuildTime[2], kBuildTime[3], kBuildTime[4], kBuildTime[5]);
    putText(record.bytes + 224, 32, info->hardwareId);
    return putRecord(record, buffer, bufferSize, bytesReturned);
}

} // namespace

std::vector<Channel> channelsOf(const std::vector<onvif::Profile> &profiles)
{
    std::vector<Channel> channels;
    for (const onvif::Profile &p : profiles) {
        if (p.videoSourceToken.empty())
            continue;
        auto it = std::find_if(channels.begin(), channels.end(),
            [&p](const Channel &c) { return c.sourceToken == p.videoSourceToken; });
        if (it == channels.end())
            it = channels.insert(channels.end(), Channel { p.videoSourceToken, {} });
        if (p.videoEncoder)
            it->streams.push_back(p);
    }
    return channels;
}

int32_t refreshProfiles(onvif::DeviceApi &device, DeviceContext &context)
{
    auto profiles = device.getProfiles();
    if (!profiles)
        return resultFor(profiles.failure());
    context.profiles = std::move(profiles.value());
    return NETSDK_OK;
}

int32_t doneResult(bool rebootNeeded)
{
    return rebootNeeded ? NETSDK_ERR_NEED_REBOOT : NETSDK_OK;
}

std::string macTextOf(const FoundDevice &found)
{
    const std::string mac = normalisedMac(scopeValue(found.scopes, "MAC"));
    if (!mac.empty())
        return mac;
    return "u" + endpointDigits(found.endpoint);
}

int32_t deviceTypeOf(const FoundDevice &found)
{
    if (scopeOrTypeNames(found, "NetworkVideoRecorder")
        || scopeOrTypeNames(found, "NetworkVideoStorage") || scopeOrTypeNames(found, "Storage"))
        return int32_t(DeviceType::NVR);
    return int32_t(DeviceType::IPC);
}

void fillSearchRecord(const FoundDevice &found, void *out)
{
    SearchRecord record;
    zero(record);
    std::string model = found.info && !found.info->model.empty()
        ? found.info->model
        : scopeValue(found.scopes, "hardware");
    if (model.empty())
        model = "ONVIF";
    std::string serial = found.info ? found.info->serialNumber : std::string();
    if (serial.empty())
        serial = endpointDigits(found.endpoint).substr(20);

    if (!parseIpv4(found.host, record.net.ip))
        std::memset(record.net.ip, 0, 4);
    maskOfPrefix(24, record.net.mask);
    record.net.setPortValue(found.port);
    writeLe32(record.net.reserved84, found.port); // the web port is the same service
    setFieldText(record.net.mac, macTextOf(found));
    putText(record.net.reserved0, sizeof record.net.reserved0,
        model + "-" + serial.substr(serial.size() > 4 ? serial.size() - 4 : 0));

    const int32_t type = deviceTypeOf(found);
    if (found.info)
        putText(record.dev.reserved0, sizeof record.dev.reserved0, found.info->firmwareVersion);
    setFieldText(record.dev.serial, serial);
    setFieldText(record.dev.model, model);
    record.dev.setDeviceType(type);
    // A camera is one channel; a recorder's count is learnt at login.
    writeLe32(record.dev.reserved164, type == int32_t(DeviceType::IPC) ? 1u : 0u);
    std::memcpy(out, &record, sizeof record);
}

void fillLoginInfo(const DeviceContext &context, void *out)
{
    LoginInfo block;
    zero(block);
    putText(block.bytes + LoginInfo::VersionText, LoginInfo::VersionTextSize,
        context.info.firmwareVersion);
    putText(block.bytes + 64, 64, context.info.serialNumber);
    putText(block.bytes + 128, 32, context.info.model);
    block.setWord(LoginInfo::VideoChannelCount, int32_t(channelsOf(context.profiles).size()));
    block.setWord(LoginInfo::LoginDeviceType, context.deviceType);
    block.setWord(LoginInfo::AudioChannelCount, 0);
    block.setWord(LoginInfo::AllChannelsFlag, 0);
    std::memcpy(out, &block, sizeof block);
}

int32_t resultFor(const onvif::Failure &failure)
{
    switch (failure.kind) {
    case onvif::CallError::NotAuthorized:
        return NETSDK_ERR_PASSWORD;
    case onvif::CallError::Timeout:
        return NETSDK_ERR_TIMEOUT;
    case onvif::CallError::NotSupported:
        return NETSDK_ERR_NOT_SUPPORTED;
    case onvif::CallError::Unreachable:
        return proto::NetworkError;
    case onvif::CallError::BadAnswer:
        return proto::ProtocolError;
    case onvif::CallError::InvalidArgument:
    case onvif::CallError::Fault:
        break;
    }
    return NETSDK_ERR_FAIL;
}

int32_t getConfig(onvif::DeviceApi &device, DeviceContext &context, int32_t command,
    int32_t channel, void *buffer, int32_t bufferSize, int32_t *bytesReturned)
{
    switch (command) {
    case CmdNetWithoutLogin:
        return getNetInfo(device, context, buffer, bufferSize, bytesReturned);
    case CmdDhcp:
        return getDhcp(device, buffer, bufferSize, bytesReturned);
    case CmdDeviceInfo:
        return getDeviceInfo(device, context, buffer, bufferSize, bytesReturned);
    case CmdEncodeCaps:
    case CmdEncodeTable:
    case CmdResolutionList:
    case CmdVideoStandard:
        return getEncode(device, context, command, buffer, bufferSize, bytesReturned);
    case CmdSystemTime:
    case CmdNtp:
    case CmdTimeZone:
        return getClock(device, command, buffer, bufferSize, bytesReturned);
    case CmdImage:
    case CmdExposure:
    case CmdImageCaps:
        return getImage(device, context, command, channel, buffer, bufferSize, bytesReturned);
    default:
        return NETSDK_ERR_NOT_SUPPORTED;
    }
}

int32_t setConfig(onvif::DeviceApi &device, DeviceContext &context, int32_t command,
    int32_t channel, const void *buffer, int32_t size)
{
    switch (command) {
    case CmdNetWithoutLogin:
        return setNetwork(device, buffer, size);
    case CmdDhcp:
        return setDhcp(device, buffer, size);
    case CmdRestoreDefaults:
        return setDefaults(device, buffer, size);
    case CmdEncodeTable:
    case CmdVideoStandard:
        return setEncode(device, context, command, buffer, size);
    case CmdSystemTime:
    case CmdNtp:
    case CmdTimeZone:
        return setClock(device, command, buffer, size);
    case CmdImage:
    case CmdExposure:
        return setImage(device, context, command, channel, buffer, size);
    default:
        return NETSDK_ERR_NOT_SUPPORTED;
    }
}

int32_t setNetwork(onvif::DeviceApi &device, const void *netInfo, int32_t size)
{
    NetInfo wanted;
    if (!takeRecord(netInfo, size, wanted))
        return NETSDK_ERR_FAIL;
    const int prefix = prefixOfMask(wanted.mask);
    if (prefix <= 0 || wanted.ip[0] == 0)
        return NETSDK_ERR_FAIL;
    const std::string address = octetsText(wanted.ip);
    const std::string gateway = octetsText(wanted.gateway);

    onvif::NetworkInterface nic;
    std::vector<std::string> gateways;
    if (const int32_t r = readNetwork(device, nic, gateways); r < 0)
        return r;

    bool rebootNeeded = false;
    // The gateway goes first: once the address changes, the device is no
    // longer where this call reaches it.
    const std::vector<std::string> newGateways
        = gateway == "0.0.0.0" ? std::vector<std::string>() : std::vector<std::string> { gateway };
    const bool gatewayDiffers = gateways.empty()
        ? !newGateways.empty()
        : newGateways.empty() || gateways.front() != gateway;
    if (gatewayDiffers) {
        const auto done = device.setNetworkDefaultGateway(newGateways);
        if (!done)
            return resultFor(done.failure());
        rebootNeeded = done->rebootNeeded;
    }
    if (nic.dhcp || nic.address != address || nic.prefixLength != prefix) {
        onvif::NetworkInterfaceChange change;
        change.token = nic.token;
        if (nic.dhcp)
            change.dhcp = false;
        change.address = address;
        change.prefixLength = prefix;
        const auto done = device.setNetworkInterfaces(change);
        if (!done)
            return resultFor(done.failure());
        rebootNeeded = rebootNeeded || done->rebootNeeded;
    }
    return doneResult(rebootNeeded);
}

} // namespace scoutrix::netsdk::onvifmap
