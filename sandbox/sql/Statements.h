// The statements the sandbox answers, as the parser hands them to the
// executor: what each one names, nothing of how it was written.
#pragma once

#include "sandbox/sql/Catalog.h"
#include "sandbox/sql/Result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace sandbox::sql {

struct Literal {
    enum class Kind { Integer, String } kind = Kind::Integer;
    std::int64_t integer = 0;
    std::u16string text;   // the string, or the number as written
    bool national = false;
};

// A type as CONVERT and CAST name it.
struct TypeName {
    SqlType type = SqlType::Int;
    std::uint16_t length = 30;  // characters, for the text types
};

// An expression of a select list, PRINT or IF: literals, @@variables,
// columns, functions (DB_NAME, SERVERPROPERTY, DATABASEPROPERTYEX, ...),
// CONVERT and CAST, and integer arithmetic.
struct Expr {
    enum class Kind { Literal, Variable, Column, Call, Convert, Binary } kind = Kind::Literal;
    Literal literal;
    std::u16string name;     // variable (upper case, with its @s), column, or function (upper case)
    std::vector<Expr> args;  // a call's arguments; CONVERT's value; an operator's two sides
    TypeName type;           // CONVERT, CAST
    char16_t op = 0;         // + - * / %
};

// One item of a select list: an expression, or * (all columns).
struct SelectItem {
    bool star = false;
    Expr expr;
    std::u16string alias;
    bool hasAlias = false;
};

// `column op literal`, or `column op function(...)` (worked out once, before
// the rows are compared).
struct Comparison {
    std::u16string column;
    std::u16string op;     // = <> != < > <= >= !< !>
    Literal value;
    std::optional<Expr> call;
};

// A WHERE clause as OR of ANDs (AND binds tighter); empty: no WHERE.
using Condition = std::vector<std::vector<Comparison>>;

struct OrderKey {
    std::u16string column;  // empty when given by position
    std::int64_t position = 0;  // 1-based
    bool descending = false;
};

// A possibly qualified name: db.owner.object, db..object, owner.object, object.
struct ObjectName {
    std::u16string database, owner, object;
    std::u16string display; // as SQL Server echoes it in 208
};

struct SelectStmt {
    std::optional<std::int64_t> top;  // TOP n
    std::vector<SelectItem> items;
    std::optional<ObjectName> from;
    // A table-valued function's arguments, as in sys.dm_db_log_info(DB_ID());
    // none for NULL and DEFAULT.
    std::optional<std::vector<std::optional<Expr>>> fromArgs;
    Condition where;
    std::vector<OrderKey> orderBy;
};

struct UseStmt {
    std::u16string database;
};

struct ExecStmt {
    ObjectName procedure;
    std::vector<Literal> args;   // identifiers passed as arguments arrive as strings
};

struct BackupLogStmt {
    std::u16string database;
    std::u16string option;       // TRUNCATE_ONLY, NO_LOG, or DISK for a backup to a file
};

struct ShrinkFileStmt {
    bool byId = false;
    std::int64_t fileId = 0;
    std::u16string fileName;
    std::optional<std::int64_t> targetMb;
    bool truncateOnly = false;
    bool noInfoMessages = false;
};

// DBCC LOGINFO [(database name or id)] [WITH NO_INFOMSGS].
struct DbccLogInfoStmt {
    std::optional<Literal> database;
    bool noInfoMessages = false;
};

// DBCC SQLPERF (LOGSPACE) [WITH NO_INFOMSGS]: every database's log space.
struct DbccSqlPerfStmt {
    bool noInfoMessages = false;
};

struct DbccOtherStmt {
    std::u16string command;
};

struct SetStmt {
    std::vector<std::u16string> options;  // upper case
    std::u16string value;                 // ON, OFF, a number, a word
};

struct TranStmt {
    enum class Kind { Begin, Commit, Rollback } kind = Kind::Begin;
};

struct PrintStmt {
    Expr what;
};

// WAITFOR DELAY 'hh:mm:ss[.mmm]'.
struct WaitForStmt {
    std::int64_t milliseconds = 0;
};

// CHECKPOINT [duration]: in the current database.
struct CheckpointStmt {};

// ALTER DATABASE name SET RECOVERY model [WITH NO_WAIT | ROLLBACK ...].
struct AlterDatabaseStmt {
    std::u16string database;
    RecoveryModel recovery = RecoveryModel::Full;
};

struct Statement;

// IF <expression> <op> <expression> <statement> [ELSE <statement>].
struct IfStmt {
    Expr left, right;
    std::u16string op;
    std::vector<Statement> then, otherwise;
};

struct BlockStmt {
    std::vector<Statement> body;
};

struct Statement {
    std::variant<SelectStmt, UseStmt, ExecStmt, BackupLogStmt, ShrinkFileStmt, DbccOtherStmt, SetStmt,
                 TranStmt, PrintStmt, IfStmt, BlockStmt, WaitForStmt, CheckpointStmt, AlterDatabaseStmt,
                 DbccLogInfoStmt, DbccSqlPerfStmt>
        body;
    std::size_t begin = 0, end = 0;  // the statement's text in the batch
    std::uint16_t line = 1;
};

} // namespace sandbox::sql
