// ONVIF sessions: the device registry the searches fill, login with its
// back-off, the record calls through the mapping, reboot, set without login
// and live streams.

#include "Backend.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <map>
#include <set>

#include "BackendSession.h"
#include "DeviceRecords.h"
#include "Internal.h"
#include "Net.h"
#include "NetSdkControl.h"
#include "Protocol.h"
#include "RtspReader.h"
#include "StreamSink.h"

namespace scoutrix::netsdk {

namespace {

std::mutex g_credentialsMutex;
std::optional<std::pair<std::string, std::string>> g_defaultCredentials;

} // namespace

void setDefaultCredentials(const std::string &user, const std::string &password)
{
    std::lock_guard<std::mutex> lock(g_credentialsMutex);
    if (user.empty())
        g_defaultCredentials.reset();
    else
        g_defaultCredentials = std::make_pair(user, password);
}

void clearDefaultCredentials()
{
    std::lock_guard<std::mutex> lock(g_credentialsMutex);
    g_defaultCredentials.reset();
}

namespace onvifbackend {

namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;
using onvif::CallError;

constexpr int kDefaultCallTimeoutMs = 5000;
// RTSP setup and the first key frame; a loaded camera needs a while for both.
constexpr int kStreamStartMs = 10000;
// A refused login keeps the device alone for a window that doubles with
// every refusal in a row: cameras lock a user out after a handful of bad
// digests, and a batch must never be the one that does it.
constexpr int kFirstBackoffSeconds = 2;
constexpr int kMaxBackoffSeconds = 60;

std::string keyOf(const std::string &host, uint16_t port)
{
    return host + ":" + std::to_string(port);
}

struct Backoff {
    int refusals = 0;
    SteadyClock::time_point until;
    std::string refused; // user and password that were refused last
};

std::string credentialKey(const std::string &user, const std::string &password)
{
    return user + '\n' + password;
}

struct Credentials {
    std::string user;
    std::string password;
};

struct StreamEntry {
    std::shared_ptr<StreamSink> sink;
    std::shared_ptr<rtsp::RtspReader> reader;
    int32_t login = 0;
};

struct State {
    std::mutex mutex;
    std::map<std::string, KnownDevice> byMac; // last search, updated by address changes
    std::set<std::string> onvifAt; // host:port of found or logged-in ONVIF devices
    std::map<std::string, Credentials> lastLogin; // by MAC text
    std::map<std::string, Backoff> backoff; // by host:port
    std::map<int32_t, std::shared_ptr<Session>> sessions;
    std::map<int32_t, StreamEntry> streams;
    int32_t nextHandle = kFirstHandle - 1;
    int32_t nextStream = kFirstHandle - 1;
};

State &state()
{
    static State s;
    return s;
}

int32_t takeHandle(int32_t &counter, const std::function<bool(int32_t)> &used)
{
    do {
        counter = counter == INT32_MAX ? kFirstHandle : counter + 1;
    } while (used(counter));
    return counter;
}

int callTimeout(int32_t timeoutMs)
{
    return timeoutMs > 0 ? timeoutMs : kDefaultCallTimeoutMs;
}

// How long the device is still left alone for these credentials; 0 when a
// login may go out. Only the credentials that were refused wait: what locks
// a camera is the same wrong digest sent again and again by a batch, while
// an installer who types another password must have it tried at once.
int backoffRemainingMs(const std::string &key, const std::string &user, const std::string &password)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.backoff.find(key);
    if (it == s.backoff.end() || it->second.refused != credentialKey(user, password))
        return 0;
    const auto left = std::chrono::duration_cast<milliseconds>(it->second.until - SteadyClock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

void noteRefusal(const std::string &key, const std::string &user, const std::string &password)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Backoff &b = s.backoff[key];
    b.refused = credentialKey(user, password);
    const int shift = std::min(b.refusals, 6);
    const int seconds = std::min(kMaxBackoffSeconds, kFirstBackoffSeconds << shift);
    ++b.refusals;
    b.until = SteadyClock::now() + std::chrono::seconds(seconds);
}

void noteAccepted(const std::string &key)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.backoff.erase(key);
}

std::string devicePathFor(const std::string &host, uint16_t port)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const auto &[mac, d] : s.byMac) {
        if (d.host == host && d.port == port)
            return d.path;
    }
    return onvif::HttpDeviceApi::kDefaultPath;
}

