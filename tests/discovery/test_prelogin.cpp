// The PRELOGIN codec of the version probe, without any network: the request
// as a server reads it, and the server's version read from answers, good and
// broken.
#include "db/discovery/Prelogin.h"
#include "sandbox/tds/Login.h"
#include "sandbox/tds/Packet.h"

#include <gtest/gtest.h>

#include <random>

using db::ServerVersion;
namespace prelogin = db::prelogin;

namespace {

// A packet of an answer's header with this payload, its length field true.
std::vector<std::uint8_t> withPayload(const std::vector<std::uint8_t>& payload)
{
    const std::size_t size = prelogin::PacketHeaderSize + payload.size();
    std::vector<std::uint8_t> packet = {sandbox::tds::packet::Reply, sandbox::tds::StatusEndOfMessage,
                                        static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size & 0xFF),
                                        0, 0, 1, 0};
    packet.reserve(size);
    for (const std::uint8_t b : payload)
        packet.push_back(b);
    return packet;
}

// The sandbox's answer, framed in one packet as a server sends it.
std::vector<std::uint8_t> answer(const std::array<std::uint8_t, 4>& version)
{
    return withPayload(
        sandbox::tds::preloginReply(sandbox::tds::PreloginRequest{}, version, sandbox::tds::encrypt::Off));
}

} // namespace

TEST(Prelogin, TheRequestIsOnePreloginPacketAServerReads)
{
    const std::vector<std::uint8_t> request = prelogin::request();
    ASSERT_GT(request.size(), sandbox::tds::HeaderSize);
    const sandbox::tds::PacketHeader header = sandbox::tds::decodeHeader(request.data());
    EXPECT_EQ(header.type, sandbox::tds::packet::Prelogin);
    EXPECT_EQ(header.status, sandbox::tds::StatusEndOfMessage);
    EXPECT_EQ(header.length, request.size());
    EXPECT_EQ(prelogin::packetLength(request), request.size());

    const std::span<const std::uint8_t> payload = std::span(request).subspan(sandbox::tds::HeaderSize);
    const auto read = sandbox::tds::parsePrelogin(payload);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->encryption, sandbox::tds::encrypt::Off);
    EXPECT_FALSE(read->askedMars) << "a TDS 7.1 client's options, which SQL Server 2000 knows";
    EXPECT_EQ(payload[0], 0x00) << "VERSION comes first, as MS-TDS requires";
}

TEST(Prelogin, ReadsTheServersVersionFromItsAnswer)
{
    const struct {
        std::array<std::uint8_t, 4> bytes;
        ServerVersion version;
    } table[] = {
        {{8, 0, 0x07, 0xF7}, {8, 0, 2039}},   // 2000 SP4
        {{9, 0, 0x13, 0x88}, {9, 0, 5000}},   // 2005 SP4
        {{10, 50, 0x17, 0x70}, {10, 50, 6000}},
        {{16, 0, 0x10, 0x13}, {16, 0, 4115}},
    };
    for (const auto& row : table)
        EXPECT_EQ(prelogin::serverVersion(answer(row.bytes)), row.version) << int(row.bytes[0]);
}

TEST(Prelogin, AnythingButAWholeAnswerGivesNoVersion)
{
    const std::vector<std::uint8_t> good = answer({8, 0, 0x07, 0xF7});
    auto changed = [&good](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = good;
        bytes[at] = value;
        return bytes;
    };
    // VERSION (6 bytes at 6), then TERMINATOR: the smallest answer there is.
    const std::vector<std::uint8_t> lone = {0x00, 0, 6, 0, 6, 0xFF, 8, 0, 0x07, 0xF7, 0, 0};
    ASSERT_EQ(prelogin::serverVersion(withPayload(lone)), (ServerVersion{8, 0, 2039}));
    const struct {
        const char* what;
        std::vector<std::uint8_t> packet;
    } table[] = {
        {"a PRELOGIN packet, as a client sends", changed(0, 0x12)},
        {"not the message's last packet", changed(1, 0x00)},
        {"a length field longer than the packet", changed(3, static_cast<std::uint8_t>(good[3] + 1))},
        {"a length field shorter than the packet", changed(3, static_cast<std::uint8_t>(good[3] - 1))},
        {"the header alone", withPayload({})},
        {"no terminator", withPayload({0x00, 0, 5, 0, 6, 8, 0, 0x07, 0xF7, 0, 0})},
        {"an option entry cut short", withPayload({0x00, 0, 6, 0})},
        {"VERSION's data beyond the packet", withPayload({0x00, 0, 6, 0, 7, 0xFF, 8, 0, 0x07, 0xF7, 0, 0})},
        {"VERSION shorter than six bytes", withPayload({0x00, 0, 6, 0, 4, 0xFF, 8, 0, 0x07, 0xF7})},
        {"no VERSION", withPayload({0x01, 0, 6, 0, 1, 0xFF, 0})},
        {"VERSION twice", withPayload({0x00, 0, 11, 0, 6, 0x00, 0, 11, 0, 6, 0xFF, 8, 0, 0x07, 0xF7, 0, 0})},
        {"a server before TDS 7", withPayload({0x00, 0, 6, 0, 6, 0xFF, 6, 50, 0, 201, 0, 0})},
    };
    for (const auto& row : table)
        EXPECT_FALSE(prelogin::serverVersion(row.packet)) << row.what;

    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(prelogin::serverVersion(std::span(good).first(cut))) << "cut at " << cut;
    EXPECT_FALSE(prelogin::packetLength(std::span(good).first(prelogin::PacketHeaderSize - 1)));
}

TEST(Prelogin, SurvivesRandomBytes)
{
    std::mt19937 random(20240611);
    const std::vector<std::uint8_t> good = answer({15, 0, 0x11, 0x03});
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> bytes = good;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
        if (const auto version = prelogin::serverVersion(bytes)) {
            EXPECT_GE(version->major, 7);
        }
    }
}
