// The TDS codec on its own: token layouts, LOGIN7 and PRELOGIN parsing,
// packet framing. Decoded with the test's own reader, not the codec's.
#include "test_wire_client.h"

#include "sandbox/tds/Login.h"
#include "sandbox/tds/Packet.h"
#include "sandbox/tds/Rpc.h"
#include "sandbox/tds/Tokens.h"

#include <gtest/gtest.h>

#include <random>

using namespace wire;
using sandbox::Column;
using sandbox::SqlType;

namespace {

std::vector<Token> decode(const sandbox::tds::TokenBuffer& b) { return TokenReader(b.bytes()).all(); }

TEST(Codec, PasswordScramblingMatchesWhatClientsSend)
{
    // 'a' = 61 00: nibbles swapped to 16 00, XOR A5 gives B3 A5.
    EXPECT_EQ(sandbox::tds::encodePassword(u"a"), (Bytes{0xB3, 0xA5}));
    EXPECT_EQ(sandbox::tds::decodePassword(Bytes{0xB3, 0xA5}), u"a");
    const std::u16string tricky = u"pä$\u20AC w0rd";
    EXPECT_EQ(sandbox::tds::decodePassword(sandbox::tds::encodePassword(tricky)), tricky);
}

TEST(Codec, Login7FieldsAreReadByOffsetForBothLayouts)
{
    for (const bool tds74 : {false, true}) {
        LoginRequest r;
        r.tds74 = tds74;
        r.user = u"sa";
        r.password = u"S3cret!";
        r.database = u"GameDB";
        r.packetSize = 8192;
        const auto login = sandbox::tds::parseLogin7(login7(r));
        ASSERT_TRUE(login);
        EXPECT_EQ(login->userName, u"sa");
        EXPECT_EQ(login->password, u"S3cret!");
        EXPECT_EQ(login->database, u"GameDB");
        EXPECT_EQ(login->appName, u"wire-test");
        EXPECT_EQ(login->hostName, u"testhost");
        EXPECT_EQ(login->packetSize, 8192u);
        EXPECT_EQ(login->tdsVersion, tds74 ? 0x74000004u : 0x71000001u);
        EXPECT_FALSE(login->integratedSecurity);
    }
}

TEST(Codec, Login7ParserSurvivesEveryTruncationAndCorruption)
{
    const Bytes good = login7({});
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(sandbox::tds::parseLogin7(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n))))
            << n;
    std::mt19937 random(12345);
    for (int i = 0; i < 5000; ++i) {
        Bytes bad = good;
        for (int k = 0; k < 3; ++k)
            bad[random() % bad.size()] = static_cast<std::uint8_t>(random());
        const auto login = sandbox::tds::parseLogin7(bad);  // must not crash or read out of bounds
        if (login) {
            EXPECT_LE(login->userName.size() * 2, bad.size());
        }
    }
}

TEST(Codec, PreloginParserRejectsTablesThatPointOutside)
{
    EXPECT_TRUE(sandbox::tds::parsePrelogin(prelogin(true)));
    EXPECT_TRUE(sandbox::tds::parsePrelogin(prelogin(true))->askedMars);
    EXPECT_FALSE(sandbox::tds::parsePrelogin(prelogin(false))->askedMars);
    EXPECT_FALSE(sandbox::tds::parsePrelogin(Bytes{}));
    EXPECT_FALSE(sandbox::tds::parsePrelogin(Bytes{0x00, 0x00, 0x06}));            // entry cut short
    EXPECT_FALSE(sandbox::tds::parsePrelogin(Bytes{0x00, 0x00, 0x06, 0x00, 0x06})); // no terminator
    EXPECT_FALSE(sandbox::tds::parsePrelogin(Bytes{0x00, 0x00, 0x06, 0x00, 0x40, 0xFF}));  // data past the end
    std::mt19937 random(777);
    const Bytes good = prelogin(true);
    for (int i = 0; i < 5000; ++i) {
        Bytes bad = good;
        bad[random() % bad.size()] = static_cast<std::uint8_t>(random());
        (void)sandbox::tds::parsePrelogin(bad);
    }
}

