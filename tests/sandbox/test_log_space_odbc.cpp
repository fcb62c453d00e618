// How full each log is, as each generation reports it, through the real
// FreeTDS ODBC driver: DBCC SQLPERF(LOGSPACE) everywhere,
// sys.dm_db_log_space_usage from 2012, and the last log backup msdb records.
#include "OdbcProbe.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>

#include <string>

using sandbox::Generation;

namespace {

// Half of Half's log cannot be reused: one active VLF and one not yet
// truncated, of four (1279 pages after the header). Gone is not ONLINE.
constexpr const char* Catalog = R"({"databases": [
  {"name": "master", "dbid": 1, "recovery": "SIMPLE", "files": [
    {"fileid": 1, "name": "master", "size": 512},
    {"fileid": 2, "name": "mastlog", "size": 128, "activePages": 16}]},
  {"name": "msdb", "dbid": 4, "recovery": "SIMPLE"},
  {"name": "Half", "dbid": 5, "recovery": "FULL", "backups": [
     {"type": "D", "start": "2026-11-28T01:00:00", "finish": "2026-11-28T01:04:00"},
     {"type": "L", "start": "2026-11-29T01:00:00", "finish": "2026-11-29T01:00:09"},
     {"type": "L", "start": "2026-11-30T01:00:00", "finish": "2026-11-30T01:00:07"},
     {"type": "D", "start": "2026-11-30T03:00:00", "finish": "2026-11-30T03:02:00"}],
   "files": [
    {"fileid": 1, "name": "Half_Data", "size": 640},
    {"fileid": 2, "name": "Half_Log", "status": 66, "vlfs": [
      {"pages": 320, "status": "reusable", "sequence": 39}, {"pages": 320, "status": "inactive", "sequence": 40},
      {"pages": 320, "status": "active", "sequence": 41}, {"pages": 319, "status": "reusable"}]}]},
  {"name": "Gone", "dbid": 6, "state": "OFFLINE"}]})";

sandbox::Catalog catalogOf(Generation g)
{
    sandbox::Catalog c = sandbox::Catalog::fromJson(Catalog);
    c.generation = g;
    return c;
}

std::string label(Generation g, const char* tds)
{
    return std::string(sandbox::generationInfo(g).name) + ", TDS " + tds;
}

TEST(LogSpaceOdbc, SqlPerfListsEveryOnlineDatabasesLogOnEveryGeneration)
{
    for (const Generation g : testsupport::AllGenerations) {
        for (const char* tds : testsupport::TdsVersions) {
            testsupport::TestSandbox server(catalogOf(g));
            testsupport::Odbc client(server.port(), tds);
            ASSERT_TRUE(client.connected()) << label(g, tds);
            const testsupport::Reply r = client.run("DBCC SQLPERF(LOGSPACE)");
            const std::string on = label(g, tds);
            ASSERT_EQ(r.columns.size(), 4u) << on;
            EXPECT_EQ(r.columns[1], "Log Size (MB)") << on;
            EXPECT_EQ(r.columns[2], "Log Space Used (%)") << on;
            ASSERT_EQ(r.rows.size(), 3u) << on;  // not Gone
            EXPECT_EQ(r.rows[2][0], "Half") << on;
            EXPECT_DOUBLE_EQ(std::stod(r.rows[2][1]), 1279.0 / 128.0) << on;
            EXPECT_NEAR(std::stod(r.rows[2][2]), 100.0 * 640 / 1279, 1e-4) << on;
            EXPECT_EQ(r.rows[2][3], "0") << on;
            // What a checkpoint frees no longer counts.
            client.run("use Half ALTER DATABASE Half SET RECOVERY SIMPLE CHECKPOINT");
            EXPECT_NEAR(std::stod(client.run("DBCC SQLPERF('logspace') WITH NO_INFOMSGS").rows[2][2]),
                        100.0 * 320 / 1279, 1e-4)
                << on;
        }
    }
}

TEST(LogSpaceOdbc, DmDbLogSpaceUsageFrom2012ForTheCurrentDatabase)
{
    for (const Generation g : testsupport::AllGenerations) {
        testsupport::TestSandbox server(catalogOf(g));
        testsupport::Odbc client(server.port(), "7.4", "Half");
        ASSERT_TRUE(client.connected());
        const std::string on = label(g, "7.4");
        const testsupport::Reply r = client.run("select * from sys.dm_db_log_space_usage");
        if (g < Generation::Sql2012) {
            EXPECT_TRUE(r.has(208)) << on;
            continue;
        }
        ASSERT_EQ(r.rows.size(), 1u) << on;
        EXPECT_EQ(r.columns.size(), g >= Generation::Sql2014 ? 5u : 4u) << on;
        EXPECT_EQ(r.rows[0][0], "5") << on;
        EXPECT_EQ(r.rows[0][1], std::to_string(1279 * 8192)) << on;
        EXPECT_EQ(r.rows[0][2], std::to_string(640 * 8192)) << on;
        EXPECT_NEAR(std::stod(r.rows[0][3]), 100.0 * 640 / 1279, 1e-4) << on;
        EXPECT_EQ(client.run("use master select total_log_size_in_bytes from sys.dm_db_log_space_usage").value(),
                  std::to_string(127 * 8192))
            << on;
    }
}

TEST(LogSpaceOdbc, MsdbNamesTheLastLogBackup)
{
    for (const Generation g : testsupport::AllGenerations) {
        testsupport::TestSandbox server(catalogOf(g));
        testsupport::Odbc client(server.port(), "7.4");
        ASSERT_TRUE(client.connected());
        const testsupport::Reply r = client.run(
            "select top 1 backup_finish_date from msdb..backupset where database_name = N'Half' and type = 'L' "
            "order by backup_finish_date desc");
        EXPECT_EQ(r.value().substr(0, 19), "2026-11-30 01:00:07") << label(g, "7.4");
    }
}

} // namespace
