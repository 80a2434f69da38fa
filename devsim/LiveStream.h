#pragma once
// One open live stream of a session: a thread of its own draws the channel's
// test scene, encodes it to H.264 and hands each access unit to the socket
// loop. Stopping it, or the end of its connection, never waits for the
// frame being encoded: the thread owns what it encodes with, sees the stop
// the next time it takes the emulator's lock, and ends. The emulator waits
// for such threads when it stops (EmulatorState::encoderThreads).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace scoutrix::devsim {

struct EmulatorState;
class SocketLoop;

// How the image settings change the picture.
struct SceneLook
{
    bool mirror = false; // left to right
    bool roll = false; // top to bottom
    bool grey = false;
    double gain = 1.0; // brightness around the scene's own
};

struct LiveStreamFormat
{
    int width = 0;
    int height = 0;
    int fps = 25;
    int keyInterval = 50; // frames between key frames
    std::string title; // device name, drawn into the scene
    int channel = 0;
    bool sub = false;
};

// The format the device's encode table (command 19) and resolution list
// (175), as raw records, give one stream of a channel; false, with |why|,
// when they give none the encoder can make.
bool streamFormatOf(const std::vector<uint8_t> &encodeTable, const std::vector<uint8_t> &resolutionList,
    int channel, bool sub, LiveStreamFormat &f, std::string &why);
// The device's name as the scene shows it: the model and the serial's last
// four characters.
std::string sceneTitleOf(const std::string &model, const std::string &serial);

// The test scene and its H.264 encoder (libx264: ultrafast, zero latency, no
// B-frames), as one live stream uses them; the RTSP server feeds the same
// pictures. One thread at a time.
class SceneEncoder
{
public:
    SceneEncoder();
    ~SceneEncoder();
    SceneEncoder(const SceneEncoder &) = delete;
    SceneEncoder &operator=(const SceneEncoder &) = delete;

    bool open(const LiveStreamFormat &format, std::string &error);
    // Draws and encodes frame |n|; the access unit (Annex B, led by the
    // send-time stamp) lands in |out|, empty when the encoder held it back.
    bool encode(int64_t n, const SceneLook &look, bool forceKey, std::vector<uint8_t> &out);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

class LiveStream
{
public:
    LiveStream(EmulatorState &state, SocketLoop &loop, uint64_t connId, int device, uint32_t streamId,
        LiveStreamFormat format);
    ~LiveStream();
    LiveStream(const LiveStream &) = delete;
    LiveStream &operator=(const LiveStream &) = delete;

    uint32_t id() const { return m_streamId; }
    // Called under the emulator's lock. False when the encoder could not be
    // opened; the stream is then refused.
    bool start(std::string &error);

private:
    struct Core;
    const uint32_t m_streamId;
    std::shared_ptr<Core> m_core;
    bool m_started = false;
};

// The look a device's image records (commands 78 and 134) give its picture.
SceneLook sceneLookOf(const std::vector<uint8_t> &image, const std::vector<uint8_t> &exposure);

} // namespace scoutrix::devsim
