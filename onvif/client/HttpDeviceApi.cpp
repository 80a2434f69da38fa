#include "HttpDeviceApi.h"

#include <arpa/inet.h>

#include <httplib.h>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Soap.h"
#include "WsSecurity.h"

namespace scoutrix::onvif {

namespace {

using Clock = std::chrono::steady_clock;
using soap::Envelope;

Failure failure(CallError kind, std::string reason)
{
    return Failure {kind, std::move(reason)};
}

std::string text(pugi::xml_node from, std::initializer_list<std::string_view> path)
{
    return xml::textAt(from, path).value_or(std::string());
}

std::optional<double> number(pugi::xml_node node)
{
    if (!node)
        return std::nullopt;
    const std::string t = xml::trimmedText(node);
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size())
        return std::nullopt;
    return v;
}

int integer(pugi::xml_node node, int fallback = 0)
{
    const auto v = number(node);
    return v && *v >= -2147483648.0 && *v <= 2147483647.0 ? int(*v) : fallback;
}

bool boolean(pugi::xml_node node)
{
    const std::string t = xml::trimmedText(node);
    return t == "true" || t == "1";
}

std::string formatNumber(double v)
{
    // Locale-free: a program that set LC_NUMERIC must still write "0.5".
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::optional<Range> rangeOf(pugi::xml_node node)
{
    const auto lo = number(xml::child(node, "Min"));
    const auto hi = number(xml::child(node, "Max"));
    if (!lo || !hi)
        return std::nullopt;
    return Range {*lo, *hi};
}

Range rangeOr(pugi::xml_node node)
{
    return rangeOf(node).value_or(Range {});
}

std::vector<std::string> texts(pugi::xml_node parent, std::string_view local)
{
    std::vector<std::string> out;
    for (pugi::xml_node n : xml::children(parent, local))
        out.push_back(xml::trimmedText(n));
    return out;
}

std::vector<Resolution> resolutions(pugi::xml_node parent)
{
    std::vector<Resolution> out;
    for (pugi::xml_node n : xml::children(parent, "ResolutionsAvailable"))
        out.push_back(Resolution {integer(xml::child(n, "Width")), integer(xml::child(n, "Height"))});
    return out;
}

std::optional<DateTime> dateTimeOf(pugi::xml_node node)
{
    if (!node)
        return std::nullopt;
    const pugi::xml_node date = xml::child(node, "Date");
    const pugi::xml_node time = xml::child(node, "Time");
    if (!date || !time)
        return std::nullopt;
    DateTime d;
    d.year = integer(xml::child(date, "Year"), -1);
    d.month = integer(xml::child(date, "Month"), -1);
    d.day = integer(xml::child(date, "Day"), -1);
    d.hour = integer(xml::child(time, "Hour"), -1);
    d.minute = integer(xml::child(time, "Minute"), -1);
    d.second = integer(xml::child(time, "Second"), -1);
    if (d.year < 1970 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31
        || d.hour < 0 || d.hour > 23 || d.minute < 0 || d.minute > 59 || d.second < 0
        || d.second > 60)
        return std::nullopt;
    return d;
}

wsse::Clock::time_point timePointOf(const DateTime &d)
{
    std::tm tm {};
    tm.tm_year = d.year - 1900;
    tm.tm_mon = d.month - 1;
    tm.tm_mday = d.day;
    tm.tm_hour = d.hour;
    tm.tm_min = d.minute;
    tm.tm_sec = d.second;
    return wsse::Clock::from_time_t(timegm(&tm));
}

void addDateTime(pugi::xml_node parent, const char *name, const DateTime &d)
{
    pugi::xml_node node = xml::addElement(parent, name);
    pugi::xml_node date = xml::addElement(node, "tt:Date");
    xml::addElement(date, "tt:Year", std::to_string(d.year));
    xml::addElement(date, "tt:Month", std::to_string(d.month));
    xml::addElement(date, "tt:Day", std::to_string(d.day));
    pugi::xml_node time = xml::addElement(node, "tt:Time");
    xml::addElement(time, "tt:Hour", std::to_string(d.hour));
    xml::addElement(time, "tt:Minute", std::to_string(d.minute));
    xml::addElement(time, "tt:Second", std::to_string(d.second));
}

bool isIpv4(const std::string &s)
{
    in_addr a {};
    return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

// Subcodes, outermost first, decide; the first that means something to the
// SDK wins over the generic "Sender"/"Receiver".
CallError kindOf(const soap::Fault &fault)
{
    static const struct {
        const char *subcode;
        CallError kind;
    } table[] = {
        {"NotAuthorized", CallError::NotAuthorized},
        {"FailedAuthentication", CallError::NotAuthorized},
        {"InvalidSecurity", CallError::NotAuthorized},
        {"InvalidSecurityToken", CallError::NotAuthorized},
        {"ActionNotSupported", CallError::NotSupported},
        {"NoImagingForSource", CallError::NotSupported},
        {"InvalidArgVal", CallError::InvalidArgument},
        {"InvalidArgs", CallError::InvalidArgument},
        {"InvalidArg", CallError::InvalidArgument},
        {"InvalidArgument", CallError::InvalidArgument},
    };
    for (const std::string &sub : fault.subcodes) {
        for (const auto &row : table) {
            if (sub == row.subcode)
                return row.kind;
        }
    }
    return CallError::Fault;
}

const char *prefixOf(HttpDeviceApi::Service service)
{
    switch (service) {
    case HttpDeviceApi::Service::Media:
        return "trt";
    case HttpDeviceApi::Service::Imaging:
        return "timg";
    default:
        return "tds";
    }
}

const char *namespaceOf(HttpDeviceApi::Service service)
{
    switch (service) {
    case HttpDeviceApi::Service::Media:
        return soap::ns::trt;
    case HttpDeviceApi::Service::Imaging:
        return soap::ns::timg;
    default:
        return soap::ns::tds;
    }
}

CallError transportKind(httplib::Error error, bool timedOut)
{
    switch (error) {
    case httplib::Error::ConnectionTimeout:
        return CallError::Timeout;
    case httplib::Error::Read:
        return timedOut ? CallError::Timeout : CallError::Unreachable;
    default:
        return CallError::Unreachable;
    }
}

void setTimeouts(httplib::Client &client, int ms)
{
    const auto d = std::chrono::milliseconds(ms);
    client.set_connection_timeout(d);
    client.set_read_timeout(d);
    client.set_write_timeout(d);
    client.set_keep_alive(false);
}

VideoEncoderConfiguration encoderOf(pugi::xml_node n)
{
    VideoEncoderConfiguration c;
    c.token = n.attribute("token").as_string();
    c.name = text(n, {"Name"});
    c.useCount = integer(xml::child(n, "UseCount"));
    c.encoding = text(n, {"Encoding"});
    const pugi::xml_node res = xml::child(n, "Resolution");
    c.resolution = Resolution {integer(xml::child(res, "Width")), integer(xml::child(res, "Height"))};
    c.quality = number(xml::child(n, "Quality")).value_or(0);
    const pugi::xml_node rate = xml::child(n, "RateControl");
    c.frameRateLimit = integer(xml::child(rate, "FrameRateLimit"));
    c.encodingInterval = integer(xml::child(rate, "EncodingInterval"), 1);
    c.bitrateLimit = integer(xml::child(rate, "BitrateLimit"));
    const pugi::xml_node h264 = xml::child(n, "H264");
    c.govLength = integer(xml::child(h264, "GovLength"));
    c.h264Profile = text(h264, {"H264Profile"});
    if (const auto s = parseDurationSeconds(text(n, {"SessionTimeout"})))
        c.sessionTimeoutSeconds = *s;
    return c;
}

} // namespace

struct HttpDeviceApi::Answer {
    Envelope envelope;
    pugi::xml_node payload() const { return envelope.payload; }
};

std::optional<HttpUrl> parseHttpUrl(const std::string &url)
{
    constexpr std::string_view scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return std::nullopt;
    HttpUrl out;
    const std::size_t hostStart = scheme.size();
    const std::size_t slash = url.find('/', hostStart);
    const std::string authority = url.substr(hostStart, slash == std::string::npos ? slash : slash - hostStart);
    out.path = slash == std::string::npos ? "/" : url.substr(slash);
    if (authority.empty() || authority.find('@') != std::string::npos || authority[0] == '[')
        return std::nullopt;
    const std::size_t colon = authority.find(':');
    out.host = authority.substr(0, colon);
    if (out.host.empty())
        return std::nullopt;
    if (colon != std::string::npos) {
        const std::string p = authority.substr(colon + 1);
        unsigned v = 0;
        const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), v);
        if (p.empty() || ec != std::errc() || end != p.data() + p.size() || v == 0 || v > 65535)
            return std::nullopt;
        out.port = uint16_t(v);
    }
    return out;
}

