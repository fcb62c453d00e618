// Names and text as SQL Server compares them: trailing blanks never count,
// and case counts only under a case-sensitive or binary collation. The
// sandbox's one copy of its case folding.
#pragma once

#include <string>
#include <string_view>

namespace sandbox {

std::u16string_view trimmedRight(std::u16string_view s);

// Equal ignoring case, lengths as they are: for keywords and procedure names.
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Three-way comparison of text, trailing blanks ignored.
int compareText(std::u16string_view a, std::u16string_view b, bool caseSensitive = false);

// Whether a collation tells letters of different case apart: _CS_ and the
// binary ones (_BIN, _BIN2).
bool isCaseSensitive(std::u16string_view collation);

// Object, column and database names.
bool sameName(std::u16string_view a, std::u16string_view b, bool caseSensitive = false);

} // namespace sandbox
