// `sqllogclean-cli clean` in-process against sandboxes of 2000 and 2019: the
// window's outcomes (the model put back, the chain warning, the reasons, a
// failure, a model that could not be put back), the confirmation, and JSON.
#include "CliRun.h"
#include "tests/report/ReportCatalog.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using sandbox::Generation;
using sandbox::RecoveryModel;
using testsupport::CliRun;
using testsupport::FakeConsole;
using testsupport::runCli;

namespace {

const char* const Succeeded = "数据库清理成功!";
const char* const Failed = "数据库清理失败!";
const char* const ChainBroken = "日志备份链已中断";

class Clean : public ::testing::TestWithParam<Generation> {
protected:
    Clean() : sandbox_(testsupport::reportCatalog(GetParam())) {}

    std::string address() const { return "127.0.0.1," + std::to_string(sandbox_.port()); }

    CliRun clean(std::vector<std::string> options, const FakeConsole& console = {})
    {
        options.insert(options.begin(), {"clean", address()});
        return runCli(options, console);
    }

    RecoveryModel model(const std::u16string& database) { return sandbox_.engine().catalog().find(database)->recovery(); }
    std::int64_t pages(const std::u16string& database)
    {
        return sandbox_.engine().catalog().find(database)->files.back().size;
    }

    void failOn(const std::string& pattern)
    {
        sandbox::Fault f;
        f.pattern = pattern;
        f.error.number = 5069;
        f.error.severity = 16;
        f.error.text = u"ALTER DATABASE statement failed.";
        sandbox_.engine().addFault(f);
    }

    // The block the program wrote for one job: its heading to the next blank-line-ended block.
    std::string block(const std::string& out, const std::string& database, const std::string& file) const
    {
        const std::string heading = "服务器 " + address() + "，数据库 " + database + "，文件 " + file + "：\n";
        const std::size_t at = out.find(heading);
        if (at == std::string::npos)
            return {};
        const std::size_t end = out.find("\n服务器 ", at + heading.size());
        return out.substr(at, end == std::string::npos ? std::string::npos : end - at);
    }

