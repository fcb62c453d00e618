// The little networking server discovery needs: one IPv4 UDP socket and the
// list of the machine's broadcast addresses. Where POSIX sockets and Winsock
// differ is NativeSocket.h.
#pragma once

#include "db/discovery/SocketHandle.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace db::net {

// Addresses are in host byte order: 0x7F000001 is 127.0.0.1.
inline constexpr std::uint32_t LoopbackAddress = 0x7F000001;
inline constexpr std::uint32_t AnyAddress = 0;
inline constexpr std::uint32_t LimitedBroadcastAddress = 0xFFFFFFFF;

struct Endpoint {
    std::uint32_t address = AnyAddress;
    std::uint16_t port = 0;
    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

std::string toString(std::uint32_t address);     // "a.b.c.d"
std::string toString(const Endpoint& endpoint); // "a.b.c.d:port"

class UdpSocket {
public:
    // A non-blocking socket bound to `local` (port 0: an ephemeral one).
    // Without `allowBroadcast` the system refuses any send to a broadcast
    // address. Throws EDatabaseError when the socket cannot be made or bound.
    UdpSocket(Endpoint local, bool allowBroadcast);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // False if the system would not send it; nothing more is known for UDP.
    bool sendTo(std::span<const std::uint8_t> datagram, Endpoint to) noexcept;

    enum class Wait { Readable, TimedOut, Failed };
    Wait waitReadable(std::chrono::milliseconds timeout) noexcept;

    // One datagram, cut to the buffer's size if longer (pass a buffer longer
    // than any acceptable datagram to tell). Nothing if none is waiting or the
    // system reports an error for this read (e.g. an ICMP answer to an
    // earlier send); either way the socket stays usable.
    std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, Endpoint* from = nullptr) noexcept;

private:
    using Handle = SocketHandle;
    Handle handle_;
};

// The first IPv4 address of a host name (or a numeric address); nothing when
// it has none. Looking the name up is the system's and not bounded here.
std::optional<std::uint32_t> ipv4AddressOf(const std::string& host);

// The directed broadcast address of every IPv4 interface that is up, is not
// the loopback interface and has one; no duplicates. Empty if the system
// cannot tell.
std::vector<std::uint32_t> interfaceBroadcastAddresses();

} // namespace db::net
