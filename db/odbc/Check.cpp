#include "db/odbc/Check.h"

#include "db/odbc/ErrorMessage.h"

namespace db::detail {

void LinkWatch::watch(SQLHDBC dbc)
{
    dbc_ = dbc;
    gone_ = false;
}

void LinkWatch::note(const Diagnostic& d)
{
    if (isLinkFailure(d.sqlState))
        gone_ = true;
}

// A question, not an order: a driver that cannot answer has said nothing.
bool LinkWatch::gone() const
{
    if (gone_ || dbc_ == SQL_NULL_HDBC)
        return gone_;
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (succeeded(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) && dead == SQL_CD_TRUE)
        gone_ = true;
    return gone_;
}

namespace {

std::optional<Diagnostic> failureOf(SQLRETURN rc, const std::vector<Diagnostic>& records, const LinkWatch* link,
                                    std::string_view fallbackState)
{
    if (const Diagnostic* error = firstError(records))
        return *error;
    if (succeeded(rc) || rc == SQL_NO_DATA)
        return std::nullopt;
    Diagnostic d = records.empty() ? Diagnostic{} : records.back();
    d.sqlState = link != nullptr && link->gone() ? "08S01" : std::string(fallbackState);
    return d;
}

} // namespace

CallResult examine(SQLRETURN rc, const OdbcHandle& handle, LinkWatch* link, std::string_view fallbackState)
{
    CallResult call;
    if (rc == SQL_SUCCESS || rc == SQL_NO_DATA)
        return call;
    if (rc == SQL_INVALID_HANDLE) {
        call.failure = Diagnostic{std::string(fallbackState), 0, u"Invalid handle"};
        return call;
    }
    call.records = readDiagnostics(handle.type(), handle.get());
    if (link != nullptr) {
        for (const Diagnostic& d : call.records)
            link->note(d);
    }
    call.failure = failureOf(rc, call.records, link, fallbackState);
    if (link != nullptr && call.failure)
        link->note(*call.failure);
    return call;
}

void check(SQLRETURN rc, const OdbcHandle& handle, LinkWatch* link)
{
    if (const auto failure = examine(rc, handle, link).failure)
        throw errorFrom(*failure);
}

OdbcHandle allocate(SQLSMALLINT type, const OdbcHandle* parent, LinkWatch* link)
{
    SQLHANDLE handle = SQL_NULL_HANDLE;
    const SQLRETURN rc = SQLAllocHandle(type, parent ? parent->get() : SQL_NULL_HANDLE, &handle);
    OdbcHandle owned(type, succeeded(rc) ? handle : SQL_NULL_HANDLE);
    if (parent)
        check(rc, *parent, link);
    else
        check(rc, OdbcHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE));
    return owned;
}

} // namespace db::detail
