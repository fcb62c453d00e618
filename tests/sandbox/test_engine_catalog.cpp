// Catalogs from JSON, names SQL Server allows but a naive parser trips on,
// and the default catalog's shape.
#include "RecordingSink.h"

#include "sandbox/sql/Engine.h"

#include <gtest/gtest.h>

#include <QString>


using namespace sandbox;
using testsupport::RecordingSink;

namespace {

std::string utf8(const std::u16string& s) { return QString::fromStdU16String(s).toStdString(); }

std::string catalogError(const std::string& json)
{
    try {
        Catalog::fromJson(json);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

constexpr const char* OddNames = R"({"databases":[
  {"name":"master","files":[{"name":"master","filename":"C:\\data\\master.mdf"},{"name":"mastlog","filename":"C:\\data\\mastlog.ldf"}]},
  {"name":"游戏 数据","files":[
     {"name":"游戏 数据_Data","size":1000,"usedPages":400},
     {"name":"游戏 数据_Log","size":8000,"activePages":100,"inactivePages":7000}]},
  {"name":"Guild's [Old]; Archive","truncLogOnChkpt":true,"files":[
     {"name":"it's; [log]","filename":"E:\\log\\odd.ldf","size":4000,"activePages":64,"inactivePages":100}]},
  {"name":"Dark","offline":true}
]})";

TEST(CatalogJson, OmittedFieldsGetSensibleDefaults)
{
    const Catalog c = Catalog::fromJson(OddNames);
    ASSERT_EQ(c.databases.size(), 4u);
    EXPECT_EQ(c.databases[0].dbId, 1);  // master keeps its id
    EXPECT_EQ(c.databases[1].dbId, 5);  // user databases start at 5
    EXPECT_EQ(c.databases[2].dbId, 6);
    EXPECT_EQ(c.databases[3].dbId, 7);
    EXPECT_FALSE(c.find(u"master")->files[0].isLog());
    EXPECT_TRUE(c.find(u"master")->files[1].isLog());  // by its .ldf name

    const DbFile& log = c.find(u"游戏 数据")->files[1];
    EXPECT_EQ(log.fileId, 2);
    EXPECT_EQ(log.groupId, 0);
    EXPECT_EQ(log.status, 0x42 | 0x100000);
    EXPECT_EQ(log.inactivePages, 7000);
    EXPECT_EQ(log.maxSize, -1);

    const Database& odd = *c.find(u"guild's [old]; archive  ");
    EXPECT_TRUE(odd.truncLogOnCheckpoint());
    ASSERT_EQ(odd.files.size(), 1u);
    EXPECT_TRUE(odd.files[0].isLog());  // told by its file name
    EXPECT_EQ(odd.files[0].fileId, 1);

    const Database& dark = *c.find(u"Dark");
    EXPECT_EQ(dark.state, sandbox::DatabaseState::Offline);
    ASSERT_EQ(dark.files.size(), 2u);  // a database always gets a data and a log file
    EXPECT_EQ(dark.files[0].name, u"Dark_Data");
    EXPECT_TRUE(dark.files[1].isLog());
    EXPECT_EQ(dark.files[1].fileName, u"C:\\Program Files\\Microsoft SQL Server\\MSSQL\\data\\Dark_Log.LDF");
    EXPECT_EQ(c.find(u"tempdb"), nullptr);  // only what the file lists
}

TEST(CatalogJson, MistakesAreReportedClearly)
{
    EXPECT_NE(catalogError("{").find("not valid JSON"), std::string::npos);
    EXPECT_NE(catalogError("[]").find("\"databases\" array"), std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"dbid":5}]})").find("database 1"), std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A"},{"name":"a "}]})").find("already used"), std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","dbid":5},{"name":"B","dbid":5}]})").find("dbid 5"),
              std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","files":[{"size":"big"}]}]})").find("\"size\" must be an integer"),
              std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","files":[{"fileid":2,"size":10,"activePages":20}]}]})")
                  .find("exceed size"),
              std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","files":[{"fileid":1},{"fileid":1,"name":"x"}]}]})")
                  .find("fileid 1 is used twice"),
              std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","offline":"yes"}]})").find("true or false"), std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","state":"LOADING"}]})").find("must be ONLINE"), std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","state":"SUSPECT","offline":true}]})").find("disagree"),
              std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","userAccess":"ONE"}]})").find("SINGLE_USER or MULTI_USER"),
              std::string::npos);
    EXPECT_THROW(Catalog::fromJsonFile("/nonexistent/catalog.json"), std::runtime_error);
}

TEST(CatalogJson, DemoCatalogLoads)
{
    const Catalog c = Catalog::fromJsonFile(SQLLOGCLEAN_DEMO_CATALOG);
    ASSERT_NE(c.find(u"游戏 数据"), nullptr);
    ASSERT_NE(c.find(u"master"), nullptr);
    EXPECT_EQ(c.find(u"GameDB")->files.at(1).size, 262144);
    ASSERT_NE(c.find(u"Merge"), nullptr);
    EXPECT_EQ(c.find(u"Merge")->files.at(1).name, u"Pivot");
    ASSERT_NE(c.find(u"Restoring"), nullptr);
    EXPECT_EQ(c.find(u"Restoring")->state, sandbox::DatabaseState::Restoring);
}

