// What a real server refuses, as each generation refuses it, through the real
// FreeTDS ODBC driver at TDS 7.1 and 7.4: implicit-transaction mode, the
// system databases' limits, reserved words in place of names, databases that
// are not ONLINE, and a fault that ends the batch.
#include "tests/sandbox/OdbcProbe.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using sandbox::Generation;
using testsupport::Odbc;

using testsupport::TdsVersions;

namespace {


// The defaults, plus databases named with reserved words of one generation or
// another, and one in each state USE refuses.
sandbox::Catalog catalogFor(Generation g)
{
    sandbox::Catalog c = sandbox::Catalog::fromJson(R"({"databases": [
        {"name": "master"}, {"name": "tempdb", "recovery": "SIMPLE"}, {"name": "model"}, {"name": "msdb"},
        {"name": "GameDB", "files": [{"name": "GameDB_Data"},
                                     {"name": "GameDB_Log", "size": 2560, "activePages": 64, "inactivePages": 2000}]},
        {"name": "Merge", "files": [{"name": "Merge_Data"}, {"name": "Pivot"}]},
        {"name": "Dummy"}, {"name": "Try_Convert"}, {"name": "File"},
        {"name": "Restoring", "state": "RESTORING"}, {"name": "Suspect", "state": "SUSPECT"},
        {"name": "Dark", "offline": true}, {"name": "Solo", "userAccess": "SINGLE_USER"}]})");
    c.generation = g;
    return c;
}

struct Case {
    const char* sql;
    Generation from;     // the answer changes with this generation...
    std::string before;  // ...from this
    std::string after;   // ...to this
};

// Each case on a fresh catalog and a new connection, on every generation.
void check(const Case* cases, std::size_t count)
{
    for (const Generation g : testsupport::AllGenerations) {
        testsupport::TestSandbox server(catalogFor(g));
        for (std::size_t i = 0; i < count; ++i) {
            const Case& c = cases[i];
            for (const char* tds : TdsVersions) {
                server.engine().setCatalog(catalogFor(g));
                Odbc odbc(server.port(), tds);
                ASSERT_TRUE(odbc.connected());
                EXPECT_EQ(odbc.answer(c.sql), g >= c.from ? c.after : c.before)
                    << c.sql << " on " << sandbox::generationInfo(g).name << ", TDS " << tds;
            }
        }
    }
}

TEST(Strictness, ImplicitTransactionModeRefusesTheJobsStatements)
{
    const Case cases[] = {
        // Refused at @@TRANCOUNT 0: the mode is enough (3021 before 3013, 226).
        {"SET IMPLICIT_TRANSACTIONS ON BACKUP LOG GameDB TO DISK = 'g.trn'", Generation::Sql2000, "", "error 3021"},
        {"SET IMPLICIT_TRANSACTIONS ON BACKUP LOG GameDB WITH TRUNCATE_ONLY", Generation::Sql2008, "error 3021",
         "error 155"},
        {"SET IMPLICIT_TRANSACTIONS ON ALTER DATABASE GameDB SET RECOVERY SIMPLE", Generation::Sql2000, "",
         "error 226"},
        {"SET IMPLICIT_TRANSACTIONS ON exec sp_dboption 'GameDB', 'trunc. log on chkpt.', 'true'",
         Generation::Sql2012, "error 226", "error 2812"},
        // Autocommit mode runs them again.
        {"SET IMPLICIT_TRANSACTIONS ON SET IMPLICIT_TRANSACTIONS OFF ALTER DATABASE GameDB SET RECOVERY SIMPLE "
         "select CONVERT(varchar(20), DATABASEPROPERTYEX('GameDB', 'Recovery'))",
         Generation::Sql2000, "", "SIMPLE"},
        // BEGIN TRAN opens the implicit transaction too from 2008.
        {"SET IMPLICIT_TRANSACTIONS ON BEGIN TRAN select @@TRANCOUNT", Generation::Sql2008, "1", "2"},
        {"SET IMPLICIT_TRANSACTIONS OFF BEGIN TRAN select @@TRANCOUNT", Generation::Sql2000, "", "1"},
    };
    check(cases, std::size(cases));
}

