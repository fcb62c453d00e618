#include "db/ConnectFailure.h"

#include "db/Errors.h"
#include "db/Text.h"

#include <algorithm>
#include <string_view>

namespace db {

namespace {

constexpr long LoginFailed = 18456;
// FreeTDS's own numbered messages: no server at that address and port; a
// connection made but lost before the login, as a TLS handshake the two
// sides cannot agree on is (FreeTDS gives no other sign of it).
constexpr long ServerUnavailable = 20009;
constexpr long ConnectionFailed = 20002;

bool mentions(const std::u16string& text, std::u16string_view word)
{
    return foldedCase(text).find(foldedCase(word)) != std::u16string::npos;
}

bool isMissingDriver(const ServerMessage& m)
{
    return m.text == MissingComponentsMessage || m.sqlState.rfind("IM", 0) == 0;
}

bool isEncryption(const ServerMessage& m)
{
    return m.number == ConnectionFailed || mentions(m.text, u"TLS") || mentions(m.text, u"SSL") ||
           mentions(m.text, u"handshake");
}

// No server at that address and port, or none in time (20003 a time-out,
// 20013 an unknown host name).
bool isUnreachable(const ServerMessage& m)
{
    return m.sqlState == "HYT01" || m.number == ServerUnavailable || m.number == 20003 || m.number == 20013 ||
           mentions(m.text, u"unavailable or does not exist") || mentions(m.text, u"Unknown host");
}

} // namespace

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
