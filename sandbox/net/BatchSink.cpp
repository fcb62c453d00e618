#include "sandbox/net/BatchSink.h"

#include "sandbox/sql/Messages.h"

#include <algorithm>

namespace sandbox {

void BatchSink::returnValue(std::uint16_t ordinal, std::u16string name, std::optional<std::int32_t> value)
{
    returnValues_.push_back({ordinal, std::move(name), value});
}

void BatchSink::columns(const std::vector<Column>& cols)
{
    if (!live())
        return;
    writePendingDone();
    columns_ = cols;
    if (!cols.empty())
        tds::writeColMetadata(tokens_, columns_, speech_.layout);
    sendFullPackets();
}

void BatchSink::row(const Row& values)
{
    if (!live())
        return;
    writePendingDone();
    tds::writeRow(tokens_, columns_, values);
    sendFullPackets();
}

void BatchSink::done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount)
{
    if (!live())
        return;
    writePendingDone();
    // MORE and ATTN are ours to set: MORE is known only when the next token comes.
    const auto ours = static_cast<std::uint16_t>(tds::donebits::More | tds::donebits::Attention);
    if (inProcedure_ && kind == DoneKind::Done)
        kind = DoneKind::DoneInProc;
    pending_ = PendingDone{kind, static_cast<std::uint16_t>(status & ~ours), curCmd, rowCount};
    errorSinceDone_ = false;
}

void BatchSink::message(const Message& msg)
{
    if (!live())
        return;
    writePendingDone();
    const Message worded = localized(msg, speech_.generation, speech_.language);
    tds::writeMessage(tokens_, worded, speech_.serverName, speech_.layout);
    if (worded.severity > 10) {
        errorSinceDone_ = true;
        anyError_ = true;
    }
    sendFullPackets();
}

void BatchSink::databaseChanged(const std::u16string& newName, const std::u16string& oldName)
{
    if (!live())
        return;
    writePendingDone();
    tds::writeEnvChange(tokens_, tds::envchange::Database, newName, oldName);
    sendFullPackets();
}

bool BatchSink::pause(std::chrono::milliseconds delay)
{
    if (!live())
        return false;
    // Clamped so that the deadline cannot overflow the clock.
    delay = std::clamp(delay, std::chrono::milliseconds(0), std::chrono::milliseconds(std::chrono::hours(24 * 365)));
    const auto deadline = std::chrono::steady_clock::now() + delay;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        switch (wire_.waitReadable(left + std::chrono::milliseconds(1))) {
        case Wait::Timeout:
            continue;  // re-check the clock; poll may wake a little early
        case Wait::Stopped:
        case Wait::Closed:
            broken_ = true;
            return false;
        case Wait::Ready:
            break;
        }
        // Mid-batch the only thing a client may send is a cancel.
        tds::PacketHeader header;
        std::vector<std::uint8_t> body;
        if (wire_.readPacket(header, body) != tds::ReadStatus::Ok || header.type != tds::packet::Attention) {
            broken_ = true;
            return false;
        }
        attention_ = true;
        return false;
    }
}

void BatchSink::transactionChanged(TransactionChange change)
{
    if (!live() || speech_.layout != tds::Layout::Tds72)
        return;  // 7.1 clients are not told
    writePendingDone();
    if (change == TransactionChange::Began) {
        speech_.transaction = ++speech_.transactionsBegun;
        tds::writeTransactionChange(tokens_, tds::envchange::BeginTransaction, speech_.transaction);
    } else {
        tds::writeTransactionChange(tokens_, change == TransactionChange::Committed ? tds::envchange::CommitTransaction
                                                                                     : tds::envchange::RollbackTransaction,
                                    speech_.transaction);
        speech_.transaction = 0;
    }
    sendFullPackets();
}

void BatchSink::dropConnection()
{
    dropped_ = true;
    wire_.close();
}

// Everything so far, in packets that do not end the message: the last DONE
// says more follows, and the reply goes on.
void BatchSink::flush()
{
    if (!live())
        return;
    writePendingDone();
    if (tokens_.size() == 0)
        return;
    if (!wire_.send(tokens_.bytes(), false)) {
        broken_ = true;
        return;
    }
    tokens_.bytes().clear();
}

void BatchSink::internalError(const std::exception* e)
{
    std::u16string text = u"The sandbox engine failed";
    if (e != nullptr) {
        text += u": ";
        for (const char* c = e->what(); *c != 0; ++c)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(*c)));
    }
    message(makeMessage(50000, {text}));
}

bool BatchSink::finish()
{
    if (!live())
        return false;
    if (attention_) {
        writePendingDone();
        tds::writeDone(tokens_, DoneKind::Done, tds::donebits::Attention, 0, 0, speech_.layout);
    } else if (inProcedure_) {
        writePendingDone();
        tds::writeReturnStatus(tokens_, 0);
        for (const ReturnValue& v : returnValues_)
            tds::writeReturnValue(tokens_, v.ordinal, v.name, v.value, speech_.layout);
        tds::writeDone(tokens_, DoneKind::DoneProc, anyError_ ? done::Error : 0, 0, 0, speech_.layout);
    } else if (pending_ && pending_->kind != DoneKind::DoneInProc) {
        writeDone(*pending_, false);
        pending_.reset();
    } else {
        // The engine ended without a closing DONE: the client needs one.
        writePendingDone();
        tds::writeDone(tokens_, DoneKind::Done, errorSinceDone_ ? done::Error : 0, 0, 0, speech_.layout);
    }
    return wire_.send(tokens_.bytes(), true);
}

void BatchSink::writeDone(const PendingDone& d, bool more)
{
    const auto status = static_cast<std::uint16_t>(d.status | (more ? tds::donebits::More : 0));
    tds::writeDone(tokens_, d.kind, status, d.curCmd, d.rowCount, speech_.layout);
}

void BatchSink::writePendingDone()
{
    if (pending_) {
        writeDone(*pending_, true);
        pending_.reset();
    }
}

// Sends every full packet but keeps at least one byte back, so the message's
// last packet (with EOM) always has something in it.
void BatchSink::sendFullPackets()
{
    const std::size_t chunk = wire_.writer().payloadPerPacket();
    if (tokens_.size() <= chunk)
        return;
    const std::size_t n = ((tokens_.size() - 1) / chunk) * chunk;
    auto& bytes = tokens_.bytes();
    if (!wire_.send(std::span(bytes.data(), n), false)) {
        broken_ = true;
        return;
    }
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

} // namespace sandbox
