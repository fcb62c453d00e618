// Results of one statement, gathered under the engine's lock and handed to
// the session's sink after it is released (a slow client must not stall others).
#pragma once

#include "sandbox/sql/Result.h"

#include <type_traits>
#include <variant>
#include <vector>

namespace sandbox::sql {

class Recorder final : public ResultSink {
public:
    void columns(const std::vector<Column>& cols) override { events_.emplace_back(cols); }
    void row(const Row& values) override { events_.emplace_back(values); }
    void done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) override
    {
        events_.emplace_back(Done{kind, status, curCmd, rowCount});
    }
    void message(const Message& msg) override { events_.emplace_back(msg); }
    void databaseChanged(const std::u16string& newName, const std::u16string& oldName) override
    {
        events_.emplace_back(DbChange{newName, oldName});
    }
    void transactionChanged(TransactionChange change) override { events_.emplace_back(change); }
    bool pause(std::chrono::milliseconds) override { return true; }
    void dropConnection() override {}

    void replay(ResultSink& sink) const
    {
        for (const auto& e : events_) {
            std::visit(
                [&sink](const auto& v) {
                    using T = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<T, std::vector<Column>>) sink.columns(v);
                    else if constexpr (std::is_same_v<T, Row>) sink.row(v);
                    else if constexpr (std::is_same_v<T, Done>) sink.done(v.kind, v.status, v.curCmd, v.rowCount);
                    else if constexpr (std::is_same_v<T, Message>) sink.message(v);
                    else if constexpr (std::is_same_v<T, TransactionChange>) sink.transactionChanged(v);
                    else sink.databaseChanged(v.newName, v.oldName);
                },
                e);
        }
    }

private:
    struct Done {
        DoneKind kind;
        std::uint16_t status, curCmd;
        std::uint64_t rowCount;
    };
    struct DbChange {
        std::u16string newName, oldName;
    };
    std::vector<std::variant<std::vector<Column>, Row, Done, Message, DbChange, TransactionChange>> events_;
};

} // namespace sandbox::sql
