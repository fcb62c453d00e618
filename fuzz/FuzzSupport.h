// What every fuzz target shares: turning input bytes into text, and a check
// that stops the run with a crash report when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzsupport {

[[noreturn]] inline void fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();  // libFuzzer saves the input as a crash
}

// Input bytes as UTF-16: UTF-8 where it decodes (encoded surrogates included,
// so that lone ones are reachable), any other byte as one code unit. The
// dictionaries' ASCII keywords thus arrive as they are.
inline std::u16string utf16Of(const std::uint8_t* data, std::size_t size)
{
    std::u16string out;
    out.reserve(size);
    auto continuation = [&](std::size_t at) { return at < size && (data[at] & 0xC0) == 0x80; };
    for (std::size_t i = 0; i < size;) {
        const std::uint8_t lead = data[i];
        char32_t code = lead;
        std::size_t length = 1;
        if (lead >= 0xC2 && lead <= 0xDF && continuation(i + 1)) {
            code = ((lead & 0x1Fu) << 6) | (data[i + 1] & 0x3Fu);
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF && continuation(i + 1) && continuation(i + 2)) {
            code = ((lead & 0x0Fu) << 12) | ((data[i + 1] & 0x3Fu) << 6) | (data[i + 2] & 0x3Fu);
            length = 3;
        } else if (lead >= 0xF0 && lead <= 0xF4 && continuation(i + 1) && continuation(i + 2) && continuation(i + 3)) {
            const char32_t four = ((lead & 0x07u) << 18) | ((data[i + 1] & 0x3Fu) << 12)
                                  | ((data[i + 2] & 0x3Fu) << 6) | (data[i + 3] & 0x3Fu);
            if (four >= 0x10000 && four <= 0x10FFFF) {
                code = four;
                length = 4;
            }
        }
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

} // namespace fuzzsupport

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzzsupport::fail(#condition, __FILE__, __LINE__))
