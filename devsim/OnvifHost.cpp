#include "OnvifHost.h"

#include <httplib.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>

#include "Emulator.h"
#include "EmulatorState.h"
#include "OnvifState.h"
#include "RtspServer.h"
#include "StatePersistence.h"
#include "UpgradeJob.h"

namespace scoutrix::devsim {

namespace {

const char *const kSoapType = "application/soap+xml; charset=utf-8";
// Time for an answer that ends in a move or a reboot to leave first.
constexpr int kAnswerGraceMs = 50;

// Reads a request body through |reader|, refusing more than |limit| bytes.
bool readBody(const httplib::ContentReader &reader, std::size_t limit, std::string &out)
{
    bool tooLarge = false;
    reader([&](const char *data, std::size_t len) {
        if (out.size() + len > limit) {
            tooLarge = true;
            return false;
        }
        out.append(data, len);
        return true;
    });
    return !tooLarge;
}

} // namespace

struct OnvifHost::Served
{
    std::unique_ptr<httplib::Server> http;
    std::thread thread;
    std::unique_ptr<RtspServer> rtsp;
};

OnvifHost::OnvifHost(EmulatorState &state, StatePersistence &persistence, const Emulator &emulator)
    : m_state(state)
    , m_persistence(persistence)
    , m_emulator(emulator)
    , m_service(state, persistence, *this)
{
}

OnvifHost::~OnvifHost()
{
    stop();
}

bool OnvifHost::start(std::string &error)
{
    std::vector<int> onvifDevices;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_served.clear();
        m_served.resize(m_state.devices.size());
        for (std::size_t i = 0; i < m_state.devices.size(); ++i) {
            EmulatedDevice &dev = *m_state.devices[i];
            if (dev.model.spec().protocol != Protocol::Onvif)
                continue;
            if (!dev.onvif)
                dev.onvif = std::make_unique<OnvifState>();
            dev.onvif->users = m_state.fleet.devices[i].users;
            m_served[i] = std::make_unique<Served>();
            onvifDevices.push_back(int(i));
        }
    }
    for (const int i : onvifDevices) {
        std::string why;
        if (!startDevice(i, why)) {
            std::lock_guard<std::mutex> lock(m_state.mutex);
            error = "device " + m_state.deviceName(i) + ": " + why;
            return false;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_stopping = false;
    }
    m_worker = std::thread([this] { work(); });
    return true;
}

void OnvifHost::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_queueWake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    for (std::size_t i = 0; i < m_served.size(); ++i) {
        if (m_served[i])
            stopDevice(int(i));
    }
    m_served.clear();
}

void OnvifHost::later(int delayMs, std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_stopping)
            return;
        m_queue.emplace(Clock::now() + std::chrono::milliseconds(delayMs), std::move(fn));
    }
    m_queueWake.notify_all();
}

void OnvifHost::work()
{
    std::unique_lock<std::mutex> lock(m_queueMutex);
    while (!m_stopping) {
        if (m_queue.empty()) {
            m_queueWake.wait(lock);
            continue;
        }
        const auto first = m_queue.begin();
        if (first->first > Clock::now()) {
            m_queueWake.wait_until(lock, first->first);
            continue;
        }
        std::function<void()> fn = std::move(first->second);
        m_queue.erase(first);
        lock.unlock();
        fn();
        lock.lock();
    }
}

