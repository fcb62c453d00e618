// SQL Server 2000's messages the sandbox raises: number, severity, text.
#pragma once

#include "sandbox/sql/Result.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace sandbox {

// The message `number` with its SQL Server 2000 severity and text; each %s or
// %d in the text takes the next of `args` in turn. Unknown numbers throw
// std::out_of_range (a programming error, not a client's).
Message makeMessage(int number, std::initializer_list<std::u16string_view> args = {},
                    std::uint16_t line = 1);

std::u16string toU16(long long number);

} // namespace sandbox
