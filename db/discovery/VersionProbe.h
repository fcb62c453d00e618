// A server's version before any login, for choosing the driver that logs in:
// for a named instance without a port, what the host's browser service
// announces for it (UDP 1434, CLNT_UCAST_INST); otherwise the VERSION that
// the server's PRELOGIN answer carries (MS-TDS 2.2.6.5). It sends no login
// and no password: one PRELOGIN, and the connection is closed.
#pragma once

#include "db/ServerGeneration.h"
#include "db/discovery/DiscoveryProtocol.h"
#include "db/discovery/TcpConnection.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace db {

// The version of the server a Server= value names ("host", "host,port",
// "host\instance"), asked by the deadline; nothing when it cannot be learned
// by then: no address, no answer, or an answer that is not a server's.
// `browserPort` is where a host's browser service listens (tests name their own).
std::optional<ServerVersion> versionBeforeLogin(std::u16string_view server, net::Deadline deadline,
                                                std::uint16_t browserPort = ssrp::BrowserPort);

} // namespace db