TEST(CatalogJson, LogsAreDescribedByHowTheyCameToBeOrByTheirVlfs)
{
    Catalog c = Catalog::fromJson(R"({"version":"2014","databases":[
      {"name":"A","files":[{"fileid":2,"name":"A_Log","created":1280,"growths":[5120],"logStart":1400,
                            "inactivePages":5000,"activePages":100}]},
      {"name":"B","files":[{"fileid":2,"name":"B_Log","vlfs":[{"pages":100,"status":"active"},
                            {"pages":50,"status":"inactive","sequence":7},{"pages":60}]}]}]})");
    EXPECT_EQ(c.find(u"A")->files[0].size, 6400);
    EXPECT_EQ(c.find(u"B")->files[0].size, 211);  // the header and the VLFs
    c.prepare();
    std::vector<VlfState> states;
    for (const Vlf& v : c.find(u"A")->files[0].vlfs)
        states.push_back(v.state);
    // 10 MB in 4 VLFs, 40 MB (not under 1/8) in 4; the active part wrapped round to the start.
    EXPECT_EQ(states, (std::vector<VlfState>{VlfState::Active, VlfState::Reusable, VlfState::Reusable,
                                             VlfState::Reusable, VlfState::Inactive, VlfState::Inactive,
                                             VlfState::Inactive, VlfState::Inactive}));
    const std::vector<Vlf>& b = c.find(u"B")->files[0].vlfs;
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[1].start, 101);
    EXPECT_EQ(b[1].sequence, 7);
    EXPECT_EQ(b[2].state, VlfState::Reusable);

    const auto log = [](const std::string& file) {
        return catalogError(R"({"version":"2012","databases":[{"name":"A","files":[)" + file + "]}]}");
    };
    const std::pair<std::string, std::string> errors[] = {
        {R"({"fileid":2,"created":1280,"growths":[100],"size":2000})", "must add up to \"size\""},
        {R"({"fileid":2,"created":1280,"size":2000})", "when the log never grew"},
        {R"({"fileid":2,"vlfs":[{"pages":10}],"activePages":1})", "\"vlfs\" says it all"},
        {R"({"fileid":2,"vlfs":[{"pages":10}],"size":12})", "not the pages of the VLFs"},
        {R"({"fileid":2,"vlfs":[{"pages":0}]})", "VLF 1: \"pages\""},
        {R"({"fileid":2,"vlfs":[{"pages":5,"status":"busy"}]})", "active, inactive or reusable"},
        {R"({"fileid":2,"size":6400,"logStart":6400})", "\"logStart\""},
        {R"({"fileid":1,"growths":[10]})", "\"growths\" is for log files"},
    };
    for (const auto& [file, error] : errors)
        EXPECT_NE(log(file).find(error), std::string::npos) << file << ": " << log(file);
}

TEST(CatalogJson, HoldsAndBackupsAsTheCatalogsVersionNamesThem)
{
    const auto hold = [](const char* version, const char* wait) {
        const Catalog c = Catalog::fromJson(std::string(R"({"version":")") + version
                                            + R"(","databases":[{"name":"A","logReuseWait":")" + wait + R"("}]})");
        return static_cast<int>(c.find(u"A")->hold);
    };
    EXPECT_EQ(hold("2008R2", "OTHER_TRANSIENT"), 9);
    EXPECT_EQ(hold("2012", "OTHER_TRANSIENT"), 14);
    EXPECT_EQ(hold("2012", "AVAILABILITY_REPLICA"), 9);
    EXPECT_EQ(hold("2014", "XTP_CHECKPOINT"), 16);
    EXPECT_NE(catalogError(R"({"version":"2012","databases":[{"name":"A","logReuseWait":"XTP_CHECKPOINT"}]})")
                  .find("log_reuse_wait_desc of this version"),
              std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","backups":[{"type":"X"}]}]})").find("D, I or L"),
              std::string::npos);
    EXPECT_NE(catalogError(R"({"databases":[{"name":"A","backups":[{"type":"L","start":"yesterday"}]}]})")
                  .find("date and time"),
              std::string::npos);
    const Catalog c = Catalog::fromJson(R"({"databases":[{"name":"A","backups":[
        {"type":"D","start":"2026-11-29T01:00:00","finish":"2026-11-29T01:04:12"},
        {"type":"L","start":"2026-11-30T01:00:00","finish":"2026-11-30T01:00:09"}]}]})");
    ASSERT_EQ(c.backups.size(), 2u);
    EXPECT_EQ(c.backups[1].id, 2);
    EXPECT_EQ(c.backups[1].type, u'L');
    EXPECT_EQ(c.backups[1].databaseBackupLsn, c.backups[0].firstLsn);
    EXPECT_EQ(c.find(u"A")->lastLogBackupLsn(), c.backups[1].lastLsn);
}

