#include "Fleet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "DeviceModel.h"
#include "Net.h"
#include "Protocol.h"

namespace scoutrix::devsim {

namespace {

static_assert(MaxRecordSize + 4 == proto::MaxTcpPayload, "a record fits a get reply's frame");

constexpr const char *kDefaultUser = "admin";
constexpr const char *kDefaultPassword = "739204";

uint32_t ipv4(int a, int b, int c, int d)
{
    return uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8 | uint32_t(d);
}

// Builds before and after the firmware that brought the device's own
// resolution list (2021-09-17), and that very day.
const int kBuilds[4][6] = {
    { 2021, 3, 2, 10, 15, 0 },
    { 2022, 5, 10, 9, 30, 0 },
    { 2021, 9, 17, 8, 0, 0 },
    { 2021, 9, 16, 23, 59, 59 },
};

DeviceSpec makeDevice(int index, uint32_t ip, uint32_t gateway)
{
    static const int32_t kTypes[6] = { 2, 1, 2, 0, 2, 3 }; // IPC, NVR, IPC, DVR, IPC, HVR
    static const int kNvrChannels[4] = { 4, 8, 16, 32 };
    static const int kDvrChannels[3] = { 4, 8, 16 };
    static const int kHvrChannels[2] = { 8, 16 };
    DeviceSpec d;
    d.type = kTypes[index % 6];
    const int round = index / 6;
    switch (d.type) {
    case 2:
        d.channels = (index % 12 == 4) ? 2 : 1;
        d.audioChannels = 1;
        d.model = ((index / 2) % 3 == 0) ? "SX-IPC-4M"
                                         : ((index / 2) % 3 == 1 ? "SX-IPC-2M" : "SX-IPC-5M");
        break;
    case 1:
        d.channels = kNvrChannels[round % 4];
        d.audioChannels = d.channels;
        d.model = "SX-NVR-" + std::to_string(d.channels);
        break;
    case 0:
        d.channels = kDvrChannels[round % 3];
        d.audioChannels = d.channels / 2;
        d.model = "SX-DVR-" + std::to_string(d.channels);
        break;
    default:
        d.channels = kHvrChannels[round % 2];
        d.audioChannels = 4;
        d.model = "SX-HVR-" + std::to_string(d.channels);
        break;
    }
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:5C:A1:%02X:%02X:%02X", (index >> 16) & 0xff,
        (index >> 8) & 0xff, index & 0xff);
    d.mac = mac;
    char serial[32];
    std::snprintf(serial, sizeof serial, "SX%c%08d", "DNIH"[d.type], 20000 + index);
    d.serial = serial;
    d.ip = ip;
    d.gateway = gateway;
    d.mask = 0xffffff00u;
    d.ntsc = index % 5 == 4;
    const int *b = kBuilds[index % 4];
    for (int i = 0; i < 6; ++i)
        d.build[i] = b[i];
    char version[64];
    std::snprintf(version, sizeof version, "V%d.%d.%d build %02d%02d%02d", 3 + d.type, index % 7,
        index % 3, b[0] % 100, b[1], b[2]);
    d.version = version;
    d.users.push_back(User { kDefaultUser, kDefaultPassword });
    return d;
}

// The member |key| of an object, or null when absent (or |v| is no object).
// A null member is a wrong type, not a member left out.
const JsonIn *member(const JsonIn &v, const char *key)
{
    if (!v.is_object())
        return nullptr;
    const auto it = v.find(key);
    if (it == v.end())
        return nullptr;
    return &*it;
}

// A misspelt member ("pasword") would otherwise be ignored without a word.
bool onlyKnownMembers(const JsonIn &v, std::initializer_list<const char *> known, std::string &error)
{
    for (const auto &m : v.items()) {
        bool ok = false;
        for (const char *k : known)
            ok = ok || m.key() == k;
        if (!ok) {
            error = "unknown member \"" + m.key() + "\"";
            return false;
        }
    }
    return true;
}

// "YYYY-MM-DD" or "YYYY-MM-DD hh:mm:ss", digits exactly where they belong.
bool parseBuild(const std::string &text, int (&out)[6])
{
    static const char kFull[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() != 10 && text.size() != 19)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kFull[i] == 'd' ? !digit : text[i] != kFull[i])
            return false;
    }
    auto num = [&](std::size_t at, std::size_t n) { return std::stoi(text.substr(at, n)); };
    int b[6] = { num(0, 4), num(5, 2), num(8, 2), 0, 0, 0 };
    if (text.size() == 19) {
        b[3] = num(11, 2);
        b[4] = num(14, 2);
        b[5] = num(17, 2);
    }
    if (b[0] < 1970 || b[0] > 2099 || !isRealDate(b[0], b[1], b[2]) || b[3] > 23 || b[4] > 59
        || b[5] > 59)
        return false;
    for (int i = 0; i < 6; ++i)
        out[i] = b[i];
    return true;
}

