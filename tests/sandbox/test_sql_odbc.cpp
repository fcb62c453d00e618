// The sandbox's SQL side through the real FreeTDS ODBC driver and the data
// layer, over loopback TCP: what the tool itself will see.
#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/Text.h"
#include "db/Variant.h"
#include "sandbox/net/Server.h"

#include <gtest/gtest.h>

#include <functional>

using db::EDatabaseError;
using db::TADOConnection;
using db::TADODataSet;

namespace {

std::string utf8(std::u16string_view s) { return db::toUtf8(s); }

// An in-process server on an ephemeral loopback port. (Not TestSandbox.h: its
// PrintTo for u16string is ambiguous with GoogleTest 1.12's own.)
class Sandbox {
public:
    Sandbox() : server_(options()) { server_.start(); }
    sandbox::Engine& engine() { return server_.engine(); }
    std::u16string connectionString(std::u16string_view database) const
    {
        return u"provider=sqloledb;Server=127.0.0.1," + db::fromUtf8(std::to_string(server_.port()))
            + u";DataBase=" + std::u16string(database) + u";Uid=sa;Pwd=sandbox";
    }

private:
    static sandbox::ServerOptions options()
    {
        sandbox::ServerOptions o;
        o.bindAddress = "127.0.0.1";
        o.port = 0;
        o.password = u"sandbox";
        return o;
    }
    sandbox::Server server_;
};

EDatabaseError errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EDatabaseError& e) {
        return e;
    }
    ADD_FAILURE() << "no EDatabaseError raised";
    return EDatabaseError(u"");
}