std::string makeHttpUrl(const std::string &host, uint16_t port, const std::string &path)
{
    return "http://" + host + (port == 80 ? std::string() : ":" + std::to_string(port))
        + (path.empty() || path[0] != '/' ? "/" + path : path);
}

std::optional<int> parseDurationSeconds(const std::string &textIn)
{
    const std::string t = textIn;
    if (t.size() < 3 || t[0] != 'P')
        return std::nullopt;
    long long total = 0;
    bool inTime = false, any = false;
    std::size_t i = 1;
    while (i < t.size()) {
        if (t[i] == 'T') {
            if (inTime)
                return std::nullopt;
            inTime = true;
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < t.size() && (std::isdigit(static_cast<unsigned char>(t[j])) || t[j] == '.'))
            ++j;
        if (j == i || j >= t.size() || j - i > 12)
            return std::nullopt;
        double v = 0;
        const auto [end, ec] = std::from_chars(t.data() + i, t.data() + j, v);
        if (ec != std::errc() || end != t.data() + j)
            return std::nullopt;
        const char unit = t[j];
        double factor = 0;
        if (!inTime && unit == 'D')
            factor = 86400;
        else if (inTime && unit == 'H')
            factor = 3600;
        else if (inTime && unit == 'M')
            factor = 60;
        else if (inTime && unit == 'S')
            factor = 1;
        else
            return std::nullopt;
        const double seconds = v * factor;
        total += static_cast<long long>(seconds) + (seconds > static_cast<long long>(seconds) ? 1 : 0);
        if (total > 2147483647LL)
            return std::nullopt;
        any = true;
        i = j + 1;
    }
    if (!any)
        return std::nullopt;
    return int(total);
}

