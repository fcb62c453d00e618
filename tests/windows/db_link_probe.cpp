// A Windows program over the whole data layer: proof that it compiles and
// links for Windows, and, run (under Wine by scripts/test-windows), that its
// Windows paths work. It prints where discovery would ask, the ODBC driver
// it chooses among those registered for a server whose version is not known,
// and the ODBC text the tool's connection text becomes for it; with "--browse"
// it also lists the servers the network announces; with "--connect TEXT" it
// asks that server's version before any login, opens the connection text
// (choosing the driver by that version) and lists the databases.
#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/ConnectionString.h"
#include "db/Errors.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "db/discovery/ServerBrowser.h"
#include "db/discovery/VersionProbe.h"
#include "db/odbc/DriverLookup.h"
#include "db/odbc/Check.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

int main(int argc, char** argv)
{
    try {
        for (const db::BrowseRequest& request : db::ServerBrowser::network().plan())
            std::printf("discovery: 0x%02X to %s\n", request.type, db::net::toString(request.to).c_str());
        const db::detail::OdbcHandle env = db::detail::allocate(SQL_HANDLE_ENV, nullptr);
        SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(SQL_OV_ODBC3)), 0);
        const db::OdbcDriver driver = db::detail::findDriver(env.get(), [] { return std::optional<db::ServerVersion>(); });
        static const char* const kinds[] = {"FreeTDS", "ODBC Driver", "Native Client", "SQL Server"};
        std::printf("driver: %s (%s)\n", db::toUtf8(driver.driver).c_str(), kinds[static_cast<int>(driver.kind)]);
        const std::u16string text = db::connectionText(u"HOST\\INSTANCE", u"master", u"sa", u"p;w}d");
        std::printf("connection text: %s\n", db::toUtf8(text).c_str());
        std::printf("ODBC: %s\n", db::toUtf8(db::toOdbcConnectionString(text, driver)).c_str());

        if (argc == 2 && std::strcmp(argv[1], "--browse") == 0) {
            for (const std::u16string& name : db::ServerBrowser::network().browse().names())
                std::printf("server: %s\n", db::toUtf8(name).c_str());
        }
        if (argc == 3 && std::strcmp(argv[1], "--connect") == 0) {
            const std::u16string connectionText = db::fromUtf8(argv[2]);
            // As the connection asks it, within the login's time-out.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
            if (const auto version = db::versionBeforeLogin(db::serverOf(connectionText), deadline))
                std::printf("version before login: %d.%d.%d\n", version->major, version->minor, version->build);
            else
                std::printf("version before login: unknown\n");
            db::TADOConnection connection;
            connection.SetConnectionString(connectionText);
            db::TADODataSet query;
            query.SetConnection(&connection);
            query.SetCommandText(db::sql::selectDatabases());
            query.Open();
            std::printf("connected through: %s\n", db::toUtf8(connection.DriverName()).c_str());
            for (; !query.Eof(); query.Next())
                std::printf("database: %s\n", db::toUtf8(db::VarToStr(query.FieldValue(u"name"))).c_str());
        }
        return 0;
    } catch (const db::EDatabaseError& error) {
        std::fprintf(stderr, "db_link_probe: %s\n", error.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "db_link_probe: %s\n", error.what());
    }
    return 1;
}
