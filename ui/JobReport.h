// What the log job's message boxes say: the first line as it always was,
// then, when there is something to say, why.
#pragma once

#include "db/LogJob.h"

#include <QString>

namespace ui {

// "数据库清理成功!", then whether the log stayed above the target and why,
// and whether the log backup chain is broken.
QString jobSucceeded(const db::LogJobOutcome& outcome);

// "数据库清理失败!", then the server's message.
QString jobFailed(const QString& serverMessage);

// A reason the server gives for not reusing the log (log_reuse_wait_desc),
// in the user's words; one it does not know stays as the server says it.
QString reuseWaitText(const QString& reuseWait);

} // namespace ui
