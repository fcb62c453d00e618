// Proof that the sanitizer build reports a forgotten ODBC handle: connects to
// a sandbox, allocates a statement, frees the connection and the environment
// but never the statement. Its test passes only if LeakSanitizer reports the
// statement's allocation.
#include "tests/support/TestSandbox.h"

#include "db/ConnectionString.h"
#include "db/odbc/DriverLookup.h"
#include "db/odbc/OdbcApi.h"

#include <cstdio>

namespace {

bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

__attribute__((noinline)) void leakAStatement(SQLHDBC dbc)
{
    SQLHANDLE stmt = SQL_NULL_HANDLE;
    if (!ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)))
        std::puts("no statement");
}

} // namespace

int main()
{
    const testsupport::TestSandbox sandbox;
    SQLHANDLE env = SQL_NULL_HANDLE;
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(SQL_OV_ODBC3)), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    const std::u16string text =
        db::toOdbcConnectionString(sandbox.connectionString(), db::detail::findFreeTdsDriver(env));
    std::vector<SQLWCHAR> wide = db::detail::toSqlWChar(text);
    if (!ok(SQLDriverConnectW(dbc, nullptr, wide.data(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
        std::puts("not connected");
        return 1;
    }
    leakAStatement(dbc);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return 0;
}
