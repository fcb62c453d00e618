// TDS packet framing: the 8-byte header, reassembly of a client message from
// its packets, and splitting a reply into packets of the negotiated size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sandbox::tds {

namespace packet {
constexpr std::uint8_t SqlBatch = 0x01;
constexpr std::uint8_t Rpc = 0x03;
constexpr std::uint8_t Reply = 0x04;
constexpr std::uint8_t Attention = 0x06;
constexpr std::uint8_t BulkLoad = 0x07;
constexpr std::uint8_t TransactionManager = 0x0E;
constexpr std::uint8_t Login7 = 0x10;
constexpr std::uint8_t Sspi = 0x11;
constexpr std::uint8_t Prelogin = 0x12;
} // namespace packet

constexpr std::uint8_t StatusEndOfMessage = 0x01;
constexpr std::size_t HeaderSize = 8;
// Largest packet a TDS 7.1 peer may send (and the largest size we negotiate).
constexpr std::size_t MaxPacketSize = 32767;
constexpr std::size_t MinPacketSize = 512;
constexpr std::size_t DefaultPacketSize = 4096;
// A bound on one reassembled request, so a hostile client cannot exhaust memory.
constexpr std::size_t MaxRequestSize = 16u * 1024u * 1024u;

struct PacketHeader {
    std::uint8_t type = 0;
    std::uint8_t status = 0;
    std::uint16_t length = 0;  // including the header
    std::uint16_t spid = 0;
    std::uint8_t packetId = 0;
    std::uint8_t window = 0;
};

PacketHeader decodeHeader(const std::uint8_t* bytes);
void encodeHeader(const PacketHeader& header, std::uint8_t* bytes);

// One client message: the payload of its packets up to end-of-message.
struct Request {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> payload;
};

enum class ReadStatus { Ok, Closed, Malformed };

// Where a client's bytes come from: a socket in the server, memory in tests
// and fuzzers.
class ByteSource {
public:
    // Exactly `size` bytes; false when the peer is gone or reading must stop.
    virtual bool readExact(std::uint8_t* data, std::size_t size) = 0;

protected:
    ~ByteSource() = default;
};

// Reads whole packets and messages from a byte source.
class RequestReader {
public:
    explicit RequestReader(ByteSource& source) : source_(source) {}

    // Reads one packet: its header and body.
    ReadStatus readPacket(PacketHeader& header, std::vector<std::uint8_t>& body);
    // Reads packets until end-of-message; every packet must have the same type.
    ReadStatus readRequest(Request& request);

private:
    ByteSource& source_;
};

// Frames reply messages: splits them into packets of the negotiated size,
// each carrying the session's SPID and a packet id counting from 1.
class PacketWriter {
public:
    void setPacketSize(std::size_t size);
    std::size_t packetSize() const { return packetSize_; }
    std::size_t payloadPerPacket() const { return packetSize_ - HeaderSize; }
    void setSpid(std::uint16_t spid) { spid_ = spid; }

    // Frames `payload` as packets of `type`. With endOfMessage, the last one
    // carries EOM and the next call starts a new message; otherwise the message
    // goes on (its packets are full but when a batch sends what it has so far).
    std::vector<std::uint8_t> frame(std::uint8_t type, std::span<const std::uint8_t> payload, bool endOfMessage);

private:
    std::size_t packetSize_ = DefaultPacketSize;
    std::uint16_t spid_ = 0;
    std::uint8_t nextPacketId_ = 1;
};

} // namespace sandbox::tds
