// scoutrix-cli snapshot: one picture of a device's live stream, decoded by
// the player's own decoder and written as a PNG.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>

#include <QImage>

#include "CliSupport.h"
#include "H264Decoder.h"
#include "Net.h"
#include "NetSdk.h"
#include "Protocol.h"

namespace scoutrix::cli {

namespace {

// Fed on the SDK's stream thread; the command waits for the first picture.
struct Catch
{
    std::mutex mutex;
    std::condition_variable got;
    play::H264Decoder decoder;
    QImage picture;
    bool failed = false;
};

int32_t onData(int32_t, int32_t, char *data, int32_t length, void *user)
{
    auto *c = static_cast<Catch *>(user);
    std::lock_guard<std::mutex> lock(c->mutex);
    if (!c->picture.isNull() || c->failed || length <= 0)
        return 1;
    if (!c->decoder.feedAccessUnit(reinterpret_cast<const uint8_t *>(data), std::size_t(length),
                                   [c](play::DecodedFrame &&f) {
                                       if (c->picture.isNull())
                                           c->picture = std::move(f.image);
                                   }))
        c->failed = true;
    if (!c->picture.isNull() || c->failed)
        c->got.notify_all();
    return 1;
}

} // namespace

const char *const kSnapshotUsage
    = "  snapshot DEVICE --out F.png [--channel N] [--stream main|sub] [--port P]\n"
      "                                      the first whole picture of a live stream (DEVICE:\n"
      "                                      an IP, or a MAC text found by a search)\n";

int cmdSnapshot(const Args &a)
{
    if (a.positional.size() != 2)
        return fail(ExitUsage, std::string("snapshot takes one DEVICE\n") + kSnapshotUsage);
    const std::string out = a.get("out");
    if (out.empty())
        return fail(ExitUsage, "snapshot needs --out F.png");
    long channel = 0;
    if (a.has("channel") && !toInt(a.get("channel"), 0, 63, channel))
        return fail(ExitUsage, "--channel takes 0 to 63");
    const std::string stream = a.get("stream", "main");
    if (stream != "main" && stream != "sub")
        return fail(ExitUsage, "--stream takes main or sub");
    const int timeout = timeoutOf(a, 10000);
    if (timeout < 0)
        return fail(ExitUsage, "--timeout takes 1 to 600000 ms");

    std::string ip = a.positional[1];
    long port = proto::ServicePort;
    uint32_t ignored = 0;
    if (net::parseIpv4(ip, ignored)) {
        if (a.has("port") && !toInt(a.get("port"), 1, 65535, port))
            return fail(ExitUsage, "--port takes 1 to 65535");
    } else {
        std::vector<SearchRecord> found;
        std::vector<const SearchRecord *> chosen;
        if (const int r = chooseDevices(5000, false, { ip }, found, chosen))
            return r;
        ip = chosen.front()->net.ipText();
        port = chosen.front()->net.loginPort();
    }

    const std::string user = a.get("user", "admin");
    std::string password;
    if (!passwordFor(a, user, ip, password))
        return fail(ExitUsage, "no password read");
    LoginInfo info {};
    int32_t error = 0;
    const int32_t handle
        = loginAt(ip, uint16_t(port), user, password, info, error);
    if (handle <= 0)
        return fail(ExitLogin, "login to " + ip + " refused (" + std::to_string(error) + ")");

    uint8_t request[NETSDK_STREAM_REQUEST_SIZE] = {};
    const int32_t words[4] = { int32_t(channel), stream == "main" ? 0 : 1, 0, 0 };
    for (int i = 0; i < 4; ++i)
        writeLe32(request + 4 * i, uint32_t(words[i]));
    const int32_t streamHandle = NetSdk_StartRealStream(handle, request, 0);
    if (streamHandle <= 0) {
        NetSdk_Logout(handle);
        return fail(ExitFailed, "the device refused the stream (" + std::to_string(streamHandle) + ")");
    }
    Catch c;
    NetSdk_SetStreamCallback(streamHandle, onData, &c);
    bool got = false;
    {
        std::unique_lock<std::mutex> lock(c.mutex);
        got = c.got.wait_for(lock, std::chrono::milliseconds(timeout),
                             [&] { return !c.picture.isNull() || c.failed; });
    }
    // No callback runs after this returns, so |c| may go.
    NetSdk_ClearStreamCallback(streamHandle, onData, &c);
    NetSdk_StopRealStream(streamHandle);
    NetSdk_Logout(handle);
    if (!got)
        return fail(ExitTimeout, "no whole picture within " + std::to_string(timeout) + " ms");
    if (c.picture.isNull())
        return fail(ExitFailed, "the stream could not be decoded");
    if (!c.picture.save(QString::fromLocal8Bit(out.c_str()), "PNG"))
        return fail(ExitFile, "cannot write " + terminalText(out));
    std::cout << out << ": " << c.picture.width() << "x" << c.picture.height() << " from " << ip << " channel "
              << channel << " " << stream << "\n";
    return ExitOk;
}

} // namespace scoutrix::cli
