#include "ConnectionString.h"

#include "Errors.h"
#include "FixedValues.h"
#include "Text.h"

#include <algorithm>
#include <optional>

namespace db {

namespace {

// Blanks that OLE DB drops around unquoted keywords and values.
bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string trimBlanks(std::u16string_view text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return std::u16string(text.substr(first, last - first));
}

// What OLE DB answers for any text it cannot read.
[[noreturn]] void malformed()
{
    throw EDatabaseError(u"Format of the initialization string does not follow the OLE DB connection-string rules");
}

bool contains(const std::u16string& text, char16_t c) { return text.find(c) != std::u16string::npos; }

} // namespace

namespace connstr {

std::u16string quoteValue(const std::u16string& value)
{
    const bool needsQuotes = contains(value, u';') || contains(value, u'"') || contains(value, u'\'') ||
                             contains(value, u'=') ||
                             (!value.empty() && (isBlank(value.front()) || isBlank(value.back())));
    if (!needsQuotes)
        return value;
    // Prefer a delimiter that does not occur in the value; when both occur,
    // double quotes with the inner ones doubled.
    const char16_t quote = (contains(value, u'"') && !contains(value, u'\'')) ? u'\'' : u'"';
    std::u16string out(1, quote);
    for (char16_t c : value) {
        out += c;
        if (c == quote)
            out += quote;
    }
    out += quote;
    return out;
}

std::u16string compose(const ConnectionPairs& pairs)
{
    std::u16string out;
    for (const auto& [key, value] : pairs) {
        if (!out.empty())
            out += u';';
        for (char16_t c : key) {
            out += c;
            if (c == u'=')
                out += u'=';
        }
        out += u'=';
        out += quoteValue(value);
    }
    return out;
}

namespace {

void skipBlanks(std::u16string_view text, std::size_t& i)
{
    while (i < text.size() && isBlank(text[i]))
        ++i;
}

// A keyword: up to a '=' that is not doubled ("==" stands for one '=').
std::u16string readKeyword(std::u16string_view text, std::size_t& i)
{
    std::u16string key;
    while (i < text.size() && text[i] != u';') {
        if (text[i] != u'=') {
            key += text[i++];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == u'=') {
            key += u'=';
            i += 2;
            continue;
        }
        ++i;
        key = trimBlanks(key);
        if (key.empty())
            malformed();
        return key;
    }
    malformed();
}

// A value in quotes, the quote doubled inside; nothing but blanks may follow it.
std::u16string readQuotedValue(std::u16string_view text, std::size_t& i)
{
    const char16_t quote = text[i++];
    std::u16string value;
    for (;;) {
        if (i >= text.size())
            malformed();
        if (text[i] != quote) {
            value += text[i++];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
        }
        ++i;
        break;
    }
    skipBlanks(text, i);
    if (i < text.size() && text[i] != u';')
        malformed();
    return value;
}

// A value: quoted, or up to the next ';'.
std::u16string readValue(std::u16string_view text, std::size_t& i)
{
    skipBlanks(text, i);
    if (i < text.size() && (text[i] == u'"' || text[i] == u'\''))
        return readQuotedValue(text, i);
    const std::size_t start = i;
    while (i < text.size() && text[i] != u';')
        ++i;
    return trimBlanks(text.substr(start, i - start));
}

} // namespace

ConnectionPairs parse(const std::u16string& text)
{
    ConnectionPairs pairs;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && (isBlank(text[i]) || text[i] == u';'))
            ++i;
        if (i >= text.size())
            return pairs;
        std::u16string key = readKeyword(text, i);
        pairs.emplace_back(std::move(key), readValue(text, i));
    }
}