// The device the last search found at this address, if any.
std::optional<KnownDevice> knownAt(const std::string &host, uint16_t port)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const auto &[mac, d] : s.byMac) {
        if (d.host == host && d.port == port)
            return d;
    }
    return std::nullopt;
}

// A service address outside loopback is dropped in a guarded process, so
// that no later call can leave it.
void guardServices(onvif::ServiceAddresses &services)
{
    for (std::string *url : {&services.device, &services.media, &services.imaging}) {
        const auto parsed = onvif::parseHttpUrl(*url);
        if (!url->empty() && (!parsed || hostRefused(parsed->host)))
            url->clear();
    }
}

struct RtspTarget {
    std::string host;
    uint16_t port = 554;
    std::string path;
};

std::optional<RtspTarget> parseRtsp(const std::string &uri)
{
    constexpr std::string_view scheme = "rtsp://";
    if (uri.compare(0, scheme.size(), scheme) != 0)
        return std::nullopt;
    const std::size_t slash = uri.find('/', scheme.size());
    std::string authority = uri.substr(scheme.size(), slash == std::string::npos ? slash : slash - scheme.size());
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1); // the session's credentials replace any in the answer
    RtspTarget t;
    t.path = slash == std::string::npos ? "/" : uri.substr(slash);
    const std::size_t colon = authority.find(':');
    t.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
        unsigned v = 0;
        const char *b = authority.data() + colon + 1, *e = authority.data() + authority.size();
        const auto [end, ec] = std::from_chars(b, e, v);
        if (ec != std::errc() || end != e || v == 0 || v > 65535)
            return std::nullopt;
        t.port = uint16_t(v);
    }
    if (t.host.empty())
        return std::nullopt;
    return t;
}

// Profiles grouped by video source in the order the device listed them:
// the n-th source is channel n, its first profile the main stream.
const onvif::Profile *profileFor(const std::vector<onvif::Profile> &profiles, int channel, int stream)
{
    std::vector<std::string> sources;
    for (const onvif::Profile &p : profiles) {
        if (std::find(sources.begin(), sources.end(), p.videoSourceToken) == sources.end())
            sources.push_back(p.videoSourceToken);
    }
    if (channel < 0 || std::size_t(channel) >= sources.size() || stream < 0)
        return nullptr;
    int index = 0;
    for (const onvif::Profile &p : profiles) {
        if (p.videoSourceToken == sources[std::size_t(channel)] && index++ == stream)
            return &p;
    }
    return nullptr;
}

int32_t streamCode(rtsp::ReadError error)
{
    switch (error) {
    case rtsp::ReadError::Unauthorized:
        return NETSDK_ERR_PASSWORD;
    case rtsp::ReadError::Timeout:
        return proto::Timeout;
    case rtsp::ReadError::Unreachable:
    case rtsp::ReadError::Closed:
        return proto::NetworkError;
    case rtsp::ReadError::NotFound:
    case rtsp::ReadError::NoVideo:
        return NETSDK_ERR_NOT_SUPPORTED;
    default:
        return NETSDK_ERR_FAIL;
    }
}

void endStreamsOf(int32_t login)
{
    std::vector<StreamEntry> ended;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        for (auto &[handle, entry] : s.streams) {
            if (entry.login == login && entry.reader)
                ended.push_back(entry); // the handle stays until NetSdk_StopRealStream
        }
    }
    for (StreamEntry &e : ended) {
        e.reader->stop();
        e.sink->end();
    }
}

} // namespace

bool hostRefused(const std::string &host)
{
    uint32_t address = 0;
    if (!loopbackOnly())
        return false;
    return !net::parseIpv4(host, address) || !net::isLoopback(address);
}

int32_t codeFor(const onvif::Failure &failure)
{
    switch (failure.kind) {
    case CallError::Unreachable:
        return proto::NetworkError;
    case CallError::Timeout:
        return proto::Timeout;
    case CallError::NotAuthorized:
        return NETSDK_ERR_PASSWORD;
    case CallError::NotSupported:
        return NETSDK_ERR_NOT_SUPPORTED;
    case CallError::InvalidArgument:
        return proto::InvalidArgument;
    default:
        return NETSDK_ERR_FAIL;
    }
}

