// One TCP connection to a server, each step bounded by a deadline: what the
// version probe needs before a login, no more.
#pragma once

#include "db/discovery/SocketHandle.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace db::net {

using Deadline = std::chrono::steady_clock::time_point;

class TcpConnection {
public:
    // Connects to the host (a name, or a numeric IPv4 or IPv6 address) on the
    // port, trying each address the name has in turn, until one answers or
    // the deadline passes. Nothing when none answered in time. Looking the
    // name up is the system's and not bounded here.
    static std::optional<TcpConnection> open(const std::string& host, std::uint16_t port, Deadline deadline);

    TcpConnection(TcpConnection&& other) noexcept;
    TcpConnection& operator=(TcpConnection&&) = delete;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;
    ~TcpConnection();

    // All the bytes, or false when they could not all go before the deadline.
    bool sendAll(std::span<const std::uint8_t> bytes, Deadline deadline) noexcept;
    // What has arrived, up to the buffer's size: 0 when the server closed the
    // connection, nothing on an error or when the deadline passed first.
    std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, Deadline deadline) noexcept;

private:
    using Handle = SocketHandle;
    explicit TcpConnection(Handle handle) : handle_(handle) {}
    bool waitFor(short events, Deadline deadline) noexcept;

    Handle handle_;
};

} // namespace db::net
