#include "ChildProcess.h"

#include <chrono>
#include <functional>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& set)
{
    std::vector<std::string> all;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (set.count(entry.substr(0, entry.find('='))) == 0)
            all.push_back(entry);
    }
    for (const auto& [name, value] : set)
        all.push_back(name + "=" + value);
    return all;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> p;
    for (std::string& t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

// Feeds the input and drains both outputs until the child closes them;
// `got` is told of each piece as it comes, with `r` in hand.
void exchange(int in, int out, int err, const std::string& input, ChildResult& r,
              const std::function<void(const std::function<void()>&)>& got)
{
    std::size_t written = 0;
    const auto closeInput = [&in] {
        ::close(in);
        in = -1;
    };
    if (input.empty())
        closeInput();
    while (out >= 0 || err >= 0) {
        pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
        if (::poll(fds, 3, -1) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                got([&] { (i == 0 ? r.out : r.err).append(buffer, static_cast<std::size_t>(n)); });
            } else {
                ::close(fds[i].fd);
                (i == 0 ? out : err) = -1;
            }
        }
        if (in >= 0 && fds[2].revents != 0) {
            const ssize_t n = ::write(in, input.data() + written, input.size() - written);
            written += n > 0 ? static_cast<std::size_t>(n) : input.size();
            if (written >= input.size())
                closeInput();
        }
    }
    if (in >= 0)
        ::close(in);
}

} // namespace

ChildResult runChild(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                     const std::map<std::string, std::string>& environment)
{
    ChildOptions options;
    options.input = input;
    options.environment = environment;
    return RunningChild(program, args, std::move(options)).finish();
}

RunningChild::RunningChild(const std::string& program, const std::vector<std::string>& args, ChildOptions options)
{
    // A child that ends before it read its input must not end the caller.
    ::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::string slave;
    if (options.terminal == ChildOptions::Terminal::Own) {
        terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal_ < 0 || ::grantpt(terminal_) != 0 || ::unlockpt(terminal_) != 0)
            throw std::runtime_error("pseudo-terminal");
        slave = ::ptsname(terminal_);
        // Opened by the leader of a new session, it becomes its controlling terminal.
        posix_spawn_file_actions_addopen(&actions, 3, slave.c_str(), O_RDWR, 0);
        if (::write(terminal_, options.typed.data(), options.typed.size()) < 0)
            throw std::runtime_error("typing on the pseudo-terminal");
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (options.terminal != ChildOptions::Terminal::Inherited)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attributes, flags);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = environmentWith(options.environment);
    std::vector<char*> argp = pointers(argv), envp = pointers(env);
    start_ = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        for (const int fd : {in[1], out[0], err[0], terminal_})
            if (fd >= 0)
                ::close(fd);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    exchange_ = std::thread([this, in = in[1], o = out[0], e = err[0], input = std::move(options.input)] {
        ChildResult r;
        exchange(in, o, e, input, r, [this, &r](const std::function<void()>& append) {
            const std::lock_guard lock(mutex_);
            append();
            result_.out = r.out;
            result_.err = r.err;
            changed_.notify_all();
        });
        const std::lock_guard lock(mutex_);
        drained_ = true;
        changed_.notify_all();
    });
}

RunningChild::~RunningChild()
{
    if (!finished_)
        finish();
}

bool RunningChild::waitForError(const std::string& text)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return drained_ || result_.err.find(text) != std::string::npos; });
    return result_.err.find(text) != std::string::npos;
}

ChildResult RunningChild::finish()
{
    exchange_.join();
    int status = 0;
    rusage usage{};
    ::wait4(pid_, &status, 0, &usage);
    finished_ = true;
    result_.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result_.maxRssKiB = usage.ru_maxrss;
    if (terminal_ >= 0) {
        // The child is gone: what it wrote is all there, then EIO.
        ::fcntl(terminal_, F_SETFL, O_NONBLOCK);
        char buffer[4096];
        for (ssize_t n; (n = ::read(terminal_, buffer, sizeof buffer)) > 0;)
            result_.terminal.append(buffer, static_cast<std::size_t>(n));
        ::close(terminal_);
        terminal_ = -1;
    }
    return result_;
}

} // namespace testsupport