bool has(const JsonIn &v, const char *key)
{
    return v.is_object() && v.contains(key);
}

bool wholeNumber(const JsonIn &x, int64_t lo, int64_t hi, int64_t &out)
{
    if (x.is_number_unsigned()) {
        const uint64_t u = x.get<uint64_t>();
        if (u > uint64_t(INT64_MAX))
            return false;
        out = int64_t(u);
    } else if (x.is_number_integer()) {
        out = x.get<int64_t>();
    } else if (x.is_number_float()) {
        const double d = x.get<double>();
        if (std::floor(d) != d || d < double(lo) || d > double(hi))
            return false;
        out = int64_t(d);
    } else {
        return false;
    }
    return out >= lo && out <= hi;
}

bool readInt(const JsonIn &v, const char *key, int lo, int hi, int &out, std::string &error)
{
    const JsonIn *x = member(v, key);
    if (!x)
        return true;
    int64_t n = 0;
    if (!wholeNumber(*x, lo, hi, n)) {
        error = std::string("\"") + key + "\" must be a whole number from " + std::to_string(lo)
            + " to " + std::to_string(hi);
        return false;
    }
    out = int(n);
    return true;
}

bool readBool(const JsonIn &v, const char *key, bool &out, std::string &error)
{
    const JsonIn *x = member(v, key);
    if (!x)
        return true;
    if (!x->is_boolean()) {
        error = std::string("\"") + key + "\" must be true or false";
        return false;
    }
    out = x->get<bool>();
    return true;
}

bool readText(const JsonIn &v, const char *key, std::string &out, std::string &error)
{
    const JsonIn *x = member(v, key);
    if (!x)
        return true;
    if (!x->is_string()) {
        error = std::string("\"") + key + "\" must be a text";
        return false;
    }
    out = x->get<std::string>();
    return true;
}

bool readAddress(const JsonIn &v, const char *key, uint32_t &out, std::string &error)
{
    std::string text;
    if (!readText(v, key, text, error))
        return false;
    if (text.empty())
        return true;
    if (!net::parseIpv4(text, out)) {
        error = std::string("\"") + key + "\" is not an IPv4 address: " + text;
        return false;
    }
    return true;
}

constexpr int64_t kClockOffsetLimit = 100LL * 366 * 86400;

const char *const kLightNames[3] = { "infrared", "full_color", "dual" };

int lightModeFromName(const std::string &name)
{
    for (int i = 0; i < 3; ++i) {
        if (name == kLightNames[i])
            return i;
    }
    return -1;
}

std::string addressText(uint32_t a)
{
    return net::ipv4Text(a);
}

