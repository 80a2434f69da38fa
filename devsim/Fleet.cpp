#include "Fleet.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "Net.h"

namespace scoutrix::devsim {

namespace {

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

bool readInt(const json::Value &v, const char *key, int lo, int hi, int &out, std::string &error)
{
    const json::Value &x = v[key];
    if (x.isNull())
        return true;
    if (!x.isNumber() || std::floor(x.asNumber()) != x.asNumber() || x.asNumber() < lo
        || x.asNumber() > hi) {
        error = std::string("\"") + key + "\" must be a whole number from " + std::to_string(lo)
            + " to " + std::to_string(hi);
        return false;
    }
    out = int(x.asNumber());
    return true;
}

bool readBool(const json::Value &v, const char *key, bool &out, std::string &error)
{
    const json::Value &x = v[key];
    if (x.isNull())
        return true;
    if (!x.isBool()) {
        error = std::string("\"") + key + "\" must be true or false";
        return false;
    }
    out = x.asBool();
    return true;
}

bool readText(const json::Value &v, const char *key, std::string &out, std::string &error)
{
    const json::Value &x = v[key];
    if (x.isNull())
        return true;
    if (!x.isString()) {
        error = std::string("\"") + key + "\" must be a text";
        return false;
    }
    out = x.asString();
    return true;
}

bool readAddress(const json::Value &v, const char *key, uint32_t &out, std::string &error)
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

std::string addressText(uint32_t a)
{
    return net::ipv4Text(a);
}

bool deviceFromJson(const json::Value &v, DeviceSpec &d, std::string &error)
{
    if (!v.isObject()) {
        error = "a device must be an object";
        return false;
    }
    std::string type;
    if (!readText(v, "type", type, error))
        return false;
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
        || !readBool(v, "uninitialised", d.uninitialised, error))
        return false;
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
        int b[6] = { 0, 0, 0, 0, 0, 0 };
        const int n = std::sscanf(
            build.c_str(), "%d-%d-%d %d:%d:%d", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
        if (n != 3 && n != 6) {
            error = "\"build\" is \"YYYY-MM-DD\" or \"YYYY-MM-DD hh:mm:ss\"";
            return false;
        }
        for (int i = 0; i < 6; ++i)
            d.build[i] = b[i];
    }
    if (v.has("users")) {
        if (!v["users"].isArray()) {
            error = "\"users\" must be a list";
            return false;
        }
        d.users.clear();
        for (const auto &u : v["users"].items()) {
            User user;
            if (!readText(u, "name", user.name, error)
                || !readText(u, "password", user.password, error))
                return false;
            if (user.name.empty()) {
                error = "a user needs a name";
                return false;
            }
            d.users.push_back(user);
        }
    }
    if (v.has("blacklist")) {
        d.blacklist.clear();
        for (const auto &b : v["blacklist"].items()) {
            uint32_t ignored;
            if (!b.isString() || !net::parseIpv4(b.asString(), ignored)) {
                error = "\"blacklist\" holds IPv4 address texts";
                return false;
            }
            d.blacklist.push_back(b.asString());
        }
    }
    if (v.has("faults") && !faultsFromJson(v["faults"], d.faults, error))
        return false;
    if (v.has("records")) {
        for (const auto &r : v["records"].items()) {
            ExtraRecord rec;
            int command = 0, channel = -1, size = -1;
            std::string hex;
            if (!readInt(r, "command", 0, 100000, command, error)
                || !readInt(r, "channel", -1, 255, channel, error)
                || !readInt(r, "size", 0, 1 << 19, size, error) || !readText(r, "hex", hex, error))
                return false;
            if (!hexDecode(hex, rec.bytes)) {
                error = "record " + std::to_string(command) + ": \"hex\" is not hexadecimal";
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

Fleet generatedFleet(int count)
{
    Fleet f;
    if (count < 1)
        count = 1;
    if (count > MaxFleetDevices)
        count = MaxFleetDevices;
    int inA = 0, inB = 0;
    for (int i = 0; i < count; ++i) {
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
    return f;
}

Fleet defaultFleet()
{
    Fleet f = generatedFleet(24);
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
        } else {
            error = "unknown fault \"" + key + "\"";
            return false;
        }
    }
    return true;
}

bool faultsFromJson(const json::Value &v, Faults &out, std::string &error)
{
    if (!v.isObject()) {
        error = "\"faults\" must be an object";
        return false;
    }
    for (const auto &m : v.members()) {
        static const char *const known[] = { "delay_ms", "drop_answers", "duplicate_answers",
            "empty_mac", "timeout", "need_reboot", "busy", "refuse_set", "malformed" };
        bool ok = false;
        for (const char *k : known)
            ok = ok || m.first == k;
        if (!ok) {
            error = "unknown fault \"" + m.first + "\"";
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
        || !readText(v, "malformed", malformed, error))
        return false;
    if (!malformed.empty() && malformed != "magic" && malformed != "oversize"
        && malformed != "truncate") {
        error = "fault \"malformed\" is magic, oversize or truncate";
        return false;
    }
    out.malformed = malformed;
    return true;
}

json::Value faultsToJson(const Faults &f)
{
    json::Value v = json::Value::object();
    if (f.delayMs)
        v.set("delay_ms", f.delayMs);
    if (f.dropAnswers)
        v.set("drop_answers", f.dropAnswers);
    if (f.duplicateAnswers)
        v.set("duplicate_answers", true);
    if (f.emptyMac)
        v.set("empty_mac", true);
    if (f.timeout)
        v.set("timeout", true);
    if (f.needReboot)
        v.set("need_reboot", true);
    if (f.busy)
        v.set("busy", true);
    if (f.refuseSet)
        v.set("refuse_set", true);
    if (!f.malformed.empty())
        v.set("malformed", f.malformed);
    return v;
}

bool fleetFromJson(const json::Value &root, Fleet &out, std::string &error)
{
    if (!root.isObject() || !root["devices"].isArray()) {
        error = "a fleet file is an object with a \"devices\" list";
        return false;
    }
    // "defaults" fill every device before its own members are read.
    DeviceSpec base;
    base.users.push_back(User { kDefaultUser, kDefaultPassword });
    if (root.has("defaults") && !deviceFromJson(root["defaults"], base, error)) {
        error = "defaults: " + error;
        return false;
    }
    Fleet f;
    int index = 0;
    for (const auto &v : root["devices"].items()) {
        DeviceSpec d = base;
        Fleet generated = generatedFleet(index + 1);
        const DeviceSpec &g = generated.devices.back();
        // Identity members left out are generated, so a short fleet file
        // still gives distinct devices.
        d.mac = g.mac;
        d.serial = g.serial;
        if (!v.has("type"))
            d.type = root["defaults"].has("type") ? base.type : g.type;
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

json::Value fleetToJson(const Fleet &fleet)
{
    json::Value root = json::Value::object();
    json::Value list = json::Value::array();
    for (const DeviceSpec &d : fleet.devices) {
        json::Value v = json::Value::object();
        v.set("mac", d.mac)
            .set("serial", d.serial)
            .set("model", d.model)
            .set("type", deviceTypeText(d.type));
        v.set("channels", d.channels).set("audio_channels", d.audioChannels);
        v.set("ip", addressText(d.ip))
            .set("mask", addressText(d.mask))
            .set("gateway", addressText(d.gateway));
        v.set("port", int(d.port))
            .set("standard", d.ntsc ? "NTSC" : "PAL")
            .set("version", d.version);
        char build[32];
        std::snprintf(build, sizeof build, "%04d-%02d-%02d %02d:%02d:%02d", d.build[0], d.build[1],
            d.build[2], d.build[3], d.build[4], d.build[5]);
        v.set("build", build);
        json::Value users = json::Value::array();
        for (const User &u : d.users)
            users.push(json::Value::object().set("name", u.name).set("password", u.password));
        v.set("users", users);
        const json::Value faults = faultsToJson(d.faults);
        if (!faults.members().empty())
            v.set("faults", faults);
        list.push(v);
    }
    root.set("devices", list);
    return root;
}

bool loadFleetFile(const std::string &path, Fleet &out, std::string &error)
{
    std::string text;
    if (!readFile(path, text, error))
        return false;
    json::Value root;
    if (!json::parse(text, root, error)) {
        error = path + ": " + error;
        return false;
    }
    if (!fleetFromJson(root, out, error)) {
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
    }
    return true;
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
    const std::string temp = path + ".tmp";
    {
        std::ofstream outFile(temp, std::ios::binary | std::ios::trunc);
        if (!outFile || !(outFile << content) || !outFile.flush()) {
            error = "cannot write " + temp;
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path;
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

} // namespace scoutrix::devsim