TEST(Strictness, SystemDatabasesRefuseWhatTheirRecoveryForbids)
{
    const Case cases[] = {
        {"ALTER DATABASE tempdb SET RECOVERY FULL", Generation::Sql2000, "", "error 5058"},
        {"ALTER DATABASE tempdb SET RECOVERY SIMPLE", Generation::Sql2000, "", "error 5058"},
        {"exec sp_dboption 'tempdb', 'trunc. log on chkpt.', 'false'", Generation::Sql2012, "error 5058",
         "error 2812"},
        {"BACKUP LOG tempdb TO DISK = 't.trn'", Generation::Sql2000, "", "error 3147"},
        {"BACKUP LOG master TO DISK = 'm.trn'", Generation::Sql2000, "", "error 4212"},
        {"BACKUP LOG tempdb WITH TRUNCATE_ONLY select 'ok'", Generation::Sql2008, "ok", "error 155"},
        {"BACKUP LOG master WITH NO_LOG select 'ok'", Generation::Sql2008, "ok", "error 155"},
        {"ALTER DATABASE model SET RECOVERY SIMPLE select CONVERT(varchar(20), DATABASEPROPERTYEX('model', "
         "'Recovery'))",
         Generation::Sql2000, "", "SIMPLE"},
        {"ALTER DATABASE master SET RECOVERY FULL select CONVERT(varchar(20), DATABASEPROPERTYEX('master', "
         "'Recovery'))",
         Generation::Sql2000, "", "FULL"},
        {"use tempdb CHECKPOINT DBCC SHRINKFILE (tempdb_Log, 1) select 'ok'", Generation::Sql2000, "", "ok"},
        {"use master CHECKPOINT DBCC SHRINKFILE (master_Log, 1) select 'ok'", Generation::Sql2000, "", "ok"},
    };
    check(cases, std::size(cases));
}

TEST(Strictness, ReservedWordsOfTheGenerationAreNoNames)
{
    const Case cases[] = {
        {"USE Merge select db_name()", Generation::Sql2008, "Merge", "error 156"},
        {"USE [Merge] select db_name()", Generation::Sql2000, "", "Merge"},
        {"ALTER DATABASE Merge SET RECOVERY SIMPLE select 'ok'", Generation::Sql2008, "ok", "error 156"},
        {"BACKUP LOG Merge TO DISK = 'm.trn' select 'ok'", Generation::Sql2008, "ok", "error 156"},
        {"BACKUP LOG \"Merge\" TO DISK = 'm.trn' select 'ok'", Generation::Sql2000, "", "ok"},
        {"use [Merge] DBCC SHRINKFILE (Pivot, 1) select 'ok'", Generation::Sql2005, "ok", "error 156"},
        {"use [Merge] DBCC SHRINKFILE ([Pivot], 1) select 'ok'", Generation::Sql2000, "", "ok"},
        {"use [Merge] DBCC SHRINKFILE (N'Pivot', 1) select 'ok'", Generation::Sql2000, "", "ok"},
        // 2000 reserved DUMMY, 2012 TRY_CONVERT; FILE is reserved throughout.
        {"USE Dummy select db_name()", Generation::Sql2005, "error 156", "Dummy"},
        {"USE Try_Convert select db_name()", Generation::Sql2012, "Try_Convert", "error 156"},
        {"USE File select db_name()", Generation::Sql2000, "", "error 156"},
        {"USE [File] select db_name()", Generation::Sql2000, "", "File"},
    };
    check(cases, std::size(cases));
}