bool deviceFromJson(const JsonIn &v, DeviceSpec &d, std::string &error)
{
    if (!v.is_object()) {
        error = "a device must be an object";
        return false;
    }
    if (!onlyKnownMembers(v,
            { "ip", "mask", "gateway", "port", "mac", "serial", "model", "version", "type",
                "channels", "audio_channels", "standard", "build", "users", "lockout_after",
                "lockout_ms", "max_sessions", "blacklist", "uninitialised", "reboot_ms", "records",
                "faults", "language", "lights", "onvif", "dhcp", "clock_offset_s", "flash_ms",
                "hardware", "protocol" },
            error))
        return false;
    std::string type, protocol;
    if (!readText(v, "type", type, error) || !readText(v, "protocol", protocol, error))
        return false;
    if (protocol == "onvif") {
        d.protocol = Protocol::Onvif;
    } else if (protocol == "own") {
        d.protocol = Protocol::Own;
    } else if (!protocol.empty()) {
        error = "unknown protocol \"" + protocol + "\" (own or onvif)";
        return false;
    }
    if (!type.empty()) {
        d.type = deviceTypeFromName(type);
        if (d.type < 0) {
            error = "unknown device type \"" + type + "\" (IPC, NVR, DVR or HVR)";
            return false;
        }
    }
    int port = d.port;
    if (!readText(v, "mac", d.mac, error) || !readText(v, "serial", d.serial, error)
        || !readText(v, "model", d.model, error) || !readText(v, "version", d.version, error)
        || !readInt(v, "channels", 1, 32, d.channels, error)
        || !readInt(v, "audio_channels", 0, 32, d.audioChannels, error)
        || !readAddress(v, "ip", d.ip, error) || !readAddress(v, "mask", d.mask, error)
        || !readAddress(v, "gateway", d.gateway, error)
        || !readInt(v, "port", 0, 65535, port, error)
        || !readInt(v, "lockout_after", 1, 1000, d.lockoutAfter, error)
        || !readInt(v, "lockout_ms", 0, 86400000, d.lockoutMs, error)
        || !readInt(v, "max_sessions", 1, 1024, d.maxSessions, error)
        || !readInt(v, "reboot_ms", 0, 600000, d.rebootMs, error)
        || !readInt(v, "flash_ms", 0, 600000, d.flashMs, error)
        || !readText(v, "hardware", d.hardware, error)
        || !readBool(v, "uninitialised", d.uninitialised, error)
        || !readInt(v, "language", 0, 31, d.language, error)
        || !readBool(v, "onvif", d.onvif, error) || !readBool(v, "dhcp", d.dhcp, error))
        return false;
    if (const JsonIn *x = member(v, "clock_offset_s")) {
        // A century either way keeps every clock inside the years a device takes.
        int64_t n = 0;
        if (!wholeNumber(*x, -kClockOffsetLimit, kClockOffsetLimit, n)) {
            error = "\"clock_offset_s\" must be a whole number of seconds from "
                + std::to_string(-kClockOffsetLimit) + " to " + std::to_string(kClockOffsetLimit);
            return false;
        }
        d.clockOffsetS = n;
    }
    if (has(v, "lights")) {
        if (!v["lights"].is_array()) {
            error = "\"lights\" must be a list of \"infrared\", \"full_color\", \"dual\"";
            return false;
        }
        int mask = 0;
        for (const auto &l : v["lights"]) {
            const int bit = l.is_string() ? lightModeFromName(l.get<std::string>()) : -1;
            if (bit < 0) {
                error = "\"lights\" holds only \"infrared\", \"full_color\" and \"dual\"";
                return false;
            }
            mask |= 1 << bit;
        }
        d.lightModes = mask;
    }
    if (d.hardware.size() > 31) {
        error = "\"hardware\" is at most 31 characters";
        return false;
    }
    d.port = uint16_t(port);
    if (d.audioChannels > d.channels)
        d.audioChannels = d.channels;
    std::string standard;
    if (!readText(v, "standard", standard, error))
        return false;
    if (!standard.empty()) {
        if (standard != "PAL" && standard != "NTSC") {
            error = "\"standard\" is PAL or NTSC";
            return false;
        }
        d.ntsc = standard == "NTSC";
    }
    std::string build;
    if (!readText(v, "build", build, error))
        return false;
    if (!build.empty()) {
        if (!parseBuild(build, d.build)) {
            error = "\"build\" is not a date \"YYYY-MM-DD\" or \"YYYY-MM-DD hh:mm:ss\" (1970 to "
                    "2099): "
                + build;
            return false;
        }
    }
    if (has(v, "users")) {
        if (!v["users"].is_array()) {
            error = "\"users\" must be a list";
            return false;
        }
        d.users.clear();
        for (const auto &u : v["users"]) {
            const std::string where = "users[" + std::to_string(d.users.size() + 1) + "]: ";
            User user;
            if (!u.is_object()) {
                error = where + "a user must be an object";
                return false;
            }
            if (!onlyKnownMembers(u, { "name", "password", "verifier" }, error)
                || !readText(u, "name", user.name, error)
                || !readText(u, "password", user.password, error)
                || !readText(u, "verifier", user.verifier, error)) {
                error = where + error;
                return false;
            }
            proto::pake::VerifierRecord record;
            if (!user.verifier.empty()
                && (!user.password.empty() || !parseVerifier(user.verifier, record))) {
                error = where
                    + "\"verifier\" must be a verifier record, and given instead of \"password\"";
                return false;
            }
            if (user.name.empty() || user.name.size() > 63) {
                error = where + "\"name\" must be 1 to 63 characters";
                return false;
            }
            d.users.push_back(user);
        }
    }
    if (has(v, "blacklist")) {
        if (!v["blacklist"].is_array()) {
            error = "\"blacklist\" must be a list";
            return false;
        }
        d.blacklist.clear();
        for (const auto &b : v["blacklist"]) {
            uint32_t ignored;
            if (!b.is_string() || !net::parseIpv4(b.get<std::string>(), ignored)) {
                error = "\"blacklist\" holds IPv4 address texts";
                return false;
            }
            d.blacklist.push_back(b.get<std::string>());
        }
    }
    if (has(v, "faults") && !faultsFromJson(v["faults"], d.faults, error))
        return false;
    if (has(v, "records")) {
        if (!v["records"].is_array()) {
            error = "\"records\" must be a list";
            return false;
        }
        int n = 0;
        for (const auto &r : v["records"]) {
            ExtraRecord rec;
            int command = 0, channel = -1, size = -1;
            std::string hex;
            const std::string where = "records[" + std::to_string(++n) + "]: ";
            if (!r.is_object()) {
                error = where + "a record must be an object";
                return false;
            }
            if (!onlyKnownMembers(r, { "command", "channel", "size", "hex" }, error)
                || !readInt(r, "command", 0, 100000, command, error)
                || !readInt(r, "channel", -1, 255, channel, error)
                || !readInt(r, "size", 0, int(MaxRecordSize), size, error)
                || !readText(r, "hex", hex, error)) {
                error = where + error;
                return false;
            }
            if (!has(r, "command")) {
                error = where + "\"command\" is missing";
                return false;
            }
            if (!hexDecode(hex, rec.bytes)) {
                error = "record " + std::to_string(command) + ": \"hex\" is not hexadecimal";
                return false;
            }
            if (size >= 0 && rec.bytes.size() > std::size_t(size)) {
                error = "record " + std::to_string(command) + ": \"hex\" holds "
                    + std::to_string(rec.bytes.size()) + " bytes, more than \"size\" "
                    + std::to_string(size);
                return false;
            }
            if (size >= 0)
                rec.bytes.resize(std::size_t(size), 0);
            rec.command = command;
            rec.channel = channel;
            d.extraRecords.push_back(std::move(rec));
        }
    }
    return true;
}

} // namespace

