// The tool's one job on one database and one of its files: the
// truncate-at-checkpoint option, then truncating the inactive log and
// shrinking the file to its target, in the texts the server's generation
// understands (see ServerGeneration.h), each statement in autocommit mode.
#pragma once

#include "db/Errors.h"
#include "db/JobCancel.h"
#include "db/LogOutcome.h"
#include "db/ServerGeneration.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace db {

class TADOConnection;

// tempdb and master truncate their log at every checkpoint whatever their
// recovery model says (tempdb is always SIMPLE; master takes no log backups,
// so it runs as SIMPLE), and neither has a log backup chain: the job leaves
// their model alone and truncates with a checkpoint.
bool TruncatesAtEveryCheckpoint(const std::u16string& database);

// Whether the database truncates its log at every checkpoint now (SIMPLE, or
// one of the two above), as the check box shows it. The connection must be open.
bool TruncatesLogOnCheckpoint(TADOConnection& connection, const std::u16string& database);

// The option step failed on its own (the server refused it, the link went):
// the failure is the server's, not the job's report's. A cancel the user
// asked for is not one of these.
class EOptionFailed : public EDatabaseError {
public:
    explicit EOptionFailed(const EDatabaseError& error) : EDatabaseError(error) {}
};

class TLogJob {
public:
    // The connection must be open and in the job's database.
    TLogJob(TADOConnection& connection, std::u16string database, std::u16string file);

    // Sets the database to truncate its log at every checkpoint, or not,
    // without a command time-out: on
    // 2000 and 2005 with sp_dboption, from 2008 through the recovery model
    // (SIMPLE when on; FULL when off and the database is SIMPLE, FULL and
    // BULK_LOGGED being left as they are). tempdb and master keep theirs.
    // Throws EOptionFailed when it failed, nothing more sent; after a cancel,
    // reads the outcome and throws "Operation canceled".
    void SetTruncateLogOnCheckpoint(bool on);

    // Truncates the inactive log without a backup and shrinks the file,
    // without a command time-out. A database switched to SIMPLE for the
    // truncation is put back in a statement of its own whatever happened
    // (reconnecting if the link dropped). Then reads the outcome. Throws the
    // first error, or the failure to put the model back.
    void TruncateAndShrink();

    // Asks to stop: the statement running gets an attention (from a thread
    // of the job's own), none after it is sent, and a statement that ran
    // meanwhile counts as cancelled whatever it answered. Putting the model
    // back is never cancelled. Returns at once; safe at any time, from any
    // thread.
    void Cancel();

    // While the model is being put back: the statement that does it; else
    // empty. Safe from any thread.
    std::u16string PuttingBack() const;

    const LogJobOutcome& Outcome() const { return outcome_; }

private:
    std::optional<RecoveryModel> modelWithoutTruncation();
    void setOption(bool on);
    void truncateAndShrink();
    void putModelBack();
    void setPuttingBack(std::u16string statement);

    TADOConnection& connection_;
    JobFacts facts_;
    bool systemLog_;  // tempdb or master: truncated at checkpoints whatever the model
    bool switched_ = false;  // a switch to SIMPLE for the truncation was sent
    LogJobOutcome outcome_;

    mutable std::mutex puttingBackMutex_;
    std::u16string puttingBack_;
    TJobCancel cancel_;
};

} // namespace db
