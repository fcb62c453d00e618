// The OLE DB style connection text the tool composes ("provider=sqloledb;
// Server=...") and its translation into an ODBC connection string for the
// driver that stands in for the provider.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace db {

using ConnectionPair = std::pair<std::u16string, std::u16string>;
using ConnectionPairs = std::vector<ConnectionPair>;

// How a driver reads a braced value in an ODBC connection string. The ODBC
// rule doubles '}' inside; FreeTDS before 1.4 knows no doubling and ends the
// value at the first "};" instead.
enum class BraceStyle { Doubled, FreeTds13 };

namespace connstr {

// Composes keyword=value pairs by the OLE DB rules: a value that needs it is
// delimited with '"' or '\'' (the delimiter doubled inside), '=' in a keyword
// is doubled. An ordinary value goes in verbatim.
std::u16string compose(const ConnectionPairs& pairs);

// Parses OLE DB style text into its pairs, in order (keywords as written,
// blanks around them dropped). Throws EDatabaseError on malformed text
// (an unterminated quote, text after a closing quote, a pair without '=').
ConnectionPairs parse(const std::u16string& text);

// Quotes one value the way compose() does (exposed for tests).
std::u16string quoteValue(const std::u16string& value);

// One value for an ODBC connection string, braced when it holds ';', '{',
// '}' or leading or trailing blanks. Throws EDatabaseError when the driver
// cannot be given the value at all (FreeTds13 and a value holding "};").
std::u16string odbcValue(const std::u16string& value, BraceStyle style = BraceStyle::Doubled);

} // namespace connstr

// The tool's connection text for the sqloledb provider:
// "provider=sqloledb;Server=<s>;DataBase=<d>;Uid=<u>;Pwd=<p>", each value
// quoted only when the OLE DB rules require it.
std::u16string connectionText(const std::u16string& server, const std::u16string& database,
                              const std::u16string& uid, const std::u16string& pwd);

// A Server= value that reaches a server by address, for when its name may
// not resolve: "host,port" when the port is known; otherwise "host\instance"
// for a named instance (the driver asks the host's browser service for the
// port) or "host" for a default instance (the default port).
std::u16string serverAddress(const std::u16string& host, const std::u16string& instance,
                             std::optional<std::uint16_t> tcpPort);

// Where a Server= value points, read as the drivers read it: "host,port"
// (a port given wins over an instance), "host\instance" (the port is for the
// host's browser service to name), or a plain host (the default port).
// "(local)" and "." are this machine.
struct ServerTarget {
    std::u16string host;
    std::u16string instance;  // empty unless no port is given
    std::optional<std::uint16_t> port;
};
ServerTarget serverTarget(std::u16string_view server);

// The Server= value of the OLE DB style text (under any of its names), empty
// when it has none. Throws EDatabaseError as toOdbcConnectionString() does.
std::u16string serverOf(const std::u16string& oledbText);

// Which family a driver belongs to, for the keywords it understands.
enum class DriverKind {
    FreeTds,       // FreeTDS, on Linux and wherever it is registered
    MsOdbc,        // "ODBC Driver NN for SQL Server"
    NativeClient,  // "SQL Server Native Client 11.0"
    SqlServer,     // "SQL Server", the driver every Windows has (SQLSRV32.DLL)
};

// The ODBC driver that stands in for the sqloledb provider.
struct OdbcDriver {
    std::u16string driver;  // Driver= value: a registered driver name or a library path
    BraceStyle braces = BraceStyle::Doubled;
    DriverKind kind = DriverKind::FreeTds;
};

// Translates the OLE DB style text into an ODBC connection string for the
// driver, in the keywords of its kind. Throws EDatabaseError for an unknown
// provider or keyword.
std::u16string toOdbcConnectionString(const std::u16string& oledbText, const OdbcDriver& driver);

} // namespace db