TEST(CatalogDefaults, SystemAndUserDatabases)
{
    const Catalog c = Catalog::defaults();
    ASSERT_EQ(c.databases.size(), 6u);
    const char16_t* names[] = {u"master", u"tempdb", u"model", u"msdb"};
    for (std::int16_t id = 1; id <= 4; ++id)
        EXPECT_EQ(c.find(names[id - 1])->dbId, id);
    for (const Database& d : c.databases) {
        ASSERT_EQ(d.files.size(), 2u) << utf8(d.name);
        const DbFile& log = d.files[1];
        EXPECT_EQ(log.fileId, 2);
        EXPECT_EQ(log.groupId, 0);
        EXPECT_EQ(log.status & 0x42, 0x42);
        EXPECT_LE(log.activePages + log.inactivePages, log.size);
        EXPECT_LE(d.files[0].usedPages, d.files[0].size);
    }
    const Database& big = c.databases[4];
    EXPECT_EQ(big.dbId, 5);
    EXPECT_EQ(big.files[1].size, 262144);
    EXPECT_EQ(big.files[1].activePages, 640);
    EXPECT_EQ(c.databases[5].dbId, 6);
    EXPECT_EQ(c.databases[5].files[1].size, 6400);  // 50 MB
}

TEST(CatalogNames, CompareLikeSqlServer)
{
    EXPECT_TRUE(sameName(u"GameDB", u"gamedb"));
    EXPECT_TRUE(sameName(u"GameDB  ", u"GAMEDB"));
    EXPECT_FALSE(sameName(u" GameDB", u"GameDB"));
    EXPECT_TRUE(sameName(u"ÄRGER", u"ärger"));
    EXPECT_TRUE(sameName(u"游戏 数据", u"游戏 数据 "));
    EXPECT_FALSE(sameName(u"游戏 数据", u"游戏数据"));
}

class OddNamesTest : public ::testing::Test {
protected:
    RecordingSink run(const std::u16string& batch)
    {
        RecordingSink sink;
        engine.runBatch(session, batch, sink);
        return sink;
    }
    Engine engine{Catalog::fromJson(OddNames)};
    SessionState session;
};

TEST_F(OddNamesTest, QuotedNamesReachTheirDatabases)
{
    RecordingSink r = run(u"USE [游戏 数据]");
    ASSERT_EQ(r.changes.size(), 1u);
    EXPECT_EQ(r.changes[0].first, u"游戏 数据");
    EXPECT_EQ(r.messages.at(0).text, u"Changed database context to '游戏 数据'.");

    r = run(u"use \"Guild's [Old]; Archive\"");
    EXPECT_EQ(session.database, u"Guild's [Old]; Archive");
    r = run(u"use [master]; USE [Guild's [Old]]; Archive]");
    EXPECT_EQ(r.messageNumbers(), (std::vector<int>{5701, 5701}));
    EXPECT_EQ(session.database, u"Guild's [Old]; Archive");

    r = run(u"select * from sysfiles where name = N'it''s; [log]'");
    ASSERT_EQ(r.resultSets.size(), 1u);
    EXPECT_EQ(r.resultSets[0].rows.size(), 1u);

    // Created at its 4000 pages: four VLFs, of which a log keeps two.
    r = run(u"DBCC SHRINKFILE ([it's; [log]]], 1)");
    EXPECT_EQ(r.messageNumbers(), (std::vector<int>{9006, 2528}));
    EXPECT_EQ(r.messages[0].text,
              u"Cannot shrink log file 1 (it's; [log]) because total number of logical log files cannot be fewer than 2.");
    EXPECT_EQ(engine.catalog().find(u"Guild's [Old]; Archive")->files[0].size, 1985);

    r = run(u"backup log [Guild's [Old]]; Archive] with truncate_only DBCC SHRINKFILE (N'it''s; [log]', 20)");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{2528});
    EXPECT_EQ(engine.catalog().find(u"Guild's [Old]; Archive")->files[0].size, 1985);

    r = run(u"exec sp_dboption N'Guild''s [Old]; Archive', 'trunc. log on chkpt.', 'false'");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_FALSE(engine.catalog().find(u"Guild's [Old]; Archive")->truncLogOnCheckpoint());

    r = run(u"use [Dark]");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{942});

    r = run(u"select name from master..sysdatabases where name = N'游戏 数据'");
    ASSERT_EQ(r.resultSets.size(), 1u);
    ASSERT_EQ(r.resultSets[0].rows.size(), 1u);
    r = run(u"select status from master..sysdatabases where name = 'Dark'");
    EXPECT_EQ(std::get<std::int64_t>(r.resultSets.at(0).rows.at(0)[0]) & 512, 512);
}

TEST_F(OddNamesTest, UnquotedCjkIdentifierIsAName)
{
    Catalog c = engine.catalog();
    Database d;
    d.dbId = 20;
    d.name = u"游戏数据";
    c.databases.push_back(d);
    engine.setCatalog(c);
    const RecordingSink r = run(u"use 游戏数据");
    EXPECT_EQ(session.database, u"游戏数据");
    EXPECT_EQ(r.messageNumbers(), std::vector<int>{5701});
}

} // namespace
