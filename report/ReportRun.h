// Reads many servers' reports at once, at most `jobs` at a time, each on a
// thread of its own with a connection of its own.
#pragma once

#include "report/ServerReader.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace report {

struct RunProgress {
    std::size_t done = 0;
    std::size_t total = 0;
    std::size_t failed = 0;
    const ServerReport* last = nullptr;  // the report that just finished
};

// The reports in the order of `targets`, whatever order they finish in.
// `onDone` is called once per server as it finishes, one call at a time.
std::vector<ServerReport> readServers(const std::vector<ServerTarget>& targets, const ReadOptions& options,
                                      int jobs, const std::function<void(const RunProgress&)>& onDone = {});

// How many threads readServers starts: `jobs`, but at least one and never
// more than there are servers.
std::size_t workerCount(std::size_t servers, int jobs);

} // namespace report
