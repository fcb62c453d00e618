// One client connection's TDS plumbing: the socket, the reader of the
// client's messages and the framer of the replies.
#pragma once

#include "sandbox/net/Socket.h"
#include "sandbox/tds/Packet.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sandbox {

class Wire {
public:
    Wire(Fd socket, const StopSignal& stop) : connection_(std::move(socket), stop), reader_(connection_) {}

    tds::ReadStatus readRequest(tds::Request& request) { return reader_.readRequest(request); }
    tds::ReadStatus readPacket(tds::PacketHeader& header, std::vector<std::uint8_t>& body)
    {
        return reader_.readPacket(header, body);
    }
    Wait waitReadable(std::optional<std::chrono::milliseconds> timeout) const
    {
        return connection_.waitReadable(timeout);
    }

    // Sends `payload` as reply packets; with endOfMessage the last one
    // carries EOM. False when the client is gone.
    bool send(std::span<const std::uint8_t> payload, bool endOfMessage)
    {
        const std::vector<std::uint8_t> framed = writer_.frame(tds::packet::Reply, payload, endOfMessage);
        return connection_.writeAll(framed.data(), framed.size());
    }

    tds::PacketWriter& writer() { return writer_; }
    void close() { connection_.close(); }

private:
    Connection connection_;
    tds::RequestReader reader_;
    tds::PacketWriter writer_;
};

} // namespace sandbox
