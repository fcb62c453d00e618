// The language a session speaks: the one its login's record names, else the
// server's default (a server installed in Chinese has 简体中文); what the login
// says about it, and every message of the server's table in both languages.
#include "test_wire_client.h"

#include "sandbox/net/Server.h"
#include "sandbox/sql/Messages.h"
#include "tests/sandbox/OdbcProbe.h"

#include <gtest/gtest.h>

#include <QString>

#include <set>
#include <string>

using sandbox::Generation;
using sandbox::Language;
using namespace wire;

namespace {

constexpr std::uint8_t Login7 = 0x10;

class LanguageServer {
public:
    explicit LanguageServer(Language language, Generation generation = Generation::Sql2019)
        : server_(options(language, generation))
    {
        server_.start();
    }
    std::uint16_t port() const { return server_.port(); }

private:
    static sandbox::ServerOptions options(Language language, Generation generation)
    {
        sandbox::ServerOptions o;
        o.catalog.language = language;
        o.catalog.generation = generation;
        return o;
    }
    sandbox::Server server_;
};

// Without a PRELOGIN, as a TDS 7.0 client: so that no generation asks for TLS.
std::vector<Token> loginReply(std::uint16_t port, const LoginRequest& request)
{
    Client c(port);
    c.send(Login7, login7(request));
    const auto reply = c.readReply();
    return reply ? tokens(*reply) : std::vector<Token>{};
}

std::string utf8(std::u16string_view s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())).toStdString();
}

TEST(Language, ALoginGetsTheLanguageItsRecordNamesElseTheServers)
{
    struct Case {
        const char* what;
        Language server;
        std::u16string named;  // the LOGIN7 language field
        const char* language;  // ENVCHANGE and @@LANGUAGE
        const char* changed;   // 5703
        const char* context;   // 5701
    };
    const char* english[] = {"us_english", "Changed language setting to us_english.",
                             "Changed database context to 'master'."};
    const char* chinese[] = {"简体中文", "已将语言设置更改为 简体中文。", "已将数据库上下文更改为 'master'。"};
    const Case cases[] = {
        {"an English server, no name", Language::English, u"", english[0], english[1], english[2]},
        {"a Chinese server, no name", Language::SimplifiedChinese, u"", chinese[0], chinese[1], chinese[2]},
        {"a Chinese server, us_english named", Language::SimplifiedChinese, u"us_english", english[0], english[1],
         english[2]},
        {"a Chinese server, its English alias", Language::SimplifiedChinese, u"ENGLISH", english[0], english[1],
         english[2]},
        {"an English server, the Chinese alias", Language::English, u"Simplified Chinese", chinese[0], chinese[1],
         chinese[2]},
        {"a Chinese server, a language it does not have", Language::SimplifiedChinese, u"Klingon", chinese[0],
         chinese[1], chinese[2]},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LanguageServer server(c.server);
        LoginRequest request;
        request.language = c.named;
        const auto all = loginReply(server.port(), request);
        ASSERT_EQ(only<LoginAckToken>(all).size(), 1u);
        std::string envLanguage, changed, context;
        for (const auto& e : only<EnvChangeToken>(all))
            if (e.type == 2)
                envLanguage = utf8(e.newValue);
        for (const auto& m : only<MessageToken>(all)) {
            if (m.number == 5703)
                changed = utf8(m.text);
            if (m.number == 5701)
                context = utf8(m.text);
        }
        EXPECT_EQ(envLanguage, c.language);
        EXPECT_EQ(changed, c.changed);
        EXPECT_EQ(context, c.context);
    }
}

