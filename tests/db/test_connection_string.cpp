// The OLE DB style connection text and its ODBC translation.
#include "test_db_sandbox.h"

#include "db/ConnectionString.h"

#include <random>

using db::BraceStyle;
using db::ConnectionPairs;
using db::OdbcDriver;
using db::connstr::compose;
using db::connstr::odbcValue;
using db::connstr::parse;
using dbtest::u8;

namespace {

std::string show(const ConnectionPairs& pairs)
{
    std::string out;
    for (const auto& [k, v] : pairs)
        out += "<" + u8(k) + ">=<" + u8(v) + "> ";
    return out;
}

// Values from an alphabet rich in what the quoting rules care about.
std::u16string randomValue(std::mt19937& rng)
{
    static const std::u16string alphabet = u";\"'= \t{}ab Z9数据库=;";
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::u16string value;
    for (int i = length(rng); i > 0; --i)
        value += alphabet[pick(rng)];
    return value;
}

} // namespace

TEST(ConnectionText, OrdinaryValuesGoInVerbatim)
{
    EXPECT_EQ(u8(db::connectionText(u"GAMESRV", u"master", u"sa", u"secret")),
              "provider=sqloledb;Server=GAMESRV;DataBase=master;Uid=sa;Pwd=secret");
    EXPECT_EQ(u8(db::connectionText(u"10.0.0.5\\SQL2000", u"master", u"sa", u"")),
              "provider=sqloledb;Server=10.0.0.5\\SQL2000;DataBase=master;Uid=sa;Pwd=");
    EXPECT_EQ(u8(db::connectionText(u"127.0.0.1,1433", u"master", u"sa", u"p@ss-word!")),
              "provider=sqloledb;Server=127.0.0.1,1433;DataBase=master;Uid=sa;Pwd=p@ss-word!");
    EXPECT_EQ(u8(db::connectionText(u"服务器", u"master", u"sa", u"密码")),
              "provider=sqloledb;Server=服务器;DataBase=master;Uid=sa;Pwd=密码");
}

TEST(ConnectionText, QuotingFollowsTheOleDbRules)
{
    EXPECT_EQ(u8(db::connstr::quoteValue(u"a;b")), "\"a;b\"");
    EXPECT_EQ(u8(db::connstr::quoteValue(u"say \"hi\"")), "'say \"hi\"'");
    EXPECT_EQ(u8(db::connstr::quoteValue(u"it's")), "\"it's\"");
    EXPECT_EQ(u8(db::connstr::quoteValue(u"both ' and \"")), "\"both ' and \"\"\"");
    EXPECT_EQ(u8(db::connstr::quoteValue(u" padded ")), "\" padded \"");
    EXPECT_EQ(u8(db::connstr::quoteValue(u"a=b")), "\"a=b\"");
    EXPECT_EQ(u8(db::connstr::quoteValue(u"")), "");
    EXPECT_EQ(u8(compose({{u"Key=Word", u"v"}})), "Key==Word=v");
}

TEST(ConnectionText, ParsesWhatOthersWrite)
{
    const ConnectionPairs pairs =
        parse(u" Provider = SQLOLEDB.1 ;Data Source=srv;; Pwd = \" a;b \" ;User ID='x\"y';Key==Word=1;x=\"q\"\"q\"");
    ASSERT_EQ(pairs.size(), 6u) << show(pairs);
    EXPECT_EQ(u8(pairs[0].first), "Provider");
    EXPECT_EQ(u8(pairs[0].second), "SQLOLEDB.1");
    EXPECT_EQ(u8(pairs[1].first), "Data Source");
    EXPECT_EQ(u8(pairs[2].second), " a;b ");
    EXPECT_EQ(u8(pairs[3].second), "x\"y");
    EXPECT_EQ(u8(pairs[4].first), "Key=Word");
    EXPECT_EQ(u8(pairs[5].second), "q\"q");
    // Unquoted inner quotes are plain characters.
    EXPECT_EQ(u8(parse(u"Pwd=a'b\"c")[0].second), "a'b\"c");
}

TEST(ConnectionText, MalformedTextIsRejected)
{
    EXPECT_THROW(parse(u"Server"), db::EDatabaseError);
    EXPECT_THROW(parse(u"Pwd=\"open"), db::EDatabaseError);
    EXPECT_THROW(parse(u"Pwd=\"done\"x"), db::EDatabaseError);
    EXPECT_THROW(parse(u"=value"), db::EDatabaseError);
    EXPECT_TRUE(parse(u"").empty());
    EXPECT_TRUE(parse(u" ; ;").empty());
}

