// How full each log is, from its VLFs: DBCC SQLPERF(LOGSPACE) for every
// database (every generation) and sys.dm_db_log_space_usage for the current
// one (2012 on). A VLF that cannot be reused counts whole as in use; the
// file's header page is not the log's (sandbox/README.md, "Reading the log").
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <algorithm>

namespace sandbox::sql {

namespace {

constexpr std::int64_t PageBytes = 8192;
constexpr double MbBytes = 1024.0 * 1024.0;

struct LogSpace {
    std::int64_t totalBytes = 0;
    std::int64_t usedBytes = 0;
    double usedPercent() const
    {
        return totalBytes > 0 ? 100.0 * static_cast<double>(usedBytes) / static_cast<double>(totalBytes) : 0.0;
    }
};

LogSpace logSpaceOf(const Database& db)
{
    LogSpace space;
    for (const DbFile& f : db.files) {
        if (!f.isLog())
            continue;
        for (const Vlf& v : f.vlfs) {
            space.totalBytes += v.pages * PageBytes;
            if (v.state != VlfState::Reusable)
                space.usedBytes += v.pages * PageBytes;
        }
    }
    return space;
}

} // namespace

// One row per database whose log is open (ONLINE), in dbid order; then 2528.
void Executor::execute(const DbccSqlPerfStmt& s)
{
    std::vector<const Database*> online;
    for (const Database& d : catalog_.databases)
        if (d.state == DatabaseState::Online)
            online.push_back(&d);
    std::stable_sort(online.begin(), online.end(), [](const Database* a, const Database* b) { return a->dbId < b->dbId; });
    out_.columns({{u"Database Name", SqlType::NVarChar, 128, false},
                  {u"Log Size (MB)", SqlType::Real, 0, false},
                  {u"Log Space Used (%)", SqlType::Real, 0, false},
                  {u"Status", SqlType::Int, 0, false}});
    for (const Database* d : online) {
        const LogSpace space = logSpaceOf(*d);
        Row r;
        r.emplace_back(d->name);
        r.emplace_back(static_cast<double>(space.totalBytes) / MbBytes);
        r.emplace_back(space.usedPercent());
        r.emplace_back(std::int64_t{0});  // "Always 0"
        out_.row(r);
    }
    if (!s.noInfoMessages)
        info(makeMessage(2528));
    doneRows(curcmd::Dbcc, online.size());
}

// Learn, sys.dm_db_log_space_usage: one row, the current database's log
// (all its files combined); log_space_in_bytes_since_last_backup from 2014.
std::optional<Table> Executor::logSpaceTable(const SelectStmt& s, const Database& db, bool cs)
{
    const ObjectName& name = *s.from;
    if (generation() < Generation::Sql2012 || !sameName(name.owner, u"sys", cs)
        || !sameName(name.object, u"dm_db_log_space_usage", cs))
        return std::nullopt;
    if (s.fromArgs)
        throw StatementError{makeMessage(215, {name.display})};
    Table t;
    t.columns = {{u"database_id", SqlType::SmallInt, 0, false},
                 {u"total_log_size_in_bytes", SqlType::BigInt, 0, false},
                 {u"used_log_space_in_bytes", SqlType::BigInt, 0, false},
                 {u"used_log_space_in_percent", SqlType::Real, 0, false}};
    const bool sinceBackup = generation() >= Generation::Sql2014;
    if (sinceBackup)
        t.columns.push_back({u"log_space_in_bytes_since_last_backup", SqlType::BigInt, 0, false});
    const LogSpace space = logSpaceOf(db);
    Row r;
    r.emplace_back(std::int64_t{db.dbId});
    r.emplace_back(space.totalBytes);
    r.emplace_back(space.usedBytes);
    r.emplace_back(space.usedPercent());
    // Whatever a truncation has not freed was written since the last log
    // backup, which truncates.
    if (sinceBackup)
        r.emplace_back(space.usedBytes);
    t.rows.push_back(std::move(r));
    return t;
}

} // namespace sandbox::sql
