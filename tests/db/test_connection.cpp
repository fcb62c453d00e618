// TADOConnection through the real FreeTDS driver against the sandbox server.
#include "test_db_sandbox.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/ConnectFailure.h"
#include "db/ConnectionString.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

using db::EDatabaseError;
using db::TADOConnection;
using db::TADODataSet;
using dbtest::errorOf;
using dbtest::fault;
using dbtest::scalar;
using dbtest::transcriptHas;
using dbtest::Sandbox;
using dbtest::u8;

namespace {

std::u16string currentDatabase(TADOConnection& conn)
{
    TADODataSet ds;
    ds.SetConnection(&conn);
    ds.SetCommandText(u"select db_name() as v");
    ds.Open();
    return ds.FieldValue(u"v").AsText();
}

// A loopback port that refuses connections: bound, never listening.
class RefusingPort {
public:
    RefusingPort()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t length = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
    }
    ~RefusingPort() { ::close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace

// ---- opening and closing ------------------------------------------------------

TEST(Connection, OpensClosesAndReopens)
{
    Sandbox sandbox;
    TADOConnection conn;
    EXPECT_FALSE(conn.Connected());
    EXPECT_EQ(conn.ConnectionTimeout(), 15);
    EXPECT_EQ(conn.CommandTimeout(), 30);
    conn.SetConnectionString(sandbox.connectionString());
    EXPECT_EQ(u8(conn.ConnectionString()), u8(sandbox.connectionString()));
    conn.Open();
    EXPECT_TRUE(conn.Connected());
    conn.Open();  // already open: nothing happens
    EXPECT_EQ(sandbox.server().activeSessions(), 1);
    EXPECT_EQ(u8(currentDatabase(conn)), "master");
    conn.Close();
    EXPECT_FALSE(conn.Connected());
    conn.Close();  // closing a closed connection does nothing
    conn.Open();
    EXPECT_TRUE(conn.Connected());
}

TEST(Connection, OpensOnTheDatabaseOfTheString)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString(u"AccountDB"));
    conn.Open();
    EXPECT_EQ(u8(currentDatabase(conn)), "AccountDB");
}

TEST(Connection, ExecuteOpensAClosedConnection)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Execute(u"Use GameDB");
    EXPECT_TRUE(conn.Connected());
    EXPECT_EQ(u8(currentDatabase(conn)), "GameDB");
}

TEST(Connection, WrongPasswordFailsAndStaysClosed)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString(u"master", u"wrong"));
    const EDatabaseError e = errorOf([&] { conn.Open(); });
    EXPECT_EQ(u8(e.Message()), "Login failed for user 'sa'");
    EXPECT_EQ(e.NativeError(), 18456);
    EXPECT_FALSE(e.SqlState().empty());
    EXPECT_FALSE(conn.Connected());

    conn.SetConnectionString(sandbox.connectionString());
    conn.Open();
    EXPECT_TRUE(conn.Connected());
}

TEST(Connection, RefusedPortFailsWithACleanMessage)
{
    RefusingPort refusing;
    TADOConnection conn;
    conn.SetConnectionString(db::connectionText(u"127.0.0.1," + db::fromUtf8(std::to_string(refusing.port())),
                                                u"master", u"sa", u"x"));
    const EDatabaseError e = errorOf([&] { conn.Open(); });
    EXPECT_FALSE(conn.Connected());
    EXPECT_FALSE(e.Message().empty());
    EXPECT_EQ(e.Message().find(u'['), std::u16string::npos) << e.what();
    EXPECT_NE(e.Message().back(), u'.') << e.what();
    EXPECT_EQ(e.SqlState().substr(0, 2), "08") << e.SqlState();
}

TEST(Connection, UnknownDatabaseFailsAtLogin)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString(u"NoSuchDb"));
    // The server sends 4060 and 18456; the driver lists the login failure first.
    const EDatabaseError e = errorOf([&] { conn.Open(); });
    EXPECT_TRUE(e.NativeError() == 4060 || e.NativeError() == 18456) << e.what();
    EXPECT_FALSE(conn.Connected());
}

TEST(Connection, UnknownProviderOrKeywordFailsAtOpenWithoutTraffic)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(u"provider=msdasql;Server=" + sandbox.serverName());
    EXPECT_EQ(u8(errorOf([&] { conn.Open(); }).Message()),
              "Provider cannot be found. It may not be properly installed");
    conn.SetConnectionString(sandbox.connectionString() + u";Colour=blue");
    EXPECT_NE(u8(errorOf([&] { conn.Open(); }).Message()).find("Colour"), std::string::npos);
    EXPECT_FALSE(conn.Connected());
    EXPECT_TRUE(sandbox.server().transcript().empty());
}

