// The sandbox's wire side seen from a raw TCP client: framing, login,
// replies, cancels and hostile input.
#include "test_wire_client.h"

#include "sandbox/net/Server.h"

#include <QString>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

using namespace wire;

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t SqlBatch = 0x01;
constexpr std::uint8_t Login7 = 0x10;
constexpr std::uint8_t Prelogin = 0x12;
constexpr std::uint8_t ReplyType = 0x04;
constexpr std::uint16_t DoneMore = 0x0001;
constexpr std::uint16_t DoneError = 0x0002;
constexpr std::uint16_t DoneAttn = 0x0020;

// Waits for a condition the server reaches on its own threads (a session
// ending). Generous: it bounds a failure, it does not time the server.
template <class F>
bool eventually(F condition)
{
    for (int i = 0; i < 2000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

std::optional<wire::Reply> loginWith(Client& c, const LoginRequest& request, bool withPrelogin = true)
{
    if (withPrelogin) {
        c.send(Prelogin, prelogin(request.tds74));
        if (!c.readReply())
            return std::nullopt;
    }
    c.send(Login7, login7(request));
    return c.readReply();
}

void logIn(Client& c, LoginRequest request = {})
{
    auto reply = loginWith(c, request);
    ASSERT_TRUE(reply);
    const auto acks = only<LoginAckToken>(tokens(*reply));
    ASSERT_EQ(acks.size(), 1u) << "login was not acknowledged";
}

std::vector<Token> batch(Client& c, std::u16string_view sql)
{
    c.sendBatch(sql);
    auto reply = c.readReply();
    if (!reply)
        throw std::runtime_error("no reply to batch");
    return tokens(*reply);
}

// An in-process server on an ephemeral loopback port.
class TestServer {
public:
    TestServer() : server_(sandbox::ServerOptions{}) { server_.start(); }
    sandbox::Server& server() { return server_; }
    sandbox::Engine& engine() { return server_.engine(); }
    std::uint16_t port() const { return server_.port(); }

private:
    sandbox::Server server_;
};

class Wire : public ::testing::Test {
protected:
    TestServer sandbox;
};

std::u16string fromUtf8(const std::string& s)
{
    const QString q = QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    return std::u16string(reinterpret_cast<const char16_t*>(q.utf16()), static_cast<std::size_t>(q.size()));
}

// ---- handshake -------------------------------------------------------------

TEST_F(Wire, PreloginAnswersSqlServer2000WithoutEncryption)
{
    for (const bool mars : {true, false}) {
        Client c(sandbox.port());
        c.send(Prelogin, prelogin(mars));
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->packets.size(), 1u);
        EXPECT_EQ(reply->packets[0].type, ReplyType);
        const Bytes& p = reply->payload;
        std::map<std::uint8_t, Bytes> options;
        for (std::size_t i = 0; p.at(i) != 0xFF; i += 5) {
            const std::size_t off = static_cast<std::size_t>((p.at(i + 1) << 8) | p.at(i + 2));
            const std::size_t len = static_cast<std::size_t>((p.at(i + 3) << 8) | p.at(i + 4));
            ASSERT_LE(off + len, p.size());
            options[p[i]] = Bytes(p.begin() + static_cast<std::ptrdiff_t>(off),
                                  p.begin() + static_cast<std::ptrdiff_t>(off + len));
        }
        EXPECT_EQ(options[0], (Bytes{0x08, 0x00, 0x07, 0xF7, 0x00, 0x00}));
        EXPECT_EQ(options[1], Bytes{0x02});  // encryption not supported
        EXPECT_EQ(options[2], Bytes{0x00});
        EXPECT_TRUE(options.count(3));
        EXPECT_EQ(options.count(4), mars ? 1u : 0u);
        if (mars) {
            EXPECT_EQ(options[4], Bytes{0x00});
        }
    }
}

TEST_F(Wire, SuccessfulLoginSendsTheTokensOfSqlServer2000)
{
    Client c(sandbox.port());
    auto reply = loginWith(c, {});
    ASSERT_TRUE(reply);
    const auto all = tokens(*reply);
    ASSERT_EQ(all.size(), 8u);

    const auto& db = std::get<EnvChangeToken>(all[0]);
    EXPECT_EQ(db.type, 1);
    EXPECT_EQ(db.newValue, u"master");
    const auto& dbInfo = std::get<MessageToken>(all[1]);
    EXPECT_FALSE(dbInfo.error);
    EXPECT_EQ(dbInfo.number, 5701);
    EXPECT_EQ(dbInfo.state, 2);
    EXPECT_EQ(dbInfo.text, u"Changed database context to 'master'.");
    EXPECT_EQ(dbInfo.server, u"SANDBOX");
    const auto& collation = std::get<EnvChangeToken>(all[2]);
    EXPECT_EQ(collation.type, 7);
    EXPECT_EQ(collation.newBytes, (Bytes{0x09, 0x04, 0xD0, 0x00, 0x34}));
    const auto& language = std::get<EnvChangeToken>(all[3]);
    EXPECT_EQ(language.type, 2);
    EXPECT_EQ(language.newValue, u"us_english");
    EXPECT_EQ(std::get<MessageToken>(all[4]).number, 5703);
    EXPECT_EQ(std::get<MessageToken>(all[4]).text, u"Changed language setting to us_english.");
    const auto& ack = std::get<LoginAckToken>(all[5]);
    EXPECT_EQ(ack.interface, 1);
    EXPECT_EQ(ack.tdsVersion, 0x71000001u);
    EXPECT_EQ(ack.program, u"Microsoft SQL Server");
    EXPECT_EQ(ack.version, (Bytes{0x08, 0x00, 0x07, 0xF7}));
    const auto& size = std::get<EnvChangeToken>(all[6]);
    EXPECT_EQ(size.type, 4);
    EXPECT_EQ(size.newValue, u"4096");
    const auto& done = std::get<DoneToken>(all[7]);
    EXPECT_EQ(done.token, 0xFD);
    EXPECT_EQ(done.status, 0);

    for (const Packet& p : reply->packets)
        EXPECT_GE(p.spid, 51);
}

TEST_F(Wire, LoginNamesTheDatabaseAsTheCatalogSpellsIt)
{
    Client c(sandbox.port());
    LoginRequest r;
    r.database = u"gamedb";
    r.user = u"SA";  // logins compare case-insensitively
    auto reply = loginWith(c, r);
    ASSERT_TRUE(reply);
    const auto envs = only<EnvChangeToken>(tokens(*reply));
    ASSERT_FALSE(envs.empty());
    EXPECT_EQ(envs[0].newValue, u"GameDB");
    EXPECT_EQ(only<MessageToken>(tokens(*reply))[0].text, u"Changed database context to 'GameDB'.");
}

TEST_F(Wire, LoginWithoutPreloginAsTds70ClientsDo)
{
    Client c(sandbox.port());
    auto reply = loginWith(c, {}, false);
    ASSERT_TRUE(reply);
    EXPECT_EQ(only<LoginAckToken>(tokens(*reply)).size(), 1u);
}

struct Rejection {
    const char* what;
    LoginRequest request;
    bool refuseAll;
    std::vector<std::int32_t> numbers;
    std::u16string lastText;
};

TEST_F(Wire, FailedLoginsSendErrorsThenDoneThenHangUp)
{
    LoginRequest wrongPassword;
    wrongPassword.password = u"Sandbox";
    LoginRequest wrongUser;
    wrongUser.user = u"guest";
    LoginRequest unknownDb;
    unknownDb.database = u"NoSuchDb";
    const std::vector<Rejection> cases = {
        {"wrong password", wrongPassword, false, {18456}, u"Login failed for user 'sa'."},
        {"wrong user", wrongUser, false, {18456}, u"Login failed for user 'guest'."},
        {"unknown database", unknownDb, false, {4060, 18456}, u"Login failed for user 'sa'."},
        {"refused", LoginRequest{}, true, {18456}, u"Login failed for user 'sa'."},
    };
    for (const Rejection& r : cases) {
        SCOPED_TRACE(r.what);
        sandbox.server().setRefuseLogins(r.refuseAll);
        Client c(sandbox.port());
        auto reply = loginWith(c, r.request);
        ASSERT_TRUE(reply);
        const auto all = tokens(*reply);
        const auto messages = only<MessageToken>(all);
        ASSERT_EQ(messages.size(), r.numbers.size());
        for (std::size_t i = 0; i < messages.size(); ++i) {
            EXPECT_TRUE(messages[i].error);
            EXPECT_EQ(messages[i].number, r.numbers[i]);
        }
        if (r.numbers.size() == 2) {
            EXPECT_EQ(messages[0].severity, 11);
            EXPECT_EQ(messages[0].text, u"Cannot open database requested in login 'NoSuchDb'. Login fails.");
        }
        EXPECT_EQ(messages.back().severity, 14);
        EXPECT_EQ(messages.back().state, 1);
        EXPECT_EQ(messages.back().text, r.lastText);
        EXPECT_TRUE(only<LoginAckToken>(all).empty());
        ASSERT_TRUE(std::holds_alternative<DoneToken>(all.back()));
        EXPECT_EQ(std::get<DoneToken>(all.back()).status & DoneError, DoneError);
        EXPECT_TRUE(c.serverClosed());
    }
}

TEST_F(Wire, FailedLoginOfATds74ClientUsesItsTokenLayout)
{
    // No version is agreed before LOGINACK, so a 7.4 client reads 8-byte row
    // counts and 4-byte line numbers.
    Client c(sandbox.port());
    LoginRequest r;
    r.tds74 = true;
    r.password = u"nope";
    auto reply = loginWith(c, r);
    ASSERT_TRUE(reply);
    const auto all = TokenReader(reply->payload, true).all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(std::get<MessageToken>(all[0]).number, 18456);
    EXPECT_EQ(std::get<DoneToken>(all[1]).status, DoneError);
}

TEST_F(Wire, Tds74ClientIsAnsweredAsTds71)
{
    Client c(sandbox.port());
    LoginRequest r;
    r.tds74 = true;
    auto reply = loginWith(c, r);
    ASSERT_TRUE(reply);
    const auto acks = only<LoginAckToken>(tokens(*reply));
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0].tdsVersion, 0x71000001u);
}

