#include "sandbox/tds/Buffer.h"

#include <algorithm>

namespace sandbox::tds {

namespace {

constexpr std::size_t MaxBVarChar = 255;

} // namespace

void TokenBuffer::u16(std::uint16_t v)
{
    bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void TokenBuffer::u32(std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes_.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

void TokenBuffer::u64(std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        bytes_.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

void TokenBuffer::ucs2(std::u16string_view text)
{
    for (char16_t c : text)
        u16(static_cast<std::uint16_t>(c));
}

void TokenBuffer::bVarChar(std::u16string_view text)
{
    text = text.substr(0, std::min(text.size(), MaxBVarChar));
    u8(static_cast<std::uint8_t>(text.size()));
    ucs2(text);
}

void TokenBuffer::usVarChar(std::u16string_view text)
{
    text = text.substr(0, std::min<std::size_t>(text.size(), 0xFFFF));
    u16(static_cast<std::uint16_t>(text.size()));
    ucs2(text);
}

void TokenBuffer::patchLength16(std::size_t at)
{
    const std::size_t n = bytes_.size() - at - 2;
    bytes_[at] = static_cast<std::uint8_t>(n & 0xFF);
    bytes_[at + 1] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
}

} // namespace sandbox::tds
