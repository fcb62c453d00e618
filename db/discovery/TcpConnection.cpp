#include "db/discovery/TcpConnection.h"

#include "db/discovery/NativeSocket.h"

#include <memory>
#include <utility>

namespace db::net {

namespace {

using native::Guard;
using NativeSocket = native::Socket;

std::chrono::milliseconds until(Deadline deadline)
{
    const auto left = deadline - std::chrono::steady_clock::now();
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(left), std::chrono::milliseconds(0));
}

struct FreeAddresses {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

// A connected socket to this one address, or none by the deadline.
NativeSocket connectTo(const addrinfo& address, Deadline deadline)
{
    Guard guard(::socket(address.ai_family, SOCK_STREAM, IPPROTO_TCP));
    if (guard.s == native::Invalid || !native::setNonBlocking(guard.s))
        return native::Invalid;
    if (::connect(guard.s, address.ai_addr, static_cast<native::SockLen>(address.ai_addrlen)) != 0) {
        if (!native::connectPending(native::lastError()))
            return native::Invalid;
        // A long bound is waited out in pieces of at most a minute.
        int ready = 0;
        while (ready == 0 && until(deadline).count() > 0)
            ready = native::waitConnectEnded(guard.s, native::pollMilliseconds(until(deadline)));
        if (ready <= 0 || native::connectError(guard.s) != 0)
            return native::Invalid;
    }
    return guard.release();
}

} // namespace

std::optional<TcpConnection> TcpConnection::open(const std::string& host, std::uint16_t port, Deadline deadline)
{
    native::ensureStarted();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return std::nullopt;
    const std::unique_ptr<addrinfo, FreeAddresses> list(found);
    for (const addrinfo* address = list.get(); address && until(deadline).count() > 0; address = address->ai_next) {
        if (const NativeSocket s = connectTo(*address, deadline); s != native::Invalid)
            return TcpConnection(static_cast<Handle>(s));
    }
    return std::nullopt;
}

TcpConnection::TcpConnection(TcpConnection&& other) noexcept
    : handle_(std::exchange(other.handle_, static_cast<Handle>(native::Invalid)))
{
}

TcpConnection::~TcpConnection()
{
    if (static_cast<NativeSocket>(handle_) != native::Invalid)
        native::close(static_cast<NativeSocket>(handle_));
}

bool TcpConnection::waitFor(short events, Deadline deadline) noexcept
{
    native::PollFd fd{};
    fd.fd = static_cast<NativeSocket>(handle_);
    fd.events = events;
    for (;;) {
        const auto left = until(deadline);
        if (left.count() == 0)
            return false;
        const int ready = native::poll(&fd, 1, native::pollMilliseconds(left));
        if (ready != 0)
            return ready > 0;
    }
}

bool TcpConnection::sendAll(std::span<const std::uint8_t> bytes, Deadline deadline) noexcept
{
    while (!bytes.empty()) {
        const long sent = native::sendSome(static_cast<NativeSocket>(handle_), bytes.data(), bytes.size());
        if (sent > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && native::wouldBlock(native::lastError()) && waitFor(native::Writable, deadline))
            continue;
        return false;
    }
    return true;
}

std::optional<std::size_t> TcpConnection::receive(std::span<std::uint8_t> buffer, Deadline deadline) noexcept
{
    for (;;) {
        const long received = native::receiveSome(static_cast<NativeSocket>(handle_), buffer.data(), buffer.size());
        if (received >= 0)
            return static_cast<std::size_t>(received);
        if (!native::wouldBlock(native::lastError()) || !waitFor(native::Readable, deadline))
            return std::nullopt;
    }
}

} // namespace db::net
