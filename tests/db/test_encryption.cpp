// What crosses the wire when the tool logs in as sa: the data layer through
// the real driver, and a relay that keeps every byte. From 2005 the login
// travels in TLS; a server that forces encryption gets the whole session in
// TLS; a 2000 server without a certificate gets the login in clear, as it
// always did.
#include "LoopbackRelay.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/Text.h"
#include "db/Variant.h"
#include "sandbox/net/Server.h"
#include "sandbox/tds/Login.h"

#include <gtest/gtest.h>

#include <chrono>


namespace {

constexpr std::u16string_view Password = u"Tr0ub4dor&3";
constexpr std::u16string_view Marker = u"a-marker-of-this-session";

std::string bytesOf(const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); }

std::string ucs2(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

TEST(Encryption, TheSaPasswordTravelsInTlsWhereTheServerCanEncrypt)
{
    struct Case {
        const char* what;
        sandbox::Generation generation;
        bool forceEncryption;
        bool loginInClear;
        bool queriesInClear;
    };
    const Case cases[] = {
        {"2000 without a certificate", sandbox::Generation::Sql2000, false, true, true},
        {"2019: the login only", sandbox::Generation::Sql2019, false, false, true},
        {"2019 forcing encryption: everything", sandbox::Generation::Sql2019, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sandbox::ServerOptions options;
        options.password = std::u16string(Password);
        options.catalog.generation = c.generation;
        options.forceEncryption = c.forceEncryption;
        sandbox::Server server(options);
        server.start();
        testsupport::LoopbackRelay relay(server.port());

        db::TADOConnection conn;
        conn.SetConnectionString(u"provider=sqloledb;Server=127.0.0.1," + db::fromUtf8(std::to_string(relay.port()))
                                 + u";DataBase=master;Uid=sa;Pwd=" + std::u16string(Password));
        conn.Open();
        db::TADODataSet query;
        query.SetConnection(&conn);
        query.SetCommandText(u"select '" + std::u16string(Marker) + u"'");
        query.Open();
        EXPECT_EQ(db::toUtf8(db::VarToStr(query.FieldValue(u""))), db::toUtf8(Marker));
        query.Close();
        conn.Close();

        const std::string wire = relay.captured();
        ASSERT_FALSE(wire.empty());
        EXPECT_EQ(wire.find(bytesOf(sandbox::tds::encodePassword(Password))) != std::string::npos, c.loginInClear);
        EXPECT_EQ(wire.find(ucs2(Marker)) != std::string::npos, c.queriesInClear);
    }
}

} // namespace

TEST(Encryption, ACancelReachesAServerThatEncryptsEverything)
{
    sandbox::ServerOptions options;
    options.password = std::u16string(Password);
    options.catalog.generation = sandbox::Generation::Sql2019;
    options.forceEncryption = true;
    sandbox::Server server(options);
    server.start();
    sandbox::Fault slow;
    slow.action = sandbox::Fault::Action::Delay;
    slow.pattern = "slow_one";
    slow.delay = std::chrono::minutes(10);  // only the client's cancel ends it
    server.engine().addFault(slow);

    db::TADOConnection conn;
    conn.SetConnectionString(u"provider=sqloledb;Server=127.0.0.1," + db::fromUtf8(std::to_string(server.port()))
                             + u";DataBase=master;Uid=sa;Pwd=" + std::u16string(Password));
    conn.SetCommandTimeout(1);
    conn.Open();
    try {
        conn.Execute(u"select 'slow_one'");
        ADD_FAILURE() << "the delay was not cancelled";
    } catch (const db::EDatabaseError& e) {
        EXPECT_EQ(e.SqlState(), "HYT00");
    }
    EXPECT_TRUE(conn.Connected());
    conn.Execute(u"select 1");  // the session goes on, still in TLS
}
