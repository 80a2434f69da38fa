// The emulator's ONVIF cameras, driven as an ONVIF client drives them: a
// WS-Discovery probe on the discovery socket, SOAP over HTTP with a
// UsernameToken, RTSP for the picture, an HTTP POST for firmware.

#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include "ConfigRecords.h"
#include "Emulator.h"
#include "FirmwareFile.h"
#include "H264Decoder.h"
#include "Net.h"
#include "RtspReader.h"
#include "Soap.h"
#include "WsDiscovery.h"
#include "WsSecurity.h"

using namespace scoutrix;
using namespace scoutrix::devsim;
namespace xml = onvif::xml;
namespace soap = onvif::soap;
namespace wsse = onvif::wsse;
namespace wsd = onvif::discovery;

namespace {

const char *const kUser = "admin";
const char *const kPassword = "739204";

struct Answer
{
    int status = 0; // 0: no connection
    std::string body;
    std::optional<soap::Envelope> env;

    bool faultWith(const std::string &subcode) const
    {
        if (!env || !env->fault)
            return false;
        const auto &s = env->fault->subcodes;
        return std::find(s.begin(), s.end(), subcode) != s.end();
    }
    std::string text(std::initializer_list<std::string_view> path) const
    {
        if (!env || !env->payload)
            return std::string();
        return xml::textAt(env->payload, path).value_or(std::string());
    }
};

struct Signing
{
    std::string user = kUser;
    std::string password = kPassword;
    int64_t offset = 0; // seconds the signer adds to the host clock
    bool sign = true;
};

Answer post(const std::string &host, uint16_t port, const std::string &path, const std::string &body)
{
    httplib::Client cli(host, port);
    cli.set_connection_timeout(2, 0);
    cli.set_read_timeout(10, 0);
    Answer a;
    auto res = cli.Post(path.c_str(), body, "application/soap+xml; charset=utf-8");
    if (!res)
        return a;
    a.status = res->status;
    a.body = res->body;
    auto env = soap::parseEnvelope(a.body);
    if (env)
        a.env = std::move(*env);
    return a;
}

// One operation, |payload| the markup of the body (trusted, built by the test).
Answer call(const std::string &host, uint16_t port, const std::string &service, const std::string &payload,
    const Signing &s = Signing())
{
    soap::Message m;
    if (s.sign)
        wsse::addSecurityHeader(m, wsse::makeUsernameToken(s.user, s.password, wsse::Clock::now(), s.offset));
    if (!m.appendFragment(m.body(), payload))
        return Answer();
    return post(host, port, "/onvif/" + service + "_service", m.toString());
}

std::vector<wsd::ProbeMatches> probe(uint16_t discoveryPort, wsd::Probe p = wsd::Probe(), int waitMs = 400)
{
    std::vector<wsd::ProbeMatches> out;
    if (p.types.empty())
        p.types.push_back(wsd::networkVideoTransmitter());
    const std::string text = wsd::buildProbe(p);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(discoveryPort);
    to.sin_addr.s_addr = htonl(0x7f000001u);
    ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    timeval tv { 0, 50 * 1000 };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    char buf[65536];
    while (std::chrono::steady_clock::now() < until) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            continue;
        auto m = wsd::parseProbeMatches(std::string_view(buf, std::size_t(n)));
        if (m && m->relatesTo == p.messageId)
            out.push_back(std::move(*m));
    }
    ::close(fd);
    return out;
}

template<class Pred>
bool waitFor(Pred pred, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

// The first picture of an RTSP stream, decoded.
QImage firstPicture(const std::string &url)
{
    struct Sink
    {
        std::mutex mutex;
        std::condition_variable changed;
        play::H264Decoder decoder;
        QImage picture;
        bool ended = false;
    } sink;
    rtsp::RtspReader reader;
    reader.start(
        url,
        [&sink](const rtsp::AccessUnit &au) {
            QImage decoded;
            sink.decoder.feedAccessUnit(au.data, au.size, [&](play::DecodedFrame &&f) { decoded = f.image; });
            std::lock_guard<std::mutex> lock(sink.mutex);
            if (sink.picture.isNull() && !decoded.isNull())
                sink.picture = decoded;
            sink.changed.notify_all();
        },
        [&sink](rtsp::ReadError, const std::string &) {
            std::lock_guard<std::mutex> lock(sink.mutex);
            sink.ended = true;
            sink.changed.notify_all();
        });
    std::unique_lock<std::mutex> lock(sink.mutex);
    sink.changed.wait_for(lock, std::chrono::seconds(15), [&] { return !sink.picture.isNull() || sink.ended; });
    QImage p = sink.picture;
    lock.unlock();
    reader.stop();
    return p;
}

std::string hostOf(uint32_t ip)
{
    return net::ipv4Text(ip);
}

} // namespace

