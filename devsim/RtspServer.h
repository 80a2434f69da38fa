#pragma once
// An emulated camera's RTSP service: the same test scene and encoder as its
// live streams (SceneEncoder), served as RTP/AVP over the RTSP connection
// (TCP interleaved only) by gstreamer's RTSP server. Paths are
// /ch<channel>/main and /ch<channel>/sub, channels counted from 0. A path's
// encoder runs from a client's DESCRIBE until its last client has left;
// every client of a path gets the same pictures. With users given, every
// request needs Digest or Basic authentication as one of them.
//
// The server runs on a thread of its own with its own GMainContext; stop()
// (or the destructor) closes every client and returns once the encoders and
// that thread have ended.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LiveStream.h"

namespace scoutrix::devsim {

class Emulator;
struct DeviceSpec;

struct RtspMount
{
    std::string path; // "/ch0/main"
    LiveStreamFormat format;
};

struct RtspUser
{
    std::string name;
    std::string password;
};

struct RtspServerOptions
{
    uint32_t address = 0x7f000001u; // host order; loopback only
    uint16_t port = 0; // 0: a free port, see RtspServer::port()
    std::vector<RtspMount> mounts;
    std::vector<RtspUser> users; // none: no authentication
    // The image settings for the next frame, asked from the encoder threads
    // once per frame; unset leaves the scene as drawn.
    std::function<SceneLook()> look;
};

class RtspServer
{
public:
    explicit RtspServer(RtspServerOptions options);
    ~RtspServer();
    RtspServer(const RtspServer &) = delete;
    RtspServer &operator=(const RtspServer &) = delete;

    // Returns once the server listens, or false with the reason.
    bool start(std::string &error);
    void stop();

    uint16_t port() const;
    // rtsp://address:port/path, without credentials.
    std::string url(const std::string &path) const;
    // Encoders running now (one per path with clients).
    int encoders() const;
    // Access units handed to the server so far, all paths together.
    int64_t accessUnits() const;

    // What device |index| of a running emulator serves: a main and a sub
    // path per channel in the formats of its encode settings, its users that
    // have a password, the look of its image records as they are at each
    // frame, on the device's own address. |spec| is the fleet's entry of the
    // device. False, with |error|, for a device without encode settings.
    static bool optionsFor(const Emulator &emulator, int index, const DeviceSpec &spec,
        RtspServerOptions &out, std::string &error);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace scoutrix::devsim
