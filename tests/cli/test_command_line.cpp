// sqllogclean-cli's command line: where the password comes from, usage
// errors and their exit code, colour, the progress line, the servers file.
#include "CliRun.h"
#include "cli/ServerList.h"
#include "tests/report/ReportCatalog.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

using testsupport::CliRun;
using testsupport::FakeConsole;
using testsupport::runCli;

namespace {

class OneServer : public ::testing::Test {
protected:
    OneServer() : server_(testsupport::reportCatalog(sandbox::Generation::Sql2019)) {}
    std::string name() const { return "127.0.0.1," + std::to_string(server_.port()); }

    testsupport::TestSandbox server_;
};

TEST_F(OneServer, ThePasswordComesFromStdinTheEnvironmentOrTheTerminalNeverTheCommandLine)
{
    struct Case {
        const char* what;
        bool stdinOption;
        std::string input;
        std::optional<std::string> variable;
        bool terminal;
        std::optional<std::string> typed;
        int code;
        const char* err;  // what standard error holds
    } cases[] = {
        {"the environment", false, "", "sandbox", false, std::nullopt, cli::ExitDone, ""},
        {"standard input before the environment", true, "sandbox\r\n", "wrong", false, std::nullopt, cli::ExitDone, ""},
        {"typed without echo", false, "", std::nullopt, true, "sandbox", cli::ExitDone, "Password for sa: "},
        {"an empty variable is an empty password", false, "", "", false, std::nullopt, cli::ExitFailed,
         "1 of 1 servers"},
        {"none to be had", false, "", std::nullopt, false, std::nullopt, cli::ExitUsage, "SQLLOGCLEAN_PASSWORD"},
        {"standard input at its end", true, "", "sandbox", false, std::nullopt, cli::ExitUsage, "no password"},
        {"the terminal's input at its end", false, "", std::nullopt, true, std::nullopt, cli::ExitUsage, "no password"},
    };
    for (const Case& c : cases) {
        FakeConsole console;
        console.input = c.input;
        console.environment.clear();
        if (c.variable)
            console.environment["SQLLOGCLEAN_PASSWORD"] = *c.variable;
        console.inIsTerminal = c.terminal;
        console.typed = c.typed;
        std::vector<std::string> args{"report", name()};
        if (c.stdinOption)
            args.push_back("--password-stdin");
        const CliRun run = runCli(args, console);
        EXPECT_EQ(run.code, c.code) << c.what << ": " << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.what << ": " << run.err;
    }
}

TEST_F(OneServer, UsageErrorsExitWithTwoAndSayWhy)
{
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* where;  // "out" or "err"
        const char* says;
    } cases[] = {
        {{}, cli::ExitUsage, "err", "A subcommand is required"},
        {{"report"}, cli::ExitUsage, "err", "name a server, --servers-file or --discover"},
        {{"report", name(), "--jobs", "0"}, cli::ExitUsage, "err", "--jobs"},
        {{"report", name(), "--jobs", "65"}, cli::ExitUsage, "err", "--jobs"},
        {{"report", name(), "--password", "sandbox"}, cli::ExitUsage, "err", "--password"},
        {{"report", "--servers-file", "/nonexistent/servers.txt"}, cli::ExitUsage, "err",
         "cannot read the servers file /nonexistent/servers.txt"},
        {{"--version"}, cli::ExitDone, "out", "sqllogclean-cli 1.0.0"},
        {{"report", "--help"}, cli::ExitDone, "out", "SQLLOGCLEAN_PASSWORD"},
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(c.args);
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        EXPECT_EQ(run.code, c.code) << joined << run.err;
        EXPECT_NE((std::string(c.where) == "out" ? run.out : run.err).find(c.says), std::string::npos)
            << joined << "\nout: " << run.out << "\nerr: " << run.err;
    }
}

TEST_F(OneServer, ColourOnlyOnATerminalWithoutNoColourAndProgressOnlyOnAnErrorTerminal)
{
    struct Case {
        bool outTerminal, errTerminal;
        std::optional<std::string> noColour;
        bool colour, progress;
    } cases[] = {
        {true, false, std::nullopt, true, false},
        {true, false, "1", false, false},
        {true, false, "", true, false},  // set but empty: as if not set
        {false, true, std::nullopt, false, true},
        {false, false, std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        FakeConsole console;
        console.outIsTerminal = c.outTerminal;
        console.errIsTerminal = c.errTerminal;
        if (c.noColour)
            console.environment["NO_COLOR"] = *c.noColour;
        const CliRun run = runCli({"report", name()}, console);
        EXPECT_EQ(run.code, cli::ExitDone);
        const std::string on = std::string(c.outTerminal ? "out on a terminal" : "out to a pipe") +
                               (c.noColour ? ", NO_COLOR='" + *c.noColour + "'" : "");
        EXPECT_EQ(run.out.find("\x1b["), c.colour ? 0u : std::string::npos) << on;
        EXPECT_EQ(run.err.find("\r1/1 servers, last: " + name()) != std::string::npos, c.progress) << on;
        // The progress line leaves nothing behind on the terminal.
        if (c.progress) {
            EXPECT_EQ(run.err.substr(run.err.rfind('\r')), "\r") << on;
        }
    }
}

TEST_F(OneServer, AServersFileNamesOneALineWithCommentsEachOnce)
{
    EXPECT_EQ(cli::serverLines("\xEF\xBB\xBF" "a\r\n\n  # b\n c ,1433 \n#d\n"),
              (std::vector<std::string>{"a", "c ,1433"}));
    char path[] = "/tmp/sqllogclean-servers-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::ofstream(path) << "# the shard\n" << name() << "\n\n" << name() << "\n";
    const CliRun run = runCli({"report", "--json", "--servers-file", path, name()});
    std::remove(path);
    EXPECT_EQ(run.code, cli::ExitDone) << run.err;
    EXPECT_EQ(run.out.find("\"server\"", run.out.find("\"server\"") + 1), std::string::npos) << "read once: " << run.out;
}

} // namespace
