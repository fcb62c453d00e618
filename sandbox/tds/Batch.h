// The SQL batch request (packet type 0x01) and the ALL_HEADERS that TDS 7.2
// and later put before a batch's text or a procedure call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sandbox::tds {

// The length of the ALL_HEADERS at the start of `payload`, 0 when there are
// none. They are recognised by their self-consistent lengths, which ordinary
// UCS-2 text never has, so a 7.1 client's plain text is left alone.
std::size_t allHeadersLength(std::span<const std::uint8_t> payload);

// The batch's text; nullopt when it is not whole UCS-2.
std::optional<std::u16string> batchText(std::span<const std::uint8_t> payload);

} // namespace sandbox::tds
