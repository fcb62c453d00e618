#include "cli/CleanRun.h"

#include "cli/Texts.h"
#include "db/LogJob.h"
#include "db/SqlText.h"
#include "db/texts/Report.h"

namespace cli {

void CleanRun::run(std::vector<ServerClean>& servers)
{
    for (ServerClean& server : servers) {
        if (server.failed()) {
            said_(server, nullptr, nullptr);
            continue;
        }
        for (DatabaseClean& database : server.databases) {
            if (cancelled())
                return;
            if (!database.error.empty()) {
                said_(server, &database, nullptr);
                continue;
            }
            runDatabase(server, database);
        }
    }
}

// The job needs the session in its database, which the plan left elsewhere.
void CleanRun::runDatabase(ServerClean& server, DatabaseClean& database)
{
    try {
        server.connection->Execute(db::sql::useDatabase(database.name));
    } catch (const db::EDatabaseError& e) {
        database.error = e.Message();
        said_(server, &database, nullptr);
        return;
    }
    for (FileJob& job : database.files) {
        if (cancelled())
            return;
        runJob(server, database, job);
    }
}

// As the window's button: the option, then the truncation and the shrink;
// an option that failed is the server's error alone.
void CleanRun::runJob(ServerClean& server, DatabaseClean& database, FileJob& job)
{
    db::TLogJob logJob(*server.connection, database.name, job.file.name);
    if (!begin(&logJob))
        return;
    try {
        logJob.SetTruncateLogOnCheckpoint(database.truncateOnCheckpoint);
        logJob.TruncateAndShrink();
        job.result = FileJob::Result::Succeeded;
        job.text = db::texts::jobSucceeded(logJob.Outcome());
    } catch (const db::EOptionFailed& e) {
        job.result = FileJob::Result::OptionFailed;
        job.text = e.Message();
        job.error = e;
    } catch (const db::EDatabaseError& e) {
        job.result = e.SqlState() == db::CancelledState ? FileJob::Result::Cancelled : FileJob::Result::Failed;
        job.text = db::texts::jobFailed(e, logJob.Outcome(), database.name);
        job.error = e;
    }
    begin(nullptr);
    job.outcome = logJob.Outcome();
    if (job.result == FileJob::Result::Cancelled && !database.systemLog && !job.outcome.modelNotRestored) {
        try {
            database.modelAfterCancel = db::readRecoveryModel(*server.connection, database.name);
        } catch (const db::EDatabaseError&) {
        }
    }
    said_(server, &database, &job);
}

// The job a Ctrl+C reaches from now on (none once it ended); false when a
// Ctrl+C came first and it must not start.
bool CleanRun::begin(db::TLogJob* job)
{
    const std::lock_guard lock(mutex_);
    if (job != nullptr && cancelled_)
        return false;
    running_ = job;
    return true;
}

void CleanRun::interrupt()
{
    std::u16string notice;
    {
        const std::lock_guard lock(mutex_);
        const std::u16string waiting = running_ ? db::texts::jobProgress(*running_) : std::u16string();
        if (!cancelled_) {
            cancelled_ = true;
            if (running_)
                running_->Cancel();
            notice = text::Cancelling;
        } else if (waiting.empty()) {
            notice = text::StillCancelling;
        }
        if (!waiting.empty())
            notice += (notice.empty() ? u"" : u"\n") + waiting + u"\n" + std::u16string(text::StillPuttingBack);
    }
    notice_(notice);
}

bool CleanRun::cancelled() const
{
    const std::lock_guard lock(mutex_);
    return cancelled_;
}

} // namespace cli
