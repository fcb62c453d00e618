// Browsing: SELECT from the system tables and of scalar values, and USE.
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <algorithm>

namespace sandbox::sql {

Table Executor::resolveTable(const SelectStmt& s, bool& cs)
{
    const ObjectName& name = *s.from;
    Database& db = database(name.database.empty() ? session_.database : name.database);
    cs = caseSensitive(db);
    const auto is = [&](const std::u16string& part, std::u16string_view expected) {
        return sameName(part, expected, cs);
    };
    const bool views = hasCatalogViews(generation());
    const bool sys = views && is(name.owner, u"sys");
    std::optional<Table> table;
    if (name.owner.empty() || is(name.owner, u"dbo") || sys) {
        if (is(name.object, u"sysfiles"))
            table = sysfiles(db, catalog_);
        // 2000 keeps it in master only; the later compatibility view is everywhere.
        else if (is(name.object, u"sysdatabases") && (views || is(db.name, u"master")))
            table = sysdatabases(catalog_);
    }
    if (sys && is(name.object, u"databases"))
        table = databasesView(catalog_);
    if (sys && is(name.object, u"database_files"))
        table = databaseFilesView(db);
    if (table && s.fromArgs)
        throw StatementError{makeMessage(215, {name.display})};
    if (!table)
        table = logTable(s, db, cs);
    if (!table)
        table = logSpaceTable(s, db, cs);
    if (!table)
        throw StatementError{makeMessage(208, {name.display})};
    return std::move(*table);
}

void Executor::selectScalars(const SelectStmt& s)
{
    std::vector<Column> cols;
    Row row;
    for (const SelectItem& item : s.items) {
        if (item.star)
            throw StatementError{makeMessage(263)};
        Typed t = evaluate(item.expr, Scope{});
        t.column.name = item.alias;
        cols.push_back(std::move(t.column));
        row.push_back(std::move(t.value));
    }
    out_.columns(cols);
    const bool none = s.top && *s.top == 0;
    if (!none)
        out_.row(row);
    doneRows(curcmd::Select, none ? 0 : 1);
}

// Table columns stay as they are; any other expression is worked out for
// each row, its type learnt from a row of NULLs.
std::vector<Executor::Output> Executor::selectList(const SelectStmt& s, const Table& table, bool cs)
{
    std::vector<Output> outputs;
    for (const SelectItem& item : s.items) {
        if (item.star) {
            for (std::size_t i = 0; i < table.columns.size(); ++i)
                outputs.push_back({table.columns[i], i, nullptr});
            continue;
        }
        Output o;
        if (item.expr.kind == Expr::Kind::Column) {
            o.source = columnIndex(table.columns, item.expr.name, cs);
            if (!o.source)
                throw StatementError{makeMessage(207, {item.expr.name})};
            o.column = table.columns[*o.source];
        } else {
            o.expr = &item.expr;
            o.column = evaluate(item.expr, Scope{&table, nullptr, cs}).column;
            o.column.name.clear();
        }
        if (item.hasAlias)
            o.column.name = item.alias;
        outputs.push_back(std::move(o));
    }
    return outputs;
}

// WHERE: OR of ANDs. A function on the right is worked out once; its NULL
// makes the comparison unknown, never true.
std::vector<Row> Executor::filter(Table& table, const Condition& where, bool cs)
{
    struct Test {
        std::size_t column = 0;
        Comparison comparison;
        bool unknown = false;
    };
    std::vector<std::vector<Test>> tests;
    for (const auto& all : where) {
        tests.emplace_back();
        for (const Comparison& c : all) {
            const auto i = columnIndex(table.columns, c.column, cs);
            if (!i)
                throw StatementError{makeMessage(207, {c.column})};
            Test t{*i, c, false};
            if (c.call) {
                const Value v = evaluate(*c.call, Scope{}).value;
                if (const auto* n = std::get_if<std::int64_t>(&v))
                    t.comparison.value = Literal{Literal::Kind::Integer, *n, toU16(*n), false};
                else if (const auto* text = std::get_if<std::u16string>(&v))
                    t.comparison.value = Literal{Literal::Kind::String, 0, *text, true};
                else
                    t.unknown = true;
            }
            tests.back().push_back(std::move(t));
        }
    }
    std::vector<Row> rows;
    for (Row& r : table.rows) {
        bool keep = where.empty();
        for (std::size_t a = 0; a < tests.size() && !keep; ++a) {
            bool all = true;
            for (std::size_t k = 0; k < tests[a].size() && all; ++k) {
                const Test& t = tests[a][k];
                all = !t.unknown && matches(r[t.column], table.columns[t.column], t.comparison, cs);
            }
            keep = all;
        }
        if (keep)
            rows.push_back(std::move(r));
    }
    return rows;
}

// ORDER BY: a select-list position, any column of the table, or an alias.
// Rows are still the table's here; outputs are worked out when compared.
void Executor::sort(std::vector<Row>& rows, const SelectStmt& s, const std::vector<Output>& outputs,
                    const Table& table, bool cs)
{
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
        } else if (auto i = columnIndex(table.columns, k.column, cs)) {
            key.tableColumn = i;
        } else {
            const auto named = std::find_if(outputs.begin(), outputs.end(),
                                            [&](const Output& o) { return sameName(o.column.name, k.column, cs); });
            if (named == outputs.end())
                throw StatementError{makeMessage(207, {k.column})};
            key.output = static_cast<std::size_t>(named - outputs.begin());
        }
        keys.push_back(key);
    }
    if (keys.empty())
        return;
    const auto valueOf = [&](const Row& r, const Key& k) -> Value {
        if (k.tableColumn)
            return r[*k.tableColumn];
        const Output& o = outputs[k.output];
        return o.source ? r[*o.source] : evaluate(*o.expr, Scope{&table, &r, cs}).value;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        for (const Key& k : keys) {
            const int cmp = compareValues(valueOf(a, k), valueOf(b, k), cs);
            if (cmp != 0)
                return k.descending ? cmp > 0 : cmp < 0;
        }
        return false;
    });
}

void Executor::execute(const SelectStmt& s)
{
    if (!s.from) {
        selectScalars(s);
        return;
    }
    implicitBegin();
    bool cs = false;
    Table table = resolveTable(s, cs);
    const std::vector<Output> outputs = selectList(s, table, cs);
    std::vector<Row> rows = filter(table, s.where, cs);
    sort(rows, s, outputs, table, cs);
    if (s.top && static_cast<std::uint64_t>(*s.top) < rows.size())
        rows.resize(static_cast<std::size_t>(*s.top));

    std::vector<Column> cols;
    for (const Output& o : outputs)
        cols.push_back(o.column);
    out_.columns(cols);
    for (const Row& r : rows) {
        Row projected;
        for (const Output& o : outputs)
            projected.push_back(o.source ? r[*o.source] : evaluate(*o.expr, Scope{&table, &r, cs}).value);
        out_.row(projected);
    }
    doneRows(curcmd::Select, rows.size());
}

void Executor::execute(const UseStmt& s)
{
    Database& db = database(s.database);
    if (auto refusal = openRefusal(db, session_, sessions_))
        throw StatementError{std::move(*refusal)};
    const std::u16string old = session_.database;
    session_.database = db.name;
    out_.databaseChanged(db.name, old);
    info(makeMessage(5701, {db.name}));
    out_.done(DoneKind::Done, 0, curcmd::Use, 0);
}

} // namespace sandbox::sql