bool isRealDate(int year, int month, int day)
{
    static const int kDays[12] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int lightModesOf(const DeviceSpec &d)
{
    if (d.type != 2)
        return 0;
    if (d.lightModes >= 0)
        return d.lightModes & 7;
    // The camera line: 5M models carry infrared and warm light (dual), 2M
    // models warm light only (full colour), every other model infrared.
    if (d.model.find("5M") != std::string::npos)
        return 7;
    if (d.model.find("2M") != std::string::npos)
        return 2;
    return 1;
}

CameraFeatures cameraFeaturesOf(const DeviceSpec &d)
{
    CameraFeatures f;
    if (d.type != 2)
        return f;
    // 5M models have the motorised lens, 4M and 5M the WDR sensor; a
    // camera with dual light keeps its night exposure apart.
    f.focus = d.model.find("5M") != std::string::npos;
    f.wdr = f.focus || d.model.find("4M") != std::string::npos;
    f.nightExposure = (lightModesOf(d) & 4) != 0;
    return f;
}

std::string hardwareNameOf(const DeviceSpec &d)
{
    if (!d.hardware.empty())
        return d.hardware;
    // Boards of every logo kind: squashfs with the large area (QRX52, ZTL53),
    // the small one (YMC06) and the default one (_C), and cramfs boards
    // whose names are in no squashfs family.
    if (d.model == "SX-IPC-4M")
        return "QRX52_IPC4M";
    if (d.model == "SX-IPC-2M")
        return "YMC06_S2M";
    if (d.model == "SX-IPC-5M")
        return "HB7205_C";
    switch (d.type) {
    case 0:
        return "DVR3521A";
    case 1:
        return "NVR3536A";
    case 3:
        return "ZTL53HVR";
    default:
        return "IPC3516E";
    }
}

int32_t deviceTypeFromName(const std::string &name)
{
    if (name == "DVR")
        return 0;
    if (name == "NVR")
        return 1;
    if (name == "IPC")
        return 2;
    if (name == "HVR")
        return 3;
    return -1;
}

const char *deviceTypeText(int32_t type)
{
    switch (type) {
    case 0:
        return "DVR";
    case 1:
        return "NVR";
    case 2:
        return "IPC";
    case 3:
        return "HVR";
    default:
        return "";
    }
}

// A one-channel camera speaking ONVIF, k-th of its block.
DeviceSpec makeOnvifCamera(int index, int k)
{
    const uint32_t ip = ipv4(127, 0, 30 + k / 200, 11 + k % 200);
    DeviceSpec d = makeDevice(index, ip, ipv4(127, 0, 30 + k / 200, 1));
    d.protocol = Protocol::Onvif;
    d.type = 2;
    d.channels = 1;
    d.audioChannels = 1;
    d.model = (k % 2 == 0) ? "SX-IPC-4M" : "SX-IPC-2M";
    d.ntsc = false;
    d.port = 80;
    char serial[32];
    std::snprintf(serial, sizeof serial, "SXI%08d", 20000 + index);
    d.serial = serial;
    return d;
}

Fleet generatedFleet(int count, int onvifCount)
{
    Fleet f;
    if (count < 1)
        count = 1;
    if (count > MaxFleetDevices)
        count = MaxFleetDevices;
    onvifCount = std::clamp(onvifCount, 0, count);
    int inA = 0, inB = 0;
    for (int i = 0; i < count - onvifCount; ++i) {
        uint32_t ip, gw;
        if (i % 3 == 2) {
            const int k = inB++;
            ip = ipv4(127, 0, 20 + k / 90, 101 + k % 90);
            gw = ipv4(127, 0, 20 + k / 90, 1);
        } else {
            const int k = inA++;
            ip = ipv4(127, 0, 10 + k / 90, 11 + k % 90);
            gw = ipv4(127, 0, 10 + k / 90, 1);
        }
        f.devices.push_back(makeDevice(i, ip, gw));
    }
    for (int k = 0; k < onvifCount; ++k)
        f.devices.push_back(makeOnvifCamera(count - onvifCount + k, k));
    return f;
}

const char *protocolText(Protocol p)
{
    return p == Protocol::Onvif ? "onvif" : "own";
}

Fleet defaultFleet()
{
    Fleet f = generatedFleet(24);
    for (int k = 0; k < 6; ++k)
        f.devices.push_back(makeOnvifCamera(24 + k, k));
    // One device keeps a password of its own, so the program's login prompt
    // can be seen without setting anything up.
    f.devices[7].users[0].password = "sx-install";
    return f;
}

bool parseFaults(const std::string &text, Faults &out, std::string &error)
{
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (item.empty())
            continue;
        const auto eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        auto number = [&](int &target) {
            char *end = nullptr;
            const long v = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || v < 0 || v > 600000) {
                error = "fault \"" + key + "\" needs a number from 0 to 600000";
                return false;
            }
            target = int(v);
            return true;
        };
        if (key == "delay_ms") {
            if (!number(out.delayMs))
                return false;
        } else if (key == "drop_answers") {
            if (!number(out.dropAnswers))
                return false;
        } else if (key == "duplicate_answers") {
            out.duplicateAnswers = true;
        } else if (key == "empty_mac") {
            out.emptyMac = true;
        } else if (key == "timeout") {
            out.timeout = true;
        } else if (key == "need_reboot") {
            out.needReboot = true;
        } else if (key == "busy") {
            out.busy = true;
        } else if (key == "refuse_set") {
            out.refuseSet = true;
        } else if (key == "malformed") {
            if (value != "magic" && value != "oversize" && value != "truncate") {
                error = "fault \"malformed\" is magic, oversize or truncate";
                return false;
            }
            out.malformed = value;
        } else if (key == "power_loss_at_percent") {
            if (!number(out.powerLossAtPercent))
                return false;
            if (out.powerLossAtPercent < 1 || out.powerLossAtPercent > 99) {
                error = "fault \"power_loss_at_percent\" needs a number from 1 to 99";
                return false;
            }
        } else {
            error = "unknown fault \"" + key + "\"";
            return false;
        }
    }
    return true;
}

