// sqllogclean-cli run in-process on a console of the test's own: what it
// wrote, and its exit code.
#pragma once

#include "cli/Command.h"
#include "cli/Console.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct FakeConsole {
    std::string input;
    std::map<std::string, std::string> environment{{"SQLLOGCLEAN_PASSWORD", "sandbox"}};
    bool inIsTerminal = false;
    bool outIsTerminal = false;
    bool errIsTerminal = false;
    std::optional<std::string> typed;  // a line typed on the terminal
    // The answer typed to a question on the controlling terminal; none: no terminal.
    std::optional<std::string> answer;
    // Run on a thread of its own while the program catches Ctrl+C, given
    // what a Ctrl+C calls; joined before the program goes on.
    std::function<void(std::function<void()> interrupt)> interrupter{};
};

struct CliRun {
    int code = -1;
    std::string out, err;
    std::string asked;  // what was asked on the terminal
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
    CliRun run;
    c.askTerminal = [&fake, &run](const std::string& question) {
        run.asked += question;
        return fake.answer;
    };
    c.catchInterrupts = [&fake](std::function<void()> onInterrupt) -> std::shared_ptr<void> {
        if (!fake.interrupter)
            return nullptr;
        return std::make_shared<std::jthread>(fake.interrupter, std::move(onInterrupt));
    };
    args.insert(args.begin(), "sqllogclean-cli");
    run.code = cli::run(args, c);
    run.out = out.str();
    run.err = err.str();
    return run;
}

} // namespace testsupport
