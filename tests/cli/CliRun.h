// sqllogclean-cli run in-process on a console of the test's own: what it
// wrote, and its exit code.
#pragma once

#include "cli/Command.h"
#include "cli/Console.h"

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

struct FakeConsole {
    std::string input;
    std::map<std::string, std::string> environment{{"SQLLOGCLEAN_PASSWORD", "sandbox"}};
    bool inIsTerminal = false;
    bool outIsTerminal = false;
    bool errIsTerminal = false;
    std::optional<std::string> typed;  // a line typed on the terminal
};

struct CliRun {
    int code = -1;
    std::string out, err;
};

inline CliRun runCli(std::vector<std::string> args, const FakeConsole& fake = {})
{
    std::istringstream in(fake.input);
    std::ostringstream out, err;
    cli::Console c;
    c.in = &in;
    c.out = &out;
    c.err = &err;
    c.inIsTerminal = fake.inIsTerminal;
    c.outIsTerminal = fake.outIsTerminal;
    c.errIsTerminal = fake.errIsTerminal;
    c.environment = [&fake](const char* name) -> std::optional<std::string> {
        const auto it = fake.environment.find(name);
        return it == fake.environment.end() ? std::nullopt : std::optional(it->second);
    };
    c.readHiddenLine = [&fake] { return fake.typed; };
    args.insert(args.begin(), "sqllogclean-cli");
    CliRun run;
    run.code = cli::run(args, c);
    run.out = out.str();
    run.err = err.str();
    return run;
}

} // namespace testsupport
