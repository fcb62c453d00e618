// Runs a program to its end as a user would from a shell: arguments, what
// goes to its standard input, and the environment with some variables set;
// collects its output, exit code and what it cost.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

struct ChildResult {
    int exitCode = -1;  // -1: it did not exit (a signal ended it)
    std::string out, err;
    long maxRssKiB = 0;        // the child's peak resident memory
    double wallSeconds = 0;
    std::string terminal;  // written on a terminal of its own (RunningChild)
};

// `environment` entries are set over the test's own (an empty value sets it
// empty). Throws std::runtime_error when the program cannot be started.
ChildResult runChild(const std::string& program, const std::vector<std::string>& args, const std::string& input = {},
                     const std::map<std::string, std::string>& environment = {});

struct ChildOptions {
    std::string input;
    std::map<std::string, std::string> environment;
    // The child's controlling terminal: the caller's, none (a session of its
    // own: /dev/tty cannot be opened), or a pseudo-terminal of its own on
    // which `typed` was typed before it started.
    enum class Terminal { Inherited, None, Own } terminal = Terminal::Inherited;
    std::string typed;
};

// A child the caller can act on while it runs (a signal, a wait for what it
// wrote); its output is collected meanwhile on a thread of its own. SIGINT
// is at its default in the child, whatever the caller's is.
class RunningChild {
public:
    RunningChild(const std::string& program, const std::vector<std::string>& args, ChildOptions options);
    ~RunningChild();  // waits for the child's end
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;

    pid_t pid() const { return pid_; }
    // Waits until its standard error holds `text`; false when it closed
    // standard error without.
    bool waitForError(const std::string& text);
    // Waits for its end. `terminal` in the result: what it wrote on its own terminal.
    ChildResult finish();

private:
    pid_t pid_ = 0;
    std::chrono::steady_clock::time_point start_;
    int terminal_ = -1;  // the pseudo-terminal's master side
    std::mutex mutex_;
    std::condition_variable changed_;
    ChildResult result_;
    bool drained_ = false;
    bool finished_ = false;
    std::thread exchange_;
};

} // namespace testsupport