bool faultsFromJson(const JsonIn &v, Faults &out, std::string &error)
{
    if (!v.is_object()) {
        error = "\"faults\" must be an object";
        return false;
    }
    for (const auto &m : v.items()) {
        static const char *const known[] = { "delay_ms", "drop_answers", "duplicate_answers",
            "empty_mac", "timeout", "need_reboot", "busy", "refuse_set", "malformed",
            "power_loss_at_percent" };
        bool ok = false;
        for (const char *k : known)
            ok = ok || m.key() == k;
        if (!ok) {
            error = "unknown fault \"" + m.key() + "\"";
            return false;
        }
    }
    std::string malformed = out.malformed;
    if (!readInt(v, "delay_ms", 0, 600000, out.delayMs, error)
        || !readInt(v, "drop_answers", 0, 1000, out.dropAnswers, error)
        || !readBool(v, "duplicate_answers", out.duplicateAnswers, error)
        || !readBool(v, "empty_mac", out.emptyMac, error)
        || !readBool(v, "timeout", out.timeout, error)
        || !readBool(v, "need_reboot", out.needReboot, error)
        || !readBool(v, "busy", out.busy, error) || !readBool(v, "refuse_set", out.refuseSet, error)
        || !readText(v, "malformed", malformed, error)
        || !readInt(v, "power_loss_at_percent", 0, 99, out.powerLossAtPercent, error))
        return false;
    if (!malformed.empty() && malformed != "magic" && malformed != "oversize"
        && malformed != "truncate") {
        error = "fault \"malformed\" is magic, oversize or truncate";
        return false;
    }
    out.malformed = malformed;
    return true;
}

JsonOut faultsToJson(const Faults &f)
{
    JsonOut v = JsonOut::object();
    if (f.delayMs)
        v["delay_ms"] = f.delayMs;
    if (f.dropAnswers)
        v["drop_answers"] = f.dropAnswers;
    if (f.duplicateAnswers)
        v["duplicate_answers"] = true;
    if (f.emptyMac)
        v["empty_mac"] = true;
    if (f.timeout)
        v["timeout"] = true;
    if (f.needReboot)
        v["need_reboot"] = true;
    if (f.busy)
        v["busy"] = true;
    if (f.refuseSet)
        v["refuse_set"] = true;
    if (!f.malformed.empty())
        v["malformed"] = f.malformed;
    if (f.powerLossAtPercent)
        v["power_loss_at_percent"] = f.powerLossAtPercent;
    return v;
}

