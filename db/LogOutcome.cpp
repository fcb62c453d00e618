#include "db/LogOutcome.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/DatabaseReads.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
#include "db/LogLayout.h"
#include "db/SqlText.h"
#include "db/Variant.h"

#include <algorithm>

namespace db {

namespace {

constexpr std::int64_t TargetPages = sql::ShrinkTargetMb * fixed::PagesPerMb;
constexpr long EndOfLogInUse = 9008;          // DBCC SHRINKFILE: the VLF at the end holds the active log
constexpr std::int64_t ActiveVlf = 2;         // DBCC LOGINFO's Status of a VLF that holds active log

// Whether the chain the database had is gone, as the server says it from
// 2005 (last_log_backup_lsn NULL), whatever the job's statements answered: a
// switch to SIMPLE whose answer a cancel or a dropped link took may have
// happened. On 2000, which cannot say, when a truncation may have run or the
// database is SIMPLE (`now`). When the server cannot be read, when the job
// sent something that breaks it.
bool chainGone(TADOConnection& connection, const JobFacts& job, std::optional<RecoveryModel> now)
{
    if (!job.dialect.hasCatalogViews())
        return job.brokeChain || now == RecoveryModel::Simple;
    try {
        requireDatabase(connection, job.database);
        return !firstValue(connection, sql::selectLastLogBackup(), u"last_log_backup_lsn").has_value();
    } catch (const EDatabaseError&) {
        return job.brokeChain;
    }
}

void readModelAndChain(TADOConnection& connection, const JobFacts& job, LogJobOutcome& outcome)
{
    std::optional<RecoveryModel> now;
    if (job.wanted || job.hadChain) {
        try {
            now = readRecoveryModel(connection, job.database);
        } catch (const EDatabaseError&) {
        }
    }
    outcome.chainBroken = job.hadChain && chainGone(connection, job, now);
    if (job.wanted && now != job.wanted) {
        outcome.modelNotRestored = true;
        outcome.wanted = job.wanted;
        outcome.modelNow = now;
        outcome.putBack = sql::setRecoveryModel(job.database, *job.wanted);
    }
}

// Every VLF of the log, in every file, as DBCC LOGINFO lists them; none when
// they cannot all be read whole.
std::optional<std::vector<VirtualLogFile>> readVlfs(TADOConnection& connection)
{
    try {
        TADODataSet query;
        query.SetConnection(&connection);
        query.SetCommandText(sql::selectLogInfo());
        query.Open();
        std::vector<VirtualLogFile> vlfs;
        for (int i = 0; i < query.RecordCount(); ++i, query.Next()) {
            const auto file = ExactInteger(query.FieldValue(u"FileId"));
            const auto start = ExactInteger(query.FieldValue(u"StartOffset"));
            const auto size = ExactInteger(query.FieldValue(u"FileSize"));
            const auto status = ExactInteger(query.FieldValue(u"Status"));
            if (!file || !start || !size || !status)
                return std::nullopt;
            vlfs.push_back({static_cast<int>(*file), *start, *size, *status == ActiveVlf});
        }
        return vlfs;
    } catch (const EDatabaseError&) {
        return std::nullopt;
    }
}

// What keeps the log from being reused (log_reuse_wait_desc, from 2005),
// when it holds anything.
std::optional<std::u16string> readHold(TADOConnection& connection, const JobFacts& job)
{
    if (!job.dialect.hasCatalogViews())
        return std::nullopt;
    try {
        const std::u16string wait =
            firstValue(connection, sql::selectLogReuseWait(job.database), u"log_reuse_wait_desc").value_or(u"");
        if (!fixed::isRoutineReuseWait(wait))
            return wait;
    } catch (const EDatabaseError&) {
    }
    return std::nullopt;
}

// What the shrink said that a routine message does not: its first such message.
const ServerMessage* tellingMessage(const std::vector<ServerMessage>& messages)
{
    const auto it = std::find_if(messages.begin(), messages.end(),
                                 [](const ServerMessage& m) { return !fixed::isRoutineMessage(m.number); });
    return it == messages.end() ? nullptr : &*it;
}

// Why a log file stayed above the target: its VLFs, what holds the log (not
// read when the layout alone says it), the shrink's own words last.
void explainLog(TADOConnection& connection, const JobFacts& job, int fileId, LogJobOutcome& outcome)
{
    const auto vlfs = readVlfs(connection);
    const LogShortfall layout =
        vlfs ? explainShortfall(vlfsOfFile(*vlfs, fileId), vlfs->size(), TargetPages * fixed::PageBytes)
             : LogShortfall::None;
    const auto& shrink = job.shrinkMessages;
    const bool endInUse = std::any_of(shrink.begin(), shrink.end(),
                                      [](const ServerMessage& m) { return m.number == EndOfLogInUse; });
    std::optional<std::u16string> hold;
    if (layout != LogShortfall::VlfBoundary)
        hold = readHold(connection, job);
    outcome.shortfall = whyLogStays(layout, hold.has_value(), endInUse);
    if (outcome.shortfall == Shortfall::Held) {
        outcome.holdReason = std::move(*hold);
    } else if (outcome.shortfall == Shortfall::TwoVlfFloor) {
        for (const VirtualLogFile& v : *vlfs)
            outcome.vlfPages.push_back(v.size / fixed::PageBytes);
    } else if (outcome.shortfall == Shortfall::None) {
        if (const ServerMessage* m = tellingMessage(shrink)) {
            outcome.shortfall = Shortfall::ShrinkMessage;
            outcome.shrinkMessage = m->text;
        }
    }
}

void readFile(TADOConnection& connection, const JobFacts& job, LogJobOutcome& outcome)
{
    requireDatabase(connection, job.database);
    TADODataSet query;
    query.SetConnection(&connection);
    query.SetCommandText(sql::selectFileByName(job.file));
    query.Open();
    if (query.RecordCount() == 0)
        return;
    const auto pages = ExactInteger(query.FieldValue(u"size"));
    const auto status = ExactInteger(query.FieldValue(u"status"));
    const auto fileId = ExactInteger(query.FieldValue(u"fileid"));
    if (!pages || !status || !fileId)
        return;  // nothing to say rather than something untrue
    outcome.sizePages = pages;
    outcome.isLog = (*status & fixed::LogFileStatus) != 0;
    if (!outcome.aboveTarget())
        return;
    if (outcome.isLog)
        explainLog(connection, job, static_cast<int>(*fileId), outcome);
    else
        outcome.shortfall = Shortfall::DataFile;
}

} // namespace

Shortfall whyLogStays(LogShortfall layout, bool held, bool endInUse)
{
    if (layout == LogShortfall::VlfBoundary)
        return Shortfall::VlfBoundary;
    if (held)
        return Shortfall::Held;
    if (endInUse || layout == LogShortfall::ActiveAtEnd)
        return Shortfall::ActiveAtEnd;
    if (layout == LogShortfall::TwoVlfFloor)
        return Shortfall::TwoVlfFloor;
    return Shortfall::None;
}

bool LogJobOutcome::aboveTarget() const { return sizePages && *sizePages > TargetPages; }

// From 2005 the server says so (a database backup that log backups can
// follow); on 2000, a database outside SIMPLE that msdb records a backup of.
bool readHadChain(TADOConnection& connection, const std::u16string& database, Dialect dialect)
{
    try {
        if (dialect.hasCatalogViews())
            return firstValue(connection, sql::selectLastLogBackup(), u"last_log_backup_lsn").has_value();
        const std::optional<RecoveryModel> model = readRecoveryModel(connection, database);
        return model && *model != RecoveryModel::Simple &&
               firstValue(connection, sql::selectBackupHistory(database), u"backup_set_id").has_value();
    } catch (const EDatabaseError&) {
        return false;
    }
}

LogJobOutcome readOutcome(TADOConnection& connection, const JobFacts& job)
{
    LogJobOutcome outcome;
    readModelAndChain(connection, job, outcome);
    try {
        readFile(connection, job, outcome);
    } catch (const EDatabaseError&) {
    }
    return outcome;
}

} // namespace db
