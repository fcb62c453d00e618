// The reserved keywords of T-SQL as each generation reserves them: such a
// word stands for itself, never for a name, unless it is bracketed or quoted.
#pragma once

#include "sandbox/sql/Generation.h"

#include <string_view>

namespace sandbox::sql {

// `word` (any case) is a reserved keyword of generation `g`.
bool isReservedWord(std::u16string_view word, Generation g);

} // namespace sandbox::sql
