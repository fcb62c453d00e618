// Start-up of the tool against a bare window built from the same form, run
// interleaved: the time from just before the process is spawned to its first
// frame on screen, and its peak memory (max RSS from wait4). Each program runs
// with SQLLOGCLEAN_STARTUP_PROBE set, prints the monotonic time of its first
// frame and quits (app/StartupProbe.h). The programs take their display from
// the environment (QT_QPA_PLATFORM, DISPLAY); scripts/bench-startup supplies
// a virtual X display.
//
//   bench_startup [runs] [tool]    (default 15 runs each; tool: the built program)
//
// The tool broadcasts discovery requests at start, so this refuses to run
// unless loopback is the only network interface.
#include "db/discovery/ServerBrowser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int TimeoutMs = 20000;

struct Sample {
    double ms;
    double rssMiB;
};

// /proc/net/dev lists the interfaces of this process's network namespace
// (/sys/class/net shows those of whoever mounted /sys).
bool onlyLoopback()
{
    std::FILE* file = std::fopen("/proc/net/dev", "r");
    if (!file)
        return false;
    bool only = true;
    char line[512];
    for (int n = 0; std::fgets(line, sizeof line, file); ++n) {
        if (n < 2)
            continue;  // two header lines
        char name[64] = {};
        if (std::sscanf(line, " %63[^:]:", name) == 1 && std::string(name) != "lo")
            only = false;
    }
    std::fclose(file);
    return only;
}

// Reads the child's stdout to its end, or until the time-out.
std::optional<std::string> readAll(int fd, Clock::time_point deadline)
{
    std::string out;
    char buffer[256];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return out;
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<Sample> runOnce(const std::string& program)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);

    std::vector<char*> env;
    char probe[] = "SQLLOGCLEAN_STARTUP_PROBE=1";
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    env.push_back(probe);
    env.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};

    pid_t pid = 0;
    const auto start = Clock::now();
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        std::fprintf(stderr, "bench_startup: cannot start %s: %s\n", path.c_str(), std::strerror(spawned));
        return std::nullopt;
    }
    const auto out = readAll(fds[0], start + std::chrono::milliseconds(TimeoutMs));
    close(fds[0]);
    if (!out)
        kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);

    long long shownNs = 0;
    const auto at = out ? out->find("first-shown ") : std::string::npos;
    if (at == std::string::npos || std::sscanf(out->c_str() + at, "first-shown %lld", &shownNs) != 1) {
        std::fprintf(stderr, "bench_startup: %s did not report its window (exit status %d)\n", path.c_str(), status);
        return std::nullopt;
    }
    const auto startNs = std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    return Sample{static_cast<double>(shownNs - startNs) / 1e6, static_cast<double>(usage.ru_maxrss) / 1024.0};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Summary {
    double ms, minMs, maxMs, rssMiB;
};

Summary summarise(const std::vector<Sample>& samples)
{
    std::vector<double> ms, rss;
    for (const Sample& s : samples) {
        ms.push_back(s.ms);
        rss.push_back(s.rssMiB);
    }
    return {median(ms), *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()),
            median(rss)};
}

void printRow(const char* what, const Summary& s)
{
    std::printf("%-22s median %7.1f ms  (min %7.1f, max %7.1f)  max RSS %6.1f MiB\n", what, s.ms, s.minMs, s.maxMs,
                s.rssMiB);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::string tool = argc > 2 ? argv[2] : SQLLOGCLEAN_TOOL;
    const std::string bare = SQLLOGCLEAN_BARE;
    if (!onlyLoopback()) {
        std::fprintf(stderr, "bench_startup: run me in a private network namespace (unshare --net): "
                             "the tool broadcasts discovery requests\n");
        return 2;
    }

    // One unrecorded start each warms the page and font caches.
    if (!runOnce(tool) || !runOnce(bare))
        return 1;
    std::vector<Sample> toolSamples, bareSamples;
    for (int i = 0; i < runs; ++i) {
        // Each goes first every other round, so neither always starts while
        // the X server is still tidying up after the other.
        std::optional<Sample> t, b;
        if (i % 2 == 0) {
            t = runOnce(tool);
            b = runOnce(bare);
        } else {
            b = runOnce(bare);
            t = runOnce(tool);
        }
        if (!t || !b)
            return 1;
        toolSamples.push_back(*t);
        bareSamples.push_back(*b);
    }

    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const Summary t = summarise(toolSamples), b = summarise(bareSamples);
    const double window = static_cast<double>(db::ServerBrowser::DefaultWindow.count());
    const double timeRatio = (t.ms - window) / b.ms;
    const double rssRatio = t.rssMiB / b.rssMiB;
    std::printf("start-up to first frame, %d runs each, interleaved; platform %s; no server\n", runs,
                platform && *platform ? platform : "(Qt's default)");
    printRow("bare window", b);
    printRow("sqllogclean", t);
    std::printf("%-22s        %7.1f ms  (db::ServerBrowser::DefaultWindow, inside FormCreate)\n",
                "discovery window", window);
    std::printf("%-22s        %7.1f ms\n", "sqllogclean - window", t.ms - window);
    std::printf("time:   (sqllogclean - window) / bare = %.2f   goal <= 1.30  %s\n", timeRatio,
                timeRatio <= 1.3 ? "met" : "NOT MET");
    std::printf("memory: sqllogclean / bare max RSS    = %.2f   goal <= 1.50  %s\n", rssRatio,
                rssRatio <= 1.5 ? "met" : "NOT MET");
    return 0;
}
