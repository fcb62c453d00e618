// The sandbox's bounds against input that would stall, crash or exhaust it:
// pathological patterns, deep nesting, huge numbers, oversized packets,
// long parameter names and endless prepared statements.
#include "RecordingSink.h"
#include "test_wire_client.h"

#include "sandbox/net/Procedures.h"
#include "sandbox/sql/Engine.h"
#include "sandbox/tds/Packet.h"
#include "sandbox/tds/Rpc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace sandbox;
using testsupport::RecordingSink;

namespace {

std::u16string repeat(std::u16string_view piece, std::size_t times)
{
    std::u16string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

struct Case {
    const char* what;
    std::u16string batch;
    std::vector<int> messages;  // the message numbers the batch answers with, in order
};

TEST(Bounds, HostileBatchesGetAnAnswer)
{
    const std::vector<Case> cases = {
        {"a LIKE pattern of many %s", u"exec sp_dboption 'GameDB', '" + repeat(u"%", 40) + u"!', 'true'", {15011}},
        {"BEGIN nested past the limit", repeat(u"BEGIN ", 100000) + u"select 1" + repeat(u" END", 100000), {191}},
        {"IF nested past the limit", repeat(u"IF 1 = 1 ", 100000) + u"select 1", {191}},
        {"BEGIN nested within the limit", repeat(u"BEGIN ", 100) + u"select 1" + repeat(u" END", 100), {}},
        {"a delay of more than a day", u"WAITFOR DELAY '99999999999:00'", {148}},
        {"a delay that is not a number", u"WAITFOR DELAY 'inf:00'", {148}},
        {"a shrink target past int", u"use GameDB DBCC SHRINKFILE (GameDB_Log, 9223372036854775807)", {5701, 2528}},
        {"an ORDER BY position past int", u"select name from sysdatabases order by 4294967297", {108}},
    };
    for (const Case& c : cases) {
        Engine engine{Catalog::defaults()};
        SessionState session;
        RecordingSink sink;
        engine.runBatch(session, c.batch, sink);
        EXPECT_EQ(sink.messageNumbers(), c.messages) << c.what;
        EXPECT_FALSE(sink.dones.empty()) << c.what;
    }
}

// Bytes from memory, as a socket would deliver them.
class Bytes final : public tds::ByteSource {
public:
    explicit Bytes(wire::Bytes data) : data_(std::move(data)) {}
    bool readExact(std::uint8_t* out, std::size_t size) override
    {
        if (size > data_.size() - at_)
            return false;
        std::memcpy(out, data_.data() + at_, size);
        at_ += size;
        return true;
    }

private:
    wire::Bytes data_;
    std::size_t at_ = 0;
};

TEST(Bounds, APacketLongerThanTheHeaderAllowsIsRefused)
{
    for (const std::size_t length : {std::size_t{32767}, std::size_t{32768}}) {
        wire::Bytes packet = wire::Client::packet(0x01, wire::Bytes(length - 8, 0x41), true);
        packet[2] = static_cast<std::uint8_t>(length >> 8);
        packet[3] = static_cast<std::uint8_t>(length & 0xFF);
        Bytes source(packet);
        tds::RequestReader reader(source);
        tds::Request request;
        EXPECT_EQ(reader.readRequest(request) == tds::ReadStatus::Ok, length <= tds::MaxPacketSize) << length;
    }
}

TEST(Bounds, A128CharacterParameterNameIsAParameterFromTds72)
{
    const std::u16string name = u"@" + repeat(u"p", 127);
    wire::Bytes request = wire::rpc(u"sp_x", 0, {wire::intParam(1, false, name), wire::intParam(2)});
    const auto call = tds::parseRpc(request, tds::Layout::Tds72);
    ASSERT_TRUE(call);
    ASSERT_EQ(call->params.size(), 2u);
    EXPECT_EQ(call->params[0].name, name);
    EXPECT_EQ(call->params[1].integer, 2);

    // From 7.2 the calls of one request are separated by 0xFF.
    request.push_back(0xFF);
    const auto first = tds::parseRpc(request, tds::Layout::Tds72);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->params.size(), 2u);
}

TEST(Bounds, ASessionKeepsABoundedNumberOfPreparedStatements)
{
    const wire::Bytes bytes = wire::rpc({}, tds::procid::Prepare,
                                        {wire::intParam(std::nullopt, true, u"@h"), wire::nvarcharParam(u""),
                                         wire::nvarcharParam(u"select 1")});
    const auto prepare = tds::parseRpc(bytes, tds::Layout::Tds71);
    ASSERT_TRUE(prepare);
    Procedures procedures;
    for (std::size_t i = 0; i < Procedures::MaxPrepared; ++i)
        ASSERT_FALSE(procedures.plan(*prepare).refusal) << i;
    const ProcedurePlan refused = procedures.plan(*prepare);
    ASSERT_TRUE(refused.refusal);
    EXPECT_EQ(refused.refusal->number, 50000);
    EXPECT_EQ(procedures.prepared(), Procedures::MaxPrepared);
}

TEST(Bounds, AProcedureNameRunsAsOneExecOrNotAtAll)
{
    const std::pair<std::u16string, bool> names[] = {
        {u"sp_who", true}, {u"master..sp_who", true}, {u"[dbo].[odd name]", true}, {u"\"dbo\".sp_who", true},
        {u"sp_who select 1", false}, {u"sp_who;select 1", false}, {u"sp_who--", false}, {u"sp_who/**/", false},
        {std::u16string(u"sp_who\0select 1", 15), false}, {u"[sp_who", false}, {u".sp_who", false}, {u"select", false},
    };
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const auto& [name, runs] = names[i];
        tds::RpcRequest call;
        call.procName = name;
        const ProcedurePlan p = Procedures().plan(call);
        EXPECT_EQ(p.sql, runs ? std::optional(u"EXEC " + name) : std::nullopt) << "name " << i;
        EXPECT_EQ(p.refusal ? p.refusal->number : 0, runs ? 0 : 2812) << "name " << i;
    }
}

} // namespace
