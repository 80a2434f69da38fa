// The ONVIF client and backend against a small fake device on loopback: the
// digest and the device's clock, faults and their kinds, time-outs and
// hostile answers; and through the SDK's C entry points: one search with
// both protocols, routing by handle range, login back-off, the credentials
// of a set without login, the upgrade's progress contract, stream refusals.

#include <QtTest>

#include <array>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>

#include "Backend.h"
#include "EmulatorFixture.h"
#include "FakeOnvifDevice.h"
#include "HttpDeviceApi.h"
#include "NetSdk.h"
#include "NetSdkControl.h"
#include "Protocol.h"
#include "RecordMap.h"
#include "RtspServer.h"

using namespace scoutrix;
using onvif::CallError;
using onvif::HttpDeviceApi;
namespace soap = onvif::soap;
namespace xml = onvif::xml;
namespace wsse = onvif::wsse;

Q_DECLARE_METATYPE(onvif::CallError)

namespace {

std::unique_ptr<HttpDeviceApi> apiFor(fake::Device &d, const std::string &password = "739204")
{
    auto api = std::make_unique<HttpDeviceApi>("127.0.0.1", d.port());
    api->setCredentials("admin", password);
    api->setTimeoutMs(2000);
    return api;
}

uint16_t closedPort()
{
    // A port that was free a moment ago: nothing listens there.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string macOf(const fake::Responder::Entry &e)
{
    netsdk::onvifmap::FoundDevice f;
    f.endpoint = e.endpoint;
    f.scopes = {onvif::discovery::makeScope("type", "video_encoder"),
        onvif::discovery::makeScope("hardware", "FakeCam"), onvif::discovery::makeScope("MAC", e.mac),
        onvif::discovery::makeScope("Profile", "Streaming")};
    f.types = {"NetworkVideoTransmitter"};
    f.host = "127.0.0.1";
    // As the 35-byte field of the record carries it.
    return netsdk::onvifmap::macTextOf(f).substr(0, 34);
}

// Every device of the run gets an identity of its own: the SDK remembers
// credentials and back-off per device across tests.
fake::Responder::Entry entryFor(const fake::Device &d)
{
    static int counter = 0;
    const int n = ++counter;
    char uuid[64];
    std::snprintf(uuid, sizeof uuid, "urn:uuid:%08x-5a1e-4000-8000-000000000000", unsigned(n));
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:00:00:00:20:%02x", n);
    return fake::Responder::Entry {uuid, d.xaddr(), mac};
}

std::vector<SearchRecord> searchAt(const std::vector<net::Endpoint> &targets, int timeoutMs = 3000)
{
    netsdk::setDiscoveryTargets(targets);
    return fixture::search(timeoutMs);
}

// Makes |devices| known to the SDK as ONVIF devices, as a search does.
void discover(fake::Responder &responder, const std::vector<fake::Device *> &devices)
{
    responder.devices.clear();
    for (fake::Device *d : devices)
        responder.devices.push_back(entryFor(*d));
    searchAt({net::Endpoint {0x7f000001u, responder.port()}}, 1500);
}

int32_t onvifLogin(fake::Device &d, const char *password = "739204", int32_t *error = nullptr)
{
    LoginInfo info;
    int32_t err = 12345;
    const int32_t h = NetSdk_Login("127.0.0.1", d.port(), "admin", password, &info, 1, &err, 0, 0);
    if (error)
        *error = err;
    return h;
}

struct ProgressLog {
    std::mutex mutex;
    std::vector<std::array<int32_t, 3>> calls; // status, total, progress
    bool done = false;
    std::condition_variable cv;
};

int32_t onProgress(int32_t, int32_t status, int32_t total, int32_t progress, void *user)
{
    auto *log = static_cast<ProgressLog *>(user);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->calls.push_back({status, total, progress});
    if (progress < 0) {
        log->done = true;
        log->cv.notify_all();
    }
    return 0;
}

std::string writeFile(const QTemporaryDir &dir, const char *name, std::size_t size)
{
    const std::string path = dir.filePath(QLatin1String(name)).toStdString();
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i)
        out.put(char(i * 31));
    return path;
}

} // namespace

class TestOnvifClient : public QObject {
    Q_OBJECT

private slots:
    void init();

