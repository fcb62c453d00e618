// Every text the window shows of its own in its message boxes and while it
// waits, written once. What it says about a job or a failed connection is
// composed in db/texts/, for every program built on db/ alike.
#pragma once

#include "db/texts/Texts.h"

#include <QString>

namespace ui::text {

// The application's title: the taskbar's text and the default error report's caption.
inline const QString ApplicationTitle = QStringLiteral("SQL SERVER日志清理工具");
// The caption of the handlers' message boxes.
inline const QString Notice = QStringLiteral("提示");

// The default error report's text for a failure that carries no message.
inline const QString UnknownError = QStringLiteral("发生未知错误");

// Shown alone when the job finds no connection; after a failed one,
// db/texts/ composes what follows it.
inline const QString ConnectFailed = QStringView(db::texts::ConnectFailed).toString();
// The file list and details do not belong to the database shown (or nothing is chosen).
inline const QString ChooseDatabaseAndFile = QStringLiteral("请先选择数据库和文件。");

// While the window waits for the server.
inline const QString Connecting = QStringLiteral("正在连接服务器…");
inline const QString ListingDatabases = QStringLiteral("正在读取数据库列表…");
inline const QString ListingFiles = QStringLiteral("正在读取文件列表…");
inline const QString ReadingFileDetails = QStringLiteral("正在读取文件信息…");
inline const QString Cleaning = QStringLiteral("正在清理日志…");
inline const QString Elapsed = QStringLiteral("已用 %1 秒");
inline const QString Cancel = QStringLiteral("取消");
inline const QString Cancelling = QStringLiteral("正在取消…");

} // namespace ui::text
