#include "db/odbc/ConnectionCore.h"

#include "db/odbc/Batch.h"
#include "db/odbc/DriverLookup.h"
#include "db/odbc/ErrorMessage.h"

#include <algorithm>
#include <utility>

namespace db::detail {

namespace {

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The driver manager could not find or load a driver at all.
bool isMissingDriver(const std::vector<Diagnostic>& records)
{
    for (const Diagnostic& d : records) {
        if (d.sqlState == "IM002" || d.sqlState == "IM003" || d.sqlState == "IM004" || d.sqlState == "IM005")
            return true;
        if (d.text.find(u"Can't open lib") != std::u16string::npos)
            return true;
    }
    return false;
}

[[noreturn]] void throwMissingComponents(const std::string& sqlState = {})
{
    throw EDatabaseError(std::u16string(MissingComponentsMessage), sqlState);
}

} // namespace

bool ConnectionCore::driverSaysDead() const
{
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (succeeded(SQLGetConnectAttr(dbc_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
        dead == SQL_CD_TRUE) {
        dead_ = true;
        if (!deathCause_)
            deathCause_ = Diagnostic{"08S01", 0, {}};
    }
    return dead_;
}

bool ConnectionCore::isOpen() const { return connected_ && !dead_ && !driverSaysDead(); }

void ConnectionCore::noteLinkFailure(const Diagnostic& d) const
{
    if (isLinkFailure(d.sqlState)) {
        dead_ = true;
        if (!deathCause_)
            deathCause_ = d;
    }
}

void ConnectionCore::throwLinkLost() const
{
    throw errorFrom(deathCause_ ? *deathCause_ : Diagnostic{"08S01", 0, {}});
}

void ConnectionCore::open()
{
    if (isOpen())
        return;
    close();  // what is left of a dead link

    SQLHANDLE handle = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle)))
        throwMissingComponents();
    OdbcHandle env(SQL_HANDLE_ENV, handle);
    if (!succeeded(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                                 reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(SQL_OV_ODBC3)), 0)))
        throwMissingComponents();

    // The text is checked before anything goes to the network.
    const std::u16string odbcText =
        toOdbcConnectionString(connectionString, driver ? *driver : findFreeTdsDriver(env.get()));

    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env.get(), &handle)))
        throwMissingComponents();
    OdbcHandle dbc(SQL_HANDLE_DBC, handle);
    const auto seconds = [](int value) {
        return reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(value, 0)));
    };
    SQLSetConnectAttrW(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT, seconds(connectionTimeout), SQL_IS_UINTEGER);
    SQLSetConnectAttrW(dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT, seconds(connectionTimeout), SQL_IS_UINTEGER);
    // Autocommit stays on: transactions are the server's implicit ones (see TADOConnection).
    SQLSetConnectAttrW(dbc.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                       SQL_IS_UINTEGER);

    std::vector<SQLWCHAR> text = toSqlWChar(odbcText);
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc.get(), nullptr, text.data(), SQL_NTS, nullptr, 0, &outLength,
                                           SQL_DRIVER_NOPROMPT);
    if (!succeeded(rc)) {
        const std::vector<Diagnostic> records = readDiagnostics(SQL_HANDLE_DBC, dbc.get());
        if (isMissingDriver(records))
            throwMissingComponents(records.empty() ? std::string() : records.front().sqlState);
        if (const Diagnostic* d = firstError(records))
            throw errorFrom(*d);
        throw errorFrom(Diagnostic{"08001", 0, {}});
    }
    env_ = std::move(env);
    dbc_ = std::move(dbc);
    connected_ = true;
    dead_ = false;
    deathCause_.reset();
    tranCount = 0;
}

void ConnectionCore::close() noexcept
{
    if (!dbc_)
        return;
    if (tranCount > 0 && isOpen()) {
        try {
            executeOnOpen(u"IF @@TRANCOUNT > 0 ROLLBACK TRAN");
        } catch (...) {
            // Closing goes on: the server rolls back what a lost session left open.
        }
    }
    tranCount = 0;
    if (connected_)
        SQLDisconnect(dbc_.get());
    dbc_.reset();
    env_.reset();
    connected_ = false;
    dead_ = false;
    deathCause_.reset();
}

void ConnectionCore::ensureOpen()
{
    if (isOpen())
        return;
    // Reconnecting would run the text outside the transaction the caller
    // thinks it is in.
    if (connected_ && tranCount > 0)
        throwLinkLost();
    open();
}

void ConnectionCore::execute(const std::u16string& sql)
{
    ensureOpen();
    Batch batch(*this, sql);
    batch.finish();
}

void ConnectionCore::executeOnOpen(const std::u16string& sql)
{
    if (!isOpen())
        throwLinkLost();
    Batch batch(*this, sql);
    batch.finish();
}

} // namespace db::detail
