#include "db/discovery/DiscoverySocket.h"

#include "db/Errors.h"
#include "db/Text.h"
#include "db/discovery/NativeSocket.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <iphlpapi.h>
#include <mstcpip.h>
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif
#else
#include <ifaddrs.h>
#include <net/if.h>
#endif

namespace db::net {

namespace {

using native::Guard;
using native::lastError;
using NativeSocket = native::Socket;

sockaddr_in toSockaddr(Endpoint endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

Endpoint fromSockaddr(const sockaddr_in& address)
{
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

[[noreturn]] void fail(const char* what, int error)
{
    throw EDatabaseError(asciiToUtf16(std::string("Server discovery: ") + what + " failed (error " +
                                      std::to_string(error) + ")"));
}

} // namespace

std::string toString(std::uint32_t a)
{
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 0xFF) + '.' +
           std::to_string((a >> 8) & 0xFF) + '.' + std::to_string(a & 0xFF);
}

std::string toString(const Endpoint& endpoint)
{
    return toString(endpoint.address) + ':' + std::to_string(endpoint.port);
}

UdpSocket::UdpSocket(Endpoint local, bool allowBroadcast)
{
    native::ensureStarted();
    Guard guard(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (guard.s == native::Invalid)
        fail("socket()", lastError());

    if (allowBroadcast) {
        const int on = 1;
        if (::setsockopt(guard.s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0)
            fail("SO_BROADCAST", lastError());
    }

    if (!native::setNonBlocking(guard.s))
        fail("making the socket non-blocking", lastError());
#ifdef _WIN32
    // Otherwise an ICMP "port unreachable" for one target makes every later
    // recvfrom fail with WSAECONNRESET.
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(guard.s, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned, nullptr, nullptr);
#endif

    const sockaddr_in address = toSockaddr(local);
    if (::bind(guard.s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail("bind()", lastError());

    handle_ = static_cast<Handle>(guard.release());
}

UdpSocket::~UdpSocket()
{
    native::close(static_cast<NativeSocket>(handle_));
}

bool UdpSocket::sendTo(std::span<const std::uint8_t> datagram, Endpoint to) noexcept
{
    const sockaddr_in address = toSockaddr(to);
#ifdef _WIN32
    const auto sent = ::sendto(static_cast<NativeSocket>(handle_), reinterpret_cast<const char*>(datagram.data()),
                               static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&address),
                               sizeof address);
    return sent == static_cast<int>(datagram.size());
#else
    const auto sent = ::sendto(handle_, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return sent == static_cast<ssize_t>(datagram.size());
#endif
}

UdpSocket::Wait UdpSocket::waitReadable(std::chrono::milliseconds timeout) noexcept
{
    native::PollFd fd{};
    fd.fd = static_cast<NativeSocket>(handle_);
    fd.events = native::Readable;
    const int ready = native::poll(&fd, 1, native::pollMilliseconds(timeout));
    if (ready < 0)
        return Wait::Failed;
    return ready == 0 ? Wait::TimedOut : Wait::Readable;
}

std::optional<std::size_t> UdpSocket::receive(std::span<std::uint8_t> buffer, Endpoint* from) noexcept
{
    sockaddr_in address{};
    native::SockLen length = sizeof address;
#ifdef _WIN32
    const int received = ::recvfrom(static_cast<NativeSocket>(handle_), reinterpret_cast<char*>(buffer.data()),
                                    static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr*>(&address),
                                    &length);
    if (received < 0) {
        // A datagram longer than the buffer still arrived: report it as full.
        if (WSAGetLastError() == WSAEMSGSIZE) {
            if (from)
                *from = fromSockaddr(address);
            return buffer.size();
        }
        return std::nullopt;
    }
#else
    const ssize_t received = ::recvfrom(handle_, buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr*>(&address), &length);
    if (received < 0)
        return std::nullopt;
#endif
    if (from)
        *from = fromSockaddr(address);
    return static_cast<std::size_t>(received);
}

std::optional<std::uint32_t> ipv4AddressOf(const std::string& host)
{
    native::ensureStarted();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return std::nullopt;
    std::optional<std::uint32_t> address;
    if (found && found->ai_addr && found->ai_family == AF_INET) {
        sockaddr_in first{};
        std::memcpy(&first, found->ai_addr, sizeof first);
        address = ntohl(first.sin_addr.s_addr);
    }
    ::freeaddrinfo(found);
    return address;
}

std::vector<std::uint32_t> interfaceBroadcastAddresses()
{
    std::vector<std::uint32_t> addresses;
    const auto add = [&addresses](std::uint32_t address) {
        if (address != AnyAddress && address != LimitedBroadcastAddress &&
            std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    };
#ifdef _WIN32
    native::ensureStarted();
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(AF_INET,
                                        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR)
        return addresses;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const auto* socketAddress = unicast->Address.lpSockaddr;
            const unsigned prefix = unicast->OnLinkPrefixLength;
            if (!socketAddress || socketAddress->sa_family != AF_INET || prefix == 0 || prefix >= 31)
                continue;
            const auto address = ntohl(reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr.s_addr);
            const std::uint32_t hostBits = 0xFFFFFFFFu >> prefix;
            add(address | hostBits);
        }
    }
#else
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(flags & IFF_UP) ||
            (flags & IFF_LOOPBACK) || !(flags & IFF_BROADCAST) || !entry->ifa_broadaddr ||
            entry->ifa_broadaddr->sa_family != AF_INET)
            continue;
        sockaddr_in broadcast{};
        std::memcpy(&broadcast, entry->ifa_broadaddr, sizeof broadcast);
        add(ntohl(broadcast.sin_addr.s_addr));
    }
    ::freeifaddrs(list);
#endif
    return addresses;
}

} // namespace db::net