// ---- framing -----------------------------------------------------------------

TEST_F(Wire, RequestsArriveInPiecesAndAcrossPackets)
{
    Client c(sandbox.port());
    // PRELOGIN dribbled a few bytes per TCP write, header split in the middle.
    const Bytes pre = Client::packet(Prelogin, prelogin(true), true);
    for (std::size_t i = 0; i < pre.size(); i += 3) {
        c.sendRaw(Bytes(pre.begin() + static_cast<std::ptrdiff_t>(i),
                        pre.begin() + static_cast<std::ptrdiff_t>(std::min(pre.size(), i + 3))));
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(c.readReply());
    // LOGIN7 as three packets of one message.
    c.send(Login7, login7({}), 64);
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    ASSERT_EQ(only<LoginAckToken>(tokens(*reply)).size(), 1u);

    // A batch of 3000 characters in 512-byte packets reaches the engine whole.
    std::u16string sql = u"select 1 /*";
    sql += std::u16string(3000, u'x');
    sql += u"*/";
    sandbox.server().clearTranscript();
    c.sendBatch(sql, 512);
    ASSERT_TRUE(c.readReply());
    const auto transcript = sandbox.server().transcript();
    ASSERT_EQ(transcript.size(), 1u);
    EXPECT_EQ(transcript[0], sql);
}

TEST_F(Wire, RepliesAreSplitToTheNegotiatedPacketSize)
{
    Client c(sandbox.port());
    LoginRequest r;
    r.packetSize = 512;
    auto login = loginWith(c, r);
    ASSERT_TRUE(login);
    const auto envs = only<EnvChangeToken>(tokens(*login));
    ASSERT_EQ(envs.back().type, 4);
    EXPECT_EQ(envs.back().newValue, u"512");

    // A long error text makes a reply of several packets.
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::Error;
    f.pattern = "make_it_long";
    f.error.number = 50001;
    f.error.severity = 16;
    f.error.text = std::u16string(1500, u'e');
    sandbox.engine().addFault(f);

    c.sendBatch(u"select 'make_it_long'");
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->packets.size(), 6u);
    const std::uint16_t spid = reply->packets[0].spid;
    EXPECT_GE(spid, 51);
    for (std::size_t i = 0; i < reply->packets.size(); ++i) {
        const Packet& p = reply->packets[i];
        const bool last = i + 1 == reply->packets.size();
        EXPECT_EQ(p.type, ReplyType);
        EXPECT_EQ(p.spid, spid);
        EXPECT_EQ(p.id, static_cast<std::uint8_t>(i + 1));
        EXPECT_EQ(p.status & 1, last ? 1 : 0);
        if (!last) {
            EXPECT_EQ(p.length, 512);
        }
        EXPECT_LE(p.length, 512);
    }
    const auto messages = only<MessageToken>(tokens(*reply));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].number, 50001);
    EXPECT_EQ(messages[0].text, f.error.text);
}

