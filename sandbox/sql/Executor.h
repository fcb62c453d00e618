// Runs parsed statements against the catalog for one session, under the
// engine's lock. One file per statement family: browsing (ExecBrowse.cpp),
// expressions (Evaluate.cpp, Properties.cpp), sp_dboption (ExecDbOption.cpp),
// BACKUP/DBCC/CHECKPOINT/ALTER DATABASE (ExecMaintenance.cpp), the log's
// shrink and reports (ExecLog.cpp), what a real server refuses before any of
// those runs (ExecRefusals.cpp), and control flow and SET (Executor.cpp).
#pragma once

#include "sandbox/sql/Catalog.h"
#include "sandbox/sql/Result.h"
#include "sandbox/sql/SessionState.h"
#include "sandbox/sql/Statements.h"
#include "sandbox/sql/Tables.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sandbox::sql {

struct DbOption;

// Why `session` may not open `db` (USE, or a login into it): the message USE
// gives for a database that is not ONLINE, or 924 for a single-user one
// another of `sessions` is in. None when it may.
std::optional<Message> openRefusal(const Database& db, const SessionState& session,
                                   const std::vector<SessionState*>& sessions);

class Executor {
public:
    Executor(Catalog& catalog, SessionState& session, ResultSink& out, const std::u16string& serverName,
             const std::vector<SessionState*>& sessions);

    // Runs one statement; its error, if any, becomes the statement's message.
    void run(const Statement& s);
    // A fault's message instead of the statement's results; `abortsBatch`
    // rolls back an open transaction with it, as a deadlock victim's does.
    void raise(const Statement& s, const Message& m, bool abortsBatch = false);

    static std::uint16_t curCmdOf(const Statement& s);

private:
    // A value and the column it would be in.
    struct Typed {
        Column column;
        Value value;
    };
    // Where an expression finds its columns: one row of a table, or none.
    struct Scope {
        const Table* table = nullptr;
        const Row* row = nullptr;  // none: every column reads as NULL (to learn the types)
        bool caseSensitive = false;
    };
    struct Output {
        Column column;
        std::optional<std::size_t> source;  // a table column as it is
        const Expr* expr = nullptr;         // else this, for each row
    };

    Generation generation() const { return catalog_.generation; }
    bool caseSensitive(const Database& db) const { return isCaseSensitive(catalog_.collationOf(db)); }
    void fail(Message m, std::uint16_t cmd, DoneKind kind = DoneKind::Done);
    void info(Message m, const std::u16string& procName = {});
    void doneRows(std::uint16_t cmd, std::uint64_t count, DoneKind kind = DoneKind::Done);
    Database& database(const std::u16string& name);
    Database& currentDatabase();
    void implicitBegin();
    void setTranCount(int count, TransactionChange ending = TransactionChange::Committed);

    // Browsing.
    Table resolveTable(const SelectStmt& s, bool& caseSensitive);
    void execute(const SelectStmt& s);
    void selectScalars(const SelectStmt& s);
    std::vector<Output> selectList(const SelectStmt& s, const Table& table, bool caseSensitive);
    std::vector<Row> filter(Table& table, const Condition& where, bool caseSensitive);
    void sort(std::vector<Row>& rows, const SelectStmt& s, const std::vector<Output>& outputs, const Table& table,
              bool caseSensitive);
    void execute(const UseStmt& s);

    // Expressions.
    Typed evaluate(const Expr& e, const Scope& scope);
    Typed variable(const std::u16string& name);
    Typed function(const Expr& e, const Scope& scope);
    Typed convert(const Typed& from, const TypeName& to);
    Typed arithmetic(char16_t op, const Typed& left, const Typed& right);
    int compare(const Typed& left, const Typed& right, bool caseSensitive);
    Value serverProperty(const std::u16string& property) const;
    Value databaseProperty(const std::u16string& database, const std::u16string& property) const;

    // Procedures.
    void execute(const ExecStmt& s);
    void procFail(Message m);
    void spDbOption(const std::vector<Literal>& args);
    const DbOption* findOption(const std::u16string& given);

    // Refusals (ExecRefusals.cpp): each throws the statement's error, after
    // any message that goes before it.
    bool autocommit() const { return session_.tranCount == 0 && !session_.implicitTransactions; }
    Database& backupTarget(const BackupLogStmt& s);
    Database& alterTarget(const AlterDatabaseStmt& s);
    // sp_dboption setting `bit`: the messages ALTER DATABASE would refuse it with.
    std::vector<Message> dbOptionRefusal(const Database& db, std::int32_t bit) const;

    // Maintenance.
    void execute(const BackupLogStmt& s);
    void backupLogToDisk(Database& db);
    void execute(const ShrinkFileStmt& s);
    void execute(const DbccOtherStmt&);
    void execute(const CheckpointStmt&);
    void execute(const AlterDatabaseStmt& s);

    // The log (ExecLog.cpp): a log file's shrink, DBCC LOGINFO, and the
    // views and tables that report the log and its backups.
    void shrinkLogFile(Database& db, DbFile& file, const ShrinkFileStmt& s);
    void shrinkResult(const Database& db, const DbFile& file, std::int32_t minimum, std::int32_t used,
                      std::int32_t estimated, bool noInfoMessages);
    void execute(const DbccLogInfoStmt& s);
    std::optional<Table> logTable(const SelectStmt& s, const Database& db, bool caseSensitive);
    // The log's space (ExecLogSpace.cpp): DBCC SQLPERF(LOGSPACE), and
    // sys.dm_db_log_space_usage (none for another name).
    void execute(const DbccSqlPerfStmt& s);
    std::optional<Table> logSpaceTable(const SelectStmt& s, const Database& db, bool caseSensitive);

    // Control flow and settings.
    void execute(const SetStmt& s);
    void execute(const TranStmt& s);
    void execute(const PrintStmt& s);
    void execute(const IfStmt& s);
    void execute(const BlockStmt& s);
    void execute(const WaitForStmt&);

    Catalog& catalog_;
    SessionState& session_;
    ResultSink& out_;
    const std::u16string& serverName_;
    const std::vector<SessionState*>& sessions_;
    std::uint16_t line_ = 1;
};

} // namespace sandbox::sql
