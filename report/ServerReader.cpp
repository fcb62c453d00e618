#include "report/ServerReader.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/ConnectionString.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "report/ReportSql.h"

#include <cmath>
#include <map>
#include <utility>

namespace report {

namespace {

// A query's rows, read through one dataset.
class Rows {
public:
    Rows(db::TADOConnection& connection, const std::u16string& sql)
    {
        query_.SetConnection(&connection);
        query_.SetCommandText(sql);
        query_.Open();
    }
    bool more() const { return !query_.Eof(); }
    void next() { query_.Next(); }
    db::Variant value(const std::u16string& column) const { return query_.FieldValue(column); }
    std::u16string text(const std::u16string& column) const
    {
        const db::Variant v = value(column);
        return v.IsNull() ? std::u16string() : db::Trim(db::VarToStr(v));
    }
    // A number as the server sent it, integer or not; none for NULL or text
    // that is no number.
    std::optional<double> number(const std::u16string& column) const
    {
        const db::Variant v = value(column);
        if (v.Type() == db::VarType::Integer)
            return static_cast<double>(v.AsInteger());
        if (v.Type() == db::VarType::Float)
            return v.AsFloat();
        if (v.Type() != db::VarType::Text)
            return std::nullopt;
        try {
            return std::stod(db::toUtf8(db::Trim(v.AsText())));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    std::int64_t integer(const std::u16string& column) const
    {
        const std::optional<double> n = number(column);
        return n ? static_cast<std::int64_t>(std::llround(*n)) : 0;
    }

private:
    db::TADODataSet query_;
};

std::vector<DatabaseReport> listDatabases(db::TADOConnection& connection, const db::Dialect& dialect)
{
    std::vector<DatabaseReport> databases;
    for (Rows r(connection, sql::selectDatabases(dialect)); r.more(); r.next()) {
        DatabaseReport d;
        d.name = db::sql::stripTrailingBlanks(db::VarToStr(r.value(u"name")));
        d.id = static_cast<int>(r.integer(u"id"));
        d.state = r.text(u"state_desc");
        d.recoveryModel = r.text(u"recovery_model_desc");
        if (dialect.hasCatalogViews())
            d.reuseWait = r.text(u"log_reuse_wait_desc");
        databases.push_back(std::move(d));
    }
    return databases;
}

// DBCC SQLPERF(LOGSPACE), by database name; none where it fails.
std::map<std::u16string, LogSpace> logSpaceOfAll(db::TADOConnection& connection)
{
    std::map<std::u16string, LogSpace> spaces;
    try {
        for (Rows r(connection, sql::logSpaceOfAll()); r.more(); r.next()) {
            LogSpace s;
            s.totalBytes = std::llround(r.number(u"Log Size (MB)").value_or(0) * 1024 * 1024);
            s.usedPercent = r.number(u"Log Space Used (%)").value_or(0);
            spaces[db::foldedCase(r.text(u"Database Name"))] = s;
        }
    } catch (const db::EDatabaseError&) {
    }
    return spaces;
}

std::vector<db::LoggedVlf> readVlfs(db::TADOConnection& connection)
{
    std::vector<db::LoggedVlf> log;
    for (Rows r(connection, db::sql::selectLogInfo()); r.more(); r.next()) {
        db::LoggedVlf v;
        v.vlf.fileId = static_cast<int>(r.integer(u"FileId"));
        v.vlf.startOffset = r.integer(u"StartOffset");
        v.vlf.size = r.integer(u"FileSize");
        v.vlf.active = r.integer(u"Status") == 2;
        v.sequence = r.integer(u"FSeqNo");
        log.push_back(v);
    }
    return log;
}

// The log files, their VLFs, and what the job would leave of each.
void readLogFiles(db::TADOConnection& connection, DatabaseReport& d)
{
    for (Rows r(connection, sql::selectFiles()); r.more(); r.next()) {
        if ((r.integer(u"status") & db::fixed::LogFileStatus) == 0)
            continue;
        LogFileReport f;
        f.fileId = static_cast<int>(r.integer(u"fileid"));
        f.name = db::sql::stripTrailingBlanks(db::VarToStr(r.value(u"name")));
        f.sizeBytes = r.integer(u"size") * db::fixed::PageBytes;
        d.logFiles.push_back(std::move(f));
    }
    const std::vector<db::LoggedVlf> log = readVlfs(connection);
    d.vlfs = static_cast<int>(log.size());
    const std::vector<db::VirtualLogFile> truncated =
        db::afterTruncation(log, d.reuseWait && holdsLog(*d.reuseWait));
    for (LogFileReport& f : d.logFiles) {
        std::int64_t others = 0;
        for (const LogFileReport& o : d.logFiles)
            others += o.fileId != f.fileId ? o.sizeBytes : 0;
        for (const db::LoggedVlf& v : log) {
            if (v.vlf.fileId != f.fileId)
                continue;
            ++f.vlfs;
            f.inUseBytes += v.vlf.active ? v.vlf.size : 0;
        }
        f.after = db::forecastShrink(truncated, f.fileId, f.sizeBytes, others, db::sql::ShrinkTargetBytes);
    }
}

// Whether log backups can follow, as the job reads it before it breaks the
// chain: from 2005 the server says so; on 2000, a database outside SIMPLE
// that msdb records a backup of.
std::optional<bool> readLogChain(db::TADOConnection& connection, const db::Dialect& dialect, const DatabaseReport& d)
{
    if (dialect.hasCatalogViews())
        return !Rows(connection, db::sql::selectLastLogBackup()).value(u"last_log_backup_lsn").IsNull();
    if (db::sameAscii(d.recoveryModel, u"SIMPLE"))
        return false;
    return Rows(connection, db::sql::selectBackupHistory(d.name)).more();
}

void readDatabase(db::TADOConnection& connection, const db::Dialect& dialect, DatabaseReport& d)
{
    try {
        connection.Execute(db::sql::useDatabase(d.name));
        readLogFiles(connection, d);
        if (dialect.hasLogSpaceView()) {
            Rows r(connection, sql::logSpaceOfCurrent());
            if (r.more())
                d.space = LogSpace{r.integer(u"total_log_size_in_bytes"), r.integer(u"used_log_space_in_bytes"),
                                   r.number(u"used_log_space_in_percent").value_or(0), SpaceSource::LogSpaceView};
        }
        d.logChain = readLogChain(connection, dialect, d);
        Rows last(connection, sql::selectLastLogBackupDate(d.name));
        if (last.more() && last.value(u"backup_finish_date").Type() == db::VarType::DateTime)
            d.lastLogBackup = last.value(u"backup_finish_date").AsDateTime();
    } catch (const db::EDatabaseError& e) {
        d.error = e.Message();
    }
}

} // namespace

void openSession(db::TADOConnection& connection, const ServerTarget& target, const ReadOptions& options)
{
    connection.SetConnectionTimeout(options.loginTimeoutSeconds);
    connection.SetAnnouncedVersion(target.announcedVersion);
    connection.SetConnectionString(db::connectionText(target.address, std::u16string(db::fixed::BrowseDatabase),
                                                      std::u16string(db::fixed::Login), options.password));
    connection.Open();
}

ServerReport readServer(const ServerTarget& target, const ReadOptions& options)
{
    ServerReport report;
    report.server = target.name;
    report.address = target.address;
    db::TADOConnection connection;
    try {
        openSession(connection, target, options);
    } catch (const db::EDatabaseError& e) {
        const db::ConnectFailureReason why = db::connectFailureOf(connection.Errors());
        report.failure = why.kind;
        report.error = why.text.empty() ? e.Message() : why.text;
        return report;
    }
    report.version = connection.ServerVersion();
    const db::Dialect dialect(*report.version);
    try {
        report.databases = listDatabases(connection, dialect);
    } catch (const db::EDatabaseError& e) {
        report.error = e.Message();
        return report;
    }
    const std::map<std::u16string, LogSpace> spaces = logSpaceOfAll(connection);
    for (DatabaseReport& d : report.databases) {
        if (!db::sameAscii(d.state, u"ONLINE"))
            continue;
        readDatabase(connection, dialect, d);
        const auto space = spaces.find(db::foldedCase(d.name));
        if (!d.space && space != spaces.end())
            d.space = space->second;
    }
    return report;
}

} // namespace report
