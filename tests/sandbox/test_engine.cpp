// The sandbox's SQL engine through a recording sink: statements, errors,
// batches, transactions and the catalog changes they make.
#include "RecordingSink.h"

#include "sandbox/sql/Engine.h"

#include <gtest/gtest.h>

#include <QString>

#include <thread>

using namespace sandbox;
using testsupport::RecordingSink;

namespace {

std::string utf8(const char16_t* s) { return QString::fromUtf16(s).toStdString(); }

std::int64_t num(const Value& v) { return std::get<std::int64_t>(v); }
std::u16string str(const Value& v) { return std::get<std::u16string>(v); }

std::u16string rtrim(std::u16string s)
{
    while (!s.empty() && s.back() == u' ')
        s.pop_back();
    return s;
}

DbFile fileOf(const Catalog& c, const std::u16string& db, std::int16_t fileId)
{
    for (const DbFile& f : c.find(db)->files)
        if (f.fileId == fileId)
            return f;
    throw std::runtime_error("no such file");
}

// Pages of the database's log in VLFs that hold log not yet truncated.
std::int32_t inactivePages(const Catalog& c, const std::u16string& db)
{
    return pagesIn(fileOf(c, db, 2).vlfs, VlfState::Inactive);
}

class EngineTest : public ::testing::Test {
protected:
    RecordingSink run(const std::u16string& batch)
    {
        RecordingSink sink;
        engine.runBatch(session, batch, sink);
        return sink;
    }

    Engine engine{Catalog::defaults()};
    SessionState session;
};

// --- sysdatabases ------------------------------------------------------------

TEST_F(EngineTest, SysdatabasesHasSqlServer2000ColumnsAndDbidOrder)
{
    const RecordingSink r = run(u"Select * From sysdatabases order by [DbId]");
    ASSERT_EQ(r.resultSets.size(), 1u);
    const auto& cols = r.resultSets[0].columns;
    const std::vector<std::u16string> names = {u"name",   u"dbid",     u"sid",      u"mode",     u"status",    u"status2",
                                               u"crdate", u"reserved", u"category", u"cmptlevel", u"filename", u"version"};
    ASSERT_EQ(cols.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(cols[i].name, names[i]);
    EXPECT_EQ(cols[0].type, SqlType::NVarChar);
    EXPECT_EQ(cols[0].maxLength, 128);
    EXPECT_FALSE(cols[0].nullable);
    EXPECT_EQ(cols[1].type, SqlType::SmallInt);
    EXPECT_EQ(cols[2].type, SqlType::VarBinary);
    EXPECT_TRUE(cols[2].nullable);
    EXPECT_EQ(cols[6].type, SqlType::DateTime);
    EXPECT_EQ(cols[9].type, SqlType::TinyInt);
    EXPECT_EQ(cols[10].type, SqlType::NVarChar);
    EXPECT_EQ(cols[10].maxLength, 260);
    EXPECT_TRUE(cols[10].nullable);

    const auto& rows = r.resultSets[0].rows;
    ASSERT_EQ(rows.size(), 6u);
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(num(rows[i][1]), static_cast<std::int64_t>(i + 1));
    EXPECT_EQ(str(rows[0][0]), u"master");
    EXPECT_EQ(str(rows[0][10]), u"C:\\Program Files\\Microsoft SQL Server\\MSSQL\\data\\master.mdf");
    EXPECT_EQ(std::get<std::vector<std::uint8_t>>(rows[0][2]), std::vector<std::uint8_t>{0x01});
    EXPECT_EQ(std::get<DateTime>(rows[0][6]), (DateTime{36742, 1605675}));  // 2000-08-06 01:29:12.250
    EXPECT_EQ(num(rows[4][9]), 80);
    EXPECT_EQ(num(rows[4][11]), 539);

    ASSERT_EQ(r.dones.size(), 1u);
    EXPECT_EQ(r.dones[0].status, done::Count);
    EXPECT_EQ(r.dones[0].curCmd, curcmd::Select);
    EXPECT_EQ(r.dones[0].rowCount, 6u);
}

TEST_F(EngineTest, SysdatabasesQualifiedNamesOrderingAndProjection)
{
    for (const auto* q : {u"select * from master..sysdatabases", u"SELECT * FROM master.dbo.sysdatabases",
                          u"select * from [master].[dbo].[sysdatabases] order by dbid asc"}) {
        const RecordingSink r = run(q);
        ASSERT_EQ(r.resultSets.size(), 1u) << utf8(q);
        EXPECT_EQ(r.resultSets[0].rows.size(), 6u);
    }
    RecordingSink r = run(u"select name, dbid from master..sysdatabases order by name desc");
    ASSERT_EQ(r.resultSets.size(), 1u);
    ASSERT_EQ(r.resultSets[0].columns.size(), 2u);
    EXPECT_EQ(str(r.resultSets[0].rows[0][0]), u"tempdb");
    EXPECT_EQ(str(r.resultSets[0].rows[5][0]), u"AccountDB");

    r = run(u"select name from sysdatabases where dbid > 4 and name <> 'GameDB'");
    ASSERT_EQ(r.resultSets.size(), 1u);
    ASSERT_EQ(r.resultSets[0].rows.size(), 1u);
    EXPECT_EQ(str(r.resultSets[0].rows[0][0]), u"AccountDB");
}

TEST_F(EngineTest, SysdatabasesExistsOnlyInMasterAndUnknownNamesFail)
{
    session.database = u"GameDB";
    RecordingSink r = run(u"select * from sysdatabases");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{208});
    EXPECT_EQ(r.messages[0].text, u"Invalid object name 'sysdatabases'.");
    EXPECT_EQ(r.messages[0].severity, 16);
    EXPECT_EQ(r.dones.back().status, done::Error);

    r = run(u"select * from master..sysdatabases");
    EXPECT_TRUE(r.messages.empty());

    r = run(u"select * from dbo.nosuchtable");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{208});
    EXPECT_EQ(r.messages[0].text, u"Invalid object name 'dbo.nosuchtable'.");

