#pragma once
// A small ONVIF device for the client's tests: a cpp-httplib server on
// 127.0.0.1 answering the device and media services with canned answers in
// the WSDLs' shapes, checking UsernameToken digests against its own
// (skewable) clock, and a WS-Discovery responder on a loopback UDP port.
// Every knob is a plain member the test sets before the call it shapes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Soap.h"
#include "WsDiscovery.h"
#include "WsSecurity.h"

namespace fake {

using namespace scoutrix::onvif;

inline std::string envelope(const std::string &body)
{
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                       "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
                       "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
                       "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
                       "xmlns:tt=\"http://www.onvif.org/ver10/schema\">"
                       "<env:Body>")
        + body + "</env:Body></env:Envelope>";
}

inline std::string dateTimeXml(std::time_t t)
{
    std::tm tm {};
    gmtime_r(&t, &tm);
    char buf[256];
    std::snprintf(buf, sizeof buf,
        "<tt:Date><tt:Year>%d</tt:Year><tt:Month>%d</tt:Month><tt:Day>%d</tt:Day></tt:Date>"
        "<tt:Time><tt:Hour>%d</tt:Hour><tt:Minute>%d</tt:Minute><tt:Second>%d</tt:Second></tt:Time>",
        tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

struct Request {
    std::string operation;
    std::string contentType;
    std::string user; // of the UsernameToken; empty without one
    std::string body;
};

class Device {
public:
    // Knobs.
    std::string user = "admin";
    std::string password = "739204";
    std::atomic<long long> skewSeconds {0};
    std::atomic<int> delayMs {0};
    bool infoWithoutLogin = false;
    bool getServicesUnsupported = false;
    std::string model = "FakeCam 200";
    std::string firmware = "V5.1.0 build 260101";
    std::string serial = "FC200-0001";
    std::string hwAddress = "02:00:00:00:10:01";
    // Operation -> a whole answer that replaces the canned one (status, body).
    std::map<std::string, std::pair<int, std::string>> override;
    std::string streamUri; // empty: rtsp://127.0.0.1:1/none
    int uploadStatus = 200;
    std::atomic<long long> uploadedBytes {0};

    Device()
    {
        server_.Post("/onvif/device_service", [this](const httplib::Request &q, httplib::Response &r) {
            handle(q, r);
        });
        server_.Post("/onvif/media_service", [this](const httplib::Request &q, httplib::Response &r) {
            handle(q, r);
        });
        server_.Post("/upload", [this](const httplib::Request &q, httplib::Response &r) {
            uploadedBytes = (long long)q.body.size();
            r.status = uploadStatus;
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Device() { stop(); }
    void stop()
    {
        server_.stop();
        if (thread_.joinable())
            thread_.join();
    }

    uint16_t port() const { return uint16_t(port_); }
    std::string xaddr() const { return "http://127.0.0.1:" + std::to_string(port_) + "/onvif/device_service"; }

    std::vector<Request> requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    int count(const std::string &operation = std::string())
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const Request &r : requests_)
            n += operation.empty() || r.operation == operation;
        return n;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }

private:
    wsse::Clock::time_point now() const
    {
        return wsse::Clock::now() + std::chrono::seconds(skewSeconds.load());
    }

    void fault(httplib::Response &r, int status, const std::string &code, std::vector<std::string> subcodes,
        const std::string &reason)
    {
        r.status = status;
        r.set_content(soap::buildFault(soap::Fault {code, std::move(subcodes), reason, {}}),
            "application/soap+xml; charset=utf-8");
    }

    void handle(const httplib::Request &q, httplib::Response &r)
    {
        if (delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        auto env = soap::parseEnvelope(q.body);
        Request seen;
        seen.contentType = q.get_header_value("Content-Type");
        seen.body = q.body;
        if (env) {
            seen.operation = env->payloadName;
            seen.user = xml::trimmedText(xml::descendant(env->header, "Username"));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(seen);
        }
        if (!env) {
            fault(r, 400, "Sender", {"WellFormed"}, "not SOAP");
            return;
        }
        const std::string op = seen.operation;
        if (auto it = override.find(op); it != override.end()) {
            r.status = it->second.first;
            r.set_content(it->second.second, "application/soap+xml; charset=utf-8");
            return;
        }
        const bool open = op == "GetSystemDateAndTime" || (infoWithoutLogin && op == "GetDeviceInformation");
        if (!open) {
            auto auth = verifier_.verify(*env,
                [this](const std::string &u) -> std::optional<std::string> {
                    if (u == user)
                        return password;
                    return std::nullopt;
                },
                now());
            if (!auth.ok()) {
                fault(r, 400, "Sender", {"NotAuthorized"}, "Sender not Authorized");
                return;
            }
        }
        const std::string body = answer(op);
        if (body.empty()) {
            fault(r, 400, "Receiver", {"ActionNotSupported"}, "Optional Action Not Implemented");
            return;
        }
        r.set_content(envelope(body), "application/soap+xml; charset=utf-8");
    }

    std::string answer(const std::string &op)
    {
        const std::string media = "http://127.0.0.1:" + std::to_string(port_) + "/onvif/media_service";
        if (op == "GetSystemDateAndTime") {
            const std::time_t t = wsse::Clock::to_time_t(now());
            return "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime>"
                   "<tt:DateTimeType>Manual</tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings>"
                   "<tt:TimeZone><tt:TZ>CST-8</tt:TZ></tt:TimeZone><tt:UTCDateTime>"
                + dateTimeXml(t) + "</tt:UTCDateTime></tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>";
        }
        if (op == "GetDeviceInformation")
            return "<tds:GetDeviceInformationResponse><tds:Manufacturer>Fake</tds:Manufacturer><tds:Model>" + model
                + "</tds:Model><tds:FirmwareVersion>" + firmware + "</tds:FirmwareVersion><tds:SerialNumber>" + serial
                + "</tds:SerialNumber><tds:HardwareId>HW-1</tds:HardwareId></tds:GetDeviceInformationResponse>";
        if (op == "GetServices" && !getServicesUnsupported)
            return "<tds:GetServicesResponse><tds:Service><tds:Namespace>http://www.onvif.org/ver10/device/wsdl</tds:Namespace>"
                   "<tds:XAddr>" + xaddr() + "</tds:XAddr><tds:Capabilities><tds:Capabilities>"
                   "<tds:Network IPFilter=\"false\"/><tds:Security UsernameToken=\"true\"/>"
                   "<tds:System DiscoveryBye=\"true\" HttpFirmwareUpgrade=\"true\" FirmwareUpgrade=\"true\"/>"
                   "</tds:Capabilities></tds:Capabilities><tds:Version><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor></tds:Version></tds:Service>"
                   "<tds:Service><tds:Namespace>http://www.onvif.org/ver10/media/wsdl</tds:Namespace><tds:XAddr>" + media
                + "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>60</tt:Minor></tds:Version></tds:Service></tds:GetServicesResponse>";
        if (op == "GetCapabilities")
            return "<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device><tt:XAddr>" + xaddr()
                + "</tt:XAddr><tt:System><tt:DiscoveryResolve>false</tt:DiscoveryResolve><tt:DiscoveryBye>true</tt:DiscoveryBye>"
                  "<tt:RemoteDiscovery>false</tt:RemoteDiscovery><tt:SystemBackup>false</tt:SystemBackup>"
                  "<tt:SystemLogging>false</tt:SystemLogging><tt:FirmwareUpgrade>true</tt:FirmwareUpgrade></tt:System></tt:Device>"
                  "<tt:Media><tt:XAddr>" + media + "</tt:XAddr></tt:Media></tds:Capabilities></tds:GetCapabilitiesResponse>";
        if (op == "GetNetworkInterfaces")
            return "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"eth0\"><tt:Enabled>true</tt:Enabled>"
                   "<tt:Info><tt:Name>eth0</tt:Name><tt:HwAddress>" + hwAddress + "</tt:HwAddress><tt:MTU>1500</tt:MTU></tt:Info>"
                   "<tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Config><tt:Manual><tt:Address>127.0.0.1</tt:Address>"
                   "<tt:PrefixLength>8</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP></tt:Config></tt:IPv4>"
                   "</tds:NetworkInterfaces></tds:GetNetworkInterfacesResponse>";
        if (op == "SetNetworkInterfaces")
            return "<tds:SetNetworkInterfacesResponse><tds:RebootNeeded>false</tds:RebootNeeded></tds:SetNetworkInterfacesResponse>";
        if (op == "SystemReboot")
            return "<tds:SystemRebootResponse><tds:Message>Rebooting in 1 second</tds:Message></tds:SystemRebootResponse>";
        if (op == "StartFirmwareUpgrade")
            return "<tds:StartFirmwareUpgradeResponse><tds:UploadUri>http://127.0.0.1:" + std::to_string(port_)
                + "/upload</tds:UploadUri><tds:UploadDelay>PT0S</tds:UploadDelay>"
                  "<tds:ExpectedDownTime>PT1S</tds:ExpectedDownTime></tds:StartFirmwareUpgradeResponse>";
        if (op == "GetProfiles")
            return "<trt:GetProfilesResponse>" + profile("main", "Main", 1920, 1080, 4096)
                + profile("sub", "Sub", 640, 360, 512) + "</trt:GetProfilesResponse>";
        if (op == "GetVideoEncoderConfigurationOptions")
            return "<trt:GetVideoEncoderConfigurationOptionsResponse><trt:Options>"
                   "<tt:QualityRange><tt:Min>1</tt:Min><tt:Max>6</tt:Max></tt:QualityRange><tt:H264>"
                   "<tt:ResolutionsAvailable><tt:Width>1920</tt:Width><tt:Height>1080</tt:Height></tt:ResolutionsAvailable>"
                   "<tt:ResolutionsAvailable><tt:Width>1280</tt:Width><tt:Height>720</tt:Height></tt:ResolutionsAvailable>"
                   "<tt:GovLengthRange><tt:Min>1</tt:Min><tt:Max>150</tt:Max></tt:GovLengthRange>"
                   "<tt:FrameRateRange><tt:Min>1</tt:Min><tt:Max>25</tt:Max></tt:FrameRateRange>"
                   "<tt:EncodingIntervalRange><tt:Min>1</tt:Min><tt:Max>1</tt:Max></tt:EncodingIntervalRange>"
                   "<tt:H264ProfilesSupported>Baseline</tt:H264ProfilesSupported><tt:H264ProfilesSupported>Main</tt:H264ProfilesSupported>"
                   "</tt:H264><tt:Extension><tt:H264><tt:BitrateRange><tt:Min>64</tt:Min><tt:Max>8192</tt:Max></tt:BitrateRange>"
                   "</tt:H264></tt:Extension></trt:Options></trt:GetVideoEncoderConfigurationOptionsResponse>";
        if (op == "SetVideoEncoderConfiguration")
            return "<trt:SetVideoEncoderConfigurationResponse/>";
        if (op == "GetStreamUri")
            return "<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>"
                + (streamUri.empty() ? std::string("rtsp://127.0.0.1:1/none") : streamUri)
                + "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false</tt:InvalidAfterReboot>"
                  "<tt:Timeout>PT60S</tt:Timeout></trt:MediaUri></trt:GetStreamUriResponse>";
        return std::string();
    }

    static std::string profile(const std::string &token, const std::string &name, int w, int h, int kbps)
    {
        return "<trt:Profiles token=\"" + token + "\" fixed=\"true\"><tt:Name>" + name + "</tt:Name>"
            "<tt:VideoSourceConfiguration token=\"vsc0\"><tt:Name>VSC</tt:Name><tt:UseCount>2</tt:UseCount>"
            "<tt:SourceToken>vs0</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\"1920\" height=\"1080\"/>"
            "</tt:VideoSourceConfiguration><tt:VideoEncoderConfiguration token=\"enc_" + token + "\">"
            "<tt:Name>" + name + "</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>H264</tt:Encoding>"
            "<tt:Resolution><tt:Width>" + std::to_string(w) + "</tt:Width><tt:Height>" + std::to_string(h)
            + "</tt:Height></tt:Resolution><tt:Quality>4.5</tt:Quality><tt:RateControl><tt:FrameRateLimit>25</tt:FrameRateLimit>"
              "<tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>" + std::to_string(kbps)
            + "</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>50</tt:GovLength><tt:H264Profile>Main</tt:H264Profile>"
              "</tt:H264><tt:Multicast><tt:Address><tt:Type>IPv4</tt:Type><tt:IPv4Address>0.0.0.0</tt:IPv4Address></tt:Address>"
              "<tt:Port>0</tt:Port><tt:TTL>1</tt:TTL><tt:AutoStart>false</tt:AutoStart></tt:Multicast>"
              "<tt:SessionTimeout>PT1M</tt:SessionTimeout></tt:VideoEncoderConfiguration></trt:Profiles>";
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Request> requests_;
    wsse::Verifier verifier_;
};

// Answers WS-Discovery probes on a loopback UDP port for a set of devices,
// one ProbeMatches per device, plus any extra datagrams a test asks for.
class Responder {
public:
    struct Entry {
        std::string endpoint;
        std::string xaddr;
        std::string mac;
    };
    std::vector<Entry> devices;
    bool answerForeignToo = false; // also send one answer relating to another probe
    std::atomic<int> probesHeard {0};

    Responder()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~Responder()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    uint16_t port() const { return port_; }

private:
    void run()
    {
        std::vector<char> buf(65536);
        while (!stop_) {
            pollfd p {fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            sockaddr_in from {};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n <= 0)
                continue;
            auto probe = discovery::parseProbe(std::string_view(buf.data(), std::size_t(n)));
            if (!probe)
                continue; // the own protocol's probe, for instance
            ++probesHeard;
            std::vector<Entry> list;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                list = devices;
            }
            for (const Entry &d : list)
                send(from, probe->messageId, d);
            if (answerForeignToo && !list.empty())
                send(from, discovery::newMessageId(), Entry {"urn:uuid:ffffffff-0000-4000-8000-000000000000",
                                                        list.front().xaddr, "02:ff:ff:ff:ff:ff"});
        }
    }
    void send(const sockaddr_in &to, const std::string &relatesTo, const Entry &d)
    {
        discovery::ProbeMatches m;
        m.relatesTo = relatesTo;
        discovery::ProbeMatch match;
        match.address = d.endpoint;
        match.types = {discovery::networkVideoTransmitter()};
        match.scopes = {discovery::makeScope("type", "video_encoder"), discovery::makeScope("hardware", "FakeCam"),
            discovery::makeScope("MAC", d.mac), discovery::makeScope("Profile", "Streaming")};
        match.xaddrs = {d.xaddr};
        m.matches.push_back(match);
        const std::string text = discovery::buildProbeMatches(m);
        ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_ {false};
    std::mutex mutex_;
    std::thread thread_;
};

} // namespace fake
