#include "db/odbc/Batch.h"

#include "db/odbc/Check.h"
#include "db/odbc/ErrorMessage.h"

#include <algorithm>

namespace db::detail {

namespace {

// After these the statement has nothing more to give: the link is gone, the
// time-out struck, or a cancel stopped it.
bool endsStatement(const Diagnostic& d)
{
    return isLinkFailure(d.sqlState) || d.sqlState == "HYT00" || d.sqlState == CancelledState;
}

} // namespace

Batch::Batch(ConnectionCore& core, const std::u16string& sql)
    : core_(core)
    , stmt_(core.newStatement())
{
    // Without its time-out a stuck BACKUP or DBCC would hold the caller for
    // good, so a statement the driver will not give one is not sent.
    detail::check(SQLSetStmtAttrW(stmt(), SQL_ATTR_QUERY_TIMEOUT,
                                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(core.commandTimeout, 0))),
                                  SQL_IS_UINTEGER),
                  stmt_, &core_.link());
    core_.lastMessages.clear();
    std::vector<SQLWCHAR> text = toSqlWChar(sql);
    core_.setRunning(stmt());
    check(SQLExecDirectW(stmt(), text.data(), SQL_NTS));
}

Batch::~Batch() { core_.setRunning(SQL_NULL_HSTMT); }

bool Batch::check(SQLRETURN rc)
{
    const CallResult call = examine(rc, stmt_, &core_.link());
    for (const Diagnostic& d : call.records) {
        core_.lastMessages.push_back(messageFrom(d));
        if (!isErrorRecord(d) && d.nativeError != 0)  // the server's, not the driver's own notes
            messages_.push_back(core_.lastMessages.back());
    }
    if (!call.failure)
        return true;
    if (rc == SQL_INVALID_HANDLE || endsStatement(*call.failure) ||
        std::any_of(call.records.begin(), call.records.end(), endsStatement))
        stopped_ = true;
    if (!firstError_)
        firstError_ = call.failure;
    return false;
}

SQLSMALLINT Batch::columnCount()
{
    if (stopped_)
        return 0;
    SQLSMALLINT columns = 0;
    if (!check(SQLNumResultCols(stmt(), &columns)))
        return 0;
    return columns;
}

bool Batch::fetch()
{
    if (stopped_)
        return false;
    const SQLRETURN rc = SQLFetch(stmt());
    if (rc == SQL_NO_DATA)
        return false;
    check(rc);
    return succeeded(rc);
}

bool Batch::nextResult()
{
    if (stopped_)
        return false;
    const SQLRETURN rc = SQLMoreResults(stmt());
    if (rc == SQL_NO_DATA)
        return false;
    check(rc);
    if (rc == SQL_ERROR) {
        // An error result is followed by the rest of the batch; a driver that
        // keeps failing without progress is given up on.
        if (++consecutiveErrors_ > 100 || !core_.isOpen())
            stopped_ = true;
        return !stopped_;
    }
    consecutiveErrors_ = 0;
    return true;
}

void Batch::finish()
{
    while (nextResult()) {
    }
    core_.noteDatabase();
    if (firstError_)
        throw errorFrom(*firstError_);
}

void Batch::cancel() noexcept
{
    if (stopped_)
        return;
    stopped_ = true;
    try {
        // A failure here only says the link died, which check() notes.
        check(SQLCancel(stmt()));
        check(SQLFreeStmt(stmt(), SQL_CLOSE));
    } catch (...) {
        // No memory for the diagnostics: the statement is freed all the same.
    }
}

} // namespace db::detail