bool OnvifHost::startDevice(int device, std::string &error)
{
    Served &s = *m_served[std::size_t(device)];
    uint32_t ip;
    uint16_t port;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        EmulatedDevice &dev = m_state.device(device);
        const DeviceSpec &spec = dev.model.spec();
        ip = spec.ip;
        // A system-chosen port is chosen once and kept across moves and reboots.
        const bool systemPort = m_state.options.ephemeralPorts || spec.port == 0;
        port = !systemPort ? spec.port : (dev.model.hasBoundPort() ? dev.model.boundPort() : 0);
    }
    if (!net::isLoopback(ip)) {
        error = net::ipv4Text(ip) + " is not local";
        return false;
    }
    auto http = std::make_unique<httplib::Server>();
    // A benchmark runs a hundred and more of these at once.
    http->new_task_queue = [] { return new httplib::ThreadPool(2); };
    http->set_keep_alive_timeout(1);
    http->set_read_timeout(5, 0);
    http->set_write_timeout(5, 0);
    http->set_payload_max_length(UpgradeJob::MaxFileSize);
    http->set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        // Refused by its announced length before a byte of the body is read.
        if (req.path.rfind("/onvif/firmware/", 0) != 0 && req.has_header("Content-Length")
            && std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) > MaxSoapBody) {
            res.status = 413;
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http->Post(R"(/onvif/firmware/([0-9a-f]{1,64}))",
        [this, device](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
            std::string file;
            if (!readBody(reader, UpgradeJob::MaxFileSize, file)) {
                res.status = 413;
                return;
            }
            std::string text;
            upload(device, req.matches[1].str(), std::move(file), res.status, text);
            res.set_content(text + "\n", "text/plain");
        });

    // Requests are told apart by their operation's namespace, not by the path:
    // clients post to paths of their own making ("deviceIO") too.
    http->Post(".*",
        [this, device](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
            std::string body;
            if (!readBody(reader, MaxSoapBody, body)) {
                res.status = 413;
                return;
            }
            const OnvifAnswer a = m_service.handle(
                device, req.path, body, req.remote_addr, req.get_header_value("Authorization"), req.method);
            res.status = a.status;
            if (!a.wwwAuthenticate.empty())
                res.set_header("WWW-Authenticate", a.wwwAuthenticate);
            res.set_content(a.body, kSoapType);
        });
    const std::string host = net::ipv4Text(ip);
    int bound = port;
    if (port == 0)
        bound = http->bind_to_any_port(host);
    else if (!http->bind_to_port(host, port))
        bound = -1;
    if (bound <= 0) {
        error = host + ":" + std::to_string(port) + ": cannot listen";
        return false;
    }
    httplib::Server *raw = http.get();
    s.http = std::move(http);
    s.thread = std::thread([raw] { raw->listen_after_bind(); });
    // stop() does nothing before the server runs.
    while (!raw->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        EmulatedDevice &dev = m_state.device(device);
        dev.model.setBoundPort(uint16_t(bound));
        dev.reachable = true;
    }
    std::string why;
    if (!startRtsp(device, why)) {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_state.log(m_state.deviceName(device) + ": no RTSP: " + why);
    }
    return true;
}

void OnvifHost::stopDevice(int device)
{
    Served &s = *m_served[std::size_t(device)];
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_state.device(device).reachable = false;
    }
    if (s.http) {
        s.http->stop();
        if (s.thread.joinable())
            s.thread.join();
        s.http.reset();
    }
    stopRtsp(device);
}

bool OnvifHost::startRtsp(int device, std::string &error)
{
    Served &s = *m_served[std::size_t(device)];
    DeviceSpec spec;
    uint16_t port;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        EmulatedDevice &dev = m_state.device(device);
        spec = dev.model.spec();
        spec.users = dev.onvif->users;
        const bool systemPort = m_state.options.ephemeralPorts || spec.port == 0;
        port = dev.onvif->rtspPort ? dev.onvif->rtspPort : (systemPort ? 0 : 554);
    }
    RtspServerOptions o;
    if (!RtspServer::optionsFor(m_emulator, device, spec, o, error))
        return false;
    // Cameras count their channels from 1 in their paths.
    for (RtspMount &m : o.mounts) {
        if (m.path.rfind("/ch0/", 0) == 0)
            m.path = "/ch1/" + m.path.substr(5);
    }
    o.port = port;
    auto rtsp = std::make_unique<RtspServer>(std::move(o));
    if (!rtsp->start(error))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_state.device(device).onvif->rtspPort = rtsp->port();
    }
    s.rtsp = std::move(rtsp);
    return true;
}

void OnvifHost::stopRtsp(int device)
{
    Served &s = *m_served[std::size_t(device)];
    if (s.rtsp) {
        s.rtsp->stop();
        s.rtsp.reset();
    }
}

void OnvifHost::moveDevice(int device)
{
    later(kAnswerGraceMs, [this, device] {
        stopDevice(device);
        std::string why;
        if (!startDevice(device, why)) {
            std::lock_guard<std::mutex> lock(m_state.mutex);
            m_state.log(m_state.deviceName(device) + ": unreachable after the move: " + why);
        }
    });
}

void OnvifHost::rebootDevice(int device, int downMs)
{
    m_state.device(device).rebooting = true;
    later(kAnswerGraceMs, [this, device] { stopDevice(device); });
    later(kAnswerGraceMs + downMs, [this, device] { boot(device); });
}

