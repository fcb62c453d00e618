// The one path every ODBC call's return code takes: a success passes, any
// other code becomes the EOdbcError the handle's own diagnostics describe,
// built by errorFrom(). Not for use outside db/.
#pragma once

#include "db/odbc/Diagnostics.h"
#include "db/odbc/OdbcHandle.h"

#include <optional>
#include <string>

namespace db::detail {

inline bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Nothing for a success. Otherwise the first error record the call left on
// `handle`; a call that left none (an invalid handle, a driver that only
// informs) is described by `fallbackState` and the last record's text.
std::optional<Diagnostic> failureOf(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle,
                                    const std::string& fallbackState = "HY000");

// Throws the failure failureOf() describes.
void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle);
inline void check(SQLRETURN rc, const OdbcHandle& handle) { check(rc, handle.type(), handle.get()); }

// A new handle of `type` under `parent` (none for an environment); a failure
// is described by the parent's diagnostics.
OdbcHandle allocate(SQLSMALLINT type, const OdbcHandle* parent);

} // namespace db::detail
