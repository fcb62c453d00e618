// How the socket classes hold a socket in their headers, without the system's
// socket headers in every user.
#pragma once

#include <cstdint>

namespace db::net {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;  // SOCKET
#else
using SocketHandle = int;
#endif

} // namespace db::net
