// TDS versions as LOGIN7 and LOGINACK carry them, and the token layout each
// implies for what the sandbox sends.
#pragma once

#include <cstdint>

namespace sandbox::tds {

constexpr std::uint32_t Version71 = 0x71000001;  // SQL Server 2000 SP1 and later; every generation takes it
constexpr std::uint32_t Version72 = 0x72090002;  // 2005
constexpr std::uint32_t Version73A = 0x730A0003; // 2008
constexpr std::uint32_t Version73B = 0x730B0003; // 2008 R2
constexpr std::uint32_t Version74 = 0x74000004;  // 2012 and later

// Field widths: TDS 7.1, or 7.2 and later (8-byte DONE row counts, 4-byte
// message line numbers, 0xFF between procedure calls).
enum class Layout { Tds71, Tds72 };

// The layout of a version, also what a client that asked for it reads before any LOGINACK.
inline Layout layoutOf(std::uint32_t version)
{
    const std::uint32_t major = version >> 24;
    return major >= 0x72 && major <= 0x7F ? Layout::Tds72 : Layout::Tds71;
}

} // namespace sandbox::tds