    r = run(u"select nosuchcolumn from master..sysdatabases");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{207});
    EXPECT_EQ(r.messages[0].text, u"Invalid column name 'nosuchcolumn'.");

    r = run(u"select * from nodb..sysfiles");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{911});
}

// --- sysfiles ----------------------------------------------------------------

TEST_F(EngineTest, SysfilesOfTheCurrentDatabaseArePadded)
{
    session.database = u"GameDB";
    const RecordingSink r = run(u"select * from sysfiles where fileid>1 order By fileid");
    ASSERT_EQ(r.resultSets.size(), 1u);
    const auto& cols = r.resultSets[0].columns;
    ASSERT_EQ(cols.size(), 9u);
    EXPECT_EQ(cols[0].name, u"fileid");
    EXPECT_EQ(cols[0].type, SqlType::SmallInt);
    EXPECT_EQ(cols[7].name, u"name");
    EXPECT_EQ(cols[7].type, SqlType::NChar);
    EXPECT_EQ(cols[7].maxLength, 128);
    EXPECT_EQ(cols[8].maxLength, 260);

    ASSERT_EQ(r.resultSets[0].rows.size(), 1u);
    const Row& log = r.resultSets[0].rows[0];
    EXPECT_EQ(num(log[0]), 2);
    EXPECT_EQ(num(log[1]), 0);
    EXPECT_EQ(num(log[2]), 262144);
    EXPECT_EQ(num(log[5]) & 0x40, 0x40);
    EXPECT_EQ(str(log[7]).size(), 128u);
    EXPECT_EQ(rtrim(str(log[7])), u"GameDB_Log");
    EXPECT_EQ(str(log[8]).size(), 260u);
    EXPECT_EQ(r.dones.back().rowCount, 1u);
    EXPECT_EQ(r.dones.back().status, done::Count);
}

TEST_F(EngineTest, SysfilesFiltersByNameAndId)
{
    session.database = u"GameDB";
    for (const auto* q : {u"select * from sysfiles where [name]='GameDB_Log'",
                          u"select * from sysfiles where name=N'gamedb_log  '", u"select * from sysfiles where fileid=2",
                          u"select * from sysfiles where fileid='2'", u"select * from GameDB.dbo.sysfiles where 2 = fileid"}) {
        const RecordingSink r = run(q);
        ASSERT_EQ(r.resultSets.size(), 1u) << utf8(q);
        ASSERT_EQ(r.resultSets[0].rows.size(), 1u) << utf8(q);
        EXPECT_EQ(num(r.resultSets[0].rows[0][0]), 2);
    }
    RecordingSink r = run(u"select * from sysfiles");
    ASSERT_EQ(r.resultSets.size(), 1u);
    EXPECT_EQ(r.resultSets[0].rows.size(), 2u);
    r = run(u"select * from sysfiles where name='nothing'");
    EXPECT_TRUE(r.resultSets.at(0).rows.empty());
    EXPECT_EQ(r.dones.back().rowCount, 0u);
    r = run(u"select * from sysfiles where fileid='x'");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{245});
}

// --- USE -----------------------------------------------------------------------

