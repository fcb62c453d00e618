// The one database connection, ADO flavoured, over unixODBC and FreeTDS.
#pragma once

#include "db/ServerGeneration.h"

#include <memory>
#include <string>
#include <vector>

namespace db {

namespace detail {
class ConnectionCore;
}

// An informational message of the server (severity 10 and below), such as
// DBCC's "Cannot shrink log file ...".
struct ServerMessage {
    long number = 0;
    std::u16string text;  // cleaned as error messages are
};

class TADOConnection {
public:
    TADOConnection();
    ~TADOConnection();  // closes; never throws
    TADOConnection(const TADOConnection&) = delete;
    TADOConnection& operator=(const TADOConnection&) = delete;

    // Seconds; applied at the next Open (login) and at every statement (query).
    int ConnectionTimeout() const;
    void SetConnectionTimeout(int seconds);
    int CommandTimeout() const;
    void SetCommandTimeout(int seconds);

    // True exactly while the connection is open; a link found dead counts as
    // closed, so that the next Open (or Execute) connects afresh.
    bool Connected() const;

    // The OLE DB style text (see ConnectionString.h); takes effect at the next
    // Open. Does nothing if unchanged.
    void SetConnectionString(const std::u16string& text);
    const std::u16string& ConnectionString() const;

    // Connects without any prompt. Throws EDatabaseError on failure; then the
    // connection is closed. Does nothing when already open. The connection
    // text is read here (an unknown provider or keyword throws before any
    // traffic). When no ODBC environment can be made or the driver cannot be
    // loaded, the message is MissingComponentsMessage: what a machine without
    // the data access components answers.
    void Open();
    // Rolls back a transaction still counted as open, then disconnects.
    // Does nothing when closed; never throws (a dead link is just let go).
    void Close();

    // Sends the text as one batch (opening first if closed), under the command
    // time-out, reads every result and throws on an error in any of them.
    // Returns the server's informational messages, in order.
    std::vector<ServerMessage> Execute(const std::u16string& sql);

    // The server's version, read at Open from the driver (2000 until then,
    // and when it cannot be read).
    db::ServerVersion ServerVersion() const;

    // Manual commit as SQL Server's own ODBC driver does it (implicit
    // transactions), so that BACKUP LOG may run inside: there is no explicit
    // BEGIN TRANSACTION. Returns the nesting level (1; a second one throws,
    // as sqloledb has no nested transactions). Commit and roll back throw
    // when no transaction is counted; the count drops only when they succeed.
    // Once it has dropped, the session is out of implicit mode: if it cannot
    // be switched back, the connection is closed rather than left opening
    // transactions nobody ends. A transaction lost with its link is not
    // reconnected: Execute, CommitTrans and RollbackTrans all throw (the
    // server has rolled it back with the session), and Close lets it go.
    int BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    int TransactionCount() const;
    bool InTransaction() const { return TransactionCount() > 0; }

    // For TADODataSet.
    detail::ConnectionCore& core();

private:
    void endTransaction(const std::u16string& statement);

    std::unique_ptr<detail::ConnectionCore> core_;
};

} // namespace db
