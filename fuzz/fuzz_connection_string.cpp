// The connection text: the values in it come from the user (server name,
// password) and from the server (database names), and the ODBC string made
// from it must hand exactly those values to the driver.
//
// The input is read twice: as OLE DB text, and as the four values (split at
// NUL bytes; no text box yields a NUL) that connectionText() composes.
#include "FuzzSupport.h"

#include "db/ConnectionString.h"
#include "db/Errors.h"

#include <map>
#include <optional>

namespace {

using db::BraceStyle;

// FreeTDS in both brace styles, and Windows' drivers with their own keywords.
const db::OdbcDriver Drivers[] = {
    {u"FreeTDS", BraceStyle::Doubled, db::DriverKind::FreeTds},
    {u"FreeTDS", BraceStyle::FreeTds13, db::DriverKind::FreeTds},
    {u"ODBC Driver 18 for SQL Server", BraceStyle::Doubled, db::DriverKind::MsOdbc},
    {u"SQL Server", BraceStyle::Doubled, db::DriverKind::SqlServer},
};

// An ODBC connection string read as the driver reads it; nothing when it
// would not read it at all. Independent of the code under test on purpose.
std::optional<std::map<std::u16string, std::u16string>> readOdbc(const std::u16string& s, BraceStyle style)
{
    std::map<std::u16string, std::u16string> pairs;
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t eq = s.find(u'=', i);
        if (eq == std::u16string::npos)
            return std::nullopt;
        const std::u16string key = s.substr(i, eq - i);
        i = eq + 1;
        std::u16string value;
        if (i < s.size() && s[i] == u'{') {
            if (style == BraceStyle::FreeTds13) {
                const std::size_t close = s.find(u"};", i);
                if (close == std::u16string::npos)
                    return std::nullopt;
                value = s.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                for (++i;; ++i) {
                    if (i >= s.size())
                        return std::nullopt;
                    if (s[i] == u'}') {
                        if (i + 1 < s.size() && s[i + 1] == u'}') {
                            value += u'}';
                            ++i;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    value += s[i];
                }
            }
            if (i < s.size() && s[i] != u';')
                return std::nullopt;
        } else {
            const std::size_t end = std::min(s.find(u';', i), s.size());
            value = s.substr(i, end - i);
            i = end;
        }
        pairs[key] = value;
        if (i < s.size())
            ++i;  // the ';'
    }
    return pairs;
}

void checkRoundTrip(const db::ConnectionPairs& pairs)
{
    FUZZ_CHECK(db::connstr::parse(db::connstr::compose(pairs)) == pairs);
}

void fromText(const std::u16string& text)
{
    db::ConnectionPairs pairs;
    try {
        pairs = db::connstr::parse(text);
    } catch (const db::EDatabaseError&) {
        return;
    }
    checkRoundTrip(pairs);
    for (const db::OdbcDriver& driver : Drivers) {
        try {
            const std::u16string odbc = db::toOdbcConnectionString(text, driver);
            FUZZ_CHECK(readOdbc(odbc, driver.braces).has_value());
        } catch (const db::EDatabaseError&) {
        }
    }
}

void fromValues(const std::u16string& input)
{
    std::u16string values[4];
    std::size_t at = 0;
    for (std::size_t k = 0; k < 4 && at <= input.size(); ++k) {
        const std::size_t end = std::min(input.find(u'\0', at), input.size());
        values[k] = input.substr(at, end - at);
        at = end + 1;
    }
    const auto& [server, database, uid, pwd] = values;
    const std::u16string text = db::connectionText(server, database, uid, pwd);
    const db::ConnectionPairs expected = {
        {u"provider", u"sqloledb"}, {u"Server", server}, {u"DataBase", database}, {u"Uid", uid}, {u"Pwd", pwd}};
    FUZZ_CHECK(db::connstr::parse(text) == expected);

    for (const db::OdbcDriver& driver : Drivers) {
        std::u16string odbc;
        try {
            odbc = db::toOdbcConnectionString(text, driver);
        } catch (const db::EDatabaseError&) {
            // Only a value the old driver cannot be given at all may be refused.
            FUZZ_CHECK(driver.braces == BraceStyle::FreeTds13);
            continue;
        }
        const auto read = readOdbc(odbc, driver.braces);
        FUZZ_CHECK(read.has_value());
        FUZZ_CHECK(read->at(u"Database") == database);
        FUZZ_CHECK(read->at(u"UID") == uid);
        FUZZ_CHECK(read->at(u"PWD") == pwd);
        FUZZ_CHECK(read->at(u"Driver") == driver.driver);
        // No value can name a language: the session keeps its login's.
        if (driver.kind == db::DriverKind::FreeTds)
            FUZZ_CHECK(read->count(u"Language") == 1 && read->at(u"Language").empty());
        else
            FUZZ_CHECK(read->count(u"Language") == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::u16string text = fuzzsupport::utf16Of(data, size);
    fromText(text);
    fromValues(text);
    return 0;
}
