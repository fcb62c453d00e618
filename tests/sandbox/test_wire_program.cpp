// The sqlsandbox program as a user runs it: options, the ready line, serving,
// and a clean exit on SIGTERM/SIGINT.
#include "test_wire_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Where the build put the program (tests/sandbox/CMakeLists.txt), unless
// SQLSANDBOX says otherwise.
fs::path programPath()
{
    if (const char* given = std::getenv("SQLSANDBOX"))
        return given;
    return SQLLOGCLEAN_SANDBOX_PROGRAM;
}

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

// A child process with its stdout and stderr on pipes.
class Program {
public:
    explicit Program(const std::vector<std::string>& args)
    {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        const std::string path = programPath().string();
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (rc != 0)
            throw std::runtime_error("spawn failed");
    }
    ~Program()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The first line on stdout; empty if the program ended without one.
    std::string readLine()
    {
        std::string line;
        char c;
        for (;;) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0 || ::read(out_, &c, 1) != 1 || c == '\n')
                return line;
            line.push_back(c);
        }
    }

    void signal(int sig) { ::kill(pid_, sig); }

    Outcome wait()
    {
        Outcome r;
        r.out = drain(out_);
        r.err = drain(err_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return r;
    }

private:
    static std::string drain(int fd)
    {
        std::string text;
        char buf[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0)
                return text;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return text;
            text.append(buf, static_cast<std::size_t>(n));
        }
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Built before this test; missing, it is a fault, not a reason to pass.
        ASSERT_TRUE(fs::exists(programPath())) << "no sqlsandbox at " << programPath();
    }
};

TEST_F(ProgramTest, HelpAndBadOptions)
{
    {
        Program p({"--help"});
        const Outcome r = p.wait();
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("--fault-delay"), std::string::npos);
        EXPECT_NE(r.out.find("default \"sandbox\""), std::string::npos);
    }
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--no-such-option"}, {"--port"}, {"--port", "65536"}, {"--fault-error", "x=oops"}, {"--fault-abort", "x=1205"},
             {"--fault-drop", "(unclosed"}, {"--refuse-logins=yes"}, {"--version", "2001"}, {"--version"}}) {
        SCOPED_TRACE(args[0]);
        Program p(args);
        const Outcome r = p.wait();
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("Usage: sqlsandbox"), std::string::npos);
    }
    // A certificate that cannot be used says which file and why; a TLS
    // version no build of the generation speaks is refused.
    const std::string self = programPath();
    for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--certificate", "/nonexistent.pem", "--key", self}, "cannot read the certificate file '/nonexistent.pem'"},
             {{"--certificate", self, "--key", self}, "holds no PEM certificate"},
             {{"--certificate", self}, "--certificate and --key go together"},
             {{"--tls", "1.1"}, "--tls must be 1.0 or 1.2"},
             {{"--version", "2005", "--tls", "1.2"}, "no build of SQL Server 2005 speaks TLS 1.2"},
             {{"--version", "2016", "--tls", "1.0"}, "every build of SQL Server 2016 speaks TLS 1.2"}}) {
        Program p(args);
        const Outcome r = p.wait();
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    }
}

TEST_F(ProgramTest, ServesUntilSignalledThenExitsCleanly)
{
    for (const int sig : {SIGTERM, SIGINT}) {
        Program p({"--port", "0", "--browser-port", "0", "--password", "pw", "--fault-error",
                   "a=b=50002:16:Text: with = and :", "--fault-abort", "^select 'victim'=1205:13:Chosen."});
        const std::string ready = p.readLine();
        ASSERT_EQ(ready.rfind("sqlsandbox listening on 127.0.0.1:", 0), 0u) << ready;
        const auto port = static_cast<std::uint16_t>(std::stoi(ready.substr(ready.rfind(':') + 1)));

        wire::Client c(port);
        wire::LoginRequest request;
        request.password = u"pw";
        c.send(0x10, wire::login7(request));
        auto login = c.readReply();
        ASSERT_TRUE(login);
        ASSERT_EQ(wire::only<wire::LoginAckToken>(wire::tokens(*login)).size(), 1u);
        c.sendBatch(u"select 'a=b'");
        auto reply = c.readReply();
        ASSERT_TRUE(reply);
        const auto messages = wire::only<wire::MessageToken>(wire::tokens(*reply));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].number, 50002);
        EXPECT_EQ(messages[0].text, u"Text: with = and :");
        // An aborting fault ends the batch: nothing after it runs.
        c.sendBatch(u"select 'victim' select 'never'");
        reply = c.readReply();
        ASSERT_TRUE(reply);
        const auto aborted = wire::tokens(*reply);
        ASSERT_EQ(wire::only<wire::MessageToken>(aborted).size(), 1u);
        EXPECT_EQ(wire::only<wire::MessageToken>(aborted)[0].number, 1205);
        EXPECT_TRUE(wire::only<wire::RowToken>(aborted).empty());

        p.signal(sig);
        EXPECT_EQ(p.wait().exitCode, 0);
    }
}

// The generation comes from --version, else from the catalog's "version".
TEST_F(ProgramTest, TheVersionOptionWinsOverTheCatalog)
{
    const fs::path catalog = fs::temp_directory_path() / ("sqlsandbox-version-" + std::to_string(::getpid()) + ".json");
    {
        std::ofstream out(catalog);
        out << R"({"version": "2012", "databases": [{"name": "master"}]})";
    }
    for (const auto& [args, major] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"--catalog", catalog.string()}, 11}, {{"--catalog", catalog.string(), "--version", "2019"}, 15}}) {
        std::vector<std::string> all = {"--port", "0", "--browser-port", "0"};
        all.insert(all.end(), args.begin(), args.end());
        Program p(all);
        const std::string ready = p.readLine();
        ASSERT_EQ(ready.rfind("sqlsandbox listening on 127.0.0.1:", 0), 0u) << ready;
        wire::Client c(static_cast<std::uint16_t>(std::stoi(ready.substr(ready.rfind(':') + 1))));
        c.send(0x10, wire::login7({}));
        const auto login = c.readReply();
        ASSERT_TRUE(login);
        const auto acks = wire::only<wire::LoginAckToken>(wire::tokens(*login));
        ASSERT_EQ(acks.size(), 1u);
        EXPECT_EQ(acks[0].version.at(0), major);
        p.signal(SIGTERM);
        EXPECT_EQ(p.wait().exitCode, 0);
    }
    fs::remove(catalog);
}

} // namespace