TEST(Strictness, DatabasesThatAreNotOnlineCannotBeOpened)
{
    const Case cases[] = {
        {"USE Restoring", Generation::Sql2000, "", "error 927"},
        {"USE Suspect", Generation::Sql2000, "", "error 926"},
        {"USE Dark", Generation::Sql2000, "", "error 942"},
        {"select state_desc from sys.databases where name = 'Restoring'", Generation::Sql2005, "error 208",
         "RESTORING"},
        {"select state from sys.databases where name = 'Suspect'", Generation::Sql2005, "error 208", "4"},
        {"select CONVERT(varchar(20), DATABASEPROPERTYEX('Suspect', 'Status'))", Generation::Sql2000, "",
         "SUSPECT"},
        {"select CONVERT(varchar(20), DATABASEPROPERTYEX('Dark', 'Status'))", Generation::Sql2000, "", "OFFLINE"},
        // sysdatabases.status: 32 loading, 256 not recovered, 512 offline.
        {"select status / 32 % 2 from master..sysdatabases where name = 'Restoring'", Generation::Sql2000, "", "1"},
        {"select status / 256 % 2 from master..sysdatabases where name = 'Suspect'", Generation::Sql2000, "", "1"},
        {"USE Solo select db_name() USE master", Generation::Sql2000, "", "Solo"},
    };
    check(cases, std::size(cases));
}

// A login into a database USE would refuse fails as a real one does, with
// 4060 and 18456 (the driver ranks them by severity). A single-user database
// takes one session.
TEST(Strictness, LoginsAndSecondUsersAreRefused)
{
    for (const Generation g : testsupport::AllGenerations) {
        testsupport::TestSandbox server(catalogFor(g));
        for (const char* tds : TdsVersions) {
            const std::string where = std::string(sandbox::generationInfo(g).name) + ", TDS " + tds;
            for (const char* database : {"Restoring", "Suspect", "Dark"}) {
                Odbc refused(server.port(), tds, database);
                EXPECT_FALSE(refused.connected()) << database << ", " << where;
                const std::vector<long>& errors = refused.loginErrors();
                for (const long number : {4060L, 18456L}) {
                    EXPECT_NE(std::find(errors.begin(), errors.end(), number), errors.end())
                        << number << ", " << database << ", " << where;
                }
            }
            {
                Odbc first(server.port(), tds, "Solo");
                ASSERT_TRUE(first.connected()) << where;
                Odbc second(server.port(), tds);
                ASSERT_TRUE(second.connected()) << where;
                EXPECT_EQ(second.answer("USE Solo"), "error 924") << where;
                // BACKUP says why first (927), then 3013; the driver ranks 3013 first.
                EXPECT_EQ(second.errorsOf("BACKUP LOG Restoring TO DISK = 'r.trn'"), (std::vector<long>{3013, 927}))
                    << where;
                Odbc third(server.port(), tds, "Solo");
                EXPECT_FALSE(third.connected()) << where;
                EXPECT_EQ(first.answer("USE master select db_name()"), "master") << where;
                EXPECT_EQ(second.answer("USE Solo select db_name() USE master"), "Solo") << where;
            }
            // Nobody holds it now (whoever leaves by USE leaves at once).
            Odbc again(server.port(), tds, "Solo");
            EXPECT_EQ(again.answer("select db_name() USE master"), "Solo") << where;
        }
    }
}

// A batch-aborting fault, as a deadlock victim: its error, nothing after it,
// and the open transaction rolled back.
TEST(Strictness, AnAbortFaultEndsTheBatch)
{
    for (const Generation g : {Generation::Sql2000, Generation::Sql2022}) {
        testsupport::TestSandbox server(catalogFor(g));
        sandbox::Fault abort;
        abort.action = sandbox::Fault::Action::Abort;
        abort.pattern = "^DBCC SHRINKFILE";
        abort.error.number = 1205;
        abort.error.severity = 13;
        abort.error.state = 51;
        abort.error.text = u"Transaction (Process ID 51) was deadlocked on lock resources with another process "
                           u"and has been chosen as the deadlock victim. Rerun the transaction.";
        server.engine().addFault(abort);
        for (const char* tds : TdsVersions) {
            Odbc odbc(server.port(), tds);
            ASSERT_TRUE(odbc.connected());
            EXPECT_EQ(odbc.answer("use GameDB BEGIN TRAN DBCC SHRINKFILE (GameDB_Log, 1) select 'after'"),
                      "error 1205");
            EXPECT_EQ(odbc.answer("select @@TRANCOUNT"), "0");
            EXPECT_EQ(odbc.answer("select size from sysfiles where fileid = 2"), "2560");
        }
    }
}

} // namespace
