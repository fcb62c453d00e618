// What the SQL engine produces and the TDS session encodes: the boundary
// between statement execution and the wire codec.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace sandbox {

// Column types as SQL Server reports them for the system tables and
// the results the sandbox produces.
enum class SqlType {
    TinyInt,   // tinyint
    SmallInt,  // smallint
    Int,       // int
    BigInt,    // bigint
    NChar,     // nchar(n)  (maxLength in characters)
    NVarChar,  // nvarchar(n) (maxLength in characters)
    VarChar,   // varchar(n)
    VarBinary, // varbinary(n)
    DateTime,  // datetime
    NText,     // ntext (values of any length)
    Variant,   // sql_variant: an int or an nvarchar, as the value is
    Char,      // char(n), blank-padded
    Numeric,   // numeric(p, 0) (maxLength is the precision), integer values
    Float,     // float: double values
    Bit,       // bit: 0 or 1
    Real,      // real: double values, sent as 4-byte floats
};

struct Column {
    std::u16string name;
    SqlType type = SqlType::Int;
    std::uint16_t maxLength = 0;  // characters for text types, bytes for varbinary, numeric's precision
    bool nullable = false;
};

// datetime as TDS carries it: days since 1900-01-01 and 1/300 s since midnight.
struct DateTime {
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

struct Null {
    friend bool operator==(const Null&, const Null&) = default;
};

using Value = std::variant<Null, std::int64_t, std::u16string, std::vector<std::uint8_t>, DateTime, double>;
using Row = std::vector<Value>;

// An INFO (severity 0..10) or ERROR (11 and up) token; the session adds the server name.
struct Message {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 0;
    std::u16string text;
    std::u16string procName;
    std::uint16_t line = 1;
    // For a message from the server's own table: what filled its text, so
    // that each generation can word it its own way (see Messages.h).
    std::vector<std::u16string> args{};
    bool fromTable = false;
};

enum class DoneKind { Done, DoneProc, DoneInProc };

// DONE status bits the engine sets; the session adds DONE_MORE and DONE_ATTN.
namespace done {
constexpr std::uint16_t Error = 0x0002;
constexpr std::uint16_t InXact = 0x0004;
constexpr std::uint16_t Count = 0x0010;
constexpr std::uint16_t SrvError = 0x0100;
} // namespace done

// TDS CURCMD values for the statements the sandbox knows.
namespace curcmd {
constexpr std::uint16_t Select = 0x00C1;
constexpr std::uint16_t Use = 0x0000;  // plain DONE for statements without a token of their own
constexpr std::uint16_t Exec = 0x00E0;
constexpr std::uint16_t Set = 0x00B9;
constexpr std::uint16_t BeginTran = 0x00D4;
constexpr std::uint16_t Commit = 0x00D5;
constexpr std::uint16_t Rollback = 0x00D2;
constexpr std::uint16_t Dbcc = 0x00F5;
constexpr std::uint16_t Backup = 0x0000;
constexpr std::uint16_t If = 0x00C8;
} // namespace curcmd

// A transaction began (the count left 0) or ended (it went back to 0).
enum class TransactionChange { Began, Committed, RolledBack };

// Receives the results of one batch in order. Implemented by the TDS
// session (which encodes tokens) and by tests (which record them).
class ResultSink {
public:
    virtual ~ResultSink() = default;
    virtual void columns(const std::vector<Column>& cols) = 0;
    virtual void row(const Row& values) = 0;
    virtual void done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) = 0;
    virtual void message(const Message& msg) = 0;
    // The current database changed (USE): new and old name.
    virtual void databaseChanged(const std::u16string& newName, const std::u16string& oldName) = 0;
    // Wait this long before going on; false when the client cancelled
    // (ATTENTION) meanwhile, and then the engine stops the batch at once.
    virtual bool pause(std::chrono::milliseconds delay) = 0;
    // A fault asked for the connection to be dropped; the engine stops the batch.
    virtual void dropConnection() = 0;
    // Sends what the batch has answered so far; the batch goes on.
    virtual void flush() {}
    // The session's transaction began or ended (TDS 7.2 clients are told).
    virtual void transactionChanged(TransactionChange) {}
};

} // namespace sandbox
