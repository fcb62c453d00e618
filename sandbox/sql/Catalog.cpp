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

// A log described by how it came to be: created at `created` pages, grown
// by `growths`, its records from page `start` on (`inactive` pages not yet
// truncated, then `active` pages), wrapping round to the file's start.
DbFile logFile(std::u16string name, std::u16string fileName, std::int32_t created, std::vector<std::int32_t> growths,
               std::int32_t start, std::int32_t inactive, std::int32_t active)
{
    DbFile f;
    f.fileId = 2;
    f.groupId = 0;
    f.created = created;
    f.size = created;
    for (const std::int32_t g : growths)
        f.size += g;
    f.growths = std::move(growths);
    f.maxSize = -1;
    f.growth = 10;
    f.status = 0x42 | 0x100000;
    f.name = std::move(name);
    f.fileName = std::u16string(DataDir) + fileName;
    f.logStart = start;
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
    // System databases as a fresh SQL Server 2000 Standard Edition has them:
    // master, tempdb and msdb in SIMPLE, model in FULL (sandbox/README.md).
    c.databases.push_back(database(1, u"master", 24,
        {dataFile(u"master", u"master.mdf", 1536, 1400), logFile(u"mastlog", u"mastlog.ldf", 128, {}, 1, 30, 40)}));
    c.databases.push_back(database(2, u"tempdb", 8,
        {dataFile(u"tempdev", u"tempdb.mdf", 1024, 200), logFile(u"templog", u"templog.ldf", 64, {}, 1, 8, 16)}));
    c.databases.push_back(database(3, u"model", 16,
        {dataFile(u"modeldev", u"model.mdf", 96, 90), logFile(u"modellog", u"modellog.ldf", 64, {}, 1, 10, 16)}));
    c.databases.push_back(database(4, u"msdb", 24,
        {dataFile(u"MSDBData", u"msdbdata.mdf", 1792, 1500), logFile(u"MSDBLog", u"msdblog.ldf", 256, {}, 1, 120, 40)}));
    // A game server's databases, their logs created at 10 MB and grown by
    // hand. GameDB's 2 GB log is mostly inactive: written from page 1144 to
    // the end, the active part wrapped round to the start. AccountDB is
    // modest (50 MB data, 50 MB log).
    c.databases.push_back(database(5, u"GameDB", 16,
        {dataFile(u"GameDB_Data", u"GameDB_Data.MDF", 64000, 51200),
         logFile(u"GameDB_Log", u"GameDB_Log.LDF", 1280, {260864}, 1144, 261000, 640)}));
    c.databases.push_back(database(6, u"AccountDB", 16,
        {dataFile(u"AccountDB_Data", u"AccountDB_Data.MDF", 6400, 4800),
         logFile(u"AccountDB_Log", u"AccountDB_Log.LDF", 1280, {5120}, 3400, 3000, 256)}));
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
        logChain = false;  // back in FULL, a database backup must start a new one
        break;
    case RecoveryModel::Full:
        status &= ~(TruncLogOnChkpt | SelectIntoBulkCopy);
        break;
    case RecoveryModel::BulkLogged:
        status = (status & ~TruncLogOnChkpt) | SelectIntoBulkCopy;
        break;
    }
}

namespace {

constexpr std::pair<RecoveryModel, const char16_t*> RecoveryNames[] = {
    {RecoveryModel::Full, u"FULL"}, {RecoveryModel::BulkLogged, u"BULK_LOGGED"}, {RecoveryModel::Simple, u"SIMPLE"}};

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
