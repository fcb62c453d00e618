// What a real server refuses before a statement does anything: BACKUP and
// ALTER DATABASE outside autocommit mode, the system databases' limits, and
// databases that cannot be opened. Sources are in sandbox/README.md.
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

namespace sandbox::sql {

namespace {

bool isTempdb(const Database& db) { return sameName(db.name, u"tempdb"); }
bool isMaster(const Database& db) { return sameName(db.name, u"master"); }

// The message USE gives for a database in `state`.
std::optional<Message> stateRefusal(const Database& db)
{
    switch (db.state) {
    case DatabaseState::Restoring: return makeMessage(927, {db.name});
    case DatabaseState::Suspect: return makeMessage(926, {db.name});
    case DatabaseState::Offline: return makeMessage(942, {db.name});
    default: return std::nullopt;
    }
}

} // namespace

std::optional<Message> openRefusal(const Database& db, const SessionState& session,
                                   const std::vector<SessionState*>& sessions)
{
    if (auto refusal = stateRefusal(db))
        return refusal;
    if (db.singleUser())
        for (const SessionState* other : sessions)
            if (other != &session && other->database == db.name)
                return makeMessage(924, {db.name});
    return std::nullopt;
}

// Not in a transaction, nor in implicit-transaction mode; not tempdb; for a
// log backup to a device, neither master nor a SIMPLE database. TRUNCATE_ONLY
// (2000 and 2005) backs nothing up and truncates master's and tempdb's logs.
Database& Executor::backupTarget(const BackupLogStmt& s)
{
    const auto refuse = [this](Message m) {
        info(std::move(m));
        throw StatementError{makeMessage(3013, {u"BACKUP LOG"})};
    };
    if (!autocommit())
        refuse(makeMessage(3021));
    Database& db = database(s.database);
    if (auto unavailable = stateRefusal(db))
        refuse(std::move(*unavailable));
    if (s.option == u"DISK") {
        if (isTempdb(db))
            refuse(makeMessage(3147));
        if (isMaster(db))
            refuse(makeMessage(4212));
        if (db.truncLogOnCheckpoint())
            refuse(makeMessage(4208));
    }
    return db;
}

// Autocommit mode only (226, without 5069: see the README); the database
// must exist; tempdb's recovery model is fixed (5058).
Database& Executor::alterTarget(const AlterDatabaseStmt& s)
{
    if (!autocommit())
        throw StatementError{makeMessage(226, {u"ALTER DATABASE"})};
    Database* db = catalog_.find(s.database);
    if (!db) {
        if (!hasCatalogViews(generation()))
            throw StatementError{makeMessage(911, {s.database})};
        info(makeMessage(5011, {s.database}));
        throw StatementError{makeMessage(5069)};
    }
    if (isTempdb(*db)) {
        if (!hasCatalogViews(generation()))
            throw StatementError{makeMessage(5058, {u"RECOVERY", db->name})};
        info(makeMessage(5058, {u"RECOVERY", db->name}));
        throw StatementError{makeMessage(5069)};
    }
    return *db;
}

// sp_dboption carries the recovery options out with ALTER DATABASE ... SET
// RECOVERY, so it meets that statement's refusals, then says 15627.
std::vector<Message> Executor::dbOptionRefusal(const Database& db, std::int32_t bit) const
{
    if (!autocommit())
        return {makeMessage(226, {u"ALTER DATABASE"}), makeMessage(15627)};
    const bool recovery = bit == Database::TruncLogOnChkpt || bit == Database::SelectIntoBulkCopy;
    if (recovery && isTempdb(db)) {
        std::vector<Message> refusal{makeMessage(5058, {u"RECOVERY", db.name})};
        if (hasCatalogViews(generation()))
            refusal.push_back(makeMessage(5069));
        refusal.push_back(makeMessage(15627));
        return refusal;
    }
    return {};
}

} // namespace sandbox::sql