TEST_F(EngineTest, UseChangesDatabaseAndReports5701)
{
    const RecordingSink r = run(u"USE [gamedb]");
    ASSERT_EQ(r.changes.size(), 1u);
    EXPECT_EQ(r.changes[0].first, u"GameDB");
    EXPECT_EQ(r.changes[0].second, u"master");
    EXPECT_EQ(session.database, u"GameDB");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{5701});
    EXPECT_EQ(r.messages[0].text, u"Changed database context to 'GameDB'.");
    EXPECT_EQ(r.messages[0].severity, 10);
    EXPECT_EQ(r.trace, (std::vector<std::string>{"envchange", "msg 5701", "done"}));
}

TEST_F(EngineTest, UseUnknownOrOfflineDatabaseFails)
{
    RecordingSink r = run(u"use nodb");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{911});
    EXPECT_EQ(r.messages[0].text, u"Could not locate entry in sysdatabases for database 'nodb'. No entry found with "
                                  u"that name. Make sure that the name is entered correctly.");
    EXPECT_EQ(r.messages[0].severity, 16);
    EXPECT_EQ(session.database, u"master");
    EXPECT_TRUE(r.changes.empty());

    Catalog c = Catalog::defaults();
    c.find(u"AccountDB")->state = sandbox::DatabaseState::Offline;
    engine.setCatalog(c);
    r = run(u"use AccountDB");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{942});
    EXPECT_EQ(r.messages[0].severity, 14);
    EXPECT_EQ(r.messages[0].text, u"Database 'AccountDB' cannot be opened because it is offline.");
    EXPECT_EQ(session.database, u"master");
}

// --- sp_dboption -----------------------------------------------------------------

TEST_F(EngineTest, DbOptionSetsAndClearsTruncLogOnCheckpoint)
{
    RecordingSink r = run(u"exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'True'");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_TRUE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());
    ASSERT_FALSE(r.dones.empty());
    EXPECT_EQ(r.dones.back().kind, DoneKind::DoneProc);
    EXPECT_EQ(r.dones.back().curCmd, curcmd::Exec);
    EXPECT_EQ(r.dones.back().status, 0);
    for (std::size_t i = 0; i + 1 < r.dones.size(); ++i)
        EXPECT_EQ(r.dones[i].kind, DoneKind::DoneInProc);

    r = run(u"EXECUTE master.dbo.sp_dboption N'GameDB', N'trunc.', N'off'");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_FALSE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());
    const std::int32_t before = engine.catalog().find(u"GameDB")->status;

    r = run(u"EXEC sp_dboption GameDB, 'TRUNC. LOG', true");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(engine.catalog().find(u"GameDB")->status, before | 8);
}

TEST_F(EngineTest, DbOptionErrors)
{
    struct Case {
        const char16_t* sql;
        int number;
        const char16_t* text;
    };
    const Case cases[] = {
        {u"exec sp_dboption 'NoDB', 'trunc. log on chkpt.', 'true'", 15010,
         u"The database 'NoDB' does not exist. Use sp_helpdb to show available databases."},
        {u"exec sp_dboption 'GameDB', 'no such option', 'true'", 15011, u"Database option 'no such option' does not exist."},
        {u"exec sp_dboption 'GameDB', 'ANSI', 'true'", 15242, u"Database option 'ANSI' is not unique."},
        {u"exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'maybe'", 15241,
         u"Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]"},
        {u"exec sp_dbopshun 'GameDB', 'trunc. log on chkpt.', 'true'", 2812,
         u"Could not find stored procedure 'sp_dbopshun'."},
    };
    for (const Case& c : cases) {
        const RecordingSink r = run(c.sql);
        ASSERT_EQ(r.messageNumbers(), std::vector<int>{c.number}) << utf8(c.sql);
        EXPECT_EQ(r.messages[0].text, c.text);
        EXPECT_EQ(r.messages[0].severity, 16);
        EXPECT_EQ(r.dones.back().status & done::Error, done::Error);
    }
    EXPECT_FALSE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());
}

TEST_F(EngineTest, DbOptionIsRefusedInsideATransaction)
{
    const RecordingSink r = run(u"begin tran exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'true'");
    ASSERT_EQ(r.messageNumbers(), (std::vector<int>{226, 15627}));
    EXPECT_EQ(r.messages[0].text, u"ALTER DATABASE statement not allowed within multi-statement transaction.");
    EXPECT_EQ(r.messages[0].severity, 16);
    EXPECT_EQ(r.messages[0].procName, u"sp_dboption");
    EXPECT_EQ(r.messages[1].severity, 10);
    EXPECT_EQ(r.dones.back().kind, DoneKind::DoneProc);
    EXPECT_EQ(r.dones.back().status, done::Error);
    EXPECT_FALSE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());
    EXPECT_EQ(session.tranCount, 1);
}

