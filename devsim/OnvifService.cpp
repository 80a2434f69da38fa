#include "OnvifService.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include "ConfigRecords.h"
#include "EmulatorState.h"
#include "OnvifState.h"
#include "Soap.h"
#include "StatePersistence.h"
#include "WsDiscovery.h"
#include "WsSecurity.h"

namespace scoutrix::devsim {

namespace xml = onvif::xml;
namespace soap = onvif::soap;
namespace wsse = onvif::wsse;

namespace {

using pugi::xml_node;

const char *const kDeviceIoNamespace = "http://www.onvif.org/ver10/deviceIO/wsdl";

// The fixed shutters of exposure modes 1..8, in microseconds.
constexpr double kShutterUs[8] = { 40000, 20000, 10000, 4000, 2000, 1000, 500, 100 };

xml_node add(xml_node parent, const char *name, std::string_view text = {})
{
    return xml::addElement(parent, name, text);
}

xml_node add(xml_node parent, const char *name, long long value)
{
    return xml::addElement(parent, name, std::to_string(value));
}

const char *boolText(bool b)
{
    return b ? "true" : "false";
}

std::optional<std::string> textOf(xml_node from, std::initializer_list<std::string_view> path)
{
    auto t = xml::textAt(from, path);
    if (!t)
        return std::nullopt;
    std::string s = *t;
    s.erase(0, s.find_first_not_of(" \t\r\n"));
    s.erase(s.find_last_not_of(" \t\r\n") + 1);
    return s;
}

std::optional<double> numberAt(xml_node from, std::initializer_list<std::string_view> path)
{
    const auto text = textOf(from, path);
    if (!text || text->empty())
        return std::nullopt;
    char *end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (*end || !std::isfinite(v))
        return std::nullopt;
    return v;
}

int prefixLength(uint32_t mask)
{
    int n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)))
        ++n;
    return n;
}

uint32_t maskOf(int prefix)
{
    return prefix <= 0 ? 0 : prefix >= 32 ? 0xffffffffu : ~(0xffffffffu >> prefix);
}

template<class R>
bool readRecord(const DeviceModel &m, int32_t command, int32_t channel, R &out)
{
    std::vector<uint8_t> bytes;
    if (m.getConfig(command, channel, bytes) != proto::Ok || bytes.size() != sizeof(R))
        return false;
    std::memcpy(&out, bytes.data(), sizeof(R));
    return true;
}

template<class R>
int32_t writeRecord(DeviceModel &m, int32_t command, int32_t channel, const R &r)
{
    const auto *p = reinterpret_cast<const uint8_t *>(&r);
    return m.setConfig(command, channel, std::vector<uint8_t>(p, p + sizeof(R)));
}

// A fault answer. HTTP 400 goes with a Sender fault, 500 with a Receiver one.
OnvifAnswer fault(const char *code, std::vector<std::string> subcodes, std::string reason)
{
    soap::Fault f;
    f.code = code;
    f.subcodes = std::move(subcodes);
    f.reason = std::move(reason);
    OnvifAnswer a;
    a.status = f.code == "Sender" ? 400 : 500;
    a.body = soap::buildFault(f);
    return a;
}

OnvifAnswer invalidArg(const char *sub, std::string reason)
{
    return fault("Sender", { "InvalidArgVal", sub }, std::move(reason));
}

std::string durationText(int ms)
{
    return "PT" + std::to_string((std::max(ms, 0) + 999) / 1000) + "S";
}

// The resolutions a stream may take: the device's list, masked by its caps.
struct ResolutionChoice
{
    int index;
    int width;
    int height;
};

std::vector<ResolutionChoice> resolutionsOf(const DeviceModel &m, bool sub)
{
    std::vector<ResolutionChoice> out;
    ResolutionList list;
    auto caps = std::make_unique<EncodeCaps>();
    if (!readRecord(m, CmdResolutionList, -1, list) || !readRecord(m, CmdEncodeCaps, -1, *caps))
        return out;
    uint32_t mask = sub ? caps->subResolutionMask(0) : caps->mainResolutionMask(0);
    // What the sub stream may take depends on the main stream's resolution.
    auto table = std::make_unique<EncodeTable>();
    if (sub && readRecord(m, CmdEncodeTable, -1, *table)) {
        if (const uint32_t byMain = caps->subMaskByMainRes(0, table->channel[0].main.resolution()))
            mask &= byMain;
    }
    for (int i = 0; i < ResolutionList::Entries; ++i) {
        const int w = list.entry[i].widthValue(), h = list.entry[i].heightValue();
        if ((mask >> i & 1) && w > 0 && h > 0)
            out.push_back({ i, w, h });
    }
    return out;
}

bool profileStream(const std::string &token, bool &sub)
{
    if (token == "main" || token == "venc_main") {
        sub = false;
        return true;
    }
    if (token == "sub" || token == "venc_sub") {
        sub = true;
        return true;
    }
    return false;
}

std::string randomHex(std::size_t bytes)
{
    std::vector<uint8_t> b(bytes);
    RAND_bytes(b.data(), int(b.size()));
    static const char *hex = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b) {
        s += hex[c >> 4];
        s += hex[c & 15];
    }
    return s;
}

void addDateTime(xml_node parent, const char *name, std::time_t t)
{
    std::tm tm {};
    gmtime_r(&t, &tm);
    xml_node dt = add(parent, name);
    xml_node time = add(dt, "tt:Time");
    add(time, "tt:Hour", tm.tm_hour);
    add(time, "tt:Minute", tm.tm_min);
    add(time, "tt:Second", tm.tm_sec);
    xml_node date = add(dt, "tt:Date");
    add(date, "tt:Year", tm.tm_year + 1900);
    add(date, "tt:Month", tm.tm_mon + 1);
    add(date, "tt:Day", tm.tm_mday);
}

// "UTC0", "CET-1CEST,M3.5.0,M10.5.0/3": the standard offset east of UTC in
// seconds, for the local time an answer carries; 0 when unreadable.
long tzOffsetEast(const std::string &tz)
{
    std::size_t i = 0;
    while (i < tz.size() && (std::isalpha(static_cast<unsigned char>(tz[i])) || tz[i] == '<' || tz[i] == '>'))
        ++i;
    if (i >= tz.size())
        return 0;
    int sign = 1;
    if (tz[i] == '+' || tz[i] == '-') {
        sign = tz[i] == '-' ? -1 : 1;
        ++i;
    }
    int h = 0, m = 0;
    if (std::sscanf(tz.c_str() + i, "%d:%d", &h, &m) < 1)
        return 0;
    // POSIX counts west as positive.
    return -sign * (long(h) * 3600 + long(m) * 60);
}

} // namespace

