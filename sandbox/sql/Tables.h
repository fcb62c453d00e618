// The system tables the sandbox serves, built from the catalog, and how their
// values compare in WHERE and ORDER BY.
#pragma once

#include "sandbox/sql/Catalog.h"
#include "sandbox/sql/Result.h"
#include "sandbox/sql/Parser.h"

#include <optional>
#include <string>
#include <vector>

namespace sandbox::sql {

struct Table {
    std::vector<Column> columns;
    std::vector<Row> rows;
};

// The statement failed: the message to raise.
struct StatementError {
    Message message;
};

// master..sysdatabases in dbid order; <db>..sysfiles in fileid order, nchar
// values blank-padded as SQL Server 2000 sends them.
Table sysdatabases(const Catalog& catalog);
Table sysfiles(const Database& db);

// Whether a three-way comparison result satisfies `op` (=, <>, !=, <, >, <=, >=, !<, !>).
bool holds(int cmp, const std::u16string& op);

template <class T>
int threeWay(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// `value op literal` for a value of `column`; a literal that does not
// convert throws StatementError (245) as SQL Server raises it.
bool matches(const Value& value, const Column& column, const Comparison& c);

// ORDER BY: NULL first, numbers by value, text by the collation.
int compareValues(const Value& a, const Value& b);

std::optional<std::size_t> columnIndex(const std::vector<Column>& columns, const std::u16string& name);

} // namespace sandbox::sql
