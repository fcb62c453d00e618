#include "sandbox/sql/Tables.h"

#include "sandbox/sql/Messages.h"

#include <QString>

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

// Creation dates as a SQL Server 2000 instance shows them: the system
// databases from the setup image, the user databases later.
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

const char16_t* typeName(SqlType type)
{
    switch (type) {
    case SqlType::TinyInt: return u"tinyint";
    case SqlType::SmallInt: return u"smallint";
    case SqlType::BigInt: return u"bigint";
    default: return u"int";
    }
}

// `value op literal`, or a conversion error as SQL Server raises it.
} // namespace

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
    std::vector<const Database*> dbs;
    for (const Database& d : catalog.databases)
        dbs.push_back(&d);
    std::stable_sort(dbs.begin(), dbs.end(), [](const Database* a, const Database* b) { return a->dbId < b->dbId; });
    for (const Database* d : dbs) {
        Value primary = Null{};
        for (const DbFile& f : d->files)
            if (f.fileId == 1)
                primary = f.fileName;
        const std::int32_t status = d->status | (d->offline ? 512 : 0);
        t.rows.push_back({d->name, std::int64_t{d->dbId}, std::vector<std::uint8_t>{0x01}, std::int64_t{d->mode},
                          std::int64_t{status}, std::int64_t{d->status2}, creationDate(d->dbId), DateTime{},
                          std::int64_t{0}, std::int64_t{d->cmptLevel}, primary, std::int64_t{d->version}});
    }
    return t;
}

Table sysfiles(const Database& db)
{
    Table t;
    t.columns = {
        {u"fileid", SqlType::SmallInt, 0, false}, {u"groupid", SqlType::SmallInt, 0, false},
        {u"size", SqlType::Int, 0, false},        {u"maxsize", SqlType::Int, 0, false},
        {u"growth", SqlType::Int, 0, false},      {u"status", SqlType::Int, 0, false},
        {u"perf", SqlType::Int, 0, false},        {u"name", SqlType::NChar, 128, false},
        {u"filename", SqlType::NChar, 260, false},
    };
    std::vector<const DbFile*> files;
    for (const DbFile& f : db.files)
        files.push_back(&f);
    std::stable_sort(files.begin(), files.end(), [](const DbFile* a, const DbFile* b) { return a->fileId < b->fileId; });
    for (const DbFile* f : files)
        t.rows.push_back({std::int64_t{f->fileId}, std::int64_t{f->groupId}, std::int64_t{f->size},
                          std::int64_t{f->maxSize}, std::int64_t{f->growth}, std::int64_t{f->status},
                          std::int64_t{f->perf}, padded(f->name, 128), padded(f->fileName, 260)});
    return t;
}

bool holds(int cmp, const std::u16string& op)
{
    if (op == u"=") return cmp == 0;
    if (op == u"<>" || op == u"!=") return cmp != 0;
    if (op == u"<") return cmp < 0;
    if (op == u">") return cmp > 0;
    if (op == u"<=" || op == u"!>") return cmp <= 0;
    if (op == u">=" || op == u"!<") return cmp >= 0;
    return false;
}

bool matches(const Value& value, const Column& column, const Comparison& c)
{
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        std::int64_t rhs = c.value.integer;
        if (c.value.kind == Literal::Kind::String) {
            bool ok = false;
            rhs = QString::fromStdU16String(c.value.text).trimmed().toLongLong(&ok);
            if (!ok)
                throw StatementError{makeMessage(245, {c.value.text, typeName(column.type)})};
        }
        return holds(threeWay(*i, rhs), c.op);
    }
    if (const auto* s = std::get_if<std::u16string>(&value)) {
        if (c.value.kind == Literal::Kind::Integer) {
            bool ok = false;
            const qlonglong lhs = QString::fromStdU16String(std::u16string(trimmedRight(*s))).trimmed().toLongLong(&ok);
            if (!ok)
                throw StatementError{makeMessage(245, {trimmedRight(*s), u"int"})};
            return holds(threeWay<std::int64_t>(lhs, c.value.integer), c.op);
        }
        return holds(compareText(*s, c.value.text), c.op);
    }
    return false;  // NULL, datetime and binary never compare true here
}

int compareValues(const Value& a, const Value& b)
{
    if (a.index() != b.index())
        return threeWay(a.index(), b.index());  // NULL sorts first
    if (const auto* i = std::get_if<std::int64_t>(&a))
        return threeWay(*i, std::get<std::int64_t>(b));
    if (const auto* s = std::get_if<std::u16string>(&a))
        return compareText(*s, std::get<std::u16string>(b));
    if (const auto* d = std::get_if<DateTime>(&a)) {
        const DateTime& e = std::get<DateTime>(b);
        return d->days != e.days ? threeWay(d->days, e.days) : threeWay(d->ticks, e.ticks);
    }
    return 0;
}

std::optional<std::size_t> columnIndex(const std::vector<Column>& columns, const std::u16string& name)
{
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (sameName(columns[i].name, name))
            return i;
    return std::nullopt;
}

} // namespace sandbox::sql
