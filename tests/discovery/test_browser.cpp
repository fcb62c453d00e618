// Discovery end to end on loopback: the client against the sandbox responder
// and against fakes that send exactly the bytes a test wants.
#include "LoopbackUdp.h"

#include "db/Errors.h"
#include "db/discovery/ServerBrowser.h"
#include "sandbox/net/ResolutionResponder.h"
#include "tests/support/TestSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;
using discoverytest::LoopbackSocket;
using discoverytest::record;
using discoverytest::ScriptedBrowser;
using discoverytest::svrResp;

namespace {

// Answers on loopback take microseconds; the rest is headroom for a loaded
// machine (sanitizers, parallel tests).
constexpr auto Window = db::ServerBrowser::DefaultWindow;
// A browse ends when its window closes. Tests that check so allow it many
// times its window, far beyond any machine's slowness, yet fail a browse that
// overstays long before ctest's own limit would.
constexpr int Slack = 20;

std::unique_ptr<sandbox::ResolutionResponder> responder(std::vector<sandbox::ResolutionInstance> instances)
{
    auto r = std::make_unique<sandbox::ResolutionResponder>(
        sandbox::ResponderOptions{"127.0.0.1", 0, std::move(instances)});
    r->start();
    return r;
}

db::BrowseResult browse(std::vector<std::uint16_t> ports)
{
    return db::ServerBrowser::loopback(std::move(ports)).setWindow(Window).browse();
}

std::vector<std::u16string> listed(std::vector<std::uint16_t> ports)
{
    const db::TSqlServerLocator locator(db::ServerBrowser::loopback(std::move(ports)).setWindow(Window));
    const db::TNameList names = locator.ListAvailableSQLServers();
    std::vector<std::u16string> result;
    for (int i = 1; i <= names.Count(); ++i)
        result.push_back(names.Item(i));
    return result;
}

// The fake's answers and a port that never answers: a fake that sends several
// datagrams is heard for the whole window, as a browse on loopback otherwise
// ends at the first datagram from each port.
db::BrowseResult browseAll(const ScriptedBrowser& fake)
{
    const ScriptedBrowser silent({});
    return browse({fake.port(), silent.port()});
}

// A loopback port that nothing listens on (just released).
std::uint16_t unusedPort()
{
    return LoopbackSocket().port();
}

using Names = std::vector<std::u16string>;

db::DiscoveredServer server(std::u16string host, std::u16string instance, std::optional<std::uint16_t> port,
                            std::uint32_t from)
{
    db::DiscoveredServer s;
    s.record.serverName = std::move(host);
    s.record.instanceName = std::move(instance);
    s.record.tcpPort = port;
    s.name = s.record.displayName();
    s.answeredFrom = from;
    return s;
}

} // namespace

TEST(Discovery, NoServerGivesAnEmptyList)
{
    EXPECT_EQ(listed({unusedPort()}), Names{});
    EXPECT_EQ(listed({}), Names{}); // nowhere to ask: returns at once
}

TEST(Discovery, DefaultInstanceIsListedByHostName)
{
    const auto r = responder({{u"GAMEDB", u"MSSQLSERVER", "8.00.194", 1433, false}});
    EXPECT_EQ(listed({r->port()}), Names{u"GAMEDB"});
}

TEST(Discovery, NamedInstanceIsListedAsHostBackslashInstance)
{
    const auto r = responder({{u"GAMEDB", u"LOGS", "8.00.194", 2433, false}});
    const auto result = browse({r->port()});
    ASSERT_EQ(result.servers.size(), 1u);
    EXPECT_EQ(result.servers[0].name, u"GAMEDB\\LOGS");
    EXPECT_EQ(result.servers[0].record.tcpPort, 2433);
    EXPECT_EQ(result.servers[0].record.version, u"8.00.194");
}

// The announced host name often does not resolve here (a NetBIOS name), so a
// listed server is reached at the address its answer came from, on the port
// it announced; the default instance too.
TEST(Discovery, EachServerKeepsTheAddressItAnsweredFromAndItsPort)
{
    const auto r = responder({{u"NOHOST.invalid", u"MSSQLSERVER", "16.00.1000.6", 50123, false},
                              {u"NOHOST.invalid", u"LOGS", "16.00.1000.6", 2433, false}});
    const auto result = browse({r->port()});
    ASSERT_EQ(result.servers.size(), 2u);
    EXPECT_EQ(result.servers[0].answeredFrom, db::net::LoopbackAddress);
    EXPECT_EQ(result.servers[0].address(), u"127.0.0.1,50123");
    EXPECT_EQ(result.servers[1].address(), u"127.0.0.1,2433");
}

