#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <type_traits>
#include <variant>

namespace sandbox::sql {

Executor::Executor(Catalog& catalog, SessionState& session, ResultSink& out, const std::u16string& serverName,
                   const std::vector<SessionState*>& sessions)
    : catalog_(catalog), session_(session), out_(out), serverName_(serverName), sessions_(sessions)
{
}

void Executor::run(const Statement& s)
{
    line_ = s.line;
    const std::uint16_t cmd = curCmdOf(s);
    try {
        std::visit([this](const auto& body) { execute(body); }, s.body);
    } catch (const StatementError& e) {
        fail(e.message, cmd);
    }
}

std::uint16_t Executor::curCmdOf(const Statement& s)
{
    return std::visit(
        [](const auto& body) -> std::uint16_t {
            using T = std::decay_t<decltype(body)>;
            if constexpr (std::is_same_v<T, SelectStmt>) return curcmd::Select;
            else if constexpr (std::is_same_v<T, ExecStmt>) return curcmd::Exec;
            else if constexpr (std::is_same_v<T, ShrinkFileStmt> || std::is_same_v<T, DbccOtherStmt>
                               || std::is_same_v<T, DbccLogInfoStmt> || std::is_same_v<T, DbccSqlPerfStmt>)
                return curcmd::Dbcc;
            else if constexpr (std::is_same_v<T, SetStmt>) return curcmd::Set;
            else if constexpr (std::is_same_v<T, IfStmt>) return curcmd::If;
            else if constexpr (std::is_same_v<T, TranStmt>) {
                switch (body.kind) {
                case TranStmt::Kind::Begin: return curcmd::BeginTran;
                case TranStmt::Kind::Commit: return curcmd::Commit;
                default: return curcmd::Rollback;
                }
            } else return curcmd::Use;
        },
        s.body);
}

// A fault's message instead of the statement's results.
void Executor::raise(const Statement& s, const Message& m, bool abortsBatch)
{
    line_ = s.line;
    if (!abortsBatch) {
        fail(m, curCmdOf(s));
        return;
    }
    Message msg = m;
    msg.line = line_;
    out_.message(msg);
    if (session_.tranCount > 0)
        setTranCount(0, TransactionChange::RolledBack);
    out_.done(DoneKind::Done, done::Error, curCmdOf(s), 0);
}

void Executor::fail(Message m, std::uint16_t cmd, DoneKind kind)
{
    m.line = line_;
    const bool error = m.severity > 10;
    out_.message(m);
    out_.done(kind, error ? done::Error : std::uint16_t{0}, cmd, 0);
}

void Executor::info(Message m, const std::u16string& procName)
{
    m.line = line_;
    m.procName = procName;
    out_.message(m);
}

void Executor::doneRows(std::uint16_t cmd, std::uint64_t count, DoneKind kind)
{
    out_.done(kind, session_.noCount ? std::uint16_t{0} : done::Count, cmd, session_.noCount ? 0 : count);
}

Database& Executor::database(const std::u16string& name)
{
    Database* db = catalog_.find(name);
    if (!db)
        throw StatementError{makeMessage(911, {name})};
    return *db;
}

Database& Executor::currentDatabase() { return database(session_.database); }

// In implicit-transaction mode these statements open a transaction.
void Executor::implicitBegin()
{
    if (session_.implicitTransactions && session_.tranCount == 0)
        setTranCount(1);
}

// The count, and the client told when a transaction began or ended.
void Executor::setTranCount(int count, TransactionChange ending)
{
    const int before = session_.tranCount;
    session_.tranCount = count;
    if (before == 0 && count > 0)
        out_.transactionChanged(TransactionChange::Began);
    else if (before > 0 && count == 0)
        out_.transactionChanged(ending);
}

void Executor::execute(const SetStmt& s)
{
    for (const std::u16string& o : s.options) {
        if (o == u"IMPLICIT_TRANSACTIONS")
            session_.implicitTransactions = s.value == u"ON";
        else if (o == u"NOCOUNT")
            session_.noCount = s.value == u"ON";
    }
    out_.done(DoneKind::Done, 0, curcmd::Set, 0);
}

void Executor::execute(const TranStmt& s)
{
    switch (s.kind) {
    case TranStmt::Kind::Begin:
        if (session_.implicitTransactions && session_.tranCount == 0 && implicitModeNestsBegin(generation()))
            setTranCount(1);
        setTranCount(session_.tranCount + 1);
        out_.done(DoneKind::Done, 0, curcmd::BeginTran, 0);
        return;
    case TranStmt::Kind::Commit:
        if (session_.tranCount == 0)
            throw StatementError{makeMessage(3902)};
        setTranCount(session_.tranCount - 1, TransactionChange::Committed);
        out_.done(DoneKind::Done, 0, curcmd::Commit, 0);
        return;
    case TranStmt::Kind::Rollback:
        if (session_.tranCount == 0)
            throw StatementError{makeMessage(3903)};
        setTranCount(0, TransactionChange::RolledBack);
        out_.done(DoneKind::Done, 0, curcmd::Rollback, 0);
        return;
    }
}

void Executor::execute(const PrintStmt& s)
{
    const Value v = evaluate(s.what, Scope{}).value;
    std::u16string text;
    if (const auto* t = std::get_if<std::u16string>(&v))
        text = *t;
    else if (const auto* i = std::get_if<std::int64_t>(&v))
        text = toU16(*i);
    info(makeMessage(0, {text}));
    out_.done(DoneKind::Done, 0, curcmd::Use, 0);
}

void Executor::execute(const IfStmt& s)
{
    const Database* current = catalog_.find(session_.database);
    const bool cs = current != nullptr && caseSensitive(*current);
    const int cmp = compare(evaluate(s.left, Scope{}), evaluate(s.right, Scope{}), cs);
    const bool yes = cmp != 2 && holds(cmp, s.op);
    const std::vector<Statement>& branch = yes ? s.then : s.otherwise;
    if (branch.empty())
        out_.done(DoneKind::Done, 0, curcmd::If, 0);
    for (const Statement& inner : branch)
        run(inner);
}

void Executor::execute(const BlockStmt& s)
{
    for (const Statement& inner : s.body)
        run(inner);
}

// Handled by the batch loop, which may wait without the lock.
void Executor::execute(const WaitForStmt&)
{ out_.done(DoneKind::Done, 0, curcmd::Use, 0); }
} // namespace sandbox::sql
