// What a sandbox server holds: databases, their files and log state.
#pragma once

#include "sandbox/sql/Generation.h"
#include "sandbox/sql/Language.h"
#include "sandbox/sql/Names.h"
#include "sandbox/sql/Result.h"
#include "sandbox/sql/VirtualLog.h"

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
    // Log files only. The file's VLFs (sandbox/sql/VirtualLog.h); until the
    // engine lays them out, the log is described by how it came to be: its
    // size at creation (0: `size`) and the pages each growth added, and where
    // its records lie: from page `logStart`, `inactivePages` not yet truncated
    // (freed by a checkpoint in SIMPLE, by a log backup, or by BACKUP LOG ...
    // WITH TRUNCATE_ONLY), then `activePages` of active log, wrapping round.
    std::int32_t created = 0;
    std::vector<std::int32_t> growths;
    std::int32_t logStart = 1;
    std::int32_t activePages = 0;
    std::int32_t inactivePages = 0;
    std::vector<Vlf> vlfs;
    std::int32_t minimumSize = 0;  // DBCC SHRINKFILE's MinimumSize (0: the size at creation)
    // Data files only: pages in use.
    std::int32_t usedPages = 0;

    bool isLog() const { return (status & 0x40) != 0; }
    // Whether `vlfs` describes the file as it is.
    bool laidOut() const { return !vlfs.empty() && vlfs.back().end() == size; }
};

// As sys.databases numbers them.
enum class RecoveryModel { Full = 1, BulkLogged = 2, Simple = 3 };

// What keeps a log from being truncated whatever the recovery model, with
// log_reuse_wait's number; None lets checkpoints and log backups do their work.
// 9 reads OTHER_TRANSIENT before 2012 (see DatabaseLog.cpp).
enum class LogHold {
    None = 0,
    ActiveBackupOrRestore = 3,
    ActiveTransaction = 4,
    DatabaseMirroring = 5,
    Replication = 6,
    DatabaseSnapshotCreation = 7,
    LogScan = 8,
    AvailabilityReplica = 9,
    OldestPage = 13,
    OtherTransient = 14,
    XtpCheckpoint = 16,
    SlogScan = 17,
};

// A row of msdb..backupset.
struct BackupSet {
    std::int32_t id = 0;
    std::u16string database;
    char16_t type = u'D';  // D database, I differential, L log
    DateTime start, finish;
    DecimalLsn firstLsn = 0, lastLsn = 0, databaseBackupLsn = 0;
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
    // A database backup started a log backup chain that still holds: without
    // one, log backups fail (4214) and FULL truncates at checkpoints as SIMPLE does.
    bool logChain = true;
    DecimalLsn nextLogBackupLsn = 0;    // where the next log backup starts (0: from the log)
    // FSeqNo of the first VLF its log used: 40 for a young database; a
    // server up for years has gone past 100,000.
    std::int32_t firstSequence = 40;
    int reuseWait = -1;                 // log_reuse_wait as the last checkpoint found (-1: from the log)
    std::int32_t logWrites = 0;         // moves the log's end on, for LSNs
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

    // The log's inactive VLFs become reusable, unless something holds it.
    void truncateLog();
    // Truncation as a checkpoint does it (SIMPLE, or no log backup chain),
    // then what it found, as log_reuse_wait has it until the next one.
    void checkpoint();
    // What keeps the log from being reused, as a checkpoint now would find it.
    int reuseWaitNow() const;
    // log_reuse_wait: a hold, else what the last checkpoint found.
    int logReuseWait() const;
    // Whether log backups can be taken: sys.database_recovery_status's
    // last_log_backup_lsn, or nothing.
    std::optional<DecimalLsn> lastLogBackupLsn() const;
    // The LSN of the log's end.
    DecimalLsn endLsn() const;
    // Lays out the log files not yet laid out, by the rules of `g`.
    void layOutLogs(Generation g);
};

// A datetime from milliseconds since 1970-01-01 (local time).
DateTime dateTimeFromMs(std::int64_t ms);

const char16_t* recoveryName(RecoveryModel model);  // FULL, BULK_LOGGED, SIMPLE
std::optional<RecoveryModel> recoveryNamed(std::u16string_view name);
// log_reuse_wait_desc for log_reuse_wait `value` on generation `g`.
const char16_t* reuseWaitName(int value, Generation g);
// NOTHING, CHECKPOINT, LOG_BACKUP or a hold, as generation `g` names them.
std::optional<int> reuseWaitNamed(std::u16string_view name, Generation g);
const char16_t* stateName(DatabaseState state);     // as state_desc spells it
std::optional<DatabaseState> stateNamed(std::u16string_view name);
// The sysdatabases.status bit of a state (32 loading, 256 not recovered, 512 offline).
std::int32_t stateStatusBit(DatabaseState state);

struct Catalog {
    std::vector<Database> databases;
    Generation generation = Generation::Sql2000;
    std::u16string collation = u"Chinese_PRC_CI_AS";  // the server's
    // The server's default language, also sa's: what a login that names
    // none gets (a server installed in Chinese has 简体中文).
    Language language = Language::English;
    std::vector<BackupSet> backups;                    // msdb..backupset

    bool caseSensitive() const { return isCaseSensitive(collation); }
    const std::u16string& collationOf(const Database& db) const { return db.collation ? *db.collation : collation; }

    // master, tempdb, model, msdb and two user databases with realistic files.
    static Catalog defaults();
    // Loads a catalog from JSON (see sandbox/README.md); throws std::runtime_error.
    static Catalog fromJsonFile(const std::string& path);
    static Catalog fromJson(const std::string& text);

    Database* find(const std::u16string& name);
    const Database* find(const std::u16string& name) const;

    // What the engine does when it takes a catalog: lays out the logs by the
    // generation's rules; a SIMPLE database has no log backup chain.
    void prepare();
    // Records a backup in msdb..backupset.
    BackupSet& recordBackup(const Database& db, char16_t type, DateTime start, DateTime finish);
};

} // namespace sandbox
