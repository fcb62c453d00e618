// `sqllogclean-cli report` against several sandboxes at once: 2000, 2008 and
// 2019 (each with a log held by an open transaction and an OFFLINE
// database), one that refuses the login, one port where nothing listens.
#include "CliRun.h"
#include "tests/report/ReportCatalog.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using sandbox::Generation;
using testsupport::CliRun;
using testsupport::runCli;

namespace {

std::string address(std::uint16_t port) { return "127.0.0.1," + std::to_string(port); }

// A port where nothing listens: a sandbox's, once it has stopped.
std::uint16_t closedPort()
{
    testsupport::TestSandbox gone;
    return gone.port();
}

class Fleet : public ::testing::Test {
protected:
    Fleet()
        : s2000_(testsupport::reportCatalog(Generation::Sql2000))
        , s2008_(testsupport::reportCatalog(Generation::Sql2008))
        , s2019_(testsupport::reportCatalog(Generation::Sql2019))
        , refusing_(testsupport::reportCatalog(Generation::Sql2019))
    {
        refusing_.server().setRefuseLogins(true);
        servers_ = {address(s2000_.port()), address(s2008_.port()), address(s2019_.port()),
                    address(refusing_.port()), address(closedPort())};
    }

    std::vector<std::string> args(std::vector<std::string> options) const
    {
        std::vector<std::string> all{"report"};
        all.insert(all.end(), servers_.begin(), servers_.end());
        all.insert(all.end(), options.begin(), options.end());
        return all;
    }

    testsupport::TestSandbox s2000_, s2008_, s2019_, refusing_;
    std::vector<std::string> servers_;
};

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The table's cell in `column` (by its title's position) of `line`.
std::string cell(const std::string& header, const std::string& line, const std::string& column, std::size_t width)
{
    const std::size_t at = header.find(column);
    return line.size() > at ? line.substr(at, width) : std::string();
}

TEST_F(Fleet, TheTableHasTheBiggestGainFirstAndSaysWhyServersFailed)
{
    const CliRun run = runCli(args({"--jobs", "3"}));
    EXPECT_EQ(run.code, cli::ExitFailed) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_GT(lines.size(), 30u) << run.out;
    const std::string& header = lines[0];
    EXPECT_EQ(header.rfind("SERVER", 0), 0u) << header;
    // FREES MB, right-aligned under its title, never grows down the table.
    const std::size_t frees = header.find("FREES MB");
    double previous = 1e18;
    std::size_t readable = 0;
    for (std::size_t i = 1; i < lines.size() && lines[i].find("not reported") == std::string::npos; ++i) {
        const std::string value = lines[i].substr(frees - 2, 10);
        if (value.find('-') != std::string::npos)
            continue;
        EXPECT_LE(std::stod(value), previous) << lines[i];
        previous = std::stod(value);
        ++readable;
    }
    EXPECT_EQ(readable, 3u * 9) << run.out;  // every ONLINE database of the three servers
    const auto row = [&lines](const std::string& server, const std::string& database) {
        const auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.rfind(server + " ", 0) == 0 && l.find(" " + database + " ") != std::string::npos;
        });
        return it == lines.end() ? std::string() : *it;
    };
    const std::string boundary = row(servers_[2], "Boundary");
    EXPECT_EQ(cell(header, boundary, "AFTER MB", 8), "    10.5") << boundary;
    EXPECT_NE(boundary.find("first VLF boundary above 10 MB"), std::string::npos) << boundary;
    EXPECT_NE(row(servers_[2], "Held").find("held: ACTIVE_TRANSACTION"), std::string::npos);
    EXPECT_NE(row(servers_[1], "Away").find("not online"), std::string::npos);
    EXPECT_NE(run.out.find(servers_[3] + ": not reported: Login failed for user 'sa'"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(servers_[4] + ": not reported: "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("2 of 5 servers could not be reported on"), std::string::npos) << run.err;
}

TEST_F(Fleet, TheJsonSaysWhatEachGenerationReadAndWhyServersFailed)
{
    const CliRun run = runCli(args({"--json"}));
    EXPECT_EQ(run.code, cli::ExitFailed);
    const nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["format"], "sqllogclean-report");
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["target_bytes"], 10 * 1024 * 1024);
    const nlohmann::json& servers = j["servers"];
    ASSERT_EQ(servers.size(), 5u);
    for (std::size_t i = 0; i < servers.size(); ++i)
        EXPECT_EQ(servers[i]["server"], servers_[i]) << "in the order named";
    EXPECT_EQ(servers[3]["failure"], "login_refused");
    EXPECT_EQ(servers[4]["failure"], "unreachable");
    EXPECT_FALSE(servers[4]["ok"].get<bool>());
    EXPECT_TRUE(servers[4]["databases"].empty());

    const auto database = [&servers](std::size_t server, const std::string& name) {
        for (const nlohmann::json& d : servers[server]["databases"])
            if (d["name"] == name)
                return d;
        return nlohmann::json();
    };
    const struct {
        std::size_t server;
        const char* generation;
        const char* source;
        bool reuseWait;
        const char* heldReason;
    } generations[] = {
        {0, "2000", "DBCC SQLPERF(LOGSPACE)", false, "active_at_end"},  // 2000 cannot say what holds it
        {1, "2008", "DBCC SQLPERF(LOGSPACE)", true, "held"},
        {2, "2019", "sys.dm_db_log_space_usage", true, "held"},
    };
    for (const auto& g : generations) {
        const nlohmann::json& s = servers[g.server];
        EXPECT_EQ(s["generation"], g.generation);
        EXPECT_TRUE(s["ok"].get<bool>());
        const nlohmann::json b = database(g.server, "Boundary");
        EXPECT_EQ(b["log_space"]["source"], g.source) << g.generation;
        EXPECT_EQ(b["log_space"]["used_bytes"].is_null(), g.server < 2) << g.generation;
        EXPECT_EQ(b["log_reuse_wait"].is_null(), !g.reuseWait) << g.generation;
        EXPECT_EQ(b["after_job_bytes"], 1344 * 8192) << g.generation;
        EXPECT_EQ(b["frees_bytes"], (8192 + 8192) * 8192) << g.generation;
        EXPECT_EQ(b["reason"], "vlf_boundary") << g.generation;
        EXPECT_EQ(b["last_log_backup"], "2026-11-30T01:00:07") << g.generation;
        EXPECT_TRUE(b["log_backup_chain"].get<bool>()) << g.generation;
        ASSERT_EQ(b["log_files"].size(), 1u) << g.generation;
        EXPECT_EQ(b["log_files"][0]["stop"], "vlf_boundary") << g.generation;
        EXPECT_EQ(database(g.server, "Held")["reason"], g.heldReason) << g.generation;
        EXPECT_EQ(database(g.server, "Floor")["reason"], "two_vlf_floor") << g.generation;
        const nlohmann::json away = database(g.server, "Away");
        EXPECT_EQ(away["state"], "OFFLINE") << g.generation;
        EXPECT_TRUE(away["reason"].is_null() && away["log_files"].empty()) << g.generation;
    }
}

