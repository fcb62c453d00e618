// Thin RAII wrappers over POSIX sockets, with every blocking wait bounded by
// a "stop" descriptor so that a stalled peer can never keep a thread alive
// once the server shuts down.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "sandbox/tds/Packet.h"

namespace sandbox {

// Owns one file descriptor; closes it on destruction.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A pipe used as a level-triggered "stop now" flag: once signalled, its read
// end stays readable, so every poll() that includes it returns at once.
class StopSignal {
public:
    StopSignal();  // throws std::runtime_error
    void raise();
    bool raised() const;
    int fd() const { return read_.get(); }

private:
    Fd read_;
    Fd write_;
};

// Listening TCP socket bound to `address` (numeric IPv4 or IPv6) and `port`
// (0: ephemeral). Throws std::runtime_error with the reason.
Fd listenTcp(const std::string& address, std::uint16_t port);
std::uint16_t localPort(int fd);
std::string localAddress(int fd);

enum class Wait { Ready, Timeout, Stopped, Closed };

// Waits until `fd` is readable, `stop` is raised, or the timeout passes
// (nullopt: no timeout).
Wait waitReadable(int fd, const StopSignal& stop, std::optional<std::chrono::milliseconds> timeout);

// A connected, non-blocking stream socket with stop-aware blocking helpers.
class Connection final : public tds::ByteSource {
public:
    Connection(Fd fd, const StopSignal& stop);

    // Reads exactly `size` bytes. false: peer closed, error, or stop raised.
    bool readExact(std::uint8_t* data, std::size_t size) override;
    // Reads whatever is there (at most `size`), waiting if nothing is.
    // 0: peer closed, error, or stop raised.
    std::size_t readSome(std::uint8_t* data, std::size_t size);
    // Writes all of it. false: peer gone, error, or stop raised.
    bool writeAll(const std::uint8_t* data, std::size_t size);

    Wait waitReadable(std::optional<std::chrono::milliseconds> timeout) const;
    void close() { fd_.reset(); }
    bool open() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

private:
    Fd fd_;
    const StopSignal& stop_;
};

} // namespace sandbox
