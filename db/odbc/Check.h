// The one path every ODBC call's return code takes: examine() reads what the
// call left on its handle and names the failure, errorFrom() (ErrorMessage.h)
// makes that the one exception, and a connection's LinkWatch hears of every
// record on the way. Not for use outside db/.
#pragma once

#include "db/odbc/Diagnostics.h"
#include "db/odbc/OdbcHandle.h"

#include <optional>
#include <string_view>
#include <vector>

namespace db::detail {

// Whether a connection's link to the server stands: gone once a call on the
// connection or one of its statements reports a link failure, or once the
// driver says so (SQL_ATTR_CONNECTION_DEAD).
class LinkWatch {
public:
    // A link on `dbc` that stands; none (SQL_NULL_HDBC) when closed.
    void watch(SQLHDBC dbc);
    void note(const Diagnostic& d);
    // Asks the driver too, which may have found the link dead on its own.
    bool gone() const;

private:
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    mutable bool gone_ = false;
};

inline bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// What one call left on its handle.
struct CallResult {
    std::vector<Diagnostic> records;    // every record, informational ones too
    std::optional<Diagnostic> failure;  // none when the call succeeded
};

// A call failed when its code is neither a success nor SQL_NO_DATA, or when
// it left an error record with SQL_SUCCESS_WITH_INFO, as a statement of a
// batch that goes on may. The failure is the first error record; a call that
// left none (an invalid handle, a driver that only informs) is described by
// `fallbackState` and the last record's text, or, when the link is found
// gone, by 08S01: FreeTDS reports a broken link with "Unexpected EOF from
// the server" (01000) alone.
CallResult examine(SQLRETURN rc, const OdbcHandle& handle, LinkWatch* link = nullptr,
                   std::string_view fallbackState = "HY000");

// Throws the failure examine() finds.
void check(SQLRETURN rc, const OdbcHandle& handle, LinkWatch* link = nullptr);

// A new handle of `type` under `parent` (none for an environment); a failure
// is described by the parent's diagnostics.
OdbcHandle allocate(SQLSMALLINT type, const OdbcHandle* parent, LinkWatch* link = nullptr);

} // namespace db::detail
