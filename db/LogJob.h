// The tool's one job on one database and one of its files: the
// truncate-at-checkpoint option, then truncating the inactive log and
// shrinking the file to its target, in the texts the server's generation
// understands (see ServerGeneration.h), each statement in autocommit mode.
#pragma once

#include "db/Errors.h"
#include "db/JobCancel.h"
#include "db/ServerGeneration.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace db {

class TADOConnection;
struct ServerMessage;

// Why a file stayed above the target, when it did.
enum class Shortfall {
    None,           // reached it (or nothing explains why not)
    DataFile,       // a data file keeps the pages its data uses
    VlfBoundary,    // a log shrinks in whole VLFs: the first boundary above the target
    Held,           // something keeps the log from being reused (holdReason)
    ActiveAtEnd,    // the active log sits in the VLF at the end of the file
    TwoVlfFloor,    // a log keeps two VLFs, whatever their size (vlfPages)
    ShrinkMessage,  // the shrink's own message says why (2000)
};

// What the job found, read once it had run (also after a failure).
struct LogJobOutcome {
    bool isLog = true;
    std::optional<std::int64_t> sizePages;  // the file's size now; none when it cannot be read
    Shortfall shortfall = Shortfall::None;
    std::u16string holdReason;     // log_reuse_wait_desc as the server spells it
    std::u16string shrinkMessage;  // the shrink's message, for ShrinkMessage
    std::vector<std::int64_t> vlfPages;  // the VLFs left, for TwoVlfFloor
    // The database had a log backup chain, and the job broke it.
    bool chainBroken = false;
    // Set when the database is not in the recovery model the user chose:
    // the model it is in (none when it cannot be read), and what puts it back.
    bool modelNotRestored = false;
    std::optional<RecoveryModel> modelNow;
    std::u16string putBack;
};

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
    std::optional<std::u16string> firstValue(const std::u16string& sql, const std::u16string& column);
    std::optional<RecoveryModel> readModel();
    std::optional<RecoveryModel> modelWithoutTruncation();
    void requireDatabase();
    void setOption(bool on);
    std::vector<ServerMessage> work(const std::u16string& sql, bool* sent = nullptr);
    void truncateAndShrink();
    void putModelBack();
    // The outcome (LogOutcome.cpp).
    bool readHadChain();
    bool chainGone(std::optional<RecoveryModel> now);
    void readOutcome();
    void readShortfall(int fileId);

    TADOConnection& connection_;
    std::u16string database_;
    std::u16string file_;
    Dialect dialect_;
    bool systemLog_;  // tempdb or master: truncated at checkpoints whatever the model
    std::optional<RecoveryModel> wanted_;  // what the user chose, once known
    std::optional<bool> hadChain_;
    bool brokeChain_ = false;  // a statement that breaks the chain may have run (if unreadable)
    bool switched_ = false;    // a switch to SIMPLE for the truncation was sent
    std::vector<ServerMessage> shrinkMessages_;
    LogJobOutcome outcome_;

    mutable std::mutex puttingBackMutex_;
    std::u16string puttingBack_;
    TJobCancel cancel_;
};

} // namespace db