TEST(Codec, ProcedureCallParameters)
{
    const Bytes request = rpc(u"sp_x", 0, {intParam(-7, false, u"@a"), intParam(std::nullopt, true), ntextParam(u"ntext"),
                                          nvarcharParam(u"nvarchar", u"@b")});
    const auto parsed = sandbox::tds::parseRpc(request, sandbox::tds::Layout::Tds71);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->procName, u"sp_x");
    ASSERT_EQ(parsed->params.size(), 4u);
    EXPECT_EQ(parsed->params[0].name, u"@a");
    EXPECT_EQ(parsed->params[0].integer, -7);
    EXPECT_TRUE(parsed->params[1].isNull);
    EXPECT_TRUE(parsed->params[1].output());
    EXPECT_EQ(parsed->params[2].text, u"ntext");
    EXPECT_EQ(parsed->params[3].text, u"nvarchar");

    const auto byId = sandbox::tds::parseRpc(rpc({}, 13, {}), sandbox::tds::Layout::Tds71);
    ASSERT_TRUE(byId);
    EXPECT_EQ(byId->procId, 13);
    EXPECT_TRUE(byId->procName.empty());

    for (std::size_t n = 0; n + 1 < request.size(); ++n) {
        const auto cut = sandbox::tds::parseRpc(Bytes(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(n)), sandbox::tds::Layout::Tds71);
        if (cut) {
            EXPECT_LE(cut->params.size(), 4u);
        }
    }
    std::mt19937 random(99);
    for (int i = 0; i < 5000; ++i) {
        Bytes bad = request;
        bad[random() % bad.size()] = static_cast<std::uint8_t>(random());
        (void)sandbox::tds::parseRpc(bad, sandbox::tds::Layout::Tds71);  // must not crash or read out of bounds
    }
}

TEST(Codec, ColumnMetadataLayouts)
{
    const std::vector<Column> cols = {
        {u"a", SqlType::TinyInt, 0, false}, {u"b", SqlType::SmallInt, 0, true}, {u"c", SqlType::Int, 0, false},
        {u"d", SqlType::BigInt, 0, true},   {u"e", SqlType::NChar, 128, false}, {u"f", SqlType::NVarChar, 260, true},
        {u"g", SqlType::VarChar, 30, true}, {u"h", SqlType::VarBinary, 85, true}, {u"i", SqlType::DateTime, 0, false},
        {u"j", SqlType::DateTime, 0, true},
    };
    sandbox::tds::TokenBuffer b;
    sandbox::tds::writeColMetadata(b, cols);
    const auto meta = std::get<ColMetadataToken>(decode(b).at(0)).columns;
    ASSERT_EQ(meta.size(), cols.size());
    const std::vector<std::pair<std::uint8_t, std::uint16_t>> expected = {
        {0x30, 1}, {0x26, 2}, {0x38, 4}, {0x26, 8}, {0xEF, 256}, {0xE7, 520}, {0xA7, 30}, {0xA5, 85}, {0x3D, 8}, {0x6F, 8},
    };
    for (std::size_t i = 0; i < cols.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(meta[i].type, expected[i].first);
        EXPECT_EQ(meta[i].maxLength, expected[i].second);
        EXPECT_EQ(meta[i].flags & 1, cols[i].nullable ? 1 : 0);
        EXPECT_EQ(meta[i].name, cols[i].name);
        if (meta[i].type == 0xEF || meta[i].type == 0xE7 || meta[i].type == 0xA7) {
            EXPECT_EQ(meta[i].collation, (Bytes{0x09, 0x04, 0xD0, 0x00, 0x34}));
        }
    }
}

TEST(Codec, RowValues)
{
    const std::vector<Column> cols = {
        {u"n", SqlType::NChar, 6, false},     {u"v", SqlType::NVarChar, 4, true}, {u"i", SqlType::Int, 0, false},
        {u"s", SqlType::SmallInt, 0, true},   {u"c", SqlType::VarChar, 10, true}, {u"b", SqlType::VarBinary, 4, true},
        {u"d", SqlType::DateTime, 0, true},   {u"x", SqlType::NVarChar, 10, true},
    };
    const sandbox::Row row = {
        std::u16string(u"ab"), std::u16string(u"toolong"), std::int64_t{-2}, sandbox::Null{},
        std::u16string(u"\u20ACuro"), std::vector<std::uint8_t>{1, 2, 3}, sandbox::DateTime{36524, 300}, std::u16string(),
    };
    sandbox::tds::TokenBuffer b;
    sandbox::tds::writeColMetadata(b, cols);
    sandbox::tds::writeRow(b, cols, row);
    sandbox::tds::writeRow(b, cols, {});  // missing values are NULL, or zero for a fixed-width type
    const auto all = decode(b);
    ASSERT_EQ(all.size(), 3u);
    const auto& cells = std::get<RowToken>(all[1]).cells;
    EXPECT_EQ(std::get<std::u16string>(cells[0]), u"ab    ");  // nchar(6) blank-padded
    EXPECT_EQ(std::get<std::u16string>(cells[1]), u"tool");    // cut to nvarchar(4)
    EXPECT_EQ(std::get<std::int64_t>(cells[2]), -2);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(cells[3]));
    EXPECT_EQ(std::get<Bytes>(cells[4]), (Bytes{0x80, 'u', 'r', 'o'}));  // CP1252 euro sign
    EXPECT_EQ(std::get<Bytes>(cells[5]), (Bytes{1, 2, 3}));
    EXPECT_EQ(std::get<Bytes>(cells[6]), (Bytes{0xAC, 0x8E, 0, 0, 0x2C, 0x01, 0, 0}));
    EXPECT_EQ(std::get<std::u16string>(cells[7]), u"");  // empty is not NULL

    const auto& empty = std::get<RowToken>(all[2]).cells;
    EXPECT_TRUE(std::holds_alternative<std::monostate>(empty[0]));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(empty[1]));
    EXPECT_EQ(std::get<std::int64_t>(empty[2]), 0);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(empty[6]));
}

