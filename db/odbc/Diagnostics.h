// The diagnostic records of an ODBC handle, and what they mean. Not for use
// outside db/.
#pragma once

#include "db/odbc/OdbcApi.h"

#include <string>
#include <vector>

namespace db::detail {

struct Diagnostic {
    std::string sqlState;
    long nativeError = 0;
    std::u16string text;  // as the driver gives it, prefixes and all
};

// Every record of the handle, in order; a text too long for SQLGetDiagRec
// arrives cut, never at the cost of the records after it.
std::vector<Diagnostic> readDiagnostics(SQLSMALLINT type, SQLHANDLE handle);
// Informational records (class 01, or 00000) are not errors.
bool isErrorRecord(const Diagnostic& d);
const Diagnostic* firstError(const std::vector<Diagnostic>& records);
// States that mean the link to the server is gone.
bool isLinkFailure(const std::string& sqlState);

} // namespace db::detail
