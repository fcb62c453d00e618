// Recognizes the T-SQL statements the sandbox answers. A batch is parsed
// whole before any of it runs, so that a syntax error runs none of it.
#pragma once

#include "sandbox/sql/Lexer.h"

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

// One item of a select list.
struct SelectItem {
    enum class Kind { Star, Column, Variable, Literal, DbName } kind = Kind::Star;
    std::u16string name;   // column or variable (with its @s)
    Literal literal;
    std::u16string alias;
    bool hasAlias = false;
};

// `column op literal`.
struct Comparison {
    std::u16string column;
    std::u16string op;     // = <> != < > <= >= !< !>
    Literal value;
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
    std::vector<SelectItem> items;
    std::optional<ObjectName> from;
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
    SelectItem what;
};

// WAITFOR DELAY 'hh:mm:ss[.mmm]'.
struct WaitForStmt {
    std::int64_t milliseconds = 0;
};

// CHECKPOINT [duration]: in the current database.
struct CheckpointStmt {};

struct Statement;

// IF <operand> <op> <operand> <statement> [ELSE <statement>]; operands are
// @@variables or integers.
struct IfStmt {
    SelectItem left, right;
    std::u16string op;
    std::vector<Statement> then, otherwise;
};

struct BlockStmt {
    std::vector<Statement> body;
};

struct Statement {
    std::variant<SelectStmt, UseStmt, ExecStmt, BackupLogStmt, ShrinkFileStmt, DbccOtherStmt, SetStmt,
                 TranStmt, PrintStmt, IfStmt, BlockStmt, WaitForStmt, CheckpointStmt>
        body;
    std::size_t begin = 0, end = 0;  // the statement's text in the batch
    std::uint16_t line = 1;
};

// Throws SyntaxError with SQL Server's message (105, 113, 137, 156, 170).
std::vector<Statement> parseBatch(std::u16string_view batch);

} // namespace sandbox::sql
