// From a driver's diagnostic to the error the user sees. Not for use outside db/.
#pragma once

#include "db/Errors.h"
#include "db/ServerMessage.h"
#include "db/odbc/Diagnostics.h"

#include <string>
#include <string_view>

namespace db::detail {

// The user-facing message: driver prefixes such as "[FreeTDS][SQL Server]"
// removed, then trailing blanks, control characters and full stops.
std::u16string cleanMessage(std::u16string_view text);
// A text for an SQLSTATE when the driver gave none; "ODBC error <state>" failing that.
std::u16string textForState(const std::string& sqlState);
EOdbcError errorFrom(const Diagnostic& d);
// The record as the connection's Errors() lists it.
ServerMessage messageFrom(const Diagnostic& d);

} // namespace db::detail
