// The state behind a TADOConnection: the ODBC environment and connection, the
// time-outs, the last operation's diagnostics and the statement a cancel
// reaches. Not for use outside db/.
#pragma once

#include "db/ConnectionString.h"
#include "db/FixedValues.h"
#include "db/ServerGeneration.h"
#include "db/ServerMessage.h"
#include "db/odbc/Check.h"
#include "db/odbc/OdbcHandle.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace db::detail {

class ConnectionCore {
public:
    int connectionTimeout = fixed::ConnectionTimeoutSeconds;
    int commandTimeout = fixed::CommandTimeoutSeconds;
    std::u16string connectionString;
    // Every diagnostic of the last open or batch (TADOConnection::Errors).
    std::vector<ServerMessage> lastMessages;
    // As the login acknowledgement gave it; 2000 until known.
    ServerVersion serverVersion;
    // The driver to use; when empty, the one findDriver() names.
    std::optional<OdbcDriver> driver;
    // The version the server's browser service announced, when the server
    // was picked from its list; otherwise, where the driver depends on it,
    // the version is asked of the server itself before the login.
    std::optional<ServerVersion> announcedVersion;
    // The driver of the last open, as it was chosen.
    std::optional<OdbcDriver> usedDriver;

    ~ConnectionCore() { close(); }

    // Open in the driver's eyes and not found dead.
    bool isOpen() const;
    void open();
    void close() noexcept;
    // Opens when closed; a link that died is reopened in the database the
    // session was in (throws when that database cannot be entered again).
    void ensureOpen();
    // Sends a batch and reads it to the end, throwing on an error in any result.
    // Opens first (ensureOpen). Returns the server's informational messages.
    std::vector<ServerMessage> execute(const std::u16string& sql);

    // The session's database as the driver follows it; empty when closed.
    std::u16string currentDatabase() const;
    // Called by each batch when it has been read: where the session now is.
    void noteDatabase();

    // The statement a cancel reaches: set by a batch while it executes.
    void setRunning(SQLHSTMT stmt);
    void cancel();

    // A statement handle on the connection.
    OdbcHandle newStatement();
    // What every call on the connection or one of its statements reports to.
    LinkWatch& link() { return link_; }

private:
    void connect();
    OdbcDriver chooseDriver(SQLHENV env, std::chrono::steady_clock::time_point deadline) const;
    ServerVersion readServerVersion() const;

    OdbcHandle env_;
    OdbcHandle dbc_;
    bool connected_ = false;
    LinkWatch link_;
    // Where the session was when a batch last finished; a reconnection goes back there.
    std::u16string database_;
    std::mutex runningMutex_;
    SQLHSTMT running_ = SQL_NULL_HSTMT;
};

} // namespace db::detail