class TestOnvifSim : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Emulator> m_emu;
    uint16_t m_discovery = 0;
    int m_cam = -1; // index of the first ONVIF camera

    void startFleet(Fleet fleet)
    {
        m_emu.reset();
        EmulatorOptions o;
        o.discovery = { net::Endpoint { 0x7f000001u, 0 } };
        o.ephemeralPorts = true;
        m_emu = std::make_unique<Emulator>(std::move(fleet), o);
        std::string error;
        QVERIFY2(m_emu->start(error), error.c_str());
        m_discovery = m_emu->discoveryEndpoints().at(0).port;
        m_cam = -1;
        for (int i = 0; i < m_emu->deviceCount() && m_cam < 0; ++i) {
            if (m_emu->device(i).protocol == Protocol::Onvif)
                m_cam = i;
        }
        QVERIFY(m_cam >= 0);
    }

    // A fleet of one own device and two ONVIF cameras, quick to reboot.
    static Fleet smallFleet()
    {
        Fleet f = generatedFleet(3, 2);
        for (DeviceSpec &d : f.devices) {
            d.rebootMs = 400;
            d.flashMs = 200;
        }
        return f;
    }

    Answer cam(const std::string &service, const std::string &payload, const Signing &s = Signing())
    {
        const DeviceSnapshot d = m_emu->device(m_cam);
        return call(hostOf(d.ip), d.port, service, payload, s);
    }

