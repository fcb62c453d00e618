// The answer parser and text decoding, without any network.
#include "LoopbackUdp.h"

#include "db/discovery/DiscoveryProtocol.h"

#include <gtest/gtest.h>

#include <random>

using namespace db::ssrp;
using discoverytest::record;
using discoverytest::svrResp;

namespace {

std::optional<std::vector<InstanceRecord>> parse(const std::string& datagram)
{
    return parseResponse(std::span(reinterpret_cast<const std::uint8_t*>(datagram.data()), datagram.size()));
}

} // namespace

TEST(DiscoveryParse, ReadsEveryRecordOfAnAnswerInOrder)
{
    const auto answer = parse(svrResp(record("HOST", "MSSQLSERVER", 1433) + record("HOST", "Reports", 2301) +
                                      "ServerName;OTHER;InstanceName;X;IsClustered;Yes;Version;8.00.760;;"));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 3u);

    EXPECT_EQ((*answer)[0].serverName, u"HOST");
    EXPECT_EQ((*answer)[0].instanceName, u"MSSQLSERVER");
    EXPECT_EQ((*answer)[0].isClustered, u"No");
    EXPECT_EQ((*answer)[0].version, u"8.00.194");
    EXPECT_EQ((*answer)[0].tcpPort, 1433);
    EXPECT_EQ((*answer)[0].displayName(), u"HOST");

    EXPECT_EQ((*answer)[1].tcpPort, 2301);
    EXPECT_EQ((*answer)[1].displayName(), u"HOST\\Reports");

    EXPECT_EQ((*answer)[2].isClustered, u"Yes");
    EXPECT_EQ((*answer)[2].tcpPort, std::nullopt);
    EXPECT_EQ((*answer)[2].displayName(), u"OTHER\\X");
}

TEST(DiscoveryParse, DefaultInstanceIsRecognisedInAnyCaseAndKeysIgnoreCase)
{
    const auto answer = parse(svrResp("servername;Box;instancename;mssqlServer;isclustered;No;VERSION;8.00.194;TCP;1433;;"));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 1u);
    EXPECT_EQ((*answer)[0].displayName(), u"Box");
    EXPECT_EQ((*answer)[0].tcpPort, 1433);
}

TEST(DiscoveryParse, ToleratesOtherProtocolEntries)
{
    // VIA carries commas and colons, Banyan VINES several values: none of it
    // may shift the reading of the record.
    const auto answer = parse(svrResp(
        "ServerName;H;InstanceName;I;IsClustered;No;Version;8.00.194;np;\\\\H\\pipe\\MSSQL$I\\sql\\query;"
        "via;H,0:1433,1:1434;rpc;H;spx;H;adsp;SQL2000;bv;item;group;org;tcp;1533;;"
        "ServerName;H;InstanceName;J;IsClustered;No;Version;8.00.194;tcp;notaport;;"));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 2u);
    EXPECT_EQ((*answer)[0].displayName(), u"H\\I");
    EXPECT_EQ((*answer)[0].tcpPort, 1533);
    EXPECT_EQ((*answer)[1].displayName(), u"H\\J");
    EXPECT_EQ((*answer)[1].tcpPort, std::nullopt); // unusable port, record still listed
}

TEST(DiscoveryParse, RejectsBrokenAnswersWhole)
{
    const std::string good = record("HOST", "MSSQLSERVER");
    ASSERT_TRUE(parse(svrResp(good)));
    const char withNul[] = "ServerName;H\0X;InstanceName;I;IsClustered;No;Version;8.00.194;;";

    const std::vector<std::pair<const char*, std::string>> broken = {
        {"empty datagram", ""},
        {"header only, cut", std::string("\x05\x10", 2)},
        {"wrong type", "\x04" + svrResp(good).substr(1)},
        {"no data", svrResp("")},
        {"size field larger than data (truncated)", svrResp(good, good.size() + 1)},
        {"size field smaller than data (oversized)", svrResp(good, good.size() - 1)},
        {"data cut inside a record", svrResp(good.substr(0, good.size() - 1))},
        {"second record unterminated", svrResp(good + "ServerName;B;InstanceName;C;IsClustered;No;Version;8.00.194")},
        {"trailing bytes after the last record", svrResp(good + "x")},
        {"keys out of order", svrResp("InstanceName;I;ServerName;H;IsClustered;No;Version;8.00.194;;")},
        {"missing version", svrResp("ServerName;H;InstanceName;I;IsClustered;No;;")},
        {"empty server name", svrResp("ServerName;;InstanceName;I;IsClustered;No;Version;8.00.194;;")},
        {"NUL inside", svrResp(std::string(withNul, sizeof withNul - 1))},
        {"server name over 255 bytes", svrResp(record(std::string(256, 'H'), "I"))},
        {"instance name over 255 bytes", svrResp(record("H", std::string(256, 'I')))},
        {"one good record then a bad one", svrResp(good + "garbage;;")},
    };
    for (const auto& [what, datagram] : broken)
        EXPECT_FALSE(parse(datagram)) << what;

    EXPECT_TRUE(parse(svrResp(record(std::string(255, 'H'), std::string(255, 'I'))))) << "names at the limit";
}

