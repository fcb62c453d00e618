// The command line of sqllogclean-cli: its subcommands, options and exit
// codes (README.md, "The command-line companion").
#pragma once

#include "cli/Console.h"

#include <string>
#include <vector>

namespace cli {

inline constexpr int ExitDone = 0;    // every server and database was read, every job succeeded
inline constexpr int ExitFailed = 1;  // a server, a database or a job did not; or clean was answered no
// The command line (or the password's source) was wrong, or clean has no
// terminal to ask on and no --yes.
inline constexpr int ExitUsage = 2;

// "sqllogclean-cli 1.0.0"
std::string versionText();

// Runs the program as main() would with `args` (args[0] is its name).
int run(const std::vector<std::string>& args, Console& console);

} // namespace cli