    void urlsAndDurations();
    void signsWithTheDevicesClock_data();
    void signsWithTheDevicesClock();
    void faultsMapToKinds_data();
    void faultsMapToKinds();
    void timeoutsAndDeadDevices();
    void hostileAnswersAreRefused_data();
    void hostileAnswersAreRefused();
    void readsAnswersAndWritesRequestsInTheWsdlShapes();
    void olderFirmwareFallsBackToGetCapabilities();

    void oneSearchFindsBothProtocols();
    void handlesAreRoutedByRange();
    void loginErrorsAndBackoff();
    void setWithoutLoginTakesCredentialsInOrder();
    void upgradeReportsProgressAndRefusals();
    void streamsFailWithRealCodes();
    void streamsDeliverUntilCleared();
};

void TestOnvifClient::init()
{
    netsdk::clearDefaultCredentials();
}

void TestOnvifClient::urlsAndDurations()
{
    const auto u = onvif::parseHttpUrl("http://127.0.0.5:8080/onvif/device_service");
    QVERIFY(u);
    QCOMPARE(u->host, std::string("127.0.0.5"));
    QCOMPARE(int(u->port), 8080);
    QCOMPARE(u->path, std::string("/onvif/device_service"));
    QCOMPARE(int(onvif::parseHttpUrl("http://10.0.0.1")->port), 80);
    for (const char *bad : {"https://a/b", "http://:80/x", "http://a:0/", "http://a:70000/", "http://u:p@a/",
             "http://[::1]/x", "rtsp://a/b"})
        QVERIFY2(!onvif::parseHttpUrl(bad), bad);

    const std::pair<const char *, int> durations[] = {
        {"PT1S", 1}, {"PT0S", 0}, {"PT2M30S", 150}, {"P1DT1H", 90000}, {"PT0.2S", 1}, {"PT90S", 90}};
    for (const auto &[text, seconds] : durations)
        QCOMPARE(onvif::parseDurationSeconds(text), std::optional<int>(seconds));
    for (const char *bad : {"", "P", "PT", "1S", "PT1", "PTS", "P1S", "PT1H2D", "PT99999999999S"})
        QVERIFY2(!onvif::parseDurationSeconds(bad), bad);
}

void TestOnvifClient::signsWithTheDevicesClock_data()
{
    QTest::addColumn<qlonglong>("skew");
    QTest::newRow("in step") << 0LL;
    QTest::newRow("10 minutes ahead") << 600LL;
    QTest::newRow("10 minutes behind") << -600LL;
    QTest::newRow("three years behind") << -3LL * 365 * 86400;
}

void TestOnvifClient::signsWithTheDevicesClock()
{
    QFETCH(qlonglong, skew);
    fake::Device d;
    d.skewSeconds = skew;
    auto api = apiFor(d);
    // No explicit clock read: the first signed call fetches the offset itself.
    auto info = api->getDeviceInformation();
    QVERIFY2(info, info.failure().reason.c_str());
    QCOMPARE(info->model, d.model);
    QCOMPARE(info->serialNumber, d.serial);
    QVERIFY(api->clockOffsetSeconds());
    QVERIFY(std::llabs(*api->clockOffsetSeconds() - skew) <= 2);

    const auto requests = d.requests();
    QCOMPARE(requests.size(), std::size_t(2));
    QCOMPARE(requests[0].operation, std::string("GetSystemDateAndTime"));
    QVERIFY(requests[0].user.empty()); // the clock is read without credentials
    QCOMPARE(requests[1].user, std::string("admin"));
    QCOMPARE(requests[1].contentType,
        std::string("application/soap+xml; charset=utf-8; action=\"http://www.onvif.org/ver10/device/wsdl/GetDeviceInformation\""));
    QVERIFY(requests[1].body.find(wsse::kPasswordDigestType) != std::string::npos);
    QVERIFY(requests[1].body.find("739204") == std::string::npos); // never the password itself

    // Signed with our own clock the same token would be stale on this device.
    if (skew != 0) {
        auto naive = apiFor(d);
        naive->setClockOffsetSeconds(0);
        QCOMPARE(naive->getDeviceInformation().failure().kind, CallError::NotAuthorized);
    }
}

