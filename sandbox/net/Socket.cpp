#include "sandbox/net/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace sandbox {

namespace {

std::string errnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

int pollMs(std::optional<std::chrono::milliseconds> timeout)
{
    if (!timeout)
        return -1;
    const auto ms = timeout->count();
    if (ms <= 0)
        return 0;
    return ms > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(ms);
}

} // namespace

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int Fd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

StopSignal::StopSignal()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(errnoText("pipe"));
    read_.reset(fds[0]);
    write_.reset(fds[1]);
}

void StopSignal::raise()
{
    const std::uint8_t byte = 1;
    // One byte is enough: nobody ever reads it, so the pipe stays readable.
    [[maybe_unused]] const auto n = ::write(write_.get(), &byte, 1);
}

bool StopSignal::raised() const
{
    pollfd p{read_.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

Fd listenTcp(const std::string& address, std::uint16_t port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0)
        throw std::runtime_error("bad bind address '" + address + "': " + ::gai_strerror(rc));

    std::string failure = "no usable address";
    Fd result;
    for (addrinfo* ai = found; ai != nullptr && !result.valid(); ai = ai->ai_next) {
        Fd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol));
        if (!fd.valid()) {
            failure = errnoText("socket");
            continue;
        }
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd.get(), ai->ai_addr, ai->ai_addrlen) != 0) {
            failure = errnoText("bind " + address + ":" + service);
            continue;
        }
        if (::listen(fd.get(), 64) != 0) {
            failure = errnoText("listen");
            continue;
        }
        result = std::move(fd);
    }
    ::freeaddrinfo(found);
    if (!result.valid())
        throw std::runtime_error(failure);
    return result;
}

std::uint16_t localPort(int fd)
{
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return 0;
    if (ss.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&ss)->sin_port);
    if (ss.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&ss)->sin6_port);
    return 0;
}

std::string localAddress(int fd)
{
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return {};
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return host;
}

Wait waitReadable(int fd, const StopSignal& stop, std::optional<std::chrono::milliseconds> timeout)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
    for (;;) {
        const int rc = ::poll(p, 2, pollMs(timeout));
        if (rc < 0) {
            if (errno == EINTR)
                continue;  // a signal; the caller's deadline logic re-arms the wait
            return Wait::Closed;
        }
        if (rc == 0)
            return Wait::Timeout;
        if (p[1].revents != 0)
            return Wait::Stopped;
        if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            return Wait::Ready;
        if ((p[0].revents & POLLNVAL) != 0)
            return Wait::Closed;
    }
}

Connection::Connection(Fd fd, const StopSignal& stop) : fd_(std::move(fd)), stop_(stop)
{
    const int flags = ::fcntl(fd_.get(), F_GETFL);
    ::fcntl(fd_.get(), F_SETFL, flags | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

Wait Connection::waitReadable(std::optional<std::chrono::milliseconds> timeout) const
{
    if (!fd_.valid())
        return Wait::Closed;
    return sandbox::waitReadable(fd_.get(), stop_, timeout);
}

std::size_t Connection::readSome(std::uint8_t* data, std::size_t size)
{
    while (fd_.valid()) {
        const ssize_t n = ::recv(fd_.get(), data, size, 0);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return 0;
        if (waitReadable(std::nullopt) != Wait::Ready)
            return 0;
    }
    return 0;
}

bool Connection::readExact(std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const std::size_t n = readSome(data, size);
        if (n == 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool Connection::writeAll(const std::uint8_t* data, std::size_t size)
{
    while (size > 0 && fd_.valid()) {
        const ssize_t n = ::send(fd_.get(), data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        // The peer is not reading: wait for room, but give up on stop.
        pollfd p[2] = {{fd_.get(), POLLOUT, 0}, {stop_.fd(), POLLIN, 0}};
        const int rc = ::poll(p, 2, -1);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0 || p[1].revents != 0 || (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return false;
    }
    return size == 0;
}

} // namespace sandbox