TEST(ConnectionText, RoundTripsGeneratedValues)
{
    std::mt19937 rng(20261208);
    for (int round = 0; round < 5000; ++round) {
        const ConnectionPairs pairs = {{u"provider", u"sqloledb"},
                                       {u"Server", randomValue(rng)},
                                       {u"DataBase", randomValue(rng)},
                                       {u"Uid", randomValue(rng)},
                                       {u"Pwd", randomValue(rng)}};
        const std::u16string text = compose(pairs);
        ConnectionPairs back;
        ASSERT_NO_THROW(back = parse(text)) << u8(text);
        ASSERT_EQ(back, pairs) << u8(text) << "\n" << show(back);
    }
}

// ---- the ODBC side --------------------------------------------------------------

TEST(OdbcString, BracesValuesThatNeedThem)
{
    EXPECT_EQ(u8(odbcValue(u"plain")), "plain");
    EXPECT_EQ(u8(odbcValue(u"a;b")), "{a;b}");
    EXPECT_EQ(u8(odbcValue(u"a}b")), "{a}}b}");
    EXPECT_EQ(u8(odbcValue(u" lead")), "{ lead}");
    EXPECT_EQ(u8(odbcValue(u"{x")), "{{x}");
    EXPECT_EQ(u8(odbcValue(u"a}b", BraceStyle::FreeTds13)), "{a}b}");
    EXPECT_EQ(u8(odbcValue(u"a;b\"c}", BraceStyle::FreeTds13)), "{a;b\"c}}");
    EXPECT_THROW(odbcValue(u"a};b", BraceStyle::FreeTds13), db::EDatabaseError);
    EXPECT_EQ(u8(odbcValue(u"a};b")), "{a}};b}");
}

TEST(OdbcString, MapsTheOleDbText)
{
    const OdbcDriver freetds{u"FreeTDS", BraceStyle::Doubled};
    EXPECT_EQ(u8(db::toOdbcConnectionString(db::connectionText(u"srv", u"master", u"sa", u"pw"), freetds)),
              "Driver=FreeTDS;Server=srv;Port=1433;Database=master;UID=sa;PWD=pw;"
              "TDS_Version=7.1;ClientCharset=UTF-8;Encryption=request;Language=;");
    // host,port names the port; host\instance is left to the driver's look-up.
    EXPECT_EQ(u8(db::toOdbcConnectionString(u"provider=SQLOLEDB;Server=10.1.2.3,1533;DataBase=m;Uid=sa;Pwd=", freetds)),
              "Driver=FreeTDS;Server=10.1.2.3;Port=1533;Database=m;UID=sa;PWD=;TDS_Version=7.1;ClientCharset=UTF-8;Encryption=request;Language=;");
    EXPECT_EQ(u8(db::toOdbcConnectionString(u"provider=sqloledb;Server=box\\INST;DataBase=m;Uid=sa;Pwd=", freetds)),
              "Driver=FreeTDS;Server=box\\INST;Database=m;UID=sa;PWD=;TDS_Version=7.1;ClientCharset=UTF-8;Encryption=request;Language=;");
    EXPECT_EQ(u8(db::toOdbcConnectionString(u"provider=sqloledb;Server=box\\INST,2000;DataBase=m;Uid=sa;Pwd=", freetds)),
              "Driver=FreeTDS;Server=box;Port=2000;Database=m;UID=sa;PWD=;TDS_Version=7.1;ClientCharset=UTF-8;Encryption=request;Language=;");
    EXPECT_EQ(u8(db::toOdbcConnectionString(u"provider=sqloledb;Data Source=(local);Initial Catalog=m;User ID=sa;Password=ab", freetds)),
              "Driver=FreeTDS;Server=127.0.0.1;Port=1433;Database=m;UID=sa;PWD=ab;TDS_Version=7.1;ClientCharset=UTF-8;Encryption=request;Language=;");
    const OdbcDriver path{u"/usr/lib/x 1/libtdsodbc.so", BraceStyle::FreeTds13};
    EXPECT_EQ(u8(db::toOdbcConnectionString(db::connectionText(u"s", u"d", u"u", u"a;b\"c}"), path)),
              "Driver=/usr/lib/x 1/libtdsodbc.so;Server=s;Port=1433;Database=d;UID=u;PWD={a;b\"c}};"
              "TDS_Version=7.1;ClientCharset=UTF-8;Encryption=request;Language=;");
}

