#include "cli/CleanCommand.h"

#include "cli/CleanJson.h"
#include "cli/CleanPlan.h"
#include "cli/CleanRun.h"
#include "cli/CleanText.h"
#include "cli/Command.h"
#include "cli/Password.h"
#include "cli/ServerList.h"
#include "cli/Texts.h"
#include "db/Text.h"
#include "db/texts/Report.h"

#include <CLI/CLI.hpp>

#include <mutex>
#include <ostream>

namespace cli {

namespace {

std::vector<std::u16string> utf16(const std::vector<std::string>& texts)
{
    std::vector<std::u16string> out;
    for (const std::string& t : texts)
        out.push_back(db::fromUtf8(t));
    return out;
}

CleanChoice choiceOf(const CleanOptions& o, const std::u16string& password)
{
    CleanChoice c;
    c.databases = utf16(o.databases);
    c.files = utf16(o.files);
    if (!o.truncateOnCheckpoint.empty())
        c.truncateOnCheckpoint = o.truncateOnCheckpoint == "on";
    c.login = {password, o.loginTimeout};
    return c;
}

bool everyJobSucceeded(const std::vector<ServerClean>& servers)
{
    for (const ServerClean& s : servers) {
        if (s.failed())
            return false;
        for (const DatabaseClean& d : s.databases) {
            if (!d.error.empty())
                return false;
            for (const FileJob& f : d.files)
                if (f.result != FileJob::Result::Succeeded)
                    return false;
        }
    }
    return true;
}

std::size_t notRun(const std::vector<ServerClean>& servers)
{
    std::size_t count = 0;
    for (const ServerClean& s : servers)
        for (const DatabaseClean& d : s.databases)
            for (const FileJob& f : d.files)
                count += d.error.empty() && f.result == FileJob::Result::NotRun ? 1 : 0;
    return count;
}

// Asks on the controlling terminal, whatever the standard streams are: the
// answer, or why there is none (ExitUsage: no terminal to ask on).
int confirm(const std::vector<ServerClean>& servers, Console& console)
{
    const std::optional<std::string> answer = console.askTerminal(planText(servers));
    if (!answer) {
        *console.err << "sqllogclean-cli clean: no terminal to ask on: add --yes to clean without asking\n";
        return ExitUsage;
    }
    if (!saysYes(*answer)) {
        *console.err << "sqllogclean-cli clean: nothing was changed\n";
        return ExitFailed;
    }
    return ExitDone;
}

// Runs the jobs with Ctrl+C caught: the first cancels, the next say what
// the program still waits for. Text goes out as each job ends.
bool runJobs(std::vector<ServerClean>& servers, bool json, Console& console)
{
    std::mutex errMutex;
    CleanRun run(
        [&](const ServerClean& s, const DatabaseClean* d, const FileJob* f) {
            if (json)
                return;
            *console.out << outcomeText(s, d, f);
            console.out->flush();
        },
        [&](const std::u16string& notice) {
            if (notice.empty())
                return;
            const std::lock_guard lock(errMutex);
            *console.err << db::toUtf8(notice) << "\n";
            console.err->flush();
        });
    {
        const std::shared_ptr<void> watch = console.catchInterrupts([&run] { run.interrupt(); });
        run.run(servers);
    }
    return run.cancelled();
}

} // namespace

CLI::App* addClean(CLI::App& app, CleanOptions& o)
{
    CLI::App* clean = app.add_subcommand(
        "clean", "The window's job, scripted: truncate each named database's inactive log without a backup and "
                 "shrink the file, the recovery model put back; asks first unless --yes.");
    clean->add_option("SERVER", o.servers, "host, host,port or host\\instance")->required();
    clean->add_option("-d,--database", o.databases, "a database to clean (again for more)")->required();
    clean->add_option("-f,--file", o.files, "a secondary file of the database (default: each of its log files)");
    clean->add_option("--truncate-on-checkpoint", o.truncateOnCheckpoint,
                      "the window's box: on leaves the log truncated at every checkpoint, off not "
                      "(default: as the database is)")
        ->check(CLI::IsMember({"on", "off"}));
    clean->add_option("--login-timeout", o.loginTimeout, "seconds to wait for each login")
        ->check(CLI::Range(1, 600))
        ->capture_default_str();
    clean->add_flag("-y,--yes", o.yes, "do not ask first");
    clean->add_flag("--json", o.json, "JSON for programs (the shape is in README.md) instead of text");
    clean->add_flag("--password-stdin", o.passwordStdin, "read the password from the first line of standard input");
    return clean;
}

int runClean(const CleanOptions& o, Console& console)
{
    std::ostream& err = *console.err;
    const std::optional<std::u16string> password = readPassword(console, o.passwordStdin);
    if (!password) {
        err << "sqllogclean-cli: no password: set " << PasswordVariable
            << ", use --password-stdin, or run on a terminal\n";
        return ExitUsage;
    }
    const ServerList list = serverList({o.servers, {}, false});
    if (!list.error.empty()) {
        err << "sqllogclean-cli: " << list.error << "\n";
        return list.usageError ? ExitUsage : ExitFailed;
    }
    const CleanChoice choice = choiceOf(o, *password);
    std::vector<ServerClean> servers;
    for (const report::ServerTarget& target : list.targets)
        servers.push_back(planServer(target, choice));
    if (jobCount(servers) > 0 && !o.yes) {
        if (const int refused = confirm(servers, console); refused != ExitDone)
            return refused;
    }
    const bool cancelled = runJobs(servers, o.json, console);
    if (o.json)
        *console.out << cleanJson(servers, versionText(), cancelled).dump(2) << "\n";
    else if (cancelled)
        *console.out << db::toUtf8(db::texts::fill(text::NotRun, {db::asciiToUtf16(std::to_string(notRun(servers)))}))
                     << "\n";
    console.out->flush();
    if (everyJobSucceeded(servers))
        return ExitDone;
    err << "sqllogclean-cli: not every job succeeded\n";
    return ExitFailed;
}

} // namespace cli
