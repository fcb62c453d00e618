// One server's report through the real driver, as each generation answers:
// what is read where, the forecast against what the window's job then really
// leaves, and a server that cannot be reached or logged in to.
#include "ReportCatalog.h"
#include "db/AdoConnection.h"
#include "db/Errors.h"
#include "db/LogJob.h"
#include "report/ServerReader.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using sandbox::Generation;
using testsupport::utf8;

namespace {

constexpr std::int64_t Page = 8192;

report::ServerReport readFrom(const testsupport::TestSandbox& server, std::u16string password = u"sandbox")
{
    return report::readServer({u"S", server.serverName(), {}}, {std::move(password), 15});
}

const report::DatabaseReport& named(const report::ServerReport& r, std::u16string_view name)
{
    const auto it = std::find_if(r.databases.begin(), r.databases.end(),
                                 [name](const report::DatabaseReport& d) { return d.name == name; });
    if (it == r.databases.end())
        throw std::runtime_error("no database " + utf8(name));
    return *it;
}

TEST(ServerReader, ReadsWhatEachGenerationHas)
{
    for (const Generation g : {Generation::Sql2000, Generation::Sql2005, Generation::Sql2012, Generation::Sql2019}) {
        testsupport::TestSandbox server(testsupport::reportCatalog(g));
        const report::ServerReport r = readFrom(server);
        const std::string on = sandbox::generationInfo(g).name;
        ASSERT_FALSE(r.failed()) << on << ": " << utf8(r.error);
        ASSERT_EQ(r.databases.size(), 10u) << on;
        EXPECT_EQ(r.databases[3].name, u"Boundary") << on;  // in id order
        const report::DatabaseReport& b = named(r, u"Boundary");
        EXPECT_EQ(b.id, 5) << on;
        EXPECT_EQ(b.state, u"ONLINE") << on;
        EXPECT_EQ(b.recoveryModel, u"FULL") << on;
        EXPECT_EQ(b.reuseWait.has_value(), g >= Generation::Sql2005) << on;
        ASSERT_TRUE(b.error.empty()) << on << ": " << utf8(b.error);
        ASSERT_EQ(b.logFiles.size(), 1u) << on;
        EXPECT_EQ(b.logFiles[0].name, u"Boundary_Log") << on;
        EXPECT_EQ(b.logFiles[0].sizeBytes, (1344 + 8192 + 8192) * Page) << on;
        EXPECT_EQ(b.vlfs, g >= Generation::Sql2022 ? 6 : 12) << on;
        EXPECT_EQ(b.logFiles[0].after.sizeBytes, 1344 * Page) << on;
        EXPECT_EQ(b.reason(), db::Shortfall::VlfBoundary) << on;
        EXPECT_TRUE(b.logChain.value_or(false)) << on;
        ASSERT_TRUE(b.lastLogBackup) << on;
        EXPECT_EQ(b.lastLogBackup->day, 30) << on;
        EXPECT_EQ(b.lastLogBackup->second, 7) << on;
        // The log's space: in bytes from the view from 2012, from SQLPERF's
        // megabytes and percentage before; the log less its header page.
        ASSERT_TRUE(b.space) << on;
        EXPECT_EQ(b.space->source,
                  g >= Generation::Sql2012 ? report::SpaceSource::LogSpaceView : report::SpaceSource::SqlPerf)
            << on;
        EXPECT_EQ(b.space->totalBytes, b.logFiles[0].sizeBytes - Page) << on;
        EXPECT_EQ(b.space->usedBytes.has_value(), g >= Generation::Sql2012) << on;
        EXPECT_GT(b.space->usedPercent, 0) << on;

        EXPECT_FALSE(named(r, u"Floor").logChain.value_or(true)) << on;
        EXPECT_EQ(named(r, u"Floor").reason(), db::Shortfall::TwoVlfFloor) << on;
        EXPECT_EQ(named(r, u"AtEnd").reason(), db::Shortfall::ActiveAtEnd) << on;
        EXPECT_EQ(named(r, u"Small").reason(), db::Shortfall::None) << on;
        EXPECT_EQ(named(r, u"Small").bytesFreed(), 0) << on;
        // 2000 cannot say what holds a log.
        EXPECT_EQ(named(r, u"Held").reason(),
                  g >= Generation::Sql2005 ? db::Shortfall::Held : db::Shortfall::ActiveAtEnd)
            << on;
        const report::DatabaseReport& away = named(r, u"Away");
        EXPECT_EQ(away.state, u"OFFLINE") << on;
        EXPECT_TRUE(away.logFiles.empty() && away.error.empty() && !away.space) << on;
    }
}

// The job as the window runs it on one file: the box as the database is.
std::int64_t sizeAfterJob(const testsupport::TestSandbox& server, const std::u16string& database,
                          const std::u16string& file)
{
    db::TADOConnection c;
    c.SetConnectionString(server.connectionString(database));
    c.Open();
    db::TLogJob job(c, database, file);
    job.SetTruncateLogOnCheckpoint(db::TruncatesLogOnCheckpoint(c, database));
    try {
        job.TruncateAndShrink();
    } catch (const db::EDatabaseError&) {
        // A shrink that frees nothing still reports the file's size.
    }
    return job.Outcome().sizePages.value_or(-1) * Page;
}

TEST(ServerReader, TheForecastIsWhatTheJobLeaves)
{
    for (const Generation g : {Generation::Sql2000, Generation::Sql2008, Generation::Sql2019, Generation::Sql2022}) {
        const report::ServerReport r = readFrom(testsupport::TestSandbox(testsupport::reportCatalog(g)));
        for (const report::DatabaseReport& d : r.databases) {
            // 2000 cannot say what holds a log; the forecast takes it as free.
            if (!d.read() || (g == Generation::Sql2000 && d.name == u"Held"))
                continue;
            for (const report::LogFileReport& f : d.logFiles) {
                testsupport::TestSandbox fresh(testsupport::reportCatalog(g));
                EXPECT_EQ(f.after.sizeBytes, sizeAfterJob(fresh, d.name, f.name))
                    << sandbox::generationInfo(g).name << ", " << utf8(d.name) << ", " << utf8(f.name);
            }
        }
    }
}

TEST(ServerReader, AServerThatCannotBeReportedOnSaysWhy)
{
    testsupport::TestSandbox refusing(testsupport::reportCatalog(Generation::Sql2019));
    refusing.server().setRefuseLogins(true);
    const report::ServerReport refused = readFrom(refusing);
    EXPECT_EQ(refused.failure, db::ConnectFailure::LoginRefused);
    EXPECT_NE(utf8(refused.error).find("Login failed"), std::string::npos) << utf8(refused.error);

    std::uint16_t port = 0;
    {
        testsupport::TestSandbox gone;
        port = gone.port();
    }
    const report::ServerReport unreachable =
        report::readServer({u"gone", u"127.0.0.1," + testsupport::utf16(std::to_string(port)), {}}, {u"sandbox", 15});
    EXPECT_EQ(unreachable.failure, db::ConnectFailure::Unreachable) << utf8(unreachable.error);
    EXPECT_TRUE(unreachable.failed());
}

} // namespace
