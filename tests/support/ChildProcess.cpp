#include "ChildProcess.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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

// Feeds the input and drains both outputs until the child closes them.
void exchange(int in, int out, int err, const std::string& input, ChildResult& r)
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
                (i == 0 ? r.out : r.err).append(buffer, static_cast<std::size_t>(n));
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
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = environmentWith(environment);
    std::vector<char*> argp = pointers(argv), envp = pointers(env);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        for (const int fd : {in[1], out[0], err[0]})
            ::close(fd);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    ChildResult r;
    exchange(in[1], out[0], err[0], input, r);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    r.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxRssKiB = usage.ru_maxrss;
    return r;
}

} // namespace testsupport
