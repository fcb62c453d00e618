// The log as each generation keeps it, through the real FreeTDS ODBC driver
// at TDS 7.1 and 7.4: virtual log files and DBCC SHRINKFILE, DBCC LOGINFO
// and sys.dm_db_log_info, log_reuse_wait, the log backup chain and msdb's
// history, on the demo catalog's databases.
#include "OdbcProbe.h"
#include "tests/support/TestSandbox.h"


#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using sandbox::Generation;

namespace {

using Client = testsupport::Odbc;
using testsupport::Reply;

sandbox::Catalog demo(Generation g)
{
    sandbox::Catalog c = sandbox::Catalog::fromJsonFile(SQLLOGCLEAN_DEMO_CATALOG);
    c.generation = g;
    return c;
}

// Runs `check` for each generation, on a fresh server with the catalog
// `make` gives, once at TDS 7.1 and once at 7.4.
void onEach(const std::function<sandbox::Catalog(Generation)>& make,
            const std::function<void(Generation, Client&, const std::string&)>& check)
{
    for (const Generation g : testsupport::AllGenerations) {
        for (const char* tds : {"7.1", "7.4"}) {
            testsupport::TestSandbox server(make(g));
            Client client(server.port(), tds);
            ASSERT_TRUE(client.connected());
            check(g, client, std::string(sandbox::generationInfo(g).name) + ", TDS " + tds);
        }
    }
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string all;
    for (const std::string& p : parts)
        all += (all.empty() ? "" : ",") + p;
    return all;
}

TEST(LogOdbc, DbccLogInfoListsTheVlfsEachGenerationMakes)
{
    // NearTarget's log: created at 10.5 MB, grown twice by 64 MB. 2022 makes
    // one VLF for a growth of 64 MB or less.
    onEach(demo, [](Generation g, Client& client, const std::string& on) {
        const Reply r = client.run("use NearTarget DBCC LOGINFO");
        const std::string columns = "FileId,FileSize,StartOffset,FSeqNo,Status,Parity,CreateLSN";
        EXPECT_EQ(joined(r.columns), g >= Generation::Sql2012 ? "RecoveryUnitId," + columns : columns) << on;
        ASSERT_EQ(r.rows.size(), g >= Generation::Sql2022 ? 6u : 12u) << on;
        const std::size_t at = g >= Generation::Sql2012 ? 1 : 0;
        EXPECT_EQ(r.rows[0][at + 2], "8192") << on;  // after the file header
        EXPECT_EQ(r.rows[0][at + 4], "2") << on;     // the active log, wrapped round to the start
        EXPECT_EQ(r.rows.back()[at + 4], "2") << on;  // not yet truncated
        EXPECT_EQ(r.rows[0][at + 6], "0") << on;      // made with the file
        EXPECT_NE(r.rows.back()[at + 6], "0") << on;  // made by a growth
    });
}

// LongLived: a server up for years, its log's sequence numbers past 100,000.
// Its LSNs outgrow 64 bits (sequence number times 10^15) and arrive whole.
TEST(LogOdbc, ALogOfAServerUpForYearsHasLsnsWiderThan64Bits)
{
    onEach(demo, [](Generation g, Client& client, const std::string& on) {
        const Reply r = client.run("use LongLived DBCC LOGINFO");
        const std::size_t at = g >= Generation::Sql2012 ? 1 : 0;
        ASSERT_FALSE(r.rows.empty()) << on;
        long highest = 0;
        for (const auto& row : r.rows)
            highest = std::max(highest, std::stol(row[at + 3]));
        EXPECT_GT(highest, 100000) << on;
        EXPECT_EQ(r.rows.front()[at + 6], "0") << on;  // made with the file
        // The last growth, the tenth, a little before sequence number 123456.
        EXPECT_EQ(r.rows.back()[at + 6], "123445000000008800001") << on;
        if (g == Generation::Sql2000)
            return;
        // The log backup in msdb's history, a little before as well.
        EXPECT_EQ(client.run("select last_log_backup_lsn from sys.database_recovery_status where database_id = db_id()")
                      .value(),
                  "123429000000001600001")
            << on;
    });
}

TEST(LogOdbc, DmDbLogInfoExistsFrom2016)
{
    onEach(demo, [](Generation g, Client& client, const std::string& on) {
        const Reply r = client.run("use LogAtEnd select vlf_status, vlf_begin_offset, database_id "
                                   "from sys.dm_db_log_info(DB_ID()) where vlf_active = 1");
        if (g < Generation::Sql2016) {
            EXPECT_TRUE(r.has(208)) << on;
            return;
        }
        ASSERT_EQ(r.rows.size(), 1u) << on;  // the VLF at the end holds the active log
        EXPECT_EQ(r.rows[0][0], "2") << on;
        EXPECT_EQ(r.rows[0][1], g >= Generation::Sql2022 ? "67108864" : "117440512") << on;
        // 64 MB grown by one VLF on 2022, by four of 16 MB before.
        EXPECT_EQ(client.run("select file_id from sys.dm_db_log_info(NULL) where vlf_size_mb = 64").rows.size(),
                  g >= Generation::Sql2022 ? 1u : 0u)
            << on;
        // BigVlf's log has been written in its first VLF only: the rest were never used.
        EXPECT_EQ(client.run("select file_id from sys.dm_db_log_info(DB_ID('BigVlf')) where vlf_status = 1").rows.size(),
                  15u)
            << on;
        EXPECT_TRUE(client.run("select * from sys.dm_db_log_info").has(216)) << on;
        EXPECT_TRUE(client.run("select * from sys.dm_db_log_info(1, 2)").has(174)) << on;
    });
}

TEST(LogOdbc, AShrinkStopsAtAVlfBoundaryAndSaysWhy)
{
    struct Case {
        const char* what;
        const char* sql;       // ends by reading the log's size
        const char* size;
        long message;          // 0: none
    };
    const Case cases[] = {
        {"BigVlf: a log created at 1 GB keeps its first two VLFs",
         "use BigVlf ALTER DATABASE BigVlf SET RECOVERY SIMPLE CHECKPOINT DBCC SHRINKFILE (BigVlf_Log, 10) "
         "select size from sysfiles where fileid = 2",
         "32753", 9006},
        {"LogAtEnd: the active log in the last VLF",
         "use LogAtEnd CHECKPOINT DBCC SHRINKFILE (LogAtEnd_Log, 10) select size from sysfiles where fileid = 2",
         "16384", 9008},
        {"NearTarget: the boundary above 10 MB is 10.5 MB",
         "use NearTarget ALTER DATABASE NearTarget SET RECOVERY SIMPLE CHECKPOINT DBCC SHRINKFILE (NearTarget_Log, 10) "
         "select size from sysfiles where fileid = 2",
         "1344", 0},
        {"NearTarget: a target inside the last VLF",
         "use NearTarget DBCC SHRINKFILE (NearTarget_Log, 137) select size from sysfiles where fileid = 2", "17728", 9007},
        {"LogDB: the target is the whole log's, and its other file holds 10 MB already",
         "use LogDB CHECKPOINT DBCC SHRINKFILE (LogDB_Log, 10) select size from sysfiles where fileid = 2", "633", 9008},
        {"Archive: a data file keeps its used pages",
         "use Archive DBCC SHRINKFILE (Archive_Data2, 10) select size from sysfiles where fileid = 3", "12800", 0},
    };
    for (const Case& c : cases) {
        onEach(demo, [&c](Generation g, Client& client, const std::string& on) {
            const Reply r = client.run(c.sql);
            EXPECT_EQ(r.value(), c.size) << c.what << ", " << on;
            // (2528 follows the result set; FreeTDS's driver does not pass it on.)
            std::vector<long> expected;
            if (c.message != 0)
                expected.push_back(c.message);
            std::vector<long> shrinks;
            for (const long n : r.numbers)
                if (n >= 9006 && n <= 9009)
                    shrinks.push_back(n);
            EXPECT_EQ(shrinks, expected) << c.what << ", " << on;
            if (c.message == 9008) {
                EXPECT_NE(r.text(9008).find(g <= Generation::Sql2005
                                                ? "because all logical log files are in use"
                                                : "because the logical log file located at the end of the file is in use"),
                          std::string::npos)
                    << r.text(9008) << ", " << on;
            }
        });
    }
}

TEST(LogOdbc, OnSqlServer2000ASecondTruncateAndShrinkFreesALogThatEndedInItsLastVlf)
{
    // KB 907511: 2000 moves the log's end to the start of the file.
    onEach(demo, [](Generation g, Client& client, const std::string& on) {
        if (g > Generation::Sql2005)
            return;  // no TRUNCATE_ONLY
        const std::string round = "BACKUP LOG LogAtEnd WITH TRUNCATE_ONLY DBCC SHRINKFILE (LogAtEnd_Log, 10) "
                                  "select size from sysfiles where fileid = 2";
        EXPECT_EQ(client.run("use LogAtEnd " + round).value(), "16384") << on;
        const Reply second = client.run(round);
        EXPECT_EQ(second.value(), g == Generation::Sql2000 ? "4081" : "16384") << on;
        EXPECT_TRUE(second.has(g == Generation::Sql2000 ? 9006 : 9008)) << on;
    });
}

TEST(LogOdbc, LogReuseWaitIsWhatTheLastCheckpointFound)
{
    const auto catalog = [](Generation g) {
        sandbox::Catalog c = demo(g);
        sandbox::Database held = *c.find(u"Backed");
        held.dbId = 40;
        held.name = u"Mirrored";
        held.hold = sandbox::LogHold::AvailabilityReplica;
        c.databases.push_back(held);
        return c;
    };
    struct Case {
        const char* sql;
        std::string before2012, from2012;
    };
    const std::string read = " select log_reuse_wait_desc + '|' + convert(varchar(3), log_reuse_wait) from "
                             "sys.databases where name = db_name()";
    const Case cases[] = {
        {"use Mirrored", "OTHER_TRANSIENT|9", "AVAILABILITY_REPLICA|9"},
        {"use Backed", "LOG_BACKUP|2", "LOG_BACKUP|2"},
        {"use Backed BACKUP LOG Backed TO DISK = 'x.trn'", "NOTHING|0", "NOTHING|0"},
        {"use NeverBacked", "CHECKPOINT|1", "CHECKPOINT|1"},  // no chain: truncated at checkpoints
        {"use NeverBacked CHECKPOINT", "NOTHING|0", "NOTHING|0"},
        // A checkpoint that frees nothing: the head of the log is still in its VLF.
        {"use NeverBacked CHECKPOINT CHECKPOINT", "CHECKPOINT|1", "CHECKPOINT|1"},
        {"use LogAtEnd", "NOTHING|0", "NOTHING|0"},
        {"use LogAtEnd CHECKPOINT", "CHECKPOINT|1", "CHECKPOINT|1"},
        {"use Backed ALTER DATABASE Backed SET RECOVERY SIMPLE", "LOG_BACKUP|2", "LOG_BACKUP|2"},
        {"use Backed ALTER DATABASE Backed SET RECOVERY SIMPLE CHECKPOINT", "NOTHING|0", "NOTHING|0"},
    };
    for (const Case& c : cases) {
        onEach(catalog, [&](Generation g, Client& client, const std::string& on) {
            const Reply r = client.run(c.sql + read);
            if (g == Generation::Sql2000)
                EXPECT_TRUE(r.has(208)) << on;
            else
                EXPECT_EQ(r.value(), g >= Generation::Sql2012 ? c.from2012 : c.before2012) << c.sql << ", " << on;
        });
    }
}

TEST(LogOdbc, TheLogBackupChainAsRecoveryStatusAndBackupHistoryShowIt)
{
    const std::string lsn = " select isnull(convert(varchar(30), last_log_backup_lsn), 'NULL') from "
                            "sys.database_recovery_status where database_id = db_id()";
    const std::string logBackups = " select top 1 backup_set_id from msdb..backupset where database_name = '%' and "
                                   "type = 'L' order by backup_set_id desc";
    const auto history = [&logBackups](const char* database) {
        std::string sql = logBackups;
        sql.replace(sql.find('%'), 1, database);
        return sql;
    };
    struct Case {
        const char* sql;
        bool chain;        // last_log_backup_lsn is not NULL
        const char* last;  // the database's last log backup in msdb, or (none); null: the one just taken
    };
    const Case cases[] = {
        {"use Backed", true, "2"},
        {"use NeverBacked", false, "(none)"},
        {"use Backed BACKUP LOG Backed TO DISK = 'x.trn'", true, nullptr},
        {"use Backed ALTER DATABASE Backed SET RECOVERY SIMPLE ALTER DATABASE Backed SET RECOVERY FULL", false, "2"},
        {"use Archive", false, "(none)"},
    };
    for (const Case& c : cases) {
        onEach(demo, [&](Generation g, Client& client, const std::string& on) {
            const std::string database = std::string(c.sql).substr(4, std::string(c.sql).find(' ', 4) - 4);
            const std::string taken = std::to_string(demo(g).backups.size() + 1);
            EXPECT_EQ(client.run(c.sql + history(database.c_str())).value(), c.last ? c.last : taken)
                << c.sql << ", " << on;
            const Reply r = client.run(lsn);
            if (g == Generation::Sql2000)
                EXPECT_TRUE(r.has(208)) << on;
            else
                EXPECT_EQ(r.value() != "NULL", c.chain) << c.sql << ": " << r.value() << ", " << on;
        });
    }
    onEach(demo, [&](Generation g, Client& client, const std::string& on) {
        // Without a database backup to follow on from, no log backup.
        const Reply never = client.run("BACKUP LOG NeverBacked TO DISK = 'x.trn'");
        EXPECT_EQ(never.numbers, (std::vector<long>{4214, 3013})) << on;
        // A log backup moves last_log_backup_lsn on.
        if (g == Generation::Sql2000)
            return;
        const std::string before = client.run("use Backed" + lsn).value();
        const std::string after = client.run("BACKUP LOG Backed TO DISK = 'x.trn'" + lsn).value();
        EXPECT_GT(std::stoll(after), std::stoll(before)) << on;
        if (g <= Generation::Sql2005) {  // TRUNCATE_ONLY breaks the chain
            EXPECT_EQ(client.run("BACKUP LOG Backed WITH TRUNCATE_ONLY" + lsn).value(), "NULL") << on;
        }
    });
}

TEST(LogOdbc, SystemDatabasesHaveTheirDocumentedRecoveryModels)
{
    const auto models = [](Client& client) {
        return client
            .run("select convert(nvarchar(60), databasepropertyex('master', 'Recovery')) + ',' + "
                 "convert(nvarchar(60), databasepropertyex('tempdb', 'Recovery')) + ',' + "
                 "convert(nvarchar(60), databasepropertyex('model', 'Recovery')) + ',' + "
                 "convert(nvarchar(60), databasepropertyex('msdb', 'Recovery'))")
            .value();
    };
    const auto builtIn = [](Generation g) {
        sandbox::Catalog c = sandbox::Catalog::defaults();
        c.generation = g;
        return c;
    };
    for (const auto& make : {std::function<sandbox::Catalog(Generation)>(demo), std::function(builtIn)})
        onEach(make, [&](Generation, Client& client, const std::string& on) {
            EXPECT_EQ(models(client), "SIMPLE,SIMPLE,FULL,SIMPLE") << on;
        });
}

TEST(LogOdbc, TheToolsQueriesAnswerOnTheGenerationsThatHaveThem)
{
    // As CONTRACT's texts are sent, byte for byte, in the job's database.
    onEach(demo, [](Generation g, Client& client, const std::string& on) {
        ASSERT_FALSE(client.run("Use Backed").has(911)) << on;
        EXPECT_EQ(client.run("select top 1 backup_set_id from msdb..backupset where database_name = 'Backed' and "
                             "type = 'L'")
                      .value(),
                  "2")
            << on;
        EXPECT_FALSE(client.run("DBCC LOGINFO").rows.empty()) << on;
        const Reply lsn = client.run("select last_log_backup_lsn from sys.database_recovery_status where database_id "
                                     "= db_id()");
        const Reply wait = client.run("select log_reuse_wait_desc from sys.databases where name='Backed'");
        if (g == Generation::Sql2000) {
            EXPECT_TRUE(lsn.has(208) && wait.has(208)) << on;
            return;
        }
        ASSERT_EQ(lsn.rows.size(), 1u) << on;
        EXPECT_NE(lsn.value(), "NULL") << on;
        EXPECT_EQ(wait.value(), "LOG_BACKUP") << on;
    });
}

} // namespace
