// Text helpers of the data layer: UTF-16 is the text type throughout, as the
// wide ODBC API takes it.
#pragma once

#include <string>
#include <string_view>

namespace db {

// Strict conversions; ill-formed input becomes U+FFFD rather than an error,
// because texts from the server or the user are shown, never rejected.
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);

// Removes leading and trailing characters with codes 0..32; all others stay.
std::u16string Trim(const std::u16string& text);

// Case-insensitive equality for column and keyword look-ups (simple case
// folding of the Latin, Greek, Cyrillic and full-width ranges).
bool SameText(std::u16string_view a, std::u16string_view b);

// ASCII-only conversions for texts known to be ASCII (SQLSTATEs, numbers).
std::u16string asciiToUtf16(std::string_view text);

} // namespace db
