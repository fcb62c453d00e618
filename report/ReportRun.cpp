#include "report/ReportRun.h"

#include "db/Text.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace report {

std::size_t workerCount(std::size_t servers, int jobs)
{
    return std::min(servers, static_cast<std::size_t>(std::max(jobs, 1)));
}

// Each worker takes the next server not yet taken until none is left; so no
// more than the workers' count of sessions are ever open at once.
std::vector<ServerReport> readServers(const std::vector<ServerTarget>& targets, const ReadOptions& options,
                                      int jobs, const std::function<void(const RunProgress&)>& onDone)
{
    std::vector<ServerReport> reports(targets.size());
    std::atomic<std::size_t> next{0};
    std::mutex progressMutex;
    RunProgress progress;
    progress.total = targets.size();
    const auto work = [&] {
        for (std::size_t i = next++; i < targets.size(); i = next++) {
            ServerReport report;
            try {
                report = readServer(targets[i], options);
            } catch (const std::exception& e) {
                // Nothing the server says ends up here; a failure of this
                // machine (memory, threads) is that server's alone.
                report.server = targets[i].name;
                report.address = targets[i].address;
                report.error = db::fromUtf8(e.what());
            }
            const std::lock_guard lock(progressMutex);
            reports[i] = std::move(report);
            ++progress.done;
            progress.failed += reports[i].failed() ? 1 : 0;
            progress.last = &reports[i];
            if (onDone)
                onDone(progress);
        }
    };
    std::vector<std::jthread> workers;
    const std::size_t count = workerCount(targets.size(), jobs);
    for (std::size_t w = 1; w < count; ++w)
        workers.emplace_back(work);
    if (count > 0)
        work();  // the calling thread is one of them
    workers.clear();  // joined before the reports leave
    return reports;
}

} // namespace report
