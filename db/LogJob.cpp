#include "db/LogJob.h"

#include "db/AdoConnection.h"
#include "db/DatabaseReads.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "db/Variant.h"

#include <algorithm>
#include <utility>

namespace db {

namespace {

constexpr std::int64_t SelectIntoBulkCopy = 4;  // sysdatabases.status: 'select into/bulkcopy'
constexpr long BackupFailed = 3013;             // BACKUP's every failure ends with it

// What the user's choice asks of a database in model `now`: SIMPLE when on;
// off, a SIMPLE database goes to what `leavingSimple` names, the others stay.
template <typename LeavingSimple>
std::optional<RecoveryModel> wantedModel(bool on, std::optional<RecoveryModel> now, LeavingSimple leavingSimple)
{
    if (on)
        return RecoveryModel::Simple;
    if (now == RecoveryModel::Simple)
        return leavingSimple();
    return now;
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
    return std::any_of(fixed::CheckpointTruncatedDatabases.begin(), fixed::CheckpointTruncatedDatabases.end(),
                       [&name](std::u16string_view system) { return SameText(name, system); });
}

bool TruncatesLogOnCheckpoint(TADOConnection& connection, const std::u16string& database)
{
    return TruncatesAtEveryCheckpoint(database) || readRecoveryModel(connection, database) == RecoveryModel::Simple;
}

TLogJob::TLogJob(TADOConnection& connection, std::u16string database, std::u16string file)
    : connection_(connection)
    , facts_{.database = sql::stripTrailingBlanks(database),
             .file = std::move(file),
             .dialect = Dialect(connection.ServerVersion())}
    , systemLog_(TruncatesAtEveryCheckpoint(facts_.database))
    , cancel_(connection)
{
}

void TLogJob::SetTruncateLogOnCheckpoint(bool on)
{
    try {
        requireDatabase(connection_, facts_.database);
        facts_.hadChain = !systemLog_ && readHadChain(connection_, facts_.database, facts_.dialect);
        if (systemLog_)
            return;
        const CommandTimeout unlimited(connection_, 0);
        setOption(on);
    } catch (const EDatabaseError& e) {
        // A failure after the user asked to cancel is the cancel's.
        if (!cancel_.Requested())
            throw EOptionFailed(e);
        outcome_ = readOutcome(connection_, facts_);
        throw cancelledError();
    }
}

void TLogJob::setOption(bool on)
{
    const std::u16string& database = facts_.database;
    const std::optional<RecoveryModel> before = readRecoveryModel(connection_, database);
    if (facts_.dialect.truncatesWithBackupLog()) {
        cancel_.Execute(sql::setTruncLogOnCheckpoint(database, on));
        facts_.wanted = wantedModel(on, before, [this] { return modelWithoutTruncation(); });
        return;
    }
    if (!before)
        throw EDatabaseError(u"The recovery model of database '" + database + u"' cannot be read");
    const std::optional<RecoveryModel> wanted = wantedModel(on, before, [] { return RecoveryModel::Full; });
    if (wanted != before)
        cancel_.Execute(sql::setRecoveryModel(database, *wanted),
                        wanted == RecoveryModel::Simple ? &facts_.brokeChain : nullptr);
    facts_.wanted = wanted;
}

// The model 'trunc. log on chkpt.' cleared leaves: BULK_LOGGED with 'select
// into/bulkcopy', else FULL (SQL Server 2000 Books Online, "Selecting a
// Recovery Model"). None when the options cannot be read.
std::optional<RecoveryModel> TLogJob::modelWithoutTruncation()
{
    try {
        const auto status = firstValue(connection_, sql::selectDatabaseStatus(facts_.database), u"status");
        const auto bits = status ? ExactInteger(Variant::FromText(*status)) : std::nullopt;
        if (!bits)
            return std::nullopt;
        return (*bits & SelectIntoBulkCopy) != 0 ? RecoveryModel::BulkLogged : RecoveryModel::Full;
    } catch (const EDatabaseError&) {
        return std::nullopt;
    }
}

void TLogJob::Cancel() { cancel_.Request(); }

std::u16string TLogJob::PuttingBack() const
{
    const std::lock_guard lock(puttingBackMutex_);
    return puttingBack_;
}

void TLogJob::setPuttingBack(std::u16string statement)
{
    const std::lock_guard lock(puttingBackMutex_);
    puttingBack_ = std::move(statement);
}

void TLogJob::truncateAndShrink()
{
    const std::u16string& database = facts_.database;
    if (systemLog_) {
        requireDatabase(connection_, database);
        facts_.shrinkMessages = cancel_.Execute(sql::checkpointAndShrink(facts_.file));
        return;
    }
    if (facts_.dialect.truncatesWithBackupLog()) {
        requireDatabase(connection_, database);
        bool sent = false;
        try {
            facts_.shrinkMessages = cancel_.Execute(sql::truncateAndShrink(database, facts_.file), &sent);
        } catch (const EDatabaseError&) {
            // Without BACKUP's own failure the log may have been truncated
            // before whatever else failed.
            const auto& errors = connection_.Errors();
            if (sent && std::none_of(errors.begin(), errors.end(),
                                     [](const ServerMessage& m) { return m.number == BackupFailed; }))
                facts_.brokeChain = true;
            throw;
        }
        facts_.brokeChain = true;
        return;
    }
    if (facts_.wanted.value_or(RecoveryModel::Simple) != RecoveryModel::Simple) {
        // A switch whose answer was lost (a cancel, a dropped link) may still
        // have happened: the put-back runs whenever it was sent.
        cancel_.Execute(sql::setRecoveryModel(database, RecoveryModel::Simple), &switched_);
        facts_.brokeChain = true;
    }
    requireDatabase(connection_, database);
    facts_.shrinkMessages = cancel_.Execute(sql::checkpointAndShrink(facts_.file));
}

// Twice at most: a link that dropped is reopened by the first attempt's
// failure, in the job's database, for the second.
void TLogJob::putModelBack()
{
    const std::u16string statement = sql::setRecoveryModel(facts_.database, *facts_.wanted);
    setPuttingBack(statement);
    for (int attempt = 1;; ++attempt) {
        try {
            connection_.Execute(statement);
            setPuttingBack({});
            return;
        } catch (const EDatabaseError&) {
            if (attempt == 2 || connection_.Connected()) {
                setPuttingBack({});
                throw;
            }
        }
    }
}

void TLogJob::TruncateAndShrink()
{
    std::exception_ptr failure;
    {
        const CommandTimeout unlimited(connection_, 0);
        try {
            truncateAndShrink();
        } catch (const EDatabaseError&) {
            failure = std::current_exception();
        }
        if (switched_) {
            try {
                putModelBack();
            } catch (const EDatabaseError&) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
    }
    outcome_ = readOutcome(connection_, facts_);
    if (failure)
        std::rethrow_exception(failure);
    if (outcome_.modelNotRestored)
        throw EDatabaseError(u"The recovery model of database '" + facts_.database + u"' could not be put back");
}

} // namespace db