struct OnvifService::Call
{
    int device;
    EmulatedDevice &dev;
    soap::Envelope &env;
    std::string op;
    std::string ns;
    std::string client;
    xml_node in; // the request's payload

    DeviceModel &model() { return dev.model; }
    OnvifState &onvif() { return *dev.onvif; }
};

std::string OnvifService::baseAddress(const EmulatorState &state, int device)
{
    const DeviceModel &m = state.devices[std::size_t(device)]->model;
    return "http://" + net::ipv4Text(m.spec().ip) + ":" + std::to_string(m.boundPort());
}

std::string OnvifService::endpointReference(const std::string &mac, const std::string &serial)
{
    // A name-based UUID (SHA-1, version 5 layout), so a device keeps its
    // reference across restarts of the emulator and address changes.
    const std::string name = "scoutrix-devsim:" + mac + ":" + serial;
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(name.data(), name.size(), d, &n, EVP_sha1(), nullptr);
    d[6] = (d[6] & 0x0f) | 0x50;
    d[8] = (d[8] & 0x3f) | 0x80;
    char out[64];
    std::snprintf(out, sizeof out,
        "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", d[0], d[1],
        d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11], d[12], d[13], d[14], d[15]);
    return out;
}

OnvifAnswer OnvifService::handle(int device, const std::string &path, std::string_view body,
    const std::string &client, const std::string &httpAuthorization, const std::string &method)
{
    (void)httpAuthorization;
    if (method != "POST")
        return fault("Sender", { "InvalidArgVal" }, "SOAP requests are POSTed");
    auto parsed = soap::parseEnvelope(body);
    if (!parsed)
        return fault("Sender", { "WellFormed" }, "request refused: " + parsed.error());
    soap::Envelope &env = *parsed;
    if (!env.payload)
        return fault("Sender", { "InvalidArgVal" }, "empty body");

    std::lock_guard<std::mutex> lock(m_state.mutex);
    if (device < 0 || std::size_t(device) >= m_state.devices.size() || !m_state.devices[std::size_t(device)]->onvif)
        return fault("Receiver", { "ActionNotSupported" }, "no such service");
    EmulatedDevice &dev = m_state.device(device);
    Call call { device, dev, env, env.payloadName, env.payloadNamespace, client, env.payload };
    (void)path;

    // Reading the clock, the services and the addresses needs no account:
    // a client signs with the device's time, so it must read it first.
    static const char *const kPreAuth[]
        = { "GetSystemDateAndTime", "GetServices", "GetWsdlUrl", "GetEndpointReference" };
    const bool preAuth = call.ns == soap::ns::tds
        && std::find_if(std::begin(kPreAuth), std::end(kPreAuth), [&](const char *op) { return call.op == op; })
            != std::end(kPreAuth);
    if (!preAuth) {
        auto passwordOf = [&dev](const std::string &user) -> std::optional<std::string> {
            for (const User &u : dev.onvif->users) {
                if (u.name == user && !u.password.empty())
                    return u.password;
            }
            return std::nullopt;
        };
        const auto deviceNow = wsse::Clock::now() + std::chrono::seconds(dev.model.clockOffset());
        const wsse::AuthResult auth = dev.onvif->verifier.verify(env, passwordOf, deviceNow);
        const auto now = DeviceModel::Clock::now();
        if (!auth.ok()) {
            if (auth.status == wsse::AuthStatus::WrongPassword)
                dev.model.wrongPassword(auth.username, client, now);
            m_state.log(m_state.deviceName(device) + ": ONVIF " + call.op + " refused: "
                + wsse::authStatusName(auth.status) + (auth.reason.empty() ? "" : " (" + auth.reason + ")"));
            return fault("Sender", { "NotAuthorized" }, "Sender not Authorized");
        }
        if (dev.model.isLocked(auth.username, client, now)) {
            m_state.log(m_state.deviceName(device) + ": ONVIF " + call.op + " refused: " + auth.username + " locked");
            return fault("Sender", { "NotAuthorized" }, "Sender not Authorized (locked)");
        }
        dev.model.rightPassword(auth.username, client);
    }
    return dispatch(call);
}

OnvifAnswer OnvifService::dispatch(Call &call)
{
    if (call.ns == soap::ns::tds)
        return device(call);
    if (call.ns == soap::ns::trt)
        return media(call);
    if (call.ns == soap::ns::timg)
        return imaging(call);
    return fault("Receiver", { "ActionNotSupported" }, "no operation " + call.op);
}

namespace {

// One answer under construction: <prefix:OpResponse> in a fresh envelope.
struct Reply
{
    soap::Message message;
    xml_node r;
    explicit Reply(const std::string &name)
    {
        r = xml::addElement(message.body(), name.c_str());
    }
    OnvifAnswer done()
    {
        OnvifAnswer a;
        a.body = message.toString();
        return a;
    }
};

void addDeviceServiceCaps(xml_node parent)
{
    xml_node c = add(parent, "tds:Capabilities");
    xml_node n = add(c, "tds:Network");
    n.append_attribute("IPFilter") = "false";
    n.append_attribute("ZeroConfiguration") = "false";
    n.append_attribute("IPVersion6") = "false";
    n.append_attribute("DynDNS") = "false";
    n.append_attribute("NTP") = "1";
    xml_node s = add(c, "tds:Security");
    s.append_attribute("UsernameToken") = "true";
    s.append_attribute("HttpDigest") = "false";
    xml_node y = add(c, "tds:System");
    y.append_attribute("DiscoveryResolve") = "false";
    y.append_attribute("DiscoveryBye") = "false";
    y.append_attribute("RemoteDiscovery") = "false";
    y.append_attribute("SystemBackup") = "false";
    y.append_attribute("SystemLogging") = "false";
    y.append_attribute("FirmwareUpgrade") = "true";
    y.append_attribute("HttpFirmwareUpgrade") = "true";
}

void addMediaServiceCaps(xml_node parent)
{
    xml_node c = add(parent, "trt:Capabilities");
    c.append_attribute("SnapshotUri") = "false";
    c.append_attribute("Rotation") = "false";
    add(c, "trt:ProfileCapabilities").append_attribute("MaximumNumberOfProfiles") = "2";
    xml_node s = add(c, "trt:StreamingCapabilities");
    s.append_attribute("RTPMulticast") = "false";
    s.append_attribute("RTP_TCP") = "true";
    s.append_attribute("RTP_RTSP_TCP") = "true";
}

void addImagingServiceCaps(xml_node parent)
{
    add(parent, "timg:Capabilities").append_attribute("ImageStabilization") = "false";
}

} // namespace

