// Browsing: SELECT from the system tables and of scalar values, and USE.
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <algorithm>
#include <climits>

namespace sandbox::sql {

namespace {

constexpr const char16_t* VersionText =
    u"Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n"
    u"\tMay  3 2005 23:18:38 \n"
    u"\tCopyright (c) 1988-2003 Microsoft Corporation\n"
    u"\tStandard Edition on Windows NT 5.2 (Build 3790: Service Pack 2)\n";

} // namespace

std::optional<Value> Executor::variable(const std::u16string& name, Column& column)
{
    column.nullable = false;
    if (name == u"@@TRANCOUNT") {
        column.type = SqlType::Int;
        return std::int64_t{session_.tranCount};
    }
    if (name == u"@@SPID") {
        column.type = SqlType::SmallInt;
        return std::int64_t{session_.spid};
    }
    if (name == u"@@VERSION") {
        column.type = SqlType::NVarChar;
        column.maxLength = 256;
        return std::u16string(VersionText);
    }
    if (name == u"@@SERVERNAME") {
        column.type = SqlType::NVarChar;
        column.maxLength = 128;
        column.nullable = true;
        return serverName_;
    }
    if (name == u"@@LANGUAGE") {
        column.type = SqlType::NVarChar;
        column.maxLength = 128;
        return std::u16string(u"us_english");
    }
    if (name == u"@@ERROR" || name == u"@@ROWCOUNT") {
        column.type = SqlType::Int;
        return std::int64_t{0};
    }
    return std::nullopt;
}

// A select-list item that needs no table: its column and value.
std::pair<Column, Value> Executor::scalar(const SelectItem& item)
{
    Column c;
    c.name = item.alias;
    switch (item.kind) {
    case SelectItem::Kind::Variable: {
        if (auto v = variable(item.name, c))
            return {c, *v};
        throw StatementError{makeMessage(137, {item.name})};
    }
    case SelectItem::Kind::Literal:
        if (item.literal.kind == Literal::Kind::Integer) {
            const bool fitsInt = item.literal.integer >= INT32_MIN && item.literal.integer <= INT32_MAX;
            c.type = fitsInt ? SqlType::Int : SqlType::BigInt;
            return {c, item.literal.integer};
        }
        c.type = item.literal.national ? SqlType::NVarChar : SqlType::VarChar;
        c.maxLength = static_cast<std::uint16_t>(std::clamp<std::size_t>(item.literal.text.size(), 1, 4000));
        return {c, item.literal.text};
    case SelectItem::Kind::DbName:
        c.type = SqlType::NVarChar;
        c.maxLength = 128;
        c.nullable = true;
        return {c, session_.database};
    case SelectItem::Kind::Column:
        throw StatementError{makeMessage(207, {item.name})};
    case SelectItem::Kind::Star:
        break;
    }
    throw StatementError{makeMessage(263)};
}

Table Executor::resolveTable(const ObjectName& name)
{
    if (!name.owner.empty() && !sameName(name.owner, u"dbo"))
        throw StatementError{makeMessage(208, {name.display})};
    const std::u16string dbName = name.database.empty() ? session_.database : name.database;
    Database& db = database(dbName);
    if (sameName(name.object, u"sysfiles"))
        return sysfiles(db);
    if (sameName(name.object, u"sysdatabases") && sameName(db.name, u"master"))
        return sysdatabases(catalog_);
    throw StatementError{makeMessage(208, {name.display})};
}

void Executor::execute(const SelectStmt& s)
{
    if (!s.from) {
        std::vector<Column> cols;
        Row row;
        for (const SelectItem& item : s.items) {
            auto [c, v] = scalar(item);
            cols.push_back(std::move(c));
            row.push_back(std::move(v));
        }
        out_.columns(cols);
        out_.row(row);
        doneRows(curcmd::Select, 1);
        return;
    }
    implicitBegin();
    Table table = resolveTable(*s.from);

    // The select list: table columns by index, or constants.
    struct Output {
        Column column;
        std::optional<std::size_t> source;
        Value constant;
    };
    std::vector<Output> outputs;
    for (const SelectItem& item : s.items) {
        if (item.kind == SelectItem::Kind::Star) {
            for (std::size_t i = 0; i < table.columns.size(); ++i)
                outputs.push_back({table.columns[i], i, Null{}});
        } else if (item.kind == SelectItem::Kind::Column) {
            const auto i = columnIndex(table.columns, item.name);
            if (!i)
                throw StatementError{makeMessage(207, {item.name})};
            Column c = table.columns[*i];
            if (item.hasAlias)
                c.name = item.alias;
            outputs.push_back({c, i, Null{}});
        } else {
            auto [c, v] = scalar(item);
            outputs.push_back({c, std::nullopt, v});
        }
    }

    // WHERE: OR of ANDs.
    std::vector<std::vector<std::size_t>> whereColumns;
    for (const auto& all : s.where) {
        whereColumns.emplace_back();
        for (const Comparison& c : all) {
            const auto i = columnIndex(table.columns, c.column);
            if (!i)
                throw StatementError{makeMessage(207, {c.column})};
            whereColumns.back().push_back(*i);
        }
    }
    std::vector<Row> rows;
    for (Row& r : table.rows) {
        bool keep = s.where.empty();
        for (std::size_t a = 0; a < s.where.size() && !keep; ++a) {
            bool all = true;
            for (std::size_t k = 0; k < s.where[a].size() && all; ++k) {
                const std::size_t col = whereColumns[a][k];
                all = matches(r[col], table.columns[col], s.where[a][k]);
            }
            keep = all;
        }
        if (keep)
            rows.push_back(std::move(r));
    }

    // ORDER BY: a select-list position, an alias, or any column of the table.
    struct Key {
        std::optional<std::size_t> tableColumn;
        std::size_t output = 0;
        bool descending = false;
    };
    std::vector<Key> keys;
    for (const OrderKey& k : s.orderBy) {
        Key key;
        key.descending = k.descending;
        if (k.position > 0 || k.column.empty()) {
            if (k.position < 1 || static_cast<std::size_t>(k.position) > outputs.size())
                throw StatementError{makeMessage(108, {toU16(k.position)})};
            key.output = static_cast<std::size_t>(k.position - 1);
        } else if (auto i = columnIndex(table.columns, k.column)) {
            key.tableColumn = i;
        } else {
            bool found = false;
            for (std::size_t o = 0; o < outputs.size() && !found; ++o)
                if (sameName(outputs[o].column.name, k.column)) {
                    key.output = o;
                    found = true;
                }
            if (!found)
                throw StatementError{makeMessage(207, {k.column})};
        }
        keys.push_back(key);
    }
    auto valueOf = [&outputs](const Row& r, std::size_t o) -> const Value& {
        return outputs[o].source ? r[*outputs[o].source] : outputs[o].constant;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        for (const Key& k : keys) {
            const int cmp = k.tableColumn ? compareValues(a[*k.tableColumn], b[*k.tableColumn])
                                          : compareValues(valueOf(a, k.output), valueOf(b, k.output));
            if (cmp != 0)
                return k.descending ? cmp > 0 : cmp < 0;
        }
        return false;
    });

    std::vector<Column> cols;
    for (const Output& o : outputs)
        cols.push_back(o.column);
    out_.columns(cols);
    for (const Row& r : rows) {
        Row projected;
        for (std::size_t o = 0; o < outputs.size(); ++o)
            projected.push_back(valueOf(r, o));
        out_.row(projected);
    }
    doneRows(curcmd::Select, rows.size());
}

void Executor::execute(const UseStmt& s)
{
    Database& db = database(s.database);
    if (db.offline)
        throw StatementError{makeMessage(942, {db.name})};
    const std::u16string old = session_.database;
    session_.database = db.name;
    out_.databaseChanged(db.name, old);
    info(makeMessage(5701, {db.name}));
    out_.done(DoneKind::Done, 0, curcmd::Use, 0);
}
} // namespace sandbox::sql
