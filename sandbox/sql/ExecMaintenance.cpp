// The log's upkeep: BACKUP LOG, DBCC SHRINKFILE, CHECKPOINT, and the recovery
// model that decides what truncates it (ALTER DATABASE ... SET RECOVERY).
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <algorithm>
#include <climits>

namespace sandbox::sql {

namespace {

// Log space is freed and shrunk in whole virtual log files; the sandbox
// gives every log 512 KB ones (SQL Server sizes them by growth step).
constexpr std::int32_t VlfPages = 64;

} // namespace

void Executor::execute(const BackupLogStmt& s)
{
    Database& db = backupTarget(s);
    if (s.option == u"DISK") {
        std::int64_t processed = 0;
        for (const DbFile& f : db.files) {
            if (!f.isLog())
                continue;
            processed += f.inactivePages + f.activePages;
            info(makeMessage(4035, {toU16(f.inactivePages + f.activePages), db.name, f.name, u"1"}));
        }
        info(makeMessage(3014, {toU16(processed), u"0.250", u"4.096"}));
    }
    db.truncateLog();
    out_.done(DoneKind::Done, 0, curcmd::Backup, 0);
}

std::int32_t Executor::roundUp(std::int64_t pages, std::int32_t unit)
{
    return static_cast<std::int32_t>((pages + unit - 1) / unit * unit);
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

    std::int32_t minimum = 0;
    std::int32_t used = 0;
    if (file->isLog()) {
        used = file->activePages + file->inactivePages;
        minimum = std::max(2 * VlfPages, roundUp(used, VlfPages));
    } else {
        used = file->usedPages;
        minimum = std::max(used, 1);
    }
    minimum = std::min(minimum, file->size);
    // Clamped first, so that no target can overflow when counted in pages.
    const std::int64_t targetMb = s.targetMb ? std::clamp<std::int64_t>(*s.targetMb, 0, INT32_MAX) : 0;
    const std::int64_t target = s.targetMb && !s.truncateOnly ? targetMb * 128 : 0;
    const std::int32_t newSize =
        static_cast<std::int32_t>(std::min<std::int64_t>(file->size, std::max<std::int64_t>(target, minimum)));
    if (file->isLog() && newSize > target && s.targetMb && !s.truncateOnly && !s.noInfoMessages)
        info(makeMessage(9008, {toU16(file->fileId), file->name}));
    file->size = newSize;

    out_.columns({{u"DbId", SqlType::SmallInt, 0, false},
                  {u"FileId", SqlType::SmallInt, 0, false},
                  {u"CurrentSize", SqlType::Int, 0, false},
                  {u"MinimumSize", SqlType::Int, 0, false},
                  {u"UsedPages", SqlType::Int, 0, false},
                  {u"EstimatedPages", SqlType::Int, 0, false}});
    out_.row({std::int64_t{db.dbId}, std::int64_t{file->fileId}, std::int64_t{newSize}, std::int64_t{minimum},
              std::int64_t{used}, std::int64_t{minimum}});
    if (!s.noInfoMessages)
        info(makeMessage(2528));
    doneRows(curcmd::Dbcc, 1);
}

void Executor::execute(const DbccOtherStmt&)
{ throw StatementError{makeMessage(2526)}; }

// In SIMPLE ('trunc. log on chkpt.') a checkpoint frees the inactive log,
// as a log backup would in the other models.
void Executor::execute(const CheckpointStmt&)
{
    Database& db = currentDatabase();
    if (db.recovery() == RecoveryModel::Simple)
        db.truncateLog();
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
