// Every text the window shows in its message boxes and while it waits: the
// tool's own words, written once.
#pragma once

#include <QString>

namespace ui::text {

// The application's title: the taskbar's text and the default error report's caption.
inline const QString ApplicationTitle = QStringLiteral("SQL SERVER日志清理工具");
// The caption of the handlers' message boxes.
inline const QString Notice = QStringLiteral("提示");

// The default error report's text for a failure that carries no message.
inline const QString UnknownError = QStringLiteral("发生未知错误");

inline const QString ConnectFailed = QStringLiteral("数据库连接失败!");
inline const QString JobSucceeded = QStringLiteral("数据库清理成功!");
inline const QString JobFailed = QStringLiteral("数据库清理失败!");
// The file list and details do not belong to the database shown (or nothing is chosen).
inline const QString ChooseDatabaseAndFile = QStringLiteral("请先选择数据库和文件。");

// Why a connection failed: a hint after the driver's or server's words.
inline const QString LoginRefused = QStringLiteral("请检查 sa 的密码。");
inline const QString ServerUnreachable =
    QStringLiteral("请检查服务器名（或地址、端口）是否正确，服务器是否已启动并允许 TCP/IP 连接。");
inline const QString EncryptionRefused =
    QStringLiteral("连接在登录之前中断。若服务器是 SQL Server 2005，或未装 TLS 1.2 更新的 2008 至 2014，"
                   "它只会 TLS 1.0，而本机不再接受 TLS 1.0：请为服务器安装 TLS 1.2 更新（KB3135244）。");

// The size the file reached (%1 in MB), and why not smaller.
inline const QString LogNowIs = QStringLiteral("日志文件现为 %1 MB。");
inline const QString FileNowIs = QStringLiteral("文件现为 %1 MB。");
inline const QString LogAtVlfBoundary =
    QStringLiteral("日志文件现为 %1 MB：日志只能按整个虚拟日志文件（VLF）收缩，这是 %2 MB 之上最近的边界。");
inline const QString LogStayed = QStringLiteral("日志文件现为 %1 MB，未能缩小到 %2 MB");
inline const QString FileStayed = QStringLiteral("文件现为 %1 MB，未能缩小到 %2 MB");
inline const QString BecauseDataFile = QStringLiteral("文件中的数据占用着这些空间");
// After the job the log has no backup chain (it never had one, or the job's
// truncation broke it: log backups fail until a database backup), and the
// next run truncates it again itself: never advise waiting for a log backup.
inline const QString BecauseActiveAtEnd = QStringLiteral("日志的活动部分位于文件末尾。请在下一个检查点之后再运行一次");
// %1: the size of the VLFs left, VlfEach or VlfSizes.
inline const QString BecauseTwoVlfFloor =
    QStringLiteral("日志至少要保留两个虚拟日志文件（VLF），此日志的 VLF %1，本工具无法使其更小");
inline const QString VlfEach = QStringLiteral("每个 %1 MB");
// %1 and %2 in MB.
inline const QString VlfSizes = QStringLiteral("分别为 %1 MB 和 %2 MB");

inline const QString ChainBroken =
    QStringLiteral("日志备份链已中断：请尽快做一次完整备份，之后的日志备份才能继续。");
// %1 database, %2 the model it is in, %3 the one it should be in, %4 the statement.
inline const QString ModelNotRestored =
    QStringLiteral("数据库 %1 现为 %2 恢复模式，未能恢复为 %3。请执行：%4");
// %1 database, %2 the model it should be in, %3 the statement.
inline const QString ModelUnknown =
    QStringLiteral("数据库 %1 的恢复模式未能恢复为 %2，现在的恢复模式无法读取。请执行：%3");
inline const QString Cancelled = QStringLiteral("已取消。");

// While the window waits for the server.
inline const QString Connecting = QStringLiteral("正在连接服务器…");
inline const QString ListingDatabases = QStringLiteral("正在读取数据库列表…");
inline const QString ListingFiles = QStringLiteral("正在读取文件列表…");
inline const QString ReadingFileDetails = QStringLiteral("正在读取文件信息…");
inline const QString Cleaning = QStringLiteral("正在清理日志…");
inline const QString Elapsed = QStringLiteral("已用 %1 秒");
inline const QString Cancel = QStringLiteral("取消");
inline const QString Cancelling = QStringLiteral("正在取消…");
// %1: the statement that puts the recovery model back, which nothing cancels.
inline const QString PuttingBack = QStringLiteral("正在恢复原来的恢复模式，等待：%1");

} // namespace ui::text
