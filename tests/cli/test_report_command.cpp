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

// A table line's cells: columns stand two blanks or more apart, and no cell
// holds two blanks in a row.
std::vector<std::string> cellsOf(const std::string& line)
{
    std::vector<std::string> cells;
    std::size_t at = line.find_first_not_of(' ');
    while (at != std::string::npos) {
        const std::size_t end = line.find("  ", at);
        cells.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? end : line.find_first_not_of(' ', end);
    }
    return cells;
}

TEST_F(Fleet, TheTableHasTheBiggestGainFirstInTheUsersWordsAndSaysWhyServersFailed)
{
    const CliRun run = runCli(args({"--jobs", "3"}));
    EXPECT_EQ(run.code, cli::ExitFailed) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_GT(lines.size(), 30u) << run.out;
    const std::vector<std::string> titles = cellsOf(lines[0]);
    ASSERT_EQ(titles, (std::vector<std::string>{"服务器", "数据库", "状态", "恢复模式", "日志 MB", "已用", "VLF 数", "等待",
                                                "最近日志备份", "清理后 MB", "可释放 MB", "原因"}));
    const auto column = [&titles](const char* title) {
        return static_cast<std::size_t>(std::find(titles.begin(), titles.end(), title) - titles.begin());
    };
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 1; i < lines.size() && cellsOf(lines[i]).size() == titles.size(); ++i)
        rows.push_back(cellsOf(lines[i]));
    EXPECT_EQ(rows.size(), 3u * 10) << run.out;
    // What it frees never grows down the table; what cannot be read comes last.
    double previous = 1e18;
    std::size_t readable = 0;
    for (const std::vector<std::string>& r : rows) {
        if (r[column("可释放 MB")] == "-") {
            previous = -1;
            continue;
        }
        EXPECT_LE(std::stod(r[column("可释放 MB")]), previous) << r[1];
        previous = std::stod(r[column("可释放 MB")]);
        ++readable;
    }
    EXPECT_EQ(readable, 3u * 9) << run.out;  // every ONLINE database of the three servers
    const auto row = [&rows](const std::string& server, const std::string& database) {
        const auto it = std::find_if(rows.begin(), rows.end(),
                                     [&](const std::vector<std::string>& r) { return r[0] == server && r[1] == database; });
        return it == rows.end() ? std::vector<std::string>(12) : *it;
    };
    // The window's reasons, as its report words them.
    const std::vector<std::string> boundary = row(servers_[2], "Boundary");
    EXPECT_EQ(boundary[column("清理后 MB")], "10.5");
    EXPECT_EQ(boundary[column("原因")], "日志只能按整个虚拟日志文件（VLF）收缩，这是 10 MB 之上最近的边界");
    EXPECT_EQ(boundary[column("最近日志备份")], "2026-11-30 01:00");
    EXPECT_EQ(row(servers_[2], "Held")[column("原因")], "有未结束的事务");
    EXPECT_EQ(row(servers_[0], "Held")[column("原因")], "日志的活动部分位于文件末尾。请在下一个检查点之后再运行一次")
        << "2000 cannot say what holds a log";
    EXPECT_EQ(row(servers_[1], "Floor")[column("原因")],
              "日志至少要保留两个虚拟日志文件（VLF），此日志的 VLF 每个 127.9 MB，本工具无法使其更小");
    EXPECT_EQ(row(servers_[1], "Small")[column("原因")], "已在 10 MB 以内");
    EXPECT_EQ(row(servers_[1], "AtEnd")[column("最近日志备份")], "无");
    EXPECT_EQ(row(servers_[1], "Away")[column("原因")], "未联机");
    EXPECT_NE(run.out.find("\n" + servers_[3] + "：未能读取：Login failed for user 'sa' 请检查 sa 的密码。\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\n" + servers_[4] + "：未能读取："), std::string::npos) << run.out;
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
