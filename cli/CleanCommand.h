// The clean command: the window's job on the databases and files named, on
// each server named, one after another, once the user said yes.
#pragma once

#include "cli/Console.h"

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace cli {

struct CleanOptions {
    std::vector<std::string> servers;
    std::vector<std::string> databases;
    std::vector<std::string> files;
    std::string truncateOnCheckpoint;  // "on", "off", or empty: as each database is
    int loginTimeout = 15;
    bool yes = false;
    bool json = false;
    bool passwordStdin = false;
};

// Adds `clean` and its options to the program's command line.
CLI::App* addClean(CLI::App& app, CleanOptions& options);

// Plans, asks (unless --yes), runs, reports; returns the exit code.
int runClean(const CleanOptions& options, Console& console);

} // namespace cli
