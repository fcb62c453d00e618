#include "JobReport.h"

#include "db/texts/Report.h"

namespace ui {

namespace {

QString qstr(const std::u16string& text) { return QString::fromStdU16String(text); }

} // namespace

QString jobSucceeded(const db::LogJobOutcome& outcome) { return qstr(db::texts::jobSucceeded(outcome)); }

QString jobFailed(const db::EDatabaseError& error, const db::LogJobOutcome& outcome, const QString& database)
{
    return qstr(db::texts::jobFailed(error, outcome, database.toStdU16String()));
}

QString jobProgress(const db::TLogJob& job) { return qstr(db::texts::jobProgress(job)); }

QString connectFailed(const std::vector<db::ServerMessage>& errors) { return qstr(db::texts::connectFailed(errors)); }

QString reuseWaitText(const QString& reuseWait) { return qstr(db::texts::reuseWaitText(reuseWait.toStdU16String())); }

QString megabytes(std::int64_t pages) { return qstr(db::texts::megabytes(pages)); }

} // namespace ui
