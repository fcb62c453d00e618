// What the job found once it had run: the file's size and why it is not
// smaller, whether the model is the one the user chose, and whether the log
// backup chain the database had is gone; all read from the server afresh.
#include "db/LogJob.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/FixedValues.h"
#include "db/LogLayout.h"
#include "db/SqlText.h"
#include "db/Variant.h"

#include <algorithm>

namespace db {

namespace {

constexpr std::int64_t PageBytes = 8192;
constexpr std::int64_t TargetPages = sql::ShrinkTargetMb * 128;
constexpr long EndOfLogInUse = 9008;          // DBCC SHRINKFILE: the VLF at the end holds the active log
constexpr std::int32_t LogFileStatus = 0x40;  // sysfiles.status

} // namespace

// Whether the database has a log backup chain, read before the job can
// break it: from 2005 the server says so (a database backup that log backups
// can follow); on 2000, a database outside SIMPLE that msdb records a backup
// of. False when it cannot be read.
bool TLogJob::readHadChain()
{
    try {
        if (dialect_.hasCatalogViews())
            return firstValue(sql::selectLastLogBackup(), u"last_log_backup_lsn").has_value();
        const std::optional<RecoveryModel> model = readModel();
        return model && *model != RecoveryModel::Simple &&
               firstValue(sql::selectBackupHistory(database_), u"backup_set_id").has_value();
    } catch (const EDatabaseError&) {
        return false;
    }
}

// Whether the chain the database had is gone, as the server says it from
// 2005 (last_log_backup_lsn NULL), whatever the job's statements answered: a
// switch to SIMPLE whose answer a cancel or a dropped link took may have
// happened. On 2000, which cannot say, when a truncation may have run or the
// database is SIMPLE (`now`). When the server cannot be read, when the job
// sent something that breaks it.
bool TLogJob::chainGone(std::optional<RecoveryModel> now)
{
    if (!dialect_.hasCatalogViews())
        return brokeChain_ || now == RecoveryModel::Simple;
    try {
        requireDatabase();
        return !firstValue(sql::selectLastLogBackup(), u"last_log_backup_lsn").has_value();
    } catch (const EDatabaseError&) {
        return brokeChain_;
    }
}

// Each part on its own, never throwing: what cannot be read stays unknown.
void TLogJob::readOutcome()
{
    const bool hadChain = hadChain_.value_or(false);
    std::optional<RecoveryModel> now;
    if (wanted_ || hadChain) {
        try {
            now = readModel();
        } catch (const EDatabaseError&) {
        }
    }
    outcome_.chainBroken = hadChain && chainGone(now);
    if (wanted_ && now != wanted_) {
        outcome_.modelNotRestored = true;
        outcome_.modelNow = now;
        outcome_.putBack = sql::setRecoveryModel(database_, *wanted_);
    }
    try {
        requireDatabase();
        TADODataSet query;
        query.SetConnection(&connection_);
        query.SetCommandText(sql::selectFileByName(file_));
        query.Open();
        if (query.RecordCount() == 0)
            return;
        const auto pages = ExactInteger(query.FieldValue(u"size"));
        const auto status = ExactInteger(query.FieldValue(u"status"));
        const auto fileId = ExactInteger(query.FieldValue(u"fileid"));
        if (!pages || !status || !fileId)
            return;  // nothing to say rather than something untrue
        outcome_.sizePages = pages;
        outcome_.isLog = (*status & LogFileStatus) != 0;
        if (*pages > TargetPages)
            readShortfall(static_cast<int>(*fileId));
    } catch (const EDatabaseError&) {
    }
}

void TLogJob::readShortfall(int fileId)
{
    if (!outcome_.isLog) {
        outcome_.shortfall = Shortfall::DataFile;
        return;
    }
    LogShortfall layout = LogShortfall::None;
    std::vector<VirtualLogFile> log;  // every file's
    try {
        TADODataSet query;
        query.SetConnection(&connection_);
        query.SetCommandText(sql::selectLogInfo());
        query.Open();
        std::vector<VirtualLogFile> vlfs;
        bool whole = true;
        for (int i = 0; i < query.RecordCount(); ++i, query.Next()) {
            const auto file = ExactInteger(query.FieldValue(u"FileId"));
            const auto start = ExactInteger(query.FieldValue(u"StartOffset"));
            const auto size = ExactInteger(query.FieldValue(u"FileSize"));
            const auto status = ExactInteger(query.FieldValue(u"Status"));
            whole = whole && file && start && size && status;
            if (!whole)
                break;
            vlfs.push_back({static_cast<int>(*file), *start, *size, *status == 2});
        }
        if (whole) {
            layout = explainShortfall(vlfsOfFile(vlfs, fileId), vlfs.size(), TargetPages * PageBytes);
            log = std::move(vlfs);
        }
    } catch (const EDatabaseError&) {
    }
    if (layout == LogShortfall::VlfBoundary) {
        outcome_.shortfall = Shortfall::VlfBoundary;
        return;
    }
    if (dialect_.hasCatalogViews()) {
        try {
            const std::u16string wait = firstValue(sql::selectLogReuseWait(database_), u"log_reuse_wait_desc")
                                            .value_or(u"");
            if (!fixed::isRoutineReuseWait(wait)) {
                outcome_.shortfall = Shortfall::Held;
                outcome_.holdReason = wait;
                return;
            }
        } catch (const EDatabaseError&) {
        }
    }
    const bool endInUse = std::any_of(shrinkMessages_.begin(), shrinkMessages_.end(),
                                      [](const ServerMessage& m) { return m.number == EndOfLogInUse; });
    if (endInUse || layout == LogShortfall::ActiveAtEnd) {
        outcome_.shortfall = Shortfall::ActiveAtEnd;
        return;
    }
    if (layout == LogShortfall::TwoVlfFloor) {
        outcome_.shortfall = Shortfall::TwoVlfFloor;
        for (const VirtualLogFile& v : log)
            outcome_.vlfPages.push_back(v.size / PageBytes);
        return;
    }
    for (const ServerMessage& m : shrinkMessages_) {
        if (!fixed::isRoutineMessage(m.number)) {
            outcome_.shortfall = Shortfall::ShrinkMessage;
            outcome_.shrinkMessage = m.text;
            return;
        }
    }
}

} // namespace db
