#include "cli/Command.h"

#include "cli/CleanCommand.h"
#include "cli/Password.h"
#include "cli/Progress.h"
#include "cli/ReportJson.h"
#include "cli/ReportText.h"
#include "cli/ServerList.h"
#include "report/ReportRun.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace cli {

namespace {

constexpr int DefaultJobs = 4;
constexpr int MaxJobs = 64;

struct ReportOptions {
    ServerSources sources;
    int jobs = DefaultJobs;
    int loginTimeout = 15;
    bool json = false;
    bool passwordStdin = false;
};

const char* const Footer =
    "The login is sa. Its password comes from standard input with --password-stdin, else from the\n"
    "environment variable SQLLOGCLEAN_PASSWORD, else it is asked for on the terminal (not shown).\n"
    "Exit codes: 0 all done, 1 something failed (a server, a database, a job) or clean was answered no,\n"
    "2 usage (clean without --yes where there is no terminal to ask on among them).\n"
    "Ctrl+C during clean cancels like the window's button: the running statement, then the recovery\n"
    "model is put back; a second Ctrl+C does not stop that.\n"
    "NO_COLOR set to anything turns colour off.";

void addReport(CLI::App& app, ReportOptions& o)
{
    CLI::App* report = app.add_subcommand(
        "report", "Read-only: for each database its log, how full it is, and what the log job would leave of "
                  "it and why; biggest gain first.");
    report->add_option("SERVER", o.sources.named, "host, host,port or host\\instance");
    report->add_option("--servers-file", o.sources.file, "a file naming one server a line ('#' comments)");
    report->add_flag("--discover", o.sources.discover,
                     "also the servers the SQL Server Browser services announce (UDP broadcast)");
    report->add_option("-j,--jobs", o.jobs, "servers read at once")->check(CLI::Range(1, MaxJobs))->capture_default_str();
    report->add_option("--login-timeout", o.loginTimeout, "seconds to wait for each login")
        ->check(CLI::Range(1, 600))
        ->capture_default_str();
    report->add_flag("--json", o.json, "JSON for programs (the shape is in README.md) instead of the table");
    report->add_flag("--password-stdin", o.passwordStdin, "read the password from the first line of standard input");
    report->footer(Footer);
}

bool colourWanted(Console& console)
{
    const std::optional<std::string> noColour = console.environment("NO_COLOR");
    return console.outIsTerminal && (!noColour || noColour->empty());
}

bool anyFailed(const std::vector<report::ServerReport>& servers)
{
    for (const report::ServerReport& s : servers) {
        if (s.failed())
            return true;
        for (const report::DatabaseReport& d : s.databases)
            if (!d.error.empty())
                return true;
    }
    return false;
}

int runReport(const ReportOptions& o, Console& console)
{
    std::ostream& err = *console.err;
    if (o.sources.named.empty() && o.sources.file.empty() && !o.sources.discover) {
        err << "sqllogclean-cli report: name a server, --servers-file or --discover (--help for more)\n";
        return ExitUsage;
    }
    const std::optional<std::u16string> password = readPassword(console, o.passwordStdin);
    if (!password) {
        err << "sqllogclean-cli: no password: set " << PasswordVariable
            << ", use --password-stdin, or run on a terminal\n";
        return ExitUsage;
    }
    const ServerList list = serverList(o.sources);
    if (!list.error.empty()) {
        err << "sqllogclean-cli: " << list.error << "\n";
        return list.usageError ? ExitUsage : ExitFailed;
    }
    if (list.targets.empty()) {
        err << "sqllogclean-cli: no server was found\n";
        return ExitFailed;
    }
    std::vector<report::ServerReport> servers;
    {
        ProgressLine progress(err, console.errIsTerminal);
        servers = report::readServers(list.targets, {*password, o.loginTimeout}, o.jobs,
                                      [&progress](const report::RunProgress& p) { progress.update(p); });
    }
    if (o.json)
        *console.out << reportJson(servers, versionText()).dump(2) << "\n";
    else
        *console.out << reportTable(servers, Style(colourWanted(console)));
    console.out->flush();
    if (!anyFailed(servers))
        return ExitDone;
    std::size_t failed = 0;
    for (const report::ServerReport& s : servers)
        failed += s.failed() ? 1 : 0;
    err << "sqllogclean-cli: " << failed << " of " << servers.size()
        << " servers could not be reported on, or some of their databases\n";
    return ExitFailed;
}

} // namespace

std::string versionText() { return std::string("sqllogclean-cli ") + SQLLOGCLEAN_VERSION; }

int run(const std::vector<std::string>& args, Console& console)
{
    CLI::App app("Reads the transaction logs of many SQL Servers (2000 to 2022) as the log cleaner would see them, "
                 "and runs its job on them.",
                 "sqllogclean-cli");
    app.set_version_flag("--version", versionText());
    app.require_subcommand(1);
    app.footer(Footer);
    ReportOptions report;
    addReport(app, report);
    CleanOptions clean;
    CLI::App* cleanCommand = addClean(app, clean);
    cleanCommand->footer(Footer);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, *console.out, *console.err);
        return code == 0 ? ExitDone : ExitUsage;
    }
    return cleanCommand->parsed() ? runClean(clean, console) : runReport(report, console);
}

} // namespace cli
