// What POSIX sockets and Winsock do differently, for the discovery socket and
// the TCP connection of the version probe. Not for use outside db/discovery/.
#pragma once

#include <chrono>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX  // std::clamp and std::find, not the min/max macros
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstddef>

namespace db::net::native {

#ifdef _WIN32
using Socket = SOCKET;
inline const Socket Invalid = INVALID_SOCKET;
using SockLen = int;
using PollFd = WSAPOLLFD;
inline constexpr short Readable = POLLRDNORM;
inline constexpr short Writable = POLLWRNORM;

// Winsock must be started once per process before the first socket.
inline void ensureStarted()
{
    struct Session {
        Session() { WSADATA data; ok = WSAStartup(MAKEWORD(2, 2), &data) == 0; }
        ~Session() { if (ok) WSACleanup(); }
        bool ok = false;
    };
    static Session session;
}

inline int lastError() { return WSAGetLastError(); }
inline void close(Socket s) { closesocket(s); }
inline bool setNonBlocking(Socket s)
{
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}
inline bool connectPending(int error) { return error == WSAEWOULDBLOCK; }
inline bool wouldBlock(int error) { return error == WSAEWOULDBLOCK; }
inline int poll(PollFd* fds, unsigned count, int ms) { return ::WSAPoll(fds, count, ms); }
// Until a connection attempt has ended, either way (1), or the time is up (0).
// select(), as WSAPoll did not report a refused connection before Windows 10 2004.
inline int waitConnectEnded(Socket s, int ms)
{
    fd_set written, failed;
    FD_ZERO(&written);
    FD_ZERO(&failed);
    FD_SET(s, &written);
    FD_SET(s, &failed);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, nullptr, &written, &failed, &wait);
}
inline long sendSome(Socket s, const unsigned char* data, std::size_t size)
{
    return ::send(s, reinterpret_cast<const char*>(data), static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0);
}
inline long receiveSome(Socket s, unsigned char* data, std::size_t size)
{
    return ::recv(s, reinterpret_cast<char*>(data), static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0);
}
#else
using Socket = int;
inline constexpr Socket Invalid = -1;
using SockLen = socklen_t;
using PollFd = pollfd;
inline constexpr short Readable = POLLIN;
inline constexpr short Writable = POLLOUT;

inline void ensureStarted() {}
inline int lastError() { return errno; }
inline void close(Socket s) { ::close(s); }
inline bool setNonBlocking(Socket s)
{
    const int flags = ::fcntl(s, F_GETFL, 0);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
inline bool connectPending(int error) { return error == EINPROGRESS; }
inline bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
// An interrupted wait counts as one that saw nothing: the caller's deadline decides.
inline int poll(PollFd* fds, unsigned count, int ms)
{
    const int ready = ::poll(fds, count, ms);
    return ready < 0 && errno == EINTR ? 0 : ready;
}
// Until a connection attempt has ended, either way (1), or the time is up (0).
inline int waitConnectEnded(Socket s, int ms)
{
    PollFd fd{};
    fd.fd = s;
    fd.events = Writable;
    return native::poll(&fd, 1, ms);
}
inline long sendSome(Socket s, const unsigned char* data, std::size_t size)
{
    return static_cast<long>(::send(s, data, size, MSG_NOSIGNAL));  // a closed peer is an error, not a signal
}
inline long receiveSome(Socket s, unsigned char* data, std::size_t size)
{
    return static_cast<long>(::recv(s, data, size, 0));
}
#endif

// The error a finished connection attempt left (0: connected).
inline int connectError(Socket s)
{
    int error = 0;
    SockLen length = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return lastError();
    return error;
}

// Milliseconds for poll(), at most a minute: a longer wait is made of several.
inline int pollMilliseconds(std::chrono::milliseconds wait)
{
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60'000));
}

// Owns a socket until released.
struct Guard {
    Socket s = Invalid;
    Guard() = default;
    explicit Guard(Socket socket) : s(socket) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() { if (s != Invalid) close(s); }
    Socket release() { const Socket out = s; s = Invalid; return out; }
};

} // namespace db::net::native