HttpDeviceApi::HttpDeviceApi(const std::string &host, uint16_t port, std::string devicePath)
    : host_(host)
    , port_(port)
    , devicePath_(devicePath.empty() ? std::string(kDefaultPath) : std::move(devicePath))
{
}

void HttpDeviceApi::setCredentials(const std::string &user, const std::string &password)
{
    user_ = user;
    password_ = password;
}

std::string HttpDeviceApi::urlFor(Service service)
{
    if (service == Service::Device)
        return makeHttpUrl(host_, port_, devicePath_);
    if (!services_) {
        auto s = getServices();
        if (!s)
            return std::string();
    }
    return service == Service::Media ? services_->media : services_->imaging;
}

Reply<HttpDeviceApi::Answer> HttpDeviceApi::call(
    Service service, const char *operation, const BuildBody &build, bool signedCall)
{
    const std::string url = urlFor(service);
    if (url.empty())
        return failure(CallError::NotSupported, std::string("no service for ") + operation);
    const auto target = parseHttpUrl(url);
    if (!target)
        return failure(CallError::BadAnswer, "service address not usable: " + url);

    soap::Message message;
    if (signedCall && !user_.empty()) {
        // Signed with the device's clock: a camera without NTP may be far off
        // ours, and judges Created by its own time.
        if (!clockOffset_)
            (void)getSystemDateAndTime();
        wsse::addSecurityHeader(message,
            wsse::makeUsernameToken(user_, password_, wsse::Clock::now(), clockOffset_.value_or(0)));
    }
    const std::string element = std::string("<") + prefixOf(service) + ":" + operation + "/>";
    auto op = message.appendFragment(message.body(), element);
    if (!op)
        return failure(CallError::BadAnswer, op.error());
    if (build)
        build(*op);
    const std::string action = std::string(namespaceOf(service)) + "/" + operation;

    httplib::Client client(target->host, target->port);
    setTimeouts(client, timeoutMs_);
    httplib::Request request;
    request.method = "POST";
    request.path = target->path;
    request.body = message.toString();
    request.headers.emplace("Content-Type", "application/soap+xml; charset=utf-8; action=\"" + action + "\"");
    std::string body;
    bool oversized = false;
    const std::size_t maxBytes = limits_.maxBytes;
    request.content_receiver = [&](const char *data, size_t length, uint64_t, uint64_t) {
        if (body.size() + length > maxBytes) {
            oversized = true;
            return false;
        }
        body.append(data, length);
        return true;
    };
    const auto started = Clock::now();
    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    const bool sent = client.send(request, response, error);
    if (oversized)
        return failure(CallError::BadAnswer, std::string(operation) + ": answer over the size limit");
    if (!sent) {
        const bool timedOut = Clock::now() - started >= std::chrono::milliseconds(timeoutMs_ * 9 / 10);
        return failure(transportKind(error, timedOut),
            std::string(operation) + ": " + httplib::to_string(error));
    }
    const int status = response.status;
    auto envelope = soap::parseEnvelope(body, limits_);
    if (!envelope) {
        if (status == 401 || status == 403)
            return failure(CallError::NotAuthorized, "HTTP " + std::to_string(status));
        if (status == 404 || status == 405)
            return failure(CallError::NotSupported, "HTTP " + std::to_string(status));
        return failure(CallError::BadAnswer,
            std::string(operation) + ": HTTP " + std::to_string(status) + ", " + envelope.error());
    }
    if (envelope->fault) {
        const soap::Fault &f = *envelope->fault;
        CallError kind = kindOf(f);
        if (status == 401 && kind == CallError::Fault)
            kind = CallError::NotAuthorized;
        return failure(kind, f.reason.empty() ? std::string(operation) + " refused" : f.reason);
    }
    if (status == 401)
        return failure(CallError::NotAuthorized, "HTTP 401");
    if (status < 200 || status >= 300)
        return failure(CallError::Fault, std::string(operation) + ": HTTP " + std::to_string(status));
    if (envelope->payloadName != std::string(operation) + "Response")
        return failure(CallError::BadAnswer,
            std::string(operation) + ": unexpected " + envelope->payloadName);
    Answer answer;
    answer.envelope = std::move(*envelope);
    return answer;
}

