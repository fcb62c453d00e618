// The sa password, never from the command line: from standard input when
// asked (--password-stdin), else from the environment, else typed on the
// terminal without echo.
#pragma once

#include "cli/Console.h"

#include <optional>
#include <string>

namespace cli {

inline constexpr const char* PasswordVariable = "SQLLOGCLEAN_PASSWORD";

// None when there is no way to have one (no variable, and input is not a
// terminal or ended): a usage error.
std::optional<std::u16string> readPassword(Console& console, bool fromStdin);

} // namespace cli
