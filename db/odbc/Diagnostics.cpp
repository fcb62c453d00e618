#include "db/odbc/Diagnostics.h"

#include <algorithm>

namespace db::detail {

std::vector<Diagnostic> readDiagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<Diagnostic> records;
    if (handle == SQL_NULL_HANDLE)
        return records;
    for (SQLSMALLINT i = 1; i < 100; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && (length < 0 || static_cast<std::size_t>(length) >= text.size())) {
            text.resize(static_cast<std::size_t>(textBufferLength(length)));
            rc = SQLGetDiagRecW(type, handle, i, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &length);
        }
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            break;
        Diagnostic d;
        for (SQLWCHAR c : state) {
            if (c == 0)
                break;
            d.sqlState += static_cast<char>(c & 0x7F);
        }
        d.nativeError = native;
        // A text cut to the buffer fills it; a negative length is one too long to tell.
        const std::size_t n = length < 0 ? text.size() - 1
                                         : std::min(static_cast<std::size_t>(length), text.size() - 1);
        d.text = fromSqlWChar(text.data(), n);
        records.push_back(std::move(d));
    }
    return records;
}

bool isErrorRecord(const Diagnostic& d)
{
    return !(d.sqlState.rfind("01", 0) == 0 || d.sqlState == "00000");
}

const Diagnostic* firstError(const std::vector<Diagnostic>& records)
{
    auto it = std::find_if(records.begin(), records.end(), isErrorRecord);
    return it == records.end() ? nullptr : &*it;
}

bool isLinkFailure(const std::string& sqlState)
{
    return sqlState == "08S01" || sqlState == "08S02" || sqlState == "08003" || sqlState == "08007";
}

} // namespace db::detail
