// What the window's message boxes say after the job and after a failed
// connection: the first line as it always was, then, when there is
// something to say, what happened and why.
#pragma once

#include "db/ConnectFailure.h"
#include "db/LogJob.h"

#include <QString>

#include <vector>

namespace db {
class EDatabaseError;
}

namespace ui {

// "数据库清理成功!", then the size the file reached and why not smaller,
// and whether the log backup chain is broken.
QString jobSucceeded(const db::LogJobOutcome& outcome);

// "数据库清理失败!", then the reason, whether the recovery model could not
// be put back (and how to put it back), and whether the chain is broken.
QString jobFailed(const db::EDatabaseError& error, const db::LogJobOutcome& outcome, const QString& database);

// What the running job waits for, for the busy panel: the statement that
// puts the recovery model back, while it runs; else nothing.
QString jobProgress(const db::TLogJob& job);

// "数据库连接失败!", then why, with what the user can do about it.
QString connectFailed(const std::vector<db::ServerMessage>& errors);

// A reason the server gives for not reusing the log (log_reuse_wait_desc),
// in the user's words; one it does not know stays as the server says it.
QString reuseWaitText(const QString& reuseWait);

// Pages of 8 KB as megabytes: whole when exact, else to one decimal.
QString megabytes(std::int64_t pages);

} // namespace ui
