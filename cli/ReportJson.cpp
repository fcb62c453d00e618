#include "cli/ReportJson.h"

#include "cli/JsonParts.h"
#include "db/Text.h"

#include <cmath>
#include <cstdio>

namespace cli {

namespace {

using json::Json;
using json::orNull;
using json::shortfallName;
using json::text;

double twoDecimals(double value) { return std::round(value * 100.0) / 100.0; }

std::string isoTime(const db::DateTimeValue& t)
{
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return out;
}

// A forecast's names, as version 1 gave them.
const char* stopName(db::LogShortfall stop)
{
    switch (stop) {
    case db::LogShortfall::None: return "reached";
    case db::LogShortfall::VlfBoundary: return "vlf_boundary";
    case db::LogShortfall::ActiveAtEnd: return "in_use";
    case db::LogShortfall::TwoVlfFloor: return "two_vlf_floor";
    }
    return "reached";
}

Json logSpace(const report::LogSpace& s)
{
    return {{"total_bytes", s.totalBytes},
            {"used_bytes", orNull(s.usedBytes, [](std::int64_t b) { return b; })},
            {"used_percent", twoDecimals(s.usedPercent)},
            {"source", s.source == report::SpaceSource::LogSpaceView ? "sys.dm_db_log_space_usage"
                                                                     : "DBCC SQLPERF(LOGSPACE)"}};
}

Json logFile(const report::LogFileReport& f)
{
    return {{"file_id", f.fileId},         {"name", text(f.name)},
            {"size_bytes", f.sizeBytes},   {"in_use_bytes", f.inUseBytes},
            {"vlf_count", f.vlfs},         {"after_job_bytes", f.after.sizeBytes},
            {"stop", stopName(f.after.stop)}};
}

Json database(const report::DatabaseReport& d)
{
    Json files = Json::array();
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
            {"vlf_count", read ? Json(d.vlfs) : Json(nullptr)},
            {"last_log_backup", orNull(d.lastLogBackup, isoTime)},
            {"log_backup_chain", orNull(d.logChain, [](bool b) { return b; })},
            {"log_bytes", read ? Json(d.logBytes()) : Json(nullptr)},
            {"after_job_bytes", read ? Json(d.bytesAfterJob()) : Json(nullptr)},
            {"frees_bytes", read ? Json(d.bytesFreed()) : Json(nullptr)},
            {"reason", read ? Json(shortfallName(d.reason())) : Json(nullptr)},
            {"error", d.error.empty() ? Json(nullptr) : text(d.error)}};
}

Json server(const report::ServerReport& s)
{
    Json databases = Json::array();
    for (const report::DatabaseReport& d : s.databases)
        databases.push_back(database(d));
    Json fields = json::serverFields(s.server, s.address, s.version, s.error, s.failure);
    fields["databases"] = databases;
    return fields;
}

} // namespace

Json reportJson(const std::vector<report::ServerReport>& servers, const std::string& tool)
{
    Json list = Json::array();
    for (const report::ServerReport& s : servers)
        list.push_back(server(s));
    Json document = json::envelope(JsonFormat, JsonVersion, tool);
    document["servers"] = list;
    return document;
}

} // namespace cli
