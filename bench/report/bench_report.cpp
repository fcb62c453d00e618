// sqllogclean-cli report over 50 sandbox servers of 20 databases each, with
// --jobs 8 against --jobs 1: the wall time of each run and the program's
// peak memory (its max RSS), each run a process of its own, the two
// alternating which goes first. The servers run in this process on
// loopback, five generations in turn; a latency in milliseconds makes every
// statement wait that long first, as a network's round trip would. One
// untimed run comes first.
//   bench_report [rounds] [latency-ms...]     (default 5 rounds; 0 and 2 ms)
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSandbox.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int Servers = 50;
constexpr int Databases = 20;
constexpr sandbox::Generation Generations[] = {sandbox::Generation::Sql2000, sandbox::Generation::Sql2008,
                                               sandbox::Generation::Sql2012, sandbox::Generation::Sql2019,
                                               sandbox::Generation::Sql2022};

// Logs of a few shapes: grown once or twice, active at the start or the
// end, some held; half in SIMPLE.
std::string catalogJson()
{
    std::string json = R"({"databases": [{"name": "master", "dbid": 1, "recovery": "SIMPLE"},)"
                       R"( {"name": "msdb", "dbid": 4, "recovery": "SIMPLE"})";
    for (int i = 0; i < Databases; ++i) {
        const std::string name = "Shard" + std::to_string(i + 1);
        const int grown = 2048 * (1 + i % 4);
        json += R"(, {"name": ")" + name + R"(", "recovery": ")" + (i % 2 ? "SIMPLE" : "FULL") + "\"" +
                (i % 7 == 3 ? R"(, "logReuseWait": "ACTIVE_TRANSACTION")" : "") + R"(, "files": [)" +
                R"({"fileid": 1, "name": ")" + name + R"(_Data", "size": 12800}, )" +
                R"({"fileid": 2, "name": ")" + name + R"(_Log", "created": 1280, "growths": [)" +
                std::to_string(grown) + (i % 3 ? ", 8192" : "") + R"(], "logStart": )" +
                std::to_string(i % 5 == 0 ? 1 : 1280 + grown / 2) + R"(, "inactivePages": 900, "activePages": 64}]})";
    }
    return json + "]}";
}

struct Sample {
    double seconds = 0;
    long rssKiB = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void print(const char* label, const std::vector<Sample>& samples)
{
    std::vector<double> s, m;
    for (const Sample& x : samples) {
        s.push_back(x.seconds);
        m.push_back(static_cast<double>(x.rssKiB) / 1024.0);
    }
    std::printf("%-10s median %7.2f s  (min %6.2f, max %6.2f)  max RSS median %6.1f MiB\n", label, median(s),
                *std::min_element(s.begin(), s.end()), *std::max_element(s.begin(), s.end()), median(m));
}

Sample runReport(const std::vector<std::string>& servers, int jobs)
{
    std::vector<std::string> args{"report", "--json", "--jobs", std::to_string(jobs)};
    args.insert(args.end(), servers.begin(), servers.end());
    const testsupport::ChildResult r =
        testsupport::runChild(SQLLOGCLEAN_CLI_PROGRAM, args, {}, {{"SQLLOGCLEAN_PASSWORD", "sandbox"}});
    if (r.exitCode != 0) {
        std::fprintf(stderr, "report failed (%d): %s\n", r.exitCode, r.err.c_str());
        std::exit(1);
    }
    return {r.wallSeconds, r.maxRssKiB};
}

void measure(int rounds, int latencyMs)
{
    std::vector<std::unique_ptr<testsupport::TestSandbox>> sandboxes;
    std::vector<std::string> servers;
    for (int i = 0; i < Servers; ++i) {
        sandbox::Catalog c = sandbox::Catalog::fromJson(catalogJson());
        c.generation = Generations[i % std::size(Generations)];
        sandboxes.push_back(std::make_unique<testsupport::TestSandbox>(std::move(c)));
        if (latencyMs > 0) {
            sandbox::Fault f;
            f.action = sandbox::Fault::Action::Delay;
            f.pattern = ".";
            f.delay = std::chrono::milliseconds(latencyMs);
            sandboxes.back()->engine().addFault(f);
        }
        servers.push_back("127.0.0.1," + std::to_string(sandboxes.back()->port()));
    }
    // Untimed: the sandboxes make their TLS certificates at the first login
    // that asks for encryption (RSA 3072 for 2022), once per process.
    runReport(servers, 8);
    std::vector<Sample> one, eight;
    for (int r = 0; r < rounds; ++r) {
        if (r % 2 == 0) {
            one.push_back(runReport(servers, 1));
            eight.push_back(runReport(servers, 8));
        } else {
            eight.push_back(runReport(servers, 8));
            one.push_back(runReport(servers, 1));
        }
    }
    std::printf("report over %d servers x %d databases, %d runs each, interleaved; statement latency %d ms\n",
                Servers, Databases, rounds, latencyMs);
    print("--jobs 1", one);
    print("--jobs 8", eight);
    const auto seconds = [](const std::vector<Sample>& v) {
        std::vector<double> s;
        for (const Sample& x : v)
            s.push_back(x.seconds);
        return median(s);
    };
    const auto rss = [](const std::vector<Sample>& v) {
        std::vector<double> s;
        for (const Sample& x : v)
            s.push_back(static_cast<double>(x.rssKiB));
        return median(s);
    };
    std::printf("wall:   jobs 1 / jobs 8        = %.2f\n", seconds(one) / seconds(eight));
    std::printf("memory: jobs 8 / jobs 1 max RSS = %.2f\n\n", rss(eight) / rss(one));
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<int> latencies;
    for (int i = 2; i < argc; ++i)
        latencies.push_back(std::max(0, std::atoi(argv[i])));
    if (latencies.empty())
        latencies = {0, 2};
    for (const int latency : latencies)
        measure(rounds, latency);
    return 0;
}