TEST_F(Wire, PacketSizeRequestsAreKeptInRange)
{
    for (const auto& [asked, granted] : {std::pair{100u, u"512"}, std::pair{0u, u"4096"}, std::pair{40000u, u"32767"}}) {
        Client c(sandbox.port());
        LoginRequest r;
        r.packetSize = asked;
        auto reply = loginWith(c, r);
        ASSERT_TRUE(reply);
        EXPECT_EQ(only<EnvChangeToken>(tokens(*reply)).back().newValue, granted) << asked;
    }
}

TEST_F(Wire, EverySessionHasItsOwnSpid)
{
    Client a(sandbox.port()), b(sandbox.port());
    auto ra = loginWith(a, {});
    auto rb = loginWith(b, {});
    ASSERT_TRUE(ra && rb);
    const std::uint16_t spidA = ra->packets[0].spid, spidB = rb->packets[0].spid;
    EXPECT_NE(spidA, spidB);
    EXPECT_GE(std::min(spidA, spidB), 51);
    a.close();
    ASSERT_TRUE(eventually([&] { return sandbox.server().activeSessions() == 1; }));
    // The freed SPID is handed out again, as SQL Server does.
    Client c(sandbox.port());
    auto rc = loginWith(c, {});
    ASSERT_TRUE(rc);
    EXPECT_EQ(rc->packets[0].spid, spidA);
}

