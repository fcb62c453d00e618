#include "db/LogJob.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
#include "db/LogLayout.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "db/Variant.h"

#include <algorithm>
#include <utility>

namespace db {

namespace {

constexpr std::int64_t PageBytes = 8192;
constexpr std::int64_t PagesPerMb = 128;
constexpr std::int64_t TargetPages = sql::ShrinkTargetMb * PagesPerMb;
constexpr long EndOfLogInUse = 9008;  // DBCC SHRINKFILE: the VLF at the end holds the active log
constexpr std::int32_t LogFileStatus = 0x40;  // sysfiles.status
constexpr std::int64_t SelectIntoBulkCopy = 4;   // sysdatabases.status: 'select into/bulkcopy'

// The database's model, for putting it back; SIMPLE counts as none.
std::optional<RecoveryModel> modelToKeep(RecoveryModel model)
{
    return model == RecoveryModel::Simple ? std::nullopt : std::optional(model);
}

// Sets the connection's command time-out for a while: none for the job's
// statements, which may take minutes on a real server.
class CommandTimeout {
public:
    CommandTimeout(TADOConnection& connection, int seconds)
        : connection_(connection), before_(connection.CommandTimeout())
    {
        connection_.SetCommandTimeout(seconds);
    }
    ~CommandTimeout() { connection_.SetCommandTimeout(before_); }
    CommandTimeout(const CommandTimeout&) = delete;
    CommandTimeout& operator=(const CommandTimeout&) = delete;

private:
    TADOConnection& connection_;
    int before_;
};

} // namespace

bool TruncatesAtEveryCheckpoint(const std::u16string& database)
{
    const std::u16string name = sql::stripTrailingBlanks(database);
    return SameText(name, u"tempdb") || SameText(name, u"master");
}

bool TruncatesLogOnCheckpoint(TADOConnection& connection, const std::u16string& database)
{
    if (TruncatesAtEveryCheckpoint(database))
        return true;
    TADODataSet query;
    query.SetConnection(&connection);
    query.SetCommandText(sql::selectRecoveryModel(database));
    query.Open();
    if (query.RecordCount() == 0 || query.FieldValue(u"recovery_model").IsNull())
        return false;
    return recoveryModelNamed(VarToStr(query.FieldValue(u"recovery_model"))) == RecoveryModel::Simple;
}

TLogJob::TLogJob(TADOConnection& connection, std::u16string database, std::u16string file)
    : connection_(connection)
    , database_(sql::stripTrailingBlanks(database))
    , file_(std::move(file))
    , dialect_(connection.ServerVersion())
    , systemLog_(TruncatesAtEveryCheckpoint(database_))
{
}

// The column of the query's first row, trimmed; none without a row or for NULL.
std::optional<std::u16string> TLogJob::firstValue(const std::u16string& sql, const std::u16string& column)
{
    TADODataSet query;
    query.SetConnection(&connection_);
    query.SetCommandText(sql);
    query.Open();
    if (query.RecordCount() == 0 || query.FieldValue(column).IsNull())
        return std::nullopt;
    return Trim(VarToStr(query.FieldValue(column)));
}

std::optional<RecoveryModel> TLogJob::readModel()
{
    const auto name = firstValue(sql::selectRecoveryModel(database_), u"recovery_model");
    return name ? recoveryModelNamed(*name) : std::nullopt;
}

// The shrink and everything read after it act on the session's database:
// never on another one the session may have ended up in.
void TLogJob::requireDatabase()
{
    if (connection_.CurrentDatabase() != database_)
        throw EDatabaseError(u"The connection is not in database '" + database_ + u"'");
}

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

void TLogJob::SetTruncateLogOnCheckpoint(bool on)
{
    requireDatabase();
    hadChain_ = !systemLog_ && readHadChain();
    if (systemLog_)
        return;
    const CommandTimeout unlimited(connection_, 0);
    setCancellable(true);
    try {
        setOption(on);
    } catch (...) {
        setCancellable(false);
        throw;
    }
    setCancellable(false);
}

void TLogJob::setOption(bool on)
{
    if (dialect_.truncatesWithBackupLog()) {
        const std::optional<RecoveryModel> before = readModel();
        work(sql::setTruncLogOnCheckpoint(database_, on));
        if (on) {
            wanted_ = RecoveryModel::Simple;
            brokeChain_ = true;
        } else if (before) {
            wanted_ = *before == RecoveryModel::Simple ? modelWithoutTruncation() : before;
        }
        return;
    }
    const std::optional<RecoveryModel> model = readModel();
    if (!model)
        throw EDatabaseError(u"The recovery model of database '" + database_ + u"' cannot be read");
    if (on && *model != RecoveryModel::Simple) {
        work(sql::setRecoveryModel(database_, RecoveryModel::Simple));
        brokeChain_ = true;
    } else if (!on && *model == RecoveryModel::Simple) {
        work(sql::setRecoveryModel(database_, RecoveryModel::Full));
    }
    wanted_ = on ? RecoveryModel::Simple : (*model == RecoveryModel::Simple ? RecoveryModel::Full : *model);
}

// The model 'trunc. log on chkpt.' cleared leaves: BULK_LOGGED with 'select
// into/bulkcopy', else FULL (SQL Server 2000 Books Online, "Selecting a
// Recovery Model"). None when the options cannot be read.
std::optional<RecoveryModel> TLogJob::modelWithoutTruncation()
{
    try {
        const auto status = firstValue(sql::selectDatabaseStatus(database_), u"status");
        const auto bits = status ? ExactInteger(Variant::FromText(*status)) : std::nullopt;
        if (!bits)
            return std::nullopt;
        return (*bits & SelectIntoBulkCopy) != 0 ? RecoveryModel::BulkLogged : RecoveryModel::Full;
    } catch (const EDatabaseError&) {
        return std::nullopt;
    }
}

void TLogJob::setCancellable(bool on)
{
    std::lock_guard lock(cancelMutex_);
    cancellable_ = on;
}

void TLogJob::Cancel()
{
    std::lock_guard lock(cancelMutex_);
    cancelRequested_ = true;
    if (cancellable_)
        connection_.Cancel();
}

// One statement of the work proper: not sent once a cancel was asked for.
std::vector<ServerMessage> TLogJob::work(const std::u16string& sql)
{
    {
        std::lock_guard lock(cancelMutex_);
        if (cancelRequested_)
            throw EDatabaseError(u"Operation canceled", "HY008");
    }
    return connection_.Execute(sql);
}

void TLogJob::truncateAndShrink()
{
    if (systemLog_) {
        requireDatabase();
        shrinkMessages_ = work(sql::checkpointAndShrink(file_));
        return;
    }
    if (dialect_.truncatesWithBackupLog()) {
        requireDatabase();
        try {
            shrinkMessages_ = work(sql::truncateAndShrink(database_, file_));
        } catch (const EDatabaseError&) {
            // BACKUP reports its every failure with 3013: without it, the
            // log was truncated before whatever else failed.
            const auto& errors = connection_.Errors();
            if (std::none_of(errors.begin(), errors.end(), [](const ServerMessage& m) { return m.number == 3013; }))
                brokeChain_ = true;
            throw;
        }
        brokeChain_ = true;
        return;
    }
    const std::optional<RecoveryModel> keep = modelToKeep(wanted_.value_or(RecoveryModel::Simple));
    if (keep) {
        // A switch whose answer was lost (a cancel, a dropped link) may still
        // have happened: the put-back runs whenever it may have.
        switched_ = true;
        work(sql::setRecoveryModel(database_, RecoveryModel::Simple));
        brokeChain_ = true;
    }
    requireDatabase();
    shrinkMessages_ = work(sql::checkpointAndShrink(file_));
}

// Twice at most: a link that dropped is reopened by the first attempt's
// failure, in the job's database, for the second.
void TLogJob::putModelBack()
{
    const std::u16string statement = sql::setRecoveryModel(database_, *wanted_);
    for (int attempt = 1;; ++attempt) {
        try {
            connection_.Execute(statement);
            return;
        } catch (const EDatabaseError&) {
            if (attempt == 2 || connection_.Connected())
                throw;
        }
    }
}

void TLogJob::TruncateAndShrink()
{
    std::exception_ptr failure;
    {
        const CommandTimeout unlimited(connection_, 0);
        setCancellable(true);
        try {
            truncateAndShrink();
        } catch (const EDatabaseError&) {
            failure = std::current_exception();
        }
        setCancellable(false);
        if (switched_) {
            try {
                putModelBack();
            } catch (const EDatabaseError&) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
    }
    readOutcome();
    if (failure)
        std::rethrow_exception(failure);
    if (outcome_.modelNotRestored)
        throw EDatabaseError(u"The recovery model of database '" + database_ + u"' could not be put back");
}

// Each part on its own, never throwing: what cannot be read stays unknown.
void TLogJob::readOutcome()
{
    outcome_.chainBroken = hadChain_.value_or(false) && brokeChain_;
    if (wanted_) {
        std::optional<RecoveryModel> now;
        try {
            now = readModel();
        } catch (const EDatabaseError&) {
        }
        if (now != wanted_) {
            outcome_.modelNotRestored = true;
            outcome_.modelNow = now;
            outcome_.putBack = sql::setRecoveryModel(database_, *wanted_);
        }
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
