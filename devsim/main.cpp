// scoutrix-devsim: a fleet of emulated devices on loopback.

#include <signal.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "Emulator.h"
#include "FirmwareFile.h"
#include "Fleet.h"
#include "Net.h"
#include "Protocol.h"

using namespace scoutrix;

namespace {

const char *const kUsage
    = "usage: scoutrix-devsim [options]\n"
      "  --devices N           a generated fleet of N devices (1..256) instead of the default two "
      "dozen\n"
      "  --onvif N             N of the generated devices are ONVIF cameras (127.0.30.x, port 80;\n"
      "                        with --devices; alone: N ONVIF cameras)\n"
      "  --fleet FILE          devices from a JSON fleet file\n"
      "  --discovery HOST:PORT where search probes are heard (repeatable; default "
      "127.0.0.1:39500;\n"
      "                        port 0 takes a free one, printed at start)\n"
      "  --fault WHO:FAULTS    inject faults; WHO is a device number (1..), a MAC text or 'all';\n"
      "                        FAULTS e.g. "
      "delay_ms=300,drop_answers=1,duplicate_answers,empty_mac,\n"
      "                        timeout,need_reboot,busy,refuse_set,malformed=magic|oversize|truncate,\n"
      "                        power_loss_at_percent=50\n"
      "  --state-file FILE     keep address and configuration changes across restarts\n"
      "  --ready-file FILE     written once every device listens\n"
      "  --ephemeral-ports     let the system choose each device's service port\n"
      "  --write-fleet FILE    write the fleet as JSON and exit (a start for a fleet file)\n"
      "  --list                print the fleet and exit\n"
      "  --write-firmware FILE --model MODEL --version TEXT [--size BYTES] [--build DATE]\n"
      "                        write a firmware file for the emulated devices and exit;\n"
      "                        --model repeats or takes a comma list; BYTES of filler\n"
      "                        payload (default 1048576); DATE \"YYYY-MM-DD[ hh:mm:ss]\"\n"
      "                        (default now)\n"
      "  --verbose             log refused frames, address changes and reboots\n";

int writeFirmware(const std::string &path, const std::vector<std::string> &models,
    const std::string &version, const std::string &sizeText, const std::string &buildText)
{
    firmware::Header h;
    h.models = models;
    h.version = version;
    char *end = nullptr;
    const unsigned long long size = std::strtoull(sizeText.c_str(), &end, 10);
    if (sizeText.empty() || *end || sizeText[0] == '-' || size > (1ull << 30)) {
        std::cerr << "scoutrix-devsim: --size takes 0 to 1073741824 bytes\n";
        return 2;
    }
    if (buildText.empty()) {
        const std::time_t t = std::time(nullptr);
        std::tm tm {};
        localtime_r(&t, &tm);
        const int now[6] = { tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
            tm.tm_sec };
        std::copy(now, now + 6, h.build);
    } else {
        int b[6] = { 0, 0, 0, 0, 0, 0 };
        char tail = 0;
        const int n = std::sscanf(buildText.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &b[0], &b[1], &b[2],
            &b[3], &b[4], &b[5], &tail);
        if (n != 3 && n != 6) {
            std::cerr << "scoutrix-devsim: --build is \"YYYY-MM-DD\" or \"YYYY-MM-DD hh:mm:ss\"\n";
            return 2;
        }
        std::copy(b, b + 6, h.build);
    }
    std::string error;
    if (!firmware::writeFile(path, h, firmware::fillerPayload(std::size_t(size)), error)) {
        std::cerr << "scoutrix-devsim: " << error << "\n";
        return 1;
    }
    std::cout << path << ": firmware " << version << " for";
    for (const std::string &m : models)
        std::cout << " " << m;
    std::cout << ", " << size << " bytes of payload, built " << h.buildText() << std::endl;
    return 0;
}

int usageError(const std::string &what)
{
    std::cerr << "scoutrix-devsim: " << what << "\n" << kUsage;
    return 2;
}

void printFleet(const devsim::Fleet &f)
{
    std::printf("%-4s %-18s %-13s %-5s %-5s %-3s %-12s %-16s %-6s %s\n", "#", "MAC", "serial",
        "type", "proto", "ch", "model", "address", "port", "build");
    for (std::size_t i = 0; i < f.devices.size(); ++i) {
        const devsim::DeviceSpec &d = f.devices[i];
        std::printf("%-4zu %-18s %-13s %-5s %-5s %-3d %-12s %-16s %-6u %04d-%02d-%02d\n", i + 1,
            d.mac.c_str(), d.serial.c_str(), devsim::deviceTypeText(d.type),
            devsim::protocolText(d.protocol), d.channels,
            d.model.c_str(), net::ipv4Text(d.ip).c_str(), unsigned(d.port), d.build[0], d.build[1],
            d.build[2]);
    }
}

} // namespace

