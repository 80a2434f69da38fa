#pragma once
// The session protocol on a device's TCP connection: the login exchange,
// get and set of configuration, reboot, logout.

#include <cstdint>
#include <string>
#include <vector>

#include "Protocol.h"

namespace scoutrix::devsim {

struct EmulatorState;
struct Conn;
class SocketLoop;
class StatePersistence;

class Session
{
public:
    Session(EmulatorState &state, SocketLoop &loop, StatePersistence &persistence)
        : m_state(state)
        , m_loop(loop)
        , m_persistence(persistence)
    {
    }

    void onFrame(Conn &c, proto::Frame &frame);
    // Sends an Error frame (sealed once logged in) and closes the connection
    // once it is out.
    void refuse(Conn &c, int32_t code, const std::string &why);
    // Closes the connection once what is queued is out, sending nothing more.
    void drop(Conn &c, const std::string &why);

private:
    // Sends a reply now or after the device's answer delay.
    void reply(Conn &c, proto::Type type, uint32_t seq, const std::vector<uint8_t> &payload,
        bool closeAfter = false);
    void beginReboot(int device);
    // Upgrade frames (SessionUpgrade.cpp).
    void onUpgradeBegin(Conn &c, const proto::Frame &frame);
    void onUpgradeData(Conn &c, const proto::Frame &frame);
    void onUpgradeCommit(Conn &c, const proto::Frame &frame);
    void flashStep(int device, uint64_t connId, int percent);
    void pushStatus(uint64_t connId, proto::UpgradeState state, int percent, int32_t status);
    // Live stream frames (SessionStream.cpp).
    void onStreamStart(Conn &c, const proto::Frame &frame);
    void onStreamStop(Conn &c, const proto::Frame &frame);

    EmulatorState &m_state;
    SocketLoop &m_loop;
    StatePersistence &m_persistence;
};

} // namespace scoutrix::devsim