// ---- batches -------------------------------------------------------------------

TEST_F(Wire, EveryDoneButTheLastSaysMore)
{
    Client c(sandbox.port());
    logIn(c);
    const auto dones = only<DoneToken>(batch(c, u"select 1 select 2 select 3"));
    ASSERT_GE(dones.size(), 3u);
    for (std::size_t i = 0; i + 1 < dones.size(); ++i)
        EXPECT_EQ(dones[i].status & DoneMore, DoneMore) << i;
    EXPECT_EQ(dones.back().status & DoneMore, 0);
    EXPECT_EQ(dones.back().token, 0xFD);
}

TEST_F(Wire, UseChangesTheDatabaseWithAnEnvChange)
{
    Client c(sandbox.port());
    logIn(c);
    const auto all = batch(c, u"use msdb");
    const auto envs = only<EnvChangeToken>(all);
    ASSERT_EQ(envs.size(), 1u);
    EXPECT_EQ(envs[0].type, 1);
    EXPECT_EQ(envs[0].newValue, u"msdb");
    EXPECT_EQ(envs[0].oldValue, u"master");
}

TEST_F(Wire, BatchWithAllHeadersIsUnderstood)
{
    Client c(sandbox.port());
    logIn(c);
    Bytes payload;
    put32(payload, 22);  // total
    put32(payload, 18);  // transaction descriptor header
    put16(payload, 2);
    for (int i = 0; i < 8; ++i)
        payload.push_back(0);
    put32(payload, 1);
    putUcs2(payload, u"select 1");
    sandbox.server().clearTranscript();
    c.send(SqlBatch, payload);
    ASSERT_TRUE(c.readReply());
    EXPECT_EQ(sandbox.server().transcript(), std::vector<std::u16string>{u"select 1"});
}

