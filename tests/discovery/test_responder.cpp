// The sandbox's resolution responder, spoken to with raw datagrams.
#include "LoopbackUdp.h"

#include "sandbox/net/ResolutionResponder.h"

#include <gtest/gtest.h>

using discoverytest::LoopbackSocket;
using discoverytest::svrResp;
using sandbox::ResolutionInstance;
using sandbox::ResolutionResponder;
using sandbox::ResponderOptions;

namespace {

const ResolutionInstance Default{u"SANDBOX", u"MSSQLSERVER", "8.00.194", 1433, false};
const ResolutionInstance Named{u"SANDBOX", u"Logs", "8.00.194", 2433, true};

const std::string DefaultRecord =
    "ServerName;SANDBOX;InstanceName;MSSQLSERVER;IsClustered;No;Version;8.00.194;tcp;1433;;";
const std::string NamedRecord = "ServerName;SANDBOX;InstanceName;Logs;IsClustered;Yes;Version;8.00.194;tcp;2433;;";

// Asked for after every request under test; its answer is unlike any other.
const ResolutionInstance ProbeInstance{u"SANDBOX", u"PROBE", "8.00.194", 9, false};
const std::string ProbeAnswer =
    svrResp("ServerName;SANDBOX;InstanceName;PROBE;IsClustered;No;Version;8.00.194;tcp;9;;");
const std::string AllRecords = DefaultRecord + NamedRecord +
    "ServerName;SANDBOX;InstanceName;PROBE;IsClustered;No;Version;8.00.194;tcp;9;;";

std::string instRequest(const std::string& name)
{
    return "\x04" + name + std::string(1, '\0');
}

class ResponderTest : public ::testing::Test {
protected:
    ResponderTest() : responder_(ResponderOptions{"127.0.0.1", 0, {Default, Named, ProbeInstance}})
    {
        responder_.start();
    }

    // Sends `request` and returns the answer to it, if any: a well-formed probe
    // follows it, and as the responder handles requests one by one, the first
    // datagram back tells whether `request` was answered. No waiting for
    // silence.
    std::optional<std::string> answerTo(const std::string& request)
    {
        client_.sendTo(responder_.port(), request);
        client_.sendTo(responder_.port(), Probe);
        auto first = client_.receive();
        if (!first || *first == ProbeAnswer)
            return std::nullopt;
        EXPECT_EQ(client_.receive(), ProbeAnswer);
        return first;
    }

    const std::string Probe = instRequest("probe");
    ResolutionResponder responder_;
    LoopbackSocket client_;
};

} // namespace

TEST(ResolutionRecord, HasTheBrowserServiceLayout)
{
    EXPECT_EQ(sandbox::resolutionRecord(Default), DefaultRecord);
    EXPECT_EQ(sandbox::resolutionRecord({u"数据", u"I", "8.00.2039", 65535, false}),
              "ServerName;\xE6\x95\xB0\xE6\x8D\xAE;InstanceName;I;IsClustered;No;Version;8.00.2039;tcp;65535;;");
}

TEST_F(ResponderTest, AllInstancesRequestsListEveryInstanceInOneAnswer)
{
    const auto expected = svrResp(AllRecords);
    EXPECT_EQ(answerTo("\x02"), expected); // CLNT_BCAST_EX
    EXPECT_EQ(answerTo("\x03"), expected); // CLNT_UCAST_EX
}

TEST_F(ResponderTest, InstanceRequestGetsThatInstanceOnly)
{
    EXPECT_EQ(answerTo(instRequest("MSSQLSERVER")), svrResp(DefaultRecord));
    EXPECT_EQ(answerTo(instRequest("mssqlserver")), svrResp(DefaultRecord));
    EXPECT_EQ(answerTo(instRequest("LOGS")), svrResp(NamedRecord));
    EXPECT_EQ(answerTo(instRequest(std::string(32, 'A'))), std::nullopt) << "unknown instance";
    EXPECT_EQ(answerTo(instRequest("LOG")), std::nullopt) << "a prefix is not a match";
}

TEST_F(ResponderTest, MalformedRequestsGetNoAnswer)
{
    const std::vector<std::pair<const char*, std::string>> requests = {
        {"empty datagram", ""},
        {"CLNT_BCAST (SQL Server 7)", "\x01"},
        {"CLNT_UCAST_DAC", std::string("\x0F\x01", 2)},
        {"a response", svrResp(DefaultRecord)},
        {"CLNT_UCAST_EX with extra bytes", "\x03X"},
        {"CLNT_BCAST_EX with extra bytes", std::string("\x02\0", 2)},
        {"instance name without NUL", "\x04MSSQLSERVER"},
        {"empty instance name", std::string("\x04\0", 2)},
        {"NUL inside the name", instRequest(std::string("MSSQL\0SERVER", 12))},
        {"name of 33 bytes", instRequest(std::string(33, 'A'))},
        {"an overlong request", "\x04" + std::string(4000, 'A') + std::string(1, '\0')},
    };
    for (const auto& [what, request] : requests)
        EXPECT_EQ(answerTo(request), std::nullopt) << what;
    // Only the probes were answered.
    EXPECT_EQ(responder_.answered(), static_cast<int>(requests.size()));
}

TEST_F(ResponderTest, AnswersEachRequesterAtItsOwnAddress)
{
    LoopbackSocket other;
    other.sendTo(responder_.port(), "\x03");
    client_.sendTo(responder_.port(), Probe);
    EXPECT_EQ(other.receive(), svrResp(AllRecords));
    EXPECT_EQ(client_.receive(), ProbeAnswer);
}

TEST(ResolutionResponder, AllInstancesAnswerStaysWithinOneDatagram)
{
    std::vector<ResolutionInstance> many;
    for (int i = 0; i < 2000; ++i) {
        const std::string digits = std::to_string(i);
        many.push_back({u"HOST", u"INSTANCE" + std::u16string(digits.begin(), digits.end()), "8.00.194", 1433, false});
    }
    ResolutionResponder responder(ResponderOptions{"127.0.0.1", 0, many});
    responder.start();

    LoopbackSocket client;
    client.sendTo(responder.port(), "\x03");
    const auto answer = client.receive();
    ASSERT_TRUE(answer);
    ASSERT_GE(answer->size(), 3u);
    const std::size_t size = static_cast<unsigned char>((*answer)[1]) | static_cast<unsigned char>((*answer)[2]) << 8;
    EXPECT_EQ(size, answer->size() - 3);
    EXPECT_GT(size, 60000u);
    // Whole records only.
    EXPECT_EQ(answer->substr(answer->size() - 2), ";;");
    EXPECT_EQ(answer->substr(3, 11), "ServerName;");
}

TEST(ResolutionResponder, StartFailsClearlyAndStopIsIdempotent)
{
    ResolutionResponder bad(ResponderOptions{"not-an-address", 0, {}});
    EXPECT_THROW(bad.start(), std::runtime_error);

    ResolutionResponder first(ResponderOptions{"127.0.0.1", 0, {Default}});
    first.start();
    ASSERT_NE(first.port(), 0);
    ResolutionResponder second(ResponderOptions{"127.0.0.1", first.port(), {Default}});
    EXPECT_THROW(second.start(), std::runtime_error) << "port already taken";

    first.stop();
    first.stop();
    second.stop(); // never started
}