// --- BACKUP LOG ------------------------------------------------------------------

TEST_F(EngineTest, BackupLogTruncateOnlyFreesInactiveLog)
{
    const std::int32_t active = pagesIn(fileOf(engine.catalog(), u"GameDB", 2).vlfs, VlfState::Active);
    EXPECT_GT(inactivePages(engine.catalog(), u"GameDB"), 0);
    const RecordingSink r = run(u"BACKUP LOG [GameDB] WITH TRUNCATE_ONLY");
    EXPECT_TRUE(r.messages.empty());
    ASSERT_EQ(r.dones.size(), 1u);
    EXPECT_EQ(r.dones[0].status, 0);
    const DbFile log = fileOf(engine.catalog(), u"GameDB", 2);
    EXPECT_EQ(pagesIn(log.vlfs, VlfState::Inactive), 0);
    EXPECT_EQ(pagesIn(log.vlfs, VlfState::Active), active);  // the VLFs holding the 640 active pages
    EXPECT_EQ(log.size, 262144);  // truncation frees space inside the file; only a shrink makes it smaller

    EXPECT_TRUE(run(u"backup log AccountDB with no_log").messages.empty());
    EXPECT_EQ(inactivePages(engine.catalog(), u"AccountDB"), 0);
}

TEST_F(EngineTest, CheckpointFreesTheLogOnlyWithTruncLogOnChkpt)
{
    session.database = u"GameDB";
    const std::int32_t before = inactivePages(engine.catalog(), u"GameDB");
    EXPECT_TRUE(run(u"CHECKPOINT").messages.empty());
    EXPECT_EQ(inactivePages(engine.catalog(), u"GameDB"), before);
    run(u"exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'true'");
    EXPECT_EQ(inactivePages(engine.catalog(), u"GameDB"), before);
    run(u"checkpoint");
    EXPECT_EQ(inactivePages(engine.catalog(), u"GameDB"), 0);
    EXPECT_GT(inactivePages(engine.catalog(), u"AccountDB"), 0);
}

TEST_F(EngineTest, BackupLogInsideATransactionOrOfAnUnknownDatabaseFails)
{
    const std::int32_t before = inactivePages(engine.catalog(), u"GameDB");
    RecordingSink r = run(u"BEGIN TRANSACTION\nBACKUP LOG GameDB WITH TRUNCATE_ONLY");
    ASSERT_EQ(r.messageNumbers(), (std::vector<int>{3021, 3013}));
    EXPECT_EQ(r.messages[0].severity, 16);
    EXPECT_EQ(r.messages[1].text, u"BACKUP LOG is terminating abnormally.");
    EXPECT_EQ(r.messages[1].line, 2);
    EXPECT_EQ(r.dones.back().status, done::Error);
    EXPECT_EQ(inactivePages(engine.catalog(), u"GameDB"), before);

    session.tranCount = 0;
    r = run(u"BACKUP LOG NoDB WITH TRUNCATE_ONLY");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{911});
}

// --- DBCC SHRINKFILE ---------------------------------------------------------------

TEST_F(EngineTest, ShrinkLogAfterTruncationReachesTarget)
{
    session.database = u"GameDB";
    run(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY");
    const RecordingSink r = run(u"DBCC SHRINKFILE (GameDB_Log, 10)");
    ASSERT_EQ(r.resultSets.size(), 1u);
    const auto& cols = r.resultSets[0].columns;
    ASSERT_EQ(cols.size(), 6u);
    EXPECT_EQ(cols[0].name, u"DbId");
    EXPECT_EQ(cols[0].type, SqlType::SmallInt);
    EXPECT_EQ(cols[1].name, u"FileId");
    EXPECT_EQ(cols[5].name, u"EstimatedPages");
    EXPECT_EQ(cols[5].type, SqlType::Int);
    const Row& row = r.resultSets[0].rows.at(0);
    EXPECT_EQ(num(row[0]), 5);
    EXPECT_EQ(num(row[1]), 2);
    EXPECT_EQ(num(row[2]), 1280);  // 10 MB: the log's size at creation, a VLF boundary
    EXPECT_EQ(num(row[3]), 1280);  // MinimumSize: the size at creation
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{2528});
    EXPECT_EQ(r.dones.back().status, done::Count);
    EXPECT_EQ(r.dones.back().curCmd, curcmd::Dbcc);
    EXPECT_EQ(fileOf(engine.catalog(), u"GameDB", 2).size, 1280);
}

