// Runs parsed statements against the catalog for one session, under the
// engine's lock. One file per statement family: browsing (ExecBrowse.cpp),
// sp_dboption (ExecDbOption.cpp), BACKUP/DBCC/CHECKPOINT (ExecMaintenance.cpp),
// and control flow and SET (Executor.cpp).
#pragma once

#include "sandbox/sql/Catalog.h"
#include "sandbox/sql/Engine.h"
#include "sandbox/sql/Parser.h"
#include "sandbox/sql/Result.h"
#include "sandbox/sql/Tables.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sandbox::sql {

struct DbOption;

class Executor {
public:
    Executor(Catalog& catalog, SessionState& session, ResultSink& out, const std::u16string& serverName);

    // Runs one statement; its error, if any, becomes the statement's message.
    void run(const Statement& s);
    // A fault's message instead of the statement's results.
    void raise(const Statement& s, const Message& m);

    static std::uint16_t curCmdOf(const Statement& s);

private:
    void fail(Message m, std::uint16_t cmd, DoneKind kind = DoneKind::Done);
    void info(Message m, const std::u16string& procName = {});
    void doneRows(std::uint16_t cmd, std::uint64_t count, DoneKind kind = DoneKind::Done);
    Database& database(const std::u16string& name);
    Database& currentDatabase();
    void implicitBegin();

    // Browsing.
    std::optional<Value> variable(const std::u16string& name, Column& column);
    std::pair<Column, Value> scalar(const SelectItem& item);
    Table resolveTable(const ObjectName& name);
    void execute(const SelectStmt& s);
    void execute(const UseStmt& s);

    // Procedures.
    void execute(const ExecStmt& s);
    void procFail(Message m);
    void spDbOption(const std::vector<Literal>& args);
    const DbOption* findOption(const std::u16string& given);

    // Maintenance.
    void execute(const BackupLogStmt& s);
    static std::int32_t roundUp(std::int64_t pages, std::int32_t unit);
    void execute(const ShrinkFileStmt& s);
    void execute(const DbccOtherStmt&);
    void execute(const CheckpointStmt&);

    // Control flow and settings.
    void execute(const SetStmt& s);
    void execute(const TranStmt& s);
    void execute(const PrintStmt& s);
    std::int64_t number(const SelectItem& item);
    void execute(const IfStmt& s);
    void execute(const BlockStmt& s);
    void execute(const WaitForStmt&);

    Catalog& catalog_;
    SessionState& session_;
    ResultSink& out_;
    const std::u16string& serverName_;
    std::uint16_t line_ = 1;
};

} // namespace sandbox::sql