    testsupport::TestSandbox sandbox_;
};

// The window's outcomes, one job after another: each reason as the window
// says it, the chain warning, the model each database had, the system
// database's model untouched, and what cannot be cleaned said and passed by.
TEST_P(Clean, EachJobSaysWhatTheWindowWouldAndPutsTheModelBack)
{
    const bool sql2000 = GetParam() == Generation::Sql2000;
    const CliRun run = clean({"--yes", "-d", "Boundary", "-d", "Held", "-d", "Floor", "-d", "TwoLogs", "-d", "tempdb",
                              "-d", "Away", "-d", "Nope"});
    EXPECT_EQ(run.code, cli::ExitFailed) << run.err;
    EXPECT_EQ(run.asked, "") << "--yes asks nothing";
    struct Case {
        const char* database;
        const char* file;
        std::vector<std::string> says;
        std::vector<std::string> never;
    };
    const Case cases[] = {
        {"Boundary", "Boundary_Log",
         {Succeeded, "日志文件现为 10.5 MB：日志只能按整个虚拟日志文件（VLF）收缩，这是 10 MB 之上最近的边界。", ChainBroken},
         {}},
        {"Held", "Held_Log",
         {Succeeded, sql2000 ? "未能缩小到 10 MB：日志的活动部分位于文件末尾。" : "未能缩小到 10 MB：有未结束的事务。"},
         {}},
        {"Floor", "Floor_Log", {Succeeded, "此日志的 VLF 每个 127.9 MB"}, {ChainBroken}},
        {"TwoLogs", "TwoLogs_Log", {Succeeded}, {"未能缩小"}},
        {"TwoLogs", "TwoLogs_Log2", {Succeeded}, {}},
        {"tempdb", "templog", {Succeeded}, {ChainBroken}},
    };
    for (const Case& c : cases) {
        const std::string said = block(run.out, c.database, c.file);
        ASSERT_NE(said, "") << c.database << " " << c.file << "\n" << run.out;
        for (const std::string& s : c.says)
            EXPECT_NE(said.find(s), std::string::npos) << s << "\n" << said;
        for (const std::string& s : c.never)
            EXPECT_EQ(said.find(s), std::string::npos) << s << "\n" << said;
    }
    EXPECT_NE(run.out.find("，数据库 Away：\nDatabase 'Away' cannot be opened"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("，数据库 Nope：\n"), std::string::npos) << run.out;
    EXPECT_EQ(model(u"Boundary"), RecoveryModel::Full);
    EXPECT_EQ(model(u"Held"), RecoveryModel::Full);
    EXPECT_EQ(model(u"TwoLogs"), RecoveryModel::Simple);
    EXPECT_EQ(model(u"tempdb"), RecoveryModel::Simple);
}

// A job that fails says so as the window does and the model is put back;
// one whose model cannot be put back says how to, and what follows still runs.
TEST_P(Clean, AFailureIsTheWindowsAndTheModelIsPutBackOrSaidHowTo)
{
    failOn("SHRINKFILE.*Boundary_Log");
    if (GetParam() != Generation::Sql2000)
        failOn("ALTER DATABASE \\[?Held\\]? SET RECOVERY FULL");
    const CliRun run = clean({"--yes", "-d", "Boundary", "-d", "Held", "-d", "Small"});
    EXPECT_EQ(run.code, cli::ExitFailed) << run.out;
    EXPECT_NE(block(run.out, "Boundary", "Boundary_Log").find(Failed), std::string::npos) << run.out;
    EXPECT_EQ(model(u"Boundary"), RecoveryModel::Full);
    if (GetParam() != Generation::Sql2000) {
        const std::string held = block(run.out, "Held", "Held_Log");
        EXPECT_NE(held.find("数据库 Held 现为 SIMPLE 恢复模式，未能恢复为 FULL。请执行：ALTER DATABASE"),
                  std::string::npos)
            << held;
        EXPECT_EQ(model(u"Held"), RecoveryModel::Simple);
    }
    EXPECT_NE(block(run.out, "Small", "Small_Log").find(Succeeded), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("not every job succeeded"), std::string::npos) << run.err;
}

// It asks on the terminal with the plan shown (the chain it will break
// among it), and only a yes changes anything; with no terminal and no
// --yes it refuses as a usage error. The box given on the command line is
// the window's.
TEST_P(Clean, OnlyAYesOnTheTerminalChangesAnything)
{
    const std::int64_t before = pages(u"Boundary");
    struct Case {
        std::optional<std::string> answer;
        int code;
        bool changed;
    };
    for (const Case& c : {Case{"n", cli::ExitFailed, false}, Case{"", cli::ExitFailed, false},
                          Case{std::nullopt, cli::ExitUsage, false}, Case{"Y", cli::ExitDone, true}}) {
        FakeConsole console;
        console.answer = c.answer;
        const CliRun run = clean({"-d", "Boundary", "--truncate-on-checkpoint", "on"}, console);
        const std::string answer = c.answer.value_or("(no terminal)");
        EXPECT_EQ(run.code, c.code) << answer << "\n" << run.err;
        EXPECT_EQ(pages(u"Boundary") != before, c.changed) << answer;
        EXPECT_NE(run.asked.find("将截断以下数据库日志中不活动的部分"), std::string::npos) << run.asked;
        EXPECT_NE(run.asked.find("Boundary_Log"), std::string::npos) << run.asked;
        EXPECT_NE(run.asked.find("日志备份链将中断"), std::string::npos) << run.asked;
        EXPECT_TRUE(run.asked.ends_with("继续吗？[y/N] ")) << run.asked;
        EXPECT_EQ(run.out.empty(), !c.changed) << answer << run.out;
    }
    EXPECT_EQ(model(u"Boundary"), RecoveryModel::Simple) << "on: truncated at every checkpoint from now on";
}

// What a program reads: each job's result, size, reason and chain, the
// databases that could not be cleaned with the server's words.
TEST_P(Clean, JsonSaysEachJobsResultAndReason)
{
    const CliRun run = clean({"--yes", "--json", "-d", "Boundary", "-d", "Held", "-d", "Nope"});
    EXPECT_EQ(run.code, cli::ExitFailed);
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["format"], "sqllogclean-clean");
    EXPECT_EQ(doc["version"], 1);
    EXPECT_EQ(doc["cancelled"], false);
    const auto& server = doc["servers"][0];
    EXPECT_EQ(server["ok"], true);
    const auto& boundary = server["databases"][0]["files"][0];
    EXPECT_EQ(boundary["name"], "Boundary_Log");
    EXPECT_EQ(boundary["result"], "succeeded");
    EXPECT_EQ(boundary["size_bytes"], 1344 * 8192);
    EXPECT_EQ(boundary["shortfall"], "vlf_boundary");
    EXPECT_EQ(boundary["chain_broken"], true);
    EXPECT_EQ(boundary["model_not_restored"], nullptr);
    const auto& held = server["databases"][1]["files"][0];
    if (GetParam() == Generation::Sql2000) {
        EXPECT_EQ(held["shortfall"], "active_at_end");
    } else {
        EXPECT_EQ(held["shortfall"], "held");
        EXPECT_EQ(held["log_reuse_wait"], "ACTIVE_TRANSACTION");
    }
    const auto& nope = server["databases"][2];
    EXPECT_NE(nope["error"], nullptr);
    EXPECT_TRUE(nope["files"].empty());
}

// A Ctrl+C during the held shrink: that job is cancelled with the model as
// it was, the next one never starts, and JSON says both.
TEST_P(Clean, ACtrlCCancelsTheRunningJobAndNoneAfterIt)
{
    sandbox::Fault hold;
    hold.action = sandbox::Fault::Action::Hold;
    hold.pattern = "SHRINKFILE";
    sandbox_.engine().addFault(hold);
    FakeConsole console;
    console.interrupter = [this](const std::function<void()>& interrupt) {
        for (int i = 0; i < 6000 && sandbox_.engine().heldSoFar() == 0; ++i)  // a minute: far beyond the need
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        interrupt();
    };
    const CliRun run = clean({"--yes", "--json", "-d", "Boundary", "-d", "Small"}, console);
    EXPECT_EQ(run.code, cli::ExitFailed);
    EXPECT_NE(run.err.find("正在取消"), std::string::npos) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["cancelled"], true);
    const auto& databases = doc["servers"][0]["databases"];
    EXPECT_EQ(databases[0]["files"][0]["result"], "cancelled");
    EXPECT_EQ(databases[0]["recovery_model_after_cancel"], "FULL");
    EXPECT_EQ(databases[1]["files"][0]["result"], "not_run");
    EXPECT_EQ(model(u"Boundary"), RecoveryModel::Full);
}

INSTANTIATE_TEST_SUITE_P(Generations, Clean, ::testing::Values(Generation::Sql2000, Generation::Sql2019),
                         [](const auto& generation) { return generation.param == Generation::Sql2000 ? "Sql2000" : "Sql2019"; });

} // namespace
