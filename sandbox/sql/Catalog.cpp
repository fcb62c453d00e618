#include "sandbox/sql/Catalog.h"

namespace sandbox {

namespace {

constexpr const char16_t* DataDir = u"C:\\Program Files\\Microsoft SQL Server\\MSSQL\\data\\";

DbFile dataFile(std::u16string name, std::u16string fileName, std::int32_t size, std::int32_t used)
{
    DbFile f;
    f.fileId = 1;
    f.groupId = 1;
    f.size = size;
    f.maxSize = -1;
    f.growth = 10;
    f.status = 0x2 | 0x100000;
    f.name = std::move(name);
    f.fileName = std::u16string(DataDir) + fileName;
    f.usedPages = used;
    return f;
}

DbFile logFile(std::u16string name, std::u16string fileName, std::int32_t size,
               std::int32_t active, std::int32_t inactive)
{
    DbFile f;
    f.fileId = 2;
    f.groupId = 0;
    f.size = size;
    f.maxSize = -1;
    f.growth = 10;
    f.status = 0x42 | 0x100000;
    f.name = std::move(name);
    f.fileName = std::u16string(DataDir) + fileName;
    f.activePages = active;
    f.inactivePages = inactive;
    return f;
}

Database database(std::int16_t id, std::u16string name, std::int32_t status, std::vector<DbFile> files)
{
    Database d;
    d.dbId = id;
    d.name = std::move(name);
    d.status = status;
    d.files = std::move(files);
    return d;
}

} // namespace

Catalog Catalog::defaults()
{
    Catalog c;
    // System databases as a fresh SQL Server 2000 instance has them.
    c.databases.push_back(database(1, u"master", 24,
        {dataFile(u"master", u"master.mdf", 1536, 1400), logFile(u"mastlog", u"mastlog.ldf", 128, 40, 30)}));
    c.databases.push_back(database(2, u"tempdb", 8,
        {dataFile(u"tempdev", u"tempdb.mdf", 1024, 200), logFile(u"templog", u"templog.ldf", 64, 16, 8)}));
    c.databases.push_back(database(3, u"model", 24,
        {dataFile(u"modeldev", u"model.mdf", 96, 90), logFile(u"modellog", u"modellog.ldf", 64, 16, 10)}));
    c.databases.push_back(database(4, u"msdb", 24,
        {dataFile(u"MSDBData", u"msdbdata.mdf", 1792, 1500), logFile(u"MSDBLog", u"msdblog.ldf", 256, 40, 120)}));
    // A game server's databases: one with a bloated, mostly inactive 2 GB log,
    // one modest (50 MB data, 50 MB log).
    c.databases.push_back(database(5, u"GameDB", 16,
        {dataFile(u"GameDB_Data", u"GameDB_Data.MDF", 64000, 51200),
         logFile(u"GameDB_Log", u"GameDB_Log.LDF", 262144, 640, 261000)}));
    c.databases.push_back(database(6, u"AccountDB", 16,
        {dataFile(u"AccountDB_Data", u"AccountDB_Data.MDF", 6400, 4800),
         logFile(u"AccountDB_Log", u"AccountDB_Log.LDF", 6400, 256, 3000)}));
    return c;
}

Database* Catalog::find(const std::u16string& name)
{
    for (auto& d : databases)
        if (sameName(d.name, name, caseSensitive()))
            return &d;
    return nullptr;
}

const Database* Catalog::find(const std::u16string& name) const
{
    for (const auto& d : databases)
        if (sameName(d.name, name, caseSensitive()))
            return &d;
    return nullptr;
}

RecoveryModel Database::recovery() const
{
    if (truncLogOnCheckpoint())
        return RecoveryModel::Simple;
    return (status & SelectIntoBulkCopy) != 0 ? RecoveryModel::BulkLogged : RecoveryModel::Full;
}

void Database::setRecovery(RecoveryModel model)
{
    switch (model) {
    case RecoveryModel::Simple:
        status |= TruncLogOnChkpt;
        break;
    case RecoveryModel::Full:
        status &= ~(TruncLogOnChkpt | SelectIntoBulkCopy);
        break;
    case RecoveryModel::BulkLogged:
        status = (status & ~TruncLogOnChkpt) | SelectIntoBulkCopy;
        break;
    }
}

void Database::truncateLog()
{
    if (hold != LogHold::None)
        return;
    for (DbFile& f : files)
        if (f.isLog())
            f.inactivePages = 0;
}

std::pair<int, const char16_t*> Database::logReuseWait() const
{
    if (hold != LogHold::None)
        return {static_cast<int>(hold), holdName(hold)};
    for (const DbFile& f : files)
        if (f.isLog() && f.inactivePages > 0)
            return recovery() == RecoveryModel::Simple ? std::pair{1, u"CHECKPOINT"} : std::pair{2, u"LOG_BACKUP"};
    return {0, u"NOTHING"};
}

namespace {

constexpr std::pair<RecoveryModel, const char16_t*> RecoveryNames[] = {
    {RecoveryModel::Full, u"FULL"}, {RecoveryModel::BulkLogged, u"BULK_LOGGED"}, {RecoveryModel::Simple, u"SIMPLE"}};

constexpr std::pair<LogHold, const char16_t*> HoldNames[] = {
    {LogHold::None, u"NOTHING"},
    {LogHold::ActiveBackupOrRestore, u"ACTIVE_BACKUP_OR_RESTORE"},
    {LogHold::ActiveTransaction, u"ACTIVE_TRANSACTION"},
    {LogHold::DatabaseMirroring, u"DATABASE_MIRRORING"},
    {LogHold::Replication, u"REPLICATION"},
    {LogHold::AvailabilityReplica, u"AVAILABILITY_REPLICA"},
};

constexpr std::pair<DatabaseState, const char16_t*> StateNames[] = {
    {DatabaseState::Online, u"ONLINE"},
    {DatabaseState::Restoring, u"RESTORING"},
    {DatabaseState::Suspect, u"SUSPECT"},
    {DatabaseState::Offline, u"OFFLINE"},
};

} // namespace

namespace {

template <class Enum, std::size_t N>
const char16_t* nameIn(const std::pair<Enum, const char16_t*> (&table)[N], Enum value)
{
    for (const auto& [v, name] : table)
        if (v == value)
            return name;
    return table[0].second;
}

template <class Enum, std::size_t N>
std::optional<Enum> namedIn(const std::pair<Enum, const char16_t*> (&table)[N], std::u16string_view name)
{
    for (const auto& [v, n] : table)
        if (equalsIgnoreCase(name, n))
            return v;
    return std::nullopt;
}

} // namespace

const char16_t* recoveryName(RecoveryModel model) { return nameIn(RecoveryNames, model); }
std::optional<RecoveryModel> recoveryNamed(std::u16string_view name) { return namedIn(RecoveryNames, name); }
const char16_t* holdName(LogHold hold) { return nameIn(HoldNames, hold); }
std::optional<LogHold> holdNamed(std::u16string_view name) { return namedIn(HoldNames, name); }
const char16_t* stateName(DatabaseState state) { return nameIn(StateNames, state); }
std::optional<DatabaseState> stateNamed(std::u16string_view name) { return namedIn(StateNames, name); }

std::int32_t stateStatusBit(DatabaseState state)
{
    switch (state) {
    case DatabaseState::Restoring: return 32;
    case DatabaseState::Suspect: return 256;
    case DatabaseState::Offline: return 512;
    default: return 0;
    }
}

} // namespace sandbox