TEST_F(EngineTest, ShrinkLogThatIsInUseStopsAtItsMinimumWith9008)
{
    session.database = u"GameDB";
    RecordingSink r = run(u"DBCC SHRINKFILE (2, 10)");
    ASSERT_EQ(r.messageNumbers(), (std::vector<int>{9008, 2528}));
    EXPECT_EQ(r.messages[0].text, u"Cannot shrink log file 2 (GameDB_Log) because all logical log files are in use.");
    EXPECT_EQ(r.messages[0].severity, 10);
    // In FULL the VLF at the end holds log not yet backed up: nothing goes.
    EXPECT_EQ(num(r.resultSets.at(0).rows.at(0)[2]), 262144);
    EXPECT_EQ(fileOf(engine.catalog(), u"GameDB", 2).size, 262144);

    run(u"backup log GameDB with truncate_only");
    r = run(u"dbcc shrinkfile ('GameDB_Log', 1)");  // 128 pages: below the active 640
    EXPECT_EQ(r.messageNumbers(), (std::vector<int>{9008, 2528}));
    EXPECT_EQ(fileOf(engine.catalog(), u"GameDB", 2).size, 937);  // the end of the third VLF, which holds page 640

    r = run(u"DBCC SHRINKFILE ([GameDB_Log]) WITH NO_INFOMSGS");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(r.resultSets.size(), 1u);
}

TEST_F(EngineTest, DbccLogInfoNamesItsDatabaseOrReadsTheCurrentOne)
{
    session.database = u"GameDB";
    struct Case {
        const char16_t* sql;
        std::vector<int> messages;
        std::size_t rows;
    };
    // GameDB's log: 4 VLFs made at 10 MB, 16 by its growth to 2 GB.
    const Case cases[] = {
        {u"DBCC LOGINFO", {2528}, 20},
        {u"DBCC LOGINFO (5) WITH NO_INFOMSGS", {}, 20},
        {u"dbcc loginfo ('master')", {2528}, 4},
        {u"DBCC LOGINFO (NoDB)", {911}, 0},
    };
    for (const Case& c : cases) {
        const RecordingSink r = run(c.sql);
        EXPECT_EQ(r.messageNumbers(), c.messages) << utf8(c.sql);
        EXPECT_EQ(r.resultSets.empty() ? 0u : r.resultSets[0].rows.size(), c.rows) << utf8(c.sql);
    }
    const RecordingSink r = run(u"DBCC LOGINFO");
    ASSERT_EQ(r.resultSets.size(), 1u);
    EXPECT_EQ(r.resultSets[0].columns.at(0).name, u"FileId");  // 2000: no RecoveryUnitId
    EXPECT_EQ(r.dones.back().curCmd, curcmd::Dbcc);
}

TEST_F(EngineTest, ShrinkDataFileAndUnknownFile)
{
    session.database = u"AccountDB";
    RecordingSink r = run(u"DBCC SHRINKFILE (AccountDB_Data, 20)");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{2528});
    EXPECT_EQ(fileOf(engine.catalog(), u"AccountDB", 1).size, 4800);  // used pages stay
    r = run(u"DBCC SHRINKFILE (AccountDB_Data, 100)");                 // larger than the file: no change
    EXPECT_EQ(fileOf(engine.catalog(), u"AccountDB", 1).size, 4800);

    r = run(u"DBCC SHRINKFILE (GameDB_Log, 10)");  // a file of another database
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{8985});
    EXPECT_EQ(r.messages[0].text, u"Could not locate file 'GameDB_Log' in sysfiles.");
    EXPECT_EQ(r.messages[0].severity, 16);
    EXPECT_TRUE(r.resultSets.empty());

    r = run(u"DBCC CHECKDB (AccountDB)");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{2526});
}

TEST_F(EngineTest, ShrinkWithEmptyNameIsASyntaxErrorThatRunsNothing)
{
    const RecordingSink r = run(u"use GameDB DBCC SHRINKFILE (, 10)");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{170});
    EXPECT_EQ(r.messages[0].text, u"Line 1: Incorrect syntax near ','.");
    EXPECT_EQ(r.messages[0].severity, 15);
    EXPECT_TRUE(r.changes.empty());
    EXPECT_EQ(session.database, u"master");
    ASSERT_EQ(r.dones.size(), 1u);
    EXPECT_EQ(r.dones[0].status, done::Error);
}

// --- Batches and syntax --------------------------------------------------------------

TEST_F(EngineTest, SeveralStatementsWithoutSeparators)
{
    const RecordingSink r = run(u"use GameDB\n"
                                u"  select * from sysfiles where fileid>1 order By fileid"
                                u"  /* a comment */ backup log GameDB with truncate_only -- trailing\n"
                                u"dbcc shrinkfile(GameDB_Log, 10);select @@trancount");
    EXPECT_EQ(r.messageNumbers(), (std::vector<int>{5701, 2528}));
    EXPECT_EQ(r.resultSets.size(), 3u);
    EXPECT_EQ(r.dones.size(), 5u);
    EXPECT_EQ(fileOf(engine.catalog(), u"GameDB", 2).size, 1280);
}