TEST_F(Wire, ResultSetEncoding)
{
    Client c(sandbox.port());
    logIn(c);
    const auto all = batch(c, u"select name, dbid from master..sysdatabases where name = 'msdb'");
    const auto meta = only<ColMetadataToken>(all);
    ASSERT_EQ(meta.size(), 1u);
    ASSERT_EQ(meta[0].columns.size(), 2u);
    EXPECT_EQ(meta[0].columns[0].name, u"name");
    EXPECT_EQ(meta[0].columns[0].type, 0xE7);  // nvarchar
    EXPECT_EQ(meta[0].columns[0].maxLength, 256);
    EXPECT_EQ(meta[0].columns[1].name, u"dbid");
    const auto rows = only<RowToken>(all);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::get<std::u16string>(rows[0].cells[0]), u"msdb");
    EXPECT_EQ(std::get<std::int64_t>(rows[0].cells[1]), 4);
    const auto dones = only<DoneToken>(all);
    ASSERT_FALSE(dones.empty());
    EXPECT_EQ(dones.back().rowCount, 1u);
}

TEST_F(Wire, NCharColumnsArriveBlankPadded)
{
    Client c(sandbox.port());
    LoginRequest r;
    r.database = u"GameDB";
    logIn(c, r);
    const auto all = batch(c, u"select name from sysfiles where fileid = 2");
    const auto meta = only<ColMetadataToken>(all);
    ASSERT_EQ(meta.size(), 1u);
    EXPECT_EQ(meta[0].columns[0].type, 0xEF);
    EXPECT_EQ(meta[0].columns[0].maxLength, 256);
    const auto rows = only<RowToken>(all);
    ASSERT_EQ(rows.size(), 1u);
    const auto& name = std::get<std::u16string>(rows[0].cells[0]);
    EXPECT_EQ(name.size(), 128u);
    EXPECT_EQ(name.substr(0, 10), u"GameDB_Log");
    EXPECT_EQ(name.find_first_not_of(u' ', 10), std::u16string::npos);
}

// ---- procedure calls (how ODBC drivers run prepared statements) -----------------

constexpr std::uint8_t Rpc = 0x03;

std::vector<Token> call(Client& c, const Bytes& request)
{
    c.send(Rpc, request);
    auto reply = c.readReply();
    if (!reply)
        throw std::runtime_error("no reply to procedure call");
    return tokens(*reply);
}

TEST_F(Wire, PrepExecRunsTheStatementAndReturnsAHandle)
{
    Client c(sandbox.port());
    logIn(c);
    sandbox.server().clearTranscript();
    // What FreeTDS sends for SQLPrepare + SQLExecute without parameters.
    const auto all = call(c, rpc({}, 13, {intParam(std::nullopt, true), ntextParam(u""),
                                          ntextParam(u"select name from master..sysdatabases where dbid = 4")}));
    const auto rows = only<RowToken>(all);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::get<std::u16string>(rows[0].cells[0]), u"msdb");
    const auto values = only<ReturnValueToken>(all);
    ASSERT_EQ(values.size(), 1u);
    ASSERT_TRUE(values[0].value);
    EXPECT_EQ(only<ReturnStatusToken>(all).size(), 1u);
    const auto dones = only<DoneToken>(all);
    ASSERT_EQ(dones.size(), 2u);
    EXPECT_EQ(dones[0].token, 0xFF);  // the statement's DONEINPROC
    EXPECT_EQ(dones[0].status & DoneMore, DoneMore);
    EXPECT_EQ(dones[0].rowCount, 1u);
    EXPECT_EQ(dones[1].token, 0xFE);  // the call's DONEPROC, last
    EXPECT_EQ(dones[1].status, 0);
    EXPECT_EQ(sandbox.server().transcript(),
              std::vector<std::u16string>{u"select name from master..sysdatabases where dbid = 4"});

    // The handle runs the statement again; after sp_unprepare it is gone.
    const std::int32_t handle = *values[0].value;
    EXPECT_EQ(only<RowToken>(call(c, rpc(u"sp_execute", 0, {intParam(handle)}))).size(), 1u);
    call(c, rpc({}, 15, {intParam(handle)}));
    const auto gone = only<MessageToken>(call(c, rpc(u"sp_execute", 0, {intParam(handle)})));
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].number, 8179);
}

