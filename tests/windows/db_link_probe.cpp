// Built by the Windows cross build of db/ only (SQLLOGCLEAN_DB_ONLY): proof
// that the data layer compiles and links for Windows. Run there, it prints
// where discovery would ask and the ODBC text the tool's connection text
// becomes; with "--connect TEXT" it also opens that connection text and lists
// the databases, which needs a server.
#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/ConnectionString.h"
#include "db/Errors.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "db/discovery/ServerBrowser.h"

#include <cstdio>
#include <cstring>
#include <exception>

int main(int argc, char** argv)
{
    try {
        for (const db::BrowseRequest& request : db::ServerBrowser::network().plan())
            std::printf("discovery: 0x%02X to %s\n", request.type, db::net::toString(request.to).c_str());
        const std::u16string text = db::connectionText(u"HOST\\INSTANCE", u"master", u"sa", u"p;w}d");
        std::printf("connection text: %s\n", db::toUtf8(text).c_str());
        std::printf("ODBC: %s\n",
                    db::toUtf8(db::toOdbcConnectionString(text, db::OdbcDriver{u"SQL Server", db::BraceStyle::Doubled}))
                        .c_str());

        if (argc == 3 && std::strcmp(argv[1], "--connect") == 0) {
            db::TADOConnection connection;
            connection.SetConnectionString(db::fromUtf8(argv[2]));
            db::TADODataSet query;
            query.SetConnection(&connection);
            query.SetCommandText(db::sql::selectDatabases());
            query.Open();
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
