// The log: DBCC SHRINKFILE on a log file, DBCC LOGINFO, and the views and
// tables that report the log and its backups (the VLF model is in
// VirtualLog.cpp, the log's upkeep in DatabaseLog.cpp).
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <algorithm>
#include <climits>

namespace sandbox::sql {

namespace {

constexpr std::int64_t PagesPerMb = 128;

} // namespace

void Executor::shrinkLogFile(Database& db, DbFile& file, const ShrinkFileStmt& s)
{
    // The target is the whole log's (Learn, DBCC SHRINKFILE): this file keeps
    // what the log's other files do not hold already. No target, or
    // TRUNCATEONLY, frees every reusable VLF at the end (ms178037).
    const std::int64_t targetMb =
        s.targetMb && !s.truncateOnly ? std::clamp<std::int64_t>(*s.targetMb, 0, INT32_MAX / PagesPerMb) : 0;
    std::int64_t others = 0;
    std::size_t otherVlfs = 0;
    for (const DbFile& f : db.files) {
        if (f.isLog() && &f != &file) {
            others += f.size;
            otherVlfs += f.vlfs.size();
        }
    }
    const auto target = static_cast<std::int32_t>(std::max<std::int64_t>(0, targetMb * PagesPerMb - others));
    const ShrinkResult r = shrinkLog(file.vlfs, file.size, target, otherVlfs, generation() == Generation::Sql2000);
    file.size = r.size;
    // Shrunk below its size at creation, a file keeps its new size as its minimum.
    file.minimumSize = std::min(file.minimumSize > 0 ? file.minimumSize : file.size, file.size);
    if (!s.noInfoMessages) {
        const std::u16string id = toU16(file.fileId);
        switch (r.stop) {
        case ShrinkResult::Stop::InsideLast:
            info(makeMessage(9007, {id, file.name, toU16(targetMb * 1024)}));
            break;
        case ShrinkResult::Stop::InUse:
            info(makeMessage(9008, {id, file.name}));
            break;
        case ShrinkResult::Stop::TooFew:
            info(makeMessage(9006, {id, file.name, toU16(static_cast<long long>(MinimumVlfs))}));
            break;
        case ShrinkResult::Stop::Reached:
            break;
        }
    }
    // "For a log file, the current size is the same as the pages that are
    // used by the virtual log files" (ms178037): used and estimated alike.
    shrinkResult(db, file, file.minimumSize, file.size, file.size, s.noInfoMessages);
}

void Executor::shrinkResult(const Database& db, const DbFile& file, std::int32_t minimum, std::int32_t used,
                            std::int32_t estimated, bool noInfoMessages)
{
    out_.columns({{u"DbId", SqlType::SmallInt, 0, false},
                  {u"FileId", SqlType::SmallInt, 0, false},
                  {u"CurrentSize", SqlType::Int, 0, false},
                  {u"MinimumSize", SqlType::Int, 0, false},
                  {u"UsedPages", SqlType::Int, 0, false},
                  {u"EstimatedPages", SqlType::Int, 0, false}});
    out_.row({std::int64_t{db.dbId}, std::int64_t{file.fileId}, std::int64_t{file.size}, std::int64_t{minimum},
              std::int64_t{used}, std::int64_t{estimated}});
    if (!noInfoMessages)
        info(makeMessage(2528));
    doneRows(curcmd::Dbcc, 1);
}

void Executor::execute(const DbccLogInfoStmt& s)
{
    const Database* db = &currentDatabase();
    if (s.database && s.database->kind == Literal::Kind::Integer) {
        db = nullptr;
        for (const Database& d : catalog_.databases)
            if (d.dbId == s.database->integer)
                db = &d;
        if (!db)
            throw StatementError{makeMessage(911, {s.database->text})};
    } else if (s.database) {
        db = &database(s.database->text);
    }
    if (auto refusal = openRefusal(*db, session_, sessions_))
        throw StatementError{std::move(*refusal)};
    const Table t = logInfo(*db, generation());
    out_.columns(t.columns);
    for (const Row& r : t.rows)
        out_.row(r);
    if (!s.noInfoMessages)
        info(makeMessage(2528));
    doneRows(curcmd::Dbcc, t.rows.size());
}

// sys.database_recovery_status (2005 on), sys.dm_db_log_info (2016 on) and
// msdb's backupset; none of these: nothing.
std::optional<Table> Executor::logTable(const SelectStmt& s, const Database& db, bool cs)
{
    const ObjectName& name = *s.from;
    const auto is = [&](const std::u16string& part, std::u16string_view expected) { return sameName(part, expected, cs); };
    const bool sys = hasCatalogViews(generation()) && is(name.owner, u"sys");
    const auto plain = [&](Table t) {
        if (s.fromArgs)
            throw StatementError{makeMessage(215, {name.display})};
        return t;
    };
    if (sys && is(name.object, u"database_recovery_status"))
        return plain(recoveryStatusView(catalog_));
    if (sys && generation() >= Generation::Sql2016 && is(name.object, u"dm_db_log_info")) {
        if (!s.fromArgs)
            throw StatementError{makeMessage(216, {name.display})};
        if (s.fromArgs->size() != 1)
            throw StatementError{makeMessage(174, {u"dm_db_log_info", u"1"})};
        // NULL and DEFAULT mean the current database; an unknown id, none.
        const Database* of = &currentDatabase();
        if (const auto& arg = s.fromArgs->front()) {
            const Typed id = convert(evaluate(*arg, Scope{}), TypeName{SqlType::Int, 0});
            if (const auto* n = std::get_if<std::int64_t>(&id.value)) {
                of = nullptr;
                for (const Database& d : catalog_.databases)
                    if (d.dbId == *n && d.state == DatabaseState::Online)
                        of = &d;
            }
        }
        Table t = logInfoView(of ? *of : db, generation());
        if (!of)
            t.rows.clear();
        return t;
    }
    if ((name.owner.empty() || is(name.owner, u"dbo")) && is(name.object, u"backupset") && is(db.name, u"msdb"))
        return plain(backupSetTable(catalog_));
    return std::nullopt;
}

} // namespace sandbox::sql