Reply<SystemDateAndTime> HttpDeviceApi::getSystemDateAndTime()
{
    const auto localBefore = wsse::Clock::now();
    auto r = call(Service::Device, "GetSystemDateAndTime", {}, false);
    if (!r)
        return r.failure();
    const pugi::xml_node n = xml::child(r->payload(), "SystemDateAndTime");
    if (!n)
        return failure(CallError::BadAnswer, "GetSystemDateAndTime: no SystemDateAndTime");
    SystemDateAndTime out;
    out.ntp = text(n, {"DateTimeType"}) == "NTP";
    out.daylightSavings = boolean(xml::child(n, "DaylightSavings"));
    out.timeZone = text(n, {"TimeZone", "TZ"});
    out.utc = dateTimeOf(xml::child(n, "UTCDateTime"));
    out.local = dateTimeOf(xml::child(n, "LocalDateTime"));
    if (out.utc) {
        // The device read its clock somewhere between our send and its answer.
        const auto localNow = localBefore + (wsse::Clock::now() - localBefore) / 2;
        clockOffset_ = wsse::clockOffset(timePointOf(*out.utc), localNow);
    }
    return out;
}

Reply<DeviceInformation> HttpDeviceApi::getDeviceInformation()
{
    auto r = call(Service::Device, "GetDeviceInformation");
    if (!r)
        return r.failure();
    const pugi::xml_node n = r->payload();
    return DeviceInformation {text(n, {"Manufacturer"}), text(n, {"Model"}),
        text(n, {"FirmwareVersion"}), text(n, {"SerialNumber"}), text(n, {"HardwareId"})};
}

Reply<ServiceAddresses> HttpDeviceApi::getServices()
{
    auto r = call(Service::Device, "GetServices",
        [](pugi::xml_node op) { xml::addElement(op, "tds:IncludeCapability", "true"); });
    if (!r) {
        const CallError k = r.failure().kind;
        if (k == CallError::NotAuthorized || k == CallError::Unreachable || k == CallError::Timeout)
            return r.failure();
        return getCapabilities(); // older firmware knows only GetCapabilities
    }
    ServiceAddresses out;
    bool firmwareKnown = false;
    for (pugi::xml_node s : xml::children(r->payload(), "Service")) {
        const std::string ns = text(s, {"Namespace"});
        const std::string xaddr = text(s, {"XAddr"});
        if (ns == soap::ns::tds) {
            out.device = xaddr;
            const pugi::xml_node system = xml::descendant(xml::child(s, "Capabilities"), "System");
            if (pugi::xml_attribute a = system.attribute("HttpFirmwareUpgrade")) {
                firmwareKnown = true;
                out.firmwareUpload = a.as_bool();
            }
        } else if (ns == soap::ns::trt) {
            out.media = xaddr;
        } else if (ns == soap::ns::timg) {
            out.imaging = xaddr;
        }
    }
    if (!firmwareKnown) {
        if (auto caps = getCapabilities())
            out.firmwareUpload = caps->firmwareUpload;
    }
    services_ = out;
    return out;
}

Reply<ServiceAddresses> HttpDeviceApi::getCapabilities()
{
    auto r = call(Service::Device, "GetCapabilities",
        [](pugi::xml_node op) { xml::addElement(op, "tds:Category", "All"); });
    if (!r)
        return r.failure();
    const pugi::xml_node caps = xml::child(r->payload(), "Capabilities");
    ServiceAddresses out;
    out.device = text(caps, {"Device", "XAddr"});
    out.media = text(caps, {"Media", "XAddr"});
    out.imaging = text(caps, {"Imaging", "XAddr"});
    out.firmwareUpload = boolean(xml::descendant(xml::child(caps, "Device"), "FirmwareUpgrade"));
    if (!services_ || services_->media.empty())
        services_ = out;
    return out;
}