int main(int argc, char **argv)
{
    int devices = 0;
    int onvifDevices = -1;
    std::string fleetFile, readyFile, stateFile, writeFleet;
    std::string firmwareFile, firmwareVersion, firmwareSize = "1048576", firmwareBuild;
    std::vector<std::string> firmwareModels;
    std::vector<std::pair<std::string, std::string>> faults;
    devsim::EmulatorOptions options;
    bool list = false, verbose = false;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--devices") {
            if (!value(v))
                return usageError("--devices needs a number");
            char *end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (*end || n < 1 || n > devsim::MaxFleetDevices)
                return usageError("--devices takes 1 to 256");
            devices = int(n);
        } else if (a == "--onvif") {
            if (!value(v))
                return usageError("--onvif needs a number");
            char *end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (*end || n < 0 || n > devsim::MaxFleetDevices)
                return usageError("--onvif takes 0 to 256");
            onvifDevices = int(n);
        } else if (a == "--fleet") {
            if (!value(fleetFile))
                return usageError("--fleet needs a file");
        } else if (a == "--discovery") {
            net::Endpoint e;
            if (!value(v) || !net::parseEndpoint(v, e, true))
                return usageError("--discovery takes an IPv4 HOST:PORT");
            if (!net::isLoopback(e.address))
                return usageError("--discovery must be a loopback address (127.x.y.z)");
            options.discovery.push_back(e);
        } else if (a == "--fault") {
            if (!value(v) || v.find(':') == std::string::npos)
                return usageError("--fault takes WHO:FAULTS");
            // A MAC text holds colons itself: the faults follow the last one.
            const auto colon = v.rfind(':');
            faults.emplace_back(v.substr(0, colon), v.substr(colon + 1));
        } else if (a == "--state-file") {
            if (!value(stateFile))
                return usageError("--state-file needs a file");
        } else if (a == "--ready-file") {
            if (!value(readyFile))
                return usageError("--ready-file needs a file");
        } else if (a == "--write-fleet") {
            if (!value(writeFleet))
                return usageError("--write-fleet needs a file");
        } else if (a == "--ephemeral-ports") {
            options.ephemeralPorts = true;
        } else if (a == "--write-firmware") {
            if (!value(firmwareFile))
                return usageError("--write-firmware needs a file");
        } else if (a == "--model") {
            if (!value(v))
                return usageError("--model needs a model text");
            std::size_t from = 0;
            while (from <= v.size()) {
                const std::size_t comma = std::min(v.find(',', from), v.size());
                if (comma > from)
                    firmwareModels.push_back(v.substr(from, comma - from));
                from = comma + 1;
            }
        } else if (a == "--version") {
            if (!value(firmwareVersion))
                return usageError("--version needs a text");
        } else if (a == "--size") {
            if (!value(firmwareSize))
                return usageError("--size needs a number of bytes");
        } else if (a == "--build") {
            if (!value(firmwareBuild))
                return usageError("--build needs a date");
        } else if (a == "--list") {
            list = true;
        } else if (a == "--verbose") {
            verbose = true;
        } else {
            return usageError("unknown option " + a);
        }
    }
    if (!firmwareFile.empty()) {
        if (firmwareModels.empty() || firmwareVersion.empty())
            return usageError("--write-firmware needs --model and --version");
        return writeFirmware(firmwareFile, firmwareModels, firmwareVersion, firmwareSize, firmwareBuild);
    }
    if (!firmwareModels.empty() || !firmwareVersion.empty())
        return usageError("--model and --version go with --write-firmware");
    if (devices && !fleetFile.empty())
        return usageError("--devices and --fleet exclude each other");
    if (onvifDevices >= 0 && !fleetFile.empty())
        return usageError("--onvif and --fleet exclude each other (give \"protocol\" in the file)");
    if (onvifDevices >= 0 && devices && onvifDevices > devices)
        return usageError("--onvif takes at most as many devices as --devices");
    if (onvifDevices == 0 && !devices)
        return usageError("--onvif 0 needs --devices");

    devsim::Fleet fleet;
    std::string error;
    if (!fleetFile.empty()) {
        if (!devsim::loadFleetFile(fleetFile, fleet, error)) {
            std::cerr << "scoutrix-devsim: " << error << "\n";
            return 1;
        }
    } else {
        if (onvifDevices >= 0)
            fleet = devsim::generatedFleet(devices ? devices : onvifDevices, onvifDevices);
        else
            fleet = devices ? devsim::generatedFleet(devices) : devsim::defaultFleet();
    }
    for (const auto &f : faults) {
        std::vector<std::size_t> targets;
        if (f.first == "all") {
            for (std::size_t i = 0; i < fleet.devices.size(); ++i)
                targets.push_back(i);
        } else {
            char *end = nullptr;
            const long n = std::strtol(f.first.c_str(), &end, 10);
            if (!f.first.empty() && !*end && n >= 1 && std::size_t(n) <= fleet.devices.size()) {
                targets.push_back(std::size_t(n - 1));
            } else {
                for (std::size_t i = 0; i < fleet.devices.size(); ++i) {
                    if (fleet.devices[i].mac == f.first)
                        targets.push_back(i);
                }
            }
        }
        if (targets.empty())
            return usageError("--fault: no device \"" + f.first + "\"");
        for (const std::size_t t : targets) {
            if (!devsim::parseFaults(f.second, fleet.devices[t].faults, error))
                return usageError("--fault: " + error);
        }
    }
    if (list) {
        printFleet(fleet);
        return 0;
    }
    if (!writeFleet.empty()) {
        if (!devsim::writeFileAtomically(
                writeFleet, devsim::fleetToJson(fleet).dump(2) + "\n", error)) {
            std::cerr << "scoutrix-devsim: " << error << "\n";
            return 1;
        }
        return 0;
    }

    std::mutex logMutex;
    if (verbose) {
        options.log = [&logMutex](const std::string &line) {
            std::lock_guard<std::mutex> lock(logMutex);
            const std::time_t t = std::time(nullptr);
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&t));
            std::cerr << stamp << " " << line << "\n";
        };
    }
    options.stateFile = stateFile;

    // Signals are taken by sigwait below, not by a handler racing the threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    devsim::Emulator emulator(fleet, options);
    if (!emulator.start(error)) {
        std::cerr << "scoutrix-devsim: " << error << "\n";
        return 1;
    }
    std::string endpoints;
    for (const net::Endpoint &e : emulator.discoveryEndpoints())
        endpoints += (endpoints.empty() ? "" : ",") + net::endpointText(e);
    std::cout << "scoutrix-devsim: " << emulator.deviceCount() << " devices, discovery on "
              << endpoints << std::endl;
    if (!readyFile.empty()) {
        const std::string content = "discovery=" + endpoints
            + "\ndevices=" + std::to_string(emulator.deviceCount()) + "\n";
        if (!devsim::writeFileAtomically(readyFile, content, error)) {
            std::cerr << "scoutrix-devsim: " << error << "\n";
            return 1;
        }
    }
    int sig = 0;
    sigwait(&signals, &sig);
    emulator.stop();
    return 0;
}