// No usable driver is what a machine without the data access components is.
TEST(Connection, MissingDriverGivesTheMissingComponentsMessage)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.SetDriver(db::OdbcDriver{u"NoSuchOdbcDriver", db::BraceStyle::Doubled});
    EXPECT_EQ(u8(errorOf([&] { conn.Open(); }).Message()),
              "Error creating object.  Please verify that the Microsoft Data Access Components 2.1 (or later) "
              "have been properly installed");
    conn.SetDriver(db::OdbcDriver{u"/nonexistent/libtdsodbc.so", db::BraceStyle::Doubled});
    EXPECT_EQ(u8(errorOf([&] { conn.Open(); }).Message()), u8(db::MissingComponentsMessage));
    EXPECT_EQ(db::connectFailureOf(conn.Errors()).kind, db::ConnectFailure::MissingDriver);
    EXPECT_FALSE(conn.Connected());
}

TEST(Connection, SettingTheSameStringKeepsTheConnection)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Open();
    conn.SetConnectionString(sandbox.connectionString());
    EXPECT_TRUE(conn.Connected());
}

// Passwords that need quoting at both levels (OLE DB text, ODBC string)
// reach the server as exactly those characters.
TEST(Connection, NastyPasswordsLogIn)
{
    const std::u16string passwords[] = {
        u"a;b\"c}", u"'quoted'", u"\"dq\"", u"  lead and trail  ", u"p=w==d", u"{brace}", u"}",
        u"{", u"密码;中文", u"x;y'z\"w", u"", u"a}b;c", u"=start",
    };
    for (const std::u16string& password : passwords) {
        SCOPED_TRACE(u8(password));
        Sandbox sandbox(sandbox::Catalog::defaults(), password);
        TADOConnection conn;
        conn.SetConnectionString(db::connectionText(sandbox.serverName(), u"master", u"sa", password));
        ASSERT_NO_THROW(conn.Open());
        EXPECT_TRUE(conn.Connected());

        TADOConnection wrong;
        wrong.SetConnectionString(db::connectionText(sandbox.serverName(), u"master", u"sa", password + u"x"));
        EXPECT_EQ(errorOf([&] { wrong.Open(); }).NativeError(), 18456);
    }
}

// ---- batches and errors -----------------------------------------------------------

TEST(Connection, ErrorInTheSecondStatementOfABatchIsRaised)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    const EDatabaseError e = errorOf([&] { conn.Execute(u"Use GameDB Use NoSuchDb"); });
    EXPECT_EQ(e.NativeError(), 911);
    EXPECT_EQ(u8(e.Message()), "Could not locate entry in sysdatabases for database 'NoSuchDb'. No entry found "
                               "with that name. Make sure that the name is entered correctly");
    // The first statement ran; the connection goes on.
    EXPECT_TRUE(conn.Connected());
    EXPECT_EQ(u8(currentDatabase(conn)), "GameDB");
}

TEST(Connection, FirstOfSeveralErrorsIsRaised)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    const EDatabaseError e = errorOf([&] { conn.Execute(u"Use NoSuchDb exec sp_nosuch Use GameDB"); });
    EXPECT_EQ(e.NativeError(), 911);
    EXPECT_EQ(u8(currentDatabase(conn)), "GameDB");
}

TEST(Connection, SyntaxErrorRunsNothing)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    const EDatabaseError e = errorOf([&] { conn.Execute(u"Use GameDB DBCC SHRINKFILE (, 10)"); });
    EXPECT_EQ(e.NativeError(), 170);
    EXPECT_EQ(u8(e.Message()), "Line 1: Incorrect syntax near ','");
    EXPECT_EQ(u8(currentDatabase(conn)), "master");
}

TEST(Connection, InformationalMessagesAreNotErrors)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    // 5701 (database context), 2528 (DBCC done), PRINT.
    EXPECT_NO_THROW(conn.Execute(u"Use GameDB DBCC SHRINKFILE (GameDB_Log, 10) PRINT 'hello'"));
    sandbox::Fault info = fault(sandbox::Fault::Action::Error, "select 7");
    info.error = sandbox::Message{50001, 1, 10, u"Just so you know.", {}, 1};
    sandbox.engine().addFault(info);
    EXPECT_NO_THROW(conn.Execute(u"select 7"));
}

