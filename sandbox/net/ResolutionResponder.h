// A SQL Server Browser stand-in: answers the Resolution Protocol on UDP so
// that clients can list the sandbox and find a named instance's TCP port.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace sandbox {

struct ResolutionInstance {
    std::u16string serverName = u"SANDBOX";     // the host name clients show
    std::u16string instanceName = u"MSSQLSERVER";
    std::string version = "8.00.194";
    std::uint16_t tcpPort = 1433;
    bool isClustered = false;
};

struct ResponderOptions {
    std::string bindAddress = "127.0.0.1"; // dotted IPv4
    std::uint16_t port = 1434;             // 0: an ephemeral port, see port()
    std::vector<ResolutionInstance> instances;
};

// "ServerName;<host>;InstanceName;<name>;IsClustered;No;Version;<v>;tcp;<port>;;"
// in UTF-8.
std::string resolutionRecord(const ResolutionInstance& instance);

class ResolutionResponder {
public:
    // CLNT_BCAST_EX / CLNT_UCAST_EX: one answer listing every instance (as
    // many as fit in one IPv4 datagram). CLNT_UCAST_INST: the record of that one
    // instance, name compared ignoring case; nothing for an unknown one.
    // Malformed or oversized requests get no answer.
    explicit ResolutionResponder(ResponderOptions options);
    ~ResolutionResponder(); // stops
    ResolutionResponder(const ResolutionResponder&) = delete;
    ResolutionResponder& operator=(const ResolutionResponder&) = delete;

    // Binds and starts answering; throws std::runtime_error on failure.
    void start();
    // Stops answering and closes the socket; waits for the thread (at most
    // one poll interval).
    void stop();
    std::uint16_t port() const { return port_; }

    // Requests answered so far.
    int answered() const { return answered_.load(); }

private:
    void run();
    void answer(const unsigned char* request, std::size_t size, const void* from, unsigned fromLength);

    ResponderOptions options_;
    int socket_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

} // namespace sandbox
