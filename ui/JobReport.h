// The sentences of db/texts/Report.h, each as its namesake there says it,
// as the window's message boxes and busy panel show them.
#pragma once

#include "db/ConnectFailure.h"
#include "db/LogJob.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace db {
class EDatabaseError;
}

namespace ui {

QString jobSucceeded(const db::LogJobOutcome& outcome);
QString jobFailed(const db::EDatabaseError& error, const db::LogJobOutcome& outcome, const QString& database);
QString jobProgress(const db::TLogJob& job);
QString connectFailed(const std::vector<db::ServerMessage>& errors);
QString reuseWaitText(const QString& reuseWait);
QString megabytes(std::int64_t pages);

} // namespace ui
