#include "cli/Password.h"

#include "db/Text.h"

#include <istream>
#include <ostream>

namespace cli {

namespace {

std::u16string withoutLineEnd(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return db::fromUtf8(line);
}

} // namespace

std::optional<std::u16string> readPassword(Console& console, bool fromStdin)
{
    if (fromStdin) {
        std::string line;
        if (!std::getline(*console.in, line) && line.empty())
            return std::nullopt;
        return withoutLineEnd(std::move(line));
    }
    if (const std::optional<std::string> set = console.environment(PasswordVariable))
        return db::fromUtf8(*set);
    if (!console.inIsTerminal || !console.readHiddenLine)
        return std::nullopt;
    *console.err << "Password for sa: " << std::flush;
    const std::optional<std::string> typed = console.readHiddenLine();
    if (!typed)
        return std::nullopt;
    return withoutLineEnd(*typed);
}

} // namespace cli
