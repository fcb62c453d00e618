// Runs a program to its end as a user would from a shell: arguments, what
// goes to its standard input, and the environment with some variables set;
// collects its output, exit code and what it cost.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct ChildResult {
    int exitCode = -1;  // -1: it did not exit (a signal ended it)
    std::string out, err;
    long maxRssKiB = 0;        // the child's peak resident memory
    double wallSeconds = 0;
};

// `environment` entries are set over the test's own (an empty value sets it
// empty). Throws std::runtime_error when the program cannot be started.
ChildResult runChild(const std::string& program, const std::vector<std::string>& args, const std::string& input = {},
                     const std::map<std::string, std::string>& environment = {});

} // namespace testsupport
