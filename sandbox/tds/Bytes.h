// The codec's one copy of its byte-level readers and text conversions:
// little- and big-endian integers, UCS-2, and the server's CP1252 code page.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox::tds {

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
           | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// UCS-2 little-endian to UTF-16; an odd last byte is ignored.
std::u16string fromUcs2(std::span<const std::uint8_t> bytes);

// Text in the server's single-byte code page (CP1252), for varchar data;
// '?' for what it cannot hold.
std::vector<std::uint8_t> toCp1252(std::u16string_view text);
std::u16string fromCp1252(std::span<const std::uint8_t> bytes);

} // namespace sandbox::tds
