#include "sandbox/tds/Bytes.h"

namespace sandbox::tds {

namespace {

// What CP1252 puts at 0x80..0x9F (0: unassigned); the rest of 0x00..0xFF is Latin-1.
constexpr char16_t High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

} // namespace

std::u16string fromUcs2(std::span<const std::uint8_t> bytes)
{
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(le16(bytes.data() + i)));
    return text;
}

std::vector<std::uint8_t> toCp1252(std::u16string_view text)
{
    std::vector<std::uint8_t> out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<std::uint8_t>(c));
            continue;
        }
        std::uint8_t mapped = '?';
        for (std::uint8_t i = 0; i < 32; ++i)
            if (High[i] != 0 && High[i] == c)
                mapped = static_cast<std::uint8_t>(0x80 + i);
        out.push_back(mapped);
    }
    return out;
}

std::u16string fromCp1252(std::span<const std::uint8_t> bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        if (b >= 0x80 && b < 0xA0)
            out.push_back(High[b - 0x80] != 0 ? High[b - 0x80] : u'\uFFFD');
        else
            out.push_back(static_cast<char16_t>(b));
    }
    return out;
}

} // namespace sandbox::tds
