#include "Net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace scoutrix::net {

bool parseIpv4(const std::string &text, uint32_t &out)
{
    in_addr a {};
    if (text.empty() || inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    out = ntohl(a.s_addr);
    return true;
}

std::string ipv4Text(uint32_t address)
{
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xff) + '.'
        + std::to_string((address >> 8) & 0xff) + '.' + std::to_string(address & 0xff);
}

std::string endpointText(const Endpoint &e)
{
    return ipv4Text(e.address) + ':' + std::to_string(e.port);
}

bool parseEndpoint(const std::string &raw, Endpoint &out, bool allowZeroPort)
{
    const auto b = raw.find_first_not_of(" \t");
    const auto e = raw.find_last_not_of(" \t");
    if (b == std::string::npos)
        return false;
    const std::string text = raw.substr(b, e - b + 1);
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size() || text.size() - colon > 6)
        return false;
    const std::string portText = text.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long port = std::stoul(portText);
    if (port > 65535 || (port == 0 && !allowZeroPort))
        return false;
    if (!parseIpv4(text.substr(0, colon), out.address))
        return false;
    out.port = uint16_t(port);
    return true;
}

bool parseEndpointList(const std::string &text, std::vector<Endpoint> &out, std::string &error)
{
    out.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto comma = text.find(',', start);
        const std::string part
            = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part.find_first_not_of(" \t") != std::string::npos) {
            Endpoint ep;
            if (!parseEndpoint(part, ep)) {
                error = "not an IPv4 host:port target: \"" + part + "\"";
                return false;
            }
            out.push_back(ep);
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (out.empty()) {
        error = "no host:port target given";
        return false;
    }
    return true;
}

bool isLoopback(uint32_t address)
{
    return (address >> 24) == 127;
}

Fd &Fd::operator=(Fd &&o) noexcept
{
    if (this != &o)
        reset(o.release());
    return *this;
}

void Fd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

bool setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int remainingMs(Clock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : int(left);
}

IoResult connectTcp(const Endpoint &to, Clock::time_point deadline, Fd &out, std::string &error)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || !setNonBlocking(fd.get())) {
        error = std::strerror(errno);
        return IoResult::Error;
    }
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(to.port);
    sa.sin_addr.s_addr = htonl(to.address);
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS) {
            error = std::strerror(errno);
            return IoResult::Error;
        }
        pollfd p { fd.get(), POLLOUT, 0 };
        int n;
        do {
            n = ::poll(&p, 1, remainingMs(deadline));
        } while (n < 0 && errno == EINTR);
        if (n == 0) {
            error = "connect timed out";
            return IoResult::Timeout;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        if (n < 0 || getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0
            || soError != 0) {
            error = std::strerror(n < 0 ? errno : soError);
            return IoResult::Error;
        }
    }
    const int one = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    out = std::move(fd);
    return IoResult::Ok;
}

IoResult writeAll(int fd, const uint8_t *data, std::size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p { fd, POLLOUT, 0 };
            const int r = ::poll(&p, 1, remainingMs(deadline));
            if (r == 0)
                return IoResult::Timeout;
            if (r < 0 && errno != EINTR)
                return IoResult::Error;
            continue;
        }
        return (n < 0 && (errno == EPIPE || errno == ECONNRESET)) ? IoResult::Closed
                                                                  : IoResult::Error;
    }
    return IoResult::Ok;
}

IoResult readFrame(int fd, proto::FrameAssembler &assembler, proto::Frame &out,
    Clock::time_point deadline, std::string &error)
{
    uint8_t buf[8192];
    for (;;) {
        switch (assembler.next(out)) {
        case proto::FrameAssembler::Status::Frame:
            return IoResult::Ok;
        case proto::FrameAssembler::Status::Error:
            error = assembler.error();
            return IoResult::Error;
        case proto::FrameAssembler::Status::NeedMore:
            break;
        }
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            assembler.feed(buf, std::size_t(n));
            continue;
        }
        if (n == 0) {
            error = assembler.pending() ? "truncated frame: connection closed inside a frame"
                                        : "connection closed";
            return IoResult::Closed;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = std::strerror(errno);
            return IoResult::Closed;
        }
        pollfd p { fd, POLLIN, 0 };
        const int r = ::poll(&p, 1, remainingMs(deadline));
        if (r == 0) {
            error = "timed out";
            return IoResult::Timeout;
        }
        if (r < 0 && errno != EINTR) {
            error = std::strerror(errno);
            return IoResult::Error;
        }
    }
}

} // namespace scoutrix::net
