// sqlsandbox: a stand-alone SQL Server look-alike (2000 to 2022) for demos and manual tests.
#include "sandbox/net/ResolutionResponder.h"
#include "sandbox/net/Server.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int UsageError = 2;

const char* const Usage = R"(Usage: sqlsandbox [options]

A TDS server that answers like Microsoft SQL Server 2000 (8.00.2039) or, with
--version, like a later generation, for tests and demonstrations. Log in as
"sa" with the configured password.

Options:
  --version GENERATION  2000|2005|2008|2008R2|2012|2014|2016|2017|2019|2022
                        (default 2000, or the catalog's "version")
  --language NAME       the server's default language, also sa's: us_english
                        (alias English) or 简体中文 (alias 'Simplified
                        Chinese'), as a server installed in that language
                        (default us_english, or the catalog's "language")
  --port N              TCP port to listen on (default 1433; 0 = any free port)
  --browser-port N      UDP port of the SQL Server Browser stand-in
                        (default 1434; 0 = off)
  --bind ADDRESS        numeric address to listen on (default 127.0.0.1)
  --password TEXT       the sa password (default "sandbox")
  --catalog FILE        databases and files from a JSON catalog
                        (default: built-in demo catalog)
  --transcript FILE     append every SQL batch received to FILE
  --host-name NAME      server name in messages and Browser answers
                        (default: this machine's host name, upper-case)
  --instance NAME       instance name the Browser stand-in announces
                        (default MSSQLSERVER)
  --fault-error 'REGEX=NUMBER:SEVERITY:TEXT'
                        statements matching REGEX fail with that message
  --fault-abort 'REGEX=NUMBER:SEVERITY:TEXT'
                        ...and end their batch, rolling back an open
                        transaction (as a deadlock victim, 1205:13)
  --fault-delay 'REGEX=MILLISECONDS'
                        statements matching REGEX wait first (a client
                        time-out cancels them)
  --fault-drop 'REGEX'  statements matching REGEX drop the connection
  --refuse-logins       refuse every login (error 18456)
  --certificate FILE --key FILE
                        the server's TLS certificate and private key (PEM);
                        without them 2005 and later make a self-signed one
                        and 2000 cannot encrypt
  --force-encryption    answer PRELOGIN with ENCRYPT_REQ: the whole session
                        in TLS
  --tls 1.0|1.2         the TLS version the server speaks: 1.0 as a build
                        without the TLS 1.2 update (2000 to 2014), 1.2 as one
                        with it (2008 on); default: what the reported build
                        speaks (1.0 for 2000 to 2008 R2, 1.2 from 2012)
  --help                show this text

Fault options may be repeated. REGEX is a regular expression searched,
case-insensitively, in the text of each statement.
Runs until interrupted (SIGINT or SIGTERM).
)";

struct UsageFailure {
    std::string message;
};

struct Options {
    sandbox::ServerOptions server;
    std::uint16_t browserPort = 1434;
    std::u16string instance = u"MSSQLSERVER";
    std::string catalogFile;
    std::optional<sandbox::Generation> generation;
    std::optional<sandbox::Language> language;
    std::optional<sandbox::TlsProtocol> tls;
    std::string certificateFile, keyFile;
    bool hostNameGiven = false;
    bool refuseLogins = false;
    std::vector<sandbox::Fault> faults;
    bool help = false;
};

std::u16string utf16(const std::string& text)
{
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size()));
}

std::string utf8(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
}

long number(const std::string& text, const std::string& what, long low, long high)
{
    std::size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < low || value > high)
        throw UsageFailure{what + " must be a number from " + std::to_string(low) + " to " + std::to_string(high)
                           + ", not '" + text + "'"};
    return value;
}

