#include "db/ConnectFailure.h"

#include <algorithm>
#include <initializer_list>

namespace db {

namespace {

// Decided on numbers and SQL states only: the words come translated from
// localized drivers and servers (sources in README.md, "Why a connection
// failed").
constexpr long LoginFailed = 18456;

// FreeTDS's own numbered messages: no server at that address and port
// (20009), a time-out (20003), an unknown host name (20013); a connection
// made but lost before the login (20002), as a TLS handshake the two sides
// cannot agree on is (FreeTDS gives no other sign of it).
constexpr long ServerUnavailable = 20009;
constexpr long FreeTdsTimeout = 20003;
constexpr long UnknownHost = 20013;
constexpr long ConnectionFailed = 20002;

bool isOneOf(long number, std::initializer_list<long> numbers)
{
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

// Microsoft's drivers report a failed connection with a state of class 08
// and, as its native error, what the network layer said: a Winsock or
// Windows error code, or an SSPI (SChannel) status.
bool isConnectionState(const ServerMessage& m) { return m.sqlState.rfind("08", 0) == 0; }

// SEC_E_... and SEC_I_... statuses (facility 9, FACILITY_SECURITY), as the
// native error's 32 bits: 0x80090331 the two sides share no TLS version or
// cipher, 0x80090325 an untrusted certificate.
bool isSspiStatus(long native) { return (static_cast<unsigned long>(native) & 0xFFFF0000UL) == 0x80090000UL; }

bool isMissingDriver(const ServerMessage& m) { return saysDriverMissing(m.sqlState, m.text); }

bool isEncryption(const ServerMessage& m)
{
    if (m.number == ConnectionFailed)
        return true;
    // 10054: the server reset the connection during the handshake (Winsock
    // WSAECONNRESET); 18 and 772: the legacy driver's "SSL Security error"
    // and its failed SECDoClientHandshake.
    return isConnectionState(m) && (isSspiStatus(m.number) || isOneOf(m.number, {10054, 18, 772}));
}

// No server at that address and port, or none in time.
bool isUnreachable(const ServerMessage& m)
{
    if (m.sqlState == "HYT00" || m.sqlState == "HYT01")
        return true;
    if (isOneOf(m.number, {ServerUnavailable, FreeTdsTimeout, UnknownHost}))
        return true;
    // Winsock: 10060 timed out, 10061 refused, 10065 no route to the host,
    // 10051 network unreachable, 11001 and 11004 no such host; Windows: 53
    // the network path (Named Pipes), 258 the wait timed out; the legacy
    // driver's 17, "SQL Server does not exist or access denied".
    return isConnectionState(m) && isOneOf(m.number, {10060, 10061, 10065, 10051, 11001, 11004, 53, 258, 17});
}

} // namespace

bool saysDriverMissing(std::string_view sqlState, std::u16string_view text)
{
    return sqlState == "IM002" || sqlState == "IM003" || sqlState == "IM004" || sqlState == "IM005" ||
           text.find(u"Can't open lib") != std::u16string_view::npos;
}

ConnectFailureReason connectFailureOf(const std::vector<ServerMessage>& errors)
{
    const auto find = [&errors](auto&& test) { return std::find_if(errors.begin(), errors.end(), test); };
    if (auto it = find([](const ServerMessage& m) { return m.number == LoginFailed; }); it != errors.end())
        return {ConnectFailure::LoginRefused, it->text};
    if (auto it = find(isMissingDriver); it != errors.end())
        return {ConnectFailure::MissingDriver, it->text};
    // Unreachable first: a server that is not there fails the connection too.
    if (auto it = find(isUnreachable); it != errors.end())
        return {ConnectFailure::Unreachable, it->text};
    if (auto it = find(isEncryption); it != errors.end())
        return {ConnectFailure::Encryption, it->text};
    // The most telling words otherwise: a numbered message before the
    // driver manager's generic one.
    auto it = find([](const ServerMessage& m) { return m.error && m.number != 0; });
    if (it == errors.end())
        it = find([](const ServerMessage& m) { return m.error; });
    return {ConnectFailure::Other, it == errors.end() ? std::u16string() : it->text};
}

} // namespace db
