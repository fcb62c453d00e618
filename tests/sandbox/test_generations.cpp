// The sandbox as each SQL Server generation, through the real FreeTDS ODBC
// driver at TDS 7.1 and 7.4: what a generation reports about itself, and
// what it answers to the texts whose answer changed between generations.
#include "tests/sandbox/OdbcProbe.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using sandbox::Generation;
using testsupport::Odbc;

namespace {


// The defaults, plus a database whose log an open transaction holds and one
// in an availability group.
sandbox::Catalog catalogFor(Generation g, std::u16string collation = u"Chinese_PRC_CI_AS")
{
    sandbox::Catalog c = sandbox::Catalog::defaults();
    c.generation = g;
    c.collation = std::move(collation);
    sandbox::Database held = c.databases[5];
    held.dbId = 7;
    held.name = u"Held";
    held.hold = sandbox::LogHold::ActiveTransaction;
    held.setRecovery(sandbox::RecoveryModel::Simple);
    c.databases.push_back(held);
    sandbox::Database replica = c.databases[5];
    replica.dbId = 8;
    replica.name = u"Replica";
    replica.availabilityGroup = true;
    c.databases.push_back(replica);
    return c;
}

template <class Check>
void forEachConnection(Generation g, const std::u16string& collation, Check check)
{
    testsupport::TestSandbox server(catalogFor(g, collation));
    for (const char* tds : {"7.1", "7.4"}) {
        Odbc odbc(server.port(), tds);
        ASSERT_TRUE(odbc.connected());
        check(odbc, std::string("TDS ") + tds);
    }
}

TEST(Generations, EachReportsItsOwnVersion)
{
    struct Expected {
        Generation generation;
        const char* dbmsVersion;  // as FreeTDS reads it from the login acknowledgement
        const char* properties;   // ProductVersion | ProductMajorVersion | @@MICROSOFTVERSION's major
        const char* update;       // ProductUpdateLevel | ProductUpdateReference, as @@VERSION names them
    };
    const Expected table[] = {
        {Generation::Sql2000, "08.00.2039", "8.00.2039|NULL|8", "NULL|NULL"},
        {Generation::Sql2005, "09.00.5000", "9.00.5000.00|NULL|9", "NULL|NULL"},
        {Generation::Sql2008, "10.00.6000", "10.0.6000.29|NULL|10", "NULL|NULL"},
        {Generation::Sql2008R2, "10.50.6000", "10.50.6000.34|NULL|10", "NULL|NULL"},
        {Generation::Sql2012, "11.00.7001", "11.0.7001.0|11|11", "NULL|KB4018073"},
        {Generation::Sql2014, "12.00.6024", "12.0.6024.0|12|12", "NULL|KB4022619"},
        {Generation::Sql2016, "13.00.6300", "13.0.6300.2|13|13", "NULL|KB5003279"},
        {Generation::Sql2017, "14.00.3456", "14.0.3456.2|14|14", "CU31|KB5016884"},
        {Generation::Sql2019, "15.00.4322", "15.0.4322.2|15|15", "CU22|KB5027702"},
        {Generation::Sql2022, "16.00.4115", "16.0.4115.5|16|16", "CU12|KB5033663"},
    };
    for (const Expected& e : table) {
        forEachConnection(e.generation, u"Chinese_PRC_CI_AS", [&](Odbc& odbc, const std::string& tds) {
            EXPECT_EQ(odbc.dbmsVersion(), e.dbmsVersion) << tds;
            EXPECT_EQ(odbc.answer("select CONVERT(varchar(20), SERVERPROPERTY('ProductVersion')) + '|' "
                                  "+ ISNULL(CONVERT(varchar(5), SERVERPROPERTY('ProductMajorVersion')), 'NULL') + '|' "
                                  "+ CONVERT(varchar(5), @@MICROSOFTVERSION / 0x01000000)"),
                      e.properties)
                << e.dbmsVersion << ", " << tds;
            const std::string update = odbc.answer(
                "select ISNULL(CONVERT(varchar(10), SERVERPROPERTY('ProductUpdateLevel')), 'NULL') + '|' "
                "+ ISNULL(CONVERT(varchar(10), SERVERPROPERTY('ProductUpdateReference')), 'NULL')");
            EXPECT_EQ(update, e.update) << e.dbmsVersion << ", " << tds;
            const std::string version = odbc.answer("select @@VERSION");
            for (const std::string& part : {update.substr(0, update.find('|')), update.substr(update.find('|') + 1)}) {
                if (part != "NULL") {
                    EXPECT_NE(version.find(part), std::string::npos) << version;
                }
            }
        });
    }
}

TEST(Generations, AnswerTheTextsThatChanged)
{
    const std::string padded = "GameDB_Log" + std::string(118, ' ') + "|";
    struct Case {
        const char* sql;
        Generation from;        // the answer changes with this generation...
        std::string before;     // ...from this
        std::string after;      // ...to this
        std::u16string collation = u"Chinese_PRC_CI_AS";
    };
    const Case cases[] = {
        {"exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'True' select 'ok'", Generation::Sql2012, "ok",
         "error 2812"},
        {"BACKUP LOG GameDB WITH TRUNCATE_ONLY select 'ok'", Generation::Sql2008, "ok", "error 155"},
        {"select name from sys.databases where name = 'GameDB'", Generation::Sql2005, "error 208", "GameDB"},
        {"use GameDB select name + N'|' from sysfiles where fileid = 2", Generation::Sql2005, padded, "GameDB_Log|"},
        {"select log_reuse_wait_desc from sys.databases where name = 'GameDB'", Generation::Sql2005, "error 208",
         "LOG_BACKUP"},
        {"use Held CHECKPOINT select log_reuse_wait_desc from sys.databases where name = 'Held'",
         Generation::Sql2005, "error 208", "ACTIVE_TRANSACTION"},
        {"ALTER DATABASE Replica SET RECOVERY SIMPLE select 'ok'", Generation::Sql2005, "ok", "error 1468"},
        // The same on every generation.
        {"select CONVERT(varchar(20), DATABASEPROPERTYEX('GameDB', 'Recovery'))", Generation::Sql2000, "", "FULL"},
        {"ALTER DATABASE GameDB SET RECOVERY BULK_LOGGED select CAST(DATABASEPROPERTYEX('GameDB', 'Recovery') AS "
         "nvarchar(20))",
         Generation::Sql2000, "", "BULK_LOGGED"},
        {"begin tran ALTER DATABASE GameDB SET RECOVERY SIMPLE", Generation::Sql2000, "", "error 226"},
        // Clearing 'trunc. log on chkpt.' leaves BULK_LOGGED with 'select into/bulkcopy'.
        {"exec sp_dboption 'GameDB', 'select into/bulkcopy', 'True' "
         "exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'True' "
         "exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'False' "
         "select CONVERT(varchar(20), DATABASEPROPERTYEX('GameDB', 'Recovery'))",
         Generation::Sql2012, "BULK_LOGGED", "error 2812"},
        // In FULL a checkpoint frees nothing (the VLF at the end holds log not
        // yet backed up); in SIMPLE the log shrinks to the 10 MB asked for.
        {"use GameDB CHECKPOINT DBCC SHRINKFILE (GameDB_Log, 10) select size from sysfiles where fileid = 2",
         Generation::Sql2000, "", "262144"},
        {"use GameDB ALTER DATABASE GameDB SET RECOVERY SIMPLE CHECKPOINT DBCC SHRINKFILE (GameDB_Log, 10) "
         "select size from sysfiles where fileid = 2",
         Generation::Sql2000, "", "1280"},
        // Column names follow the collation: [DbId] is not dbid on a binary server.
        {"Select name From sysdatabases order by [DbId]", Generation::Sql2000, "", "error 207", u"Chinese_PRC_BIN"},
        {"Select name From sysdatabases order by [dbid]", Generation::Sql2000, "", "master", u"Chinese_PRC_BIN"},
        {"Select name From sysdatabases order by [DbId]", Generation::Sql2000, "", "master", u"Chinese_PRC_CI_AS"},
    };
    for (const Case& c : cases) {
        for (const Generation g : testsupport::AllGenerations) {
            const std::string& expected = g >= c.from ? c.after : c.before;
            forEachConnection(g, c.collation, [&](Odbc& odbc, const std::string& tds) {
                EXPECT_EQ(odbc.answer(c.sql), expected)
                    << c.sql << " on " << sandbox::generationInfo(g).name << ", " << tds;
            });
        }
    }
}

} // namespace
