// The SQL Server Resolution Protocol (UDP 1434) as the client sees it: the
// requests it sends and the parsing of the answers. Pure functions, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace db::ssrp {

inline constexpr std::uint16_t BrowserPort = 1434;

// Message types (first byte of every datagram).
inline constexpr std::uint8_t ClntBcastEx = 0x02;   // broadcast: all instances of every host
inline constexpr std::uint8_t ClntUcastEx = 0x03;   // unicast: all instances of one host
inline constexpr std::uint8_t ClntUcastInst = 0x04; // unicast: one named instance of one host
inline constexpr std::uint8_t SvrResp = 0x05;

// 0x05 and the little-endian 16-bit size of the data that follows.
inline constexpr std::size_t ResponseHeaderSize = 3;
inline constexpr std::size_t MaxResponseData = 65535;
// Longest names a record may carry; anything longer marks a broken answer.
inline constexpr std::size_t MaxNameBytes = 255;

inline constexpr std::u16string_view DefaultInstanceName = u"MSSQLSERVER";

// One instance record of an answer, its texts decoded (see decodeText).
struct InstanceRecord {
    std::u16string serverName;
    std::u16string instanceName;
    std::u16string isClustered; // "Yes" / "No" as sent
    std::u16string version;
    std::optional<std::uint16_t> tcpPort; // the "tcp;<port>" entry, if any and valid

    // What a user picks from a list: "HOST" for the default instance,
    // "HOST\NAME" otherwise.
    std::u16string displayName() const;
};

// A one-byte CLNT_BCAST_EX or CLNT_UCAST_EX request.
std::vector<std::uint8_t> allInstancesRequest(std::uint8_t type);

// A CLNT_UCAST_INST request for the named instance (its name in UTF-8, NUL
// ended); nothing when the name is empty, holds a NUL or is longer than the
// 32 bytes the protocol allows.
std::optional<std::vector<std::uint8_t>> instanceRequest(std::u16string_view instance);

// Parses one whole SVR_RESP datagram. Returns nothing when it is not a
// well-formed answer:
// - the type byte is not 0x05;
// - the size field does not match the bytes received exactly: if it says
//   more, the answer was truncated; if it says less, the datagram is
//   oversized and the bytes nobody accounts for are not trusted (so nothing
//   longer than 3 + 65,535 bytes can pass);
// - there is no record, or a record lacks ServerName / InstanceName /
//   IsClustered / Version in that order, is not closed by ";;", or has an
//   empty or over-long name; or the data holds a NUL byte.
// One bad record rejects the whole answer: a sender that garbles one record
// cannot be trusted for the rest. Reads only the bytes given.
std::optional<std::vector<InstanceRecord>> parseResponse(std::span<const std::uint8_t> datagram);

// Records are "MBCS" in the server's code page, which a client cannot know.
// Valid UTF-8 is taken as UTF-8 (what today's hosts send); anything else is
// taken byte for byte as Latin-1, so no byte is lost or turned into an error.
std::u16string decodeText(std::string_view bytes);

} // namespace db::ssrp