bool parseJson(const std::string &text, JsonIn &out, std::string &error)
{
    constexpr int kMaxDepth = 64;
    // One set of member names per open object, to refuse a member given twice.
    std::vector<std::set<std::string>> open;
    std::string problem;
    const JsonIn::parser_callback_t check
        = [&](int depth, JsonIn::parse_event_t event, JsonIn &parsed) {
              if (!problem.empty())
                  return false;
              switch (event) {
              case JsonIn::parse_event_t::object_start:
              case JsonIn::parse_event_t::array_start:
                  if (depth >= kMaxDepth)
                      problem = "nested deeper than " + std::to_string(kMaxDepth);
                  if (event == JsonIn::parse_event_t::object_start)
                      open.emplace_back();
                  break;
              case JsonIn::parse_event_t::object_end:
                  if (!open.empty())
                      open.pop_back();
                  break;
              case JsonIn::parse_event_t::key:
                  if (!open.empty() && !open.back().insert(parsed.get<std::string>()).second)
                      problem = "member \"" + parsed.get<std::string>() + "\" given twice";
                  break;
              default:
                  break;
              }
              return problem.empty();
          };
    try {
        JsonIn v = JsonIn::parse(text, check);
        if (!problem.empty()) {
            error = problem;
            return false;
        }
        out = std::move(v);
        return true;
    } catch (const JsonIn::exception &e) {
        // "[json.exception.parse_error.101] parse error at line 1, column 4: ..."
        const std::string what = e.what();
        const auto at = what.find(" at line ");
        error = at == std::string::npos ? what : what.substr(at + 4);
        return false;
    }
}

bool fleetFromJson(const JsonIn &root, Fleet &out, std::string &error)
{
    if (!root.is_object() || !root.contains("devices") || !root["devices"].is_array()) {
        error = "a fleet file is an object with a \"devices\" list";
        return false;
    }
    if (!onlyKnownMembers(root, { "devices", "defaults" }, error))
        return false;
    // "defaults" fill every device before its own members are read.
    DeviceSpec base;
    base.users.push_back(User { kDefaultUser, kDefaultPassword });
    const bool hasDefaults = has(root, "defaults");
    if (hasDefaults && !deviceFromJson(root["defaults"], base, error)) {
        error = "defaults: " + error;
        return false;
    }
    const bool defaultType = hasDefaults && has(root["defaults"], "type");
    Fleet f;
    int index = 0;
    for (const auto &v : root["devices"]) {
        if (index >= MaxFleetDevices) {
            error = "a fleet holds 1 to 256 devices";
            return false;
        }
        DeviceSpec d = base;
        Fleet generated = generatedFleet(index + 1);
        const DeviceSpec &g = generated.devices.back();
        // Identity members left out are generated, so a short fleet file
        // still gives distinct devices.
        d.mac = g.mac;
        d.serial = g.serial;
        if (!has(v, "type"))
            d.type = defaultType ? base.type : g.type;
        if (!deviceFromJson(v, d, error)) {
            error = "device " + std::to_string(index + 1) + ": " + error;
            return false;
        }
        if (d.model.empty())
            d.model = std::string("SX-") + deviceTypeText(d.type);
        if (d.version.empty())
            d.version = g.version;
        if (d.ip == 0) {
            error = "device " + std::to_string(index + 1) + ": \"ip\" is missing";
            return false;
        }
        f.devices.push_back(std::move(d));
        ++index;
    }
    if (!validateFleet(f, error))
        return false;
    out = std::move(f);
    return true;
}