Reply<std::vector<NetworkInterface>> HttpDeviceApi::getNetworkInterfaces()
{
    auto r = call(Service::Device, "GetNetworkInterfaces");
    if (!r)
        return r.failure();
    std::vector<NetworkInterface> out;
    for (pugi::xml_node n : xml::children(r->payload(), "NetworkInterfaces")) {
        NetworkInterface i;
        i.token = n.attribute("token").as_string();
        i.enabled = boolean(xml::child(n, "Enabled"));
        i.hwAddress = text(n, {"Info", "HwAddress"});
        const pugi::xml_node v4 = xml::child(n, "IPv4");
        i.ipv4Enabled = !v4 || boolean(xml::child(v4, "Enabled"));
        const pugi::xml_node config = xml::child(v4, "Config");
        i.dhcp = boolean(xml::child(config, "DHCP"));
        pugi::xml_node address = xml::child(config, i.dhcp ? "FromDHCP" : "Manual");
        if (!address)
            address = xml::child(config, "Manual");
        i.address = text(address, {"Address"});
        i.prefixLength = integer(xml::child(address, "PrefixLength"), 24);
        out.push_back(std::move(i));
    }
    return out;
}

Reply<Done> HttpDeviceApi::setNetworkInterfaces(const NetworkInterfaceChange &change)
{
    auto r = call(Service::Device, "SetNetworkInterfaces", [&](pugi::xml_node op) {
        xml::addElement(op, "tds:InterfaceToken", change.token);
        pugi::xml_node ni = xml::addElement(op, "tds:NetworkInterface");
        xml::addElement(ni, "tt:Enabled", "true");
        pugi::xml_node v4 = xml::addElement(ni, "tt:IPv4");
        xml::addElement(v4, "tt:Enabled", "true");
        if (change.address) {
            pugi::xml_node manual = xml::addElement(v4, "tt:Manual");
            xml::addElement(manual, "tt:Address", *change.address);
            xml::addElement(manual, "tt:PrefixLength", std::to_string(change.prefixLength.value_or(24)));
        }
        if (change.dhcp)
            xml::addElement(v4, "tt:DHCP", *change.dhcp ? "true" : "false");
    });
    if (!r)
        return r.failure();
    return Done {boolean(xml::child(r->payload(), "RebootNeeded"))};
}

Reply<std::vector<std::string>> HttpDeviceApi::getNetworkDefaultGateway()
{
    auto r = call(Service::Device, "GetNetworkDefaultGateway");
    if (!r)
        return r.failure();
    return texts(xml::child(r->payload(), "NetworkGateway"), "IPv4Address");
}

Reply<Done> HttpDeviceApi::setNetworkDefaultGateway(const std::vector<std::string> &ipv4)
{
    auto r = call(Service::Device, "SetNetworkDefaultGateway", [&](pugi::xml_node op) {
        for (const std::string &a : ipv4)
            xml::addElement(op, "tds:IPv4Address", a);
    });
    if (!r)
        return r.failure();
    return Done {};
}

Reply<Done> HttpDeviceApi::setSystemDateAndTime(const SetDateAndTime &value)
{
    auto r = call(Service::Device, "SetSystemDateAndTime", [&](pugi::xml_node op) {
        xml::addElement(op, "tds:DateTimeType", value.ntp ? "NTP" : "Manual");
        xml::addElement(op, "tds:DaylightSavings", value.daylightSavings ? "true" : "false");
        if (value.timeZone)
            xml::addElement(xml::addElement(op, "tds:TimeZone"), "tt:TZ", *value.timeZone);
        if (!value.ntp && value.utc)
            addDateTime(op, "tds:UTCDateTime", *value.utc);
    });
    if (!r)
        return r.failure();
    // The device's clock moved: the next signed call must follow it.
    if (!value.ntp && value.utc)
        clockOffset_.reset();
    return Done {};
}

Reply<NtpSettings> HttpDeviceApi::getNtp()
{
    auto r = call(Service::Device, "GetNTP");
    if (!r)
        return r.failure();
    const pugi::xml_node info = xml::child(r->payload(), "NTPInformation");
    NtpSettings out;
    out.fromDhcp = boolean(xml::child(info, "FromDHCP"));
    for (pugi::xml_node m : xml::children(info, "NTPManual")) {
        std::string server = text(m, {"IPv4Address"});
        if (server.empty())
            server = text(m, {"DNSname"});
        if (!server.empty())
            out.servers.push_back(server);
    }
    return out;
}

Reply<Done> HttpDeviceApi::setNtp(const NtpSettings &value)
{
    auto r = call(Service::Device, "SetNTP", [&](pugi::xml_node op) {
        xml::addElement(op, "tds:FromDHCP", value.fromDhcp ? "true" : "false");
        for (const std::string &s : value.servers) {
            pugi::xml_node m = xml::addElement(op, "tds:NTPManual");
            const bool v4 = isIpv4(s);
            xml::addElement(m, "tt:Type", v4 ? "IPv4" : "DNS");
            xml::addElement(m, v4 ? "tt:IPv4Address" : "tt:DNSname", s);
        }
    });
    if (!r)
        return r.failure();
    return Done {};
}

