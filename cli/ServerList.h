// The servers a command runs on: named on the command line, listed in a
// file, and found by the SQL Server Browser services (discovery broadcasts:
// on a build machine only inside a private network namespace).
#pragma once

#include "report/ServerReader.h"

#include <string>
#include <vector>

namespace cli {

struct ServerSources {
    std::vector<std::string> named;  // as typed: host, host,port, host\instance
    std::string file;                // one a line; blank lines and '#' comments skipped
    bool discover = false;
};

struct ServerList {
    std::vector<report::ServerTarget> targets;  // each address once, in the order found
    std::string error;  // a file that cannot be read, discovery that cannot run
    bool usageError = false;  // the command line named something unusable
};

ServerList serverList(const ServerSources& sources);

// The lines of a servers file: trimmed, without a UTF-8 byte order mark,
// blank lines and comments.
std::vector<std::string> serverLines(const std::string& text);

} // namespace cli
