// The log's upkeep: BACKUP LOG, DBCC SHRINKFILE, CHECKPOINT, and the recovery
// model that decides what truncates it (ALTER DATABASE ... SET RECOVERY).
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <QDateTime>

#include <algorithm>
#include <climits>

namespace sandbox::sql {

namespace {

// The server's local time, as backup dates are.
DateTime now()
{
    const QDateTime t = QDateTime::currentDateTime();
    return dateTimeFromMs(QDate(1970, 1, 1).daysTo(t.date()) * 86'400'000LL + t.time().msecsSinceStartOfDay());
}

} // namespace

void Executor::execute(const BackupLogStmt& s)
{
    Database& db = backupTarget(s);
    if (s.option == u"DISK")
        backupLogToDisk(db);
    else
        db.logChain = false;  // TRUNCATE_ONLY and NO_LOG break the log backup chain
    db.truncateLog();
    db.reuseWait = db.reuseWaitNow();
    out_.done(DoneKind::Done, 0, curcmd::Backup, 0);
}

// A log backup needs a database backup to follow on from (4214); it copies
// the log in use and records itself in msdb.
void Executor::backupLogToDisk(Database& db)
{
    if (!db.logChain) {
        info(makeMessage(4214));
        throw StatementError{makeMessage(3013, {u"BACKUP LOG"})};
    }
    const DateTime start = now();
    std::int64_t processed = 0;
    for (const DbFile* f : byFileId(db)) {
        if (!f->isLog())
            continue;
        const std::int32_t pages = pagesIn(f->vlfs, VlfState::Inactive) + pagesIn(f->vlfs, VlfState::Active);
        processed += pages;
        info(makeMessage(4035, {toU16(pages), db.name, f->name, u"1"}));
    }
    info(makeMessage(3014, {toU16(processed), u"0.250", u"4.096"}));
    BackupSet& b = catalog_.recordBackup(db, u'L', start, now());
    b.firstLsn = *db.lastLogBackupLsn();
    ++db.logWrites;
    b.lastLsn = std::max(db.endLsn(), b.firstLsn + 1);
    db.nextLogBackupLsn = b.lastLsn;
}

void Executor::execute(const ShrinkFileStmt& s)
{
    Database& db = currentDatabase();
    DbFile* file = nullptr;
    for (DbFile& f : db.files)
        if (s.byId ? f.fileId == s.fileId : sameName(f.name, s.fileName, caseSensitive(db)))
            file = &f;
    if (!file)
        throw StatementError{makeMessage(8985, {s.fileName, db.name})};
    if (file->isLog()) {
        shrinkLogFile(db, *file, s);
        return;
    }
    // A data file keeps its used pages.
    const std::int32_t minimum = std::min(std::max(file->usedPages, 1), file->size);
    // Clamped first, so that no target can overflow when counted in pages.
    const std::int64_t targetMb = s.targetMb ? std::clamp<std::int64_t>(*s.targetMb, 0, INT32_MAX) : 0;
    const std::int64_t target = s.targetMb && !s.truncateOnly ? targetMb * 128 : 0;
    file->size = static_cast<std::int32_t>(std::min<std::int64_t>(file->size, std::max<std::int64_t>(target, minimum)));
    shrinkResult(db, *file, minimum, file->usedPages, minimum, s.noInfoMessages);
}

void Executor::execute(const DbccOtherStmt&)
{ throw StatementError{makeMessage(2526)}; }

// In SIMPLE ('trunc. log on chkpt.') a checkpoint frees the inactive log,
// as a log backup would in the other models.
void Executor::execute(const CheckpointStmt&)
{
    currentDatabase().checkpoint();
    out_.done(DoneKind::Done, 0, curcmd::Use, 0);
}

void Executor::execute(const AlterDatabaseStmt& s)
{
    Database* db = &alterTarget(s);
    // A mirrored database, or one in an availability group, must keep its log.
    if (s.recovery == RecoveryModel::Simple && db->availabilityGroup && hasCatalogViews(generation())) {
        info(makeMessage(1468, {db->name}));
        throw StatementError{makeMessage(5069)};
    }
    db->setRecovery(s.recovery);
    out_.done(DoneKind::Done, 0, curcmd::Use, 0);
}
} // namespace sandbox::sql