Reply<Done> HttpDeviceApi::systemReboot()
{
    auto r = call(Service::Device, "SystemReboot");
    if (!r)
        return r.failure();
    return Done {};
}

Reply<Done> HttpDeviceApi::setSystemFactoryDefault(bool hard)
{
    auto r = call(Service::Device, "SetSystemFactoryDefault",
        [&](pugi::xml_node op) { xml::addElement(op, "tds:FactoryDefault", hard ? "Hard" : "Soft"); });
    if (!r)
        return r.failure();
    return Done {};
}

Reply<FirmwareUpload> HttpDeviceApi::startFirmwareUpgrade()
{
    auto r = call(Service::Device, "StartFirmwareUpgrade");
    if (!r)
        return r.failure();
    FirmwareUpload out;
    out.uploadUri = text(r->payload(), {"UploadUri"});
    const auto delay = parseDurationSeconds(text(r->payload(), {"UploadDelay"}));
    const auto down = parseDurationSeconds(text(r->payload(), {"ExpectedDownTime"}));
    if (out.uploadUri.empty() || !delay || !down)
        return failure(CallError::BadAnswer, "StartFirmwareUpgrade: incomplete answer");
    out.uploadDelaySeconds = *delay;
    out.expectedDownTimeSeconds = *down;
    return out;
}

Reply<std::vector<Profile>> HttpDeviceApi::getProfiles()
{
    auto r = call(Service::Media, "GetProfiles");
    if (!r)
        return r.failure();
    std::vector<Profile> out;
    for (pugi::xml_node n : xml::children(r->payload(), "Profiles")) {
        Profile p;
        p.token = n.attribute("token").as_string();
        p.name = text(n, {"Name"});
        const pugi::xml_node source = xml::child(n, "VideoSourceConfiguration");
        p.videoSourceConfigurationToken = source.attribute("token").as_string();
        p.videoSourceToken = text(source, {"SourceToken"});
        if (const pugi::xml_node enc = xml::child(n, "VideoEncoderConfiguration"))
            p.videoEncoder = encoderOf(enc);
        out.push_back(std::move(p));
    }
    return out;
}

Reply<std::vector<VideoEncoderConfiguration>> HttpDeviceApi::getVideoEncoderConfigurations()
{
    auto r = call(Service::Media, "GetVideoEncoderConfigurations");
    if (!r)
        return r.failure();
    std::vector<VideoEncoderConfiguration> out;
    for (pugi::xml_node n : xml::children(r->payload(), "Configurations"))
        out.push_back(encoderOf(n));
    return out;
}

Reply<VideoEncoderOptions> HttpDeviceApi::getVideoEncoderConfigurationOptions(
    const std::string &configurationToken, const std::string &profileToken)
{
    auto r = call(Service::Media, "GetVideoEncoderConfigurationOptions", [&](pugi::xml_node op) {
        if (!configurationToken.empty())
            xml::addElement(op, "trt:ConfigurationToken", configurationToken);
        if (!profileToken.empty())
            xml::addElement(op, "trt:ProfileToken", profileToken);
    });
    if (!r)
        return r.failure();
    const pugi::xml_node o = xml::child(r->payload(), "Options");
    VideoEncoderOptions out;
    out.quality = rangeOr(xml::child(o, "QualityRange"));
    const pugi::xml_node h264 = xml::child(o, "H264");
    out.h264Resolutions = resolutions(h264);
    out.h264FrameRate = rangeOr(xml::child(h264, "FrameRateRange"));
    out.h264GovLength = rangeOr(xml::child(h264, "GovLengthRange"));
    out.h264EncodingInterval = rangeOr(xml::child(h264, "EncodingIntervalRange"));
    out.h264Profiles = texts(h264, "H264ProfilesSupported");
    const pugi::xml_node jpeg = xml::child(o, "JPEG");
    out.jpegResolutions = resolutions(jpeg);
    out.jpegFrameRate = rangeOr(xml::child(jpeg, "FrameRateRange"));
    out.h264Bitrate = rangeOf(xml::child(xml::child(xml::child(o, "Extension"), "H264"), "BitrateRange"));
    return out;
}

