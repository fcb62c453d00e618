// The tables that report the log and its backups, built from the catalog.
#include "sandbox/sql/Tables.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace sandbox::sql {

namespace {

constexpr std::int64_t PageBytes = 8192;
constexpr std::uint16_t LsnPrecision = 25;  // numeric(25,0)

constexpr DecimalLsn Int64Max = 0x7FFF'FFFF'FFFF'FFFF;

Value number(std::int64_t n) { return n; }
// A numeric(25,0) value: its digits once it outgrows 64 bits.
Value decimal(DecimalLsn n)
{
    if (n > Int64Max)
        return lsnDigits(n);
    return static_cast<std::int64_t>(n);
}
Value lsn(DecimalLsn n) { return n != 0 ? decimal(n) : Value{Null{}}; }

// DBCC LOGINFO's Status: 2 while the VLF cannot be reused, else 0.
std::int64_t inUse(const Vlf& v) { return v.state == VlfState::Reusable ? 0 : 2; }

template <class Each>
void forEachVlf(const Database& db, Each each)
{
    for (const DbFile* f : byFileId(db))
        if (f->isLog())
            for (const Vlf& v : f->vlfs)
                each(*f, v);
}

} // namespace

// Undocumented; the columns as DBCC LOGINFO shows them (the types as
// Microsoft's tigertoolbox script stores them: sandbox/README.md).
Table logInfo(const Database& db, Generation g)
{
    Table t;
    if (g >= Generation::Sql2012)
        t.columns.push_back({u"RecoveryUnitId", SqlType::Int, 0, false});
    t.columns.insert(t.columns.end(), {
        {u"FileId", SqlType::Int, 0, false},       {u"FileSize", SqlType::BigInt, 0, false},
        {u"StartOffset", SqlType::BigInt, 0, false}, {u"FSeqNo", SqlType::Int, 0, false},
        {u"Status", SqlType::Int, 0, false},       {u"Parity", SqlType::TinyInt, 0, false},
        {u"CreateLSN", SqlType::Numeric, LsnPrecision, false},
    });
    forEachVlf(db, [&](const DbFile& f, const Vlf& v) {
        Row r;
        if (g >= Generation::Sql2012)
            r.emplace_back(std::int64_t{0});
        for (const std::int64_t n : {std::int64_t{f.fileId}, v.pages * PageBytes, v.start * PageBytes,
                                     std::int64_t{v.sequence}, inUse(v), std::int64_t{v.parity}})
            r.emplace_back(n);
        r.push_back(decimal(v.createLsn));
        t.rows.push_back(std::move(r));
    });
    return t;
}

// Learn, sys.dm_db_log_info (2016 SP2 and later; the thumbprint from 2019).
Table logInfoView(const Database& db, Generation g)
{
    Table t;
    t.columns = {
        {u"database_id", SqlType::Int, 0, false},          {u"file_id", SqlType::SmallInt, 0, false},
        {u"vlf_begin_offset", SqlType::BigInt, 0, false},  {u"vlf_size_mb", SqlType::Float, 0, false},
        {u"vlf_sequence_number", SqlType::BigInt, 0, false}, {u"vlf_active", SqlType::Bit, 0, false},
        {u"vlf_status", SqlType::Int, 0, false},           {u"vlf_parity", SqlType::TinyInt, 0, false},
        {u"vlf_first_lsn", SqlType::NVarChar, 48, false},   {u"vlf_create_lsn", SqlType::NVarChar, 48, false},
    };
    const bool thumbprint = g >= Generation::Sql2019;
    if (thumbprint)
        t.columns.push_back({u"vlf_encryptor_thumbprint", SqlType::VarBinary, 20, true});
    forEachVlf(db, [&](const DbFile& f, const Vlf& v) {
        // 0 inactive, 1 initialized but unused, 2 active.
        const std::int64_t status = v.state != VlfState::Reusable ? 2 : v.sequence == 0 ? 1 : 0;
        const double mb = std::round(static_cast<double>(v.pages * PageBytes) / (1024.0 * 1024.0) * 100.0) / 100.0;
        // One value at a time: GCC 12 misreads a braced list of variants here.
        Row r;
        for (const std::int64_t n : {std::int64_t{db.dbId}, std::int64_t{f.fileId}, v.start * PageBytes})
            r.emplace_back(n);
        r.emplace_back(mb);
        for (const std::int64_t n : {std::int64_t{v.sequence}, std::int64_t{v.state != VlfState::Reusable ? 1 : 0},
                                     status, std::int64_t{v.parity}})
            r.emplace_back(n);
        r.emplace_back(textLsn(v.sequence != 0 ? decimalLsn(v.sequence, 16, 1) : 0));
        r.emplace_back(textLsn(v.createLsn));
        if (thumbprint)
            r.emplace_back(Null{});
        t.rows.push_back(std::move(r));
    });
    return t;
}

// Learn, sys.database_recovery_status: last_log_backup_lsn is NULL in
// SIMPLE and when there is no current database backup.
Table recoveryStatusView(const Catalog& catalog)
{
    Table t;
    t.columns = {{u"database_id", SqlType::Int, 0, false},
                 {u"last_log_backup_lsn", SqlType::Numeric, LsnPrecision, true}};
    std::vector<const Database*> sorted;
    for (const Database& d : catalog.databases)
        sorted.push_back(&d);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Database* a, const Database* b) { return a->dbId < b->dbId; });
    for (const Database* d : sorted) {
        const auto last = d->state != DatabaseState::Online ? std::nullopt : d->lastLogBackupLsn();
        t.rows.push_back({number(d->dbId), last ? decimal(*last) : Value{Null{}}});
    }
    return t;
}

// Learn, backupset (msdb): one row per backup, in backup_set_id order.
Table backupSetTable(const Catalog& catalog)
{
    Table t;
    t.columns = {
        {u"backup_set_id", SqlType::Int, 0, false},
        {u"first_lsn", SqlType::Numeric, LsnPrecision, true},
        {u"last_lsn", SqlType::Numeric, LsnPrecision, true},
        {u"database_backup_lsn", SqlType::Numeric, LsnPrecision, true},
        {u"backup_start_date", SqlType::DateTime, 0, true},
        {u"backup_finish_date", SqlType::DateTime, 0, true},
        {u"type", SqlType::Char, 1, true},
        {u"database_name", SqlType::NVarChar, 128, true},
    };
    std::vector<const BackupSet*> sorted;
    for (const BackupSet& b : catalog.backups)
        sorted.push_back(&b);
    std::stable_sort(sorted.begin(), sorted.end(), [](const BackupSet* a, const BackupSet* b) { return a->id < b->id; });
    for (const BackupSet* b : sorted)
        t.rows.push_back({number(b->id), lsn(b->firstLsn), lsn(b->lastLsn), lsn(b->databaseBackupLsn), b->start,
                          b->finish, std::u16string(1, b->type), b->database});
    return t;
}

} // namespace sandbox::sql
