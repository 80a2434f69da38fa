// Benchmark harness for the ONVIF backend: a search of a mixed fleet, and
// login plus the encode page's reads on ONVIF cameras, eight at once.
// Prints figures; docs/benchmarks.md records them.
//   bench_onvif [--devices N] [--onvif M] [--logins K] [--rounds R]

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

struct Timed
{
    bool ok = false;
    double loginMs = 0;
    double readMs = 0;
};

// What the encode page reads after a login: capabilities, table, standard,
// device information, resolution list.
Timed loginAndReadEncode(const devsim::DeviceSnapshot &d)
{
    Timed t;
    LoginInfo info;
    int32_t err = 0;
    const auto start = Clock::now();
    const int32_t h = NetSdk_Login(
        net::ipv4Text(d.ip).c_str(), d.port, "admin", "739204", &info, 1, &err, 0, 0);
    t.loginMs = msSince(start);
    if (h <= 0)
        return t;
    static const struct
    {
        int32_t command, channel, size;
    } reads[] = { { CmdEncodeCaps, -1, 4692 }, { CmdEncodeTable, -1, 25344 },
        { CmdVideoStandard, -1, 192 }, { CmdDeviceInfo, 0, 408 }, { CmdResolutionList, -1, 1280 } };
    std::vector<uint8_t> buf(25344);
    bool ok = true;
    const auto read = Clock::now();
    for (const auto &r : reads) {
        int32_t got = 0;
        ok = ok && NetSdk_GetConfig(h, r.command, r.channel, buf.data(), r.size, &got, 3000) == 0
            && got == r.size;
    }
    t.readMs = msSince(read);
    NetSdk_Logout(h);
    t.ok = ok;
    return t;
}

void report(const char *what, std::vector<double> times, int ok, int total)
{
    if (times.empty())
        return;
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    const double p95 = times[std::min(times.size() - 1, std::size_t(double(times.size()) * 0.95))];
    std::printf("%-46s %4d/%-4d mean %8.1f ms  median %8.1f  p95 %8.1f  max %8.1f\n", what, ok,
        total, sum / double(times.size()), times[times.size() / 2], p95, times.back());
}

} // namespace

int main(int argc, char **argv)
{
    int devices = 256, onvif = 128, logins = 64, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--devices"))
            devices = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--onvif"))
            onvif = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--logins"))
            logins = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
    }
    std::string error;
    const auto startEmu = Clock::now();
    const auto emu = fixture::start(devsim::generatedFleet(devices, onvif), std::string(), &error);
    if (!emu) {
        std::fprintf(stderr, "bench_onvif: %s\n", error.c_str());
        return 1;
    }
    std::printf("%d emulated devices (%d ONVIF) on loopback, started in %.0f ms, %u hardware threads\n",
        emu->deviceCount(), onvif, msSince(startEmu), std::thread::hardware_concurrency());

    std::vector<double> times;
    int complete = 0, found = 0, onvifFound = 0;
    std::vector<char> buffer(2 * NETSDK_SEARCH_BUFFER_SIZE);
    for (int r = 0; r < rounds; ++r) {
        int32_t bytes = 0;
        const auto t = Clock::now();
        NetSdk_SearchDevice(buffer.data(), int32_t(buffer.size()), &bytes, 5000, 0);
        times.push_back(msSince(t));
        found = bytes / 312;
        onvifFound = 0;
        const auto *records = reinterpret_cast<const SearchRecord *>(buffer.data());
        for (int i = 0; i < found; ++i)
            onvifFound += NetSdk_DeviceProtocol(records[i].net.macText().c_str()) == 1;
        complete += found == emu->deviceCount();
    }
    report("mixed search (timeout 5000 ms)", times, complete, rounds);
    std::printf("%-46s %d per search, %d of them ONVIF\n", "  answers found", found, onvifFound);

    std::vector<devsim::DeviceSnapshot> cameras;
    for (int i = 0; i < emu->deviceCount() && int(cameras.size()) < logins; ++i) {
        const devsim::DeviceSnapshot d = emu->device(i);
        if (d.protocol == devsim::Protocol::Onvif)
            cameras.push_back(d);
    }
    std::vector<double> whole, loginTimes, readTimes;
    int ok = 0;
    for (int r = 0; r < rounds; ++r) {
        std::atomic<int> next { 0 }, good { 0 };
        std::vector<Timed> results(cameras.size());
        const auto t = Clock::now();
        std::vector<std::thread> workers;
        for (int w = 0; w < 8; ++w) {
            workers.emplace_back([&] {
                for (int i = next++; i < int(cameras.size()); i = next++) {
                    results[std::size_t(i)] = loginAndReadEncode(cameras[std::size_t(i)]);
                    good += results[std::size_t(i)].ok;
                }
            });
        }
        for (auto &w : workers)
            w.join();
        whole.push_back(msSince(t));
        ok += good == int(cameras.size());
        for (const Timed &x : results) {
            loginTimes.push_back(x.loginMs);
            readTimes.push_back(x.readMs);
        }
    }
    char label[96];
    std::snprintf(label, sizeof label, "login + encode reads, %zu ONVIF, 8 at once", cameras.size());
    report(label, whole, ok, rounds);
    report("  one login", loginTimes, int(loginTimes.size()), int(loginTimes.size()));
    report("  one device's five encode reads", readTimes, int(readTimes.size()), int(readTimes.size()));
    emu->stop();
    return 0;
}
