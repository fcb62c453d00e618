// Writers for the TDS tokens the sandbox sends other than result sets
// (Columns.h): login, messages, environment changes, DONE, procedure returns.
#pragma once

#include "sandbox/sql/Result.h"
#include "sandbox/tds/Buffer.h"
#include "sandbox/tds/Columns.h"
#include "sandbox/tds/Version.h"

#include <array>
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox::tds {

namespace token {
constexpr std::uint8_t ColMetadata = 0x81;
constexpr std::uint8_t Error = 0xAA;
constexpr std::uint8_t Info = 0xAB;
constexpr std::uint8_t ReturnValue = 0xAC;
constexpr std::uint8_t LoginAck = 0xAD;
constexpr std::uint8_t FeatureExtAck = 0xAE;
constexpr std::uint8_t ReturnStatus = 0x79;
constexpr std::uint8_t Row = 0xD1;
constexpr std::uint8_t EnvChange = 0xE3;
constexpr std::uint8_t Done = 0xFD;
constexpr std::uint8_t DoneProc = 0xFE;
constexpr std::uint8_t DoneInProc = 0xFF;
} // namespace token

namespace envchange {
constexpr std::uint8_t Database = 1;
constexpr std::uint8_t Language = 2;
constexpr std::uint8_t PacketSize = 4;
constexpr std::uint8_t Collation = 7;
constexpr std::uint8_t BeginTransaction = 8;
constexpr std::uint8_t CommitTransaction = 9;
constexpr std::uint8_t RollbackTransaction = 10;
} // namespace envchange

// DONE status bits only the session sets.
namespace donebits {
constexpr std::uint16_t More = 0x0001;
constexpr std::uint16_t Attention = 0x0020;
} // namespace donebits

void writeEnvChange(TokenBuffer& out, std::uint8_t type, std::u16string_view newValue, std::u16string_view oldValue);
void writeCollationChange(TokenBuffer& out, const std::array<std::uint8_t, 5>& collation);
// From 7.2: a transaction began (its 8-byte descriptor is the new value) or
// ended (the descriptor is the old value).
void writeTransactionChange(TokenBuffer& out, std::uint8_t type, std::uint64_t descriptor);
// `version`: the TDS version agreed; `programVersion`: major, minor, build
// high and low byte, as clients read the server's version from it.
void writeLoginAck(TokenBuffer& out, std::u16string_view programName, std::uint32_t version,
                   const std::array<std::uint8_t, 4>& programVersion);
// The answer to a 7.4 login that asked for features: none taken.
void writeFeatureExtAck(TokenBuffer& out);

// INFO for severity 0..10, ERROR above.
void writeMessage(TokenBuffer& out, const Message& msg, std::u16string_view serverName,
                  Layout layout = Layout::Tds71);
void writeDone(TokenBuffer& out, DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount,
               Layout layout = Layout::Tds71);
// The end of a procedure call: its return status and an int output parameter.
void writeReturnStatus(TokenBuffer& out, std::int32_t status);
void writeReturnValue(TokenBuffer& out, std::uint16_t ordinal, std::u16string_view name, std::optional<std::int32_t> value,
                      Layout layout = Layout::Tds71);
} // namespace sandbox::tds