TEST_F(Wire, ExecuteSqlAndNamedProceduresRunAsBatches)
{
    Client c(sandbox.port());
    logIn(c);
    sandbox.server().clearTranscript();
    EXPECT_EQ(only<RowToken>(call(c, rpc(u"sp_executesql", 0, {nvarcharParam(u"select 1")}))).size(), 1u);
    call(c, rpc(u"sp_dboption", 0, {nvarcharParam(u"GameDB"), nvarcharParam(u"trunc. log on chkpt."),
                                    nvarcharParam(u"it's")}));
    const auto transcript = sandbox.server().transcript();
    ASSERT_EQ(transcript.size(), 2u);
    EXPECT_EQ(transcript[0], u"select 1");
    EXPECT_EQ(transcript[1], u"EXEC sp_dboption N'GameDB', N'trunc. log on chkpt.', N'it''s'");
}

TEST_F(Wire, UnsupportedProcedureCallsFailButKeepTheSession)
{
    Client c(sandbox.port());
    logIn(c);
    // Statement parameters, an output parameter, an unknown procedure id, an unreadable call.
    const std::vector<Bytes> calls = {
        rpc({}, 10, {nvarcharParam(u"select @p"), nvarcharParam(u"@p int"), intParam(5, false, u"@p")}),
        rpc(u"sp_who", 0, {intParam(std::nullopt, true)}),
        rpc({}, 99, {}),
        Bytes{0x05, 0x00, 's', 0},
    };
    for (const Bytes& request : calls) {
        const auto all = call(c, request);
        const auto messages = only<MessageToken>(all);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].severity, 16);
        const auto dones = only<DoneToken>(all);
        ASSERT_FALSE(dones.empty());
        EXPECT_EQ(dones.back().token, 0xFE);
        EXPECT_EQ(dones.back().status & DoneError, DoneError);
    }
    EXPECT_FALSE(only<DoneToken>(batch(c, u"select 1")).empty());
}

// ---- cancel and faults ---------------------------------------------------------

TEST_F(Wire, AttentionWhileIdleIsAcknowledged)
{
    Client c(sandbox.port());
    logIn(c);
    c.sendAttention();
    auto reply = c.readReply();
    ASSERT_TRUE(reply);
    const auto all = tokens(*reply);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(std::get<DoneToken>(all[0]).status & DoneAttn, DoneAttn);
    // The session goes on.
    EXPECT_FALSE(only<DoneToken>(batch(c, u"select 1")).empty());
}

TEST_F(Wire, AttentionEndsADelayedStatement)
{
    // Far beyond the client's read limit, so only a cancel ends them; the
    // longest one must not overflow the deadline into no wait at all.
    for (const auto delay : {std::chrono::milliseconds(std::chrono::minutes(10)), std::chrono::milliseconds::max()}) {
        sandbox.engine().clearFaults();
        sandbox::Fault f;
        f.action = sandbox::Fault::Action::Delay;
        f.pattern = "slow_one";
        f.delay = delay;
        sandbox.engine().addFault(f);

        Client c(sandbox.port());
        logIn(c);
        c.sendBatch(u"select 1 select 'slow_one'");
        c.sendAttention();
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        const auto dones = only<DoneToken>(tokens(*reply));
        ASSERT_FALSE(dones.empty());
        EXPECT_EQ(dones.back().status & DoneAttn, DoneAttn) << delay.count();
        // What ran before the delay was not thrown away; what waited never ran.
        EXPECT_EQ(only<RowToken>(tokens(*reply)).size(), 1u) << delay.count();
        EXPECT_FALSE(only<DoneToken>(batch(c, u"select 2")).empty());
    }
}

