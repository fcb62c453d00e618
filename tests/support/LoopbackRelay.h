// A TCP relay on loopback that forwards to a server and keeps every byte
// that crosses it, both ways: what a sniffer on the wire would see.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class LoopbackRelay {
public:
    explicit LoopbackRelay(std::uint16_t target);  // throws std::runtime_error
    ~LoopbackRelay();
    LoopbackRelay(const LoopbackRelay&) = delete;
    LoopbackRelay& operator=(const LoopbackRelay&) = delete;

    std::uint16_t port() const { return port_; }
    // Everything relayed so far, client to server and back, in arrival order.
    std::string captured() const;
    // What the server sent alone, in order.
    std::string fromServer() const;

private:
    void acceptLoop();
    void pump(int from, int to, bool fromServer);

    std::uint16_t target_;
    std::uint16_t port_ = 0;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::thread acceptor_;
    std::vector<std::thread> pumps_;
    std::vector<int> sockets_;
    mutable std::mutex mutex_;
    std::string captured_;
    std::string fromServer_;
};

} // namespace testsupport
