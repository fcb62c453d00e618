// Why an attempt to connect failed, in the few kinds a user can act on.
#pragma once

#include "db/ServerMessage.h"

#include <string>
#include <string_view>
#include <vector>

namespace db {

enum class ConnectFailure {
    Other,
    LoginRefused,   // the server refused the login (18456): the password
    Unreachable,    // no server answered at that name, address or port
    Encryption,     // the TLS handshake failed (a server that speaks only TLS 1.0)
    MissingDriver,  // no usable ODBC driver on this machine
};

struct ConnectFailureReason {
    ConnectFailure kind = ConnectFailure::Other;
    std::u16string text;  // the server's or the driver's words for it
};

// Whether a diagnostic says no usable driver was found or could be loaded:
// the driver manager's IM002 to IM005, or unixODBC's "Can't open lib", its
// own untranslated words, which come with no state of their own (01000).
bool saysDriverMissing(std::string_view sqlState, std::u16string_view text);

// From the diagnostics a failed Open left (TADOConnection::Errors()).
ConnectFailureReason connectFailureOf(const std::vector<ServerMessage>& errors);

} // namespace db
