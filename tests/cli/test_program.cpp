// The program itself, as a shell runs it: results on standard output, only
// diagnostics on standard error, the exit codes, the password on a pipe.
#include "tests/report/ReportCatalog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::runChild;

TEST(Program, ResultsOnStandardOutputDiagnosticsOnStandardError)
{
    testsupport::TestSandbox server(testsupport::reportCatalog(sandbox::Generation::Sql2008));
    const std::string name = "127.0.0.1," + std::to_string(server.port());

    const auto piped = runChild(SQLLOGCLEAN_CLI_PROGRAM, {"report", name, "--password-stdin"}, "sandbox\n");
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out.rfind("服务器", 0), 0u) << piped.out;
    EXPECT_NE(piped.out.find("Boundary"), std::string::npos);
    EXPECT_EQ(piped.err, "") << "no progress line on a pipe";

    const auto refused = runChild(SQLLOGCLEAN_CLI_PROGRAM, {"report", name, "--json"}, {},
                                  {{"SQLLOGCLEAN_PASSWORD", "not the password"}});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("\"failure\": \"login_refused\""), std::string::npos) << refused.out;
    EXPECT_NE(refused.err.find("1 of 1 servers"), std::string::npos) << refused.err;

    const auto usage = runChild(SQLLOGCLEAN_CLI_PROGRAM, {"report"});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_NE(usage.err, "");

    const auto version = runChild(SQLLOGCLEAN_CLI_PROGRAM, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "sqllogclean-cli 1.0.0\n");
}

} // namespace
