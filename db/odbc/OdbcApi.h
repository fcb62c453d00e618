// The ODBC headers as the data layer includes them, and the step between our
// UTF-16 text and SQLWCHAR (16-bit on unixODBC and Windows). Not for use
// outside db/.
#pragma once

#ifdef _WIN32
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

} // namespace db::detail