Reply<Done> HttpDeviceApi::setVideoEncoderConfiguration(const VideoEncoderConfiguration &value)
{
    auto r = call(Service::Media, "SetVideoEncoderConfiguration", [&](pugi::xml_node op) {
        pugi::xml_node c = xml::addElement(op, "trt:Configuration");
        c.append_attribute("token") = value.token.c_str();
        xml::addElement(c, "tt:Name", value.name);
        xml::addElement(c, "tt:UseCount", std::to_string(value.useCount));
        xml::addElement(c, "tt:Encoding", value.encoding);
        pugi::xml_node res = xml::addElement(c, "tt:Resolution");
        xml::addElement(res, "tt:Width", std::to_string(value.resolution.width));
        xml::addElement(res, "tt:Height", std::to_string(value.resolution.height));
        xml::addElement(c, "tt:Quality", formatNumber(value.quality));
        pugi::xml_node rate = xml::addElement(c, "tt:RateControl");
        xml::addElement(rate, "tt:FrameRateLimit", std::to_string(value.frameRateLimit));
        xml::addElement(rate, "tt:EncodingInterval", std::to_string(value.encodingInterval));
        xml::addElement(rate, "tt:BitrateLimit", std::to_string(value.bitrateLimit));
        if (value.encoding == "H264") {
            pugi::xml_node h = xml::addElement(c, "tt:H264");
            xml::addElement(h, "tt:GovLength", std::to_string(value.govLength));
            xml::addElement(h, "tt:H264Profile", value.h264Profile.empty() ? "Main" : value.h264Profile);
        }
        // Multicast is required by the schema; the SDK streams unicast only.
        pugi::xml_node mc = xml::addElement(c, "tt:Multicast");
        pugi::xml_node addr = xml::addElement(mc, "tt:Address");
        xml::addElement(addr, "tt:Type", "IPv4");
        xml::addElement(addr, "tt:IPv4Address", "0.0.0.0");
        xml::addElement(mc, "tt:Port", "0");
        xml::addElement(mc, "tt:TTL", "0");
        xml::addElement(mc, "tt:AutoStart", "false");
        xml::addElement(c, "tt:SessionTimeout", "PT" + std::to_string(value.sessionTimeoutSeconds) + "S");
        xml::addElement(op, "trt:ForcePersistence", "true");
    });
    if (!r)
        return r.failure();
    return Done {};
}

Reply<std::string> HttpDeviceApi::getStreamUri(const std::string &profileToken)
{
    auto r = call(Service::Media, "GetStreamUri", [&](pugi::xml_node op) {
        pugi::xml_node setup = xml::addElement(op, "trt:StreamSetup");
        xml::addElement(setup, "tt:Stream", "RTP-Unicast");
        xml::addElement(xml::addElement(setup, "tt:Transport"), "tt:Protocol", "RTSP");
        xml::addElement(op, "trt:ProfileToken", profileToken);
    });
    if (!r)
        return r.failure();
    const std::string uri = text(r->payload(), {"MediaUri", "Uri"});
    if (uri.compare(0, 7, "rtsp://") != 0)
        return failure(CallError::BadAnswer, "GetStreamUri: no rtsp:// address");
    return uri;
}

Reply<ImagingSettings> HttpDeviceApi::getImagingSettings(const std::string &videoSourceToken)
{
    auto r = call(Service::Imaging, "GetImagingSettings",
        [&](pugi::xml_node op) { xml::addElement(op, "timg:VideoSourceToken", videoSourceToken); });
    if (!r)
        return r.failure();
    const pugi::xml_node s = xml::child(r->payload(), "ImagingSettings");
    auto optText = [](pugi::xml_node n) -> std::optional<std::string> {
        if (!n)
            return std::nullopt;
        return xml::trimmedText(n);
    };
    ImagingSettings out;
    out.backlightCompensationMode = optText(xml::child(xml::child(s, "BacklightCompensation"), "Mode"));
    out.brightness = number(xml::child(s, "Brightness"));
    out.colorSaturation = number(xml::child(s, "ColorSaturation"));
    out.contrast = number(xml::child(s, "Contrast"));
    const pugi::xml_node exposure = xml::child(s, "Exposure");
    out.exposureMode = optText(xml::child(exposure, "Mode"));
    out.minExposureTime = number(xml::child(exposure, "MinExposureTime"));
    out.maxExposureTime = number(xml::child(exposure, "MaxExposureTime"));
    out.exposureTime = number(xml::child(exposure, "ExposureTime"));
    out.irCutFilter = optText(xml::child(s, "IrCutFilter"));
    out.sharpness = number(xml::child(s, "Sharpness"));
    const pugi::xml_node wdr = xml::child(s, "WideDynamicRange");
    out.wideDynamicRangeMode = optText(xml::child(wdr, "Mode"));
    out.wideDynamicRangeLevel = number(xml::child(wdr, "Level"));
    return out;
}

