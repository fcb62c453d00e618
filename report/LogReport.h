// The report on many servers' logs, read-only: for each database its state,
// recovery model, log files and how full they are, and what the window's
// job would leave of them and why. The rows only; ServerReader.h fills them.
#pragma once

#include "db/ConnectFailure.h"
#include "db/LogForecast.h"
#include "db/LogOutcome.h"
#include "db/ServerGeneration.h"
#include "db/Variant.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace report {

// Where the log's space figures came from: DBCC SQLPERF(LOGSPACE) on every
// generation, sys.dm_db_log_space_usage from 2012.
enum class SpaceSource { SqlPerf, LogSpaceView };

struct LogSpace {
    std::int64_t totalBytes = 0;
    std::optional<std::int64_t> usedBytes;  // the view gives bytes, SQLPERF a percentage
    double usedPercent = 0;
    SpaceSource source = SpaceSource::SqlPerf;
};

struct LogFileReport {
    int fileId = 0;
    std::u16string name;
    std::int64_t sizeBytes = 0;
    std::int64_t inUseBytes = 0;  // its VLFs that cannot be reused now, whole
    int vlfs = 0;
    db::ShrinkForecast after;     // what the job would leave
};

struct DatabaseReport {
    std::u16string name;
    int id = 0;
    std::u16string state;          // ONLINE, OFFLINE, RESTORING, ...
    std::u16string recoveryModel;  // FULL, BULK_LOGGED, SIMPLE
    std::optional<std::u16string> reuseWait;  // log_reuse_wait_desc, 2005 on
    std::optional<LogSpace> space;
    std::vector<LogFileReport> logFiles;
    int vlfs = 0;                  // the whole log's
    std::optional<db::DateTimeValue> lastLogBackup;  // msdb
    std::optional<bool> logChain;  // whether log backups can follow (the job breaks it)
    // Why the log cannot be read (USE refused, a query failed); empty when it was.
    std::u16string error;

    bool read() const { return error.empty() && !logFiles.empty(); }
    std::int64_t logBytes() const;
    std::int64_t bytesAfterJob() const;
    std::int64_t bytesFreed() const { return logBytes() - bytesAfterJob(); }
    // Why the job would leave the log above its target, as the job's report
    // would say it afterwards (db::whyLogStays): the reason of the file
    // that stays largest. None, VlfBoundary, Held (reuseWait says by what),
    // ActiveAtEnd or TwoVlfFloor.
    db::Shortfall reason() const;
    // The log file that stays largest above its target; none when each reaches it.
    const LogFileReport* furthestAbove() const;
};

struct ServerReport {
    std::u16string server;   // as named on the command line or by discovery
    std::u16string address;  // what the connection went to
    std::optional<db::ServerVersion> version;
    std::vector<DatabaseReport> databases;
    // Why the server could not be reported on; empty when it was.
    std::u16string error;
    db::ConnectFailure failure = db::ConnectFailure::Other;

    bool failed() const { return !error.empty(); }
};

// Whether log_reuse_wait_desc names something that keeps the log from being
// truncated whatever the job does.
bool holdsLog(const std::u16string& reuseWait);

// The server's generation as a user knows it: "2000", "2008 R2", "2019".
std::u16string generationName(const db::ServerVersion& version);

} // namespace report