TEST_F(EngineTest, SyntaxErrorAnywhereRunsNoneOfTheBatch)
{
    RecordingSink r = run(u"use GameDB\nselect * from sysfiles\nselect * frm sysfiles");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{170});
    EXPECT_EQ(r.messages[0].text, u"Line 3: Incorrect syntax near 'frm'.");
    EXPECT_EQ(r.messages[0].line, 3);
    EXPECT_TRUE(r.resultSets.empty());
    EXPECT_EQ(session.database, u"master");

    r = run(u"select * from where");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{156});
    EXPECT_EQ(r.messages[0].text, u"Incorrect syntax near the keyword 'where'.");

    r = run(u"select 'unterminated");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{105});
    r = run(u"select 1 /* unterminated");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{113});
    r = run(u"select 1 )");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{170});
    EXPECT_EQ(r.messages[0].text, u"Line 1: Incorrect syntax near ')'.");
    r = run(u"select 1 from");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{156});
    EXPECT_EQ(r.messages[0].text, u"Incorrect syntax near the keyword 'from'.");
    // A batch may start with a procedure's name alone.
    r = run(u"sp_who");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{2812});
}

TEST_F(EngineTest, LexicalFormsOfTSql)
{
    // Nested block comments, tabs, CR LF, quoted identifiers of both kinds, N'' strings.
    RecordingSink r = run(u"/* outer /* inner */ still comment */\tUSE\r\n\"GameDB\"\r\n"
                          u"SELECT\t*\tFROM [sysfiles] WHERE [name] = N'GameDB_Log' -- the log\r\n;;"
                          u"select * from sysfiles where name = 'it''s'");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{5701});
    ASSERT_EQ(r.resultSets.size(), 2u);
    EXPECT_EQ(r.resultSets[0].rows.size(), 1u);
    EXPECT_TRUE(r.resultSets[1].rows.empty());

    r = run(u"select 1\r\n\r\n  select 2 +");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{170});
    EXPECT_EQ(r.messages[0].text, u"Line 3: Incorrect syntax near '+'.");
    EXPECT_EQ(r.messages[0].line, 3);

    r = run(u"select @x");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{137});
    EXPECT_EQ(r.messages[0].text, u"Must declare the variable '@x'.");

    r = run(u"use [Game]]DB]");  // ]] is one ]
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{911});
    EXPECT_EQ(r.messages[0].text.substr(0, 61), u"Could not locate entry in sysdatabases for database 'Game]DB'");

    r = run(u"  ");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(r.dones.size(), 1u);  // an empty batch still ends with DONE
}

TEST_F(EngineTest, ErrorsEndTheirStatementAndTheBatchGoesOn)
{
    const RecordingSink r = run(u"use nodb\nselect 1\n\nuse GameDB");
    EXPECT_EQ(r.messageNumbers(), (std::vector<int>{911, 5701}));
    EXPECT_EQ(r.messages[0].line, 1);
    EXPECT_EQ(r.messages[1].line, 4);
    ASSERT_EQ(r.dones.size(), 3u);
    EXPECT_EQ(r.dones[0].status, done::Error);
    EXPECT_EQ(r.dones[1].status, done::Count);
    EXPECT_EQ(session.database, u"GameDB");
}

TEST_F(EngineTest, ScalarSelectsAndSetsAndPrint)
{
    session.spid = 57;
    engine.setServerName(u"GAMEHOST");
    RecordingSink r = run(u"SET TEXTSIZE 2147483647 SET ANSI_NULLS ON\nset quoted_identifier, ansi_warnings off "
                          u"SET LANGUAGE us_english SET TRANSACTION ISOLATION LEVEL READ COMMITTED "
                          u"SET LOCK_TIMEOUT -1 select @@spid, @@version, @@servername, 42, N'x''y' as label, db_name()");
    EXPECT_TRUE(r.messages.empty());
    ASSERT_EQ(r.resultSets.size(), 1u);
    const auto& set = r.resultSets[0];
    EXPECT_EQ(set.columns[0].name, u"");
    EXPECT_EQ(set.columns[0].type, SqlType::SmallInt);
    EXPECT_EQ(num(set.rows[0][0]), 57);
    EXPECT_NE(str(set.rows[0][1]).find(u"8.00.2039"), std::u16string::npos);
    EXPECT_EQ(str(set.rows[0][2]), u"GAMEHOST");
    EXPECT_EQ(num(set.rows[0][3]), 42);
    EXPECT_EQ(set.columns[4].name, u"label");
    EXPECT_EQ(str(set.rows[0][4]), u"x'y");
    EXPECT_EQ(str(set.rows[0][5]), u"master");

    r = run(u"print 'hello'");
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].number, 0);
    EXPECT_EQ(r.messages[0].text, u"hello");

    r = run(u"set nocount on select * from master..sysdatabases");
    EXPECT_EQ(r.dones.back().status & done::Count, 0);
}