// Windows' own drivers get Microsoft's keywords for the same promise: the
// login encrypted where the server can, no certificate check, "host,port".
TEST(OdbcString, SpeaksEachDriversKeywords)
{
    using db::DriverKind;
    const struct {
        OdbcDriver driver;
        std::u16string server;
        std::string odbc;
    } cases[] = {
        {{u"ODBC Driver 18 for SQL Server", BraceStyle::Doubled, DriverKind::MsOdbc}, u"srv",
         "Driver=ODBC Driver 18 for SQL Server;Server=srv,1433;Database=master;UID=sa;PWD={p}};w};"
         "Encrypt=no;TrustServerCertificate=yes;"},
        {{u"ODBC Driver 17 for SQL Server", BraceStyle::Doubled, DriverKind::MsOdbc}, u"box\\INST",
         "Driver=ODBC Driver 17 for SQL Server;Server=box\\INST;Database=master;UID=sa;PWD={p}};w};"
         "Encrypt=no;TrustServerCertificate=yes;"},
        {{u"SQL Server Native Client 11.0", BraceStyle::Doubled, DriverKind::NativeClient}, u"10.1.2.3,1533",
         "Driver=SQL Server Native Client 11.0;Server=10.1.2.3,1533;Database=master;UID=sa;PWD={p}};w};"
         "Encrypt=no;TrustServerCertificate=yes;"},
        {{u"SQL Server", BraceStyle::Doubled, DriverKind::SqlServer}, u"(local)",
         "Driver=SQL Server;Server=127.0.0.1,1433;Database=master;UID=sa;PWD={p}};w};"},
        {{u"FreeTDS", BraceStyle::Doubled, DriverKind::FreeTds}, u"box\\INST,2000",
         "Driver=FreeTDS;Server=box;Port=2000;Database=master;UID=sa;PWD={p}};w};"
         "TDS_Version=7.1;ClientCharset=UTF-8;Encryption=request;Language=;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(u8(c.driver.driver));
        // A password that needs braces shows each driver's brace rule too.
        EXPECT_EQ(u8(db::toOdbcConnectionString(db::connectionText(c.server, u"master", u"sa", u"p};w"), c.driver)),
                  c.odbc);
    }
}

TEST(OdbcString, RejectsUnknownProvidersAndKeywords)
{
    const OdbcDriver freetds{u"FreeTDS", BraceStyle::Doubled};
    const auto messageOf = [](auto&& read) {
        try {
            read();
        } catch (const db::EDatabaseError& e) {
            return u8(e.Message());
        }
        return std::string("no error");
    };
    // Reading the server out of the text, as the version probe does before
    // any traffic, refuses what the translation refuses.
    const auto message = [&](const std::u16string& text) {
        const std::string translated = messageOf([&] { db::toOdbcConnectionString(text, freetds); });
        EXPECT_EQ(messageOf([&] { db::serverOf(text); }), translated) << u8(text);
        return translated;
    };
    EXPECT_EQ(message(u"provider=msdasql;Server=s"), "Provider cannot be found. It may not be properly installed");
    EXPECT_EQ(message(u"Server=s"), "Provider cannot be found. It may not be properly installed");
    EXPECT_EQ(message(u"provider=sqloledb;Server=s;Trusted=yes"), "Unknown connection string keyword 'Trusted'");
    // Plain concatenation of a password holding ';' leaves a piece without '='.
    EXPECT_EQ(message(u"provider=sqloledb;Server=s;Pwd=a;b"),
              "Format of the initialization string does not follow the OLE DB connection-string rules");
    // The first Provider counts.
    EXPECT_EQ(message(u"provider=sqloledb;provider=msdasql;Server=s"), "no error");
}

// Where a Server= value points, as the drivers read it and the version probe asks.
TEST(ConnectionText, ServerTargetIsWhatTheDriversRead)
{
    const struct {
        std::u16string server;
        std::string host, instance;
        std::optional<std::uint16_t> port;
    } table[] = {
        {u"box", "box", "", 1433},
        {u"box,2000", "box", "", 2000},
        {u" box , 2000 ", "box", "", 2000},
        {u"box\\INST", "box", "INST", {}},
        {u"box\\INST,2000", "box", "", 2000},  // a port given wins over the instance
        {u"(local)", "127.0.0.1", "", 1433},
        {u".\\SQL2000", "127.0.0.1", "SQL2000", {}},
        {u"box,0", "box,0", "", 1433},  // no port: all of it names the host
        {u"", "", "", 1433},
    };
    for (const auto& row : table) {
        const db::ServerTarget target = db::serverTarget(row.server);
        EXPECT_EQ(u8(target.host), row.host) << u8(row.server);
        EXPECT_EQ(u8(target.instance), row.instance) << u8(row.server);
        EXPECT_EQ(target.port, row.port) << u8(row.server);
    }
    EXPECT_EQ(u8(db::serverOf(u"provider=sqloledb;Data Source=a;DataBase=m;Server=b,1")), "b,1");
    EXPECT_EQ(u8(db::serverOf(u"provider=sqloledb;DataBase=m")), "");
}