// The message is the server's text without driver prefixes, trailing blanks,
// control characters and full stops; SQLSTATE and number travel along.
TEST(Connection, ErrorMessagesAreCleaned)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    struct Case {
        std::u16string serverText;
        std::string expected;
    };
    const Case cases[] = {
        {u"Something broke.", "Something broke"},
        {u"Dots and blanks. . .  \t\r\n", "Dots and blanks"},
        {u"Inner. Full stops. Stay.", "Inner. Full stops. Stay"},
        {u"[Brackets] in the middle stay", "[Brackets] in the middle stay"},
        {u"Unicode 数据库。", "Unicode 数据库。"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string statement = "select " + std::to_string(100 + n++);
        sandbox.engine().clearFaults();
        sandbox::Fault f = fault(sandbox::Fault::Action::Error, statement);
        f.error = sandbox::Message{50000, 1, 16, c.serverText, {}, 1};
        sandbox.engine().addFault(f);
        const EDatabaseError e = errorOf([&] { conn.Execute(db::fromUtf8(statement)); });
        EXPECT_EQ(u8(e.Message()), c.expected);
        EXPECT_EQ(e.NativeError(), 50000);
        EXPECT_FALSE(e.SqlState().empty());
    }
}

// The longest message the server sends arrives whole, and a message after a
// long one still arrives (diagnostic texts are read through an SQLSMALLINT).
TEST(Connection, LongMessagesArriveWholeAndHideNothingAfterThem)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    const std::u16string longest(30000, u'x');  // what a message token carries at most
    const auto add = [&](const char* pattern, std::int32_t number, std::uint8_t severity, std::u16string text) {
        sandbox::Fault f = fault(sandbox::Fault::Action::Error, pattern);
        f.error = sandbox::Message{number, 1, severity, std::move(text), {}, 1};
        sandbox.engine().addFault(f);
    };
    add("select 101", 50001, 10, longest);
    add("select 102", 50002, 16, u"After the long one");
    add("select 103", 50003, 16, longest);

    const EDatabaseError after = errorOf([&] { conn.Execute(u"select 101 select 102"); });
    EXPECT_EQ(after.NativeError(), 50002);
    EXPECT_EQ(u8(after.Message()), "After the long one");
    const EDatabaseError whole = errorOf([&] { conn.Execute(u"select 103"); });
    EXPECT_EQ(whole.NativeError(), 50003);
    EXPECT_EQ(whole.Message(), longest);
}

// ---- time-outs and lost links -------------------------------------------------------------

TEST(Connection, QueryTimeOutCancelsAndTheConnectionGoesOn)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetCommandTimeout(1);
    conn.SetConnectionString(sandbox.connectionString());
    sandbox::Fault slow = fault(sandbox::Fault::Action::Delay, "select 42");
    slow.delay = std::chrono::minutes(5);
    sandbox.engine().addFault(slow);
    const EDatabaseError e = errorOf([&] { conn.Execute(u"select 42"); });
    EXPECT_EQ(e.SqlState(), "HYT00") << e.what();
    EXPECT_FALSE(e.Message().empty());
    EXPECT_TRUE(conn.Connected());
    EXPECT_EQ(scalar(conn, u"select 5 as v"), 5);
}

TEST(Connection, ACancelFromAnotherThreadEndsTheStatementAndTheConnectionGoesOn)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetCommandTimeout(0);  // only the cancel can end it
    conn.SetConnectionString(sandbox.connectionString());
    conn.Open();
    sandbox::Fault slow = fault(sandbox::Fault::Action::Delay, "select 42");
    slow.delay = std::chrono::minutes(5);
    sandbox.engine().addFault(slow);
    std::optional<EDatabaseError> failure;
    std::thread running([&] {
        try {
            conn.Execute(u"select 42");
        } catch (const EDatabaseError& e) {
            failure = e;
        }
    });
    // Until the server holds the statement; a generous bound only stops a hang.
    for (int i = 0; i < 3000 && !transcriptHas(sandbox, u"select 42"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The statement may still be on its way to the driver: asking again is safe.
    for (int i = 0; i < 50 && running.joinable(); ++i) {
        conn.Cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (failure)
            break;
    }
    running.join();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->SqlState(), "HY008") << failure->what();
    EXPECT_TRUE(conn.Connected());
    EXPECT_EQ(scalar(conn, u"select 5 as v"), 5);
    EXPECT_NO_THROW(conn.Cancel());  // nothing running: nothing happens
}