JsonOut fleetToJson(const Fleet &fleet)
{
    JsonOut list = JsonOut::array();
    for (const DeviceSpec &d : fleet.devices) {
        JsonOut v = JsonOut::object();
        if (d.protocol == Protocol::Onvif)
            v["protocol"] = protocolText(d.protocol);
        v["mac"] = d.mac;
        v["serial"] = d.serial;
        v["model"] = d.model;
        v["type"] = deviceTypeText(d.type);
        v["channels"] = d.channels;
        v["audio_channels"] = d.audioChannels;
        v["ip"] = addressText(d.ip);
        v["mask"] = addressText(d.mask);
        v["gateway"] = addressText(d.gateway);
        v["port"] = int(d.port);
        v["standard"] = d.ntsc ? "NTSC" : "PAL";
        v["version"] = d.version;
        char build[32];
        std::snprintf(build, sizeof build, "%04d-%02d-%02d %02d:%02d:%02d", d.build[0], d.build[1],
            d.build[2], d.build[3], d.build[4], d.build[5]);
        v["build"] = build;
        JsonOut users = JsonOut::array();
        for (const User &u : d.users)
            users.push_back(u.verifier.empty()
                    ? JsonOut { { "name", u.name }, { "password", u.password } }
                    : JsonOut { { "name", u.name }, { "verifier", u.verifier } });
        v["users"] = users;
        if (d.rebootMs != DeviceSpec().rebootMs)
            v["reboot_ms"] = d.rebootMs;
        if (d.flashMs != DeviceSpec().flashMs)
            v["flash_ms"] = d.flashMs;
        if (!d.hardware.empty())
            v["hardware"] = d.hardware;
        if (d.language != 0)
            v["language"] = d.language;
        if (d.type == 2) {
            JsonOut lights = JsonOut::array();
            for (int i = 0; i < 3; ++i) {
                if (lightModesOf(d) >> i & 1)
                    lights.push_back(kLightNames[i]);
            }
            v["lights"] = std::move(lights);
        }
        if (!d.onvif)
            v["onvif"] = false;
        if (d.dhcp)
            v["dhcp"] = true;
        if (d.clockOffsetS != 0)
            v["clock_offset_s"] = d.clockOffsetS;
        const JsonOut faults = faultsToJson(d.faults);
        if (!faults.empty())
            v["faults"] = faults;
        list.push_back(std::move(v));
    }
    JsonOut root = JsonOut::object();
    root["devices"] = std::move(list);
    return root;
}

