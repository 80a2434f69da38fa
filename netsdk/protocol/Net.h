#pragma once
// Small POSIX socket helpers shared by the SDK and the emulator: IPv4
// endpoints, non-blocking sockets and writes and reads bounded by a deadline.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Protocol.h"

namespace scoutrix::net {

using Clock = std::chrono::steady_clock;

struct Endpoint
{
    uint32_t address = 0; // host order
    uint16_t port = 0;
    bool operator==(const Endpoint &o) const { return address == o.address && port == o.port; }
};

bool parseIpv4(const std::string &text, uint32_t &out);
std::string ipv4Text(uint32_t address);
std::string endpointText(const Endpoint &e);
// "a.b.c.d:port"; port 0 is allowed only when |allowZeroPort|.
bool parseEndpoint(const std::string &text, Endpoint &out, bool allowZeroPort = false);
// Comma-separated endpoints; an empty list is an error.
bool parseEndpointList(const std::string &text, std::vector<Endpoint> &out, std::string &error);
bool isLoopback(uint32_t address);

// RAII file descriptor.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&o) noexcept
        : m_fd(o.release())
    {
    }
    Fd &operator=(Fd &&o) noexcept;
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

bool setNonBlocking(int fd);
int remainingMs(Clock::time_point deadline);

enum class IoResult { Ok, Timeout, Closed, Error };

// Connects a non-blocking TCP socket; |error| gets errno text on failure.
IoResult connectTcp(const Endpoint &to, Clock::time_point deadline, Fd &out, std::string &error);
IoResult writeAll(int fd, const uint8_t *data, std::size_t size, Clock::time_point deadline);
// Reads until |assembler| yields a frame (or fails) or the deadline passes.
IoResult readFrame(int fd, proto::FrameAssembler &assembler, proto::Frame &out,
    Clock::time_point deadline, std::string &error);

} // namespace scoutrix::net