private slots:
    void init() { startFleet(smallFleet()); }
    void cleanup() { m_emu.reset(); }

    void fleetsMixProtocols()
    {
        const Fleet def = defaultFleet();
        int onvif = 0;
        for (const DeviceSpec &d : def.devices) {
            if (d.protocol == Protocol::Onvif) {
                ++onvif;
                QCOMPARE(int(d.ip >> 8), int(0x7f001e)); // 127.0.30.x
                QCOMPARE(int(d.port), 80);
            }
        }
        QCOMPARE(onvif, 6);
        std::string error;
        QVERIFY2(validateFleet(def, error), error.c_str());
        QCOMPARE(int(generatedFleet(256, 128).devices.size()), 256);
        QVERIFY2(validateFleet(generatedFleet(256, 128), error), error.c_str());
        for (const DeviceSpec &d : generatedFleet(10).devices)
            QVERIFY(d.protocol == Protocol::Own);

        // The protocol survives a fleet file.
        Fleet back;
        JsonIn json = JsonIn::parse(fleetToJson(generatedFleet(3, 1)).dump());
        QVERIFY2(fleetFromJson(json, back, error), error.c_str());
        QVERIFY(back.devices[2].protocol == Protocol::Onvif);
        json["devices"][0]["protocol"] = "soap";
        QVERIFY(!fleetFromJson(json, back, error));
    }

    void discoveryAnswersMatchingProbes()
    {
        const std::vector<wsd::ProbeMatches> answers = probe(m_discovery);
        QCOMPARE(int(answers.size()), 2); // the own device stays silent
        std::set<std::string> xaddrs, refs;
        for (const auto &a : answers) {
            QCOMPARE(int(a.matches.size()), 1);
            const wsd::ProbeMatch &m = a.matches[0];
            QCOMPARE(int(m.xaddrs.size()), 1);
            xaddrs.insert(m.xaddrs[0]);
            refs.insert(m.address);
            QVERIFY(QString::fromStdString(m.address).startsWith("urn:uuid:"));
            const wsd::ScopeInfo info = wsd::describeScopes(m.scopes);
            QVERIFY(!info.mac.empty());
            QVERIFY(std::find(info.profiles.begin(), info.profiles.end(), "Streaming") != info.profiles.end());
        }
        for (int i = 1; i < 3; ++i) {
            const DeviceSnapshot d = m_emu->device(i);
            const std::string x
                = "http://" + hostOf(d.ip) + ":" + std::to_string(d.port) + "/onvif/device_service";
            QVERIFY2(xaddrs.count(x), x.c_str());
        }
        // The reference is the device's for good: the same on the next probe.
        std::set<std::string> again;
        for (const auto &a : probe(m_discovery))
            again.insert(a.matches[0].address);
        QCOMPARE(again, refs);

        // Scopes narrow the answer down to the device they name.
        wsd::Probe byMac;
        byMac.scopes.push_back(wsd::makeScope("MAC", m_emu->device(2).mac));
        const auto one = probe(m_discovery, byMac);
        QCOMPARE(int(one.size()), 1);
        wsd::Probe nobody;
        nobody.scopes.push_back(wsd::makeScope("name", "no-such-model"));
        QVERIFY(probe(m_discovery, nobody).empty());

        // A datagram that is not a probe is refused, and answered by nobody.
        const int before = m_emu->stats().refusedDatagrams;
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_discovery);
        to.sin_addr.s_addr = htonl(0x7f000001u);
        const std::string junk = "<!DOCTYPE x [<!ENTITY a \"b\">]><x>&a;</x>";
        ::sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        ::close(fd);
        QVERIFY(waitFor([&] { return m_emu->stats().refusedDatagrams > before; }, 2000));
    }

    void authentication()
    {
        // Reading the clock needs no account; reading the device does.
        Signing none;
        none.sign = false;
        QCOMPARE(cam("device", "<tds:GetSystemDateAndTime/>", none).status, 200);
        Answer a = cam("device", "<tds:GetDeviceInformation/>", none);
        QCOMPARE(a.status, 400);
        QVERIFY(a.faultWith("NotAuthorized"));

        a = cam("device", "<tds:GetDeviceInformation/>");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.text({ "FirmwareVersion" }), m_emu->device(m_cam).version);
        QCOMPARE(a.text({ "SerialNumber" }), m_emu->device(m_cam).serial);

        Signing wrong;
        wrong.password = "nope";
        QVERIFY(cam("device", "<tds:GetDeviceInformation/>", wrong).faultWith("NotAuthorized"));
        Signing stranger;
        stranger.user = "guest";
        QVERIFY(cam("device", "<tds:GetDeviceInformation/>", stranger).faultWith("NotAuthorized"));
        Signing stale;
        stale.offset = -3600;
        QVERIFY(cam("device", "<tds:GetDeviceInformation/>", stale).faultWith("NotAuthorized"));

        // A token heard once is not taken again.
        soap::Message m;
        wsse::addSecurityHeader(m, wsse::makeUsernameToken(kUser, kPassword, wsse::Clock::now(), 0));
        QVERIFY(m.appendFragment(m.body(), "<tds:GetDeviceInformation/>"));
        const std::string once = m.toString();
        const DeviceSnapshot d = m_emu->device(m_cam);
        QCOMPARE(post(hostOf(d.ip), d.port, "/onvif/device_service", once).status, 200);
        QVERIFY(post(hostOf(d.ip), d.port, "/onvif/device_service", once).faultWith("NotAuthorized"));
        // Clients that seed their nonce from the clock send one token for
        // several requests of a millisecond: another body is no replay.
        soap::Message other;
        wsse::addSecurityHeader(other, wsse::makeUsernameToken(kUser, kPassword, wsse::Clock::now(), 0));
        QVERIFY(other.appendFragment(other.body(), "<tds:GetDeviceInformation/>"));
        std::string sameToken = other.toString();
        QCOMPARE(post(hostOf(d.ip), d.port, "/onvif/device_service", sameToken).status, 200);
        sameToken.replace(sameToken.find("GetDeviceInformation"), 20, "GetHostname");
        QCOMPARE(post(hostOf(d.ip), d.port, "/onvif/device_service", sameToken).status, 200);
        QVERIFY(post(hostOf(d.ip), d.port, "/onvif/device_service", sameToken).faultWith("NotAuthorized"));

        // The device's own operations are answered on any service path.
        QCOMPARE(call(hostOf(d.ip), d.port, "deviceio", "<tds:GetHostname/>").status, 200);

        // Unknown operations are the receiver's business.
        a = cam("device", "<tds:GetRelayOutputs/>");
        QCOMPARE(a.status, 500);
        QVERIFY(a.faultWith("ActionNotSupported"));
    }

    void lockoutAfterWrongPasswords()
    {
        Fleet f = smallFleet();
        f.devices[1].lockoutAfter = 3;
        startFleet(f);
        Signing wrong;
        wrong.password = "guess";
        for (int i = 0; i < 3; ++i)
            QVERIFY(cam("device", "<tds:GetDeviceInformation/>", wrong).faultWith("NotAuthorized"));
        // Locked: even the right password is refused now.
        QVERIFY(cam("device", "<tds:GetDeviceInformation/>").faultWith("NotAuthorized"));
    }

    void clockSkewAndSetTime()
    {
        Fleet f = smallFleet();
        f.devices[1].clockOffsetS = 600;
        startFleet(f);
        // Signed by the host's clock, ten minutes behind the device's: stale.
        QVERIFY(cam("device", "<tds:GetDeviceInformation/>").faultWith("NotAuthorized"));
        Signing none;
        none.sign = false;
        const Answer t = cam("device", "<tds:GetSystemDateAndTime/>", none);
        std::tm tm {};
        tm.tm_year = std::stoi(t.text({ "SystemDateAndTime", "UTCDateTime", "Date", "Year" })) - 1900;
        tm.tm_mon = std::stoi(t.text({ "SystemDateAndTime", "UTCDateTime", "Date", "Month" })) - 1;
        tm.tm_mday = std::stoi(t.text({ "SystemDateAndTime", "UTCDateTime", "Date", "Day" }));
        tm.tm_hour = std::stoi(t.text({ "SystemDateAndTime", "UTCDateTime", "Time", "Hour" }));
        tm.tm_min = std::stoi(t.text({ "SystemDateAndTime", "UTCDateTime", "Time", "Minute" }));
        tm.tm_sec = std::stoi(t.text({ "SystemDateAndTime", "UTCDateTime", "Time", "Second" }));
        const int64_t offset = int64_t(timegm(&tm)) - int64_t(std::time(nullptr));
        QVERIFY2(std::abs(offset - 600) <= 2, std::to_string(offset).c_str());
        Signing skewed;
        skewed.offset = offset;
        QCOMPARE(cam("device", "<tds:GetDeviceInformation/>", skewed).status, 200);

        // Set the clock to a day in 2031: it runs from there.
        const std::string set = "<tds:SetSystemDateAndTime><tds:DateTimeType>Manual</tds:DateTimeType>"
                                "<tds:DaylightSavings>false</tds:DaylightSavings><tds:TimeZone><tt:TZ>CET-1</tt:TZ>"
                                "</tds:TimeZone><tds:UTCDateTime><tt:Time><tt:Hour>12</tt:Hour><tt:Minute>0</tt:Minute>"
                                "<tt:Second>0</tt:Second></tt:Time><tt:Date><tt:Year>2031</tt:Year><tt:Month>2</tt:Month>"
                                "<tt:Day>3</tt:Day></tt:Date></tds:UTCDateTime></tds:SetSystemDateAndTime>";
        QCOMPARE(cam("device", set, skewed).status, 200);
        const Answer now = cam("device", "<tds:GetSystemDateAndTime/>", none);
        QCOMPARE(now.text({ "SystemDateAndTime", "UTCDateTime", "Date", "Year" }), std::string("2031"));
        QCOMPARE(now.text({ "SystemDateAndTime", "TimeZone", "TZ" }), std::string("CET-1"));
        QCOMPARE(now.text({ "SystemDateAndTime", "LocalDateTime", "Time", "Hour" }), std::string("13"));

        std::string bad = set;
        bad.replace(bad.find("<tt:Day>3"), 9, "<tt:Day>30");
        Signing later;
        later.offset = int64_t(1927886400) - int64_t(std::time(nullptr)); // 2031-02-03 12:00
        QVERIFY(cam("device", bad, later).faultWith("InvalidDateTime"));
    }

    void setNetworkInterfacesMovesTheDevice()
    {
        const DeviceSnapshot before = m_emu->device(m_cam);
        const uint32_t newIp = 0x7f004d05u; // 127.0.77.5
        const Answer a = cam("device",
            "<tds:SetNetworkInterfaces><tds:InterfaceToken>eth0</tds:InterfaceToken><tds:NetworkInterface>"
            "<tt:Enabled>true</tt:Enabled><tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Manual>"
            "<tt:Address>127.0.77.5</tt:Address><tt:PrefixLength>24</tt:PrefixLength></tt:Manual>"
            "<tt:DHCP>false</tt:DHCP></tt:IPv4></tds:NetworkInterface></tds:SetNetworkInterfaces>");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.text({ "RebootNeeded" }), std::string("false"));
        QVERIFY(waitFor([&] {
            return call(hostOf(newIp), before.port, "device", "<tds:GetDeviceInformation/>").status == 200;
        }, 3000));
        QCOMPARE(m_emu->device(m_cam).ip, newIp);
        QCOMPARE(m_emu->device(m_cam).port, before.port); // clients keep talking to the same port
        QCOMPARE(call(hostOf(before.ip), before.port, "device", "<tds:GetSystemDateAndTime/>").status, 0);
        bool seen = false;
        for (const auto &p : probe(m_discovery))
            seen |= p.matches[0].xaddrs[0]
                == "http://127.0.77.5:" + std::to_string(before.port) + "/onvif/device_service";
        QVERIFY(seen);
        const Answer ni = call(hostOf(newIp), before.port, "device", "<tds:GetNetworkInterfaces/>");
        QCOMPARE(ni.text({ "NetworkInterfaces", "IPv4", "Config", "Manual", "Address" }), std::string("127.0.77.5"));
        QCOMPARE(ni.text({ "NetworkInterfaces", "Info", "HwAddress" }), before.mac);

        // Another camera's address, or one outside loopback, is refused.
        const std::string other = hostOf(m_emu->device(m_cam + 1).ip);
        for (const std::string &taken : { other, std::string("10.1.2.3") }) {
            const Answer r = call(hostOf(newIp), before.port, "device",
                "<tds:SetNetworkInterfaces><tds:InterfaceToken>eth0</tds:InterfaceToken><tds:NetworkInterface>"
                "<tt:IPv4><tt:Manual><tt:Address>"
                    + taken + "</tt:Address><tt:PrefixLength>24</tt:PrefixLength></tt:Manual></tt:IPv4>"
                              "</tds:NetworkInterface></tds:SetNetworkInterfaces>");
            QVERIFY2(r.faultWith("InvalidIPv4Address"), r.body.c_str());
        }
        QCOMPARE(m_emu->device(m_cam).ip, newIp);
    }

    void rebootTakesTheDeviceAway()
    {
        const DeviceSnapshot d = m_emu->device(m_cam);
        const Answer a = cam("device", "<tds:SystemReboot/>");
        QCOMPARE(a.status, 200);
        QVERIFY(!a.text({ "Message" }).empty());
        QVERIFY(waitFor([&] { return call(hostOf(d.ip), d.port, "device", "<tds:GetSystemDateAndTime/>").status == 0; },
            1000));
        QCOMPARE(int(probe(m_discovery).size()), 1); // only the other camera answers meanwhile
        QVERIFY(waitFor([&] { return cam("device", "<tds:GetDeviceInformation/>").status == 200; }, 3000));
        QCOMPARE(int(probe(m_discovery).size()), 2);
    }

    void factoryDefaultRestoresTheSpec()
    {
        const DeviceSnapshot d = m_emu->device(m_cam);
        const std::string getSub = "<trt:GetVideoEncoderConfiguration><trt:ConfigurationToken>venc_sub"
                                   "</trt:ConfigurationToken></trt:GetVideoEncoderConfiguration>";
        const std::string rate = cam("media", getSub).text({ "Configuration", "RateControl", "FrameRateLimit" });
        QCOMPARE(cam("media",
                     "<trt:SetVideoEncoderConfiguration><trt:Configuration token=\"venc_sub\"><tt:Name>venc_sub</tt:Name>"
                     "<tt:UseCount>1</tt:UseCount><tt:Encoding>H264</tt:Encoding><tt:RateControl>"
                     "<tt:FrameRateLimit>7</tt:FrameRateLimit></tt:RateControl></trt:Configuration>"
                     "<trt:ForcePersistence>true</trt:ForcePersistence></trt:SetVideoEncoderConfiguration>")
                     .status,
            200);
        QCOMPARE(cam("media", getSub).text({ "Configuration", "RateControl", "FrameRateLimit" }), std::string("7"));
        const Answer r = cam("device", "<tds:SetSystemFactoryDefault><tds:FactoryDefault>Hard</tds:FactoryDefault>"
                                       "</tds:SetSystemFactoryDefault>");
        QCOMPARE(r.status, 200);
        QVERIFY(waitFor([&] { return call(hostOf(d.ip), d.port, "device", "<tds:GetSystemDateAndTime/>").status == 0; },
            1000));
        QVERIFY(waitFor([&] { return cam("media", getSub).status == 200; }, 3000));
        QCOMPARE(cam("media", getSub).text({ "Configuration", "RateControl", "FrameRateLimit" }), rate);
        QCOMPARE(m_emu->device(m_cam).ip, d.ip); // the network settings stay
    }

    void encoderSetIsValidatedAndStreamed()
    {
        const Answer opts = cam("media",
            "<trt:GetVideoEncoderConfigurationOptions><trt:ConfigurationToken>venc_sub</trt:ConfigurationToken>"
            "</trt:GetVideoEncoderConfigurationOptions>");
        QCOMPARE(opts.status, 200);
        const Answer now = cam("media",
            "<trt:GetVideoEncoderConfiguration><trt:ConfigurationToken>venc_sub</trt:ConfigurationToken>"
            "</trt:GetVideoEncoderConfiguration>");
        const std::string w0 = now.text({ "Configuration", "Resolution", "Width" });
        // The smallest other resolution the options offer, inside any pixel budget.
        std::string w, h;
        long smallest = 0;
        for (pugi::xml_node r : xml::children(xml::child(xml::child(opts.env->payload, "Options"), "H264"),
                 "ResolutionsAvailable")) {
            const std::string rw = xml::textAt(r, { "Width" }).value_or("0");
            const std::string rh = xml::textAt(r, { "Height" }).value_or("0");
            const long pixels = std::stol(rw) * std::stol(rh);
            if (rw != w0 && (smallest == 0 || pixels < smallest)) {
                smallest = pixels;
                w = rw;
                h = rh;
            }
        }
        QVERIFY(!w.empty());
        auto setSub = [&](const std::string &width, const std::string &height) {
            return cam("media",
                "<trt:SetVideoEncoderConfiguration><trt:Configuration token=\"venc_sub\"><tt:Name>venc_sub</tt:Name>"
                "<tt:UseCount>1</tt:UseCount><tt:Encoding>H264</tt:Encoding><tt:Resolution><tt:Width>"
                    + width + "</tt:Width><tt:Height>" + height
                    + "</tt:Height></tt:Resolution><tt:Quality>3</tt:Quality></trt:Configuration>"
                      "<trt:ForcePersistence>true</trt:ForcePersistence></trt:SetVideoEncoderConfiguration>");
        };
        QVERIFY(setSub("1234", "567").faultWith("ConfigModify"));
        const Answer set = setSub(w, h);
        QVERIFY2(set.status == 200, set.body.c_str());
        const Answer back = cam("media",
            "<trt:GetVideoEncoderConfiguration><trt:ConfigurationToken>venc_sub</trt:ConfigurationToken>"
            "</trt:GetVideoEncoderConfiguration>");
        QCOMPARE(back.text({ "Configuration", "Resolution", "Width" }), w);
        QCOMPARE(back.text({ "Configuration", "Quality" }), std::string("3"));

        // The own protocol reads the same encode table.
        std::vector<uint8_t> table;
        QVERIFY(m_emu->record(m_cam, CmdEncodeTable, -1, table));
        StreamParams sub;
        std::memcpy(&sub, table.data() + sizeof(StreamParams), sizeof sub);
        QCOMPARE(sub.quality(), 3);

        // And the stream has the new size.
        const Answer uri = cam("media", "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream>"
                                        "<tt:Transport><tt:Protocol>RTSP</tt:Protocol></tt:Transport></trt:StreamSetup>"
                                        "<trt:ProfileToken>sub</trt:ProfileToken></trt:GetStreamUri>");
        std::string url = uri.text({ "MediaUri", "Uri" });
        QVERIFY2(QString::fromStdString(url).endsWith("/ch1/sub"), url.c_str());
        url.insert(std::strlen("rtsp://"), std::string(kUser) + ":" + kPassword + "@");
        QImage picture;
        QVERIFY(waitFor([&] { return !(picture = firstPicture(url)).isNull(); }, 20000));
        QCOMPARE(picture.width(), std::stoi(w));
        QCOMPARE(picture.height(), std::stoi(h));
    }

    void imagingRoundTrip()
    {
        const std::string set = "<timg:SetImagingSettings><timg:VideoSourceToken>vs0</timg:VideoSourceToken>"
                                "<timg:ImagingSettings><tt:Brightness>80</tt:Brightness><tt:Contrast>30</tt:Contrast>"
                                "<tt:Exposure><tt:Mode>MANUAL</tt:Mode><tt:ExposureTime>1000</tt:ExposureTime></tt:Exposure>"
                                "<tt:IrCutFilter>OFF</tt:IrCutFilter></timg:ImagingSettings></timg:SetImagingSettings>";
        QCOMPARE(cam("imaging", set).status, 200);
        const Answer a = cam("imaging", "<timg:GetImagingSettings><timg:VideoSourceToken>vs0</timg:VideoSourceToken>"
                                        "</timg:GetImagingSettings>");
        QCOMPARE(a.text({ "ImagingSettings", "Brightness" }), std::string("80"));
        QCOMPARE(a.text({ "ImagingSettings", "Contrast" }), std::string("30"));
        QCOMPARE(a.text({ "ImagingSettings", "IrCutFilter" }), std::string("OFF"));
        QCOMPARE(a.text({ "ImagingSettings", "Exposure", "Mode" }), std::string("MANUAL"));
        QCOMPARE(a.text({ "ImagingSettings", "Exposure", "ExposureTime" }), std::string("1000"));
        // The picture follows: black and white in the image record the scene reads.
        std::vector<uint8_t> image;
        QVERIFY(m_emu->record(m_cam, CmdImage, 0, image));
        QCOMPARE(int(image[ImageRecord::DayNight]), 2);

        QVERIFY(cam("imaging", "<timg:SetImagingSettings><timg:VideoSourceToken>vs0</timg:VideoSourceToken>"
                               "<timg:ImagingSettings><tt:Brightness>180</tt:Brightness></timg:ImagingSettings>"
                               "</timg:SetImagingSettings>")
                    .faultWith("SettingsInvalid"));
        QVERIFY(cam("imaging", "<timg:GetImagingSettings><timg:VideoSourceToken>vs9</timg:VideoSourceToken>"
                               "</timg:GetImagingSettings>")
                    .faultWith("NoSource"));
    }

    void firmwareUpload()
    {
        const DeviceSnapshot d = m_emu->device(m_cam);
        auto upload = [&](const std::vector<uint8_t> &file) {
            const Answer start = cam("device", "<tds:StartFirmwareUpgrade/>");
            std::string uri = start.text({ "UploadUri" });
            const std::string prefix = "http://" + hostOf(d.ip) + ":" + std::to_string(d.port);
            if (uri.rfind(prefix, 0) != 0)
                return -1;
            httplib::Client cli(hostOf(d.ip), d.port);
            auto res = cli.Post(uri.substr(prefix.size()).c_str(), reinterpret_cast<const char *>(file.data()),
                file.size(), "application/octet-stream");
            return res ? res->status : 0;
        };
        firmware::Header h;
        h.models = { "SX-IPC-4M" }; // the first camera of generatedFleet(3, 2)
        h.version = "V9.8.7 build 310101";
        std::vector<uint8_t> file;
        std::string why;
        QVERIFY2(firmware::buildFile(h, firmware::fillerPayload(300 * 1024), file, why), why.c_str());

        std::vector<uint8_t> corrupt = file;
        corrupt[corrupt.size() / 2] ^= 0x55;
        QCOMPARE(upload(corrupt), 415);
        h.models = { "SX-NVR-8" };
        std::vector<uint8_t> foreign;
        QVERIFY(firmware::buildFile(h, firmware::fillerPayload(1024), foreign, why));
        QCOMPARE(upload(foreign), 415);
        QCOMPARE(m_emu->device(m_cam).version, d.version);
        QCOMPARE(cam("device", "<tds:GetDeviceInformation/>").status, 200);

        QCOMPARE(upload(file), 200);
        QVERIFY(waitFor([&] { return cam("device", "<tds:GetDeviceInformation/>").status == 0; }, 1000));
        QVERIFY(waitFor([&] { return cam("device", "<tds:GetDeviceInformation/>").status == 200; }, 4000));
        QCOMPARE(cam("device", "<tds:GetDeviceInformation/>").text({ "FirmwareVersion" }), h.version);

        // An upload path is good for one upload.
        const Answer start = cam("device", "<tds:StartFirmwareUpgrade/>");
        const std::string uri = start.text({ "UploadUri" });
        const std::string path = uri.substr(uri.find("/onvif/"));
        httplib::Client cli(hostOf(d.ip), d.port);
        QCOMPARE(cli.Post(path.c_str(), std::string(10, 'x'), "application/octet-stream")->status, 415);
        QCOMPARE(cli.Post(path.c_str(), std::string(10, 'x'), "application/octet-stream")->status, 404);
    }

    void hostileSoapIsRefused()
    {
        const DeviceSnapshot d = m_emu->device(m_cam);
        const std::string host = hostOf(d.ip);
        const std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
                                 "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]>"
                                 "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body>"
                                 "<x>&lol2;</x></env:Body></env:Envelope>";
        std::string deep = "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body>";
        for (int i = 0; i < 500; ++i)
            deep += "<a>";
        for (int i = 0; i < 500; ++i)
            deep += "</a>";
        deep += "</env:Body></env:Envelope>";
        std::string huge = "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body><x>";
        huge += std::string(2u << 20, 'y');
        huge += "</x></env:Body></env:Envelope>";
        for (const char *path : { "/onvif/device_service", "/onvif/media_service" }) {
            QCOMPARE(post(host, d.port, path, bomb).status, 400);
            QCOMPARE(post(host, d.port, path, deep).status, 400);
            // Refused by its length before it is read; the client may see
            // the answer or only the connection closed under its feet.
            const int hugeStatus = post(host, d.port, path, huge).status;
            QVERIFY2(hugeStatus == 413 || hugeStatus == 0, std::to_string(hugeStatus).c_str());
            QCOMPARE(post(host, d.port, path, "not xml at all").status, 400);
        }
        // Chunked, so no length to refuse it by: cut off at the limit.
        httplib::Client cli(host, d.port);
        std::size_t sent = 0;
        auto res = cli.Post("/onvif/device_service",
            [&](std::size_t, httplib::DataSink &sink) {
                const std::string chunk(64 * 1024, 'z');
                sink.write(chunk.data(), chunk.size());
                if ((sent += chunk.size()) >= (3u << 20))
                    sink.done();
                return true;
            },
            "application/soap+xml");
        QVERIFY(!res || res->status == 413);
        QCOMPARE(cam("device", "<tds:GetDeviceInformation/>").status, 200);
    }
};

QTEST_GUILESS_MAIN(TestOnvifSim)
#include "tst_onvifsim.moc"