TEST(DiscoveryParse, LargestAnswerTheSizeFieldAllows)
{
    const std::string head = "ServerName;H;InstanceName;I;IsClustered;No;Version;8.00.194;np;";
    const std::string data = head + std::string(MaxResponseData - head.size() - 2, 'p') + ";;";
    ASSERT_EQ(data.size(), MaxResponseData);

    const auto answer = parse(svrResp(data));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->front().displayName(), u"H\\I");
}

TEST(DiscoveryParse, EveryTruncationOfAGoodAnswerIsRejected)
{
    const std::string datagram = svrResp(record("HOST", "MSSQLSERVER") + record("HOST", "B"));
    for (std::size_t length = 0; length < datagram.size(); ++length) {
        // Copied into a buffer of exactly that length so that the sanitizers
        // catch any read past what "arrived".
        const std::vector<std::uint8_t> cut(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(parseResponse(cut)) << "length " << length;
    }
}

TEST(DiscoveryParse, SurvivesRandomBytes)
{
    std::mt19937 random(20240229);
    const std::string valid = svrResp(record("HOST", "MSSQLSERVER") + record("HOST", "SECOND"));
    // Bytes that steer the parser into its less travelled paths.
    const std::string_view alphabet = " ;;;SNIVabc\\\x80\xc3\xff";
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> bytes;
        switch (round % 3) {
        case 0: { // noise of any length
            bytes.resize(random() % 300);
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(random());
            break;
        }
        case 1: { // noise behind a plausible header
            const std::size_t size = random() % 300;
            bytes.resize(3 + size);
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(alphabet[random() % alphabet.size()]);
            bytes[0] = SvrResp;
            bytes[1] = static_cast<std::uint8_t>(size & 0xFF);
            bytes[2] = static_cast<std::uint8_t>(size >> 8);
            break;
        }
        default: { // a valid answer with a few bytes changed
            bytes.assign(valid.begin(), valid.end());
            for (int flips = 1 + static_cast<int>(random() % 3); flips > 0; --flips)
                bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
            break;
        }
        }
        const auto answer = parseResponse(bytes);
        if (answer) {
            ++accepted;
            EXPECT_FALSE(answer->empty());
            for (const auto& r : *answer)
                EXPECT_FALSE(r.serverName.empty() || r.instanceName.empty());
        }
    }
    EXPECT_GT(accepted, 0); // some mutations only touch values
}

TEST(DiscoveryText, DecodesUtf8AndFallsBackToLatin1)
{
    EXPECT_EQ(decodeText("HOST"), u"HOST");
    EXPECT_EQ(decodeText("\xE6\x95\xB0\xE6\x8D\xAE"), u"数据");           // UTF-8
    EXPECT_EQ(decodeText("\xF0\x9F\x98\x80"), u"\U0001F600");             // outside the BMP
    EXPECT_EQ(decodeText("M\xFCller"), u"M\u00FCller");                    // Latin-1
    EXPECT_EQ(decodeText("\xCA\xFD\xBE\xDD"), u"\u00CA\u00FD\u00BE\u00DD"); // GB2312, byte for byte
    EXPECT_EQ(decodeText("\xC0\xAF"), u"\u00C0\u00AF");                    // overlong '/'
    EXPECT_EQ(decodeText("\xED\xA0\x80"), u"\u00ED\u00A0\u0080");          // an encoded surrogate
    EXPECT_EQ(decodeText("ab\xE6\x95"), u"ab\u00E6\u0095");                // cut sequence
    EXPECT_EQ(decodeText("\xF4\x90\x80\x80"), u"\u00F4\u0090\u0080\u0080"); // above U+10FFFF
}

TEST(DiscoveryText, RecordTextsAreDecodedPerField)
{
    // A UTF-8 host with a Latin-1 instance name: each field on its own.
    const auto answer = parse(svrResp(record("\xE6\x95\xB0", "Caf\xE9")));
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[0].displayName(), u"数\\Café");
}