void TestOnvifClient::faultsMapToKinds_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    QTest::addColumn<onvif::CallError>("kind");
    auto faultOf = [](const char *code, std::vector<std::string> subs) {
        return QString::fromStdString(soap::buildFault(soap::Fault {code, std::move(subs), "refused", {}}));
    };
    QTest::newRow("not authorized") << 400 << faultOf("Sender", {"NotAuthorized"}) << CallError::NotAuthorized;
    QTest::newRow("failed authentication") << 500 << faultOf("Sender", {"FailedAuthentication"})
                                           << CallError::NotAuthorized;
    QTest::newRow("401 without a body") << 401 << QString() << CallError::NotAuthorized;
    QTest::newRow("401 with a generic fault") << 401 << faultOf("Sender", {}) << CallError::NotAuthorized;
    QTest::newRow("action not supported") << 400 << faultOf("Receiver", {"ActionNotSupported"})
                                          << CallError::NotSupported;
    QTest::newRow("invalid arg val, nested") << 400 << faultOf("Sender", {"InvalidArgVal", "NoProfile"})
                                             << CallError::InvalidArgument;
    QTest::newRow("invalid args") << 400 << faultOf("Sender", {"InvalidArgs"}) << CallError::InvalidArgument;
    QTest::newRow("other receiver fault") << 500 << faultOf("Receiver", {"Action"}) << CallError::Fault;
    QTest::newRow("error page") << 500 << QStringLiteral("<html><body>oops</body></html>") << CallError::BadAnswer;
    QTest::newRow("404 page") << 404 << QStringLiteral("not found") << CallError::NotSupported;
    QTest::newRow("500 without a fault") << 500 << QString::fromStdString(fake::envelope("<tds:SystemRebootResponse/>"))
                                         << CallError::Fault;
    QTest::newRow("another operation's answer") << 200
                                                << QString::fromStdString(fake::envelope("<tds:GetHostnameResponse/>"))
                                                << CallError::BadAnswer;
}

void TestOnvifClient::faultsMapToKinds()
{
    QFETCH(int, status);
    QFETCH(QString, body);
    QFETCH(onvif::CallError, kind);
    fake::Device d;
    d.override["SystemReboot"] = {status, body.toStdString()};
    auto api = apiFor(d);
    auto r = api->systemReboot();
    QVERIFY(!r);
    QCOMPARE(r.failure().kind, kind);
    QVERIFY(!r.failure().reason.empty());
}

void TestOnvifClient::timeoutsAndDeadDevices()
{
    fake::Device slow;
    slow.delayMs = 1500;
    auto api = apiFor(slow);
    api->setClockOffsetSeconds(0);
    api->setTimeoutMs(300);
    QElapsedTimer t;
    t.start();
    auto r = api->getDeviceInformation();
    QCOMPARE(r.failure().kind, CallError::Timeout);
    QVERIFY2(t.elapsed() < 1200, qPrintable(QString::number(t.elapsed())));

    HttpDeviceApi dead("127.0.0.1", closedPort());
    dead.setTimeoutMs(1000);
    QCOMPARE(dead.getSystemDateAndTime().failure().kind, CallError::Unreachable);
}

void TestOnvifClient::hostileAnswersAreRefused_data()
{
    QTest::addColumn<QByteArray>("body");
    const std::string big = fake::envelope("<tds:SystemRebootResponse><tds:Message>"
        + std::string(2 * 1024 * 1024, 'x') + "</tds:Message></tds:SystemRebootResponse>");
    QTest::newRow("2 MiB answer") << QByteArray::fromStdString(big);
    QTest::newRow("entity expansion") << QByteArray(
        "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
        "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body>"
        "<tds:SystemRebootResponse xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"><tds:Message>&b;</tds:Message>"
        "</tds:SystemRebootResponse></env:Body></env:Envelope>");
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
    QTest::newRow("deep nesting") << QByteArray::fromStdString(
        fake::envelope("<tds:SystemRebootResponse>" + deep + "</tds:SystemRebootResponse>"));
}

void TestOnvifClient::hostileAnswersAreRefused()
{
    QFETCH(QByteArray, body);
    fake::Device d;
    d.override["SystemReboot"] = {200, body.toStdString()};
    auto api = apiFor(d);
    QCOMPARE(api->systemReboot().failure().kind, CallError::BadAnswer);
    // The client is still usable afterwards.
    QVERIFY(api->getDeviceInformation());
}

