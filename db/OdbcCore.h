// Inside the data layer: ODBC handles, diagnostics and the running of one
// batch. Not for use outside db/.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include "ConnectionString.h"
#include "Errors.h"

#include <optional>
#include <string>
#include <vector>

namespace db::detail {

// Owns one ODBC handle.
class OdbcHandle {
public:
    OdbcHandle() = default;
    OdbcHandle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
    ~OdbcHandle() { reset(); }
    OdbcHandle(OdbcHandle&& other) noexcept;
    OdbcHandle& operator=(OdbcHandle&& other) noexcept;
    OdbcHandle(const OdbcHandle&) = delete;
    OdbcHandle& operator=(const OdbcHandle&) = delete;

    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }
    explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }
    void reset() noexcept;

private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// Converts between our UTF-16 and SQLWCHAR (16-bit on unixODBC and Windows).
std::vector<SQLWCHAR> toSqlWChar(const std::u16string& text);
std::u16string fromSqlWChar(const SQLWCHAR* text, std::size_t length);

struct Diagnostic {
    std::string sqlState;
    long nativeError = 0;
    std::u16string text;  // as the driver gives it, prefixes and all
};

std::vector<Diagnostic> readDiagnostics(SQLSMALLINT type, SQLHANDLE handle);
// Informational records (class 01, or 00000) are not errors.
bool isErrorRecord(const Diagnostic& d);
const Diagnostic* firstError(const std::vector<Diagnostic>& records);
// States that mean the link to the server is gone.
bool isLinkFailure(const std::string& sqlState);

// The user-facing message: driver prefixes such as "[FreeTDS][SQL Server]"
// removed, then trailing blanks, control characters and full stops.
std::u16string cleanMessage(std::u16string_view text);
// A text for an SQLSTATE when the driver gave none; "ODBC error <state>" failing that.
std::u16string textForState(const std::string& sqlState);
EOdbcError errorFrom(const Diagnostic& d);

// Which driver stands in for sqloledb on this machine.
OdbcDriver findFreeTdsDriver(SQLHENV env);

// The state behind a TADOConnection.
class ConnectionCore {
public:
    int connectionTimeout = 15;
    int commandTimeout = 30;
    std::u16string connectionString;
    int tranCount = 0;
    // The driver to use; when empty, the one findFreeTdsDriver() names.
    std::optional<OdbcDriver> driver;

    ~ConnectionCore() { close(); }

    // Open in the driver's eyes and not found dead.
    bool isOpen() const;
    void open();
    void close() noexcept;
    // Opens when closed, unless a transaction was lost with a dead link (then throws).
    void ensureOpen();
    // Sends a batch and reads it to the end, throwing on an error in any result.
    // Opens first (ensureOpen).
    void execute(const std::u16string& sql);
    // Like execute, but never (re)opens: for the transaction statements.
    void executeOnOpen(const std::u16string& sql);

    // The dead link's error, thrown when a transaction statement needs the link.
    [[noreturn]] void throwLinkLost() const;

    SQLHDBC dbc() const { return dbc_.get(); }
    void noteLinkFailure(const Diagnostic& d) const;

private:
    bool driverSaysDead() const;

    OdbcHandle env_;
    OdbcHandle dbc_;
    bool connected_ = false;
    mutable bool dead_ = false;
    mutable std::optional<Diagnostic> deathCause_;
};

// One batch on a connection: executes in the constructor, then walks its
// results. Errors of every step are remembered (the first one counts) and
// thrown by finish().
class Batch {
public:
    Batch(ConnectionCore& core, const std::u16string& sql);
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    SQLHSTMT stmt() const { return stmt_.get(); }
    // Columns of the current result; 0 for a result without a result set.
    SQLSMALLINT columnCount();
    // The next row of the current result; false at its end or on an error.
    bool fetch();
    // Moves to the next result; false when there is none (or reading cannot go on).
    bool nextResult();
    // Records the diagnostics of a call; true when it succeeded.
    bool check(SQLRETURN rc);
    // Reads the remaining results, then throws the first error, if any.
    void finish();
    bool failed() const { return firstError_.has_value(); }
    bool stopped() const { return stopped_; }

private:
    ConnectionCore& core_;
    OdbcHandle stmt_;
    std::optional<Diagnostic> firstError_;
    bool stopped_ = false;  // the link died or the statement was cancelled
    int consecutiveErrors_ = 0;
};

} // namespace db::detail
