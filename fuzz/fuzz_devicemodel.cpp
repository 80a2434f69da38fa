// libFuzzer target: one emulated device's model driven by arbitrary requests,
// each passed through the same frame codecs a session uses. Gets and sets of
// every command (known or not) with arbitrary or lightly mutated records,
// configuration images (export, damage, import), restores of defaults, sets
// without login, logins and lockouts.
//
// What must hold: a set the device accepts reads back byte for byte; a set it
// refuses changes nothing; what a device reads out it takes back unchanged;
// an image it exported it takes back, and one it refuses changes nothing.

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ConfigRecords.h"
#include "DeviceModel.h"
#include "Fleet.h"
#include "Protocol.h"

using namespace scoutrix;
using devsim::DeviceModel;

namespace {

const int32_t kCommands[] = { CmdEncodeCaps, CmdDeviceInfo, CmdVideoStandard, CmdEncodeTable,
    CmdNetWithoutLogin, CmdResolutionList, CmdOsd, CmdChannelNames, CmdRestoreDefaults, CmdDhcp, CmdNtp,
    CmdSystemTime, CmdConfigExport, CmdConfigImport, CmdOnvif, CmdTimeZone, CmdLightCaps, CmdLightMode, 0,
    1, 21, 99, -1 };

// Actions: a set does something, and there is nothing to read back.
bool isAction(int32_t command)
{
    return command == CmdRestoreDefaults || command == CmdConfigImport;
}

std::vector<uint8_t> exported(const DeviceModel &m)
{
    std::vector<uint8_t> image;
    if (m.getConfig(CmdConfigExport, -1, image) != proto::Ok || image.empty()
        || image.size() > std::size_t(ConfigImageMax))
        __builtin_trap(); // every device exports, within 64 KiB
    return image;
}

int32_t pickCommand(FuzzedDataProvider &in)
{
    if (in.ConsumeBool())
        return in.PickValueInArray(kCommands);
    return in.ConsumeIntegral<int32_t>();
}

int32_t pickChannel(FuzzedDataProvider &in)
{
    if (in.ConsumeBool())
        return in.ConsumeIntegralInRange<int32_t>(-1, 33);
    return in.ConsumeIntegral<int32_t>();
}

// What the session hands the model for a get: the request through its codec.
int32_t sessionGet(DeviceModel &m, int32_t command, int32_t channel, std::vector<uint8_t> &out)
{
    proto::ConfigRequest req;
    if (!proto::decodeGetConfig(proto::encodeGetConfig(command, channel), req))
        __builtin_trap();
    proto::GetConfigReply reply;
    reply.result = m.getConfig(req.command, req.channel, reply.data);
    proto::GetConfigReply back;
    if (!proto::decode(proto::encode(reply), back) || back.data != reply.data)
        __builtin_trap();
    out = back.data;
    return back.result;
}

int32_t sessionSet(DeviceModel &m, int32_t command, int32_t channel, const std::vector<uint8_t> &data)
{
    proto::ConfigRequest req;
    if (!proto::decodeSetConfig(proto::encodeSetConfig(command, channel, data.data(), data.size()), req)
        || req.data != data)
        __builtin_trap();
    return m.setConfig(req.command, req.channel, req.data);
}

// The record to send: arbitrary bytes, or the current one with a few bytes changed,
// which is what reaches the checks behind the size test.
std::vector<uint8_t> recordToSend(FuzzedDataProvider &in, DeviceModel &m, int32_t command, int32_t channel)
{
    std::vector<uint8_t> current;
    if (in.ConsumeBool() || sessionGet(m, command, channel, current) != proto::Ok)
        return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
    const int edits = in.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < edits && !current.empty(); ++i) {
        const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, current.size() - 1);
        current[at] = in.ConsumeIntegral<uint8_t>();
    }
    return current;
}

void checkSet(FuzzedDataProvider &in, DeviceModel &m)
{
    const int32_t command = pickCommand(in), channel = pickChannel(in);
    const std::vector<uint8_t> data = recordToSend(in, m, command, channel);
    std::vector<uint8_t> before, after;
    const int32_t hadIt = sessionGet(m, command, channel, before);
    const std::vector<uint8_t> imageBefore = exported(m);
    const bool wasNtsc = m.spec().ntsc;
    const uint32_t ipBefore = m.spec().ip;
    const int32_t r = sessionSet(m, command, channel, data);
    sessionGet(m, command, channel, after);
    if (r == proto::Ok || r == proto::NeedReboot) {
        if (!isAction(command) && after != data)
            __builtin_trap(); // accepted but reads back otherwise
    } else if (r == proto::Timeout) {
        // Only a restore of the network settings that moved the device.
        if (command != CmdRestoreDefaults || m.spec().ip == ipBefore)
            __builtin_trap();
    } else {
        if (r != proto::Fail && r != proto::NotSupported)
            __builtin_trap(); // a set answers only these
        if (hadIt == proto::Ok && after != before)
            __builtin_trap(); // refused, yet changed
        if (exported(m) != imageBefore || m.spec().ip != ipBefore)
            __builtin_trap(); // refused, yet changed something else
    }
    if (r != proto::NeedReboot && r != proto::Timeout && wasNtsc != m.spec().ntsc)
        __builtin_trap(); // a new video standard always asks for a restart
}

// A device takes back what it reads out, as a page that saves unchanged settings does.
// (Not across a change of video standard: the frame rates read before it may
// be over the new limit until the device restarts.)
void checkWriteBack(FuzzedDataProvider &in, DeviceModel &m, bool startedNtsc)
{
    if (m.spec().ntsc != startedNtsc)
        return;
    const int32_t command = in.PickValueInArray(kCommands), channel = pickChannel(in);
    std::vector<uint8_t> current;
    if (sessionGet(m, command, channel, current) != proto::Ok)
        return;
    const int32_t r = sessionSet(m, command, channel, current);
    if (r == proto::Fail) {
        std::fprintf(stderr, "command %d channel %d refused as read: %s\n", int(command),
            int(channel), m.lastRefusal().c_str());
        __builtin_trap();
    }
}

