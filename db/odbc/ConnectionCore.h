// The state behind a TADOConnection: the ODBC environment and connection, the
// time-outs and the transaction count. Not for use outside db/.
#pragma once

#include "db/AdoConnection.h"
#include "db/ConnectionString.h"
#include "db/FixedValues.h"
#include "db/ServerGeneration.h"
#include "db/odbc/Diagnostics.h"
#include "db/odbc/OdbcHandle.h"

#include <optional>
#include <string>

namespace db::detail {

class ConnectionCore {
public:
    int connectionTimeout = fixed::ConnectionTimeoutSeconds;
    int commandTimeout = fixed::CommandTimeoutSeconds;
    std::u16string connectionString;
    int tranCount = 0;
    // As the login acknowledgement gave it; 2000 until known.
    ServerVersion serverVersion;
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
    // Opens first (ensureOpen). Returns the server's informational messages.
    std::vector<ServerMessage> execute(const std::u16string& sql);
    // Like execute, but never (re)opens: for the transaction statements.
    void executeOnOpen(const std::u16string& sql);

    // The dead link's error, thrown when a transaction statement needs the link.
    [[noreturn]] void throwLinkLost() const;

    // A statement handle on the connection.
    OdbcHandle newStatement() const;
    // check() for a call on this connection or one of its statements: a
    // failure that means the link is gone marks the connection dead first.
    void check(SQLRETURN rc, const OdbcHandle& handle) const;
    void noteLinkFailure(const Diagnostic& d) const;

private:
    bool driverSaysDead() const;
    ServerVersion readServerVersion() const;

    OdbcHandle env_;
    OdbcHandle dbc_;
    bool connected_ = false;
    mutable bool dead_ = false;
    mutable std::optional<Diagnostic> deathCause_;
};

} // namespace db::detail
