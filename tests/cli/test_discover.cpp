// `report --discover`: the servers the SQL Server Browser services announce,
// reached at the address the answer came from and the port it named. The
// request goes to UDP 1434, broadcast and on this machine: the test takes a
// network namespace of its own, where the responder is the only one there.
#include "CliRun.h"
#include "sandbox/net/ResolutionResponder.h"
#include "tests/report/ReportCatalog.h"
#include "tests/support/OwnNetwork.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>

TEST(Discover, ReportsEveryServerAnnouncedAndEachOnce)
{
    const std::string failure = testsupport::enterOwnNetwork();
    ASSERT_TRUE(failure.empty()) << failure;

    testsupport::TestSandbox shard1(testsupport::reportCatalog(sandbox::Generation::Sql2000));
    testsupport::TestSandbox shard2(testsupport::reportCatalog(sandbox::Generation::Sql2019));
    sandbox::ResolutionResponder responder(sandbox::ResponderOptions{
        "127.0.0.1", 1434,
        {{u"GAME", u"SHARD1", "8.00.194", shard1.port(), false}, {u"GAME", u"SHARD2", "15.0.4322.2", shard2.port(), false}}});
    responder.start();

    // shard2 also named by its address: read once.
    const testsupport::CliRun run =
        testsupport::runCli({"report", "--discover", "--json", "127.0.0.1," + std::to_string(shard2.port())});
    EXPECT_EQ(run.code, cli::ExitDone) << run.err;
    const nlohmann::json servers = nlohmann::json::parse(run.out)["servers"];
    std::set<std::string> names;
    for (const nlohmann::json& s : servers) {
        names.insert(s["server"].get<std::string>() + " at " + s["address"].get<std::string>());
        EXPECT_TRUE(s["ok"].get<bool>()) << s.dump();
    }
    EXPECT_EQ(names, (std::set<std::string>{"127.0.0.1," + std::to_string(shard2.port()) + " at 127.0.0.1," +
                                                std::to_string(shard2.port()),
                                            "GAME\\SHARD1 at 127.0.0.1," + std::to_string(shard1.port())}));
    EXPECT_GE(responder.answered(), 1);
}