std::u16string odbcValue(const std::u16string& value, BraceStyle style)
{
    const bool needsBraces = contains(value, u';') || contains(value, u'{') || contains(value, u'}') ||
                             (!value.empty() && (isBlank(value.front()) || isBlank(value.back())));
    if (!needsBraces)
        return value;
    std::u16string out = u"{";
    if (style == BraceStyle::FreeTds13) {
        // Read up to the first "};": such a value cannot be passed, and a
        // closing brace is always followed by ';' (see toOdbcConnectionString).
        if (value.find(u"};") != std::u16string::npos)
            throw EDatabaseError(u"The connection string value \"" + value +
                                 u"\" cannot be passed to this version of the FreeTDS driver");
        out += value;
    } else {
        for (char16_t c : value) {
            out += c;
            if (c == u'}')
                out += u'}';
        }
    }
    out += u'}';
    return out;
}

} // namespace connstr

std::u16string connectionText(const std::u16string& server, const std::u16string& database,
                              const std::u16string& uid, const std::u16string& pwd)
{
    return connstr::compose({{u"provider", std::u16string(fixed::Provider)},
                             {u"Server", server},
                             {u"DataBase", database},
                             {u"Uid", uid},
                             {u"Pwd", pwd}});
}

std::u16string serverAddress(const std::u16string& host, const std::u16string& instance,
                             std::optional<std::uint16_t> tcpPort)
{
    if (tcpPort)
        return host + u',' + asciiToUtf16(std::to_string(*tcpPort));
    return instance.empty() ? host : host + u'\\' + instance;
}

