#include "sandbox/tds/Packet.h"

#include "sandbox/tds/Bytes.h"

#include <algorithm>

namespace sandbox::tds {

PacketHeader decodeHeader(const std::uint8_t* bytes)
{
    PacketHeader h;
    h.type = bytes[0];
    h.status = bytes[1];
    h.length = be16(bytes + 2);  // big-endian on the wire
    h.spid = be16(bytes + 4);
    h.packetId = bytes[6];
    h.window = bytes[7];
    return h;
}

void encodeHeader(const PacketHeader& header, std::uint8_t* bytes)
{
    bytes[0] = header.type;
    bytes[1] = header.status;
    bytes[2] = static_cast<std::uint8_t>(header.length >> 8);
    bytes[3] = static_cast<std::uint8_t>(header.length & 0xFF);
    bytes[4] = static_cast<std::uint8_t>(header.spid >> 8);
    bytes[5] = static_cast<std::uint8_t>(header.spid & 0xFF);
    bytes[6] = header.packetId;
    bytes[7] = header.window;
}

ReadStatus RequestReader::readPacket(PacketHeader& header, std::vector<std::uint8_t>& body)
{
    std::uint8_t raw[HeaderSize];
    if (!source_.readExact(raw, HeaderSize))
        return ReadStatus::Closed;
    header = decodeHeader(raw);
    if (header.length < HeaderSize || header.length > MaxPacketSize)
        return ReadStatus::Malformed;
    body.resize(header.length - HeaderSize);
    if (!body.empty() && !source_.readExact(body.data(), body.size()))
        return ReadStatus::Closed;
    return ReadStatus::Ok;
}

ReadStatus RequestReader::readRequest(Request& request)
{
    request.payload.clear();
    std::vector<std::uint8_t> body;
    bool first = true;
    for (;;) {
        PacketHeader header;
        if (const ReadStatus s = readPacket(header, body); s != ReadStatus::Ok)
            return s;
        if (first)
            request.type = header.type;
        else if (header.type != request.type)
            return ReadStatus::Malformed;
        first = false;
        if (request.payload.size() + body.size() > MaxRequestSize)
            return ReadStatus::Malformed;
        request.payload.insert(request.payload.end(), body.begin(), body.end());
        if ((header.status & StatusEndOfMessage) != 0)
            return ReadStatus::Ok;
    }
}

void PacketWriter::setPacketSize(std::size_t size)
{
    packetSize_ = std::clamp(size, MinPacketSize, MaxPacketSize);
}

std::vector<std::uint8_t> PacketWriter::frame(std::uint8_t type, std::span<const std::uint8_t> payload,
                                              bool endOfMessage)
{
    const std::size_t chunk = payloadPerPacket();
    const std::size_t packets = std::max<std::size_t>(1, (payload.size() + chunk - 1) / chunk);
    std::vector<std::uint8_t> out;
    out.reserve(payload.size() + packets * HeaderSize);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < packets; ++i) {
        const std::size_t n = std::min(chunk, payload.size() - offset);
        PacketHeader h;
        h.type = type;
        h.status = (endOfMessage && i + 1 == packets) ? StatusEndOfMessage : 0;
        h.length = static_cast<std::uint16_t>(n + HeaderSize);
        h.spid = spid_;
        h.packetId = nextPacketId_++;
        const std::size_t at = out.size();
        out.resize(at + HeaderSize);
        encodeHeader(h, out.data() + at);
        out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                   payload.begin() + static_cast<std::ptrdiff_t>(offset + n));
        offset += n;
    }
    if (endOfMessage)
        nextPacketId_ = 1;
    return out;
}

} // namespace sandbox::tds
