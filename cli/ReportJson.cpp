#include "cli/ReportJson.h"

#include "db/SqlText.h"
#include "db/Text.h"

#include <cmath>
#include <cstdio>

namespace cli {

namespace {

using json = nlohmann::ordered_json;

json text(const std::u16string& s) { return db::toUtf8(s); }

template <class T, class Convert>
json orNull(const std::optional<T>& value, Convert convert)
{
    return value ? json(convert(*value)) : json(nullptr);
}

double twoDecimals(double value) { return std::round(value * 100.0) / 100.0; }

std::string isoTime(const db::DateTimeValue& t)
{
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return out;
}

const char* stopName(db::ForecastStop stop)
{
    switch (stop) {
    case db::ForecastStop::Reached: return "reached";
    case db::ForecastStop::VlfBoundary: return "vlf_boundary";
    case db::ForecastStop::InUse: return "in_use";
    case db::ForecastStop::TwoVlfFloor: return "two_vlf_floor";
    }
    return "reached";
}

const char* reasonName(report::Reason reason)
{
    switch (reason) {
    case report::Reason::None: return "none";
    case report::Reason::VlfBoundary: return "vlf_boundary";
    case report::Reason::ActiveAtEnd: return "active_at_end";
    case report::Reason::Held: return "held";
    case report::Reason::TwoVlfFloor: return "two_vlf_floor";
    }
    return "none";
}

const char* failureName(db::ConnectFailure failure)
{
    switch (failure) {
    case db::ConnectFailure::LoginRefused: return "login_refused";
    case db::ConnectFailure::Unreachable: return "unreachable";
    case db::ConnectFailure::Encryption: return "encryption";
    case db::ConnectFailure::MissingDriver: return "missing_driver";
    case db::ConnectFailure::Other: break;
    }
    return "other";
}

json logSpace(const report::LogSpace& s)
{
    return {{"total_bytes", s.totalBytes},
            {"used_bytes", orNull(s.usedBytes, [](std::int64_t b) { return b; })},
            {"used_percent", twoDecimals(s.usedPercent)},
            {"source", s.source == report::SpaceSource::LogSpaceView ? "sys.dm_db_log_space_usage"
                                                                     : "DBCC SQLPERF(LOGSPACE)"}};
}

json logFile(const report::LogFileReport& f)
{
    return {{"file_id", f.fileId},         {"name", text(f.name)},
            {"size_bytes", f.sizeBytes},   {"in_use_bytes", f.inUseBytes},
            {"vlf_count", f.vlfs},         {"after_job_bytes", f.after.sizeBytes},
            {"stop", stopName(f.after.stop)}};
}

json database(const report::DatabaseReport& d)
{
    json files = json::array();
    for (const report::LogFileReport& f : d.logFiles)
        files.push_back(logFile(f));
    const bool read = d.read();
    return {{"name", text(d.name)},
            {"id", d.id},
            {"state", text(d.state)},
            {"recovery_model", text(d.recoveryModel)},
            {"log_reuse_wait", orNull(d.reuseWait, text)},
            {"log_space", orNull(d.space, logSpace)},
            {"log_files", files},
            {"vlf_count", read ? json(d.vlfs) : json(nullptr)},
            {"last_log_backup", orNull(d.lastLogBackup, isoTime)},
            {"log_backup_chain", orNull(d.logChain, [](bool b) { return b; })},
            {"log_bytes", read ? json(d.logBytes()) : json(nullptr)},
            {"after_job_bytes", read ? json(d.bytesAfterJob()) : json(nullptr)},
            {"frees_bytes", read ? json(d.bytesFreed()) : json(nullptr)},
            {"reason", read ? json(reasonName(d.reason())) : json(nullptr)},
            {"error", d.error.empty() ? json(nullptr) : text(d.error)}};
}

json server(const report::ServerReport& s)
{
    json databases = json::array();
    for (const report::DatabaseReport& d : s.databases)
        databases.push_back(database(d));
    return {{"server", text(s.server)},
            {"address", text(s.address)},
            {"ok", !s.failed()},
            {"version", orNull(s.version, [](const db::ServerVersion& v) {
                 char out[24];
                 std::snprintf(out, sizeof out, "%d.%02d.%d", v.major, v.minor, v.build);
                 return std::string(out);
             })},
            {"generation", orNull(s.version, [](const db::ServerVersion& v) { return text(report::generationName(v)); })},
            {"error", s.failed() ? text(s.error) : json(nullptr)},
            {"failure", s.failed() ? json(failureName(s.failure)) : json(nullptr)},
            {"databases", databases}};
}

} // namespace

json reportJson(const std::vector<report::ServerReport>& servers, const std::string& tool)
{
    json list = json::array();
    for (const report::ServerReport& s : servers)
        list.push_back(server(s));
    return {{"format", JsonFormat},
            {"version", JsonVersion},
            {"tool", tool},
            {"target_bytes", std::int64_t{db::sql::ShrinkTargetMb} * 1024 * 1024},
            {"servers", list}};
}

} // namespace cli