void OnvifHost::boot(int device)
{
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        EmulatedDevice &dev = m_state.device(device);
        dev.rebooting = false;
        dev.model.restarted();
        m_state.log(m_state.deviceName(device) + ": back from reboot");
    }
    std::string why;
    if (!startDevice(device, why)) {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_state.log(m_state.deviceName(device) + ": unreachable after reboot: " + why);
    }
}

void OnvifHost::restream(int device)
{
    later(0, [this, device] {
        stopRtsp(device);
        std::string why;
        if (!startRtsp(device, why)) {
            std::lock_guard<std::mutex> lock(m_state.mutex);
            m_state.log(m_state.deviceName(device) + ": no RTSP: " + why);
        }
    });
}

void OnvifHost::upload(int device, const std::string &token, std::string &&file, int &status, std::string &text)
{
    proto::UpgradeBegin begin;
    begin.upgradeType = 0;
    begin.fileSize = uint32_t(file.size());
    begin.fileName = "firmware";
    unsigned int n = 0;
    EVP_Digest(file.data(), file.size(), begin.sha256, &n, EVP_sha256(), nullptr);
    UpgradeJob::Target target;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        EmulatedDevice &dev = m_state.device(device);
        if (dev.onvif->uploadToken.empty() || dev.onvif->uploadToken != token) {
            status = 404;
            text = "no upload expected here";
            return;
        }
        dev.onvif->uploadToken.clear(); // one upload per StartFirmwareUpgrade
        if (dev.upgrade || dev.flashing) {
            status = 503;
            text = "an upgrade is under way";
            return;
        }
        // Claimed while the file is checked outside the lock.
        dev.flashing = true;
        target.model = dev.model.spec().model;
        const HardwareRecord hw = DeviceModel::hardwareRecord(dev.model.spec());
        target.logo = LogoTarget { hw.hardwareName(), hw.areaStart(), hw.areaEnd() };
        m_state.log(m_state.deviceName(device) + ": ONVIF firmware upload, " + std::to_string(file.size()) + " bytes");
    }
    auto job = std::make_unique<UpgradeJob>(begin, std::move(target));
    int32_t r = UpgradeJob::beginRefusal(begin);
    const auto *bytes = reinterpret_cast<const uint8_t *>(file.data());
    for (std::size_t at = 0; !r && at < file.size(); at += UpgradeJob::ChunkSize)
        r = job->add(uint32_t(at), bytes + at, std::min<std::size_t>(UpgradeJob::ChunkSize, file.size() - at));
    if (!r)
        r = job->commit();
    std::string why = job->why();
    if (!r && job->kind() != UpgradeJob::Kind::Firmware) {
        r = -1;
        why = "not a firmware file";
    }
    std::lock_guard<std::mutex> lock(m_state.mutex);
    EmulatedDevice &dev = m_state.device(device);
    if (r) {
        dev.flashing = false;
        m_state.log(m_state.deviceName(device) + ": upgrade refused: " + why);
        status = 415;
        text = "refused: " + why;
        return;
    }
    const DeviceSpec &spec = dev.model.spec();
    dev.upgrade = std::move(job);
    dev.rebooting = true;
    status = 200;
    text = "writing " + dev.upgrade->firmware().version;
    later(kAnswerGraceMs, [this, device] { stopDevice(device); });
    later(kAnswerGraceMs + spec.flashMs, [this, device] { finishUpgrade(device); });
}

void OnvifHost::finishUpgrade(int device)
{
    int rebootMs;
    {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        EmulatedDevice &dev = m_state.device(device);
        if (dev.upgrade) {
            if (dev.model.spec().faults.powerLossAtPercent > 0) {
                // The half-written image is never booted.
                m_state.log(m_state.deviceName(device) + ": power lost while writing");
            } else {
                const UpgradeJob &job = *dev.upgrade;
                m_state.log(m_state.deviceName(device) + ": firmware " + job.firmware().version + " written");
                dev.model.applyFirmware(job.firmware().version, job.firmware().build);
                m_persistence.save();
            }
        }
        dev.upgrade.reset();
        dev.flashing = false;
        rebootMs = dev.model.spec().rebootMs;
    }
    later(rebootMs, [this, device] { boot(device); });
}

} // namespace scoutrix::devsim