OnvifAnswer OnvifService::device(Call &call)
{
    DeviceModel &m = call.model();
    DeviceSpec &spec = m.spec();
    OnvifState &o = call.onvif();
    const std::string base = baseAddress(m_state, call.device);
    const std::string &op = call.op;
    const std::string name = m_state.deviceName(call.device);
    Reply rep("tds:" + op + "Response");
    xml_node r = rep.r;

    if (op == "GetSystemDateAndTime") {
        NtpRecord ntp;
        const bool viaNtp = readRecord(m, CmdNtp, -1, ntp) && ntp.enabled();
        xml_node s = add(r, "tds:SystemDateAndTime");
        add(s, "tt:DateTimeType", viaNtp ? "NTP" : "Manual");
        add(s, "tt:DaylightSavings", boolText(o.daylightSavings));
        add(add(s, "tt:TimeZone"), "tt:TZ", o.timeZone);
        const std::time_t now = std::time(nullptr) + std::time_t(m.clockOffset());
        addDateTime(s, "tt:UTCDateTime", now);
        addDateTime(s, "tt:LocalDateTime", now + tzOffsetEast(o.timeZone));
        return rep.done();
    }
    if (op == "SetSystemDateAndTime") {
        const auto type = textOf(call.in, { "DateTimeType" });
        if (!type || (*type != "Manual" && *type != "NTP"))
            return invalidArg("InvalidDateTime", "DateTimeType is Manual or NTP");
        std::optional<std::string> tz = textOf(call.in, { "TimeZone", "TZ" });
        if (tz && (tz->empty() || tz->size() > 64))
            return invalidArg("InvalidTimeZone", "time zone of 1 to 64 characters");
        std::optional<int64_t> offset;
        if (*type == "Manual" && xml::child(call.in, "UTCDateTime")) {
            const xml_node u = xml::child(call.in, "UTCDateTime");
            const auto y = numberAt(u, { "Date", "Year" }), mo = numberAt(u, { "Date", "Month" }),
                       d = numberAt(u, { "Date", "Day" }), h = numberAt(u, { "Time", "Hour" }),
                       mi = numberAt(u, { "Time", "Minute" }), se = numberAt(u, { "Time", "Second" });
            if (!y || !mo || !d || !h || !mi || !se || *y < 1970 || *y > 2099
                || !isRealDate(int(*y), int(*mo), int(*d)) || *h < 0 || *h > 23 || *mi < 0 || *mi > 59
                || *se < 0 || *se > 59)
                return invalidArg("InvalidDateTime", "no such date and time");
            std::tm tm {};
            tm.tm_year = int(*y) - 1900;
            tm.tm_mon = int(*mo) - 1;
            tm.tm_mday = int(*d);
            tm.tm_hour = int(*h);
            tm.tm_min = int(*mi);
            tm.tm_sec = int(*se);
            offset = int64_t(timegm(&tm)) - int64_t(std::time(nullptr));
        }
        NtpRecord ntp;
        if (readRecord(m, CmdNtp, -1, ntp) && ntp.enabled() != (*type == "NTP")) {
            ntp.setEnabled(*type == "NTP");
            writeRecord(m, CmdNtp, -1, ntp);
        }
        if (tz)
            o.timeZone = *tz;
        if (const auto dst = textOf(call.in, { "DaylightSavings" }))
            o.daylightSavings = *dst == "true" || *dst == "1";
        if (offset) {
            m_state.log(name + ": clock set, " + std::to_string(m.clockOffset()) + " s -> "
                + std::to_string(*offset) + " s from the host's");
            m.setClockOffset(*offset);
        }
        m_persistence.save();
        return rep.done();
    }
    if (op == "GetDeviceInformation") {
        add(r, "tds:Manufacturer", DeviceModel::hardwareRecord(spec).vendorText());
        add(r, "tds:Model", spec.model);
        add(r, "tds:FirmwareVersion", spec.version);
        add(r, "tds:SerialNumber", spec.serial);
        add(r, "tds:HardwareId", m.hardwareName());
        return rep.done();
    }
    if (op == "GetCapabilities") {
        std::vector<std::string> wanted;
        for (xml_node c : xml::children(call.in, "Category"))
            wanted.push_back(xml::trimmedText(c));
        auto want = [&](const char *cat) {
            return wanted.empty() || std::find(wanted.begin(), wanted.end(), "All") != wanted.end()
                || std::find(wanted.begin(), wanted.end(), cat) != wanted.end();
        };
        if (!want("Device") && !want("Media") && !want("Imaging"))
            return fault("Receiver", { "ActionNotSupported", "NoSuchService" }, "no such service");
        xml_node c = add(r, "tds:Capabilities");
        if (want("Device")) {
            xml_node d = add(c, "tt:Device");
            add(d, "tt:XAddr", base + "/onvif/device_service");
            xml_node n = add(d, "tt:Network");
            add(n, "tt:IPFilter", "false");
            add(n, "tt:ZeroConfiguration", "false");
            add(n, "tt:IPVersion6", "false");
            add(n, "tt:DynDNS", "false");
            xml_node s = add(d, "tt:System");
            add(s, "tt:DiscoveryResolve", "false");
            add(s, "tt:DiscoveryBye", "false");
            add(s, "tt:RemoteDiscovery", "false");
            add(s, "tt:SystemBackup", "false");
            add(s, "tt:SystemLogging", "false");
            add(s, "tt:FirmwareUpgrade", "true");
            xml_node v = add(s, "tt:SupportedVersions");
            add(v, "tt:Major", 2);
            add(v, "tt:Minor", 60);
            xml_node io = add(d, "tt:IO");
            add(io, "tt:InputConnectors", 0);
            add(io, "tt:RelayOutputs", 0);
            xml_node sec = add(d, "tt:Security");
            for (const char *k : { "tt:TLS1.1", "tt:TLS1.2", "tt:OnboardKeyGeneration", "tt:AccessPolicyConfig",
                     "tt:X.509Token", "tt:SAMLToken", "tt:KerberosToken", "tt:RELToken" })
                add(sec, k, "false");
        }
        if (want("Imaging"))
            add(add(c, "tt:Imaging"), "tt:XAddr", base + "/onvif/imaging_service");
        if (want("Media")) {
            xml_node me = add(c, "tt:Media");
            add(me, "tt:XAddr", base + "/onvif/media_service");
            xml_node s = add(me, "tt:StreamingCapabilities");
            add(s, "tt:RTPMulticast", "false");
            add(s, "tt:RTP_TCP", "true");
            add(s, "tt:RTP_RTSP_TCP", "true");
        }
        return rep.done();
    }
    if (op == "GetServices") {
        const auto inc = textOf(call.in, { "IncludeCapability" });
        const bool caps = inc && (*inc == "true" || *inc == "1");
        struct Svc
        {
            const char *ns;
            const char *path;
            int major, minor;
            void (*caps)(xml_node);
        };
        // DeviceIO is listed because clients send the device's own
        // operations (SystemReboot) to it; the device service answers there.
        const Svc svcs[] = { { soap::ns::tds, "/onvif/device_service", 2, 60, addDeviceServiceCaps },
            { soap::ns::trt, "/onvif/media_service", 2, 60, addMediaServiceCaps },
            { soap::ns::timg, "/onvif/imaging_service", 2, 60, addImagingServiceCaps },
            { kDeviceIoNamespace, "/onvif/deviceio_service", 2, 60, [](xml_node) {} } };
        for (const Svc &s : svcs) {
            xml_node e = add(r, "tds:Service");
            add(e, "tds:Namespace", s.ns);
            add(e, "tds:XAddr", base + s.path);
            if (caps)
                s.caps(add(e, "tds:Capabilities"));
            xml_node v = add(e, "tds:Version");
            add(v, "tt:Major", s.major);
            add(v, "tt:Minor", s.minor);
        }
        return rep.done();
    }
    if (op == "GetServiceCapabilities") {
        addDeviceServiceCaps(r);
        // The response element holds the capabilities directly.
        return rep.done();
    }
    if (op == "GetWsdlUrl") {
        add(r, "tds:WsdlUrl", "http://www.onvif.org/Documents/Specifications.aspx");
        return rep.done();
    }
    if (op == "GetEndpointReference") {
        add(r, "tds:GUID", endpointReference(spec.mac, spec.serial));
        return rep.done();
    }
    if (op == "GetScopes") {
        const std::pair<const char *, std::string> scopes[] = { { "type", "video_encoder" },
            { "type", "Network_Video_Transmitter" }, { "hardware", spec.model }, { "name", spec.model },
            { "MAC", spec.mac }, { "Profile", "Streaming" } };
        for (const auto &s : scopes) {
            xml_node e = add(r, "tds:Scopes");
            add(e, "tt:ScopeDef", "Fixed");
            add(e, "tt:ScopeItem", onvif::discovery::makeScope(s.first, s.second));
        }
        return rep.done();
    }
    if (op == "GetHostname") {
        xml_node h = add(r, "tds:HostnameInformation");
        add(h, "tt:FromDHCP", "false");
        add(h, "tt:Name", o.hostname.empty() ? spec.model + "-" + spec.serial : o.hostname);
        return rep.done();
    }
    if (op == "SetHostname") {
        const auto h = textOf(call.in, { "Name" });
        if (!h || h->empty() || h->size() > 63
            || h->find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.")
                != std::string::npos)
            return invalidArg("InvalidHostname", "host name of letters, digits, '-' and '.'");
        o.hostname = *h;
        return rep.done();
    }
    if (op == "GetDNS") {
        xml_node d = add(r, "tds:DNSInformation");
        add(d, "tt:FromDHCP", "false");
        if (spec.gateway) {
            xml_node a = add(d, "tt:DNSManual");
            add(a, "tt:Type", "IPv4");
            add(a, "tt:IPv4Address", net::ipv4Text(spec.gateway));
        }
        return rep.done();
    }
    if (op == "GetNetworkInterfaces") {
        DhcpRecord dhcp;
        const bool viaDhcp = readRecord(m, CmdDhcp, -1, dhcp) && dhcp.bytes[DhcpRecord::Enable];
        xml_node n = add(r, "tds:NetworkInterfaces");
        n.append_attribute("token") = "eth0";
        add(n, "tt:Enabled", "true");
        xml_node info = add(n, "tt:Info");
        add(info, "tt:Name", "eth0");
        add(info, "tt:HwAddress", spec.mac);
        add(info, "tt:MTU", 1500);
        xml_node v4 = add(n, "tt:IPv4");
        add(v4, "tt:Enabled", "true");
        xml_node cfg = add(v4, "tt:Config");
        xml_node manual = add(cfg, "tt:Manual");
        add(manual, "tt:Address", net::ipv4Text(spec.ip));
        add(manual, "tt:PrefixLength", prefixLength(spec.mask));
        if (viaDhcp) {
            xml_node fd = add(cfg, "tt:FromDHCP");
            add(fd, "tt:Address", net::ipv4Text(spec.ip));
            add(fd, "tt:PrefixLength", prefixLength(spec.mask));
        }
        add(cfg, "tt:DHCP", boolText(viaDhcp));
        return rep.done();
    }
    if (op == "SetNetworkInterfaces") {
        const auto token = textOf(call.in, { "InterfaceToken" });
        if (!token || *token != "eth0")
            return invalidArg("InvalidNetworkInterface", "no interface " + token.value_or(""));
        const xml_node v4 = xml::descendant(call.in, "IPv4");
        if (!v4)
            return rep.done();
        uint32_t ip = spec.ip, mask = spec.mask;
        if (const xml_node man = xml::child(v4, "Manual")) {
            const auto addr = textOf(man, { "Address" });
            const auto prefix = numberAt(man, { "PrefixLength" });
            if (!addr || !net::parseIpv4(*addr, ip) || !prefix || *prefix < 1 || *prefix > 32)
                return invalidArg("InvalidIPv4Address", "manual address and prefix length needed");
            mask = maskOf(int(*prefix));
        }
        // A gateway the new subnet cannot reach is dropped, not refused.
        uint32_t gateway = spec.gateway;
        if (gateway && (gateway & mask) != (ip & mask))
            gateway = 0;
        std::string why = DeviceModel::addressRefusal(ip, mask, gateway);
        if (why.empty() && ip != spec.ip && !net::isLoopback(ip))
            why = net::ipv4Text(ip) + " is not a loopback address";
        if (why.empty() && ip != spec.ip) {
            const std::string holder = m_state.holderOf(ip, std::size_t(call.device));
            if (!holder.empty())
                why = net::ipv4Text(ip) + " is held by " + holder;
        }
        if (!why.empty()) {
            m_state.log(name + ": address refused: " + why);
            return invalidArg("InvalidIPv4Address", why);
        }
        if (const auto dhcpText = textOf(v4, { "DHCP" })) {
            DhcpRecord dhcp;
            if (readRecord(m, CmdDhcp, -1, dhcp)) {
                dhcp.bytes[DhcpRecord::Enable] = (*dhcpText == "true" || *dhcpText == "1") ? 1 : 0;
                writeRecord(m, CmdDhcp, -1, dhcp);
            }
        }
        const bool moves = ip != spec.ip;
        if (moves || mask != spec.mask || gateway != spec.gateway)
            m_state.log(name + ": ONVIF address " + net::ipv4Text(spec.ip) + "/" + std::to_string(prefixLength(spec.mask))
                + " -> " + net::ipv4Text(ip) + "/" + std::to_string(prefixLength(mask)));
        spec.ip = ip;
        spec.mask = mask;
        spec.gateway = gateway;
        m_persistence.save();
        if (moves)
            m_control.moveDevice(call.device);
        add(r, "tds:RebootNeeded", "false");
        return rep.done();
    }
    if (op == "GetNetworkDefaultGateway") {
        xml_node g = add(r, "tds:NetworkGateway");
        if (spec.gateway)
            add(g, "tt:IPv4Address", net::ipv4Text(spec.gateway));
        return rep.done();
    }
    if (op == "SetNetworkDefaultGateway") {
        uint32_t gw = 0;
        const auto text = textOf(call.in, { "IPv4Address" });
        if (text && !text->empty() && !net::parseIpv4(*text, gw))
            return invalidArg("InvalidGatewayAddress", "not an IPv4 address");
        const std::string why = DeviceModel::addressRefusal(spec.ip, spec.mask, gw);
        if (!why.empty())
            return invalidArg("InvalidGatewayAddress", why);
        spec.gateway = gw;
        m_persistence.save();
        return rep.done();
    }
    if (op == "GetNTP") {
        NtpRecord ntp;
        xml_node n = add(r, "tds:NTPInformation");
        add(n, "tt:FromDHCP", "false");
        if (readRecord(m, CmdNtp, -1, ntp) && !ntp.server().empty()) {
            xml_node man = add(n, "tt:NTPManual");
            uint32_t a = 0;
            const bool isIp = net::parseIpv4(ntp.server(), a);
            add(man, "tt:Type", isIp ? "IPv4" : "DNS");
            add(man, isIp ? "tt:IPv4Address" : "tt:DNSname", ntp.server());
        }
        return rep.done();
    }
    if (op == "SetNTP") {
        NtpRecord ntp;
        if (!readRecord(m, CmdNtp, -1, ntp))
            return fault("Receiver", { "ActionNotSupported" }, "no NTP here");
        std::string server;
        if (const xml_node man = xml::child(call.in, "NTPManual")) {
            server = textOf(man, { "IPv4Address" }).value_or(textOf(man, { "DNSname" }).value_or(""));
            if (server.empty() || server.size() >= NtpRecord::ServerBytes
                || server.find_first_of(" \t\r\n\"<>") != std::string::npos)
                return invalidArg("InvalidIPv4Address", "NTP server of 1 to 63 characters");
        }
        ntp.setServer(server);
        if (writeRecord(m, CmdNtp, -1, ntp) != proto::Ok)
            return invalidArg("InvalidIPv4Address", m.lastRefusal());
        m_persistence.save();
        return rep.done();
    }
    if (op == "GetNetworkProtocols") {
        const std::pair<const char *, int> protocols[] = { { "HTTP", m.boundPort() }, { "RTSP", o.rtspPort } };
        for (const auto &p : protocols) {
            xml_node e = add(r, "tds:NetworkProtocols");
            add(e, "tt:Name", p.first);
            add(e, "tt:Enabled", "true");
            add(e, "tt:Port", p.second);
        }
        return rep.done();
    }
    if (op == "GetUsers") {
        for (const User &u : o.users) {
            xml_node e = add(r, "tds:User");
            add(e, "tt:Username", u.name);
            add(e, "tt:UserLevel", "Administrator");
        }
        return rep.done();
    }
    if (op == "SystemReboot") {
        m_state.log(name + ": ONVIF reboot");
        add(r, "tds:Message", "Rebooting in " + durationText(spec.rebootMs).substr(2));
        m_control.rebootDevice(call.device, spec.rebootMs);
        return rep.done();
    }
    if (op == "SetSystemFactoryDefault") {
        const auto kind = textOf(call.in, { "FactoryDefault" });
        if (!kind || (*kind != "Soft" && *kind != "Hard"))
            return invalidArg("InvalidArgVal", "FactoryDefault is Soft or Hard");
        // Both keep the network settings: a camera on loopback that forgot
        // its address would leave its block of the emulator.
        RestoreDefaultsRecord all {};
        for (int g = 0; g < RestoreDefaultsRecord::Groups; ++g)
            all.setGroup(g, g != RestoreDefaultsRecord::Network);
        const int32_t result = writeRecord(m, CmdRestoreDefaults, -1, all);
        if (result != proto::Ok && result != proto::NeedReboot)
            return fault("Receiver", { "Action" }, "restore refused: " + m.lastRefusal());
        o.hostname.clear();
        o.timeZone = "UTC0";
        o.daylightSavings = false;
        o.contrast = o.saturation = o.sharpness = 50;
        m.setClockOffset(spec.clockOffsetS);
        m_state.log(name + ": ONVIF factory default (" + *kind + ")");
        m_persistence.save();
        m_control.rebootDevice(call.device, spec.rebootMs);
        return rep.done();
    }
    if (op == "StartFirmwareUpgrade") {
        if (call.dev.upgrade || call.dev.flashing || !o.uploadToken.empty())
            return fault("Receiver", { "Action", "TooManyUploads" }, "an upgrade is under way");
        o.uploadToken = randomHex(16);
        add(r, "tds:UploadUri", base + "/onvif/firmware/" + o.uploadToken);
        add(r, "tds:UploadDelay", "PT0S");
        add(r, "tds:ExpectedDownTime", durationText(spec.flashMs + spec.rebootMs));
        return rep.done();
    }
    return fault("Receiver", { "ActionNotSupported" }, "no operation " + op);
}