TEST(Discovery, AddressIsAServerValueForTheConnectionText)
{
    const struct {
        db::DiscoveredServer server;
        std::u16string address;
    } cases[] = {
        {server(u"H", u"MSSQLSERVER", 1433, 0xC0A80105), u"192.168.1.5,1433"},
        {server(u"H", u"mssqlserver", 1500, 0xC0A80105), u"192.168.1.5,1500"},
        {server(u"H", u"INST", 2433, 0x0A000001), u"10.0.0.1,2433"},
        // No TCP entry (TCP off, or pipes only): the driver asks that host.
        {server(u"H", u"INST", std::nullopt, 0x0A000001), u"10.0.0.1\\INST"},
        {server(u"H", u"MSSQLSERVER", std::nullopt, 0x0A000001), u"10.0.0.1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.server.address(), c.address) << testsupport::utf8(c.server.name);
}

TEST(Discovery, NonAsciiNamesSurviveTheRoundTrip)
{
    const auto r = responder({{u"数据库", u"日志", "8.00.194", 1433, false}});
    EXPECT_EQ(listed({r->port()}), Names{u"数据库\\日志"});
}

TEST(Discovery, SeveralServersAreListedInArrivalOrder)
{
    // One sender, so the datagrams arrive in the order they were sent.
    const ScriptedBrowser fake({svrResp(record("ZULU", "MSSQLSERVER") + record("ZULU", "B")),
                                svrResp(record("ALPHA", "MSSQLSERVER")), svrResp(record("MIKE", "C"))});
    EXPECT_EQ(browseAll(fake).names(), (Names{u"ZULU", u"ZULU\\B", u"ALPHA", u"MIKE\\C"}));
}

TEST(Discovery, SeveralRespondersAreAllHeard)
{
    const auto a = responder({{u"ONE", u"MSSQLSERVER", "8.00.194", 1433, false}});
    const auto b = responder({{u"TWO", u"MSSQLSERVER", "8.00.194", 1433, false},
                              {u"TWO", u"SECOND", "8.00.194", 1500, false}});
    auto names = listed({a->port(), b->port()});
    // Which responder's thread answers first is up to the scheduler.
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Names{u"ONE", u"TWO", u"TWO\\SECOND"}));
}

TEST(Discovery, AnInstanceHeardTwiceIsListedOnce)
{
    const ScriptedBrowser fake({svrResp(record("HOST", "MSSQLSERVER") + record("HOST", "INST")),
                                svrResp(record("HOST", "MSSQLSERVER")), svrResp(record("host", "inst")),
                                svrResp(record("Host", "mssqlserver") + record("HOST", "OTHER"))});
    const auto result = browseAll(fake);
    EXPECT_EQ(result.names(), (Names{u"HOST", u"HOST\\INST", u"HOST\\OTHER"}));
    EXPECT_EQ(result.answers, 4);

    // The same responder asked on two routes (as broadcast and loopback do).
    const auto r = responder({{u"LOCAL", u"MSSQLSERVER", "8.00.194", 1433, false}});
    const ScriptedBrowser echo({svrResp(record("LOCAL", "MSSQLSERVER"))});
    EXPECT_EQ(listed({r->port(), echo.port(), r->port()}), Names{u"LOCAL"});
}

TEST(Discovery, BrokenAnswersAreSkippedAndGoodOnesKept)
{
    const std::string good1 = record("FIRST", "MSSQLSERVER");
    const std::string good2 = record("SECOND", "X");
    const std::string lost = record("LOST", "MSSQLSERVER");
    const ScriptedBrowser fake({
        svrResp(good1),
        svrResp(lost, lost.size() + 10),              // truncated: fewer bytes than the size says
        svrResp(lost, lost.size() - 5),               // oversized: more bytes than the size says
        svrResp(lost + "ServerName;LOST;Instance"),   // a record cut short
        std::string("\x05", 1),                       // header cut
        "\x06" + svrResp(lost).substr(1),             // not an answer
        std::string(1200, '\xFF'),                    // noise
        svrResp(good2),
    });
    const auto result = browseAll(fake);
    EXPECT_EQ(result.names(), (Names{u"FIRST", u"SECOND\\X"}));
    EXPECT_EQ(result.answers, 2);
    EXPECT_EQ(result.rejected, 6);
}

TEST(Discovery, LargestDatagramIsRead)
{
    // 65,000 bytes of records in one datagram, as a big Browser could send.
    std::string data;
    int count = 0;
    while (data.size() < 65000 - 120)
        data += record("HOST" + std::to_string(count++), "I");
    const ScriptedBrowser fake({svrResp(data)});
    const auto result = browse({fake.port()});
    EXPECT_EQ(result.rejected, 0);
    EXPECT_EQ(result.servers.size(), static_cast<std::size_t>(count));
}