// --- Transactions --------------------------------------------------------------------

TEST_F(EngineTest, ExplicitTransactionCounting)
{
    run(u"BEGIN TRAN BEGIN TRANSACTION outer_tx");
    EXPECT_EQ(session.tranCount, 2);
    run(u"COMMIT");
    EXPECT_EQ(session.tranCount, 1);
    run(u"ROLLBACK TRANSACTION");
    EXPECT_EQ(session.tranCount, 0);

    RecordingSink r = run(u"COMMIT TRAN");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{3902});
    EXPECT_EQ(r.messages[0].severity, 16);
    r = run(u"ROLLBACK WORK");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{3903});

    r = run(u"begin tran select @@TRANCOUNT");
    EXPECT_EQ(num(r.resultSets.at(0).rows.at(0)[0]), 1);
    engine.sessionClosed(session);
    EXPECT_EQ(session.tranCount, 0);
}

TEST_F(EngineTest, FreeTdsCommitAndRollbackAreTwoStatements)
{
    session.tranCount = 1;
    RecordingSink r = run(u"IF @@TRANCOUNT > 0 COMMIT BEGIN TRANSACTION");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(session.tranCount, 1);
    EXPECT_EQ(r.dones.size(), 2u);

    run(u"BEGIN TRAN");
    r = run(u"IF @@TRANCOUNT > 0 ROLLBACK BEGIN TRANSACTION");
    EXPECT_EQ(session.tranCount, 1);
    r = run(u"IF @@TRANCOUNT > 0 ROLLBACK");
    EXPECT_EQ(session.tranCount, 0);
    r = run(u"IF @@TRANCOUNT > 0 ROLLBACK");  // nothing to roll back: no error
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(session.tranCount, 0);
}

TEST_F(EngineTest, ImplicitTransactionsOpenOnTableSelectAndBlockBackup)
{
    run(u"SET IMPLICIT_TRANSACTIONS ON");
    EXPECT_TRUE(session.implicitTransactions);
    RecordingSink r = run(u"select @@trancount");
    EXPECT_EQ(session.tranCount, 0);

    // The mode alone refuses a backup, though no transaction is open; DBCC runs.
    r = run(u"BACKUP LOG AccountDB WITH TRUNCATE_ONLY");
    EXPECT_EQ(r.messageNumbers(), (std::vector<int>{3021, 3013}));
    r = run(u"DBCC SHRINKFILE (mastlog, 1)");
    EXPECT_EQ(session.tranCount, 0);

    // A table select opens one, and the backup is refused as well.
    r = run(u"select * from master..sysdatabases BACKUP LOG GameDB WITH TRUNCATE_ONLY");
    EXPECT_EQ(session.tranCount, 1);
    EXPECT_EQ(r.messageNumbers(), (std::vector<int>{3021, 3013}));
    run(u"IF @@TRANCOUNT > 0 COMMIT");
    EXPECT_EQ(session.tranCount, 0);
    run(u"SET IMPLICIT_TRANSACTIONS OFF select * from sysfiles");
    EXPECT_EQ(session.tranCount, 0);
}

TEST_F(EngineTest, RollbackDoesNotUndoCatalogChanges)
{
    run(u"begin tran");
    session.database = u"GameDB";
    run(u"dbcc shrinkfile (GameDB_Data, 1)");
    run(u"rollback");
    EXPECT_EQ(fileOf(engine.catalog(), u"GameDB", 1).size, 51200);
}

// --- Faults --------------------------------------------------------------------------

TEST_F(EngineTest, ErrorFaultFailsOnlyTheMatchingStatement)
{
    Fault f;
    f.action = Fault::Action::Error;
    f.pattern = "backup\\s+log";
    f.error.number = 3201;
    f.error.severity = 16;
    f.error.text = u"Cannot open backup device.";
    engine.addFault(f);
    const RecordingSink r = run(u"select 1\nBACKUP  LOG GameDB WITH TRUNCATE_ONLY select 2");
    ASSERT_EQ(r.messageNumbers(), std::vector<int>{3201});
    EXPECT_EQ(r.messages[0].line, 2);
    EXPECT_EQ(r.resultSets.size(), 2u);
    EXPECT_EQ(r.dones.at(1).status, done::Error);
    EXPECT_GT(inactivePages(engine.catalog(), u"GameDB"), 0);

    engine.clearFaults();
    EXPECT_TRUE(run(u"BACKUP LOG GameDB WITH TRUNCATE_ONLY").messages.empty());
}