bool loadFleetFile(const std::string &path, Fleet &out, std::string &error)
{
    std::string text;
    if (!readFile(path, text, error))
        return false;
    JsonIn root;
    if (!parseJson(text, root, error) || !fleetFromJson(root, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool validateFleet(const Fleet &fleet, std::string &error)
{
    if (fleet.devices.empty() || fleet.devices.size() > std::size_t(MaxFleetDevices)) {
        error = "a fleet holds 1 to 256 devices";
        return false;
    }
    std::set<std::string> macs, serials;
    std::set<uint64_t> addresses;
    for (std::size_t i = 0; i < fleet.devices.size(); ++i) {
        const DeviceSpec &d = fleet.devices[i];
        const std::string who = "device " + std::to_string(i + 1) + " (" + d.mac + ")";
        if (d.mac.empty() || d.mac.size() > 34 || !macs.insert(d.mac).second) {
            error = who + ": MAC text missing, longer than 34 characters or given twice";
            return false;
        }
        if (d.serial.empty() || d.serial.size() > 63 || !serials.insert(d.serial).second) {
            error = who + ": serial missing, longer than 63 characters or given twice";
            return false;
        }
        if (d.model.size() > 31) {
            error = who + ": model longer than 31 characters";
            return false;
        }
        if (d.channels < 1 || d.channels > 32) {
            error = who + ": 1 to 32 channels";
            return false;
        }
        if (!net::isLoopback(d.ip)) {
            error = who + ": an emulated device starts on a loopback address (127.x.y.z)";
            return false;
        }
        if (d.port != 0 && !addresses.insert(uint64_t(d.ip) << 16 | d.port).second) {
            error = who + ": address and port taken by another device";
            return false;
        }
        if (d.type != 2 && d.lightModes > 0) {
            error = who + ": \"lights\": a recorder has no lights";
            return false;
        }
        if (d.language < 0 || d.language > 31) {
            error = who + ": \"language\" must be 0 to 31";
            return false;
        }
        if (d.audioChannels < 0 || d.audioChannels > d.channels) {
            error = who + ": 0 to " + std::to_string(d.channels) + " audio channels";
            return false;
        }
        {
            // A device must take back the encode table it was built with; a
            // channel count whose defaults outgrow the 32-bit budgets cannot.
            DeviceSpec plain = d;
            plain.extraRecords.clear();
            const DeviceModel model(plain);
            std::vector<uint8_t> bytes;
            EncodeTable table;
            if (model.getConfig(19, -1, bytes) == 0 && bytes.size() == sizeof table) {
                std::memcpy(&table, bytes.data(), sizeof table);
                const std::string why = model.encodeTableRefusal(table);
                if (!why.empty()) {
                    error = who + ": " + std::to_string(d.channels) + " channels are too many for this model ("
                        + why + ")";
                    return false;
                }
            }
        }
        for (const ExtraRecord &r : d.extraRecords) {
            const std::string what = who + ": record " + std::to_string(r.command) + " (channel "
                + std::to_string(r.channel) + ")";
            // The device reads its own records whole: a shorter one would be read past its end.
            const std::size_t builtIn = builtInRecordSize(r.command);
            if (builtIn != 0 && r.bytes.size() != builtIn) {
                error = what + " must be " + std::to_string(builtIn) + " bytes, not "
                    + std::to_string(r.bytes.size());
                return false;
            }
            if (r.bytes.size() > MaxRecordSize) {
                error = what + " of " + std::to_string(r.bytes.size())
                    + " bytes does not fit in a frame (at most " + std::to_string(MaxRecordSize)
                    + ")";
                return false;
            }
        }
    }
    return true;
}

std::size_t builtInRecordSize(int32_t command)
{
    switch (command) {
    case 10:
        return 4692;
    case 17:
        return 408;
    case 18:
        return 192;
    case 19:
        return 25344;
    case 20:
        return 144;
    case 175:
        return 1280;
    case CmdOsd:
        return sizeof(OsdRecord);
    case CmdChannelNames:
        return sizeof(ChannelNamesRecord);
    case CmdDhcp:
        return sizeof(DhcpRecord);
    case CmdNtp:
        return sizeof(NtpRecord);
    case CmdSystemTime:
        return sizeof(SystemTimeRecord);
    case CmdOnvif:
        return sizeof(OnvifRecord);
    case CmdTimeZone:
        return sizeof(TimeZoneRecord);
    case CmdLightCaps:
        return sizeof(LightCapsRecord);
    case CmdLightMode:
        return sizeof(LightModeRecord);
    case CmdImage:
        return ImageRecordSize;
    case CmdExposure:
        return ExposureRecordSize;
    case CmdAudio:
        return AudioRecordSize;
    case CmdHardware:
        return sizeof(HardwareRecord);
    default:
        return 0;
    }
}

std::string hexEncode(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string verifierText(const proto::pake::VerifierRecord &record)
{
    auto hex = [](const uint8_t *p, std::size_t n) {
        return hexEncode(std::vector<uint8_t>(p, p + n));
    };
    return "spake2+p256:" + std::to_string(record.kdf.logN) + ":" + std::to_string(record.kdf.r)
        + ":" + std::to_string(record.kdf.p) + ":" + hex(record.salt.data(), record.salt.size())
        + ":" + hex(record.w0.data(), record.w0.size()) + ":" + hex(record.L.data(), record.L.size());
}

bool parseVerifier(const std::string &text, proto::pake::VerifierRecord &out)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon - from));
        if (colon == std::string::npos)
            break;
        from = colon + 1;
    }
    if (parts.size() != 7 || parts[0] != "spake2+p256")
        return false;
    int numbers[3];
    for (int i = 0; i < 3; ++i) {
        const std::string &t = parts[std::size_t(i) + 1];
        if (t.empty() || t.size() > 2 || t.find_first_not_of("0123456789") != std::string::npos)
            return false;
        numbers[i] = std::stoi(t);
    }
    out.kdf.logN = uint8_t(numbers[0]);
    out.kdf.r = uint8_t(numbers[1]);
    out.kdf.p = uint8_t(numbers[2]);
    std::vector<uint8_t> salt, w0, L;
    // Only what a client would accept; anything else could never log in.
    if (!proto::pake::acceptableKdf(out.kdf) || !hexDecode(parts[4], salt)
        || salt.size() != out.salt.size() || !hexDecode(parts[5], w0) || w0.size() != out.w0.size()
        || !hexDecode(parts[6], L) || L.size() != out.L.size() || L[0] != 0x04)
        return false;
    std::copy(salt.begin(), salt.end(), out.salt.begin());
    std::copy(w0.begin(), w0.end(), out.w0.begin());
    std::copy(L.begin(), L.end(), out.L.begin());
    return true;
}

bool hexDecode(const std::string &text, std::vector<uint8_t> &out)
{
    out.clear();
    if (text.size() % 2)
        return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(uint8_t(hi << 4 | lo));
    }
    return true;
}

bool readFile(const std::string &path, std::string &out, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

bool writeFileAtomically(const std::string &path, const std::string &content, std::string &error)
{
    // A link planted where the file goes would be followed by an open and
    // replaced by a rename; neither is ours to do.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + " is not a regular file; not replaced";
        return false;
    }
    // A name of our own making, created exclusively (mode 600: fleets and
    // state hold passwords), so nothing planted beside the target is opened.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot write beside " + path + ": " + std::strerror(errno);
        return false;
    }
    const char *p = content.data();
    std::size_t left = content.size();
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            p += n;
            left -= std::size_t(n);
        }
    }
    if (ok)
        ok = ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
    }
    if (!ok) {
        error = "cannot write " + temp + ": " + std::strerror(writeErrno);
        ::unlink(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

Fleet withVerifiers(Fleet fleet)
{
    for (DeviceSpec &d : fleet.devices) {
        DeviceSpec plain = d;
        plain.extraRecords.clear();
        d.users = DeviceModel(plain).spec().users;
    }
    return fleet;
}

} // namespace scoutrix::devsim