TEST(Discovery, AResponderThatNeverAnswersDoesNotHoldTheCallerUp)
{
    const ScriptedBrowser silent({});
    const auto r = responder({{u"ALIVE", u"MSSQLSERVER", "8.00.194", 1433, false}});
    // The full bound, to show the call ends by itself.
    const auto start = std::chrono::steady_clock::now();
    const auto result = db::ServerBrowser::loopback({silent.port(), r->port()})
                            .setWindow(db::ServerBrowser::MaxWindow)
                            .browse();
    EXPECT_LT(std::chrono::steady_clock::now() - start, Slack * db::ServerBrowser::MaxWindow);
    EXPECT_EQ(result.names(), Names{u"ALIVE"});
    EXPECT_EQ(silent.requests(), 1);
}

// One answer per request is what a browser service sends, so a browse on
// loopback ends at each port's first datagram; the rest is never read.
TEST(Discovery, LoopbackBrowseEndsWhenEveryPortHasAnswered)
{
    const ScriptedBrowser fake({svrResp(record("FIRST", "MSSQLSERVER")), svrResp(record("LATER", "MSSQLSERVER"))});
    EXPECT_EQ(listed({fake.port()}), Names{u"FIRST"});
}

// A host that answers without end, each datagram full of new names: the list
// stops growing at its bound and the browse still ends with its window.
TEST(Discovery, AFloodIsBoundedAndDoesNotHoldTheCallerUp)
{
    const discoverytest::FloodingBrowser flood;
    const ScriptedBrowser silent({});
    const auto start = std::chrono::steady_clock::now();
    const auto result = browse({flood.port(), silent.port()});
    EXPECT_LT(std::chrono::steady_clock::now() - start, Slack * Window);
    EXPECT_EQ(result.servers.size(), db::ServerBrowser::MaxServers);
    EXPECT_EQ(result.servers.front().name, u"H0\\I");
    EXPECT_EQ(result.rejected, 0);
}

// Where the network browser asks, checked without sending anything: every
// broadcast, then this machine's own instances, which no broadcast reaches.
TEST(Discovery, NetworkPlanBroadcastsEverywhereThenAsksThisMachine)
{
    using db::BrowseRequest;
    const std::vector<std::uint32_t> interfaces = {0x0A0000FF, 0xC0A801FF};
    EXPECT_EQ(db::ServerBrowser::networkPlan(interfaces),
              (std::vector<BrowseRequest>{{{0xFFFFFFFF, 1434}, db::ssrp::ClntBcastEx},
                                          {{0x0A0000FF, 1434}, db::ssrp::ClntBcastEx},
                                          {{0xC0A801FF, 1434}, db::ssrp::ClntBcastEx},
                                          {{0x7F000001, 1434}, db::ssrp::ClntUcastEx}}));
    // This machine's own plan (in the test's namespace: loopback only) has the same ends.
    const auto plan = db::ServerBrowser::network().plan();
    ASSERT_GE(plan.size(), 2u);
    EXPECT_EQ(plan.front(), (BrowseRequest{{0xFFFFFFFF, 1434}, db::ssrp::ClntBcastEx}));
    EXPECT_EQ(plan.back(), (BrowseRequest{{0x7F000001, 1434}, db::ssrp::ClntUcastEx}));
    EXPECT_TRUE(db::ServerBrowser::network().broadcasts());
    EXPECT_EQ(db::ServerBrowser::loopback({1500, 1501}).plan(),
              (std::vector<BrowseRequest>{{{0x7F000001, 1500}, db::ssrp::ClntUcastEx},
                                          {{0x7F000001, 1501}, db::ssrp::ClntUcastEx}}));
}

TEST(Discovery, WindowIsBoundedAtOneSecond)
{
    auto browser = db::ServerBrowser::loopback({});
    EXPECT_EQ(browser.window(), db::ServerBrowser::DefaultWindow);
    EXPECT_EQ(browser.setWindow(10s).window(), db::ServerBrowser::MaxWindow);
    EXPECT_EQ(browser.setWindow(-5ms).window(), 0ms);
    EXPECT_FALSE(browser.broadcasts());
}

TEST(Discovery, NameListIndicesStartAtOne)
{
    const db::TNameList names({server(u"A", u"MSSQLSERVER", 1433, 0x0A000001),
                               server(u"B", u"C", std::nullopt, 0x0A000002)});
    ASSERT_EQ(names.Count(), 2);
    EXPECT_EQ(names.Item(1), u"A");
    EXPECT_EQ(names.Item(2), u"B\\C");
    EXPECT_EQ(names.Address(1), u"10.0.0.1,1433");
    EXPECT_EQ(names.Address(2), u"10.0.0.2\\C");
    EXPECT_THROW(names.Item(0), db::EDatabaseError);
    EXPECT_THROW(names.Item(3), db::EDatabaseError);
    EXPECT_THROW(names.Address(3), db::EDatabaseError);
    try {
        names.Item(-1);
        FAIL();
    } catch (const db::EDatabaseError& error) {
        EXPECT_EQ(error.Message(), u"List index out of bounds (-1)");
    }
    EXPECT_THROW(db::TNameList({}).Item(1), db::EDatabaseError);
}