// REGEX=NUMBER:SEVERITY:TEXT. The pattern may itself hold '=', so the split is
// at the first '=' that is followed by NUMBER:SEVERITY:.
sandbox::Fault errorFault(const std::string& argument, sandbox::Fault::Action action, const std::string& option)
{
    static const std::regex tail(R"(^(-?\d+):(\d+):(.*)$)");
    for (std::size_t eq = argument.find('='); eq != std::string::npos; eq = argument.find('=', eq + 1)) {
        std::smatch m;
        const std::string rest = argument.substr(eq + 1);
        if (!std::regex_match(rest, m, tail))
            continue;
        sandbox::Fault f;
        f.action = action;
        f.pattern = argument.substr(0, eq);
        f.error.number = static_cast<std::int32_t>(number(m[1].str(), "the error number", -2147483647L, 2147483647L));
        f.error.severity = static_cast<std::uint8_t>(number(m[2].str(), "the severity", 0, 25));
        f.error.state = 1;
        f.error.text = utf16(m[3].str());
        return f;
    }
    throw UsageFailure{option + " wants 'REGEX=NUMBER:SEVERITY:TEXT', not '" + argument + "'"};
}

sandbox::Fault delayFault(const std::string& argument)
{
    const std::size_t eq = argument.rfind('=');
    if (eq == std::string::npos)
        throw UsageFailure{"--fault-delay wants 'REGEX=MILLISECONDS', not '" + argument + "'"};
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::Delay;
    f.pattern = argument.substr(0, eq);
    f.delay = std::chrono::milliseconds(number(argument.substr(eq + 1), "the delay", 0, 86'400'000L));
    return f;
}

sandbox::Fault dropFault(const std::string& argument)
{
    sandbox::Fault f;
    f.action = sandbox::Fault::Action::Drop;
    f.pattern = argument;
    return f;
}

std::u16string defaultHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == 0)
        return u"SANDBOX";
    std::string host(name);
    host = host.substr(0, host.find('.'));  // NetBIOS-style: the short name
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return utf16(host);
}

