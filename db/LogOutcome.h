// What the job left, read from the server afresh once it has run (also after
// a failure): the file's size and why it is not smaller, whether the
// recovery model is the one the user chose, and whether the log backup
// chain the database had is gone.
#pragma once

#include "db/LogLayout.h"
#include "db/ServerGeneration.h"
#include "db/ServerMessage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace db {

class TADOConnection;

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
    // the model it should be in, the one it is in (none when it cannot be
    // read), and the statement that puts it back.
    bool modelNotRestored = false;
    std::optional<RecoveryModel> wanted;
    std::optional<RecoveryModel> modelNow;
    std::u16string putBack;

    // Whether the file's size is known and above the shrink's target.
    bool aboveTarget() const;
};

// Why a log file stays above its target, from what its VLFs say (`layout`),
// whether something holds the log and whether the shrink found the VLF at
// the end in use: the VLF boundary first (as small as it gets), then the
// hold, then the active log at the end, then the two-VLF floor. The job's
// report afterwards and a forecast beforehand decide by this alike.
Shortfall whyLogStays(LogShortfall layout, bool held, bool endInUse = false);

// What the job knows of itself when it ends, for reading what it left.
struct JobFacts {
    std::u16string database;
    std::u16string file;
    Dialect dialect;
    bool hadChain = false;    // the database had a log backup chain before the job
    bool brokeChain = false;  // a statement that breaks the chain may have run
    std::optional<RecoveryModel> wanted{};  // what the user chose, once known
    std::vector<ServerMessage> shrinkMessages{};
};

// Whether the database has a log backup chain, read before the job can
// break it. False when it cannot be read.
bool readHadChain(TADOConnection& connection, const std::u16string& database, Dialect dialect);

// Each part read on its own, never throwing: what cannot be read stays unknown.
LogJobOutcome readOutcome(TADOConnection& connection, const JobFacts& job);

} // namespace db
