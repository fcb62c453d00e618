// The tool's one job on one database and one of its files: the
// truncate-at-checkpoint option, then truncating the inactive log and
// shrinking the file to its target, in the texts the server's generation
// understands (see ServerGeneration.h).
#pragma once

#include "db/ServerGeneration.h"
#include "db/SqlText.h"

#include <optional>
#include <string>

namespace db {

class TADOConnection;

// What the job found once it had succeeded, for the message that says so.
struct LogJobOutcome {
    // The file's size after the shrink when it is still above the target
    // (whole megabytes, rounded up); none when it reached the target.
    std::optional<int> sizeAboveTargetMb;
    // Why the log could not be reused, as the server says it: from 2005
    // log_reuse_wait_desc (LOG_BACKUP, ACTIVE_TRANSACTION, ...); on 2000 the
    // shrink's own informational message.
    std::u16string reuseWait;
    std::u16string shrinkMessage;
    // The recovery model the database ends in; none when it could not be read.
    std::optional<RecoveryModel> model;
};

class TLogJob {
public:
    // The connection must be open and in the job's database (USE).
    TLogJob(TADOConnection& connection, std::u16string database, std::u16string file);

    // Sets the database to truncate its log at every checkpoint, or not: on
    // 2000 and 2005 with sp_dboption, from 2008 through the recovery model
    // (SIMPLE when on; FULL again when off and the database is SIMPLE,
    // FULL and BULK_LOGGED being left as they are).
    void SetTruncateLogOnCheckpoint(bool on);

    // One batch, for the caller's transaction: truncate the inactive log and
    // shrink the file. Throws the server's first error.
    void TruncateAndShrink();

    // What the job left behind, read from the server after the transaction;
    // never throws (what cannot be read stays empty).
    LogJobOutcome Outcome();

private:
    std::optional<std::u16string> firstValue(const std::u16string& sql, const std::u16string& column);
    std::optional<RecoveryModel> readModel();
    std::optional<int> sizeAboveTargetMb();
    std::u16string reuseWait();

    TADOConnection& connection_;
    std::u16string database_;
    std::u16string file_;
    Dialect dialect_;
    std::optional<RecoveryModel> model_;  // as the option step left it
    std::u16string shrinkMessage_;
};

} // namespace db