TEST_F(Wire, AStatementAnswersBeforeItsBatchWaitsForACancel)
{
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::DelayAfter;
    f.pattern = "answered";
    f.delay = std::chrono::minutes(10);
    sandbox.engine().addFault(f);

    Client c(sandbox.port());
    logIn(c);
    c.sendBatch(u"select 'answered' select 2");
    // The first statement's rows and DONE arrive while the batch goes on...
    auto first = c.readPacket();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status & 0x01, 0);  // not the end of the message
    const auto answered = TokenReader(first->body, false).all();
    EXPECT_EQ(only<RowToken>(answered).size(), 1u);
    ASSERT_EQ(only<DoneToken>(answered).size(), 1u);
    EXPECT_EQ(only<DoneToken>(answered)[0].status & DoneMore, DoneMore);
    // ...and a cancel then ends it.
    c.sendAttention();
    auto rest = c.readReply();
    ASSERT_TRUE(rest);
    const auto dones = only<DoneToken>(tokens(*rest));
    ASSERT_FALSE(dones.empty());
    EXPECT_EQ(dones.back().status & DoneAttn, DoneAttn);
    EXPECT_TRUE(only<RowToken>(tokens(*rest)).empty());  // the second never ran
    EXPECT_FALSE(only<DoneToken>(batch(c, u"select 3")).empty());
}

TEST_F(Wire, DropFaultClosesTheConnectionAndOthersCarryOn)
{
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::Drop;
    f.pattern = "pull_the_plug";
    sandbox.engine().addFault(f);

    Client other(sandbox.port());
    logIn(other);
    Client c(sandbox.port());
    logIn(c);
    c.sendBatch(u"select 'pull_the_plug'");
    EXPECT_FALSE(c.readPacket());
    EXPECT_FALSE(only<DoneToken>(batch(other, u"select 1")).empty());
    EXPECT_TRUE(eventually([&] { return sandbox.server().activeSessions() == 1; }));
}

// ---- hostile and broken clients ------------------------------------------------

TEST_F(Wire, MalformedInputClosesOnlyThatConnection)
{
    struct Case {
        const char* what;
        std::function<void(Client&)> act;
    };
    Bytes shortHeader = {Prelogin, 1, 0, 4, 0, 0, 1, 0};
    Bytes badLogin = login7({});
    badLogin[40] = 0xF0;  // user name offset far past the record
    badLogin[41] = 0x7F;
    Bytes lyingLength = login7({});
    lyingLength[0] = 0xFF;  // record length larger than the message
    lyingLength[1] = 0xFF;
    const std::vector<Case> cases = {
        {"packet length below the header size", [&](Client& c) { c.sendRaw(shortHeader); }},
        {"prelogin without terminator", [&](Client& c) { c.send(Prelogin, Bytes{0, 0, 6, 0, 6}); }},
        {"login field outside the record", [&](Client& c) {
             c.send(Prelogin, prelogin(false));
             c.readReply();
             c.send(Login7, badLogin);
         }},
        {"login record longer than sent", [&](Client& c) { c.send(Login7, lyingLength); }},
        {"truncated login", [&](Client& c) {
             Bytes cut = login7({});
             cut.resize(40);
             c.send(Login7, cut);
         }},
        {"batch before login", [&](Client& c) { c.sendBatch(u"select 1"); }},
        {"packet type changes mid-message", [&](Client& c) {
             c.sendRaw(Client::packet(Login7, Bytes(10, 0), false));
             c.sendRaw(Client::packet(SqlBatch, Bytes(10, 0), true));
         }},
        {"odd-length batch", [&](Client& c) {
             logIn(c);
             c.send(SqlBatch, Bytes{'s', 0, 'e'});
         }},
        {"garbage", [&](Client& c) { c.sendRaw(Bytes(64, 0xEE)); }},
    };
    Client bystander(sandbox.port());
    logIn(bystander);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Client c(sandbox.port());
        k.act(c);
        EXPECT_TRUE(c.serverClosed());
    }
    EXPECT_FALSE(only<DoneToken>(batch(bystander, u"select 1")).empty());
    EXPECT_TRUE(eventually([&] { return sandbox.server().activeSessions() == 1; }));
}

