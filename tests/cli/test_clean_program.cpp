// clean as a shell runs it: the question asked on the controlling terminal
// while the password comes through a pipe, no terminal and no --yes, and
// Ctrl+C (SIGINT) during a statement the sandbox holds, then again while the
// model is being put back.
#include "tests/report/ReportCatalog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

namespace {

using testsupport::ChildOptions;
using testsupport::RunningChild;

std::string address(const testsupport::TestSandbox& s) { return "127.0.0.1," + std::to_string(s.port()); }

sandbox::RecoveryModel model(testsupport::TestSandbox& s, const std::u16string& database)
{
    return s.engine().catalog().find(database)->recovery();
}

// The program has no time-out of its own here: a minute is far beyond what
// a held statement takes to be reached.
[[nodiscard]] bool heldAtLeast(testsupport::TestSandbox& s, std::uint64_t statements)
{
    for (int i = 0; i < 6000; ++i) {
        if (s.engine().heldSoFar() >= statements)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void hold(testsupport::TestSandbox& s, const std::string& pattern)
{
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::Hold;
    f.pattern = pattern;
    s.engine().addFault(f);
}

TEST(CleanProgram, AsksOnItsTerminalWhateverTheStandardStreamsAre)
{
    struct Case {
        ChildOptions::Terminal terminal;
        std::string typed;
        int code;
        bool cleaned;
    };
    const Case cases[] = {{ChildOptions::Terminal::Own, "y\n", 0, true},
                          {ChildOptions::Terminal::Own, "n\n", 1, false},
                          {ChildOptions::Terminal::None, "", 2, false}};
    for (const Case& c : cases) {
        testsupport::TestSandbox s(testsupport::reportCatalog(sandbox::Generation::Sql2019));
        const std::int64_t before = s.engine().catalog().find(u"Boundary")->files.back().size;
        ChildOptions options;
        options.input = "sandbox\n";
        options.terminal = c.terminal;
        options.typed = c.typed;
        RunningChild child(SQLLOGCLEAN_CLI_PROGRAM, {"clean", address(s), "-d", "Boundary", "--password-stdin"},
                           options);
        const testsupport::ChildResult r = child.finish();
        EXPECT_EQ(r.exitCode, c.code) << c.typed << r.err;
        EXPECT_EQ(s.engine().catalog().find(u"Boundary")->files.back().size != before, c.cleaned) << c.typed;
        EXPECT_EQ(r.out.find("数据库清理成功!") != std::string::npos, c.cleaned) << r.out;
        if (c.terminal == ChildOptions::Terminal::Own)
            EXPECT_NE(r.terminal.find("继续吗？[y/N] "), std::string::npos) << r.terminal;
        else
            EXPECT_NE(r.err.find("no terminal to ask on"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("继续吗"), std::string::npos) << "the question is not a result";
    }
}

// The first Ctrl+C cancels the held shrink; the model is put back (held in
// turn), a second Ctrl+C says it waits for that and stops nothing, the next
// database's job never starts, and the program ends saying so.
TEST(CleanProgram, CtrlCCancelsTheStatementAndTheModelIsPutBackFirst)
{
    testsupport::TestSandbox s(testsupport::reportCatalog(sandbox::Generation::Sql2019));
    hold(s, "SHRINKFILE");
    hold(s, "SET RECOVERY FULL");
    ChildOptions options;
    options.environment = {{"SQLLOGCLEAN_PASSWORD", "sandbox"}};
    RunningChild child(SQLLOGCLEAN_CLI_PROGRAM, {"clean", address(s), "-d", "Boundary", "-d", "Small", "--yes"},
                       options);
    ASSERT_TRUE(heldAtLeast(s, 1));
    EXPECT_EQ(model(s, u"Boundary"), sandbox::RecoveryModel::Simple) << "switched for the truncation";
    ::kill(child.pid(), SIGINT);
    EXPECT_TRUE(child.waitForError("正在取消"));
    ASSERT_TRUE(heldAtLeast(s, 2)) << "the put-back";
    ::kill(child.pid(), SIGINT);
    EXPECT_TRUE(child.waitForError("再按 Ctrl+C 也不会中止恢复"));
    s.engine().releaseHeld();
    const testsupport::ChildResult r = child.finish();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("数据库清理失败!"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("已取消。"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("数据库 Boundary 现为 FULL 恢复模式。"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("已取消，其余 1 项未运行。"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Small_Log"), std::string::npos) << r.out;
    EXPECT_EQ(model(s, u"Boundary"), sandbox::RecoveryModel::Full);
}

} // namespace
