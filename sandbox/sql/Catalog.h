// What a sandbox server holds: databases, their files and log state.
#pragma once

#include "sandbox/sql/Generation.h"
#include "sandbox/sql/Names.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace sandbox {

struct DbFile {
    std::int16_t fileId = 1;
    std::int16_t groupId = 1;   // 0 for log files
    std::int32_t size = 0;      // 8 KB pages
    std::int32_t maxSize = -1;  // pages; -1 unlimited, 0 no growth
    std::int32_t growth = 10;   // pages, or percent when status has 0x100000
    std::int32_t status = 0x2;  // 0x2 disk file, 0x40 log file, 0x100000 percent growth
    std::int32_t perf = 0;
    std::u16string name;        // logical name, unpadded here
    std::u16string fileName;    // physical path, unpadded here
    // Log files only: pages holding active log (what a shrink can never free)
    // and pages of inactive log not yet truncated (freed by a checkpoint in
    // SIMPLE, by a log backup, or by BACKUP LOG ... WITH TRUNCATE_ONLY); the
    // rest of the file is reusable.
    std::int32_t activePages = 0;
    std::int32_t inactivePages = 0;
    // Data files only: pages in use.
    std::int32_t usedPages = 0;

    bool isLog() const { return (status & 0x40) != 0; }
};

// As sys.databases numbers them.
enum class RecoveryModel { Full = 1, BulkLogged = 2, Simple = 3 };

// What keeps a log from being truncated whatever the recovery model, with
// log_reuse_wait's number; None lets checkpoints and log backups do their work.
enum class LogHold {
    None = 0,
    ActiveBackupOrRestore = 3,
    ActiveTransaction = 4,
    DatabaseMirroring = 5,
    Replication = 6,
    AvailabilityReplica = 9,
};

// As sys.databases.state numbers them; USE and logins are refused in all but
// ONLINE.
enum class DatabaseState { Online = 0, Restoring = 1, Suspect = 4, Offline = 6 };

struct Database {
    std::int16_t dbId = 5;
    std::u16string name;
    std::int32_t status = 16;   // bit 8: trunc. log on chkpt. (SIMPLE); bit 4: select into/bulkcopy
    std::int32_t status2 = 0;
    std::int16_t mode = 0;
    std::int16_t cmptLevel = 0; // 0: the generation's own
    std::int16_t version = 0;   // 0: the generation's own
    DatabaseState state = DatabaseState::Online;
    std::optional<std::u16string> collation;  // none: the server's
    LogHold hold = LogHold::None;
    bool availabilityGroup = false;  // in an availability group or mirroring session
    std::vector<DbFile> files;

    static constexpr std::int32_t TruncLogOnChkpt = 8;
    static constexpr std::int32_t SelectIntoBulkCopy = 4;
    static constexpr std::int32_t SingleUser = 4096;  // one connection at a time
    bool singleUser() const { return (status & SingleUser) != 0; }
    bool truncLogOnCheckpoint() const { return (status & TruncLogOnChkpt) != 0; }

    // The model is kept in the status bits, as SQL Server 2000 kept it, so
    // that sp_dboption and ALTER DATABASE always agree.
    RecoveryModel recovery() const;
    void setRecovery(RecoveryModel model);

    // The log's inactive part becomes reusable, unless something holds it.
    void truncateLog();
    // What keeps the log from being reused now: log_reuse_wait's number and
    // log_reuse_wait_desc.
    std::pair<int, const char16_t*> logReuseWait() const;
};

const char16_t* recoveryName(RecoveryModel model);  // FULL, BULK_LOGGED, SIMPLE
std::optional<RecoveryModel> recoveryNamed(std::u16string_view name);
const char16_t* holdName(LogHold hold);             // as log_reuse_wait_desc spells it
std::optional<LogHold> holdNamed(std::u16string_view name);
const char16_t* stateName(DatabaseState state);     // as state_desc spells it
std::optional<DatabaseState> stateNamed(std::u16string_view name);
// The sysdatabases.status bit of a state (32 loading, 256 not recovered, 512 offline).
std::int32_t stateStatusBit(DatabaseState state);

struct Catalog {
    std::vector<Database> databases;
    Generation generation = Generation::Sql2000;
    std::u16string collation = u"Chinese_PRC_CI_AS";  // the server's

    bool caseSensitive() const { return isCaseSensitive(collation); }
    const std::u16string& collationOf(const Database& db) const { return db.collation ? *db.collation : collation; }

    // master, tempdb, model, msdb and two user databases with realistic files.
    static Catalog defaults();
    // Loads a catalog from JSON (see sandbox/README.md); throws std::runtime_error.
    static Catalog fromJsonFile(const std::string& path);
    static Catalog fromJson(const std::string& text);

    Database* find(const std::u16string& name);
    const Database* find(const std::u16string& name) const;
};

} // namespace sandbox
