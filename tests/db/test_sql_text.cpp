// The SQL texts of the tool, and names of every shape reaching the server as
// exactly those names.
#include "test_db_sandbox.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/SqlText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace sql = db::sql;
using dbtest::u8;

TEST(SqlText, TheToolsStatementsForOrdinaryNames)
{
    EXPECT_EQ(u8(sql::useDatabase(u"GameDB")), "Use GameDB");
    EXPECT_EQ(u8(sql::selectDatabases()), "Select * From sysdatabases order by [dbid]");
    EXPECT_EQ(u8(sql::selectSecondaryFiles()), "select * from sysfiles where fileid>1 order By fileid");
    EXPECT_EQ(u8(sql::selectFileByName(u"GameDB_Log")), "select * from sysfiles where [name]='GameDB_Log'");
    EXPECT_EQ(u8(sql::setTruncLogOnCheckpoint(u"GameDB", true)),
              "exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'True'");
    EXPECT_EQ(u8(sql::setTruncLogOnCheckpoint(u"GameDB", false)),
              "exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'False'");
    EXPECT_EQ(u8(sql::truncateAndShrink(u"GameDB", u"GameDB_Log")),
              "BACKUP LOG GameDB WITH TRUNCATE_ONLY DBCC SHRINKFILE (GameDB_Log, 10)");
    EXPECT_EQ(u8(sql::truncateAndShrink(u"GameDB", u"")), "BACKUP LOG GameDB WITH TRUNCATE_ONLY DBCC SHRINKFILE (, 10)");
    // Its 'select into/bulkcopy' decides the model once 'trunc. log on chkpt.' is cleared.
    EXPECT_EQ(u8(sql::selectDatabaseStatus(u"Game'DB")), "select status from master..sysdatabases where name = 'Game''DB'");
}

TEST(SqlText, TheJobFrom2008GoesThroughTheRecoveryModel)
{
    using db::RecoveryModel;
    EXPECT_EQ(u8(sql::selectRecoveryModel(u"O'Brien 数据")),
              "select convert(nvarchar(60), databasepropertyex(N'O''Brien 数据', 'Recovery')) as recovery_model");
    EXPECT_EQ(u8(sql::setRecoveryModel(u"my db", RecoveryModel::BulkLogged)), "ALTER DATABASE [my db] SET RECOVERY BULK_LOGGED");
    EXPECT_EQ(u8(sql::checkpointAndShrink(u"GameDB_Log")), "CHECKPOINT DBCC SHRINKFILE (GameDB_Log, 10)");
    EXPECT_EQ(u8(sql::selectLogReuseWait(u"GameDB")), "select log_reuse_wait_desc from sys.databases where name='GameDB'");
    EXPECT_EQ(u8(sql::selectLastLogBackup()),
              "select last_log_backup_lsn from sys.database_recovery_status where database_id = db_id()");
    EXPECT_EQ(u8(sql::selectBackupHistory(u"Game'DB")),
              "select top 1 backup_set_id from msdb..backupset where database_name = 'Game''DB'");
}

TEST(SqlText, TrailingBlanksAreDropped)
{
    // sysfiles names come blank-padded.
    EXPECT_EQ(u8(sql::selectFileByName(u"GameDB_Log      ")), "select * from sysfiles where [name]='GameDB_Log'");
    EXPECT_EQ(u8(sql::truncateAndShrink(u"GameDB  ", u"GameDB_Log   ")),
              "BACKUP LOG GameDB WITH TRUNCATE_ONLY DBCC SHRINKFILE (GameDB_Log, 10)");
    EXPECT_EQ(u8(sql::ident(u"my db  ")), "[my db]");
    EXPECT_EQ(u8(sql::literal(u"it's  ")), "'it''s'");
    EXPECT_EQ(u8(sql::ident(u"   ")), "");
    EXPECT_EQ(u8(sql::ident(u" lead")), "[ lead]");
}

TEST(SqlText, WhichNamesAreOrdinary)
{
    for (const char16_t* name : {u"GameDB", u"_x", u"a1_B2", u"Z"})
        EXPECT_TRUE(sql::isOrdinaryName(name)) << u8(name);
    for (const char16_t* name : {u"1db", u"my db", u"a-b", u"数据", u"x]", u"@v", u"#t", u"a.b", u"",
                                 u"select", u"BACKUP", u"Use", u"file", u"Database", u"current_user",
                                 // reserved since 2005 or later
                                 u"Merge", u"PIVOT", u"unpivot", u"External", u"revert", u"TableSample",
                                 u"try_convert", u"SecurityAudit", u"SemanticKeyPhraseTable"})
        EXPECT_FALSE(sql::isOrdinaryName(name)) << u8(name);
    EXPECT_EQ(u8(sql::ident(u"a]b")), "[a]]b]");
    EXPECT_EQ(u8(sql::ident(u"File")), "[File]");
    EXPECT_EQ(u8(sql::literal(u"数据")), "N'数据'");
    EXPECT_EQ(u8(sql::literal(u"[x]")), "'[x]'");
    EXPECT_EQ(u8(sql::setTruncLogOnCheckpoint(u"O'Brien 数据", true)),
              "exec sp_dboption N'O''Brien 数据', 'trunc. log on chkpt.', 'True'");
}