TEST(Connection, ALinkThatDiedIsReopenedInTheDatabaseItWasIn)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Execute(u"Use GameDB");
    EXPECT_EQ(u8(conn.CurrentDatabase()), "GameDB");
    sandbox.engine().addFault(fault(sandbox::Fault::Action::Drop, "select 13"));
    EXPECT_THROW(conn.Execute(u"select 13"), EDatabaseError);
    EXPECT_TRUE(conn.CurrentDatabase().empty());
    sandbox.engine().clearFaults();
    // Never silently in master, where the login starts.
    EXPECT_EQ(u8(currentDatabase(conn)), "GameDB");
    EXPECT_EQ(u8(conn.CurrentDatabase()), "GameDB");

    // An explicit reopen starts where the connection text says.
    conn.Close();
    conn.Open();
    EXPECT_EQ(u8(conn.CurrentDatabase()), "master");
}

TEST(Connection, ALinkThatCannotReturnToItsDatabaseFails)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Execute(u"Use GameDB");
    sandbox.engine().addFault(fault(sandbox::Fault::Action::Drop, "select 13"));
    EXPECT_THROW(conn.Execute(u"select 13"), EDatabaseError);
    sandbox::Catalog c = sandbox.engine().catalog();
    c.find(u"GameDB")->state = sandbox::DatabaseState::Offline;
    sandbox.engine().setCatalog(c);
    EXPECT_THROW(conn.Execute(u"select 77"), EDatabaseError);
    EXPECT_FALSE(transcriptHas(sandbox, u"select 77"));
}

TEST(Connection, ErrorsListEveryMessageOfTheLastOperation)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString(u"master", u"wrong"));
    EXPECT_THROW(conn.Open(), EDatabaseError);
    ASSERT_FALSE(conn.Errors().empty());
    EXPECT_TRUE(std::any_of(conn.Errors().begin(), conn.Errors().end(),
                            [](const db::ServerMessage& m) { return m.number == 18456 && m.error; }));

    conn.SetConnectionString(sandbox.connectionString());
    sandbox::Fault failing = fault(sandbox::Fault::Action::Error, "select 2");
    failing.error = sandbox::Message{50002, 1, 16, u"second fails", {}, 1};
    sandbox.engine().addFault(failing);
    EXPECT_THROW(conn.Execute(u"print 'first' select 2 select 3"), EDatabaseError);
    std::vector<std::pair<long, bool>> seen;
    for (const db::ServerMessage& m : conn.Errors())
        seen.emplace_back(m.number, m.error);
    EXPECT_EQ(seen, (std::vector<std::pair<long, bool>>{{0, false}, {50002, true}})) << seen.size();
    conn.Execute(u"select 4");
    EXPECT_TRUE(conn.Errors().empty());
}

TEST(Connection, DroppedLinkCountsAsClosed)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    conn.Open();
    sandbox.engine().addFault(fault(sandbox::Fault::Action::Drop, "select 13"));
    const EDatabaseError e = errorOf([&] { conn.Execute(u"select 13"); });
    EXPECT_EQ(e.SqlState().substr(0, 2), "08") << e.SqlState() << " " << e.what();
    EXPECT_FALSE(conn.Connected());
    EXPECT_NO_THROW(conn.Close());
    EXPECT_FALSE(conn.Connected());
    sandbox.engine().clearFaults();
    conn.Open();
    EXPECT_TRUE(conn.Connected());
    EXPECT_EQ(scalar(conn, u"select 13 as v"), 13);
}

TEST(Connection, ExecuteReconnectsAfterALostLink)
{
    Sandbox sandbox;
    TADOConnection conn;
    conn.SetConnectionString(sandbox.connectionString());
    sandbox.engine().addFault(fault(sandbox::Fault::Action::Drop, "select 13"));
    EXPECT_THROW(conn.Execute(u"select 13"), EDatabaseError);
    sandbox.engine().clearFaults();
    EXPECT_NO_THROW(conn.Execute(u"Use GameDB"));
    EXPECT_TRUE(conn.Connected());
}

TEST(Connection, DestructorClosesQuietly)
{
    Sandbox sandbox;
    {
        TADOConnection conn;
        conn.SetConnectionString(sandbox.connectionString());
        conn.Open();
        ASSERT_EQ(sandbox.server().activeSessions(), 1);
    }
    // The server notices on its own thread; a generous bound only stops a hang.
    for (int i = 0; i < 1000 && sandbox.server().activeSessions() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(sandbox.server().activeSessions(), 0);
}
