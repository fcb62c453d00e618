#include "db/odbc/ErrorMessage.h"

#include "db/Text.h"

#include <map>

namespace db::detail {

namespace {

// "[vendor][component][data source]" groups as drivers and driver managers
// put them before a message; other bracketed text belongs to the message.
bool isSourcePrefix(std::u16string_view group)
{
    static constexpr std::u16string_view known[] = {
        u"FreeTDS", u"unixODBC", u"Driver Manager", u"Microsoft", u"SQL Server", u"DBNETLIB",
        u"DBMSSOCN", u"TCP/IP Sockets", u"Named Pipes", u"Shared Memory", u"iODBC",
    };
    for (std::u16string_view k : known) {
        if (SameText(group, k))
            return true;
    }
    // "[ODBC SQL Server Driver]", "[ODBC Driver 17 for SQL Server]", "[SQL Native Client]"...
    return group.rfind(u"ODBC", 0) == 0 || group.find(u"Native Client") != std::u16string_view::npos;
}

} // namespace

std::u16string cleanMessage(std::u16string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && text[start] == u'[') {
        const auto close = text.find(u']', start);
        if (close == std::u16string_view::npos || !isSourcePrefix(text.substr(start + 1, close - start - 1)))
            break;
        start = close + 1;
    }
    while (start < text.size() && text[start] <= 32)
        ++start;
    std::size_t end = text.size();
    while (end > start && (text[end - 1] <= 32 || text[end - 1] == u'.'))
        --end;
    return std::u16string(text.substr(start, end - start));
}

std::u16string textForState(const std::string& sqlState)
{
    static const std::map<std::string, std::u16string_view> texts = {
        {"08001", u"Unable to connect to data source"},
        {"08004", u"The server rejected the connection"},
        {"08S01", u"Communication link failure"},
        {"08003", u"Connection not open"},
        {"08007", u"Connection failure during transaction"},
        {"28000", u"Login refused: invalid authorization"},
        {"42000", u"Syntax error or access violation"},
        {"HY000", u"General error"},
        {"HY001", u"Memory allocation error"},
        {std::string(CancelledState), u"Operation canceled"},
        {"HYT00", u"Timeout expired"},
        {"HYT01", u"Connection timeout expired"},
        {"IM002", u"Data source name not found and no default driver specified"},
        {"IM003", u"Specified driver could not be loaded"},
    };
    if (auto it = texts.find(sqlState); it != texts.end())
        return std::u16string(it->second);
    return u"ODBC error " + asciiToUtf16(sqlState.empty() ? std::string("HY000") : sqlState);
}

EOdbcError errorFrom(const Diagnostic& d)
{
    std::u16string message = cleanMessage(d.text);
    if (message.empty())
        message = textForState(d.sqlState);
    return EOdbcError(std::move(message), d.sqlState, d.nativeError);
}

ServerMessage messageFrom(const Diagnostic& d)
{
    return ServerMessage{d.nativeError, cleanMessage(d.text), d.sqlState, isErrorRecord(d)};
}

} // namespace db::detail