void TestOnvifClient::readsAnswersAndWritesRequestsInTheWsdlShapes()
{
    fake::Device d;
    auto api = apiFor(d);
    auto services = api->getServices();
    QVERIFY(services);
    QCOMPARE(services->device, d.xaddr());
    QVERIFY(services->media.find("/onvif/media_service") != std::string::npos);
    QVERIFY(services->imaging.empty());
    QVERIFY(services->firmwareUpload);

    auto profiles = api->getProfiles();
    QVERIFY(profiles);
    QCOMPARE(profiles->size(), std::size_t(2));
    const onvif::Profile &main = profiles->front();
    QCOMPARE(main.token, std::string("main"));
    QCOMPARE(main.videoSourceToken, std::string("vs0"));
    QVERIFY(main.videoEncoder);
    QCOMPARE(main.videoEncoder->resolution.width, 1920);
    QCOMPARE(main.videoEncoder->quality, 4.5);
    QCOMPARE(main.videoEncoder->bitrateLimit, 4096);
    QCOMPARE(main.videoEncoder->govLength, 50);
    QCOMPARE(main.videoEncoder->sessionTimeoutSeconds, 60);
    // Imaging has no service on this device: refused without a request.
    const int before = d.count();
    QCOMPARE(api->getImagingSettings("vs0").failure().kind, CallError::NotSupported);
    QCOMPARE(d.count(), before);

    auto options = api->getVideoEncoderConfigurationOptions("enc_main", "main");
    QVERIFY(options);
    QCOMPARE(options->h264Resolutions.size(), std::size_t(2));
    QCOMPARE(options->h264GovLength.max, 150.0);
    QVERIFY(options->h264Bitrate);
    QCOMPARE(options->h264Bitrate->max, 8192.0);
    QCOMPARE(options->h264Profiles, (std::vector<std::string> {"Baseline", "Main"}));

    auto nics = api->getNetworkInterfaces();
    QVERIFY(nics);
    QCOMPARE(nics->front().hwAddress, d.hwAddress);
    QCOMPARE(nics->front().prefixLength, 8);

    // A program that set a comma locale still writes "4.5".
    const char *previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    onvif::VideoEncoderConfiguration changed = *main.videoEncoder;
    changed.bitrateLimit = 2048;
    QVERIFY(api->setVideoEncoderConfiguration(changed));
    std::setlocale(LC_NUMERIC, saved.c_str());
    onvif::NetworkInterfaceChange change;
    change.token = "eth0";
    change.address = "127.0.0.9";
    change.prefixLength = 8;
    auto set = api->setNetworkInterfaces(change);
    QVERIFY(set);
    QVERIFY(!set->rebootNeeded);

    const auto requests = d.requests();
    auto bodyOf = [&](const char *op) {
        for (const auto &r : requests) {
            if (r.operation == op)
                return r.body;
        }
        return std::string();
    };
    auto parsed = soap::parseEnvelope(bodyOf("SetVideoEncoderConfiguration"));
    QVERIFY(parsed);
    const pugi::xml_node conf = xml::child(parsed->payload, "Configuration");
    QCOMPARE(std::string(conf.attribute("token").as_string()), std::string("enc_main"));
    QCOMPARE(xml::textAt(conf, {"Quality"}), std::optional<std::string>("4.5"));
    QCOMPARE(xml::textAt(conf, {"RateControl", "BitrateLimit"}), std::optional<std::string>("2048"));
    QVERIFY(xml::child(conf, "Multicast")); // required by the schema
    QCOMPARE(xml::textAt(parsed->payload, {"ForcePersistence"}), std::optional<std::string>("true"));
    QCOMPARE(parsed->payloadNamespace, std::string(soap::ns::trt));

    parsed = soap::parseEnvelope(bodyOf("SetNetworkInterfaces"));
    QVERIFY(parsed);
    QCOMPARE(xml::textAt(parsed->payload, {"InterfaceToken"}), std::optional<std::string>("eth0"));
    QCOMPARE(xml::textAt(parsed->payload, {"NetworkInterface", "IPv4", "Manual", "Address"}),
        std::optional<std::string>("127.0.0.9"));
    QCOMPARE(xml::textAt(parsed->payload, {"NetworkInterface", "IPv4", "Manual", "PrefixLength"}),
        std::optional<std::string>("8"));
    QVERIFY(!xml::child(xml::child(xml::child(parsed->payload, "NetworkInterface"), "IPv4"), "DHCP"));
}

