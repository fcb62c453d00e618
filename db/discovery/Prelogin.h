// The PRELOGIN exchange that opens every TDS 7 connection (MS-TDS 2.2.6.5),
// as far as the tool uses it before a login: a request, and the server's
// version read from the answer. Pure functions, no I/O.
#pragma once

#include "db/ServerGeneration.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace db::prelogin {

// Type, status, length (big-endian, the header included), SPID, packet id, window.
inline constexpr std::size_t PacketHeaderSize = 8;
// An answer is a few dozen bytes; a packet longer than this is not one.
inline constexpr std::size_t MaxReplySize = 4096;

// One PRELOGIN packet (type 0x12, the message's last): VERSION, ENCRYPTION
// (off: the login alone would go in TLS, but none follows), INSTOPT (empty,
// which every instance accepts), THREADID, as a TDS 7.1 client sends them.
std::vector<std::uint8_t> request();

// The whole packet's length as its header gives it, once the header has
// arrived; nothing before that.
std::optional<std::size_t> packetLength(std::span<const std::uint8_t> received);

// The server's version from its answer: one whole packet of type 0x04 that
// ends its message, whose option table reaches its TERMINATOR within the
// packet and names VERSION once, with at least the six bytes MS-TDS gives it
// (major, minor, build big-endian, sub-build). Nothing for anything else, or
// for a major version below 7 (no TDS 7 server). Reads only the bytes given.
std::optional<ServerVersion> serverVersion(std::span<const std::uint8_t> packet);

} // namespace db::prelogin
