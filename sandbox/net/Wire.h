// One client connection's TDS plumbing: the socket, TLS over it when the
// session agreed on it, the reader of the client's messages and the framer
// of the replies.
#pragma once

#include "sandbox/net/Socket.h"
#include "sandbox/net/Tls.h"
#include "sandbox/tds/Packet.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace sandbox {

class Wire final : public tds::ByteSource {
public:
    Wire(Fd socket, const StopSignal& stop) : connection_(std::move(socket), stop), reader_(*this) {}

    tds::ReadStatus readRequest(tds::Request& request) { return reader_.readRequest(request); }
    tds::ReadStatus readPacket(tds::PacketHeader& header, std::vector<std::uint8_t>& body)
    {
        return reader_.readPacket(header, body);
    }
    Wait waitReadable(std::optional<std::chrono::milliseconds> timeout) const
    {
        // A cancel may already sit in TLS's buffers, read off the socket with the batch.
        if (tls_ && tls_->hasBuffered())
            return Wait::Ready;
        return connection_.waitReadable(timeout);
    }

    // Sends `payload` as reply packets; with endOfMessage the last one
    // carries EOM. False when the client is gone.
    bool send(std::span<const std::uint8_t> payload, bool endOfMessage)
    {
        const std::vector<std::uint8_t> framed = writer_.frame(tds::packet::Reply, payload, endOfMessage);
        return tls_ ? tls_->writeAll(framed.data(), framed.size()) : connection_.writeAll(framed.data(), framed.size());
    }

    // Sends a TLS handshake flight, in PRELOGIN packets as the client's come.
    bool sendHandshake(std::span<const std::uint8_t> flight)
    {
        const std::vector<std::uint8_t> framed = writer_.frame(tds::packet::Prelogin, flight, true);
        return connection_.writeAll(framed.data(), framed.size());
    }

    bool readExact(std::uint8_t* data, std::size_t size) override
    {
        return tls_ ? tls_->readExact(data, size) : connection_.readExact(data, size);
    }

    // From now on, packets travel inside TLS records; stopTls() goes back to
    // the clear (after a login-only encryption).
    void startTls(std::unique_ptr<TlsChannel> channel) { tls_ = std::move(channel); }
    void stopTls() { tls_.reset(); }

    Connection& connection() { return connection_; }
    tds::PacketWriter& writer() { return writer_; }
    void close() { connection_.close(); }

private:
    Connection connection_;
    std::unique_ptr<TlsChannel> tls_;
    tds::RequestReader reader_;
    tds::PacketWriter writer_;
};

} // namespace sandbox
