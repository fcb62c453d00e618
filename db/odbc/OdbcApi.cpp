#include "db/odbc/OdbcApi.h"

#include <limits>

namespace db::detail {

std::vector<SQLWCHAR> toSqlWChar(const std::u16string& text)
{
    std::vector<SQLWCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::u16string fromSqlWChar(const SQLWCHAR* text, std::size_t length)
{
    std::u16string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i)
        out += static_cast<char16_t>(text[i]);
    return out;
}

SQLSMALLINT textBufferLength(SQLSMALLINT reportedLength)
{
    constexpr SQLSMALLINT longest = std::numeric_limits<SQLSMALLINT>::max();
    if (reportedLength < 0 || reportedLength >= longest - 1)
        return longest;
    return static_cast<SQLSMALLINT>(reportedLength + 1);
}

} // namespace db::detail
