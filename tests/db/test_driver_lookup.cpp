// Finding the FreeTDS driver as an installed program does: this program runs
// with no driver registered at all (the driver manager reads its list once,
// from a folder that holds none), so only the library where the distribution
// installs it can be found, at run time.
#include "test_db_sandbox.h"

#include "db/AdoConnection.h"
#include "db/ConnectionString.h"
#include "db/odbc/Check.h"
#include "db/odbc/DriverLookup.h"
#include "db/odbc/FreeTdsVersion.h"

#include <cstdlib>
#include <filesystem>

using db::TADOConnection;
using dbtest::Sandbox;
using dbtest::u8;

namespace {

const bool noDriverRegistered = [] { return ::setenv("ODBCSYSINI", "/nonexistent", 1) == 0; }();

} // namespace

TEST(DriverLookup, WithoutARegistrationTheInstalledLibraryIsFound)
{
    ASSERT_TRUE(noDriverRegistered);
    const std::string library = db::detail::findDriverLibrary("libtdsodbc.so");
    ASSERT_FALSE(library.empty());
    EXPECT_TRUE(std::filesystem::path(library).is_absolute());

    db::detail::OdbcHandle env = db::detail::allocate(SQL_HANDLE_ENV, nullptr);
    db::detail::check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                                    reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(SQL_OV_ODBC3)), 0),
                      env);
    const db::OdbcDriver driver = db::detail::findFreeTdsDriver(env.get());
    EXPECT_EQ(u8(driver.driver), library);
    EXPECT_EQ(driver.braces, db::detail::braceStyleOfLibrary(library));

    // It loads, and its brace style lets a password with "}" and ";" through.
    const std::u16string password = u"a}b;c";
    Sandbox sandbox(sandbox::Catalog::defaults(), password);
    TADOConnection conn;
    conn.SetConnectionString(db::connectionText(sandbox.serverName(), u"master", u"sa", password));
    conn.Open();
    EXPECT_TRUE(conn.Connected());
}

// Windows: the newest Microsoft driver, then Native Client, then the driver
// every Windows has, then FreeTDS; the names as SQLDriversW lists them.
TEST(DriverLookup, WindowsChoosesTheBestSqlServerDriverRegistered)
{
    using db::DriverKind;
    using Drivers = std::vector<db::detail::RegisteredDriver>;
    const db::detail::RegisteredDriver sqlServer{u"SQL Server", u"SQLSRV32.dll"},
        nativeClient{u"SQL Server Native Client 11.0", u"sqlncli11.dll"},
        odbc11{u"ODBC Driver 11 for SQL Server", u"msodbcsql11.dll"},
        odbc17{u"ODBC Driver 17 for SQL Server", u"msodbcsql17.dll"},
        odbc18{u"odbc driver 18 for sql server", u"msodbcsql18.dll"},
        freeTds{u"FreeTDS", u"C:\\FreeTDS\\bin\\tdsodbc.dll"},
        freeTdsByLibrary{u"TDS", u"C:\\FreeTDS\\bin\\tdsodbc.dll"};
    const struct {
        Drivers registered;
        std::string name;
        DriverKind kind;
    } cases[] = {
        {{sqlServer, odbc17, freeTds, odbc18, odbc11, nativeClient}, "odbc driver 18 for sql server", DriverKind::MsOdbc},
        {{odbc11, sqlServer}, "ODBC Driver 11 for SQL Server", DriverKind::MsOdbc},
        {{freeTds, sqlServer, nativeClient}, "SQL Server Native Client 11.0", DriverKind::NativeClient},
        {{freeTds, sqlServer}, "SQL Server", DriverKind::SqlServer},
        {{freeTdsByLibrary, {u"Oracle in XE", u"SQORA32.DLL"}}, "TDS", DriverKind::FreeTds},
        // Not one of them: a driver name that only looks like one is not taken.
        {{{u"ODBC Driver X for SQL Server", u"x.dll"}, {u"SQL Server Native Client 10.0", u"sqlncli10.dll"}},
         "SQL Server",
         DriverKind::SqlServer},
        {{}, "SQL Server", DriverKind::SqlServer},
    };
    for (const auto& c : cases) {
        const db::OdbcDriver chosen = db::detail::chooseWindowsDriver(c.registered);
        EXPECT_EQ(u8(chosen.driver), c.name);
        EXPECT_EQ(chosen.kind, c.kind) << c.name;
        EXPECT_EQ(chosen.braces, db::BraceStyle::Doubled) << c.name;
    }
}

// Microsoft's newer drivers refuse SQL Server 2000 in so many words; then,
// and only then, the driver every Windows has is tried.
TEST(DriverLookup, AfterARefusalOfSqlServer2000TheLegacyDriverIsTried)
{
    using db::DriverKind;
    using db::detail::Diagnostic;
    const db::OdbcDriver odbc17{u"ODBC Driver 17 for SQL Server", db::BraceStyle::Doubled, DriverKind::MsOdbc},
        nativeClient{u"SQL Server Native Client 11.0", db::BraceStyle::Doubled, DriverKind::NativeClient},
        legacy{u"SQL Server", db::BraceStyle::Doubled, DriverKind::SqlServer},
        freeTds{u"FreeTDS", db::BraceStyle::Doubled, DriverKind::FreeTds};
    const Diagnostic refusal{"08001", 0,
                             u"[Microsoft][ODBC Driver 17 for SQL Server]ODBC Driver 17 for SQL Server does not "
                             u"support connections to SQL Server 2000 or earlier versions."};
    const Diagnostic unreachable{"08001", 0, u"[Microsoft][ODBC Driver 17 for SQL Server]Client unable to establish connection"};
    const Diagnostic badLogin{"28000", 18456, u"Login failed for user 'sa'."};

    for (const db::OdbcDriver& refused : {odbc17, nativeClient}) {
        const auto next = db::detail::driverForOlderServer(refused, {unreachable, refusal});
        ASSERT_TRUE(next.has_value()) << u8(refused.driver);
        EXPECT_EQ(u8(next->driver), "SQL Server");
        EXPECT_EQ(next->kind, DriverKind::SqlServer);
    }
    EXPECT_FALSE(db::detail::driverForOlderServer(odbc17, {unreachable}));
    EXPECT_FALSE(db::detail::driverForOlderServer(odbc17, {badLogin}));
    EXPECT_FALSE(db::detail::driverForOlderServer(legacy, {refusal}));
    EXPECT_FALSE(db::detail::driverForOlderServer(freeTds, {refusal}));
}
