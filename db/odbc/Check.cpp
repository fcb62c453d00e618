#include "db/odbc/Check.h"

#include "db/odbc/ErrorMessage.h"

namespace db::detail {

std::optional<Diagnostic> failureOf(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle,
                                    const std::string& fallbackState)
{
    if (succeeded(rc))
        return std::nullopt;
    if (rc == SQL_INVALID_HANDLE)
        return Diagnostic{fallbackState, 0, u"Invalid handle"};
    const std::vector<Diagnostic> records = readDiagnostics(type, handle);
    if (const Diagnostic* error = firstError(records))
        return *error;
    Diagnostic d = records.empty() ? Diagnostic{} : records.back();
    d.sqlState = fallbackState;
    return d;
}

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle)
{
    if (const auto failure = failureOf(rc, type, handle))
        throw errorFrom(*failure);
}

OdbcHandle allocate(SQLSMALLINT type, const OdbcHandle* parent)
{
    SQLHANDLE handle = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(type, parent ? parent->get() : SQL_NULL_HANDLE, &handle);
    OdbcHandle owned(type, succeeded(rc) ? handle : SQL_NULL_HANDLE);
    if (parent)
        check(rc, *parent);
    else
        check(rc, SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    return owned;
}

} // namespace db::detail
