#include "db/AdoConnection.h"

#include "db/Errors.h"
#include "db/odbc/ConnectionCore.h"

namespace db {

TADOConnection::TADOConnection()
    : core_(std::make_unique<detail::ConnectionCore>())
{
}

TADOConnection::~TADOConnection() = default;  // the core closes, never throwing

int TADOConnection::ConnectionTimeout() const { return core_->connectionTimeout; }
void TADOConnection::SetConnectionTimeout(int seconds) { core_->connectionTimeout = seconds; }
int TADOConnection::CommandTimeout() const { return core_->commandTimeout; }
void TADOConnection::SetCommandTimeout(int seconds) { core_->commandTimeout = seconds; }

bool TADOConnection::Connected() const { return core_->isOpen(); }

void TADOConnection::SetConnectionString(const std::u16string& text)
{
    if (text != core_->connectionString)
        core_->connectionString = text;
}

const std::u16string& TADOConnection::ConnectionString() const { return core_->connectionString; }

void TADOConnection::Open() { core_->open(); }

void TADOConnection::Close() { core_->close(); }

std::vector<ServerMessage> TADOConnection::Execute(const std::u16string& sql) { return core_->execute(sql); }

db::ServerVersion TADOConnection::ServerVersion() const { return core_->serverVersion; }

// SQL Server refuses BACKUP inside an explicit transaction, and FreeTDS's
// manual-commit mode would send BEGIN TRANSACTION. Like SQL Server's own ODBC
// driver we use implicit transactions instead: the server opens one at the
// first statement that needs it (BACKUP LOG and DBCC do not).
int TADOConnection::BeginTrans()
{
    if (core_->tranCount > 0)
        throw EDatabaseError(u"Only one transaction can be active on this session");
    core_->execute(u"SET IMPLICIT_TRANSACTIONS ON");
    core_->tranCount = 1;
    return core_->tranCount;
}

// Commit and roll back are two batches each: the transaction statement, which
// leaves the count (and the mode) as they were when it fails; then implicit
// transactions off again. Neither reconnects: a lost link fails them, so the
// caller learns the connection is gone (the server has rolled back what the
// session left open).
void TADOConnection::CommitTrans() { endTransaction(u"IF @@TRANCOUNT > 0 COMMIT TRAN"); }

void TADOConnection::RollbackTrans() { endTransaction(u"IF @@TRANCOUNT > 0 ROLLBACK TRAN"); }

void TADOConnection::endTransaction(const std::u16string& statement)
{
    if (core_->tranCount == 0)
        throw EDatabaseError(u"No transaction is active");
    core_->executeOnOpen(statement);
    core_->tranCount = 0;
    try {
        core_->executeOnOpen(u"SET IMPLICIT_TRANSACTIONS OFF");
    } catch (const EDatabaseError&) {
        // The transaction is over, but a session still in implicit mode would
        // open one at its next SELECT that nobody commits. The session goes
        // instead: the next statement connects afresh, in the server's default
        // mode, so a count of 0 always means no implicit transactions.
        core_->close();
    }
}

int TADOConnection::TransactionCount() const { return core_->tranCount; }

detail::ConnectionCore& TADOConnection::core() { return *core_; }

} // namespace db
