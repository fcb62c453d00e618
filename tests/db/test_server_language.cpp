// The tool's connection names no language, so a server installed in Chinese
// answers in Chinese, and its refusals reach the user whole and are still
// recognised: through the real driver, on the generations whose wordings
// differ.
#include "db/ConnectFailure.h"
#include "tests/db/test_db_sandbox.h"

#include "db/Variant.h"

using dbtest::errorOf;
using dbtest::Sandbox;
using dbtest::u8;
using sandbox::Generation;
using sandbox::Language;

namespace {

sandbox::Catalog catalogOf(Generation g, Language l)
{
    sandbox::Catalog c = sandbox::Catalog::defaults();
    c.generation = g;
    c.language = l;
    return c;
}

std::string firstValue(db::TADOConnection& conn, const std::u16string& sql)
{
    db::TADODataSet ds;
    ds.SetConnection(&conn);
    ds.SetCommandText(sql);
    ds.Open();
    return u8(db::VarToStr(ds.FieldValue(u"v")));
}

TEST(ServerLanguage, TheSessionSpeaksTheServersLanguageAndItsRefusalsArriveWhole)
{
    const struct {
        Generation generation;
        Language language;
        const char* name;
        const char* langId;
        const char* loginRefused;
        const char* noSuchDatabase;
    } cases[] = {
        {Generation::Sql2000, Language::SimplifiedChinese, "简体中文", "30", "用户 'sa' 登录失败。",
         "未能在 sysdatabases 中找到数据库 'Nope' 所对应的条目。没有找到具有该名称的条目。请确保正确地输入了该名称。"},
        {Generation::Sql2005, Language::SimplifiedChinese, "简体中文", "30", "用户 'sa' 登录失败。",
         "数据库 'Nope' 不存在。请确保正确地输入了该名称。"},
        {Generation::Sql2019, Language::SimplifiedChinese, "简体中文", "30", "用户 'sa' 登录失败。",
         "数据库 'Nope' 不存在。请确保正确地输入了该名称。"},
        {Generation::Sql2019, Language::English, "us_english", "0", "Login failed for user 'sa'",
         "Database 'Nope' does not exist. Make sure that the name is entered correctly"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(sandbox::generationInfo(c.generation).name) + ", " + c.name);
        Sandbox server(catalogOf(c.generation, c.language));
        db::TADOConnection conn;
        conn.SetConnectionString(server.connectionString());
        conn.Open();
        EXPECT_EQ(firstValue(conn, u"select @@LANGUAGE as v"), c.name);
        EXPECT_EQ(firstValue(conn, u"select @@LANGID as v"), c.langId);
        const db::EDatabaseError missing = errorOf([&] { conn.Execute(u"Use Nope"); });
        EXPECT_EQ(u8(missing.Message()), c.noSuchDatabase);
        EXPECT_EQ(missing.NativeError(), 911);

        db::TADOConnection refused;
        refused.SetConnectionString(server.connectionString(u"master", u"wrong"));
        const db::EDatabaseError e = errorOf([&] { refused.Open(); });
        EXPECT_EQ(u8(e.Message()), c.loginRefused);
        const db::ConnectFailureReason why = db::connectFailureOf(refused.Errors());
        EXPECT_EQ(why.kind, db::ConnectFailure::LoginRefused);
        EXPECT_EQ(u8(why.text), c.loginRefused);
    }
}

} // namespace
