// The companion's own texts for people, in the users' words, written once
// (%1, %2... filled in by db::texts::fill). What it says about a job, why a
// log stays large and a failed connection is the window's (db/texts/).
// Diagnostics about the command line and the run stay in English, as --help
// does; what a Ctrl+C does is said here, to the user at the terminal.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace cli::text {

// The report's table: its titles, in order.
inline constexpr std::u16string_view Server = u"服务器";
inline constexpr std::u16string_view Database = u"数据库";
inline constexpr std::u16string_view State = u"状态";
inline constexpr std::u16string_view Model = u"恢复模式";
inline constexpr std::u16string_view LogMb = u"日志 MB";
inline constexpr std::u16string_view Used = u"已用";
inline constexpr std::u16string_view Vlfs = u"VLF 数";
inline constexpr std::u16string_view WaitsOn = u"等待";
inline constexpr std::u16string_view LastLogBackup = u"最近日志备份";
inline constexpr std::u16string_view AfterMb = u"清理后 MB";
inline constexpr std::u16string_view FreesMb = u"可释放 MB";
inline constexpr std::u16string_view Why = u"原因";

// Why a row says what it says where the window has no words for it. %1: the
// target in MB.
inline constexpr std::u16string_view ReachesTarget = u"可缩小到 %1 MB";
inline constexpr std::u16string_view WithinTarget = u"已在 %1 MB 以内";
inline constexpr std::u16string_view NotOnline = u"未联机";
inline constexpr std::u16string_view NoLogFile = u"没有日志文件";
inline constexpr std::u16string_view NoLogBackup = u"无";
// %1: the server's or the driver's words.
inline constexpr std::u16string_view CannotRead = u"无法读取：%1";
// A server not reported on. %1: the server, %2: why.
inline constexpr std::u16string_view NotReported = u"%1：未能读取：%2";

// What clean is about to do, before it asks. %1: the target in MB.
inline constexpr std::u16string_view PlanHeadline =
    u"将截断以下数据库日志中不活动的部分（不做备份），再把文件收缩到 %1 MB：";
inline constexpr std::u16string_view File = u"文件";
inline constexpr std::u16string_view SizeMb = u"大小 MB";
// The window's check box, and its two states.
inline constexpr std::u16string_view TruncateOnCheckpoint = u"日志文件以后不再增大";
inline constexpr std::u16string_view Yes = u"是";
inline constexpr std::u16string_view No = u"否";
inline constexpr std::u16string_view Note = u"说明";
inline constexpr std::u16string_view SystemDatabase = u"检查点截断日志，恢复模式不变";
inline constexpr std::u16string_view ChainWillBreak = u"日志备份链将中断";
// %1: why the database cannot be cleaned.
inline constexpr std::u16string_view CannotClean = u"无法清理：%1";
// %1: a file named with --file.
inline constexpr std::u16string_view NoSuchFile = u"没有名为 %1 的辅助文件";
inline constexpr std::u16string_view Question = u"继续吗？[y/N] ";

// Before each job's report. %1: the server, %2: the database, %3: the file.
inline constexpr std::u16string_view JobHeading = u"服务器 %1，数据库 %2，文件 %3：";
// Before what stopped a database or a server. %1: the server, %2: the database.
inline constexpr std::u16string_view DatabaseHeading = u"服务器 %1，数据库 %2：";
inline constexpr std::u16string_view ServerHeading = u"服务器 %1：";
// After a cancel: the recovery model the database is in now. %1: the
// database, %2: the model.
inline constexpr std::u16string_view ModelNow = u"数据库 %1 现为 %2 恢复模式。";
// The jobs a cancel kept from running. %1: how many.
inline constexpr std::u16string_view NotRun = u"已取消，其余 %1 项未运行。";

// Ctrl+C while the jobs run: the first cancels the running statement; the
// next ones say what the program still waits for, and wait on.
inline constexpr std::u16string_view Cancelling = u"正在取消…取消后恢复原来的恢复模式，然后结束。";
inline constexpr std::u16string_view StillCancelling = u"仍在取消，等待服务器结束当前语句；再按 Ctrl+C 也不会中止。";
inline constexpr std::u16string_view StillPuttingBack = u"再按 Ctrl+C 也不会中止恢复。";

// The texts as the terminal and the streams take them: UTF-8, %1, %2...
// filled in.
std::string utf8(std::u16string_view text);
std::string filled(std::u16string_view pattern, std::initializer_list<std::u16string_view> values);
// The shrink's target in MB, as the texts' %1 takes it.
std::u16string targetMb();

} // namespace cli::text