std::shared_ptr<Session> findSession(int32_t handle)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.sessions.find(handle);
    return it == s.sessions.end() ? nullptr : it->second;
}

void rememberSearch(const std::vector<KnownDevice> &devices)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const auto &[mac, d] : s.byMac)
        s.onvifAt.erase(keyOf(d.host, d.port));
    s.byMac.clear();
    for (const KnownDevice &d : devices) {
        s.byMac[d.macText] = d;
        s.onvifAt.insert(keyOf(d.host, d.port));
    }
}

std::optional<KnownDevice> deviceByMac(const std::string &macText)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.byMac.find(macText);
    if (it == s.byMac.end())
        return std::nullopt;
    return it->second;
}

bool isOnvifAt(const std::string &host, uint16_t port)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.onvifAt.count(keyOf(host, port)) > 0;
}

int openSessionCount()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return int(s.sessions.size());
}

int32_t login(const char *address, uint16_t port, const char *user, const char *password,
    void *loginInfo, int32_t *errorCode)
{
    int32_t ignored = 0;
    int32_t &err = errorCode ? *errorCode : ignored;
    uint32_t ip = 0;
    if (!address || !user || !password || !net::parseIpv4(address, ip) || port == 0) {
        err = proto::InvalidArgument;
        return 0;
    }
    if (hostRefused(address)) {
        err = proto::InvalidArgument;
        return 0;
    }
    const std::string host = address;
    const std::string key = keyOf(host, port);
    if (backoffRemainingMs(key, user, password) > 0) {
        err = NETSDK_ERR_PASSWORD;
        return 0;
    }
    auto session = std::make_shared<Session>(host, port, devicePathFor(host, port));
    onvif::HttpDeviceApi &api = session->api;
    api.setCredentials(user, password);
    const auto deadline = SteadyClock::now() + milliseconds(loginTimeoutMs());
    // Each step gets what is left of the login's time.
    auto budget = [&] {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now()).count();
        api.setTimeoutMs(int(std::max<long long>(left, 1)));
        return left > 0;
    };
    auto fail = [&](const onvif::Failure &f) {
        if (f.kind == CallError::NotAuthorized)
            noteRefusal(key, user, password);
        err = f.kind == CallError::Unreachable ? int32_t(NETSDK_LOGIN_NET_ERROR) : codeFor(f);
        return 0;
    };

    budget();
    auto clock = api.getSystemDateAndTime();
    if (!clock) {
        const CallError k = clock.failure().kind;
        if (k == CallError::Unreachable || k == CallError::Timeout)
            return fail(clock.failure());
        api.setClockOffsetSeconds(0); // a device that guards its clock: sign with ours
    }
    if (!budget())
        return fail(onvif::Failure {CallError::Timeout, "login time used up"});
    auto info = api.getDeviceInformation();
    if (!info)
        return fail(info.failure());
    onvifmap::DeviceContext &context = session->context;
    context.info = info.value();
    context.host = host;
    context.port = port;
    budget();
    auto services = api.getServices();
    if (!services)
        return fail(services.failure());
    context.services = services.value();
    guardServices(context.services);
    api.setServices(context.services);
    budget();
    auto profiles = api.getProfiles();
    if (profiles)
        context.profiles = std::move(profiles.value());
    else if (profiles.failure().kind != CallError::NotSupported)
        return fail(profiles.failure());
    // A recorder's type scopes said so at search; without a search the
    // device counts as a camera.
    if (const auto known = knownAt(host, port)) {
        context.macText = known->macText;
        context.deviceType = known->deviceType;
    }
    if (context.macText.empty()) {
        budget();
        if (auto nics = api.getNetworkInterfaces(); nics && !nics->empty())
            context.macText = nics->front().hwAddress;
    }
    api.setTimeoutMs(kDefaultCallTimeoutMs);
    if (loginInfo)
        onvifmap::fillLoginInfo(context, loginInfo);
    noteAccepted(key);
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.onvifAt.insert(key);
    if (!context.macText.empty())
        s.lastLogin[context.macText] = Credentials {user, password};
    const int32_t handle = takeHandle(s.nextHandle, [&](int32_t h) { return s.sessions.count(h) > 0; });
    s.sessions[handle] = session;
    err = proto::Ok;
    return handle;
}