Reply<ImagingOptions> HttpDeviceApi::getImagingOptions(const std::string &videoSourceToken)
{
    auto r = call(Service::Imaging, "GetOptions",
        [&](pugi::xml_node op) { xml::addElement(op, "timg:VideoSourceToken", videoSourceToken); });
    if (!r)
        return r.failure();
    const pugi::xml_node o = xml::child(r->payload(), "ImagingOptions");
    ImagingOptions out;
    out.brightness = rangeOf(xml::child(o, "Brightness"));
    out.colorSaturation = rangeOf(xml::child(o, "ColorSaturation"));
    out.contrast = rangeOf(xml::child(o, "Contrast"));
    out.sharpness = rangeOf(xml::child(o, "Sharpness"));
    out.irCutFilterModes = texts(o, "IrCutFilterModes");
    const pugi::xml_node exposure = xml::child(o, "Exposure");
    out.exposureModes = texts(exposure, "Mode");
    out.exposureTime = rangeOf(xml::child(exposure, "ExposureTime"));
    const pugi::xml_node wdr = xml::child(o, "WideDynamicRange");
    out.wideDynamicRangeModes = texts(wdr, "Mode");
    out.wideDynamicRangeLevel = rangeOf(xml::child(wdr, "Level"));
    return out;
}

Reply<Done> HttpDeviceApi::setImagingSettings(
    const std::string &videoSourceToken, const ImagingSettings &change)
{
    auto r = call(Service::Imaging, "SetImagingSettings", [&](pugi::xml_node op) {
        xml::addElement(op, "timg:VideoSourceToken", videoSourceToken);
        pugi::xml_node s = xml::addElement(op, "timg:ImagingSettings");
        auto put = [](pugi::xml_node parent, const char *name, const std::optional<double> &v) {
            if (v)
                xml::addElement(parent, name, formatNumber(*v));
        };
        // Element order follows the schema's sequence.
        if (change.backlightCompensationMode)
            xml::addElement(xml::addElement(s, "tt:BacklightCompensation"), "tt:Mode",
                *change.backlightCompensationMode);
        put(s, "tt:Brightness", change.brightness);
        put(s, "tt:ColorSaturation", change.colorSaturation);
        put(s, "tt:Contrast", change.contrast);
        if (change.exposureMode || change.minExposureTime || change.maxExposureTime
            || change.exposureTime) {
            pugi::xml_node e = xml::addElement(s, "tt:Exposure");
            if (change.exposureMode)
                xml::addElement(e, "tt:Mode", *change.exposureMode);
            put(e, "tt:MinExposureTime", change.minExposureTime);
            put(e, "tt:MaxExposureTime", change.maxExposureTime);
            put(e, "tt:ExposureTime", change.exposureTime);
        }
        if (change.irCutFilter)
            xml::addElement(s, "tt:IrCutFilter", *change.irCutFilter);
        put(s, "tt:Sharpness", change.sharpness);
        if (change.wideDynamicRangeMode || change.wideDynamicRangeLevel) {
            pugi::xml_node w = xml::addElement(s, "tt:WideDynamicRange");
            if (change.wideDynamicRangeMode)
                xml::addElement(w, "tt:Mode", *change.wideDynamicRangeMode);
            put(w, "tt:Level", change.wideDynamicRangeLevel);
        }
        xml::addElement(op, "timg:ForcePersistence", "true");
    });
    if (!r)
        return r.failure();
    return Done {};
}

Reply<int> HttpDeviceApi::uploadFirmware(const std::string &uploadUri, const std::string &path,
    const UploadProgress &progress, int timeoutMs)
{
    const auto target = parseHttpUrl(uploadUri);
    if (!target)
        return failure(CallError::BadAnswer, "upload address not usable: " + uploadUri);
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return failure(CallError::InvalidArgument, "cannot read " + path);
    struct Closer {
        std::FILE *f;
        ~Closer() { std::fclose(f); }
    } closer {file};
    if (std::fseek(file, 0, SEEK_END) != 0)
        return failure(CallError::InvalidArgument, "cannot read " + path);
    const long size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return failure(CallError::InvalidArgument, "cannot read " + path);

    httplib::Client client(target->host, target->port);
    setTimeouts(client, timeoutMs);
    bool readFailed = false;
    std::vector<char> chunk(64 * 1024);
    auto provider = [&](size_t offset, size_t length, httplib::DataSink &sink) {
        const std::size_t want = std::min(length, chunk.size());
        if (std::fseek(file, long(offset), SEEK_SET) != 0
            || std::fread(chunk.data(), 1, want, file) != want) {
            readFailed = true;
            return false;
        }
        if (!sink.write(chunk.data(), want))
            return false;
        return !progress || progress(offset + want, uint64_t(size));
    };
    auto result = client.Post(target->path, std::size_t(size), provider, "application/octet-stream");
    if (readFailed)
        return failure(CallError::InvalidArgument, "the file ended early: " + path);
    if (!result)
        return failure(result.error() == httplib::Error::ConnectionTimeout ? CallError::Timeout
                                                                          : CallError::Unreachable,
            "upload: " + httplib::to_string(result.error()));
    return result->status;
}

} // namespace scoutrix::onvif
