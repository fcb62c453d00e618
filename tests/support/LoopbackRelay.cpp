#include "LoopbackRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

LoopbackRelay::LoopbackRelay(std::uint16_t target) : target_(target)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0
        || ::pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("relay: cannot listen on loopback");
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackRelay::~LoopbackRelay()
{
    (void)::write(wake_[1], "x", 1);
    acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (int s : sockets_)
            ::shutdown(s, SHUT_RDWR);
    }
    for (std::thread& t : pumps_)
        t.join();
    for (int s : sockets_)
        ::close(s);
    for (int fd : {listener_, wake_[0], wake_[1]})
        ::close(fd);
}

std::string LoopbackRelay::captured() const
{
    std::lock_guard lock(mutex_);
    return captured_;
}

std::string LoopbackRelay::fromServer() const
{
    std::lock_guard lock(mutex_);
    return fromServer_;
}

void LoopbackRelay::acceptLoop()
{
    for (;;) {
        pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 || p[1].revents != 0)
            return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(target_);
        if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            ::close(client);
            if (server >= 0)
                ::close(server);
            continue;
        }
        std::lock_guard lock(mutex_);
        sockets_.push_back(client);
        sockets_.push_back(server);
        pumps_.emplace_back([this, client, server] { pump(client, server, false); });
        pumps_.emplace_back([this, client, server] { pump(server, client, true); });
    }
}

void LoopbackRelay::pump(int from, int to, bool fromServer)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        {
            std::lock_guard lock(mutex_);
            captured_.append(buffer, static_cast<std::size_t>(n));
            if (fromServer)
                fromServer_.append(buffer, static_cast<std::size_t>(n));
        }
        if (::send(to, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
            break;
    }
    ::shutdown(to, SHUT_WR);
}

} // namespace testsupport