void TestOnvifClient::olderFirmwareFallsBackToGetCapabilities()
{
    fake::Device d;
    d.getServicesUnsupported = true;
    auto api = apiFor(d);
    auto services = api->getServices();
    QVERIFY2(services, services.failure().reason.c_str());
    QCOMPARE(services->device, d.xaddr());
    QVERIFY(!services->media.empty());
    QVERIFY(services->firmwareUpload);
    QCOMPARE(d.count("GetCapabilities"), 1);
    QVERIFY(api->getProfiles()); // reached through the fallback's media address
}

void TestOnvifClient::oneSearchFindsBothProtocols()
{
    auto emulator = fixture::start(devsim::generatedFleet(3));
    QVERIFY(emulator);
    fake::Device a, b, c;
    b.infoWithoutLogin = true;
    fake::Responder responder;
    responder.devices = {entryFor(a), entryFor(b), entryFor(c)};
    responder.answerForeignToo = true;
    c.stop(); // found, but dead by the time it is completed: listed from its answer

    std::vector<net::Endpoint> targets = emulator->discoveryEndpoints();
    targets.push_back(net::Endpoint {0x7f000001u, responder.port()});
    const auto records = searchAt(targets);
    // 3 own + 3 ONVIF (one of them no longer answering HTTP); both probes
    // were answered by every device, the foreign answers and the second
    // answers dropped.
    QCOMPARE(records.size(), std::size_t(6));
    QCOMPARE(responder.probesHeard.load(), 2);
    const netsdk::SearchStats stats = netsdk::lastSearchStats();
    QVERIFY(stats.foreign >= 2);
    QVERIFY(stats.repeats >= 2);
    for (int i = 0; i < 3; ++i) {
        const std::string mac = emulator->device(i).mac;
        QVERIFY(fixture::byMac(records, mac));
        QCOMPARE(netsdk::protocolOf(mac), netsdk::DeviceProtocol::Own);
    }
    QCOMPARE(netsdk::protocolOf(macOf(responder.devices[0])), netsdk::DeviceProtocol::Onvif);
    QCOMPARE(netsdk::protocolOf(macOf(responder.devices[1])), netsdk::DeviceProtocol::Onvif);
    QCOMPARE(netsdk::protocolOf(macOf(responder.devices[2])), netsdk::DeviceProtocol::Onvif);
    // Completion asked each live device for its clock and, unsigned, its information.
    QCOMPARE(a.count("GetSystemDateAndTime"), 1);
    QCOMPARE(a.count("GetDeviceInformation"), 1);
    QVERIFY(a.requests().back().user.empty());
    QCOMPARE(b.count("GetDeviceInformation"), 1);
    QCOMPARE(std::string(netsdk::protocolName(netsdk::DeviceProtocol::Onvif)), std::string("onvif"));

    // A later search without the ONVIF responder forgets them.
    searchAt(emulator->discoveryEndpoints());
    QCOMPARE(netsdk::protocolOf(macOf(responder.devices[0])), netsdk::DeviceProtocol::Own);
}

void TestOnvifClient::handlesAreRoutedByRange()
{
    auto emulator = fixture::start(devsim::generatedFleet(1));
    QVERIFY(emulator);
    fake::Device d;
    fake::Responder responder;
    responder.devices = {entryFor(d)};
    std::vector<net::Endpoint> targets = emulator->discoveryEndpoints();
    targets.push_back(net::Endpoint {0x7f000001u, responder.port()});
    QCOMPARE(searchAt(targets).size(), std::size_t(2));

    const int sessionsBefore = netsdk::openSessionCount();
    const int32_t own = fixture::login(*emulator, 0);
    QVERIFY(own > 0);
    QVERIFY(own < netsdk::onvifbackend::kFirstHandle);
    d.skewSeconds = 600; // a camera ten minutes off still logs in
    int32_t err = 1;
    const int32_t onvifHandle = onvifLogin(d, "739204", &err);
    QCOMPARE(err, 0);
    QVERIFY(onvifHandle >= netsdk::onvifbackend::kFirstHandle);
    QCOMPARE(netsdk::openSessionCount(), sessionsBefore + 2);

    // A command no ONVIF device has goes to the mapping, never to the own
    // protocol's session.
    char buffer[64];
    int32_t bytes = -1;
    QCOMPARE(NetSdk_GetConfig(onvifHandle, 9999, 0, buffer, sizeof buffer, &bytes, 2000),
        int32_t(NETSDK_ERR_NOT_SUPPORTED));
    QCOMPARE(bytes, 0);
    QCOMPARE(NetSdk_SetConfig(onvifHandle, 9999, 0, buffer, sizeof buffer, 2000), int32_t(NETSDK_ERR_NOT_SUPPORTED));

    d.clear();
    QCOMPARE(int(NetSdk_Reboot(onvifHandle, 0, 2000)), 1);
    QCOMPARE(d.count("SystemReboot"), 1);
    QCOMPARE(d.requests().back().user, std::string("admin"));
    d.override["SystemReboot"] = {400, soap::buildFault(soap::Fault {"Receiver", {"Action"}, "busy", {}})};
    QCOMPARE(int(NetSdk_Reboot(onvifHandle, 0, 2000)), 0); // a refused reboot is no success

    QCOMPARE(NetSdk_Logout(onvifHandle), 0);
    QCOMPARE(NetSdk_Logout(onvifHandle), int32_t(proto::InvalidHandle));
    QCOMPARE(NetSdk_GetConfig(onvifHandle, 9999, 0, buffer, sizeof buffer, &bytes, 2000),
        int32_t(proto::InvalidHandle));
    QCOMPARE(int(NetSdk_Reboot(onvifHandle, 0, 2000)), 0);
    QCOMPARE(NetSdk_Logout(own), 0);
    QCOMPARE(netsdk::openSessionCount(), sessionsBefore);
}

