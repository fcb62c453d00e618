// An attribute the driver refuses fails the operation that needed it: a
// connection is not opened without its time-outs and autocommit, and a
// statement is not sent without its query time-out (a stuck BACKUP or DBCC
// would hold the window for good). This program's own attribute calls stand
// in for the driver manager's (the linker prefers them) and hand the refused
// one on as a value the driver manager rejects, so the diagnostics are real.
#include "test_db_sandbox.h"

#include "db/AdoConnection.h"
#include "db/odbc/OdbcApi.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>

using db::TADOConnection;
using dbtest::errorOf;
using dbtest::Sandbox;
using dbtest::u8;

namespace {

constexpr SQLINTEGER None = -1;
std::atomic<SQLINTEGER> refused{None};

// Valid attributes with a value no driver manager accepts: HY024.
SQLPOINTER invalidValue() { return reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(12345)); }

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                                SQLINTEGER length)
{
    using Function = SQLRETURN(SQL_API*)(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER);
    static const auto real = next<Function>("SQLSetConnectAttrW");
    if (attribute == refused)
        return real(dbc, SQL_ATTR_ACCESS_MODE, invalidValue(), SQL_IS_UINTEGER);
    return real(dbc, attribute, value, length);
}

extern "C" SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                             SQLINTEGER length)
{
    using Function = SQLRETURN(SQL_API*)(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER);
    static const auto real = next<Function>("SQLSetStmtAttrW");
    if (attribute == refused)
        return real(stmt, SQL_ATTR_CONCURRENCY, invalidValue(), SQL_IS_UINTEGER);
    return real(stmt, attribute, value, length);
}

namespace {

struct Refusing {
    explicit Refusing(SQLINTEGER attribute) { refused = attribute; }
    ~Refusing() { refused = None; }
    Refusing(const Refusing&) = delete;
    Refusing& operator=(const Refusing&) = delete;
};

bool sent(Sandbox& sandbox, std::u16string_view text)
{
    const auto t = sandbox.server().transcript();
    return std::any_of(t.begin(), t.end(), [&](const std::u16string& batch) { return batch == text; });
}

} // namespace

TEST(RefusedAttributes, AConnectionAttributeRefusedFailsTheOpen)
{
    const std::pair<const char*, SQLINTEGER> attributes[] = {
        {"login time-out", SQL_ATTR_LOGIN_TIMEOUT},
        {"connection time-out", SQL_ATTR_CONNECTION_TIMEOUT},
        {"autocommit", SQL_ATTR_AUTOCOMMIT},
    };
    Sandbox sandbox;
    for (const auto& [name, attribute] : attributes) {
        SCOPED_TRACE(name);
        TADOConnection conn;
        conn.SetConnectionString(sandbox.connectionString());
        {
            const Refusing refusing(attribute);
            const db::EDatabaseError e = errorOf([&] { conn.Open(); });
            EXPECT_EQ(e.SqlState(), "HY024");
            EXPECT_EQ(u8(e.Message()), "Invalid attribute value");
            EXPECT_FALSE(conn.Connected());
        }
        conn.Open();
        EXPECT_TRUE(conn.Connected());
    }
}

TEST(RefusedAttributes, AStatementWithoutItsTimeOutIsNotSent)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Open();
    {
        const Refusing refusing(SQL_ATTR_QUERY_TIMEOUT);
        const db::EDatabaseError e = errorOf([&] { conn.Execute(u"DBCC SHRINKFILE (mastlog, 10)"); });
        EXPECT_EQ(e.SqlState(), "HY024");
        EXPECT_FALSE(sent(sandbox, u"DBCC SHRINKFILE (mastlog, 10)"));
    }
    // The connection itself is fine.
    EXPECT_TRUE(conn.Connected());
    conn.Execute(u"DBCC SHRINKFILE (mastlog, 10)");
    EXPECT_TRUE(sent(sandbox, u"DBCC SHRINKFILE (mastlog, 10)"));
}