namespace {

enum class Key { Provider, Server, Database, Uid, Pwd, Ignored };

std::optional<Key> keyOf(const std::u16string& keyword)
{
    struct Name {
        std::u16string_view name;
        Key key;
    };
    // sqloledb's keywords and their usual synonyms.
    static constexpr Name names[] = {
        {u"Provider", Key::Provider},        {u"Server", Key::Server},
        {u"Data Source", Key::Server},       {u"Address", Key::Server},
        {u"Addr", Key::Server},              {u"Network Address", Key::Server},
        {u"Database", Key::Database},        {u"Initial Catalog", Key::Database},
        {u"Uid", Key::Uid},                  {u"User ID", Key::Uid},
        {u"Pwd", Key::Pwd},                  {u"Password", Key::Pwd},
        {u"Persist Security Info", Key::Ignored},
    };
    for (const Name& n : names) {
        if (SameText(keyword, n.name))
            return n.key;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> portOf(std::u16string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    if (value <= 0 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// The same promise to every driver: the sa password crosses the network
// encrypted wherever the server can encrypt (every one from 2005 on has a
// certificate, a self-made one if none was installed), a 2000 server without
// one still gets its login as before, and the certificate is not verified,
// for the tool has nowhere to name a CA. The time-outs are connection
// attributes that every one of these drivers takes. And no driver names a
// language: the session gets its login's, as the server was installed.
std::u16string_view driverKeywords(DriverKind kind)
{
    switch (kind) {
    case DriverKind::FreeTds:
        // Every generation from 2000 to 2022 takes a 7.1 login, 2000 nothing
        // later; fixing it spares the 7.4 attempt of "auto". UTF-8 as the
        // driver's client character set lets any Unicode through the wide API.
        // "request", not "require", so that a 2000 server without a
        // certificate is still reached. An empty Language names none, as
        // Microsoft's drivers name none: the session speaks the login's
        // language (a Chinese server's sa: 简体中文), where FreeTDS would
        // otherwise ask for us_english.
        return u"TDS_Version=7.1;ClientCharset=UTF-8;Encryption=request;Language=;";
    case DriverKind::MsOdbc:
    case DriverKind::NativeClient:
        // Microsoft encrypts the login whatever Encrypt says; "no" ("optional"
        // from version 18, whose default is "mandatory") leaves the rest to
        // the server, and TrustServerCertificate spares the check when the
        // server forces encryption or version 18 would check anyway.
        return u"Encrypt=no;TrustServerCertificate=yes;";
    case DriverKind::SqlServer:
        // The server encrypts its login as it does every client's that can
        // take TLS; the driver has no keyword that would skip the check
        // Encrypt=yes brings, so it is given neither.
        return u"";
    }
    return u"";
}

} // namespace

ServerTarget serverTarget(std::u16string_view server)
{
    ServerTarget target;
    const auto comma = server.rfind(u',');
    if (const auto port = comma == std::u16string_view::npos ? std::nullopt : portOf(trimBlanks(server.substr(comma + 1)))) {
        target.host = trimBlanks(server.substr(0, comma));
        target.host = target.host.substr(0, target.host.find(u'\\'));  // a port given wins over the instance
        target.port = port;
    } else if (const auto slash = server.find(u'\\'); slash != std::u16string_view::npos) {
        target.host = std::u16string(server.substr(0, slash));
        target.instance = std::u16string(server.substr(slash + 1));
    } else {
        target.host = std::u16string(server);
        target.port = fixed::DefaultTcpPort;
    }
    if (SameText(target.host, u"(local)") || target.host == u".")
        target.host = u"127.0.0.1";
    return target;
}

namespace {

// The values of the text's keywords, each as the last pair naming it gave it.
struct ConnectionFields {
    std::u16string server, database, uid, pwd;
};

ConnectionFields readConnectionText(const std::u16string& oledbText)
{
    std::optional<std::u16string> provider;
    ConnectionFields fields;
    for (const auto& [keyword, value] : connstr::parse(oledbText)) {
        const std::optional<Key> key = keyOf(keyword);
        if (!key)
            throw EDatabaseError(u"Unknown connection string keyword '" + keyword + u"'");
        switch (*key) {
        case Key::Provider:
            if (!provider)  // OLE DB: the first Provider counts, for the others the last
                provider = value;
            break;
        case Key::Server: fields.server = value; break;
        case Key::Database: fields.database = value; break;
        case Key::Uid: fields.uid = value; break;
        case Key::Pwd: fields.pwd = value; break;
        case Key::Ignored: break;
        }
    }
    const std::u16string versioned = std::u16string(fixed::Provider) + u".1";
    if (!provider || !(SameText(*provider, fixed::Provider) || SameText(*provider, versioned)))
        throw EDatabaseError(u"Provider cannot be found. It may not be properly installed");
    return fields;
}

} // namespace

std::u16string serverOf(const std::u16string& oledbText)
{
    return readConnectionText(oledbText).server;
}

std::u16string toOdbcConnectionString(const std::u16string& oledbText, const OdbcDriver& driver)
{
    const auto [server, database, uid, pwd] = readConnectionText(oledbText);

    // An instance without a port is resolved by the driver through the
    // host's UDP 1434.
    const ServerTarget target = serverTarget(server);
    const std::u16string host = target.instance.empty() ? target.host : target.host + u'\\' + target.instance;
    const std::u16string port = target.port ? asciiToUtf16(std::to_string(*target.port)) : std::u16string();

    const BraceStyle style = driver.braces;
    // Driver first: the driver manager reads only that, and FreeTDS before
    // 1.4 would misread what follows a braced value it does not understand.
    // Every pair ends in ';', so that a braced value is always closed by "};".
    std::u16string out = u"Driver=" + connstr::odbcValue(driver.driver, style) + u";";
    if (driver.kind == DriverKind::FreeTds) {
        out += u"Server=" + connstr::odbcValue(host, style) + u";";
        if (!port.empty())
            out += u"Port=" + port + u";";
    } else {
        // Microsoft's drivers read "host,port" as sqloledb does.
        out += u"Server=" + connstr::odbcValue(port.empty() ? host : host + u"," + port, style) + u";";
    }
    out += u"Database=" + connstr::odbcValue(database, style) + u";";
    out += u"UID=" + connstr::odbcValue(uid, style) + u";";
    out += u"PWD=" + connstr::odbcValue(pwd, style) + u";";
    out += driverKeywords(driver.kind);
    return out;
}

} // namespace db