namespace {

struct StreamView
{
    const char *profile;
    const char *encoder;
    bool sub;
};
const StreamView kStreams[2] = { { "main", "venc_main", false }, { "sub", "venc_sub", true } };

void addEncoderConfig(xml_node parent, const char *name, const StreamView &s, const StreamParams &p,
    const ResolutionList &list)
{
    xml_node c = add(parent, name);
    c.append_attribute("token") = s.encoder;
    add(c, "tt:Name", s.encoder);
    add(c, "tt:UseCount", 1);
    add(c, "tt:Encoding", "H264");
    const int res = std::clamp(p.resolution(), 0, ResolutionList::Entries - 1);
    xml_node rs = add(c, "tt:Resolution");
    add(rs, "tt:Width", list.entry[res].widthValue());
    add(rs, "tt:Height", list.entry[res].heightValue());
    add(c, "tt:Quality", p.quality());
    xml_node rc = add(c, "tt:RateControl");
    add(rc, "tt:FrameRateLimit", p.frameRate());
    add(rc, "tt:EncodingInterval", 1);
    add(rc, "tt:BitrateLimit", p.bitRate());
    xml_node h = add(c, "tt:H264");
    add(h, "tt:GovLength", p.iFrameInterval());
    add(h, "tt:H264Profile", "Main");
    xml_node mc = add(c, "tt:Multicast");
    xml_node a = add(mc, "tt:Address");
    add(a, "tt:Type", "IPv4");
    add(a, "tt:IPv4Address", "0.0.0.0");
    add(mc, "tt:Port", 0);
    add(mc, "tt:TTL", 0);
    add(mc, "tt:AutoStart", "false");
    add(c, "tt:SessionTimeout", "PT60S");
}

void addSourceConfig(xml_node parent, const char *name, int width, int height)
{
    xml_node c = add(parent, name);
    c.append_attribute("token") = "vsc0";
    add(c, "tt:Name", "vsc0");
    add(c, "tt:UseCount", 2);
    add(c, "tt:SourceToken", "vs0");
    xml_node b = add(c, "tt:Bounds");
    b.append_attribute("x") = 0;
    b.append_attribute("y") = 0;
    b.append_attribute("width") = width;
    b.append_attribute("height") = height;
}

} // namespace

