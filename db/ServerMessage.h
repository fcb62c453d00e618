// One diagnostic the server or the driver gave for an operation.
#pragma once

#include <string>

namespace db {

// A server message (an informational one such as DBCC's "Cannot shrink log
// file ...", or an error) or the driver's own.
struct ServerMessage {
    long number = 0;
    std::u16string text;  // cleaned as error messages are
    std::string sqlState;
    bool error = false;
};

} // namespace db
