#include "Text.h"

#include <algorithm>
#include <cstdint>

namespace db {

namespace {

constexpr char32_t Replacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t cp)
{
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

bool isHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Simple case folding to lower case for the ranges column names and
// keywords can plausibly use.
char16_t foldCase(char16_t c)
{
    if (c < 0x80)
        return lowerAscii(c);
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7))  // Latin-1 capitals
        return static_cast<char16_t>(c + 32);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
        // Latin Extended-A alternates capital/small, with an offset in 0x139..0x148 and 0x179..0x17E.
        const bool shifted = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        const bool capital = shifted ? (c % 2 == 1) : (c % 2 == 0);
        if (c == 0x178)
            return 0xFF;
        return capital ? static_cast<char16_t>(c + 1) : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)  // Greek capitals
        return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F)  // Cyrillic capitals
        return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F)
        return static_cast<char16_t>(c + 80);
    if (c >= 0xFF21 && c <= 0xFF3A)  // full-width Latin capitals
        return static_cast<char16_t>(c + 32);
    return c;
}

} // namespace

std::string toUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            c = Replacement;
        }
        appendUtf8(out, c);
    }
    return out;
}

namespace {

// One UTF-8 sequence at `i`: its code point, or nothing when ill-formed;
// `length` is how many bytes it took (up to the byte that broke it).
struct Sequence {
    std::optional<char32_t> code;
    std::size_t length = 1;
};

Sequence decodeAt(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80)
        return {lead, 1};
    if ((lead & 0xE0) == 0xC0)
        extra = 1, cp = lead & 0x1Fu, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        extra = 2, cp = lead & 0x0Fu, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        extra = 3, cp = lead & 0x07u, minimum = 0x10000;
    else
        return {std::nullopt, 1};
    std::size_t j = i + 1;
    for (int k = 0; k < extra; ++k, ++j) {
        if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80)
            return {std::nullopt, j - i};  // resume at the byte that broke the sequence
        cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return {std::nullopt, j - i};
    return {cp, j - i};
}

} // namespace

std::u16string fromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Sequence s = decodeAt(text, i);
        appendUtf16(out, s.code.value_or(Replacement));
        i += s.length;
    }
    return out;
}

std::optional<std::u16string> fromStrictUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Sequence s = decodeAt(text, i);
        if (!s.code)
            return std::nullopt;
        appendUtf16(out, *s.code);
        i += s.length;
    }
    return out;
}

std::u16string Trim(const std::u16string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] <= 32)
        ++first;
    while (last > first && text[last - 1] <= 32)
        --last;
    return text.substr(first, last - first);
}

bool SameText(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    }
    return true;
}

std::u16string foldedCase(std::u16string_view text)
{
    std::u16string out(text);
    for (char16_t& c : out)
        c = foldCase(c);
    return out;
}

bool sameAscii(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

bool sameAscii(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

std::u16string asciiToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char c : text)
        out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

} // namespace db