OnvifAnswer OnvifService::media(Call &call)
{
    DeviceModel &m = call.model();
    const std::string &op = call.op;
    Reply rep("trt:" + op + "Response");
    xml_node r = rep.r;
    auto table = std::make_unique<EncodeTable>();
    ResolutionList list;
    if (!readRecord(m, CmdEncodeTable, -1, *table) || !readRecord(m, CmdResolutionList, -1, list))
        return fault("Receiver", { "ActionNotSupported" }, "no media on this device");
    const ChannelEncode &ch = table->channel[0];
    auto paramsOf = [&](const StreamView &s) -> const StreamParams & { return s.sub ? ch.sub : ch.main; };
    // The sensor: the largest resolution the main stream may take.
    int sensorW = 0, sensorH = 0;
    for (const ResolutionChoice &c : resolutionsOf(m, false)) {
        if (int64_t(c.width) * c.height > int64_t(sensorW) * sensorH) {
            sensorW = c.width;
            sensorH = c.height;
        }
    }
    const int maxFps = m.spec().ntsc ? 30 : 25;
    auto streamOf = [&](const char *element) -> const StreamView * {
        const auto token = textOf(call.in, { element });
        bool sub = false;
        if (!token || !profileStream(*token, sub))
            return nullptr;
        return &kStreams[sub ? 1 : 0];
    };

    if (op == "GetProfiles" || op == "GetProfile") {
        const StreamView *only = nullptr;
        if (op == "GetProfile" && !(only = streamOf("ProfileToken")))
            return invalidArg("NoProfile", "no such profile");
        for (const StreamView &s : kStreams) {
            if (only && only != &s)
                continue;
            xml_node p = add(r, op == "GetProfile" ? "trt:Profile" : "trt:Profiles");
            p.append_attribute("token") = s.profile;
            p.append_attribute("fixed") = "true";
            add(p, "tt:Name", s.profile);
            addSourceConfig(p, "tt:VideoSourceConfiguration", sensorW, sensorH);
            addEncoderConfig(p, "tt:VideoEncoderConfiguration", s, paramsOf(s), list);
        }
        return rep.done();
    }
    if (op == "GetVideoSources") {
        xml_node v = add(r, "trt:VideoSources");
        v.append_attribute("token") = "vs0";
        add(v, "tt:Framerate", maxFps);
        xml_node res = add(v, "tt:Resolution");
        add(res, "tt:Width", sensorW);
        add(res, "tt:Height", sensorH);
        return rep.done();
    }
    if (op == "GetVideoSourceConfigurations" || op == "GetVideoSourceConfiguration") {
        addSourceConfig(r, op == "GetVideoSourceConfiguration" ? "trt:Configuration" : "trt:Configurations", sensorW,
            sensorH);
        return rep.done();
    }
    if (op == "GetVideoEncoderConfigurations") {
        for (const StreamView &s : kStreams)
            addEncoderConfig(r, "trt:Configurations", s, paramsOf(s), list);
        return rep.done();
    }
    if (op == "GetVideoEncoderConfiguration") {
        const StreamView *s = streamOf("ConfigurationToken");
        if (!s)
            return invalidArg("NoConfig", "no such configuration");
        addEncoderConfig(r, "trt:Configuration", *s, paramsOf(*s), list);
        return rep.done();
    }
    if (op == "GetVideoEncoderConfigurationOptions") {
        const StreamView *s = streamOf("ConfigurationToken");
        if (!s)
            s = streamOf("ProfileToken");
        std::vector<ResolutionChoice> res = resolutionsOf(m, s && s->sub);
        if (!s) {
            // Options for no particular stream: what either may take.
            for (const ResolutionChoice &c : resolutionsOf(m, true)) {
                if (std::none_of(res.begin(), res.end(), [&](const ResolutionChoice &x) { return x.index == c.index; }))
                    res.push_back(c);
            }
        }
        xml_node o = add(r, "trt:Options");
        xml_node q = add(o, "tt:QualityRange");
        add(q, "tt:Min", 1);
        add(q, "tt:Max", 6);
        auto h264 = [&](xml_node parent, bool bitrate) {
            xml_node h = add(parent, "tt:H264");
            for (const ResolutionChoice &c : res) {
                xml_node a = add(h, "tt:ResolutionsAvailable");
                add(a, "tt:Width", c.width);
                add(a, "tt:Height", c.height);
            }
            xml_node g = add(h, "tt:GovLengthRange");
            add(g, "tt:Min", 1);
            add(g, "tt:Max", 400);
            xml_node f = add(h, "tt:FrameRateRange");
            add(f, "tt:Min", 1);
            add(f, "tt:Max", maxFps);
            xml_node e = add(h, "tt:EncodingIntervalRange");
            add(e, "tt:Min", 1);
            add(e, "tt:Max", 1);
            add(h, "tt:H264ProfilesSupported", "Main");
            if (bitrate) {
                xml_node b = add(h, "tt:BitrateRange");
                add(b, "tt:Min", 32);
                add(b, "tt:Max", 16384);
            }
        };
        h264(o, false);
        h264(add(o, "tt:Extension"), true);
        return rep.done();
    }
    if (op == "SetVideoEncoderConfiguration") {
        const xml_node c = xml::child(call.in, "Configuration");
        bool sub = false;
        if (!c || !profileStream(c.attribute("token").as_string(), sub))
            return invalidArg("NoConfig", "no such configuration");
        StreamParams &p = sub ? table->channel[0].sub : table->channel[0].main;
        const StreamParams before = p;
        if (const auto enc = textOf(c, { "Encoding" }); enc && *enc != "H264")
            return invalidArg("ConfigModify", "this camera encodes H264 only");
        const auto w = numberAt(c, { "Resolution", "Width" }), h = numberAt(c, { "Resolution", "Height" });
        if (w || h) {
            const std::vector<ResolutionChoice> choices = resolutionsOf(m, sub);
            const auto it = std::find_if(choices.begin(), choices.end(), [&](const ResolutionChoice &x) {
                return w && h && x.width == int(*w) && x.height == int(*h);
            });
            if (it == choices.end())
                return invalidArg("ConfigModify", "resolution not among the options");
            p.setResolution(it->index);
        }
        if (const auto q = numberAt(c, { "Quality" })) {
            if (*q < 1 || *q > 6)
                return invalidArg("ConfigModify", "quality is 1 to 6");
            p.setQuality(int(std::lround(*q)));
        }
        if (const auto f = numberAt(c, { "RateControl", "FrameRateLimit" })) {
            if (*f < 1 || *f > maxFps)
                return invalidArg("ConfigModify", "frame rate is 1 to " + std::to_string(maxFps));
            p.setFrameRate(int(*f));
        }
        if (const auto b = numberAt(c, { "RateControl", "BitrateLimit" })) {
            if (*b < 32 || *b > 16384)
                return invalidArg("ConfigModify", "bit rate is 32 to 16384 kbit/s");
            p.setBitRate(int(*b));
        }
        if (const auto g = numberAt(c, { "H264", "GovLength" })) {
            if (*g < 1 || *g > 400)
                return invalidArg("ConfigModify", "GOP length is 1 to 400");
            p.setIFrameInterval(int(*g));
        }
        if (std::memcmp(&before, &p, sizeof p) == 0)
            return rep.done();
        if (writeRecord(m, CmdEncodeTable, -1, *table) != proto::Ok) {
            m_state.log(m_state.deviceName(call.device) + ": ONVIF encoder refused: " + m.lastRefusal());
            return invalidArg("ConfigModify", m.lastRefusal());
        }
        m_state.log(m_state.deviceName(call.device) + ": ONVIF encoder " + (sub ? "sub" : "main") + " set");
        m_persistence.save();
        m_control.restream(call.device);
        return rep.done();
    }
    if (op == "GetStreamUri") {
        const StreamView *s = streamOf("ProfileToken");
        if (!s)
            return invalidArg("NoProfile", "no such profile");
        if (!call.onvif().rtspPort)
            return fault("Receiver", { "Action" }, "the RTSP service is not running");
        xml_node u = add(r, "trt:MediaUri");
        add(u, "tt:Uri",
            "rtsp://" + net::ipv4Text(m.spec().ip) + ":" + std::to_string(call.onvif().rtspPort) + "/ch1/"
                + (s->sub ? "sub" : "main"));
        add(u, "tt:InvalidAfterConnect", "false");
        add(u, "tt:InvalidAfterReboot", "false");
        add(u, "tt:Timeout", "PT0S");
        return rep.done();
    }
    if (op == "GetAudioSources" || op == "GetAudioSourceConfigurations" || op == "GetAudioEncoderConfigurations")
        return rep.done();
    if (op == "GetServiceCapabilities") {
        addMediaServiceCaps(r);
        return rep.done();
    }
    return fault("Receiver", { "ActionNotSupported" }, "no operation " + op);
}

