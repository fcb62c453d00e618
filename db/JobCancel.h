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

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace db {

class TADOConnection;

// The failure of a statement a cancel was asked for: "Operation canceled"
// (HY008), as the driver says it.
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

    // One statement, as the job's thread sends it: Begin throws "Operation
    // canceled" (HY008) when a cancel was asked for already, and then the
    // statement must not be sent; End says whether one was asked for while
    // it ran, after any attention sent to it has gone.
    void Begin();
    bool End();

private:
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
