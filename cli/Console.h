// What the program reads and writes outside itself, behind one seam: the
// standard streams and whether each is a terminal, the environment, and a
// line typed on the terminal without echo. main() hands over the process's
// own (processConsole), the tests their own.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace cli {

struct Console {
    std::istream* in = nullptr;
    std::ostream* out = nullptr;  // results
    std::ostream* err = nullptr;  // diagnostics, the prompt and the progress line
    bool inIsTerminal = false;
    bool outIsTerminal = false;  // and shows colour codes
    bool errIsTerminal = false;
    // An environment variable's value; none when it is not set.
    std::function<std::optional<std::string>(const char* name)> environment;
    // One line typed on the terminal, not shown as it is typed, in UTF-8;
    // none at the end of input.
    std::function<std::optional<std::string>()> readHiddenLine;
};

// The process's own standard streams, environment and terminal.
Console processConsole();

} // namespace cli
