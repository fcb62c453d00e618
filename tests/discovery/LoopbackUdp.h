// Raw UDP on 127.0.0.1 for the discovery tests: a peer socket, and a fake
// browser service that answers each request with bytes of the test's choosing.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace discoverytest {

inline sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A UDP socket bound to an ephemeral port on 127.0.0.1.
class LoopbackSocket {
public:
    LoopbackSocket()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw std::runtime_error("socket");
        const auto address = loopback(0);
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            throw std::runtime_error("bind");
        }
    }
    ~LoopbackSocket() { ::close(fd_); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int fd() const { return fd_; }

    std::uint16_t port() const
    {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    void sendTo(std::uint16_t port, const std::string& bytes) const
    {
        const auto address = loopback(port);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }

    // The next datagram, or nothing after `timeoutMs`. Tests use this only
    // where an answer is expected; the timeout just keeps a broken build
    // from hanging.
    std::optional<std::string> receive(int timeoutMs = 5000, std::uint16_t* fromPort = nullptr) const
    {
        pollfd fd{fd_, POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) <= 0)
            return std::nullopt;
        std::string buffer(70000, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const auto size = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (size < 0)
            return std::nullopt;
        if (fromPort)
            *fromPort = ntohs(from.sin_port);
        buffer.resize(static_cast<std::size_t>(size));
        return buffer;
    }

private:
    int fd_ = -1;
};

// Answers every datagram it receives with `replies`, in order, from its own
// port (so they arrive in that order). No replies: a service that never answers.
class ScriptedBrowser {
public:
    explicit ScriptedBrowser(std::vector<std::string> replies) : replies_(std::move(replies))
    {
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedBrowser()
    {
        stop_ = true;
        thread_.join();
    }
    ScriptedBrowser(const ScriptedBrowser&) = delete;
    ScriptedBrowser& operator=(const ScriptedBrowser&) = delete;

    std::uint16_t port() const { return socket_.port(); }
    int requests() const { return requests_.load(); }

private:
    void run()
    {
        while (!stop_) {
            pollfd fd{socket_.fd(), POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0)
                continue;
            char buffer[2048];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            if (::recvfrom(socket_.fd(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length) < 0)
                continue;
            ++requests_;
            for (const auto& reply : replies_)
                ::sendto(socket_.fd(), reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from),
                         length);
        }
    }

    LoopbackSocket socket_;
    std::vector<std::string> replies_;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

// A hostile host: once asked, it answers without end, as fast as it can,
// each datagram full of names never sent before, until it is destroyed.
class FloodingBrowser {
public:
    FloodingBrowser() { thread_ = std::thread([this] { run(); }); }
    ~FloodingBrowser()
    {
        stop_ = true;
        thread_.join();
    }
    FloodingBrowser(const FloodingBrowser&) = delete;
    FloodingBrowser& operator=(const FloodingBrowser&) = delete;

    std::uint16_t port() const { return socket_.port(); }
    long long sent() const { return sent_.load(); }

private:
    void run()
    {
        sockaddr_in to{};
        socklen_t length = sizeof to;
        while (!stop_) {
            pollfd fd{socket_.fd(), POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0)
                continue;
            char request[64];
            if (::recvfrom(socket_.fd(), request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), &length) >= 0)
                break;
        }
        long long name = 0;
        while (!stop_) {
            std::string data;
            for (;;) {
                const std::string r = "ServerName;H" + std::to_string(name) + ";InstanceName;I;IsClustered;No;Version;8;;";
                if (data.size() + r.size() > 65000)  // within one IPv4 datagram
                    break;
                data += r;
                ++name;
            }
            std::string datagram{'\x05', static_cast<char>(data.size() & 0xFF), static_cast<char>(data.size() >> 8)};
            datagram += data;
            if (::sendto(socket_.fd(), datagram.data(), datagram.size(), MSG_DONTWAIT,
                         reinterpret_cast<const sockaddr*>(&to), length) > 0)
                ++sent_;
        }
    }

    LoopbackSocket socket_;
    std::atomic<bool> stop_{false};
    std::atomic<long long> sent_{0};
    std::thread thread_;
};

// A SVR_RESP datagram around `data`, with the size field given or the true one.
inline std::string svrResp(const std::string& data, std::optional<std::size_t> sizeField = std::nullopt)
{
    const std::size_t size = sizeField.value_or(data.size());
    std::string datagram;
    datagram.push_back('\x05');
    datagram.push_back(static_cast<char>(size & 0xFF));
    datagram.push_back(static_cast<char>((size >> 8) & 0xFF));
    return datagram + data;
}

inline std::string record(const std::string& server, const std::string& instance, int port = 1433)
{
    return "ServerName;" + server + ";InstanceName;" + instance + ";IsClustered;No;Version;8.00.194;tcp;" +
           std::to_string(port) + ";np;\\\\" + server + "\\pipe\\sql\\query;;";
}

} // namespace discoverytest
