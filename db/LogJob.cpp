#include "db/LogJob.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
#include "db/Text.h"
#include "db/Variant.h"

#include <stdexcept>

namespace db {

namespace {

constexpr int PagesPerMb = 128;  // 8 KB pages

} // namespace

TLogJob::TLogJob(TADOConnection& connection, std::u16string database, std::u16string file)
    : connection_(connection)
    , database_(std::move(database))
    , file_(std::move(file))
    , dialect_(connection.ServerVersion())
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

void TLogJob::SetTruncateLogOnCheckpoint(bool on)
{
    if (dialect_.truncatesWithBackupLog()) {
        connection_.Execute(sql::setTruncLogOnCheckpoint(database_, on));
        return;
    }
    if (on) {
        connection_.Execute(sql::setRecoveryModel(database_, RecoveryModel::Simple));
        model_ = RecoveryModel::Simple;
        return;
    }
    // Off: what sp_dboption ... 'False' did. SIMPLE goes back to FULL; FULL
    // and BULK_LOGGED stay as they are.
    const std::optional<RecoveryModel> model = readModel();
    if (!model)
        throw EDatabaseError(u"The recovery model of database '" + database_ + u"' cannot be read");
    model_ = *model == RecoveryModel::Simple ? RecoveryModel::Full : *model;
    if (*model == RecoveryModel::Simple)
        connection_.Execute(sql::setRecoveryModel(database_, RecoveryModel::Full));
}

void TLogJob::TruncateAndShrink()
{
    std::u16string text;
    if (dialect_.truncatesWithBackupLog()) {
        text = sql::truncateAndShrink(database_, file_);
    } else {
        // Reading the model here would open an implicit transaction, in which
        // ALTER DATABASE is refused: it was read by the option step.
        if (!model_)
            throw std::logic_error("TLogJob: the option step comes first");
        text = sql::checkpointAndShrink(database_, file_, *model_);
    }
    shrinkMessage_.clear();
    for (const ServerMessage& m : connection_.Execute(text))
        if (!fixed::isRoutineMessage(m.number) && shrinkMessage_.empty())
            shrinkMessage_ = m.text;
}

std::optional<int> TLogJob::sizeAboveTargetMb()
{
    const auto size = firstValue(sql::selectFileByName(file_), u"size");
    if (!size)
        return std::nullopt;
    const long long pages = std::stoll(toUtf8(*size));
    if (pages <= static_cast<long long>(sql::ShrinkTargetMb) * PagesPerMb)
        return std::nullopt;
    return static_cast<int>((pages + PagesPerMb - 1) / PagesPerMb);
}

std::u16string TLogJob::reuseWait()
{
    return firstValue(sql::selectLogReuseWait(database_), u"log_reuse_wait_desc").value_or(u"");
}

// Each part on its own: a part that cannot be read stays empty, and the
// job's success is reported all the same.
LogJobOutcome TLogJob::Outcome()
{
    LogJobOutcome outcome;
    try {
        outcome.sizeAboveTargetMb = sizeAboveTargetMb();
    } catch (const std::exception&) {
    }
    if (outcome.sizeAboveTargetMb) {
        outcome.shrinkMessage = shrinkMessage_;
        try {
            if (dialect_.hasCatalogViews())
                outcome.reuseWait = reuseWait();
        } catch (const std::exception&) {
        }
    }
    try {
        outcome.model = readModel();
    } catch (const std::exception&) {
    }
    return outcome;
}

} // namespace db
