// The server's version as the data layer reads it at Open, and which texts
// each version gets.
#include "test_db_sandbox.h"

#include "db/AdoConnection.h"
#include "db/ServerGeneration.h"

#include <optional>

TEST(ServerVersion, ReadsWhatTheDriverReports)
{
    const struct {
        const char16_t* text;
        std::optional<db::ServerVersion> version;
    } table[] = {
        {u"08.00.2039", db::ServerVersion{8, 0, 2039}}, {u"15.00.4355", db::ServerVersion{15, 0, 4355}},
        {u"10.50.6000", db::ServerVersion{10, 50, 6000}},
        // As a browser service announces it.
        {u"8.00.194", db::ServerVersion{8, 0, 194}}, {u"15.0.2000.5", db::ServerVersion{15, 0, 2000}},
        // Not a version: 2000 where a guess is harmless, nothing where it is not.
        {u"", {}}, {u"Microsoft SQL Server", {}}, {u"15.00", {}}, {u"06.50.0201", {}}, {u"15.x.1", {}},
    };
    for (const auto& row : table) {
        EXPECT_EQ(db::ServerVersion::tryParse(row.text), row.version) << dbtest::u8(row.text);
        EXPECT_EQ(db::ServerVersion::parse(row.text), row.version.value_or(db::ServerVersion{})) << dbtest::u8(row.text);
    }
}

TEST(ServerVersion, IsReadAtOpenAndSaysWhichTextsTheServerGets)
{
    const struct {
        sandbox::Generation generation;
        db::ServerVersion version;
        bool backupLog;
    } table[] = {
        {sandbox::Generation::Sql2000, {8, 0, 2039}, true},
        {sandbox::Generation::Sql2005, {9, 0, 5000}, true},
        {sandbox::Generation::Sql2008R2, {10, 50, 6000}, false},
        {sandbox::Generation::Sql2022, {16, 0, 4115}, false},
    };
    for (const auto& row : table) {
        sandbox::Catalog catalog = sandbox::Catalog::defaults();
        catalog.generation = row.generation;
        dbtest::Sandbox server(catalog);
        db::TADOConnection conn;
        EXPECT_EQ(conn.ServerVersion(), db::ServerVersion{}) << "2000 until it is known";
        conn.SetConnectionString(server.connectionString());
        conn.Open();
        EXPECT_EQ(conn.ServerVersion(), row.version);
        EXPECT_EQ(db::Dialect(conn.ServerVersion()).truncatesWithBackupLog(), row.backupLog);
    }
}
