#include "sandbox/tds/Tokens.h"

#include <algorithm>
#include <string>

namespace sandbox::tds {

void writeEnvChange(TokenBuffer& out, std::uint8_t type, std::u16string_view newValue, std::u16string_view oldValue)
{
    out.u8(token::EnvChange);
    const std::size_t at = out.size();
    out.u16(0);
    out.u8(type);
    out.bVarChar(newValue);
    out.bVarChar(oldValue);
    out.patchLength16(at);
}

void writeCollationChange(TokenBuffer& out, const std::array<std::uint8_t, 5>& collation)
{
    out.u8(token::EnvChange);
    const std::size_t at = out.size();
    out.u16(0);
    out.u8(envchange::Collation);
    out.u8(static_cast<std::uint8_t>(collation.size()));
    out.raw(collation.data(), collation.size());
    out.u8(0);  // no old collation
    out.patchLength16(at);
}

void writeTransactionChange(TokenBuffer& out, std::uint8_t type, std::uint64_t descriptor)
{
    out.u8(token::EnvChange);
    const std::size_t at = out.size();
    out.u16(0);
    out.u8(type);
    const auto value = [&] {
        out.u8(8);
        out.u64(descriptor);
    };
    if (type == envchange::BeginTransaction) {
        value();
        out.u8(0);
    } else {
        out.u8(0);
        value();
    }
    out.patchLength16(at);
}

void writeLoginAck(TokenBuffer& out, std::u16string_view programName, std::uint32_t version,
                   const std::array<std::uint8_t, 4>& programVersion)
{
    out.u8(token::LoginAck);
    const std::size_t at = out.size();
    out.u16(0);
    out.u8(1);  // interface: SQL Server's own T-SQL
    // The version goes out most significant byte first.
    out.u8(static_cast<std::uint8_t>(version >> 24));
    out.u8(static_cast<std::uint8_t>((version >> 16) & 0xFF));
    out.u8(static_cast<std::uint8_t>((version >> 8) & 0xFF));
    out.u8(static_cast<std::uint8_t>(version & 0xFF));
    out.bVarChar(programName);
    out.raw(programVersion.data(), programVersion.size());
    out.patchLength16(at);
}

void writeFeatureExtAck(TokenBuffer& out)
{
    out.u8(token::FeatureExtAck);
    out.u8(0xFF);  // no feature acknowledged
}

void writeMessage(TokenBuffer& out, const Message& msg, std::u16string_view serverName, Layout layout)
{
    out.u8(msg.severity <= 10 ? token::Info : token::Error);
    const std::size_t at = out.size();
    out.u16(0);
    out.u32(static_cast<std::uint32_t>(msg.number));
    out.u8(msg.state);
    out.u8(msg.severity);
    // The token's own length is 16 bits, so the text must leave room for the rest.
    const std::u16string_view text = std::u16string_view(msg.text).substr(0, std::min<std::size_t>(msg.text.size(), 30000));
    out.usVarChar(text);
    out.bVarChar(serverName);
    out.bVarChar(msg.procName);
    if (layout == Layout::Tds72)
        out.u32(msg.line);
    else
        out.u16(msg.line);
    out.patchLength16(at);
}

void writeDone(TokenBuffer& out, DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount,
               Layout layout)
{
    switch (kind) {
    case DoneKind::Done: out.u8(token::Done); break;
    case DoneKind::DoneProc: out.u8(token::DoneProc); break;
    case DoneKind::DoneInProc: out.u8(token::DoneInProc); break;
    }
    out.u16(status);
    out.u16(curCmd);
    if (layout == Layout::Tds72)
        out.u64(rowCount);
    else
        out.u32(static_cast<std::uint32_t>(std::min<std::uint64_t>(rowCount, 0xFFFFFFFFu)));
}

void writeReturnStatus(TokenBuffer& out, std::int32_t status)
{
    out.u8(token::ReturnStatus);
    out.u32(static_cast<std::uint32_t>(status));
}

void writeReturnValue(TokenBuffer& out, std::uint16_t ordinal, std::u16string_view name, std::optional<std::int32_t> value,
                      Layout layout)
{
    out.u8(token::ReturnValue);
    out.u16(ordinal);
    out.bVarChar(name);
    out.u8(0x01);  // an output parameter
    if (layout == Layout::Tds72)
        out.u32(0);  // user type
    else
        out.u16(0);
    out.u16(0x0001);
    out.u8(wiretype::IntN);
    out.u8(4);
    if (value) {
        out.u8(4);
        out.u32(static_cast<std::uint32_t>(*value));
    } else {
        out.u8(0);
    }
}

} // namespace sandbox::tds
