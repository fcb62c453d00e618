#include "cli/CleanJson.h"

#include "cli/JsonParts.h"
#include "db/FixedValues.h"

namespace cli {

namespace {

using json::Json;
using json::orNull;
using json::text;

const char* resultName(FileJob::Result result)
{
    switch (result) {
    case FileJob::Result::NotRun: return "not_run";
    case FileJob::Result::Succeeded: return "succeeded";
    case FileJob::Result::Failed: return "failed";
    case FileJob::Result::Cancelled: return "cancelled";
    case FileJob::Result::OptionFailed: return "option_failed";
    }
    return "failed";
}

Json modelName(db::RecoveryModel model) { return text(db::recoveryModelName(model)); }

Json error(const db::EDatabaseError& e)
{
    return {{"message", text(e.Message())}, {"sqlstate", e.SqlState()}, {"native", e.NativeError()}};
}

// Only when the model is not the one the job was to leave.
Json modelNotRestored(const db::LogJobOutcome& o)
{
    if (!o.modelNotRestored)
        return nullptr;
    return {{"wanted", orNull(o.wanted, modelName)}, {"now", orNull(o.modelNow, modelName)}, {"put_back", text(o.putBack)}};
}

Json file(const FileJob& f)
{
    const db::LogJobOutcome& o = f.outcome;
    const bool ran = f.result != FileJob::Result::NotRun;
    return {{"file_id", f.file.fileId},
            {"name", text(f.file.name)},
            {"is_log", f.file.isLog},
            {"size_before_bytes", f.file.sizePages * db::fixed::PageBytes},
            {"result", resultName(f.result)},
            {"text", ran ? text(f.text) : Json(nullptr)},
            {"error", f.error ? error(*f.error) : Json(nullptr)},
            {"size_bytes", orNull(o.sizePages, [](std::int64_t pages) { return pages * db::fixed::PageBytes; })},
            {"shortfall", ran && o.sizePages ? Json(json::shortfallName(o.shortfall)) : Json(nullptr)},
            {"log_reuse_wait", o.shortfall == db::Shortfall::Held ? text(o.holdReason) : Json(nullptr)},
            {"chain_broken", o.chainBroken},
            {"model_not_restored", modelNotRestored(o)}};
}

Json database(const DatabaseClean& d)
{
    Json files = Json::array();
    for (const FileJob& f : d.files)
        files.push_back(file(f));
    return {{"name", text(d.name)},
            {"recovery_model", orNull(d.model, modelName)},
            {"truncate_on_checkpoint", d.truncateOnCheckpoint},
            {"system", d.systemLog},
            {"log_backup_chain", d.hasChain},
            {"error", d.error.empty() ? Json(nullptr) : text(d.error)},
            {"files", files},
            {"recovery_model_after_cancel", orNull(d.modelAfterCancel, modelName)}};
}

} // namespace

Json cleanJson(const std::vector<ServerClean>& servers, const std::string& tool, bool cancelled)
{
    Json list = Json::array();
    for (const ServerClean& s : servers) {
        Json fields = json::serverFields(s.target.name, s.target.address, s.version,
                                         s.failed() ? s.failure.text : std::u16string(), s.failure.kind);
        Json databases = Json::array();
        for (const DatabaseClean& d : s.databases)
            databases.push_back(database(d));
        fields["databases"] = databases;
        list.push_back(fields);
    }
    Json document = json::envelope(CleanJsonFormat, CleanJsonVersion, tool);
    document["cancelled"] = cancelled;
    document["servers"] = list;
    return document;
}

} // namespace cli