Options parse(int argc, char** argv)
{
    Options o;
    o.server.port = 1433;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= args.size())
                throw UsageFailure{name + " needs a value"};
            return args[++i];
        };
        auto flag = [&] {
            if (inlineValue)
                throw UsageFailure{name + " takes no value"};
        };

        if (name == "--help" || name == "-h") {
            flag();
            o.help = true;
        } else if (name == "--port") {
            o.server.port = static_cast<std::uint16_t>(number(value(), "--port", 0, 65535));
        } else if (name == "--browser-port") {
            o.browserPort = static_cast<std::uint16_t>(number(value(), "--browser-port", 0, 65535));
        } else if (name == "--bind") {
            o.server.bindAddress = value();
        } else if (name == "--password") {
            o.server.password = utf16(value());
        } else if (name == "--version") {
            const std::string v = value();
            o.generation = sandbox::generationNamed(v);
            if (!o.generation)
                throw UsageFailure{"--version must be one of " + sandbox::generationNames() + ", not '" + v + "'"};
        } else if (name == "--language") {
            const std::string v = value();
            o.language = sandbox::languageNamed(utf16(v));
            if (!o.language)
                throw UsageFailure{"--language must be one of " + sandbox::languageNames() + ", not '" + v + "'"};
        } else if (name == "--catalog") {
            o.catalogFile = value();
        } else if (name == "--transcript") {
            o.server.transcriptFile = value();
        } else if (name == "--host-name") {
            o.server.serverName = utf16(value());
            o.hostNameGiven = true;
        } else if (name == "--instance") {
            o.instance = utf16(value());
        } else if (name == "--fault-error") {
            o.faults.push_back(errorFault(value(), sandbox::Fault::Action::Error, name));
        } else if (name == "--fault-abort") {
            o.faults.push_back(errorFault(value(), sandbox::Fault::Action::Abort, name));
        } else if (name == "--fault-delay") {
            o.faults.push_back(delayFault(value()));
        } else if (name == "--fault-drop") {
            o.faults.push_back(dropFault(value()));
        } else if (name == "--certificate") {
            o.certificateFile = value();
        } else if (name == "--key") {
            o.keyFile = value();
        } else if (name == "--force-encryption") {
            flag();
            o.server.forceEncryption = true;
        } else if (name == "--tls") {
            const std::string v = value();
            o.tls = sandbox::tlsProtocolNamed(v);
            if (!o.tls)
                throw UsageFailure{"--tls must be 1.0 or 1.2, not '" + v + "'"};
        } else if (name == "--refuse-logins") {
            flag();
            o.refuseLogins = true;
        } else {
            throw UsageFailure{"unknown option '" + args[i] + "'"};
        }
    }
    if (o.certificateFile.empty() != o.keyFile.empty())
        throw UsageFailure{"--certificate and --key go together"};
    if (!o.certificateFile.empty()) {
        try {
            o.server.certificate = sandbox::TlsCredentials::fromPemFiles(o.certificateFile, o.keyFile);
        } catch (const std::runtime_error& e) {
            throw UsageFailure{e.what()};
        }
    }
    if (!o.hostNameGiven)
        o.server.serverName = defaultHostName();
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        options = parse(argc, argv);
    } catch (const UsageFailure& e) {
        std::cerr << "sqlsandbox: " << e.message << "\n\n" << Usage;
        return UsageError;
    }
    if (options.help) {
        std::cout << Usage;
        return 0;
    }

    // Signals are taken synchronously by sigwait below; every thread started
    // from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        if (!options.catalogFile.empty())
            options.server.catalog = sandbox::Catalog::fromJsonFile(options.catalogFile);
        if (options.generation)
            options.server.catalog.generation = *options.generation;  // the option wins over the catalog
        if (options.language)
            options.server.catalog.language = *options.language;
        if (options.tls) {
            const sandbox::Generation g = options.server.catalog.generation;
            if (!sandbox::tlsProtocolExists(g, *options.tls)) {
                const std::string name = sandbox::generationInfo(g).name;
                std::cerr << "sqlsandbox: "
                          << (*options.tls == sandbox::TlsProtocol::Tls12
                                  ? "no build of SQL Server " + name + " speaks TLS 1.2"
                                  : "every build of SQL Server " + name + " speaks TLS 1.2")
                          << "\n\n" << Usage;
                return UsageError;
            }
            options.server.tls = options.tls;
        }

        const std::string bind = options.server.bindAddress;
        const std::u16string host = options.server.serverName;
        sandbox::Server server(std::move(options.server));
        for (auto& fault : options.faults) {
            try {
                server.engine().addFault(std::move(fault));
            } catch (const std::invalid_argument& e) {
                std::cerr << "sqlsandbox: " << e.what() << "\n\n" << Usage;
                return UsageError;
            }
        }
        server.setRefuseLogins(options.refuseLogins);
        server.start();

        std::optional<sandbox::ResolutionResponder> browser;
        if (options.browserPort != 0) {
            sandbox::ResponderOptions r;
            r.bindAddress = bind;
            r.port = options.browserPort;
            sandbox::ResolutionInstance instance;
            instance.serverName = host;
            instance.instanceName = options.instance;
            instance.tcpPort = server.port();
            // The Browser service reports the release's version; 2000's is its RTM one.
            const sandbox::Generation generation = server.engine().generation();
            if (generation != sandbox::Generation::Sql2000)
                instance.version = utf8(sandbox::generationInfo(generation).productVersion);
            r.instances.push_back(instance);
            browser.emplace(std::move(r));
            browser->start();
        }

        std::cout << "sqlsandbox listening on " << bind << ":" << server.port();
        if (browser)
            std::cout << " (browser on udp " << browser->port() << ", instance " << utf8(options.instance) << ")";
        std::cout << std::endl;

        int received = 0;
        while (sigwait(&stopSignals, &received) != 0) {
        }
        std::cout << "sqlsandbox stopping" << std::endl;
        if (browser)
            browser->stop();
        server.stop();
    } catch (const std::exception& e) {
        std::cerr << "sqlsandbox: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
