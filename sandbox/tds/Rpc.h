// Remote procedure call requests (packet type 0x03), as ODBC drivers send
// them for prepared statements (sp_prepexec, sp_execute, ...) and for
// procedure calls with parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sandbox/tds/Version.h"

namespace sandbox::tds {

// The procedure ids clients may send instead of a name.
namespace procid {
constexpr std::uint16_t ExecuteSql = 10;
constexpr std::uint16_t Prepare = 11;
constexpr std::uint16_t Execute = 12;
constexpr std::uint16_t PrepExec = 13;
constexpr std::uint16_t Unprepare = 15;
} // namespace procid

struct RpcParam {
    std::u16string name;
    std::uint8_t status = 0;  // 0x01: output parameter
    std::uint8_t type = 0;
    bool isNull = false;
    std::optional<std::int64_t> integer;  // integer and bit types
    std::optional<std::u16string> text;   // character types
    // Neither: a type the sandbox can skip over but not use (float, money, binary, ...).
    bool usable() const { return isNull || integer || text; }
    bool output() const { return (status & 0x01) != 0; }
};

struct RpcRequest {
    std::u16string procName;  // empty when called by id
    std::uint16_t procId = 0;
    std::vector<RpcParam> params;
};

// The first call of the request (ALL_HEADERS skipped by the caller); nullopt
// when it is malformed or uses a type whose layout is unknown. The layout
// says what separates calls: 0x80 up to TDS 7.1, 0xFF or 0xFE from 7.2, where
// 0x80 is the length of a 128-character parameter name.
std::optional<RpcRequest> parseRpc(std::span<const std::uint8_t> payload, Layout layout);

} // namespace sandbox::tds
