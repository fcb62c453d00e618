// A ResultSink that keeps everything the engine reports, for assertions.
#pragma once

#include "sandbox/sql/Result.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct ResultSet {
    std::vector<sandbox::Column> columns;
    std::vector<sandbox::Row> rows;
};

struct DoneRecord {
    sandbox::DoneKind kind;
    std::uint16_t status;
    std::uint16_t curCmd;
    std::uint64_t rowCount;
};

class RecordingSink : public sandbox::ResultSink {
public:
    void columns(const std::vector<sandbox::Column>& cols) override
    {
        resultSets.push_back({cols, {}});
        trace.push_back("columns");
    }
    void row(const sandbox::Row& values) override
    {
        resultSets.back().rows.push_back(values);
        trace.push_back("row");
    }
    void done(sandbox::DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) override
    {
        dones.push_back({kind, status, curCmd, rowCount});
        trace.push_back(kind == sandbox::DoneKind::Done ? "done"
                        : kind == sandbox::DoneKind::DoneProc ? "doneproc" : "doneinproc");
    }
    void message(const sandbox::Message& msg) override
    {
        messages.push_back(msg);
        trace.push_back("msg " + std::to_string(msg.number));
    }
    void databaseChanged(const std::u16string& newName, const std::u16string& oldName) override
    {
        changes.emplace_back(newName, oldName);
        trace.push_back("envchange");
    }
    bool pause(std::chrono::milliseconds delay) override
    {
        pauses.push_back(delay);
        trace.push_back("pause");
        return !cancelOnPause;
    }
    void dropConnection() override
    {
        dropped = true;
        trace.push_back("drop");
    }
    void flush() override { trace.push_back("flush"); }

    std::vector<int> messageNumbers() const
    {
        std::vector<int> numbers;
        for (const auto& m : messages)
            numbers.push_back(m.number);
        return numbers;
    }
    const sandbox::Message* find(int number) const
    {
        for (const auto& m : messages)
            if (m.number == number)
                return &m;
        return nullptr;
    }

    std::vector<ResultSet> resultSets;
    std::vector<DoneRecord> dones;
    std::vector<sandbox::Message> messages;
    std::vector<std::pair<std::u16string, std::u16string>> changes;
    std::vector<std::chrono::milliseconds> pauses;
    std::vector<std::string> trace;
    bool dropped = false;
    bool cancelOnPause = false;
};

} // namespace testsupport