// Each session's batches span an interval of all the batches the sandboxes
// received, in the order they arrived: a worker's next server starts after
// its last one answered, so no more intervals overlap than there are workers.
std::size_t mostSessionsAtOnce(const std::vector<std::unique_ptr<testsupport::TestSandbox>>& servers)
{
    std::vector<std::pair<std::uint64_t, int>> edges;  // +1 at a session's first batch, -1 after its last
    for (const auto& s : servers) {
        const std::vector<sandbox::BatchMark> marks = s->server().batchMarks();
        if (marks.empty())
            continue;
        const auto [first, last] = std::minmax_element(
            marks.begin(), marks.end(), [](const sandbox::BatchMark& a, const sandbox::BatchMark& b) { return a.order < b.order; });
        edges.push_back({first->order, +1});
        edges.push_back({last->order + 1, -1});
    }
    std::sort(edges.begin(), edges.end());
    int open = 0, most = 0;
    for (const auto& [order, change] : edges)
        most = std::max(most, open += change);
    return static_cast<std::size_t>(most);
}

TEST(ReportCommand, NeverMoreServersAtOnceThanJobs)
{
    for (const int jobs : {1, 2, 3}) {
        std::vector<std::unique_ptr<testsupport::TestSandbox>> servers;
        std::vector<std::string> args{"report", "--json", "--jobs", std::to_string(jobs)};
        for (int i = 0; i < 7; ++i) {
            servers.push_back(std::make_unique<testsupport::TestSandbox>(testsupport::reportCatalog(Generation::Sql2019)));
            args.push_back(address(servers.back()->port()));
        }
        const CliRun run = runCli(args);
        EXPECT_EQ(run.code, cli::ExitDone) << run.err;
        EXPECT_EQ(nlohmann::json::parse(run.out)["servers"].size(), 7u);
        for (const auto& s : servers)
            EXPECT_FALSE(s->server().batchMarks().empty()) << "every server was read";
        EXPECT_LE(mostSessionsAtOnce(servers), static_cast<std::size_t>(jobs)) << jobs << " jobs";
    }
}

} // namespace
