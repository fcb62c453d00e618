#include "db/discovery/Prelogin.h"

namespace db::prelogin {

namespace {

constexpr std::uint8_t PreloginType = 0x12;
constexpr std::uint8_t ReplyType = 0x04;  // "table response", as MS-TDS calls it
constexpr std::uint8_t EndOfMessage = 0x01;

constexpr std::uint8_t VersionOption = 0x00;
constexpr std::uint8_t EncryptionOption = 0x01;
constexpr std::uint8_t InstanceOption = 0x02;
constexpr std::uint8_t ThreadIdOption = 0x03;
constexpr std::uint8_t Terminator = 0xFF;
constexpr std::size_t OptionEntrySize = 5;  // token, offset, length (both big-endian)
constexpr std::size_t VersionSize = 6;

constexpr std::uint8_t EncryptOff = 0x00;

std::size_t be16(const std::uint8_t* at) { return static_cast<std::size_t>(at[0] << 8 | at[1]); }

void putBe16(std::vector<std::uint8_t>& out, std::size_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

} // namespace

std::vector<std::uint8_t> request()
{
    struct Option {
        std::uint8_t token;
        std::vector<std::uint8_t> data;
    };
    // The sender's version: this client has no library version to report.
    const Option options[] = {
        {VersionOption, std::vector<std::uint8_t>(VersionSize, 0)},
        {EncryptionOption, {EncryptOff}},
        {InstanceOption, {0}},
        {ThreadIdOption, std::vector<std::uint8_t>(4, 0)},
    };
    std::vector<std::uint8_t> payload;
    std::size_t dataAt = std::size(options) * OptionEntrySize + 1;
    for (const Option& o : options) {
        payload.push_back(o.token);
        putBe16(payload, dataAt);
        putBe16(payload, o.data.size());
        dataAt += o.data.size();
    }
    payload.push_back(Terminator);
    for (const Option& o : options)
        payload.insert(payload.end(), o.data.begin(), o.data.end());

    std::vector<std::uint8_t> packet = {PreloginType, EndOfMessage};
    putBe16(packet, PacketHeaderSize + payload.size());
    packet.insert(packet.end(), {0, 0, 1, 0});  // SPID, packet id, window
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

std::optional<std::size_t> packetLength(std::span<const std::uint8_t> received)
{
    if (received.size() < PacketHeaderSize)
        return std::nullopt;
    return be16(&received[2]);
}

std::optional<ServerVersion> serverVersion(std::span<const std::uint8_t> packet)
{
    if (packet.size() <= PacketHeaderSize || packet[0] != ReplyType || !(packet[1] & EndOfMessage) ||
        packetLength(packet) != packet.size())
        return std::nullopt;
    const std::span<const std::uint8_t> payload = packet.subspan(PacketHeaderSize);
    std::optional<std::span<const std::uint8_t>> version;
    for (std::size_t at = 0;; at += OptionEntrySize) {
        if (at >= payload.size())
            return std::nullopt;  // no terminator
        if (payload[at] == Terminator)
            break;
        if (at + OptionEntrySize > payload.size())
            return std::nullopt;
        const std::size_t offset = be16(&payload[at + 1]);
        const std::size_t length = be16(&payload[at + 3]);
        if (offset > payload.size() || length > payload.size() - offset)
            return std::nullopt;
        if (payload[at] == VersionOption) {
            if (version)
                return std::nullopt;  // which one would the server mean?
            version = payload.subspan(offset, length);
        }
    }
    if (!version || version->size() < VersionSize || (*version)[0] < 7)
        return std::nullopt;
    const std::span<const std::uint8_t> v = *version;
    return ServerVersion{v[0], v[1], static_cast<int>(be16(&v[2]))};
}

} // namespace db::prelogin
