#pragma once
// The sockets and the one thread that serves them: discovery datagrams,
// each device's listener, every connection's bytes in and out, and timers.
// What the bytes mean is the session's and the discovery responder's.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "Net.h"

namespace scoutrix::devsim {

struct EmulatorState;
struct Conn;
class Session;
class DiscoveryResponder;

class SocketLoop
{
public:
    explicit SocketLoop(EmulatorState &state)
        : m_state(state)
    {
    }

    void attach(Session *session, DiscoveryResponder *discovery)
    {
        m_session = session;
        m_discovery = discovery;
    }

    // Binds the discovery endpoints of the options.
    bool openHubs(std::string &error);
    bool openListener(int device, std::string &error);
    void closeListener(int device);
    // After an address change: the old sessions go, the listener moves.
    void moveDevice(int device);
    bool openWakePipe(std::string &error);
    void wake();
    // Serves until |stopping| is set and wake() called.
    void run(const std::atomic<bool> &stopping);
    void closeAll();

    void hubSend(std::size_t hub, const sockaddr_in &to, const std::vector<uint8_t> &bytes);
    // Queues one answer now or after |delayMs|; false (and dropped) when the
    // source or the emulator as a whole is owed too many already.
    bool sendLater(std::size_t hub, const sockaddr_in &to, std::vector<uint8_t> bytes, int delayMs);
    void queue(Conn &c, const std::vector<uint8_t> &bytes);

private:
    void flush(Conn &c);
    void hubFlush(std::size_t hub);
    void onHubReadable(std::size_t hub);
    bool onConnReadable(Conn &c);
    void accept(int device);
    void settle(std::size_t hub, const sockaddr_in &to);

    EmulatorState &m_state;
    Session *m_session = nullptr;
    DiscoveryResponder *m_discovery = nullptr;
    net::Fd m_wakeRead, m_wakeWrite;
};

} // namespace scoutrix::devsim
