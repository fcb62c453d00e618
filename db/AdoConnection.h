// The one database connection, ADO flavoured, over unixODBC and FreeTDS.
#pragma once

#include "db/ServerGeneration.h"
#include "db/ServerMessage.h"

#include <memory>
#include <string>
#include <vector>

namespace db {

namespace detail {
class ConnectionCore;
}

struct OdbcDriver;
class TADODataSet;

class TADOConnection {
public:
    TADOConnection();
    ~TADOConnection();  // closes; never throws
    TADOConnection(const TADOConnection&) = delete;
    TADOConnection& operator=(const TADOConnection&) = delete;

    // Seconds; applied at the next Open (login) and at every statement
    // (query). A command time-out of 0 waits for as long as the server takes.
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

    // What the server's browser service announced as its version ("8.00.194"),
    // for a server picked from the list; empty for a typed one. Takes effect
    // at the next Open, where it chooses the driver in place of asking the
    // server (see findDriver).
    void SetAnnouncedVersion(const std::u16string& version);

    // Connects without any prompt. Throws EDatabaseError on failure; then the
    // connection is closed. Does nothing when already open. The connection
    // text is read here (an unknown provider or keyword throws before any
    // traffic). When no ODBC environment can be made or the driver cannot be
    // loaded, the message is MissingComponentsMessage: what a machine without
    // the data access components answers.
    void Open();
    // Disconnects. Does nothing when closed; never throws (a dead link is
    // just let go).
    void Close();

    // Sends the text as one batch (opening first if closed), under the command
    // time-out, reads every result and throws on an error in any of them.
    // Returns the server's informational messages, in order. A link that died
    // since the last statement is reopened in the database it was in, so a
    // reconnection never lands a statement somewhere else.
    std::vector<ServerMessage> Execute(const std::u16string& sql);

    // Every diagnostic of the last Open or Execute (or query), errors and
    // informational messages alike, in order: why a login failed, which
    // statements of a batch failed.
    const std::vector<ServerMessage>& Errors() const;

    // The database the session is in now, as the server named it; empty when
    // closed.
    std::u16string CurrentDatabase() const;

    // Asks the server to stop the statement running now (a TDS attention);
    // it then fails with "Operation canceled". Safe to call from another
    // thread while this one waits in Execute; does nothing between statements.
    void Cancel();

    // The server's version, read at Open from the driver (2000 until then,
    // and when it cannot be read).
    db::ServerVersion ServerVersion() const;

    // The ODBC driver the last Open chose (a registered name or a library);
    // empty before the first.
    std::u16string DriverName() const;

    // The ODBC driver the following Opens use, in place of the one this
    // machine's drivers make the choice of (see findDriver): a driver the
    // lookup does not know, or one known to be missing.
    void SetDriver(const OdbcDriver& driver);

private:
    // A query runs its batch on the connection's own handles.
    friend class TADODataSet;
    detail::ConnectionCore& core();

    std::unique_ptr<detail::ConnectionCore> core_;
};

} // namespace db
