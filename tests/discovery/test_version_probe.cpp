// The server's version before any login, asked of the sandbox over real
// sockets: its PRELOGIN answer for a host and port, its browser's record for
// a named instance; and nothing, within the bound, from whatever does not
// answer as a server.
#include "TestSandbox.h"

#include "db/discovery/VersionProbe.h"
#include "sandbox/net/ResolutionResponder.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

using db::ServerVersion;
using testsupport::TestSandbox;
using Clock = std::chrono::steady_clock;

namespace {

sandbox::Catalog catalogOf(sandbox::Generation generation)
{
    sandbox::Catalog catalog = sandbox::Catalog::defaults();
    catalog.generation = generation;
    return catalog;
}

// A loopback TCP listener that accepts (the kernel completes connections)
// and, unless told what to answer, never says anything.
class SilentListener {
public:
    SilentListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::listen(fd_, 8) == 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener()
    {
        if (answerer_.joinable())
            answerer_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    bool ok() const { return ok_; }
    std::u16string server() const { return u"127.0.0.1," + testsupport::utf16(std::to_string(port_)); }

    // Answers the first connection with these bytes, then closes it.
    void answerWith(std::vector<std::uint8_t> bytes)
    {
        answerer_ = std::thread([this, bytes = std::move(bytes)] {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0)
                return;
            std::uint8_t request[512];
            [[maybe_unused]] const auto got = ::recv(client, request, sizeof request, 0);
            [[maybe_unused]] const auto sent = ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            ::close(client);
        });
    }

private:
    int fd_ = -1;
    bool ok_ = false;
    std::uint16_t port_ = 0;
    std::thread answerer_;
};

// A port nothing listens on: one the system handed out and took back.
std::uint16_t closedPort()
{
    SilentListener gone;
    const std::u16string server = gone.server();
    return static_cast<std::uint16_t>(std::stoi(testsupport::utf8(server.substr(server.find(u',') + 1))));
}

} // namespace

TEST(VersionProbe, EachGenerationAnswersPreloginWithItsVersion)
{
    const struct {
        sandbox::Generation generation;
        ServerVersion version;
    } table[] = {
        {sandbox::Generation::Sql2000, {8, 0, 2039}},
        {sandbox::Generation::Sql2005, {9, 0, 5000}},
        {sandbox::Generation::Sql2008R2, {10, 50, 6000}},
        {sandbox::Generation::Sql2022, {16, 0, 4115}},
    };
    for (const auto& row : table) {
        TestSandbox server(catalogOf(row.generation));
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        EXPECT_EQ(db::versionBeforeLogin(server.serverName(), deadline), row.version) << int(row.version.major);
        EXPECT_TRUE(server.server().transcript().empty()) << "no login, no batch";
    }
}

TEST(VersionProbe, ANamedInstanceIsAskedOfItsHostsBrowser)
{
    TestSandbox server(catalogOf(sandbox::Generation::Sql2019));
    sandbox::ResolutionResponder browser(sandbox::ResponderOptions{
        "127.0.0.1", 0, {{u"SANDBOX", u"SQL2000", "8.00.194", 1, false}, {u"SANDBOX", u"LATER", "x", server.port(), false}}});
    browser.start();
    const auto deadline = Clock::now() + std::chrono::seconds(15);

    // The browser's version is the answer: its port is not even tried.
    EXPECT_EQ(db::versionBeforeLogin(u"127.0.0.1\\sql2000", deadline, browser.port()), (ServerVersion{8, 0, 194}));
    // A version the browser garbles: the port it gives is asked instead.
    EXPECT_EQ(db::versionBeforeLogin(u"127.0.0.1\\LATER", deadline, browser.port()), (ServerVersion{15, 0, 4322}));
    // An instance the browser does not know, an instance name no request can carry.
    const auto soon = Clock::now() + std::chrono::milliseconds(300);
    EXPECT_FALSE(db::versionBeforeLogin(u"127.0.0.1\\OTHER", soon, browser.port()));
    EXPECT_FALSE(db::versionBeforeLogin(u"127.0.0.1\\" + std::u16string(33, u'N'), soon, browser.port()));
}

TEST(VersionProbe, WhatDoesNotAnswerAsAServerGivesNothingWithinTheBound)
{
    // Generous against a loaded machine, far below the login's own time-out.
    constexpr auto bound = std::chrono::milliseconds(500);
    constexpr auto slack = std::chrono::seconds(5);

    SilentListener silent;
    ASSERT_TRUE(silent.ok());
    SilentListener talker;
    ASSERT_TRUE(talker.ok());
    talker.answerWith({'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '4', '0', '0', '\r', '\n', '\r', '\n'});

    const struct {
        const char* what;
        std::u16string server;
    } table[] = {
        {"a server that never answers", silent.server()},
        {"something else that answers", talker.server()},
        {"a port nothing listens on", u"127.0.0.1," + testsupport::utf16(std::to_string(closedPort()))},
        {"a named instance without a browser", u"127.0.0.1\\INST"},
        {"a host that does not resolve", u"no-such-host.invalid,1433"},
        {"no server at all", u""},
    };
    for (const auto& row : table) {
        const auto started = Clock::now();
        EXPECT_FALSE(db::versionBeforeLogin(row.server, started + bound, closedPort())) << row.what;
        EXPECT_LT(Clock::now() - started, bound + slack) << row.what;
    }
}
