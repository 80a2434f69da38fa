// Benchmark harness for firmware transfer: N emulated devices (16 by
// default) each take one firmware file (32 MiB by default) at once over
// loopback. Writing on the device is set to take no time, so the figures
// measure the transfer (sealing, hashing, acknowledgements). Prints figures;
// docs/benchmarks.md records them.
// With --engine J the same devices go through the upgrade page's engine
// instead, at most J at once, each verified after its reboot: the figure is
// what an installer waits for, from the click to the last verified device.
//   bench_upgrade [--devices N] [--mib M] [--engine J]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "DeviceRecords.h"
#include "Emulator.h"
#include "FirmwareFile.h"
#include "NetSdk.h"
#include "NetSdkControl.h"
#include "UpgradeBatch.h"

using namespace scoutrix;
using Clock = std::chrono::steady_clock;

namespace {

struct Job
{
    Clock::time_point start;
    std::atomic<double> transferMs { 0 };
    std::atomic<double> doneMs { 0 };
    std::atomic<int> status { 1 };
    int32_t size = 0;
};

int32_t onProgress(int32_t, int32_t status, int32_t total, int32_t progress, void *user)
{
    auto *j = static_cast<Job *>(user);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - j->start).count();
    if (total > 0 && progress == total)
        j->transferMs = ms;
    if (progress == -1 || progress == -2) {
        j->doneMs = ms;
        j->status = progress == -1 ? 0 : status;
    }
    return 0;
}

// Every device through UpgradeBatch with |jobs| at once; prints the figures.
int runEngine(const devsim::Emulator &emu, const devsim::Fleet &fleet, const std::string &path, int jobs, int mib)
{
    netsdk::setDiscoveryTargets(emu.discoveryEndpoints());
    upgrade::UpgradeBatch batch;
    upgrade::UpgradeSettings s;
    s.jobs = jobs;
    s.comebackS = 60;
    s.pollMs = 100;
    s.searchTimeoutMs = 200;
    batch.setSettings(s);
    std::atomic<int> ok { 0 };
    QObject::connect(&batch, &upgrade::UpgradeBatch::deviceFinished, &batch,
                     [&](const upgrade::UpgradeOutcome &o) { ok += o.ok() ? 1 : 0; }, Qt::DirectConnection);
    QVector<upgrade::UpgradeTarget> targets;
    for (int i = 0; i < int(fleet.devices.size()); ++i) {
        const auto d = emu.device(i);
        upgrade::UpgradeTarget t;
        t.deviceIndex = i;
        t.mac = fleet.devices[std::size_t(i)].mac;
        t.ip = net::ipv4Text(d.ip);
        t.port = d.port;
        t.user = "admin";
        t.password = "739204";
        t.model = fleet.devices[std::size_t(i)].model;
        t.file = path;
        targets.append(t);
    }
    const auto start = Clock::now();
    batch.enqueue(targets);
    batch.waitForFinished();
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("engine, %d at once: %d of %d devices verified on the new version in %.0f ms (%.1f MiB/s sent in total)\n",
                jobs, ok.load(), targets.size(), wallMs, double(mib) * ok * 1000 / wallMs);
    return ok == targets.size() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    int devices = 16, mib = 32, engineJobs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--devices"))
            devices = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--mib"))
            mib = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--engine"))
            engineJobs = std::atoi(argv[i + 1]);
    }
    setenv("SCOUTRIX_NETSDK_LOOPBACK_ONLY", "1", 1);
    devsim::Fleet fleet = devsim::generatedFleet(devices);
    std::vector<std::string> models;
    for (auto &d : fleet.devices) {
        d.flashMs = 0;
        d.rebootMs = 100;
        models.push_back(d.model);
    }
    std::sort(models.begin(), models.end());
    models.erase(std::unique(models.begin(), models.end()), models.end());
    const std::string path = "/tmp/bench_upgrade_" + std::to_string(::getpid()) + ".bin";
    firmware::Header h;
    h.models = models;
    h.version = "V9.9.9 bench";
    std::string why;
    if (!firmware::writeFile(path, h, firmware::fillerPayload(std::size_t(mib) << 20), why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    devsim::EmulatorOptions o;
    o.discovery.push_back(net::Endpoint { 0x7f000001u, 0 });
    o.ephemeralPorts = true;
    devsim::Emulator emu(fleet, o);
    if (!emu.start(why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    if (engineJobs > 0) {
        const int r = runEngine(emu, fleet, path, engineJobs, mib);
        std::remove(path.c_str());
        emu.stop();
        return r;
    }
    std::vector<int32_t> handles;
    for (int i = 0; i < devices; ++i) {
        const auto d = emu.device(i);
        LoginInfo info;
        int32_t err = 0;
        handles.push_back(NetSdk_Login(net::ipv4Text(d.ip).c_str(), d.port, "admin", "739204", &info, 1, &err, 0, 0));
    }
    std::vector<Job> jobs(static_cast<std::size_t>(devices));
    const auto start = Clock::now();
    for (int i = 0; i < devices; ++i) {
        jobs[std::size_t(i)].start = Clock::now();
        if (!NetSdk_Upgrade(handles[std::size_t(i)], path.c_str(), 0, onProgress, &jobs[std::size_t(i)], 0))
            jobs[std::size_t(i)].status = netsdk::lastUpgradeRefusal();
    }
    while (netsdk::runningUpgrades() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::remove(path.c_str());
    const double fileMiB = double(std::size_t(mib) << 20) / (1 << 20);
    double slowest = 0, fastest = 1e30, sum = 0;
    int ok = 0;
    for (const Job &j : jobs) {
        if (j.status != 0)
            continue;
        ++ok;
        const double t = j.transferMs;
        slowest = std::max(slowest, t);
        fastest = std::min(fastest, t);
        sum += t;
    }
    std::printf("devices %d, file %d MiB, succeeded %d\n", devices, mib, ok);
    if (ok) {
        std::printf("transfer per device: mean %.0f ms (%.1f MiB/s), fastest %.0f ms, slowest %.0f ms\n",
            sum / ok, fileMiB * 1000 / (sum / ok), fastest, slowest);
        std::printf("all %d files: %.0f ms to the last final callback, %.1f MiB/s in total\n", ok, wallMs,
            fileMiB * ok * 1000 / wallMs);
    }
    for (const int32_t hd : handles)
        NetSdk_Logout(hd);
    emu.stop();
    return ok == devices ? 0 : 1;
}
