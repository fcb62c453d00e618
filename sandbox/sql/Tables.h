// The system tables the sandbox serves, built from the catalog, and how their
// values compare in WHERE and ORDER BY.
#pragma once

#include "sandbox/sql/Catalog.h"
#include "sandbox/sql/Result.h"
#include "sandbox/sql/Statements.h"

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

// The system tables as the catalog's generation has them
// (SystemTables.cpp): master..sysdatabases in dbid order; <db>..sysfiles in
// fileid order (nchar, blank-padded, on 2000; sysname from 2005); from 2005
// the catalog views sys.databases and sys.database_files.
Table sysdatabases(const Catalog& catalog);
Table sysfiles(const Database& db, const Catalog& catalog);
Table databasesView(const Catalog& catalog);
Table databaseFilesView(const Database& db);
// A database's files in fileid order, as the system tables list them.
std::vector<const DbFile*> byFileId(const Database& db);

// The log's tables (LogTables.cpp): DBCC LOGINFO's result set (RecoveryUnitId
// first from 2012), sys.dm_db_log_info, sys.database_recovery_status and
// msdb..backupset, with the columns the sandbox knows in the real ones' order.
Table logInfo(const Database& db, Generation g);
Table logInfoView(const Database& db, Generation g);
Table recoveryStatusView(const Catalog& catalog);
Table backupSetTable(const Catalog& catalog);

// The type's name as messages spell it.
const char16_t* typeName(SqlType type);

// Whether a three-way comparison result satisfies `op` (=, <>, !=, <, >, <=, >=, !<, !>).
bool holds(int cmp, const std::u16string& op);

template <class T>
int threeWay(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// `value op literal` for a value of `column`; a literal that does not
// convert throws StatementError (245) as SQL Server raises it.
bool matches(const Value& value, const Column& column, const Comparison& c, bool caseSensitive);

// ORDER BY: NULL first, numbers by value, text by the collation.
int compareValues(const Value& a, const Value& b, bool caseSensitive);

// Column names follow the collation of the database they are in.
std::optional<std::size_t> columnIndex(const std::vector<Column>& columns, const std::u16string& name,
                                       bool caseSensitive);

} // namespace sandbox::sql