void TestOnvifClient::loginErrorsAndBackoff()
{
    fake::Device d;
    fake::Responder responder;
    discover(responder, {&d});

    int32_t err = 0;
    QCOMPARE(onvifLogin(d, "wrong", &err), 0);
    QCOMPARE(err, int32_t(NETSDK_ERR_PASSWORD));
    // Within the back-off window the refused password is not sent again.
    d.clear();
    QElapsedTimer t;
    t.start();
    QCOMPARE(onvifLogin(d, "wrong", &err), 0);
    QCOMPARE(err, int32_t(NETSDK_ERR_PASSWORD));
    QVERIFY(t.elapsed() < 200);
    QCOMPARE(d.count(), 0);
    // Another one, as typed by the installer, is tried at once.
    const int32_t h = onvifLogin(d, "739204", &err);
    QVERIFY(h > 0);
    QCOMPARE(err, 0);
    QCOMPARE(NetSdk_Logout(h), 0);
    // The success reset the window: the refused password may go out again.
    QCOMPARE(onvifLogin(d, "wrong", &err), 0);
    d.clear();
    QCOMPARE(onvifLogin(d, "wrong", &err), 0);
    QCOMPARE(d.count(), 0);
    QTest::qWait(2100);
    QCOMPARE(onvifLogin(d, "wrong", &err), 0);
    QVERIFY(d.count() > 0);
    QVERIFY(onvifLogin(d, "739204", &err) > 0);

    // Found, then gone: the own protocol's network error.
    fake::Device gone;
    discover(responder, {&gone});
    gone.stop();
    QCOMPARE(onvifLogin(gone, "739204", &err), 0);
    QCOMPARE(err, int32_t(NETSDK_LOGIN_NET_ERROR));
}

void TestOnvifClient::setWithoutLoginTakesCredentialsInOrder()
{
    fake::Device d;
    fake::Responder responder;
    discover(responder, {&d});
    const std::string mac = macOf(responder.devices.front());
    NetInfo net {};
    net.ip[0] = 127, net.ip[1] = 0, net.ip[2] = 0, net.ip[3] = 1;
    setFieldText(net.mac, mac);

    // No login and no defaults: refused, and the device hears nothing.
    d.clear();
    QCOMPARE(NetSdk_SetConfigWithoutLogin(20, 0, &net, sizeof net, 2000), int32_t(NETSDK_ERR_PASSWORD));
    QCOMPARE(d.count(), 0);
    // Other commands have no ONVIF counterpart.
    QCOMPARE(NetSdk_SetConfigWithoutLogin(33, 0, &net, sizeof net, 2000), int32_t(NETSDK_ERR_NOT_SUPPORTED));

    auto signedUsers = [&] {
        std::set<std::string> users;
        for (const auto &r : d.requests()) {
            if (!r.user.empty())
                users.insert(r.user);
        }
        return users;
    };
    // The defaults are used when nobody logged in.
    d.user = "installer";
    d.password = "pw-installer";
    netsdk::setDefaultCredentials("installer", "pw-installer");
    d.clear();
    QVERIFY(NetSdk_SetConfigWithoutLogin(20, 0, &net, sizeof net, 2000) != NETSDK_ERR_PASSWORD);
    QVERIFY(d.count() > 0);
    for (const std::string &u : signedUsers())
        QCOMPARE(u, std::string("installer"));

    // A successful login's credentials win over the defaults.
    d.user = "admin";
    d.password = "739204";
    const int32_t h = onvifLogin(d);
    QVERIFY(h > 0);
    d.clear();
    QVERIFY(NetSdk_SetConfigWithoutLogin(20, 0, &net, sizeof net, 2000) != NETSDK_ERR_PASSWORD);
    for (const std::string &u : signedUsers())
        QCOMPARE(u, std::string("admin"));
    QCOMPARE(NetSdk_Logout(h), 0);
}

