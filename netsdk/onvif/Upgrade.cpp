// Firmware upgrade on an ONVIF device: StartFirmwareUpgrade, the upload to
// the address it names, then the device's own writing and restart, timed by
// the ExpectedDownTime it announced.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "Backend.h"
#include "BackendSession.h"
#include "Internal.h"
#include "Protocol.h"

namespace scoutrix::netsdk::onvifbackend {

namespace {

using onvif::CallError;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

constexpr int kStartTimeoutMs = 15000;
// Silence on the upload connection this long ends it.
constexpr int kUploadSilenceMs = 30000;
constexpr int kPollIntervalMs = 1000;
constexpr int kPollTimeoutMs = 1000;
// A device may take longer than it announced to come back: half as long
// again, and never less than this.
constexpr int kMinDownMarginSeconds = 30;

std::atomic<int> g_running {0};

int32_t uploadRefusal(int httpStatus)
{
    switch (httpStatus) {
    case 409:
    case 423:
    case 503:
        return NETSDK_UPGRADE_ERR_BUSY;
    case 413:
        return NETSDK_UPGRADE_ERR_TOO_LARGE;
    case 400:
    case 415:
    case 422:
        return NETSDK_UPGRADE_ERR_FORMAT;
    default:
        return NETSDK_UPGRADE_ERR_TRANSFER;
    }
}

struct Job {
    std::shared_ptr<Session> session;
    onvif::HttpDeviceApi api; // a copy: the session stays usable while this runs
    onvif::FirmwareUpload upload;
    std::string path;
    uint64_t size = 0;
    UpgradeReporter report;

    void finish(bool ok, int32_t status)
    {
        session->upgrading = false;
        session.reset();
        report(ok ? 0 : status, int32_t(size), ok ? -1 : -2);
    }

    void run()
    {
        std::this_thread::sleep_for(std::chrono::seconds(upload.uploadDelaySeconds));
        const uint64_t step = std::max<uint64_t>(size / 100, 64 * 1024);
        uint64_t reported = 0;
        auto sent = api.uploadFirmware(upload.uploadUri, path,
            [&](uint64_t done, uint64_t total) {
                if (done - reported >= step || done == total) {
                    reported = done;
                    report(0, int32_t(total), int32_t(done));
                }
                return true;
            },
            kUploadSilenceMs);
        if (!sent) {
            const CallError k = sent.failure().kind;
            finish(false, k == CallError::InvalidArgument ? int32_t(proto::InvalidArgument)
                    : k == CallError::Timeout            ? int32_t(proto::Timeout)
                                                         : int32_t(proto::NetworkError));
            return;
        }
        if (sent.value() < 200 || sent.value() >= 300) {
            finish(false, uploadRefusal(sent.value()));
            return;
        }
        if (reported != size)
            report(0, int32_t(size), int32_t(size)); // an empty file has no chunk to report
        waitForRestart();
    }

    // The device writes and restarts: it is back once it answers again after
    // having gone away, or answers once its announced down time has passed.
    void waitForRestart()
    {
        const int expected = std::max(1, upload.expectedDownTimeSeconds);
        const int limit = expected + std::max(kMinDownMarginSeconds, expected / 2);
        const auto start = SteadyClock::now();
        api.setTimeoutMs(kPollTimeoutMs);
        bool wentAway = false;
        int lastPercent = -1;
        for (;;) {
            const auto elapsedMs
                = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start).count();
            const int percent = int(std::min<long long>(99, elapsedMs / 10 / expected));
            if (percent > lastPercent) {
                lastPercent = percent;
                report(0, -1, percent);
            }
            const auto pollStarted = SteadyClock::now();
            const bool answered = bool(api.getSystemDateAndTime());
            wentAway = wentAway || !answered;
            if (answered && (wentAway || elapsedMs >= expected * 1000LL)) {
                report(0, -1, 100);
                finish(true, proto::Ok);
                return;
            }
            if (elapsedMs >= limit * 1000LL) {
                finish(false, proto::Timeout);
                return;
            }
            std::this_thread::sleep_until(pollStarted + milliseconds(kPollIntervalMs));
        }
    }
};

} // namespace

int runningUpgrades()
{
    return g_running;
}

int32_t upgrade(int32_t handle, const char *path, NetSdkProgressCallback callback, void *user,
    int32_t *refusal)
{
    *refusal = proto::InvalidArgument;
    if (!path || !*path)
        return 0;
    const auto session = findSession(handle);
    if (!session) {
        *refusal = proto::InvalidHandle;
        return 0;
    }
    std::FILE *file = std::fopen(path, "rb");
    if (!file)
        return 0;
    const bool seekable = std::fseek(file, 0, SEEK_END) == 0;
    const long size = seekable ? std::ftell(file) : -1;
    std::fclose(file);
    if (size < 0 || uint64_t(size) > uint64_t(INT32_MAX))
        return 0;
    if (session->upgrading.exchange(true)) {
        *refusal = NETSDK_UPGRADE_ERR_BUSY;
        return 0;
    }
    auto job = std::make_unique<Job>(Job {session, session->api, {}, path, uint64_t(size), UpgradeReporter {callback, user}});
    {
        std::lock_guard<std::mutex> lock(session->mutex);
        if (!session->context.services.firmwareUpload) {
            session->upgrading = false;
            *refusal = NETSDK_ERR_NOT_SUPPORTED;
            return 0;
        }
        session->api.setTimeoutMs(kStartTimeoutMs);
        auto started = session->api.startFirmwareUpgrade();
        session->api.setTimeoutMs(5000);
        if (!started) {
            session->upgrading = false;
            *refusal = codeFor(started.failure());
            return 0;
        }
        job->upload = started.value();
        job->api = session->api;
    }
    if (hostRefused(onvif::parseHttpUrl(job->upload.uploadUri).value_or(onvif::HttpUrl {}).host)) {
        session->upgrading = false;
        *refusal = proto::InvalidArgument;
        return 0;
    }
    *refusal = 0;
    ++g_running;
    // Detached like the own protocol's upgrade: the job owns what it uses
    // and touches nothing of the caller's after its final callback.
    std::thread([j = std::move(job)] {
        j->run();
        --g_running;
    }).detach();
    return 1;
}

} // namespace scoutrix::netsdk::onvifbackend
