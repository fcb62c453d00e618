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
#include <optional>
#include <string>
#include <vector>

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

// Windows: by the server's version, among the drivers registered (the names
// as SQLDriversW lists them). 2000 gets a Native Client that still reaches
// it, later and unknown versions Microsoft's current drivers; then the driver
// every Windows has, then FreeTDS.
TEST(DriverLookup, WindowsChoosesByTheServersVersion)
{
    using db::DriverKind;
    using Drivers = std::vector<db::detail::RegisteredDriver>;
    const db::detail::RegisteredDriver sqlServer{u"SQL Server", u"SQLSRV32.dll"},
        nativeClient11{u"SQL Server Native Client 11.0", u"sqlncli11.dll"},
        nativeClient10{u"sql server native client 10.0", u"sqlncli10.dll"},
        sqlNativeClient{u"SQL Native Client", u"sqlncli.dll"},
        odbc11{u"ODBC Driver 11 for SQL Server", u"msodbcsql11.dll"},
        odbc17{u"ODBC Driver 17 for SQL Server", u"msodbcsql17.dll"},
        odbc18{u"odbc driver 18 for sql server", u"msodbcsql18.dll"},
        freeTds{u"FreeTDS", u"C:\\FreeTDS\\bin\\tdsodbc.dll"},
        freeTdsByLibrary{u"TDS", u"C:\\FreeTDS\\bin\\tdsodbc.dll"};
    const Drivers all{sqlServer, odbc17, freeTds, nativeClient10, odbc18, odbc11, sqlNativeClient, nativeClient11};
    const std::optional<db::ServerVersion> v2000 = db::ServerVersion{8, 0, 2039}, v2005 = db::ServerVersion{9, 0, 5000},
                                           v2019 = db::ServerVersion{15, 0, 4355}, unknown;
    const struct {
        Drivers registered;
        std::optional<db::ServerVersion> version;
        std::string name;
        DriverKind kind;
    } cases[] = {
        {all, v2000, "sql server native client 10.0", DriverKind::NativeClient},
        {all, v2005, "odbc driver 18 for sql server", DriverKind::MsOdbc},
        {all, v2019, "odbc driver 18 for sql server", DriverKind::MsOdbc},
        // Not known: never the older drivers, which could log in unencrypted.
        {all, unknown, "odbc driver 18 for sql server", DriverKind::MsOdbc},
        {{odbc11, sqlServer, sqlNativeClient}, v2000, "SQL Native Client", DriverKind::NativeClient},
        {{odbc11, sqlServer, sqlNativeClient}, unknown, "ODBC Driver 11 for SQL Server", DriverKind::MsOdbc},
        {{odbc17, nativeClient11, sqlServer, freeTds}, v2000, "SQL Server", DriverKind::SqlServer},
        {{odbc17, nativeClient11, sqlServer, freeTds}, v2019, "ODBC Driver 17 for SQL Server", DriverKind::MsOdbc},
        {{freeTds, sqlServer, nativeClient11}, v2005, "SQL Server Native Client 11.0", DriverKind::NativeClient},
        {{nativeClient10, sqlServer}, v2019, "SQL Server", DriverKind::SqlServer},
        {{freeTds, sqlServer}, v2000, "SQL Server", DriverKind::SqlServer},
        {{odbc18, freeTdsByLibrary}, v2000, "TDS", DriverKind::FreeTds},
        {{freeTdsByLibrary, {u"Oracle in XE", u"SQORA32.DLL"}}, v2019, "TDS", DriverKind::FreeTds},
        // Not one of them: a driver name that only looks like one is not taken.
        {{{u"ODBC Driver X for SQL Server", u"x.dll"}, {u"SQL Server Native Client 9.0", u"x.dll"}}, v2000,
         "SQL Server", DriverKind::SqlServer},
        {{}, unknown, "SQL Server", DriverKind::SqlServer},
    };
    for (const auto& c : cases) {
        const db::OdbcDriver chosen = db::detail::chooseWindowsDriver(c.registered, c.version);
        const std::string version = c.version ? std::to_string(c.version->major) : "unknown";
        EXPECT_EQ(u8(chosen.driver), c.name) << "version " << version;
        EXPECT_EQ(chosen.kind, c.kind) << c.name;
        EXPECT_EQ(chosen.braces, db::BraceStyle::Doubled) << c.name;
    }

    // The version is worth asking only where it changes the answer.
    EXPECT_TRUE(db::detail::choiceDependsOnVersion(all));
    EXPECT_TRUE(db::detail::choiceDependsOnVersion({odbc18, sqlServer}));
    EXPECT_TRUE(db::detail::choiceDependsOnVersion({sqlServer, nativeClient10}));
    EXPECT_FALSE(db::detail::choiceDependsOnVersion({sqlServer, freeTds}));
    EXPECT_FALSE(db::detail::choiceDependsOnVersion({freeTds}));
}