namespace {

// Names of every shape, each for a database and its log file.
const std::u16string Names[] = {
    u"Plain", u"with space", u"semi;colon", u"quote'in", u"double\"quote", u"[bracketed]", u"close]only",
    u"游戏 数据", u"Select", u"1starts_with_digit", u"dash-and.dot", u"trail]]", u"percent%_like",
    u"tab\there",
};

sandbox::Catalog catalogWithNames()
{
    QJsonArray databases;
    QJsonArray masterFiles;
    masterFiles.append(QJsonObject{{"fileid", 1}, {"name", "master"}, {"filename", "C:\\m.mdf"}, {"usedPages", 10}});
    databases.append(QJsonObject{{"name", "master"}, {"dbid", 1}, {"files", masterFiles}});
    int id = 5;
    for (const std::u16string& name : Names) {
        const QString n = QString::fromStdU16String(name);
        QJsonArray files;
        files.append(QJsonObject{{"fileid", 1}, {"name", n + "_data"}, {"filename", "C:\\" + n + ".mdf"}, {"usedPages", 10}});
        // Created at 10 MB and grown: a VLF boundary lies at 10 MB. The log
        // has wrapped round, its active part at the file's start.
        files.append(QJsonObject{{"fileid", 2}, {"name", n + " log"}, {"filename", "C:\\" + n + ".ldf"},
                                 {"created", 1280}, {"growths", QJsonArray{5120}}, {"logStart", 1400},
                                 {"activePages", 100}, {"inactivePages", 5000}});
        databases.append(QJsonObject{{"name", n}, {"dbid", id++}, {"files", files}});
    }
    const QByteArray json = QJsonDocument(QJsonObject{{"databases", databases}}).toJson();
    return sandbox::Catalog::fromJson(json.toStdString());
}

} // namespace

TEST(SqlTextOnTheServer, EveryNameReachesTheServerAsItself)
{
    dbtest::Sandbox sandbox(catalogWithNames());
    db::TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    for (const std::u16string& name : Names) {
        SCOPED_TRACE(u8(name));
        const std::u16string logName = name + u" log";
        ASSERT_NO_THROW(conn.Execute(sql::useDatabase(name)));
        {
            db::TADODataSet ds;
            ds.SetConnection(&conn);
            ds.SetCommandText(u"select db_name() as d");
            ds.Open();
            EXPECT_EQ(u8(ds.FieldValue(u"d").AsText()), u8(name));
        }
        {
            db::TADODataSet ds;
            ds.SetConnection(&conn);
            ds.SetCommandText(sql::selectSecondaryFiles());
            ds.Open();
            ASSERT_EQ(ds.RecordCount(), 1);
            EXPECT_EQ(u8(db::Trim(db::VarToStr(ds.FieldValue(u"name")))), u8(logName));
        }
        {
            // The padded name as sysfiles gives it.
            db::TADODataSet ds;
            ds.SetConnection(&conn);
            ds.SetCommandText(sql::selectFileByName(logName + u"    "));
            ds.Open();
            ASSERT_EQ(ds.RecordCount(), 1);
            EXPECT_EQ(ds.FieldValue(u"fileid").AsInteger(), 2);
        }
        ASSERT_NO_THROW(conn.Execute(sql::setTruncLogOnCheckpoint(name, true)));
        ASSERT_NO_THROW(conn.Execute(sql::setTruncLogOnCheckpoint(name, false)));
        ASSERT_NO_THROW(conn.Execute(sql::truncateAndShrink(name, logName + u"  ")));
        {
            db::TADODataSet ds;
            ds.SetConnection(&conn);
            ds.SetCommandText(sql::selectFileByName(logName));
            ds.Open();
            EXPECT_EQ(ds.FieldValue(u"size").AsInteger(), 1280);
        }
    }
    // The catalog agrees: the option went on and off again for every database.
    for (const std::u16string& name : Names) {
        const sandbox::Catalog catalog = sandbox.engine().catalog();
        const sandbox::Database* d = catalog.find(name);
        ASSERT_NE(d, nullptr);
        EXPECT_FALSE(d->truncLogOnCheckpoint());
    }
}

TEST(SqlTextOnTheServer, OptionReachesTheRightDatabase)
{
    dbtest::Sandbox sandbox(catalogWithNames());
    db::TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Execute(sql::setTruncLogOnCheckpoint(u"quote'in", true));
    const sandbox::Catalog catalog = sandbox.engine().catalog();
    for (const std::u16string& name : Names)
        EXPECT_EQ(catalog.find(name)->truncLogOnCheckpoint(), name == u"quote'in") << u8(name);
}

TEST(SqlTextOnTheServer, AnEmptyFileNameIsASyntaxError)
{
    dbtest::Sandbox sandbox;
    db::TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Execute(sql::useDatabase(u"GameDB"));
    const db::EDatabaseError e = dbtest::errorOf([&] { conn.Execute(sql::truncateAndShrink(u"GameDB", u"")); });
    EXPECT_EQ(e.NativeError(), 170);
}
