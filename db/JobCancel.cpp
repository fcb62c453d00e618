#include "db/JobCancel.h"

#include "db/AdoConnection.h"

#include <chrono>

namespace db {

namespace {

// An attention can reach the driver before the statement it is meant for
// does: it goes again while that statement runs.
constexpr auto Resend = std::chrono::seconds(1);

} // namespace

EDatabaseError cancelledError() { return EDatabaseError(u"Operation canceled", "HY008"); }

TJobCancel::TJobCancel(TADOConnection& connection)
    : connection_(connection), attendant_([this](std::stop_token stop) { attend(stop); })
{
}

// The thread stops before anything it uses goes (it is the last member).
TJobCancel::~TJobCancel() = default;

void TJobCancel::Request()
{
    {
        const std::lock_guard lock(mutex_);
        requested_ = true;
    }
    wake_.notify_all();
}

bool TJobCancel::Requested()
{
    const std::lock_guard lock(mutex_);
    return requested_;
}

void TJobCancel::Begin()
{
    {
        const std::lock_guard lock(mutex_);
        if (requested_)
            throw cancelledError();
        running_ = true;
        ++statement_;
    }
    wake_.notify_all();
}

bool TJobCancel::End()
{
    const std::lock_guard sending(sending_);
    bool requested = false;
    {
        const std::lock_guard lock(mutex_);
        running_ = false;
        requested = requested_;
    }
    wake_.notify_all();
    return requested;
}

void TJobCancel::attend(std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    while (wake_.wait(lock, stop, [this] { return requested_ && running_; })) {
        const std::uint64_t statement = statement_;
        const auto ended = [this, statement] { return !running_ || statement_ != statement; };
        do {
            lock.unlock();
            sendAttention(statement);
            lock.lock();
        } while (!wake_.wait_for(lock, stop, Resend, ended) && !stop.stop_requested());
    }
}

// Only to the statement it is meant for: End waits for it, so the next
// statement (putting the model back, which nothing cancels) cannot get it.
void TJobCancel::sendAttention(std::uint64_t statement)
{
    const std::lock_guard sending(sending_);
    {
        const std::lock_guard lock(mutex_);
        if (!running_ || statement_ != statement)
            return;
    }
    try {
        connection_.Cancel();
    } catch (...) {
        // Nothing to do: the statement ends as it will, and End says a cancel was asked for.
    }
}

} // namespace db
