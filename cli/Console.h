// What the program reads and writes outside itself, behind one seam: the
// standard streams and whether each is a terminal, the environment, a line
// typed on the terminal without echo, a question asked on the controlling
// terminal, and Ctrl+C. main() hands over the process's own
// (processConsole), the tests their own.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
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
    // The question written on the controlling terminal and the line typed
    // there in answer, in UTF-8, whatever standard input and error are (the
    // password may have come through a pipe); empty when its input ended.
    // None when the process has no terminal.
    std::function<std::optional<std::string>(const std::string& question)> askTerminal;
    // While the returned token is held, each Ctrl+C calls `onInterrupt` (on
    // a thread of its own, one call at a time) instead of ending the
    // program; letting the token go waits for a call under way.
    std::function<std::shared_ptr<void>(std::function<void()> onInterrupt)> catchInterrupts;
};

// The process's own standard streams, environment and terminal.
Console processConsole();

} // namespace cli