TEST(Codec, MessagesAndDone)
{
    sandbox::Message m;
    m.number = 9008;
    m.severity = 10;
    m.state = 1;
    m.text = u"Cannot shrink log file 2 (GameDB_Log) because all logical log files are in use.";
    m.line = 3;
    sandbox::Message e = m;
    e.number = 208;
    e.severity = 16;
    e.procName = u"sp_x";
    sandbox::tds::TokenBuffer b;
    sandbox::tds::writeMessage(b, m, u"SANDBOX");
    sandbox::tds::writeMessage(b, e, u"SANDBOX");
    sandbox::tds::writeDone(b, sandbox::DoneKind::DoneInProc, 0x10, 0xC1, 0x1'0000'0005ull);
    const auto all = decode(b);
    ASSERT_EQ(all.size(), 3u);
    const auto& info = std::get<MessageToken>(all[0]);
    EXPECT_FALSE(info.error);  // severity 10 is an INFO
    EXPECT_EQ(info.text, m.text);
    EXPECT_EQ(info.server, u"SANDBOX");
    EXPECT_EQ(info.line, 3u);
    const auto& error = std::get<MessageToken>(all[1]);
    EXPECT_TRUE(error.error);
    EXPECT_EQ(error.proc, u"sp_x");
    const auto& done = std::get<DoneToken>(all[2]);
    EXPECT_EQ(done.token, 0xFF);
    EXPECT_EQ(done.curCmd, 0xC1);
    EXPECT_EQ(done.rowCount, 0xFFFFFFFFu);  // 4 bytes at 7.1: clamped, not wrapped
}

TEST(Codec, PacketWriterSplitsAndNumbers)
{
    sandbox::tds::PacketWriter w;
    w.setPacketSize(512);
    w.setSpid(53);
    Bytes payload(1200, 0x5A);
    const Bytes framed = w.frame(0x04, payload, true);
    ASSERT_EQ(framed.size(), 1200u + 3 * 8);
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const auto h = sandbox::tds::decodeHeader(framed.data() + at);
        EXPECT_EQ(h.type, 0x04);
        EXPECT_EQ(h.spid, 53);
        EXPECT_EQ(h.packetId, i + 1);
        EXPECT_EQ(h.status, i == 2 ? 1 : 0);
        EXPECT_EQ(h.length, i == 2 ? 1200 - 2 * 504 + 8 : 512);
        at += h.length;
    }
    // An empty message is still one packet; numbering restarts per message.
    const Bytes empty = w.frame(0x04, {}, true);
    ASSERT_EQ(empty.size(), 8u);
    EXPECT_EQ(sandbox::tds::decodeHeader(empty.data()).packetId, 1);
    // Sizes outside what TDS allows are brought into range.
    w.setPacketSize(10);
    EXPECT_EQ(w.packetSize(), 512u);
    w.setPacketSize(1'000'000);
    EXPECT_EQ(w.packetSize(), 32767u);
}

} // namespace

TEST(Codec, EncryptionIsAgreedAsTdsSettlesIt)
{
    using namespace sandbox::tds;
    struct Row {
        std::uint8_t client;
        bool canEncrypt, mustEncrypt;
        std::uint8_t answer;
        TlsUse use;
    };
    const Row table[] = {
        {encrypt::Off, false, false, encrypt::NotSupported, TlsUse::None},
        {encrypt::On, false, false, encrypt::NotSupported, TlsUse::None},
        {encrypt::Off, true, false, encrypt::Off, TlsUse::LoginOnly},
        {encrypt::On, true, false, encrypt::On, TlsUse::Everything},
        {encrypt::NotSupported, true, false, encrypt::NotSupported, TlsUse::None},
        {encrypt::Off, true, true, encrypt::Required, TlsUse::Everything},
        {encrypt::NotSupported, true, true, encrypt::Required, TlsUse::Refuse},
    };
    for (const Row& r : table) {
        const EncryptionAgreement a = agreeEncryption(r.client, r.canEncrypt, r.mustEncrypt);
        EXPECT_EQ(a.answer, r.answer) << static_cast<int>(r.client) << r.canEncrypt << r.mustEncrypt;
        EXPECT_EQ(a.use, r.use) << static_cast<int>(r.client) << r.canEncrypt << r.mustEncrypt;
    }
}
