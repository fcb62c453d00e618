#include "db/LogJob.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "db/Variant.h"

#include <algorithm>
#include <utility>

namespace db {

namespace {

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
    , cancel_(connection)
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

void TLogJob::SetTruncateLogOnCheckpoint(bool on)
{
    try {
        requireDatabase();
        hadChain_ = !systemLog_ && readHadChain();
        if (systemLog_)
            return;
        const CommandTimeout unlimited(connection_, 0);
        setOption(on);
    } catch (const EDatabaseError& e) {
        // A failure after the user asked to cancel is the cancel's.
        if (!cancel_.Requested())
            throw EOptionFailed(e);
        readOutcome();
        throw cancelledError();
    }
}

void TLogJob::setOption(bool on)
{
    if (dialect_.truncatesWithBackupLog()) {
        const std::optional<RecoveryModel> before = readModel();
        work(sql::setTruncLogOnCheckpoint(database_, on));
        if (on)
            wanted_ = RecoveryModel::Simple;
        else if (before)
            wanted_ = *before == RecoveryModel::Simple ? modelWithoutTruncation() : before;
        return;
    }
    const std::optional<RecoveryModel> model = readModel();
    if (!model)
        throw EDatabaseError(u"The recovery model of database '" + database_ + u"' cannot be read");
    if (on && *model != RecoveryModel::Simple)
        work(sql::setRecoveryModel(database_, RecoveryModel::Simple), &brokeChain_);
    else if (!on && *model == RecoveryModel::Simple)
        work(sql::setRecoveryModel(database_, RecoveryModel::Full));
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

void TLogJob::Cancel() { cancel_.Request(); }

std::u16string TLogJob::PuttingBack() const
{
    const std::lock_guard lock(puttingBackMutex_);
    return puttingBack_;
}

// One statement of the work proper: not sent once a cancel was asked for
// (`*sent` is set once it is), and cancelled, whatever it answered, when a
// cancel was asked for while it ran.
std::vector<ServerMessage> TLogJob::work(const std::u16string& sql, bool* sent)
{
    cancel_.Begin();
    if (sent != nullptr)
        *sent = true;
    std::vector<ServerMessage> messages;
    try {
        messages = connection_.Execute(sql);
    } catch (const EDatabaseError&) {
        if (cancel_.End())
            throw cancelledError();
        throw;
    }
    if (cancel_.End())
        throw cancelledError();
    return messages;
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
        bool sent = false;
        try {
            shrinkMessages_ = work(sql::truncateAndShrink(database_, file_), &sent);
        } catch (const EDatabaseError&) {
            // BACKUP reports its every failure with 3013: without it, the
            // log may have been truncated before whatever else failed.
            const auto& errors = connection_.Errors();
            if (sent && std::none_of(errors.begin(), errors.end(), [](const ServerMessage& m) { return m.number == 3013; }))
                brokeChain_ = true;
            throw;
        }
        brokeChain_ = true;
        return;
    }
    if (modelToKeep(wanted_.value_or(RecoveryModel::Simple))) {
        // A switch whose answer was lost (a cancel, a dropped link) may still
        // have happened: the put-back runs whenever it was sent.
        work(sql::setRecoveryModel(database_, RecoveryModel::Simple), &switched_);
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
    {
        const std::lock_guard lock(puttingBackMutex_);
        puttingBack_ = statement;
    }
    const auto done = [this] {
        const std::lock_guard lock(puttingBackMutex_);
        puttingBack_.clear();
    };
    for (int attempt = 1;; ++attempt) {
        try {
            connection_.Execute(statement);
            done();
            return;
        } catch (const EDatabaseError&) {
            if (attempt == 2 || connection_.Connected()) {
                done();
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
    readOutcome();
    if (failure)
        std::rethrow_exception(failure);
    if (outcome_.modelNotRestored)
        throw EDatabaseError(u"The recovery model of database '" + database_ + u"' could not be put back");
}

} // namespace db
