// A database's log: laying out its files, truncation by checkpoints and log
// backups, what keeps it from being reused (log_reuse_wait), its log backup
// chain and msdb's backup history.
#include "sandbox/sql/Catalog.h"

#include <algorithm>

namespace sandbox {

namespace {

// log_reuse_wait_desc by generation (Learn, sys.databases, the page of each
// version, and "The transaction log": 9 is OTHER_TRANSIENT up to 2008 R2).
struct WaitName {
    int value;
    const char16_t* name;
    Generation since = Generation::Sql2005;
    Generation until = Generation::Sql2022;
};

constexpr WaitName WaitNames[] = {
    {0, u"NOTHING"},
    {1, u"CHECKPOINT"},
    {2, u"LOG_BACKUP"},
    {3, u"ACTIVE_BACKUP_OR_RESTORE"},
    {4, u"ACTIVE_TRANSACTION"},
    {5, u"DATABASE_MIRRORING"},
    {6, u"REPLICATION"},
    {7, u"DATABASE_SNAPSHOT_CREATION"},
    {8, u"LOG_SCAN"},
    {9, u"OTHER_TRANSIENT", Generation::Sql2005, Generation::Sql2008R2},
    {9, u"AVAILABILITY_REPLICA", Generation::Sql2012},
    {13, u"OLDEST_PAGE", Generation::Sql2012},
    {14, u"OTHER_TRANSIENT", Generation::Sql2012},
    {16, u"XTP_CHECKPOINT", Generation::Sql2014},
    {17, u"SLOG_SCAN", Generation::Sql2019},
};

// 2000 has no log_reuse_wait: its catalogs name holds as 2005 does.
Generation naming(Generation g) { return std::max(g, Generation::Sql2005); }

std::vector<DbFile*> logFiles(Database& db)
{
    std::vector<DbFile*> logs;
    for (DbFile& f : db.files)
        if (f.isLog())
            logs.push_back(&f);
    std::stable_sort(logs.begin(), logs.end(), [](const DbFile* a, const DbFile* b) { return a->fileId < b->fileId; });
    return logs;
}

} // namespace

const char16_t* reuseWaitName(int value, Generation g)
{
    const char16_t* any = u"";
    for (const WaitName& w : WaitNames) {
        if (w.value != value)
            continue;
        any = w.name;
        if (w.since <= naming(g) && naming(g) <= w.until)
            return w.name;
    }
    return any;
}

std::optional<int> reuseWaitNamed(std::u16string_view name, Generation g)
{
    for (const WaitName& w : WaitNames)
        if (equalsIgnoreCase(name, w.name) && w.since <= naming(g) && naming(g) <= w.until)
            return w.value;
    return std::nullopt;
}

void Database::layOutLogs(Generation g)
{
    std::int32_t next = firstSequence;
    for (DbFile* f : logFiles(*this)) {
        if (f->laidOut()) {
            for (const Vlf& v : f->vlfs)
                next = std::max(next, v.sequence + 1);
            continue;
        }
        // Described the old way, or changed by hand: as if created at its size.
        std::int64_t grown = 0;
        for (const std::int32_t step : f->growths)
            grown += step;
        if (f->created <= 1 || f->created + grown != f->size) {
            f->created = f->size;
            f->growths.clear();
        }
        f->vlfs = layOutLog(f->created, f->growths, g, firstSequence);
        placeLog(f->vlfs, f->logStart, f->inactivePages, f->activePages, next);
        if (f->minimumSize <= 0)
            f->minimumSize = f->created;
    }
}

void Database::truncateLog()
{
    if (hold != LogHold::None)
        return;
    for (DbFile* f : logFiles(*this))
        sandbox::truncateLog(f->vlfs);
}

// Without a log backup chain a FULL database truncates its log at
// checkpoints as SIMPLE does (sandbox/README.md, "pseudo-simple"). A
// checkpoint that finds nothing to free says CHECKPOINT: the head of the log
// has not moved beyond its VLF since the last truncation (Learn, "The
// transaction log").
void Database::checkpoint()
{
    const bool truncates = recovery() == RecoveryModel::Simple || !logChain;
    bool freed = false;
    for (const DbFile& f : files)
        freed = freed || (f.isLog() && pagesIn(f.vlfs, VlfState::Inactive) > 0);
    if (truncates)
        truncateLog();
    ++logWrites;
    reuseWait = reuseWaitNow();
    if (truncates && !freed && reuseWait == 0)
        reuseWait = 1;
}

int Database::reuseWaitNow() const
{
    if (hold != LogHold::None)
        return static_cast<int>(hold);
    bool inactive = false;
    for (const DbFile& f : files)
        inactive = inactive || (f.isLog() && pagesIn(f.vlfs, VlfState::Inactive) > 0);
    if (!inactive)
        return 0;
    return recovery() == RecoveryModel::Simple || !logChain ? 1 : 2;
}

int Database::logReuseWait() const
{
    return hold != LogHold::None ? static_cast<int>(hold) : std::max(reuseWait, 0);
}

std::optional<DecimalLsn> Database::lastLogBackupLsn() const
{
    if (recovery() == RecoveryModel::Simple || !logChain)
        return std::nullopt;
    return nextLogBackupLsn != 0 ? nextLogBackupLsn : endLsn();
}

DecimalLsn Database::endLsn() const
{
    std::int32_t sequence = firstSequence;
    for (const DbFile& f : files)
        if (f.isLog())
            for (const Vlf& v : f.vlfs)
                if (v.state == VlfState::Active)
                    sequence = std::max(sequence, v.sequence);
    return decimalLsn(sequence, 16 + 8 * std::min(logWrites, 1'000'000), 1);
}

DateTime dateTimeFromMs(std::int64_t ms)
{
    constexpr std::int64_t Day = 86'400'000;
    const std::int64_t days = ms >= 0 ? ms / Day : (ms - Day + 1) / Day;
    const std::int64_t rest = ms - days * Day;
    return DateTime{static_cast<std::int32_t>(days + 25567), static_cast<std::uint32_t>(rest * 300 / 1000)};
}

void Catalog::prepare()
{
    for (Database& db : databases) {
        if (db.recovery() == RecoveryModel::Simple)
            db.logChain = false;
        db.layOutLogs(generation);
        if (db.reuseWait < 0)
            db.reuseWait = db.reuseWaitNow();
    }
}

BackupSet& Catalog::recordBackup(const Database& db, char16_t type, DateTime start, DateTime finish)
{
    BackupSet b;
    b.database = db.name;
    b.type = type;
    b.start = start;
    b.finish = finish;
    for (const BackupSet& earlier : backups) {
        b.id = std::max(b.id, earlier.id);
        if (earlier.type == u'D' && sameName(earlier.database, db.name))
            b.databaseBackupLsn = earlier.firstLsn;
    }
    ++b.id;
    backups.push_back(b);
    return backups.back();
}

} // namespace sandbox
