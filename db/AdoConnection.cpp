#include "db/AdoConnection.h"

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

void TADOConnection::SetAnnouncedVersion(const std::u16string& version)
{
    core_->announcedVersion = ServerVersion::tryParse(version);
}

void TADOConnection::Open() { core_->open(); }

void TADOConnection::Close() { core_->close(); }

std::vector<ServerMessage> TADOConnection::Execute(const std::u16string& sql) { return core_->execute(sql); }

const std::vector<ServerMessage>& TADOConnection::Errors() const { return core_->lastMessages; }

std::u16string TADOConnection::CurrentDatabase() const { return core_->currentDatabase(); }

void TADOConnection::Cancel() { core_->cancel(); }

db::ServerVersion TADOConnection::ServerVersion() const { return core_->serverVersion; }

std::u16string TADOConnection::DriverName() const
{
    return core_->usedDriver ? core_->usedDriver->driver : std::u16string();
}

void TADOConnection::SetDriver(const OdbcDriver& driver) { core_->driver = driver; }

detail::ConnectionCore& TADOConnection::core() { return *core_; }

} // namespace db
