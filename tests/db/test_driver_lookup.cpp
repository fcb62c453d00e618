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