OnvifAnswer OnvifService::imaging(Call &call)
{
    DeviceModel &m = call.model();
    OnvifState &o = call.onvif();
    const std::string &op = call.op;
    Reply rep("timg:" + op + "Response");
    xml_node r = rep.r;
    if (op == "GetServiceCapabilities") {
        addImagingServiceCaps(r);
        return rep.done();
    }
    ImageRecord image;
    ExposureRecord exposure;
    if (!readRecord(m, CmdImage, 0, image) || !readRecord(m, CmdExposure, 0, exposure))
        return fault("Receiver", { "ActionNotSupported" }, "no imaging on this device");
    const auto source = textOf(call.in, { "VideoSourceToken" });
    if (!source || *source != "vs0")
        return invalidArg("NoSource", "no such video source");
    const bool wdrOffered = cameraFeaturesOf(m.spec()).wdr;
    // The exposure block in force, as the scene reads it.
    const int block = (exposure.bytes[ExposureRecord::NightBlock] ? 1 : 0) + (image.bytes[ImageRecord::Wdr] ? 2 : 0);
    uint8_t *b = exposure.block(block);

    if (op == "GetImagingSettings") {
        xml_node s = add(r, "timg:ImagingSettings");
        add(add(s, "tt:BacklightCompensation"), "tt:Mode", b[ExposureRecord::BackLight] ? "ON" : "OFF");
        const int ae = std::clamp<int>(int16_t(uint16_t(b[ExposureRecord::Ae] | b[ExposureRecord::Ae + 1] << 8)), 1, 255);
        add(s, "tt:Brightness", std::lround((ae - 1) * 100.0 / 254.0));
        add(s, "tt:ColorSaturation", o.saturation);
        add(s, "tt:Contrast", o.contrast);
        xml_node e = add(s, "tt:Exposure");
        const int32_t mode = int32_t(readLe32(b + ExposureRecord::Mode));
        add(e, "tt:Mode", mode == 0 ? "AUTO" : "MANUAL");
        add(e, "tt:MinExposureTime", 100);
        add(e, "tt:MaxExposureTime", 40000);
        if (mode >= 1 && mode <= 8)
            add(e, "tt:ExposureTime", std::lround(kShutterUs[mode - 1]));
        const uint8_t dn = image.bytes[ImageRecord::DayNight];
        add(s, "tt:IrCutFilter", dn == 1 ? "ON" : dn == 2 ? "OFF" : "AUTO");
        add(s, "tt:Sharpness", o.sharpness);
        add(add(s, "tt:WideDynamicRange"), "tt:Mode", image.bytes[ImageRecord::Wdr] ? "ON" : "OFF");
        return rep.done();
    }
    if (op == "GetOptions") {
        xml_node s = add(r, "timg:ImagingOptions");
        xml_node bl = add(s, "tt:BacklightCompensation");
        add(bl, "tt:Mode", "OFF");
        add(bl, "tt:Mode", "ON");
        for (const char *k : { "tt:Brightness", "tt:ColorSaturation", "tt:Contrast" }) {
            xml_node range = add(s, k);
            add(range, "tt:Min", 0);
            add(range, "tt:Max", 100);
        }
        xml_node e = add(s, "tt:Exposure");
        add(e, "tt:Mode", "AUTO");
        add(e, "tt:Mode", "MANUAL");
        xml_node et = add(e, "tt:ExposureTime");
        add(et, "tt:Min", 100);
        add(et, "tt:Max", 40000);
        for (const char *mode : { "ON", "OFF", "AUTO" })
            add(s, "tt:IrCutFilterModes", mode);
        xml_node sh = add(s, "tt:Sharpness");
        add(sh, "tt:Min", 0);
        add(sh, "tt:Max", 100);
        xml_node w = add(s, "tt:WideDynamicRange");
        add(w, "tt:Mode", "OFF");
        if (wdrOffered)
            add(w, "tt:Mode", "ON");
        return rep.done();
    }
    if (op == "SetImagingSettings") {
        const xml_node s = xml::child(call.in, "ImagingSettings");
        if (!s)
            return invalidArg("SettingsInvalid", "no ImagingSettings");
        auto percent = [&](const char *name, std::optional<int> &out) {
            const auto v = numberAt(s, { name });
            if (!xml::child(s, name))
                return true;
            if (!v || *v < 0 || *v > 100)
                return false;
            out = int(std::lround(*v));
            return true;
        };
        std::optional<int> brightness, saturation, contrast, sharpness;
        if (!percent("Brightness", brightness) || !percent("ColorSaturation", saturation)
            || !percent("Contrast", contrast) || !percent("Sharpness", sharpness))
            return invalidArg("SettingsInvalid", "levels are 0 to 100");
        ImageRecord newImage = image;
        ExposureRecord newExposure = exposure;
        if (const auto ir = textOf(s, { "IrCutFilter" })) {
            if (*ir != "ON" && *ir != "OFF" && *ir != "AUTO")
                return invalidArg("SettingsInvalid", "IrCutFilter is ON, OFF or AUTO");
            newImage.bytes[ImageRecord::DayNight] = *ir == "ON" ? 1 : *ir == "OFF" ? 2 : 0;
        }
        if (const auto wdr = textOf(s, { "WideDynamicRange", "Mode" })) {
            if (*wdr != "ON" && *wdr != "OFF")
                return invalidArg("SettingsInvalid", "WideDynamicRange is ON or OFF");
            if (*wdr == "ON" && !wdrOffered)
                return invalidArg("SettingsInvalid", "this camera has no wide dynamic range");
            newImage.bytes[ImageRecord::Wdr] = *wdr == "ON";
        }
        const int newBlock
            = (newExposure.bytes[ExposureRecord::NightBlock] ? 1 : 0) + (newImage.bytes[ImageRecord::Wdr] ? 2 : 0);
        uint8_t *nb = newExposure.block(newBlock);
        if (const auto bl = textOf(s, { "BacklightCompensation", "Mode" })) {
            if (*bl != "ON" && *bl != "OFF")
                return invalidArg("SettingsInvalid", "BacklightCompensation is ON or OFF");
            nb[ExposureRecord::BackLight] = *bl == "ON";
        }
        if (brightness) {
            const int ae = 1 + int(std::lround(*brightness * 254.0 / 100.0));
            nb[ExposureRecord::Ae] = uint8_t(ae & 0xff);
            nb[ExposureRecord::Ae + 1] = uint8_t(ae >> 8);
        }
        if (const xml_node e = xml::child(s, "Exposure")) {
            const auto mode = textOf(e, { "Mode" });
            if (!mode || (*mode != "AUTO" && *mode != "MANUAL"))
                return invalidArg("SettingsInvalid", "Exposure Mode is AUTO or MANUAL");
            int32_t shutter = 0;
            if (*mode == "MANUAL") {
                const auto t = numberAt(e, { "ExposureTime" });
                if (!t || *t < 100 || *t > 40000)
                    return invalidArg("SettingsInvalid", "ExposureTime is 100 to 40000 us");
                // The nearest fixed shutter the device has.
                shutter = 1;
                for (int i = 1; i < 8; ++i) {
                    if (std::fabs(std::log(kShutterUs[i] / *t)) < std::fabs(std::log(kShutterUs[shutter - 1] / *t)))
                        shutter = i + 1;
                }
            }
            writeLe32(nb + ExposureRecord::Mode, uint32_t(shutter));
        }
        if (std::memcmp(&newImage, &image, sizeof image) != 0
            && writeRecord(m, CmdImage, 0, newImage) != proto::Ok)
            return invalidArg("SettingsInvalid", m.lastRefusal());
        if (std::memcmp(&newExposure, &exposure, sizeof exposure) != 0
            && writeRecord(m, CmdExposure, 0, newExposure) != proto::Ok) {
            if (std::memcmp(&newImage, &image, sizeof image) != 0)
                writeRecord(m, CmdImage, 0, image);
            return invalidArg("SettingsInvalid", m.lastRefusal());
        }
        if (saturation)
            o.saturation = *saturation;
        if (contrast)
            o.contrast = *contrast;
        if (sharpness)
            o.sharpness = *sharpness;
        m_persistence.save();
        return rep.done();
    }
    return fault("Receiver", { "ActionNotSupported" }, "no operation " + op);
}

} // namespace scoutrix::devsim
