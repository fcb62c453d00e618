// One batch on a connection. Not for use outside db/.
#pragma once

#include "db/ServerMessage.h"
#include "db/odbc/ConnectionCore.h"

#include <optional>
#include <string>

namespace db::detail {

// Executes in the constructor, then walks its results. Errors of every step
// are remembered (the first one counts) and thrown by finish(); every
// diagnostic also goes to the connection's list of the last operation.
// While it exists, the connection's cancel reaches it.
class Batch {
public:
    Batch(ConnectionCore& core, const std::u16string& sql);
    ~Batch();
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
    // Gives up on the rest of the batch: the server is told to stop and what
    // it still sends is dropped, so the connection is ready for the next one.
    void cancel() noexcept;
    // The server's informational messages so far, in order, cleaned.
    const std::vector<ServerMessage>& messages() const { return messages_; }

private:
    ConnectionCore& core_;
    OdbcHandle stmt_;
    std::optional<Diagnostic> firstError_;
    std::vector<ServerMessage> messages_;
    bool stopped_ = false;  // the link died or the statement was cancelled
    int consecutiveErrors_ = 0;
};

} // namespace db::detail
