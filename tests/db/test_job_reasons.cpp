// Why a shrink stopped where it did, from a log's VLFs; and why a login
// failed, from the driver's diagnostics.
#include "db/ConnectFailure.h"
#include "db/Errors.h"
#include "db/LogLayout.h"

#include <gtest/gtest.h>

using db::ConnectFailure;
using db::LogShortfall;
using db::VirtualLogFile;

namespace {

constexpr std::int64_t MB = 1024 * 1024;
constexpr std::int64_t Target = 10 * MB;

// VLFs of one file laid end to end after the 8 KB header: {size in MB, active}.
std::vector<VirtualLogFile> laidOut(std::initializer_list<std::pair<double, bool>> vlfs, int fileId = 2)
{
    std::vector<VirtualLogFile> out;
    std::int64_t at = 8192;
    for (const auto& [mb, active] : vlfs) {
        const auto size = static_cast<std::int64_t>(mb * static_cast<double>(MB));
        out.push_back({fileId, at, size, active});
        at += size;
    }
    return out;
}

} // namespace

TEST(LogLayout, WhyAShrinkStoppedAboveTheTarget)
{
    const struct {
        const char* name;
        std::vector<VirtualLogFile> vlfs;
        std::size_t logVlfs;  // the whole log's, every file's
        LogShortfall expected;
    } cases[] = {
        {"the target falls inside the last VLF", laidOut({{4, false}, {4, true}, {2.5, false}}), 3,
         LogShortfall::VlfBoundary},
        {"the active log sits in the last VLF", laidOut({{4, false}, {4, false}, {8, false}, {8, true}}), 4,
         LogShortfall::ActiveAtEnd},
        // A log may shrink below its size at creation, never below two VLFs.
        {"two VLFs are left", laidOut({{128, true}, {128, false}}), 2, LogShortfall::TwoVlfFloor},
        {"a third VLF is left, in another file", laidOut({{128, true}, {128, false}}), 3, LogShortfall::None},
        {"a reusable VLF is left", laidOut({{128, true}, {128, false}, {64, false}}), 3, LogShortfall::None},
        {"nothing is known", {}, 0, LogShortfall::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(db::explainShortfall(c.vlfs, c.logVlfs, Target), c.expected) << c.name;
}

TEST(LogLayout, OnlyTheShrunkFilesVlfsCountInFileOrder)
{
    std::vector<VirtualLogFile> all = laidOut({{4, false}, {8, true}}, 3);
    for (const VirtualLogFile& v : laidOut({{4, false}, {4, false}}, 2))
        all.insert(all.begin(), v);
    const auto mine = db::vlfsOfFile(all, 3);
    ASSERT_EQ(mine.size(), 2U);
    EXPECT_LT(mine[0].startOffset, mine[1].startOffset);
    EXPECT_EQ(db::explainShortfall(mine, all.size(), Target), LogShortfall::VlfBoundary);
}

TEST(ConnectFailure, EachKindOfFailureIsRecognised)
{
    using M = db::ServerMessage;
    const struct {
        const char* name;
        std::vector<M> errors;
        ConnectFailure kind;
        std::u16string text;
    } cases[] = {
        {"a refused login", {{18456, u"Login failed for user 'sa'", "42000", true}, {0, u"Unable to connect to data source", "08001", true}},
         ConnectFailure::LoginRefused, u"Login failed for user 'sa'"},
        {"nobody listens",
         {{20009, u"Unable to connect: Adaptive Server is unavailable or does not exist", "08S01", true},
          {0, u"Unable to connect to data source", "08001", true}},
         ConnectFailure::Unreachable, u"Unable to connect: Adaptive Server is unavailable or does not exist"},
        {"the login times out", {{0, u"Login timeout expired", "HYT01", true}}, ConnectFailure::Unreachable,
         u"Login timeout expired"},
        {"no driver", {{0, std::u16string(db::MissingComponentsMessage), "IM002", true}}, ConnectFailure::MissingDriver,
         std::u16string(db::MissingComponentsMessage)},
        // unixODBC names a library it cannot load in words of its own, with no state.
        {"no driver library", {{0, u"Can't open lib 'NoSuchOdbcDriver' : file not found", "01000", false}},
         ConnectFailure::MissingDriver, u"Can't open lib 'NoSuchOdbcDriver' : file not found"},
        // A driver manager's state of another kind names no missing driver.
        {"a driver that refused an attribute, then nobody listens",
         {{0, u"Driver's SQLSetConnectAttr failed", "IM006", false},
          {20009, u"Unable to connect: Adaptive Server is unavailable or does not exist", "08S01", true}},
         ConnectFailure::Unreachable, u"Unable to connect: Adaptive Server is unavailable or does not exist"},
        // As FreeTDS 1.3 reports a TLS 1.0 server to a client without TLS 1.0.
        {"a failed handshake",
         {{0, u"Unable to connect to data source", "08001", true}, {20002, u"Adaptive Server connection failed", "01000", false}},
         ConnectFailure::Encryption, u"Adaptive Server connection failed"},
        // Microsoft's drivers, as a Chinese Windows words them: decided by
        // the native error the network layer gave.
        {"a refused login, in Chinese", {{18456, u"用户 'sa' 登录失败。", "28000", true}}, ConnectFailure::LoginRefused,
         u"用户 'sa' 登录失败。"},
        {"SChannel finds no common TLS version (0x80090331)",
         {{-2146893007, u"SSL 提供程序: 客户端和服务器无法通信，因为它们没有通用的算法。", "08001", true},
          {-2146893007, u"客户端无法建立连接", "08001", true}},
         ConnectFailure::Encryption, u"SSL 提供程序: 客户端和服务器无法通信，因为它们没有通用的算法。"},
        {"the server resets the handshake (10054)", {{10054, u"TCP 提供程序: 错误代码 0x2746", "08001", true}},
         ConnectFailure::Encryption, u"TCP 提供程序: 错误代码 0x2746"},
        {"the legacy driver's failed handshake (18, 772)",
         {{18, u"[DBNETLIB]SSL 安全错误", "08001", true}, {772, u"ConnectionOpen (SECDoClientHandshake()).", "08001", true}},
         ConnectFailure::Encryption, u"[DBNETLIB]SSL 安全错误"},
        {"the host refuses (10061), then the time-out",
         {{10061, u"TCP 提供程序: 由于目标计算机积极拒绝，无法连接。", "08001", true}, {0, u"登录超时已过期", "HYT00", true}},
         ConnectFailure::Unreachable, u"TCP 提供程序: 由于目标计算机积极拒绝，无法连接。"},
        {"no such host (11001)", {{11001, u"TCP 提供程序: 不知道这样的主机。", "08001", true}}, ConnectFailure::Unreachable,
         u"TCP 提供程序: 不知道这样的主机。"},
        {"no pipe to the server (53)", {{53, u"Named Pipes Provider: Could not open a connection to SQL Server [53].", "08001", true}},
         ConnectFailure::Unreachable, u"Named Pipes Provider: Could not open a connection to SQL Server [53]."},
        {"a message numbered like a network code, outside a connection state",
         {{53, u"some server message", "42000", true}}, ConnectFailure::Other, u"some server message"},
        // The words that once decided decide nothing now.
        {"words alone", {{0, u"TLS handshake failed: Adaptive Server is unavailable or does not exist", "08001", true}},
         ConnectFailure::Other, u"TLS handshake failed: Adaptive Server is unavailable or does not exist"},
        {"anything else: its numbered message", {{0, u"General error", "HY000", true}, {20004, u"Read from the server failed", "08S01", true}},
         ConnectFailure::Other, u"Read from the server failed"},
        {"nothing said", {}, ConnectFailure::Other, u""},
    };
    for (const auto& c : cases) {
        const db::ConnectFailureReason why = db::connectFailureOf(c.errors);
        EXPECT_EQ(why.kind, c.kind) << c.name;
        EXPECT_EQ(why.text, c.text) << c.name;
    }
}
