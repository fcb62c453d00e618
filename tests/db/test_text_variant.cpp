// Text conversions, trimming, variants and the message rules.
#include "test_db_sandbox.h"

#include "db/odbc/ErrorMessage.h"
#include "db/odbc/OdbcApi.h"
#include "db/Variant.h"

using db::Variant;
using dbtest::u8;

TEST(Text, Utf8RoundTrip)
{
    const std::u16string samples[] = {u"", u"plain", u"数据库日志清理", u"emoji \U0001F600 ok", u"\u00e9\u00df"};
    for (const auto& s : samples)
        EXPECT_EQ(db::fromUtf8(db::toUtf8(s)), s) << u8(s);
    EXPECT_EQ(db::toUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    // Broken input becomes U+FFFD, never an error.
    EXPECT_EQ(db::fromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(db::fromUtf8("\xE6\x95"), u"\uFFFD");
    EXPECT_EQ(db::toUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(Text, TrimRemovesCodesUpTo32Only)
{
    EXPECT_EQ(u8(db::Trim(u" \t\r\n\x01name \x1F ")), "name");
    EXPECT_EQ(u8(db::Trim(u"\u3000wide\u00a0")), "\u3000wide\u00a0");
    EXPECT_EQ(u8(db::Trim(u"   ")), "");
    EXPECT_EQ(u8(db::Trim(u"in side")), "in side");
}

TEST(Text, SameTextFoldsCase)
{
    EXPECT_TRUE(db::SameText(u"FileName", u"FILENAME"));
    EXPECT_TRUE(db::SameText(u"\u00c9t\u00c9", u"\u00e9t\u00e9"));
    EXPECT_TRUE(db::SameText(u"\u0414\u0411", u"\u0434\u0431"));
    EXPECT_FALSE(db::SameText(u"name", u"name "));
    EXPECT_FALSE(db::SameText(u"数据", u"数 "));
}

TEST(Variant, ToText)
{
    EXPECT_EQ(u8(db::VarToStr(Variant())), "");
    EXPECT_EQ(u8(db::VarToStr(Variant::FromInteger(-262144))), "-262144");
    EXPECT_EQ(u8(db::VarToStr(Variant::FromText(u"  padded  "))), "  padded  ");
    EXPECT_EQ(u8(db::VarToStr(Variant::FromFloat(0.5))), "0.5");
    EXPECT_EQ(u8(db::VarToStr(Variant::FromBytes({0x01, 0xAB}))), "0x01AB");
    EXPECT_EQ(u8(db::VarToStr(Variant::FromDateTime({2005, 6, 14, 15, 35, 5, 0}))), "2005-06-14 15:35:05");
    EXPECT_EQ(u8(db::VarToStr(Variant::FromDateTime({2000, 8, 6, 1, 29, 12, 250}))), "2000-08-06 01:29:12.250");
    try {
        db::VarToStr(Variant::Null());
        FAIL() << "no error";
    } catch (const db::EDatabaseError& e) {
        EXPECT_EQ(u8(e.Message()), "Could not convert variant of type (Null) into type (String)");
    }
    EXPECT_THROW(Variant::FromText(u"1").AsInteger(), db::EDatabaseError);
}

// A numeric arrives as its digits: it is an integer only when it is one
// exactly, never 0 for a value too wide (CreateLSN is numeric(25,0)).
TEST(Variant, ExactIntegers)
{
    const struct {
        Variant value;
        std::optional<std::int64_t> integer;
    } cases[] = {
        {Variant::FromInteger(-262144), -262144},
        {Variant::FromText(u"0"), 0},
        {Variant::FromText(u" 9223372036854775807 "), INT64_C(9223372036854775807)},
        {Variant::FromText(u"-12"), -12},
        {Variant::FromText(u"123445000000008800001"), std::nullopt},  // past 64 bits
        {Variant::FromText(u"9223372036854775808"), std::nullopt},
        {Variant::FromText(u"12.5"), std::nullopt},
        {Variant::FromText(u""), std::nullopt},
        {Variant::FromText(u"0x10"), std::nullopt},
        {Variant::FromFloat(4096.0), 4096},
        {Variant::FromFloat(0.5), std::nullopt},
        {Variant::FromFloat(1e20), std::nullopt},
        {Variant::Null(), std::nullopt},
        {Variant(), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(db::ExactInteger(c.value), c.integer) << (c.value.IsNull() ? "NULL" : u8(db::VarToStr(c.value)));
}

TEST(ErrorMessages, DriverPrefixesAndTrailingNoiseGo)
{
    using db::detail::cleanMessage;
    EXPECT_EQ(u8(cleanMessage(u"[FreeTDS][SQL Server]Login failed for user 'sa'.")), "Login failed for user 'sa'");
    EXPECT_EQ(u8(cleanMessage(u"[unixODBC][Driver Manager]Data source name not found.  ")),
              "Data source name not found");
    EXPECT_EQ(u8(cleanMessage(u"[Microsoft][ODBC SQL Server Driver][SQL Server]Bad. \r\n.")), "Bad");
    EXPECT_EQ(u8(cleanMessage(u"[FreeTDS][SQL Server][not a source] text")), "[not a source] text");
    EXPECT_EQ(u8(cleanMessage(u"[FreeTDS][SQL Server]...")), "");
    EXPECT_EQ(u8(db::detail::errorFrom({"HYT00", 0, u"[FreeTDS][SQL Server]"}).Message()), "Timeout expired");
    EXPECT_EQ(u8(db::detail::errorFrom({"ZZ123", 7, u""}).Message()), "ODBC error ZZ123");
    const db::EOdbcError e = db::detail::errorFrom({"42000", 170, u"[FreeTDS][SQL Server]Line 1: Incorrect syntax near ','."});
    EXPECT_EQ(e.SqlState(), "42000");
    EXPECT_EQ(e.NativeError(), 170);
    EXPECT_STREQ(e.what(), "Line 1: Incorrect syntax near ','");
}

TEST(ErrorMessages, InformationalRecordsAreNotErrors)
{
    using db::detail::Diagnostic;
    const std::vector<Diagnostic> records = {{"01000", 5701, u"Changed database context"},
                                             {"42S02", 208, u"Invalid object name 'x'."},
                                             {"42000", 170, u"second"}};
    ASSERT_NE(db::detail::firstError(records), nullptr);
    EXPECT_EQ(db::detail::firstError(records)->nativeError, 208);
    EXPECT_EQ(db::detail::firstError({{"01000", 0, u"info"}}), nullptr);
}

// SQLGetDiagRec takes its buffer length as an SQLSMALLINT: a text of 32,767
// characters or more (which the wire to the sandbox cannot carry) is read
// cut rather than with a length that wraps negative and loses the record.
TEST(ErrorMessages, DiagnosticBufferStaysWithinAnSqlSmallInt)
{
    const std::pair<SQLSMALLINT, SQLSMALLINT> cases[] = {
        {0, 1}, {1023, 1024}, {30021, 30022}, {32765, 32766}, {32766, 32767}, {32767, 32767}, {-1, 32767},
        {-32768, 32767},
    };
    for (const auto& [reported, buffer] : cases)
        EXPECT_EQ(db::detail::textBufferLength(reported), buffer) << reported;
}
