// The server's messages the sandbox raises: number, severity, text, worded
// as each generation words them, in the session's language.
#pragma once

#include "sandbox/sql/Generation.h"
#include "sandbox/sql/Language.h"
#include "sandbox/sql/Result.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox {

// The message `number` with its severity and text as SQL Server 2000 has them
// (localized() words it for another generation); each %s or
// %d in the text takes the next of `args` in turn. Unknown numbers throw
// std::out_of_range (a programming error, not a client's).
Message makeMessage(int number, std::initializer_list<std::u16string_view> args = {},
                    std::uint16_t line = 1);

// The same message as generation `g` words it in `language` (number,
// severity, state and text; a later generation may use another number, as
// 102 for 170). Messages not from the table, such as a fault's, stay as they
// are; so does a message once worded for a generation.
Message localized(Message m, Generation g, Language language = Language::English);

// Every number the table holds, each once, in the table's order.
std::vector<int> messageNumbers();

std::u16string toU16(long long number);

} // namespace sandbox
