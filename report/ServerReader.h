// Reads one server's report: one session as sa, in master, then in each
// ONLINE database in turn; nothing is changed.
#pragma once

#include "report/LogReport.h"

#include <string>

namespace db {
class TADOConnection;
}

namespace report {

struct ServerTarget {
    std::u16string name;     // as shown
    std::u16string address;  // the connection's Server= value
    // The version its browser service announced ("8.00.194"), for a server
    // found by discovery: it chooses the driver (TADOConnection::SetAnnouncedVersion).
    std::u16string announcedVersion;
};

struct ReadOptions {
    std::u16string password;
    int loginTimeoutSeconds = 15;
};

// Opens the session a command works in: sa, in master, with the window's
// connection text, the login time-out and the announced version given.
// Throws EDatabaseError as Open does.
void openSession(db::TADOConnection& connection, const ServerTarget& target, const ReadOptions& options);

// Never throws for what the server or the driver says: a server that cannot
// be reached or listed comes back failed, with why; a database that cannot
// be read, with its error.
ServerReport readServer(const ServerTarget& target, const ReadOptions& options);

} // namespace report