void TestOnvifClient::upgradeReportsProgressAndRefusals()
{
    QTemporaryDir dir;
    fake::Device d;
    fake::Responder responder;
    discover(responder, {&d});
    const int32_t h = onvifLogin(d);
    QVERIFY(h > 0);

    const std::size_t size = 300 * 1024 + 17;
    const std::string path = writeFile(dir, "fw.bin", size);
    ProgressLog log;
    QCOMPARE(NetSdk_Upgrade(h, path.c_str(), 0, onProgress, &log, 0), 1);
    QCOMPARE(netsdk::lastUpgradeRefusal(), 0);
    // One upgrade per handle at a time.
    ProgressLog second;
    QCOMPARE(NetSdk_Upgrade(h, path.c_str(), 0, onProgress, &second, 0), 0);
    QCOMPARE(netsdk::lastUpgradeRefusal(), int32_t(NETSDK_UPGRADE_ERR_BUSY));
    {
        std::unique_lock<std::mutex> lock(log.mutex);
        QVERIFY(log.cv.wait_for(lock, std::chrono::seconds(20), [&] { return log.done; }));
    }
    QCOMPARE(d.uploadedBytes.load(), (long long)size);
    QVERIFY(second.calls.empty());

    // Transfer: rising byte counts, at most one per 64 KiB here, the last at
    // the size; then percents; then the single final call.
    const auto &calls = log.calls;
    QVERIFY(calls.size() >= 3);
    std::size_t i = 0;
    int32_t last = 0;
    for (; i < calls.size() && calls[i][1] == int32_t(size); ++i) {
        if (calls[i][2] < 0)
            break;
        QVERIFY(calls[i][2] > last);
        QVERIFY(calls[i][2] - last >= 64 * 1024 || calls[i][2] == int32_t(size));
        last = calls[i][2];
    }
    QCOMPARE(last, int32_t(size));
    int32_t percent = -1;
    for (; i < calls.size() && calls[i][1] == -1; ++i) {
        QVERIFY(calls[i][2] > percent);
        percent = calls[i][2];
    }
    QVERIFY(percent >= 0);
    QCOMPARE(i, calls.size() - 1);
    QCOMPARE(calls.back()[0], 0);
    QCOMPARE(calls.back()[2], -1);

    // A refused upload fails with the code that fits, after the transfer.
    d.uploadStatus = 415;
    ProgressLog refused;
    QCOMPARE(NetSdk_Upgrade(h, path.c_str(), 0, onProgress, &refused, 0), 1);
    {
        std::unique_lock<std::mutex> lock(refused.mutex);
        QVERIFY(refused.cv.wait_for(lock, std::chrono::seconds(20), [&] { return refused.done; }));
    }
    QCOMPARE(refused.calls.back()[0], int32_t(NETSDK_UPGRADE_ERR_FORMAT));
    QCOMPARE(refused.calls.back()[2], -2);

    // A device that refuses to start: not started, no callback.
    d.override["StartFirmwareUpgrade"] = {400, soap::buildFault(soap::Fault {"Receiver", {"ActionNotSupported"}, "no", {}})};
    ProgressLog never;
    QCOMPARE(NetSdk_Upgrade(h, path.c_str(), 0, onProgress, &never, 0), 0);
    QCOMPARE(netsdk::lastUpgradeRefusal(), int32_t(NETSDK_ERR_NOT_SUPPORTED));
    QCOMPARE(NetSdk_Upgrade(h, (path + ".missing").c_str(), 0, onProgress, &never, 0), 0);
    QVERIFY(never.calls.empty());
    QTRY_COMPARE(netsdk::runningUpgrades(), 0);
    QCOMPARE(NetSdk_Logout(h), 0);
}