int32_t logout(int32_t handle)
{
    std::shared_ptr<Session> session;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const auto it = s.sessions.find(handle);
        if (it == s.sessions.end())
            return proto::InvalidHandle;
        session = it->second;
        s.sessions.erase(it);
    }
    endStreamsOf(handle);
    return proto::Ok;
}

int32_t getConfig(int32_t handle, int32_t command, int32_t channel, void *buffer,
    int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs)
{
    if (bytesReturned)
        *bytesReturned = 0;
    if (bufferSize < 0 || (!buffer && bufferSize > 0))
        return proto::InvalidArgument;
    const auto session = findSession(handle);
    if (!session)
        return proto::InvalidHandle;
    std::lock_guard<std::mutex> lock(session->mutex);
    session->api.setTimeoutMs(callTimeout(timeoutMs));
    return onvifmap::getConfig(
        session->api, session->context, command, channel, buffer, bufferSize, bytesReturned);
}

int32_t setConfig(int32_t handle, int32_t command, int32_t channel, const void *buffer,
    int32_t size, int32_t timeoutMs)
{
    if (size < 0 || (!buffer && size > 0))
        return proto::InvalidArgument;
    const auto session = findSession(handle);
    if (!session)
        return proto::InvalidHandle;
    std::lock_guard<std::mutex> lock(session->mutex);
    session->api.setTimeoutMs(callTimeout(timeoutMs));
    return onvifmap::setConfig(session->api, session->context, command, channel, buffer, size);
}

uint8_t reboot(int32_t handle, int32_t timeoutMs)
{
    const auto session = findSession(handle);
    if (!session)
        return 0;
    std::lock_guard<std::mutex> lock(session->mutex);
    session->api.setTimeoutMs(callTimeout(timeoutMs));
    return session->api.systemReboot() ? 1 : 0;
}

int32_t setNetwork(const std::string &macText, const void *record, int32_t size, int32_t timeoutMs)
{
    const auto device = deviceByMac(macText);
    if (!device)
        return proto::InvalidArgument;
    if (hostRefused(device->host))
        return proto::InvalidArgument;
    const std::string key = keyOf(device->host, device->port);
    std::optional<Credentials> credentials;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const auto it = s.lastLogin.find(macText);
        if (it != s.lastLogin.end())
            credentials = it->second;
    }
    if (!credentials) {
        std::lock_guard<std::mutex> lock(g_credentialsMutex);
        if (g_defaultCredentials)
            credentials = Credentials {g_defaultCredentials->first, g_defaultCredentials->second};
    }
    // No credentials, or a device still left alone after a refusal: nothing is sent.
    if (!credentials || backoffRemainingMs(key, credentials->user, credentials->password) > 0)
        return NETSDK_ERR_PASSWORD;
    onvif::HttpDeviceApi api(device->host, device->port, device->path);
    api.setCredentials(credentials->user, credentials->password);
    api.setTimeoutMs(callTimeout(timeoutMs));
    auto clock = api.getSystemDateAndTime();
    if (!clock) {
        const CallError k = clock.failure().kind;
        if (k == CallError::Unreachable || k == CallError::Timeout)
            return codeFor(clock.failure());
        api.setClockOffsetSeconds(0);
    }
    const int32_t r = onvifmap::setNetwork(api, record, size);
    if (r == NETSDK_ERR_PASSWORD) {
        noteRefusal(key, credentials->user, credentials->password);
        return r;
    }
    if (r != proto::Ok)
        return r;
    noteAccepted(key);
    // The device answers at its new address from now on; later logins and
    // sets must find it there.
    NetInfo net;
    std::memcpy(&net, record, std::min<std::size_t>(sizeof net, std::size_t(size)));
    const std::string newHost = net.ipText();
    uint32_t parsed = 0;
    if (net::parseIpv4(newHost, parsed) && parsed != 0 && newHost != device->host) {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.onvifAt.erase(key);
        s.onvifAt.insert(keyOf(newHost, device->port));
        s.byMac[macText].host = newHost;
    }
    return r;
}

