#include "db/ConnectFailure.h"

#include "db/Errors.h"
#include "db/Text.h"

#include <algorithm>
#include <string_view>

namespace db {

namespace {

constexpr long LoginFailed = 18456;

bool mentions(const std::u16string& text, std::u16string_view word)
{
    return foldedCase(text).find(foldedCase(word)) != std::u16string::npos;
}

bool isMissingDriver(const ServerMessage& m)
{
    return m.text == MissingComponentsMessage || m.sqlState.rfind("IM", 0) == 0;
}

// FreeTDS words a failed handshake with the library's own terms.
bool isEncryption(const ServerMessage& m)
{
    return mentions(m.text, u"TLS") || mentions(m.text, u"SSL") || mentions(m.text, u"handshake") ||
           mentions(m.text, u"certificate");
}

// No server at that address and port, or none in time: the driver's own
// numbered messages (FreeTDS 2000x) and the connection time-out.
bool isUnreachable(const ServerMessage& m)
{
    return m.sqlState == "HYT01" || m.number == 20009 || m.number == 20003 || m.number == 20013 ||
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
    if (auto it = find(isEncryption); it != errors.end())
        return {ConnectFailure::Encryption, it->text};
    if (auto it = find(isUnreachable); it != errors.end())
        return {ConnectFailure::Unreachable, it->text};
    // The most telling words otherwise: a numbered message before the
    // driver manager's generic one.
    auto it = find([](const ServerMessage& m) { return m.error && m.number != 0; });
    if (it == errors.end())
        it = find([](const ServerMessage& m) { return m.error; });
    return {ConnectFailure::Other, it == errors.end() ? std::u16string() : it->text};
}

} // namespace db