// Which language a refused login's 18456 comes in when its record names
// another than the server's is not documented: the sandbox takes the named one.
TEST(Language, ARefusedLoginIsWordedInTheLanguageTheLoginWouldHaveHad)
{
    struct Case {
        const char* what;
        Generation generation;
        std::u16string named;
        std::u16string password, database;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"a wrong password", Generation::Sql2019, u"", u"wrong", u"", {"用户 'sa' 登录失败。"}},
        {"a missing database", Generation::Sql2019, u"", u"sandbox", u"NoSuchDb",
         {"无法打开登录所请求的数据库 \"NoSuchDb\"。登录失败。", "用户 'sa' 登录失败。"}},
        {"a missing database, 2000", Generation::Sql2000, u"", u"sandbox", u"NoSuchDb",
         {"无法打开登录 'NoSuchDb' 中请求的数据库。登录失败。", "用户 'sa' 登录失败。"}},
        {"a wrong password, us_english named", Generation::Sql2019, u"us_english", u"wrong", u"",
         {"Login failed for user 'sa'."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LanguageServer server(Language::SimplifiedChinese, c.generation);
        LoginRequest request;
        request.language = c.named;
        request.password = c.password;
        request.database = c.database;
        std::vector<std::string> texts;
        for (const auto& m : only<MessageToken>(loginReply(server.port(), request)))
            texts.push_back(utf8(m.text));
        EXPECT_EQ(texts, c.texts);
    }
}

// Through FreeTDS's ODBC driver at TDS 7.1 and 7.4: an empty Language asks
// for none, so the session gets the server's; FreeTDS otherwise names
// us_english. The 2000 wording of 911 before 2005's.
TEST(Language, TheDriverGetsTheServersLanguageWhenItNamesNone)
{
    for (const Generation g : testsupport::AllGenerations) {
        LanguageServer server(Language::SimplifiedChinese, g);
        const bool classic = g == Generation::Sql2000;
        for (const char* tds : testsupport::TdsVersions) {
            SCOPED_TRACE(std::string(sandbox::generationInfo(g).name) + ", TDS " + tds);
            testsupport::Odbc asksNone(server.port(), tds, "master", ";Language=");
            ASSERT_TRUE(asksNone.connected());
            EXPECT_EQ(asksNone.answer("select @@LANGUAGE"), "简体中文");
            EXPECT_EQ(asksNone.answer("select @@LANGID"), "30");
            EXPECT_NE(asksNone.run("use NoSuchDb").text(911).find(
                          classic ? "未能在 sysdatabases 中找到数据库 'NoSuchDb' 所对应的条目。"
                                  : "数据库 'NoSuchDb' 不存在。请确保正确地输入了该名称。"),
                      std::string::npos);

            testsupport::Odbc namesEnglish(server.port(), tds);
            ASSERT_TRUE(namesEnglish.connected());
            EXPECT_EQ(namesEnglish.answer("select @@LANGUAGE"), "us_english");
            EXPECT_EQ(namesEnglish.answer("select @@LANGID"), "0");
            EXPECT_NE(namesEnglish.run("use NoSuchDb").text(911).find("NoSuchDb"), std::string::npos);
            EXPECT_EQ(namesEnglish.run("use NoSuchDb").text(911).find("数据库"), std::string::npos);
        }
    }
}

bool hasHan(std::u16string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x4E00 && c <= 0x9FFF; });
}

bool hasPlaceholder(std::u16string_view text)
{
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == u'%' && (text[i + 1] == u's' || text[i + 1] == u'd' || (text[i + 1] >= u'0' && text[i + 1] <= u'9')))
            return true;
    return false;
}

// Every message in Chinese for every generation, with the same arguments
// as its English wording (a Chinese text orders them its own way).
TEST(Language, EveryMessageOfTheTableHasItsChineseWording)
{
    const std::vector<std::u16string> args = {u"①", u"②", u"③", u"④"};
    for (const int number : sandbox::messageNumbers()) {
        for (const Generation g : testsupport::AllGenerations) {
            SCOPED_TRACE(std::to_string(number) + " on " + sandbox::generationInfo(g).name);
            sandbox::Message m;
            m.number = number;
            m.fromTable = true;
            m.args = args;
            const sandbox::Message english = sandbox::localized(m, g, Language::English);
            const sandbox::Message chinese = sandbox::localized(m, g, Language::SimplifiedChinese);
            EXPECT_EQ(chinese.number, english.number);
            EXPECT_EQ(chinese.severity, english.severity);
            std::set<std::u16string> inEnglish, inChinese;
            for (const std::u16string& a : args) {
                if (english.text.find(a) != std::u16string::npos)
                    inEnglish.insert(a);
                if (chinese.text.find(a) != std::u16string::npos)
                    inChinese.insert(a);
            }
            EXPECT_EQ(inChinese, inEnglish) << utf8(chinese.text);
            EXPECT_FALSE(hasPlaceholder(chinese.text)) << utf8(chinese.text);
            // PRINT and the sandbox's own refusals are text as given.
            if (english.text != args.front()) {
                EXPECT_TRUE(hasHan(chinese.text)) << utf8(chinese.text);
            }
        }
    }
}

} // namespace