std::string trimmed(const db::Variant& v)
{
    std::string s = utf8(db::VarToStr(v));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

class SqlOdbcTest : public ::testing::Test {
protected:
    void connect(std::u16string_view database = u"master")
    {
        conn.SetConnectionString(sandbox.connectionString(database));
        conn.Open();
    }

    TADODataSet& query(const std::u16string& sql)
    {
        ds.Close();
        ds.SetConnection(&conn);
        ds.SetCommandText(sql);
        ds.Open();
        return ds;
    }

    const sandbox::DbFile& file(const std::u16string& db, std::int16_t id)
    {
        snapshot = sandbox.engine().catalog();
        for (const auto& f : snapshot.find(db)->files)
            if (f.fileId == id)
                return f;
        throw std::runtime_error("no such file");
    }

    // Pages of the log in VLFs that hold log not yet truncated.
    std::int32_t inactive(const std::u16string& db) { return sandbox::pagesIn(file(db, 2).vlfs, sandbox::VlfState::Inactive); }

    Sandbox sandbox;
    TADOConnection conn;
    TADODataSet ds;
    sandbox::Catalog snapshot;
};

TEST_F(SqlOdbcTest, SysdatabasesArriveInDbidOrderWithTheirTypes)
{
    connect();
    TADODataSet& d = query(u"Select * From sysdatabases order by [DbId]");
    ASSERT_EQ(d.RecordCount(), 6);
    const std::vector<std::string> expected = {"master", "tempdb", "model", "msdb", "GameDB", "AccountDB"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(utf8(d.FieldValue(u"name").AsText()), expected[static_cast<std::size_t>(i)]);
        EXPECT_EQ(d.FieldValue(u"dbid").AsInteger(), i + 1);
        EXPECT_EQ(d.FieldValue(u"cmptlevel").AsInteger(), 80);
        d.Next();
    }
    query(u"select * from master.dbo.sysdatabases where name = N'GameDB'");
    ASSERT_EQ(ds.RecordCount(), 1);
    EXPECT_EQ(utf8(ds.FieldValue(u"filename").AsText()),
              "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\data\\GameDB_Data.MDF");
    EXPECT_EQ(ds.FieldValue(u"sid").AsBytes(), std::vector<std::uint8_t>{0x01});
    EXPECT_EQ(ds.FieldValue(u"crdate").AsDateTime().year, 2005);
    EXPECT_EQ(ds.FieldValue(u"status").AsInteger() & 8, 0);
}

TEST_F(SqlOdbcTest, SysfilesOfTheLoginDatabase)
{
    connect(u"GameDB");
    TADODataSet& d = query(u"select * from sysfiles where fileid>1 order By fileid");
    ASSERT_EQ(d.RecordCount(), 1);
    EXPECT_EQ(d.FieldValue(u"fileid").AsInteger(), 2);
    EXPECT_EQ(d.FieldValue(u"size").AsInteger(), 262144);
    EXPECT_EQ(d.FieldValue(u"status").AsInteger() & 0x40, 0x40);
    EXPECT_EQ(d.FieldValue(u"name").AsText().size(), 128u);  // nchar(128), blank-padded
    EXPECT_EQ(trimmed(d.FieldValue(u"name")), "GameDB_Log");
    EXPECT_EQ(trimmed(d.FieldValue(u"filename")), "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\data\\GameDB_Log.LDF");

    query(u"select * from sysfiles where [name]='GameDB_Data'");
    ASSERT_EQ(ds.RecordCount(), 1);
    EXPECT_EQ(ds.FieldValue(u"fileid").AsInteger(), 1);
}

TEST_F(SqlOdbcTest, TheLogCleaningStepsChangeTheCatalog)
{
    connect();
    conn.Execute(u"exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'True'");
    EXPECT_TRUE(sandbox.engine().catalog().find(u"GameDB")->truncLogOnCheckpoint());
    conn.Execute(u"BACKUP LOG [GameDB] WITH TRUNCATE_ONLY");
    EXPECT_EQ(inactive(u"GameDB"), 0);
    conn.Execute(u"exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'False'");
    EXPECT_FALSE(sandbox.engine().catalog().find(u"GameDB")->truncLogOnCheckpoint());

    conn.Execute(u"use GameDB");
    TADODataSet& d = query(u"DBCC SHRINKFILE (GameDB_Log, 10)");
    ASSERT_EQ(d.RecordCount(), 1);
    EXPECT_EQ(d.FieldValue(u"DbId").AsInteger(), 5);
    EXPECT_EQ(d.FieldValue(u"CurrentSize").AsInteger(), 1280);
    EXPECT_EQ(file(u"GameDB", 2).size, 1280);
}

TEST_F(SqlOdbcTest, ShrinkOfALogInUseStillReturnsItsRow)
{
    connect(u"AccountDB");
    // 9008 is informational: the result set follows it. In FULL the VLF at
    // the end holds log not yet backed up, so nothing goes.
    TADODataSet& d = query(u"DBCC SHRINKFILE (2, 1)");
    ASSERT_EQ(d.RecordCount(), 1);
    EXPECT_EQ(d.FieldValue(u"CurrentSize").AsInteger(), 6400);
    EXPECT_EQ(file(u"AccountDB", 2).size, 6400);
}

TEST_F(SqlOdbcTest, ServerErrorsCarryTheirNumbers)
{
    connect();
    struct Case {
        const char16_t* sql;
        long number;
        const char* text;
    };
    const Case cases[] = {
        {u"use nodb", 911, "Could not locate entry in sysdatabases for database 'nodb'."},
        {u"DBCC SHRINKFILE (, 10)", 170, "Line 1: Incorrect syntax near ','"},
        {u"exec sp_dboption 'NoDB', 'trunc. log on chkpt.', 'true'", 15010, "The database 'NoDB' does not exist."},
        {u"exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'perhaps'", 15241, "Usage: sp_dboption"},
        {u"select * from nothing", 208, "Invalid object name 'nothing'"},
        {u"DBCC SHRINKFILE (nofile, 10)", 8985, "Could not locate file 'nofile' in sysfiles"},
        {u"COMMIT", 3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION"},
    };
    // (The data layer drops a message's final full stop, as ADO does.)
    for (const Case& c : cases) {
        const EDatabaseError e = errorOf([&] { conn.Execute(c.sql); });
        EXPECT_EQ(e.NativeError(), c.number) << utf8(c.sql);
        EXPECT_NE(utf8(e.Message()).find(c.text), std::string::npos) << utf8(e.Message());
    }
    EXPECT_TRUE(conn.Connected());
}

TEST_F(SqlOdbcTest, BackupIsRefusedInsideATransaction)
{
    connect();
    const std::int32_t before = inactive(u"GameDB");
    conn.Execute(u"BEGIN TRANSACTION");
    EDatabaseError e = errorOf([&] { conn.Execute(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY"); });
    EXPECT_EQ(e.NativeError(), 3021);
    e = errorOf([&] { conn.Execute(u"exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'true'"); });
    EXPECT_EQ(e.NativeError(), 226);
    conn.Execute(u"ROLLBACK");
    EXPECT_EQ(inactive(u"GameDB"), before);
    EXPECT_FALSE(sandbox.engine().catalog().find(u"GameDB")->truncLogOnCheckpoint());

    // Implicit-transaction mode refuses a backup before any transaction is
    // open, as a real server does.
    const std::int64_t accountBefore = inactive(u"AccountDB");
    conn.Execute(u"SET IMPLICIT_TRANSACTIONS ON");
    e = errorOf([&] { conn.Execute(u"BACKUP LOG AccountDB WITH TRUNCATE_ONLY"); });
    EXPECT_EQ(e.NativeError(), 3021);
    EXPECT_EQ(inactive(u"AccountDB"), accountBefore);
    conn.Execute(u"SET IMPLICIT_TRANSACTIONS OFF");
    conn.Execute(u"BACKUP LOG AccountDB WITH TRUNCATE_ONLY");
    EXPECT_EQ(inactive(u"AccountDB"), 0);
}

TEST_F(SqlOdbcTest, FaultsReachTheClient)
{
    connect();
    sandbox::Fault error;
    error.pattern = "^BACKUP LOG";
    error.error.number = 3201;
    error.error.severity = 16;
    error.error.text = u"Cannot open backup device 'x'.";
    sandbox.engine().addFault(error);
    const EDatabaseError e = errorOf([&] { conn.Execute(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY"); });
    EXPECT_EQ(e.NativeError(), 3201);
    EXPECT_NE(utf8(e.Message()).find("Cannot open backup device"), std::string::npos);

    sandbox::Fault drop;
    drop.action = sandbox::Fault::Action::Drop;
    drop.pattern = "shrinkfile";
    sandbox.engine().addFault(drop);
    errorOf([&] { conn.Execute(u"use GameDB DBCC SHRINKFILE (GameDB_Log, 10)"); });
    EXPECT_FALSE(conn.Connected());
    EXPECT_EQ(file(u"GameDB", 2).size, 262144);
}

TEST_F(SqlOdbcTest, OddDatabaseNames)
{
    sandbox.engine().setCatalog(sandbox::Catalog::fromJson(R"({"databases":[
        {"name":"master"},
        {"name":"游戏 数据","files":[{"name":"游戏 数据_Data"},{"name":"游戏 数据_Log","size":2560,"logStart":560,"activePages":64,"inactivePages":2000}]},
        {"name":"Guild's [Old]; Archive"}]})"));
    connect(u"游戏 数据");
    EXPECT_EQ(utf8(query(u"select db_name() as v").FieldValue(u"v").AsText()), "游戏 数据");
    query(u"select * from sysfiles where name = N'游戏 数据_Log'");
    ASSERT_EQ(ds.RecordCount(), 1);
    conn.Execute(u"backup log [游戏 数据] with truncate_only dbcc shrinkfile (N'游戏 数据_Log', 1)");
    EXPECT_EQ(file(u"游戏 数据", 2).size, 1265);  // two VLFs at the least

    conn.Execute(u"use [Guild's [Old]]; Archive]");
    EXPECT_EQ(utf8(query(u"select db_name() as v").FieldValue(u"v").AsText()), "Guild's [Old]; Archive");
    conn.Execute(u"exec sp_dboption N'Guild''s [Old]; Archive', 'trunc. log on chkpt.', 'true'");
    EXPECT_TRUE(sandbox.engine().catalog().find(u"Guild's [Old]; Archive")->truncLogOnCheckpoint());
}

} // namespace
