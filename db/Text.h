// Text helpers of the data layer: UTF-16 is the text type throughout, as the
// wide ODBC API takes it. The one copy in db/ of each codec (UTF-8, Latin-1)
// and of case folding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace db {

// Lenient conversions; ill-formed input becomes U+FFFD rather than an error,
// because texts from the server or the user are shown, never rejected.
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);
// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF):
// nothing when the bytes are not well-formed.
std::optional<std::u16string> fromStrictUtf8(std::string_view text);

// Byte for byte, as Latin-1 (of which ASCII, for SQLSTATEs and numbers, is
// the first half).
std::u16string asciiToUtf16(std::string_view text);

// Removes leading and trailing characters with codes 0..32; all others stay.
std::u16string Trim(const std::u16string& text);

// Case-insensitive equality for column and keyword look-ups (simple case
// folding of the Latin, Greek, Cyrillic and full-width ranges).
bool SameText(std::u16string_view a, std::u16string_view b);
// The text as SameText sees it: equal for exactly the texts SameText calls
// equal (a key for hashing names).
std::u16string foldedCase(std::u16string_view text);

// Case folding of the ASCII letters only, for protocol keywords.
constexpr char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char16_t lowerAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}
bool sameAscii(std::string_view a, std::string_view b);
bool sameAscii(std::u16string_view a, std::u16string_view b);

} // namespace db
