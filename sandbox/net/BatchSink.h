// Encodes an engine's results as TDS tokens and streams them out in full
// packets while the batch runs; the last packet goes out when it ends.
#pragma once

#include "sandbox/net/Wire.h"
#include "sandbox/sql/Generation.h"
#include "sandbox/sql/Language.h"
#include "sandbox/sql/Result.h"
#include "sandbox/tds/Tokens.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace sandbox {

// How a session speaks, settled at login: the server's name in messages, the
// token layout of the TDS version agreed, the generation whose wording the
// messages take and the language they are in, and the descriptor of the open
// transaction (7.2 and later).
struct Speech {
    std::u16string serverName;
    tds::Layout layout = tds::Layout::Tds71;
    Generation generation = Generation::Sql2000;
    Language language = Language::English;
    std::uint64_t transaction = 0;
    std::uint64_t transactionsBegun = 0;
};

class BatchSink final : public ResultSink {
public:
    // In a procedure call the statements' DONEs become DONEINPROC and the
    // reply ends with the return status, output parameters and DONEPROC.
    BatchSink(Wire& wire, Speech& speech, bool inProcedure) : wire_(wire), speech_(speech), inProcedure_(inProcedure) {}

    // An int output parameter for the end of a procedure call.
    void returnValue(std::uint16_t ordinal, std::u16string name, std::optional<std::int32_t> value);

    void columns(const std::vector<Column>& cols) override;
    void row(const Row& values) override;
    void done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) override;
    void message(const Message& msg) override;
    void databaseChanged(const std::u16string& newName, const std::u16string& oldName) override;
    bool pause(std::chrono::milliseconds delay) override;
    void dropConnection() override;
    void flush() override;
    void transactionChanged(TransactionChange change) override;

    // The engine itself failed (a bug or no memory): the client gets an error.
    void internalError(const std::exception* e);

    // Ends the reply. False when the connection is gone or must close.
    bool finish();

private:
    struct ReturnValue {
        std::uint16_t ordinal;
        std::u16string name;
        std::optional<std::int32_t> value;
    };
    struct PendingDone {
        DoneKind kind;
        std::uint16_t status;
        std::uint16_t curCmd;
        std::uint64_t rowCount;
    };

    bool live() const { return !dropped_ && !broken_; }
    void writeDone(const PendingDone& d, bool more);
    void writePendingDone();
    void sendFullPackets();

    Wire& wire_;
    Speech& speech_;
    const bool inProcedure_;
    std::vector<ReturnValue> returnValues_;
    bool anyError_ = false;
    tds::TokenBuffer tokens_;
    std::vector<Column> columns_;
    std::optional<PendingDone> pending_;
    bool errorSinceDone_ = false;
    bool attention_ = false;
    bool dropped_ = false;
    bool broken_ = false;
};

} // namespace sandbox
