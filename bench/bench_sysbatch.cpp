// Benchmark harness for the system page's batch engine: an NTP save over
// emulated devices on loopback, one device at a time and with the default
// pool. Prints figures; docs/benchmarks.md records them.
//   bench_sysbatch [--devices 256] [--rounds 3]

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ActivityLog.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "NetSdk.h"
#include "NetSdkControl.h"
#include "SystemBatch.h"
#include "SystemItems.h"

using namespace scoutrix;
using namespace scoutrix::syscfg;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures
{
    std::vector<double> ms;
    int ok = 0, total = 0;
};

void report(const char *what, Figures &f)
{
    std::sort(f.ms.begin(), f.ms.end());
    double sum = 0;
    for (double t : f.ms)
        sum += t;
    std::printf("%-40s %5d/%-5d mean %8.1f ms  min %8.1f  max %8.1f\n", what, f.ok, f.total,
                sum / double(f.ms.size()), f.ms.front(), f.ms.back());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int devices = 256, rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--devices"))
            devices = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
    }
    // The batch writes every change to the activity log, as it does for the
    // installer; here into a folder of its own.
    QTemporaryDir logDir;
    ActivityLog::instance().setDirectory(logDir.path());

    std::string error;
    const auto emu = fixture::start(devsim::generatedFleet(devices), std::string(), &error);
    if (!emu) {
        std::fprintf(stderr, "bench_sysbatch: %s\n", error.c_str());
        return 1;
    }
    NetSdk_Init(0, 0);
    std::printf("%d emulated devices on loopback, %u hardware threads\n", emu->deviceCount(),
                std::thread::hardware_concurrency());

    QVector<BatchTarget> targets;
    for (int i = 0; i < emu->deviceCount(); ++i) {
        const devsim::DeviceSnapshot d = emu->device(i);
        BatchTarget t;
        t.deviceIndex = i;
        t.mac = d.mac;
        t.ip = net::ipv4Text(d.ip);
        t.port = d.port;
        t.user = "admin";
        t.password = "739204";
        t.serial = d.serial;
        t.model = "bench";
        targets.append(t);
    }

    ItemRequest req;
    req.item = Item::Ntp;
    parseNtp(true, QStringLiteral("ntp.example"), QStringLiteral("123"), QStringLiteral("60"),
             timeZoneIndex(QStringLiteral("UTC+05:45")), req.ntp);

    for (int jobs : { 1, SystemBatch::DefaultJobs }) {
        Figures f;
        for (int r = 0; r < rounds; ++r) {
            SystemBatch batch;
            batch.setJobs(jobs);
            std::atomic<int> ok { 0 };
            QObject::connect(&batch, &SystemBatch::deviceFinished, &batch, [&](const DeviceOutcome &out) {
                if (out.code == 0)
                    ++ok;
            }, Qt::DirectConnection);
            const auto t = Clock::now();
            batch.start(req, targets);
            batch.waitForFinished();
            f.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
            f.ok += ok;
            f.total += targets.size();
        }
        const std::string what = "NTP save, --jobs " + std::to_string(jobs);
        report(what.c_str(), f);
    }
    return 0;
}