int32_t startRealStream(int32_t loginHandle, const void *request)
{
    if (!request)
        return proto::InvalidArgument;
    const auto session = findSession(loginHandle);
    if (!session)
        return proto::InvalidHandle;
    const auto *words = static_cast<const uint8_t *>(request);
    const int channel = int32_t(readLe32(words));
    const int streamIndex = int32_t(readLe32(words + 4));
    std::string uri;
    std::string user, password;
    {
        std::lock_guard<std::mutex> lock(session->mutex);
        const onvif::Profile *profile = profileFor(session->context.profiles, channel, streamIndex);
        if (!profile)
            return proto::InvalidArgument;
        session->api.setTimeoutMs(kStreamStartMs);
        auto answer = session->api.getStreamUri(profile->token);
        session->api.setTimeoutMs(kDefaultCallTimeoutMs);
        if (!answer)
            return codeFor(answer.failure());
        uri = answer.value();
        user = session->api.user();
        password = session->api.password();
    }
    const auto target = parseRtsp(uri);
    if (!target)
        return proto::ProtocolError;
    if (hostRefused(target->host))
        return proto::InvalidArgument;

    State &s = state();
    int32_t handle;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        handle = takeHandle(s.nextStream, [&](int32_t h) { return s.streams.count(h) > 0; });
        s.streams[handle] = StreamEntry {}; // reserved while the stream opens
    }
    auto sink = std::make_shared<StreamSink>(handle);
    sink->startThread();
    auto reader = std::make_shared<rtsp::RtspReader>();
    // The stream counts as started once its first picture is in, so a refused
    // or dead stream is told to the caller rather than found out later.
    struct Start {
        std::mutex mutex;
        std::condition_variable cv;
        bool settled = false;
        int32_t result = proto::Ok;
    };
    auto start = std::make_shared<Start>();
    reader->start(rtsp::RtspReader::makeUrl(target->host, target->port, target->path, user, password),
        [sink, start](const rtsp::AccessUnit &unit) {
            sink->push(1, unit.data, unit.size);
            std::lock_guard<std::mutex> lock(start->mutex);
            if (!start->settled) {
                start->settled = true;
                start->cv.notify_all();
            }
        },
        [sink, start](rtsp::ReadError error, const std::string &) {
            sink->end();
            std::lock_guard<std::mutex> lock(start->mutex);
            if (!start->settled) {
                start->settled = true;
                start->result = streamCode(error);
                start->cv.notify_all();
            }
        },
        rtsp::ReaderOptions {kStreamStartMs, kStreamStartMs});
    int32_t result;
    {
        std::unique_lock<std::mutex> lock(start->mutex);
        start->cv.wait_for(lock, milliseconds(kStreamStartMs + 1000), [&] { return start->settled; });
        result = start->settled ? start->result : int32_t(proto::Timeout);
    }
    if (result != proto::Ok) {
        reader->stop();
        sink->stop();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.streams.erase(handle);
        return result;
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    s.streams[handle] = StreamEntry {sink, reader, loginHandle};
    return handle;
}

namespace {

std::shared_ptr<StreamSink> findSink(int32_t streamHandle)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.streams.find(streamHandle);
    return it == s.streams.end() ? nullptr : it->second.sink;
}

} // namespace

int32_t setStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user)
{
    const auto sink = findSink(streamHandle);
    if (!sink)
        return proto::InvalidHandle;
    sink->setCallback(callback, user);
    return proto::Ok;
}

int32_t clearStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user)
{
    const auto sink = findSink(streamHandle);
    if (!sink)
        return proto::InvalidHandle;
    return sink->clearCallback(callback, user) ? int32_t(proto::Ok) : int32_t(proto::InvalidArgument);
}

int32_t stopRealStream(int32_t streamHandle)
{
    StreamEntry entry;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const auto it = s.streams.find(streamHandle);
        if (it == s.streams.end() || !it->second.sink)
            return proto::InvalidHandle;
        entry = std::move(it->second);
        s.streams.erase(it);
    }
    // Callbacks end first, then the connection.
    entry.sink->stop();
    entry.reader->stop();
    return proto::Ok;
}

} // namespace onvifbackend
} // namespace scoutrix::netsdk