TEST_F(Wire, ClientVanishingMidPacketEndsItsSession)
{
    Client c(sandbox.port());
    logIn(c);
    Bytes half = Client::packet(SqlBatch, ucs2(u"select 1"), true);
    half.resize(half.size() / 2);
    c.sendRaw(half);
    c.close();
    EXPECT_TRUE(eventually([&] { return sandbox.server().activeSessions() == 0; }));
}

TEST(WireServer, StopReturnsWhileClientsStallMidPacketOrSitIdle)
{
    sandbox::ServerOptions options;
    sandbox::Server server(options);
    server.start();
    Client idle(server.port());
    logIn(idle);
    Client stalled(server.port());
    stalled.sendRaw(Bytes{Prelogin, 1, 0, 100, 0, 0});  // 6 of 100 bytes, then nothing
    Client waiting(server.port());
    logIn(waiting);
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::Delay;
    f.pattern = "forever";
    f.delay = std::chrono::hours(1);
    server.engine().addFault(f);
    waiting.sendBatch(u"select 'forever'");
    ASSERT_TRUE(eventually([&] { return server.activeSessions() == 3; }));
    server.stop();  // must not wait for any of them
    EXPECT_EQ(server.activeSessions(), 0);
    EXPECT_TRUE(idle.serverClosed());
    EXPECT_TRUE(stalled.serverClosed());
}

TEST_F(Wire, ManyClientsAtOnce)
{
    constexpr int Clients = 12;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < Clients; ++i) {
        threads.emplace_back([&] {
            try {
                Client c(sandbox.port());
                auto reply = loginWith(c, {});
                if (!reply || only<LoginAckToken>(tokens(*reply)).size() != 1)
                    return;
                for (int j = 0; j < 5; ++j)
                    if (only<DoneToken>(batch(c, u"select 1")).empty())
                        return;
                ++good;
            } catch (const std::exception&) {
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), Clients);
}

// ---- transcript ----------------------------------------------------------------

TEST(WireServer, TranscriptFileHoldsEveryBatchVerbatim)
{
    const auto path = std::filesystem::temp_directory_path()
                      / ("sandbox-transcript-" + std::to_string(::getpid()) + ".txt");
    std::filesystem::remove(path);
    sandbox::ServerOptions options;
    options.transcriptFile = path.string();
    const std::vector<std::u16string> batches = {
        u"select 1",
        u"select 2\r\n-- batch 99 (spid 1, x, 3 bytes)\r\nselect 'Grüße'",
        u"",
    };
    {
        sandbox::Server server(options);
        server.start();
        Client c(server.port());
        logIn(c);
        for (const auto& b : batches) {
            c.sendBatch(b);
            ASSERT_TRUE(c.readReply());
        }
        EXPECT_EQ(server.transcript(), batches);
        server.clearTranscript();
        EXPECT_TRUE(server.transcript().empty());
    }

    std::ifstream in(path, std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    EXPECT_EQ(text.find("sandbox\n"), std::string::npos) << "the password must never be written";

    // Reads the records back by their byte counts.
    std::vector<std::string> records;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t eol = text.find('\n', at);
        ASSERT_NE(eol, std::string::npos);
        const std::string header = text.substr(at, eol - at);
        ASSERT_EQ(header.rfind("-- batch ", 0), 0u) << header;
        const std::size_t comma = header.rfind(", ");
        const std::size_t bytes = std::stoul(header.substr(comma + 2));
        records.push_back(text.substr(eol + 1, bytes));
        at = eol + 1 + bytes;
        ASSERT_EQ(text.at(at), '\n');
        ++at;
    }
    ASSERT_EQ(records.size(), batches.size());
    for (std::size_t i = 0; i < batches.size(); ++i)
        EXPECT_EQ(fromUtf8(records[i]), batches[i]);
    EXPECT_NE(text.find("-- batch 1 (spid 51, "), std::string::npos);
    std::filesystem::remove(path);
}

} // namespace
