// Every sentence the tool says about a job and a failed connection, in the
// user's words, written once (%1, %2... are filled in by Report.cpp). The
// window shows them; another program built on db/ can say them the same.
#pragma once

#include <array>
#include <string_view>
#include <utility>

namespace db::texts {

inline constexpr std::u16string_view ConnectFailed = u"数据库连接失败!";
inline constexpr std::u16string_view JobSucceeded = u"数据库清理成功!";
inline constexpr std::u16string_view JobFailed = u"数据库清理失败!";

// Why a connection failed: a hint after the driver's or server's words.
inline constexpr std::u16string_view LoginRefused = u"请检查 sa 的密码。";
inline constexpr std::u16string_view ServerUnreachable =
    u"请检查服务器名（或地址、端口）是否正确，服务器是否已启动并允许 TCP/IP 连接。";
inline constexpr std::u16string_view EncryptionRefused =
    u"连接在登录之前中断。若服务器是 SQL Server 2005，或未装 TLS 1.2 更新的 2008 至 2014，"
    u"它只会 TLS 1.0，而本机不再接受 TLS 1.0：请为服务器安装 TLS 1.2 更新（KB3135244）。";

// The size the file reached (%1 in MB), then, when it stayed above the
// target (%1 in MB), that it did, and why.
inline constexpr std::u16string_view LogNowIs = u"日志文件现为 %1 MB";
inline constexpr std::u16string_view FileNowIs = u"文件现为 %1 MB";
inline constexpr std::u16string_view NotDownTo = u"，未能缩小到 %1 MB";
// Joins what stayed and why into one sentence.
inline constexpr std::u16string_view Because = u"：";
inline constexpr std::u16string_view FullStop = u"。";
// The one reason that follows the size alone: as small as it gets. %1: the target in MB.
inline constexpr std::u16string_view BecauseVlfBoundary =
    u"日志只能按整个虚拟日志文件（VLF）收缩，这是 %1 MB 之上最近的边界";
inline constexpr std::u16string_view BecauseDataFile = u"文件中的数据占用着这些空间";
// After the job the log has no backup chain (it never had one, or the job's
// truncation broke it: log backups fail until a database backup), and the
// next run truncates it again itself: never advise waiting for a log backup.
inline constexpr std::u16string_view BecauseActiveAtEnd = u"日志的活动部分位于文件末尾。请在下一个检查点之后再运行一次";
// %1: the size of the VLFs left, VlfEach or VlfSizes.
inline constexpr std::u16string_view BecauseTwoVlfFloor =
    u"日志至少要保留两个虚拟日志文件（VLF），此日志的 VLF %1，本工具无法使其更小";
inline constexpr std::u16string_view VlfEach = u"每个 %1 MB";
// %1 and %2 in MB.
inline constexpr std::u16string_view VlfSizes = u"分别为 %1 MB 和 %2 MB";

// What holds the log, for every value log_reuse_wait_desc has had, 2005 to
// 2022, but those that hold nothing (db/FixedValues.h).
inline constexpr std::array<std::pair<std::u16string_view, std::u16string_view>, 11> ReuseWaits = {{
    {u"LOG_BACKUP", u"需要先备份日志"},
    {u"ACTIVE_BACKUP_OR_RESTORE", u"正在备份或还原数据"},
    {u"ACTIVE_TRANSACTION", u"有未结束的事务"},
    {u"DATABASE_MIRRORING", u"数据库镜像已暂停或尚未同步"},
    {u"REPLICATION", u"复制尚未读取日志"},
    {u"DATABASE_SNAPSHOT_CREATION", u"正在创建数据库快照"},
    {u"LOG_SCAN", u"正在扫描日志"},
    {u"AVAILABILITY_REPLICA", u"可用性组的辅助副本尚未应用日志"},
    {u"OLDEST_PAGE", u"间接检查点尚未写出最早的脏页"},
    {u"XTP_CHECKPOINT", u"内存优化表需要检查点"},
    {u"SLOG_SCAN", u"正在扫描辅助日志（加速数据库恢复）"},
}};

inline constexpr std::u16string_view ChainBroken = u"日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。";
// %1 database, %2 the model it is in, %3 the one it should be in, %4 the statement.
inline constexpr std::u16string_view ModelNotRestored = u"数据库 %1 现为 %2 恢复模式，未能恢复为 %3。请执行：%4";
// %1 database, %2 the model it should be in, %3 the statement.
inline constexpr std::u16string_view ModelUnknown =
    u"数据库 %1 的恢复模式未能恢复为 %2，现在的恢复模式无法读取。请执行：%3";
inline constexpr std::u16string_view Cancelled = u"已取消。";

// While the job waits. %1: the statement that puts the recovery model back,
// which nothing cancels.
inline constexpr std::u16string_view PuttingBack = u"正在恢复原来的恢复模式，等待：%1";

} // namespace db::texts