// An image the device exported goes back in whole; damaged, it is taken
// whole or refused whole.
void checkImage(FuzzedDataProvider &in, DeviceModel &m)
{
    std::vector<uint8_t> image = exported(m);
    const std::vector<uint8_t> original = image;
    const int edits = in.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < edits; ++i)
        image[in.ConsumeIntegralInRange<std::size_t>(0, image.size() - 1)] = in.ConsumeIntegral<uint8_t>();
    if (in.ConsumeBool())
        image.resize(in.ConsumeIntegralInRange<std::size_t>(0, std::size_t(ConfigImageMax)), 0);
    const int32_t r = sessionSet(m, CmdConfigImport, -1, image);
    const std::vector<uint8_t> after = exported(m);
    if (r == proto::Ok || r == proto::NeedReboot) {
        if (image == original && after != original)
            __builtin_trap(); // its own image must leave it as it was
    } else if (after != original) {
        __builtin_trap(); // refused, yet partly applied
    }
    if (edits == 0 && image.size() >= original.size() && r != proto::Ok && r != proto::NeedReboot) {
        std::fprintf(stderr, "own image refused: %s\n", m.lastRefusal().c_str());
        __builtin_trap(); // its own image, zero-filled, refused
    }
}

void checkSetNetwork(FuzzedDataProvider &in, DeviceModel &m)
{
    std::vector<uint8_t> record;
    if (in.ConsumeBool()) {
        const NetInfo n = m.netInfo();
        record.assign(reinterpret_cast<const uint8_t *>(&n), reinterpret_cast<const uint8_t *>(&n) + sizeof n);
        for (int i = in.ConsumeIntegralInRange<int>(0, 6); i > 0; --i)
            record[in.ConsumeIntegralInRange<std::size_t>(0, record.size() - 1)] = in.ConsumeIntegral<uint8_t>();
    } else {
        record = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 400));
    }
    proto::SetNoLoginRequest req;
    req.requestId = 1;
    req.command = CmdNetWithoutLogin;
    req.channel = -1;
    req.mac = m.spec().mac;
    req.record = record;
    proto::SetNoLoginRequest got;
    if (!proto::decode(proto::encode(req), got))
        return; // too large for one datagram: never reaches a device
    const uint32_t ip = m.spec().ip;
    const int32_t r = m.setNetwork(got.record);
    if (r != proto::Ok && m.spec().ip != ip)
        __builtin_trap(); // refused, yet moved
    if (r == proto::Ok
        && !DeviceModel::addressRefusal(m.spec().ip, m.spec().mask, m.spec().gateway).empty())
        __builtin_trap(); // took an address it would refuse
}

void checkLogin(FuzzedDataProvider &in, DeviceModel &m, DeviceModel::Clock::time_point &now)
{
    const std::string user
        = in.ConsumeBool() ? m.spec().users.front().name : in.ConsumeRandomLengthString(80);
    now += std::chrono::milliseconds(in.ConsumeIntegralInRange<int>(0, 60000));
    const std::string client = in.ConsumeBool() ? "127.0.0.1" : in.ConsumeRandomLengthString(20);
    const int32_t admit = m.admitUser(user, client, in.ConsumeIntegralInRange<int>(0, 20), now);
    const bool known = m.verifierOf(user) != nullptr;
    if (admit == proto::Ok && !known)
        __builtin_trap(); // admitted a user it has no verifier for
    if (admit == proto::Ok && m.isLocked(user, client, now))
        __builtin_trap(); // admitted a client its lock holds out
    if (in.ConsumeBool())
        m.wrongPassword(user, client, now);
    else
        m.rightPassword(user, client);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static const devsim::Fleet fleet = devsim::withVerifiers(devsim::generatedFleet(8));
    devsim::DeviceSpec spec = fleet.devices[in.ConsumeIntegralInRange<std::size_t>(0, 7)];
    // Channel counts stay the fleet's: the fleet check refuses the counts
    // whose defaults do not fit the device's budgets.
    spec.ntsc = in.ConsumeBool();
    spec.faults.needReboot = in.ConsumeBool();
    if (in.ConsumeBool()) {
        // Texts that fill or overrun their fields must still be cut to them.
        spec.model = in.ConsumeRandomLengthString(31);
        spec.serial = in.ConsumeRandomLengthString(63);
        spec.version = in.ConsumeRandomLengthString(80);
    }
    DeviceModel m(spec);
    // A still host clock: a clock set reads back exactly.
    m.setHostClock([] { return int64_t(1700000000); });
    const SearchRecord rec = m.searchRecord();
    if (rec.dev.modelText().size() > sizeof rec.dev.model || rec.dev.serialText().size() > sizeof rec.dev.serial
        || m.loginBlock().versionText().size() > LoginInfo::VersionTextSize)
        __builtin_trap();

    auto now = DeviceModel::Clock::time_point {} + std::chrono::hours(1);
    for (int steps = 0; steps < 64 && in.remaining_bytes() > 0; ++steps) {
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: {
            std::vector<uint8_t> out;
            sessionGet(m, pickCommand(in), pickChannel(in), out);
            break;
        }
        case 1:
            checkSet(in, m);
            break;
        case 2:
            checkWriteBack(in, m, spec.ntsc);
            break;
        case 3:
            checkSetNetwork(in, m);
            break;
        case 5:
            checkImage(in, m);
            break;
        default:
            checkLogin(in, m, now);
            break;
        }
    }
    return 0;
}
