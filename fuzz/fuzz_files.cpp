// libFuzzer target: the emulator's files, read through the functions the
// emulator itself calls. The first byte chooses: a fleet file (loadFleetFile),
// or a state file read by Emulator::start over a small generated fleet. The
// emulator listens only on loopback with system-chosen ports and sends nothing.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "ConfigRecords.h"
#include "DeviceModel.h"
#include "Emulator.h"
#include "Fleet.h"

using namespace scoutrix;

namespace {

std::string tempPath(const char *what)
{
    std::string path = "/tmp/scoutrix-fuzz-" + std::string(what) + "-XXXXXX";
    const int fd = ::mkstemp(&path[0]);
    if (fd < 0)
        std::abort();
    ::close(fd);
    return path;
}

void writeAll(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        std::abort();
}

void fleetFile(const uint8_t *data, size_t size)
{
    static const std::string path = tempPath("fleet");
    writeAll(path, data, size);
    devsim::Fleet fleet;
    std::string error;
    if (!devsim::loadFleetFile(path, fleet, error)) {
        if (error.empty())
            __builtin_trap(); // a refusal always says why
        return;
    }
    if (devsim::validateFleet(fleet, error)) {
        for (const devsim::DeviceSpec &d : fleet.devices) {
            if (d.mac.size() > 34 || d.serial.size() > 63 || d.model.size() > 31)
                __builtin_trap();
        }
    }
}

void stateFile(const uint8_t *data, size_t size)
{
    static const std::string path = tempPath("state");
    static const devsim::Fleet fleet = devsim::withVerifiers(devsim::generatedFleet(2));
    writeAll(path, data, size);
    devsim::EmulatorOptions o;
    o.discovery.push_back(net::Endpoint { 0x7f000001u, 0 });
    o.ephemeralPorts = true;
    o.stateFile = path;
    o.log = [](const std::string &) {};
    devsim::Emulator emu(fleet, o);
    std::string error;
    if (!emu.start(error))
        return;
    // Restored records are served as they are; each must still be whole.
    for (int i = 0; i < emu.deviceCount(); ++i) {
        for (const int32_t command : { CmdEncodeTable, CmdVideoStandard, CmdDeviceInfo }) {
            std::vector<uint8_t> before;
            if (!emu.record(i, command, -1, before))
                continue;
            std::vector<uint8_t> fresh;
            devsim::DeviceModel model(fleet.devices[std::size_t(i)]);
            if (model.getConfig(command, -1, fresh) == 0 && fresh.size() != before.size())
                __builtin_trap(); // a restored record of another size
        }
    }
    emu.stop();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1)
        stateFile(data + 1, size - 1);
    else
        fleetFile(data + 1, size - 1);
    return 0;
}
