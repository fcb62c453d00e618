#include "sandbox/net/ResolutionResponder.h"

#include <QString>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace sandbox {

namespace {

constexpr unsigned char ClntBcastEx = 0x02;
constexpr unsigned char ClntUcastEx = 0x03;
constexpr unsigned char ClntUcastInst = 0x04;
constexpr unsigned char SvrResp = 0x05;

constexpr std::size_t MaxInstanceNameBytes = 32;
// The protocol allows 65,535 bytes of data, but one IPv4 UDP datagram carries
// at most 65,507 bytes, three of which are the header.
constexpr std::size_t MaxAllInstancesData = 65507 - 3;
constexpr std::size_t MaxOneInstanceData = 1024;

// The longest request worth reading: type, 32 name bytes, NUL.
constexpr std::size_t MaxRequest = 1 + MaxInstanceNameBytes + 1;

constexpr int PollIntervalMs = 50;

std::string utf8(const std::u16string& text)
{
    return QString::fromStdU16String(text).toStdString();
}

std::string response(const std::string& data)
{
    std::string datagram;
    datagram.reserve(3 + data.size());
    datagram.push_back(static_cast<char>(SvrResp));
    datagram.push_back(static_cast<char>(data.size() & 0xFF));
    datagram.push_back(static_cast<char>((data.size() >> 8) & 0xFF));
    datagram += data;
    return datagram;
}

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("resolution responder: " + what + ": " + std::strerror(errno));
}

} // namespace

std::string resolutionRecord(const ResolutionInstance& instance)
{
    return "ServerName;" + utf8(instance.serverName) + ";InstanceName;" + utf8(instance.instanceName) +
           ";IsClustered;" + (instance.isClustered ? "Yes" : "No") + ";Version;" + instance.version + ";tcp;" +
           std::to_string(instance.tcpPort) + ";;";
}

ResolutionResponder::ResolutionResponder(ResponderOptions options) : options_(std::move(options)) {}

ResolutionResponder::~ResolutionResponder()
{
    stop();
}

void ResolutionResponder::start()
{
    if (thread_.joinable())
        return;

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1)
        throw std::runtime_error("resolution responder: not an IPv4 address: " + options_.bindAddress);

    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        fail("socket");
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(s);
        errno = error;
        fail("bind " + options_.bindAddress + ":" + std::to_string(options_.port));
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);

    socket_ = s;
    port_ = ntohs(bound.sin_port);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void ResolutionResponder::stop()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

void ResolutionResponder::run()
{
    // One byte more than the longest valid request, to tell an oversized one.
    unsigned char buffer[MaxRequest + 1];
    while (!stopping_) {
        pollfd fd{socket_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, PollIntervalMs);
        if (ready <= 0)
            continue;
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t size = ::recvfrom(socket_, buffer, sizeof buffer, MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (size <= 0)
            continue;
        answer(buffer, static_cast<std::size_t>(size), &from, fromLength);
    }
}

void ResolutionResponder::answer(const unsigned char* request, std::size_t size, const void* from,
                                 unsigned fromLength)
{
    if (size > MaxRequest)
        return;

    std::string data;
    const unsigned char type = request[0];
    if ((type == ClntBcastEx || type == ClntUcastEx) && size == 1) {
        for (const auto& instance : options_.instances) {
            const auto record = resolutionRecord(instance);
            if (data.size() + record.size() > MaxAllInstancesData)
                break;
            data += record;
        }
    } else if (type == ClntUcastInst && size >= 3 && request[size - 1] == 0) {
        const auto* name = reinterpret_cast<const char*>(request + 1);
        const std::size_t nameLength = size - 2;
        if (std::memchr(name, 0, nameLength) != nullptr)
            return;
        const auto wanted = QString::fromUtf8(name, static_cast<qsizetype>(nameLength));
        for (const auto& instance : options_.instances) {
            if (QString::fromStdU16String(instance.instanceName).compare(wanted, Qt::CaseInsensitive) == 0) {
                data = resolutionRecord(instance);
                break;
            }
        }
        if (data.size() > MaxOneInstanceData)
            return;
    } else {
        return;
    }
    if (data.empty())
        return;

    // Counted first, so whoever has the answer in hand also sees the count.
    ++answered_;
    const auto datagram = response(data);
    ::sendto(socket_, datagram.data(), datagram.size(), MSG_NOSIGNAL, static_cast<const sockaddr*>(from),
             static_cast<socklen_t>(fromLength));
}

} // namespace sandbox
