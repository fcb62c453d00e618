// The sandbox through the real client stack: the data layer over unixODBC and
// the FreeTDS driver, over TCP on loopback.
#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/Variant.h"
#include "sandbox/net/Server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class OdbcWire : public ::testing::Test {
protected:
    OdbcWire() : server(sandbox::ServerOptions{}) { server.start(); }

    std::u16string connectionString(std::u16string_view database = u"master",
                                    std::u16string_view password = u"sandbox") const
    {
        const std::string port = std::to_string(server.port());
        std::u16string text = u"provider=sqloledb;Server=127.0.0.1," + std::u16string(port.begin(), port.end());
        text += u";DataBase=";
        text += database;
        text += u";Uid=sa;Pwd=";
        text += password;
        return text;
    }

    // The error Open() throws, or nullopt when it succeeded.
    std::optional<db::EDatabaseError> openFails(const std::u16string& connection)
    {
        db::TADOConnection c;
        c.SetConnectionString(connection);
        try {
            c.Open();
        } catch (const db::EDatabaseError& e) {
            EXPECT_FALSE(c.Connected());
            return e;
        }
        return std::nullopt;
    }

    void addFault(sandbox::Fault::Action action, std::string pattern,
                  std::chrono::milliseconds delay = std::chrono::milliseconds(0))
    {
        sandbox::Fault f;
        f.action = action;
        f.pattern = std::move(pattern);
        f.delay = delay;
        server.engine().addFault(f);
    }

    sandbox::Server server;
};

bool contains(const std::u16string& text, std::u16string_view part)
{
    return text.find(part) != std::u16string::npos;
}

TEST_F(OdbcWire, LogsInAndRunsQueries)
{
    db::TADOConnection c;
    c.SetConnectionString(connectionString());
    c.Open();
    ASSERT_TRUE(c.Connected());

    db::TADODataSet q;
    q.SetConnection(&c);
    q.SetCommandText(u"select name, dbid from master..sysdatabases order by dbid");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 6);
    EXPECT_EQ(db::VarToStr(q.FieldValue(u"name")), u"master");
    q.Next();
    EXPECT_EQ(db::VarToStr(q.FieldValue(u"dbid")), u"2");
    q.Close();

    // nchar arrives padded; the driver hands it over as sent.
    c.Execute(u"use GameDB");
    q.SetCommandText(u"select name from sysfiles where fileid = 2");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    const std::u16string name = db::VarToStr(q.FieldValue(u"name"));
    EXPECT_EQ(name.size(), 128u);
    EXPECT_EQ(name.substr(0, 10), u"GameDB_Log");
    c.Close();
    EXPECT_FALSE(c.Connected());
}

TEST_F(OdbcWire, OpensTheDatabaseNamedInTheLogin)
{
    db::TADOConnection c;
    c.SetConnectionString(connectionString(u"AccountDB"));
    c.Open();
    db::TADODataSet q;
    q.SetConnection(&c);
    q.SetCommandText(u"select db_name() as name");
    q.Open();
    EXPECT_EQ(db::VarToStr(q.FieldValue(u"name")), u"AccountDB");
}

TEST_F(OdbcWire, WrongPasswordIsLoginFailed)
{
    const auto e = openFails(connectionString(u"master", u"not-it"));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->NativeError(), 18456);
    EXPECT_TRUE(contains(e->Message(), u"Login failed for user 'sa'")) << e->what();
}

TEST_F(OdbcWire, UnknownDatabaseIsRefusedAtLogin)
{
    const auto e = openFails(connectionString(u"NoSuchDb"));
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->NativeError() == 4060 || e->NativeError() == 18456) << e->NativeError();
    EXPECT_TRUE(contains(e->Message(), u"Cannot open database requested in login 'NoSuchDb'. Login fails.")
                || contains(e->Message(), u"Login failed for user 'sa'"))
        << e->what();
}

TEST_F(OdbcWire, RefusedLoginsAndBack)
{
    server.setRefuseLogins(true);
    const auto e = openFails(connectionString());
    ASSERT_TRUE(e);
    EXPECT_EQ(e->NativeError(), 18456);
    server.setRefuseLogins(false);
    EXPECT_FALSE(openFails(connectionString()));
}

TEST_F(OdbcWire, CommandTimeoutCancelsAndTheConnectionStaysUsable)
{
    // The delay is far longer than the time-out: only the driver's cancel
    // (ATTENTION) can end the statement.
    addFault(sandbox::Fault::Action::Delay, "slow_statement", std::chrono::minutes(10));
    db::TADOConnection c;
    c.SetConnectionString(connectionString());
    c.SetCommandTimeout(1);
    c.Open();
    EXPECT_THROW(c.Execute(u"select 'slow_statement'"), db::EDatabaseError);

    // Cancel and acknowledgement kept client and server in step.
    db::TADODataSet q;
    q.SetConnection(&c);
    q.SetCommandText(u"select 42 as answer");
    q.Open();
    EXPECT_EQ(db::VarToStr(q.FieldValue(u"answer")), u"42");
}

TEST_F(OdbcWire, DroppedConnectionIsReportedAndForgotten)
{
    addFault(sandbox::Fault::Action::Drop, "pull_the_plug");
    db::TADOConnection c;
    c.SetConnectionString(connectionString());
    c.Open();
    EXPECT_THROW(c.Execute(u"select 'pull_the_plug'"), db::EDatabaseError);
    EXPECT_FALSE(c.Connected());
    c.Open();  // a fresh login works
    EXPECT_TRUE(c.Connected());
}

TEST_F(OdbcWire, TranscriptHoldsWhatTheDriverSent)
{
    db::TADOConnection c;
    c.SetConnectionString(connectionString());
    c.Open();
    server.clearTranscript();
    c.Execute(u"select 1\r\nselect N'Grüße'");
    const auto transcript = server.transcript();
    ASSERT_FALSE(transcript.empty());
    EXPECT_EQ(transcript.back(), u"select 1\r\nselect N'Grüße'");
}

TEST_F(OdbcWire, SeveralConnectionsAtOnce)
{
    constexpr int Connections = 6;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < Connections; ++i) {
        threads.emplace_back([&] {
            try {
                db::TADOConnection c;
                c.SetConnectionString(connectionString());
                c.Open();
                db::TADODataSet q;
                q.SetConnection(&c);
                q.SetCommandText(u"select @@spid as spid");
                q.Open();
                const std::u16string spid = db::VarToStr(q.FieldValue(u"spid"));
                if (std::stoi(std::string(spid.begin(), spid.end())) >= 51)
                    ++good;
            } catch (const std::exception&) {
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), Connections);
}

} // namespace
