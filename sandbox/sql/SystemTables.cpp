// The system tables and catalog views, built from the catalog as its
// generation shows them.
#include "sandbox/sql/Tables.h"

#include <algorithm>

namespace sandbox::sql {

namespace {

std::int32_t daysFromCivil(int y, int m, int d)
{
    // Days since 1970-01-01 (H. Hinnant's algorithm), shifted to 1900-01-01.
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 25567;
}

DateTime dateTime(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return DateTime{daysFromCivil(y, mo, d), static_cast<std::uint32_t>((h * 3600 + mi * 60 + s) * 300 + ms * 3 / 10)};
}

// Creation dates as an instance shows them: the system databases from the
// setup image, the user databases later.
DateTime creationDate(std::int16_t dbId)
{
    switch (dbId) {
    case 1: return dateTime(2000, 8, 6, 1, 29, 12, 250);
    case 2: return dateTime(2026, 11, 30, 7, 55, 3, 0);
    case 3: return dateTime(2000, 8, 6, 1, 40, 52, 437);
    case 4: return dateTime(2000, 8, 6, 1, 40, 56, 110);
    default:
        return dateTime(2005, 6, 14, 10 + dbId % 8, (dbId * 7) % 60, (dbId * 13) % 60, 0);
    }
}

std::u16string padded(const std::u16string& s, std::size_t width)
{
    std::u16string out = s.substr(0, width);
    out.resize(width, u' ');
    return out;
}

// The items in the order of a key, as the system tables list them.
template <class Item, class Key>
std::vector<const Item*> sortedBy(const std::vector<Item>& items, Key key)
{
    std::vector<const Item*> sorted;
    for (const Item& i : items)
        sorted.push_back(&i);
    std::stable_sort(sorted.begin(), sorted.end(), [key](const Item* a, const Item* b) { return key(*a) < key(*b); });
    return sorted;
}

std::vector<const Database*> byId(const Catalog& catalog)
{
    return sortedBy(catalog.databases, [](const Database& d) { return d.dbId; });
}

std::int16_t compatibilityLevel(const Database& d, Generation g)
{
    return d.cmptLevel != 0 ? d.cmptLevel : generationInfo(g).compatibilityLevel;
}

Value text(const char16_t* s) { return std::u16string(s); }
Value number(std::int64_t n) { return n; }

} // namespace

std::vector<const DbFile*> byFileId(const Database& db)
{
    return sortedBy(db.files, [](const DbFile& f) { return f.fileId; });
}

Table sysdatabases(const Catalog& catalog)
{
    Table t;
    t.columns = {
        {u"name", SqlType::NVarChar, 128, false},   {u"dbid", SqlType::SmallInt, 0, false},
        {u"sid", SqlType::VarBinary, 85, true},     {u"mode", SqlType::SmallInt, 0, false},
        {u"status", SqlType::Int, 0, false},        {u"status2", SqlType::Int, 0, false},
        {u"crdate", SqlType::DateTime, 0, false},   {u"reserved", SqlType::DateTime, 0, false},
        {u"category", SqlType::Int, 0, false},      {u"cmptlevel", SqlType::TinyInt, 0, false},
        {u"filename", SqlType::NVarChar, 260, true}, {u"version", SqlType::SmallInt, 0, true},
    };
    const Generation g = catalog.generation;
    for (const Database* d : byId(catalog)) {
        Value primary = Null{};
        for (const DbFile& f : d->files)
            if (f.fileId == 1)
                primary = f.fileName;
        const std::int32_t status = d->status | stateStatusBit(d->state);
        const std::int16_t version = d->version != 0 ? d->version : generationInfo(g).databaseVersion;
        t.rows.push_back({d->name, number(d->dbId), std::vector<std::uint8_t>{0x01}, number(d->mode), number(status),
                          number(d->status2), creationDate(d->dbId), DateTime{}, number(0),
                          number(compatibilityLevel(*d, g)), primary, number(version)});
    }
    return t;
}

Table sysfiles(const Database& db, const Catalog& catalog)
{
    // 2000 keeps the names in blank-padded nchar; from 2005 the compatibility
    // view has them as sysname and nvarchar(260).
    const bool padding = !hasCatalogViews(catalog.generation);
    const SqlType textType = padding ? SqlType::NChar : SqlType::NVarChar;
    Table t;
    t.columns = {
        {u"fileid", SqlType::SmallInt, 0, false}, {u"groupid", SqlType::SmallInt, 0, false},
        {u"size", SqlType::Int, 0, false},        {u"maxsize", SqlType::Int, 0, false},
        {u"growth", SqlType::Int, 0, false},      {u"status", SqlType::Int, 0, false},
        {u"perf", SqlType::Int, 0, false},        {u"name", textType, 128, false},
        {u"filename", textType, 260, false},
    };
    for (const DbFile* f : byFileId(db))
        t.rows.push_back({number(f->fileId), number(f->groupId), number(f->size), number(f->maxSize),
                          number(f->growth), number(f->status), number(f->perf),
                          padding ? padded(f->name, 128) : f->name, padding ? padded(f->fileName, 260) : f->fileName});
    return t;
}

Table databasesView(const Catalog& catalog)
{
    Table t;
    t.columns = {
        {u"name", SqlType::NVarChar, 128, false},
        {u"database_id", SqlType::Int, 0, false},
        {u"source_database_id", SqlType::Int, 0, true},
        {u"owner_sid", SqlType::VarBinary, 85, true},
        {u"create_date", SqlType::DateTime, 0, false},
        {u"compatibility_level", SqlType::TinyInt, 0, false},
        {u"collation_name", SqlType::NVarChar, 128, true},
        {u"user_access", SqlType::TinyInt, 0, true},
        {u"user_access_desc", SqlType::NVarChar, 60, true},
        {u"is_read_only", SqlType::TinyInt, 0, true},
        {u"is_auto_shrink_on", SqlType::TinyInt, 0, true},
        {u"state", SqlType::TinyInt, 0, true},
        {u"state_desc", SqlType::NVarChar, 60, true},
        {u"recovery_model", SqlType::TinyInt, 0, true},
        {u"recovery_model_desc", SqlType::NVarChar, 60, true},
        {u"log_reuse_wait", SqlType::TinyInt, 0, true},
        {u"log_reuse_wait_desc", SqlType::NVarChar, 60, true},
    };
    for (const Database* d : byId(catalog)) {
        const RecoveryModel model = d->recovery();
        const int wait = d->logReuseWait();
        const bool single = d->singleUser();
        t.rows.push_back({d->name, number(d->dbId), Null{}, std::vector<std::uint8_t>{0x01}, creationDate(d->dbId),
                          number(compatibilityLevel(*d, catalog.generation)), catalog.collationOf(*d),
                          number(single ? 1 : 0), text(single ? u"SINGLE_USER" : u"MULTI_USER"),
                          number((d->status & 1024) != 0 ? 1 : 0), number((d->status & 4194304) != 0 ? 1 : 0),
                          number(static_cast<int>(d->state)), text(stateName(d->state)),
                          number(static_cast<int>(model)), text(recoveryName(model)), number(wait),
                          text(reuseWaitName(wait, catalog.generation))});
    }
    return t;
}

Table databaseFilesView(const Database& db)
{
    Table t;
    t.columns = {
        {u"file_id", SqlType::Int, 0, false},          {u"type", SqlType::TinyInt, 0, false},
        {u"type_desc", SqlType::NVarChar, 60, true},   {u"data_space_id", SqlType::Int, 0, false},
        {u"name", SqlType::NVarChar, 128, false},      {u"physical_name", SqlType::NVarChar, 260, false},
        {u"state", SqlType::TinyInt, 0, true},         {u"state_desc", SqlType::NVarChar, 60, true},
        {u"size", SqlType::Int, 0, false},             {u"max_size", SqlType::Int, 0, false},
        {u"growth", SqlType::Int, 0, false},           {u"is_percent_growth", SqlType::TinyInt, 0, false},
    };
    for (const DbFile* f : byFileId(db)) {
        const bool log = f->isLog();
        const bool percent = (f->status & 0x100000) != 0;
        t.rows.push_back({number(f->fileId), number(log ? 1 : 0), text(log ? u"LOG" : u"ROWS"),
                          number(log ? 0 : f->groupId), f->name, f->fileName, number(0), text(u"ONLINE"),
                          number(f->size), number(f->maxSize), number(f->growth), number(percent ? 1 : 0)});
    }
    return t;
}

} // namespace sandbox::sql
