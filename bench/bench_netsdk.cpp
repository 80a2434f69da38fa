// Benchmark harness for the network SDK against 256 emulated devices on
// loopback. Prints figures; docs/benchmarks.md records them.
//   bench_netsdk [--devices N] [--rounds R]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ConfigRecords.h"
#include "DeviceRecords.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "NetSdk.h"
#include "NetSdkControl.h"

using namespace scoutrix;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// What the encode page reads after a login.
bool loginAndReadEncode(const devsim::DeviceSnapshot &d)
{
    LoginInfo info;
    int32_t err = 0;
    const int32_t h = NetSdk_Login(
        net::ipv4Text(d.ip).c_str(), d.port, "admin", "739204", &info, 1, &err, 0, 0);
    if (h <= 0)
        return false;
    static const struct
    {
        int32_t command, channel, size;
    } reads[] = { { CmdEncodeCaps, -1, 4692 }, { CmdEncodeTable, -1, 25344 },
        { CmdVideoStandard, -1, 192 }, { CmdDeviceInfo, 0, 408 }, { CmdResolutionList, -1, 1280 } };
    std::vector<uint8_t> buf(25344);
    bool ok = true;
    for (const auto &r : reads) {
        int32_t got = 0;
        ok = ok && NetSdk_GetConfig(h, r.command, r.channel, buf.data(), r.size, &got, 1000) == 0
            && got == r.size;
    }
    NetSdk_Logout(h);
    return ok;
}

void report(const char *what, std::vector<double> &times, int ok, int total)
{
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    std::printf("%-44s %4d/%-4d mean %8.1f ms  min %8.1f  max %8.1f\n", what, ok, total,
        sum / double(times.size()), times.front(), times.back());
}

} // namespace

int main(int argc, char **argv)
{
    int devices = 256, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--devices"))
            devices = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
    }
    std::string error;
    const auto emu = fixture::start(devsim::generatedFleet(devices), std::string(), &error);
    if (!emu) {
        std::fprintf(stderr, "bench_netsdk: %s\n", error.c_str());
        return 1;
    }
    std::printf("%d emulated devices on loopback, %u hardware threads\n", emu->deviceCount(),
        std::thread::hardware_concurrency());

    std::vector<double> times;
    int found = 0, complete = 0;
    std::vector<char> buffer(NETSDK_SEARCH_BUFFER_SIZE);
    for (int r = 0; r < rounds; ++r) {
        int32_t bytes = 0;
        const auto t = Clock::now();
        NetSdk_SearchDevice(buffer.data(), int32_t(buffer.size()), &bytes, 5000, 0);
        times.push_back(msSince(t));
        found = bytes / 312;
        complete += found == emu->deviceCount();
    }
    report("search (timeout 5000 ms), time to return", times, complete, rounds);
    std::printf("%-44s %d per search\n", "  answers found", found);

    // With room left in the buffer the search ends on the answer window and the quiet rule.
    times.clear();
    complete = 0;
    std::vector<char> roomy(2 * NETSDK_SEARCH_BUFFER_SIZE);
    for (int r = 0; r < rounds; ++r) {
        int32_t bytes = 0;
        const auto t = Clock::now();
        NetSdk_SearchDevice(roomy.data(), int32_t(roomy.size()), &bytes, 5000, 0);
        times.push_back(msSince(t));
        complete += bytes / 312 == emu->deviceCount();
    }
    report("search, buffer with room to spare", times, complete, rounds);

    std::vector<devsim::DeviceSnapshot> fleet;
    for (int i = 0; i < emu->deviceCount(); ++i)
        fleet.push_back(emu->device(i));

    times.clear();
    int ok = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto t = Clock::now();
        int good = 0;
        for (const auto &d : fleet)
            good += loginAndReadEncode(d);
        times.push_back(msSince(t));
        ok += good == int(fleet.size());
    }
    report("login + encode reads, all devices, 1 thread", times, ok, rounds);

    times.clear();
    ok = 0;
    for (int r = 0; r < rounds; ++r) {
        std::atomic<int> next { 0 }, good { 0 };
        const auto t = Clock::now();
        std::vector<std::thread> workers;
        for (int w = 0; w < 8; ++w) {
            workers.emplace_back([&] {
                for (int i = next++; i < int(fleet.size()); i = next++)
                    good += loginAndReadEncode(fleet[std::size_t(i)]);
            });
        }
        for (auto &w : workers)
            w.join();
        times.push_back(msSince(t));
        ok += good == int(fleet.size());
    }
    report("login + encode reads, all devices, 8 threads", times, ok, rounds);
    emu->stop();

    // The default fleet of about two dozen devices: the search the program
    // makes at start-up, once as it is and once with three devices that
    // answer 500 ms late.
    for (const int late : { 0, 500 }) {
        devsim::Fleet fleet = devsim::ownProtocolDevices(devsim::defaultFleet());
        if (late) {
            for (std::size_t i : { std::size_t(1), std::size_t(6), fleet.devices.size() - 1 })
                fleet.devices[i].faults.delayMs = late;
        }
        const auto small = fixture::start(fleet, std::string(), &error);
        if (!small) {
            std::fprintf(stderr, "bench_netsdk: %s\n", error.c_str());
            return 1;
        }
        times.clear();
        complete = 0;
        for (int r = 0; r < rounds; ++r) {
            int32_t bytes = 0;
            const auto t = Clock::now();
            NetSdk_SearchDevice(buffer.data(), int32_t(buffer.size()), &bytes, 5000, 0);
            times.push_back(msSince(t));
            complete += bytes / 312 == small->deviceCount();
        }
        char label[64];
        std::snprintf(label, sizeof label, "search, default fleet (%d)%s", small->deviceCount(),
            late ? ", 3 devices 500 ms late" : "");
        report(label, times, complete, rounds);
    }
    return 0;
}
