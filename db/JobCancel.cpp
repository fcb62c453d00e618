#include "db/JobCancel.h"

#include "db/AdoConnection.h"
#include "db/odbc/ErrorMessage.h"

#include <chrono>
#include <exception>

namespace db {

namespace {

// An attention can reach the driver before the statement it is meant for
// does: it goes again while that statement runs.
constexpr auto Resend = std::chrono::seconds(1);

} // namespace

// As the driver reports a cancelled statement.
EDatabaseError cancelledError() { return detail::errorFrom({std::string(CancelledState), 0, {}}); }

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

void TJobCancel::begin()
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

bool TJobCancel::end()
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

std::vector<ServerMessage> TJobCancel::Execute(const std::u16string& sql, bool* sent)
{
    begin();
    if (sent != nullptr)
        *sent = true;
    std::vector<ServerMessage> messages;
    std::exception_ptr failure;
    try {
        messages = connection_.Execute(sql);
    } catch (const EDatabaseError&) {
        failure = std::current_exception();
    }
    if (end())
        throw cancelledError();
    if (failure)
        std::rethrow_exception(failure);
    return messages;
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

// Only to the statement it is meant for: end() waits for it, so the next
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
        // Nothing to do: the statement ends as it will, and end() says a cancel was asked for.
    }
}

} // namespace db
