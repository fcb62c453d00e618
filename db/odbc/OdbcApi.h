// The ODBC headers as the data layer includes them, and the step between our
// UTF-16 text and SQLWCHAR (16-bit on unixODBC and Windows). Not for use
// outside db/.
#pragma once

#ifdef _WIN32
// Without it <windows.h> defines min and max as macros, which break
// std::min and numeric_limits<>::max (MinGW's library defines it already).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <string>
#include <vector>

namespace db::detail {

std::vector<SQLWCHAR> toSqlWChar(const std::u16string& text);
std::u16string fromSqlWChar(const SQLWCHAR* text, std::size_t length);

// The buffer, in characters, to read again a text that came back cut at
// `reportedLength`. Buffer lengths are SQLSMALLINTs, so a text that fills one
// (or that a driver reports as a negative length) is read cut to 32,766.
SQLSMALLINT textBufferLength(SQLSMALLINT reportedLength);

} // namespace db::detail