TEST_F(EngineTest, InformationalFaultStillCountsAsDone)
{
    Fault f;
    f.pattern = "^select 1$";
    f.error.number = 50000;
    f.error.severity = 10;
    f.error.text = u"just saying";
    engine.addFault(f);
    const RecordingSink r = run(u"SELECT 1");
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.dones.at(0).status, 0);
    EXPECT_TRUE(r.resultSets.empty());
}

TEST_F(EngineTest, DelayAndDropFaults)
{
    Fault delay;
    delay.action = Fault::Action::Delay;
    delay.pattern = "shrinkfile";
    delay.delay = std::chrono::milliseconds(2500);
    engine.addFault(delay);
    Fault drop;
    drop.action = Fault::Action::Drop;
    drop.pattern = "shrinkfile|sp_dboption";  // the delay is first: it wins for shrinkfile
    engine.addFault(drop);

    session.database = u"GameDB";
    RecordingSink r = run(u"dbcc shrinkfile(1, 1)");
    ASSERT_EQ(r.pauses.size(), 1u);
    EXPECT_EQ(r.pauses[0], std::chrono::milliseconds(2500));
    EXPECT_FALSE(r.dropped);
    EXPECT_EQ(r.resultSets.size(), 1u);

    RecordingSink cancelled;
    cancelled.cancelOnPause = true;
    engine.runBatch(session, u"select 1 dbcc shrinkfile(1, 1) select 2", cancelled);
    EXPECT_EQ(cancelled.resultSets.size(), 1u);  // only the first select ran
    EXPECT_EQ(cancelled.trace.back(), "pause");

    r = run(u"select 1 exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'true' select 2");
    EXPECT_TRUE(r.dropped);
    EXPECT_EQ(r.resultSets.size(), 1u);
    EXPECT_EQ(r.trace.back(), "drop");
    EXPECT_FALSE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());

    Fault broken;
    broken.pattern = "(";
    EXPECT_THROW(engine.addFault(broken), std::invalid_argument);
}

// A statement that runs and answers, and only then waits: a cancel in that
// wait comes after the answer. A fault with a count fires that many times.
TEST_F(EngineTest, DelayAfterTheAnswerAndFaultsThatFireOnce)
{
    Fault after;
    after.action = Fault::Action::DelayAfter;
    after.pattern = "recovery simple";
    after.delay = std::chrono::minutes(10);
    engine.addFault(after);
    RecordingSink cancelled;
    cancelled.cancelOnPause = true;
    engine.runBatch(session, u"ALTER DATABASE GameDB SET RECOVERY SIMPLE select 1", cancelled);
    EXPECT_EQ(cancelled.trace, (std::vector<std::string>{"done", "flush", "pause"}));
    EXPECT_TRUE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());

    Fault once;
    once.action = Fault::Action::Drop;
    once.pattern = "recovery full";
    once.times = 1;
    engine.addFault(once);
    EXPECT_TRUE(run(u"ALTER DATABASE GameDB SET RECOVERY FULL").dropped);
    EXPECT_TRUE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());  // it never ran
    EXPECT_FALSE(run(u"ALTER DATABASE GameDB SET RECOVERY FULL").dropped);
    EXPECT_FALSE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());
}

TEST_F(EngineTest, WaitForDelayPausesWithoutTheLock)
{
    const RecordingSink r = run(u"WAITFOR DELAY '00:00:01.5' select 1");
    ASSERT_EQ(r.pauses.size(), 1u);
    EXPECT_EQ(r.pauses[0], std::chrono::milliseconds(1500));
    EXPECT_EQ(r.resultSets.size(), 1u);
}

// --- Concurrency -----------------------------------------------------------------------

TEST_F(EngineTest, SessionsRunConcurrently)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            SessionState s;
            s.spid = static_cast<std::uint16_t>(51 + t);
            for (int i = 0; i < 50; ++i) {
                RecordingSink sink;
                engine.runBatch(s, t % 2 ? u"exec sp_dboption 'GameDB', 'trunc.', 'true'" : u"use GameDB select * from sysfiles",
                                sink);
                if (!sink.messages.empty() && sink.messages[0].number != 5701)
                    ADD_FAILURE() << "unexpected message " << sink.messages[0].number;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_TRUE(engine.catalog().find(u"GameDB")->truncLogOnCheckpoint());
}

} // namespace
