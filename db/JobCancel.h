// Cancelling the job's statements. The window's thread only asks; a thread
// of the job's own sends the attention (SQLCancel), for FreeTDS, given a
// statement between two calls, sends it and then reads the rest of the
// batch on the calling thread. A statement a cancel was asked for while it
// ran proves nothing by its success: the server may have cut it short, or
// done it all and been told to stop only afterwards (the ODBC reference,
// SQLCancel: "possible for the execution to succeed ... while the cancel is
// also successful").
#pragma once

#include "db/Errors.h"
#include "db/ServerMessage.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace db {

class TADOConnection;

// The failure of a statement a cancel was asked for: "Operation canceled"
// (CancelledState), as the driver says it.
EDatabaseError cancelledError();

class TJobCancel {
public:
    explicit TJobCancel(TADOConnection& connection);
    ~TJobCancel();  // stops and joins its thread; never throws
    TJobCancel(const TJobCancel&) = delete;
    TJobCancel& operator=(const TJobCancel&) = delete;

    // From any thread, at any time; returns at once.
    void Request();
    bool Requested();

    // One statement of the job, as its thread sends it: not sent once a
    // cancel was asked for (cancelledError(), `*sent` left as it was; else
    // it is set before the statement goes), and failed with cancelledError()
    // when one was asked for while it ran, whatever it answered, once any
    // attention sent to it has gone.
    std::vector<ServerMessage> Execute(const std::u16string& sql, bool* sent = nullptr);

private:
    void begin();
    bool end();
    void attend(std::stop_token stop);
    void sendAttention(std::uint64_t statement);

    TADOConnection& connection_;
    std::mutex mutex_;  // never held across a driver call
    std::condition_variable_any wake_;
    bool requested_ = false;
    bool running_ = false;
    std::uint64_t statement_ = 0;  // counts the statements begun
    std::mutex sending_;           // held while an attention goes out
    std::jthread attendant_;       // last: starts once the rest is ready
};

} // namespace db