void TestOnvifClient::streamsFailWithRealCodes()
{
    fake::Device d;
    fake::Responder responder;
    discover(responder, {&d});
    const int32_t h = onvifLogin(d);
    QVERIFY(h > 0);
    auto request = [](int32_t channel, int32_t stream) {
        std::array<uint8_t, NETSDK_STREAM_REQUEST_SIZE> r {};
        writeLe32(r.data(), uint32_t(channel));
        writeLe32(r.data() + 4, uint32_t(stream));
        return r;
    };
    // One video source with two profiles: channel 1 and stream 2 do not exist.
    QCOMPARE(NetSdk_StartRealStream(h, request(1, 0).data(), 0), int32_t(proto::InvalidArgument));
    QCOMPARE(NetSdk_StartRealStream(h, request(0, 2).data(), 0), int32_t(proto::InvalidArgument));
    // Nothing serves the stream address the device named.
    d.streamUri = "rtsp://127.0.0.1:" + std::to_string(closedPort()) + "/ch1/sub";
    const int32_t r = NetSdk_StartRealStream(h, request(0, 1).data(), 0);
    QVERIFY2(r < 0, qPrintable(QString::number(r)));
    // A stream address outside loopback is never opened in a guarded process.
    d.streamUri = "rtsp://192.0.2.1/ch1/main";
    QCOMPARE(NetSdk_StartRealStream(h, request(0, 0).data(), 0), int32_t(proto::InvalidArgument));
    QCOMPARE(NetSdk_StopRealStream(netsdk::onvifbackend::kFirstHandle + 12345), int32_t(proto::InvalidHandle));
    QCOMPARE(NetSdk_Logout(h), 0);
}

namespace {

struct UnitLog {
    std::atomic<int> units {0};
    std::atomic<int> keyUnits {0};
    std::atomic<int32_t> handle {0};
};

int32_t onUnit(int32_t handle, int32_t type, char *data, int32_t length, void *user)
{
    auto *log = static_cast<UnitLog *>(user);
    log->handle = handle;
    if (type == 1 && length > 4) {
        ++log->units;
        for (int32_t i = 0; i + 3 < length; ++i) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1f) == 5) {
                ++log->keyUnits;
                break;
            }
        }
    }
    return 0;
}

} // namespace

void TestOnvifClient::streamsDeliverUntilCleared()
{
    devsim::RtspServerOptions options;
    devsim::LiveStreamFormat format;
    format.width = 320;
    format.height = 180;
    format.keyInterval = 10;
    format.title = "fake";
    format.sub = true;
    options.mounts = {devsim::RtspMount {"/ch0/sub", format}};
    options.users = {devsim::RtspUser {"admin", "739204"}};
    devsim::RtspServer server(options);
    std::string error;
    QVERIFY2(server.start(error), error.c_str());

    fake::Device d;
    d.streamUri = server.url("/ch0/sub");
    fake::Responder responder;
    discover(responder, {&d});
    const int32_t h = onvifLogin(d);
    QVERIFY(h > 0);
    std::array<uint8_t, NETSDK_STREAM_REQUEST_SIZE> request {};
    writeLe32(request.data() + 4, 1); // channel 0, sub stream
    const int32_t stream = NetSdk_StartRealStream(h, request.data(), 0);
    QVERIFY2(stream >= netsdk::onvifbackend::kFirstHandle, qPrintable(QString::number(stream)));
    QCOMPARE(d.requests().back().operation, std::string("GetStreamUri"));
    QVERIFY(d.requests().back().body.find(">sub<") != std::string::npos);

    UnitLog log;
    QCOMPARE(NetSdk_SetStreamCallback(stream, onUnit, &log), 0);
    QTRY_VERIFY_WITH_TIMEOUT(log.units >= 12 && log.keyUnits >= 1, 15000);
    QCOMPARE(log.handle.load(), stream);
    QCOMPARE(NetSdk_ClearStreamCallback(stream, onUnit, &log), 0);
    const int after = log.units;
    QTest::qWait(300);
    QCOMPARE(log.units.load(), after); // nothing after the clear returned
    QCOMPARE(NetSdk_StopRealStream(stream), 0);
    QCOMPARE(NetSdk_StopRealStream(stream), int32_t(proto::InvalidHandle));
    QCOMPARE(NetSdk_Logout(h), 0);
}

QTEST_APPLESS_MAIN(TestOnvifClient)
#include "tst_onvifclient.moc"
