// A typed "host\instance" through the real driver: FreeTDS asks UDP 1434 on
// that host for the instance's TCP port, then logs in there.
#include "db/AdoConnection.h"
#include "db/Errors.h"
#include "sandbox/net/ResolutionResponder.h"
#include "sandbox/net/Server.h"
#include "tests/support/OwnNetwork.h"

#include <gtest/gtest.h>

#include <string>

// FreeTDS always asks port 1434, which another test or a real browser
// service may hold: the test takes a network namespace of its own.
TEST(NamedInstance, ConnectsThroughTheResolutionResponder)
{
    const std::string failure = testsupport::enterOwnNetwork();
    ASSERT_TRUE(failure.empty()) << failure;

    sandbox::ServerOptions options;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.password = u"sandbox";
    sandbox::Server server(std::move(options));
    server.start();
    sandbox::ResolutionResponder responder(sandbox::ResponderOptions{
        "127.0.0.1", 1434, {{u"SANDBOX", u"INST", "8.00.194", server.port(), false}}});
    responder.start();

    db::TADOConnection connection;
    connection.SetConnectionString(
        u"provider=sqloledb;Server=127.0.0.1\\INST;DataBase=master;Uid=sa;Pwd=sandbox");
    try {
        connection.Open();
    } catch (const db::EDatabaseError& error) {
        FAIL() << "Open failed: " << error.what();
    }
    EXPECT_TRUE(connection.Connected());
    EXPECT_GE(responder.answered(), 1) << "the driver found the port by asking the responder";
    connection.Close();
}
