#include "db/odbc/ConnectionCore.h"

#include "db/ConnectFailure.h"
#include "db/odbc/Batch.h"
#include "db/odbc/Check.h"
#include "db/odbc/DriverLookup.h"
#include "db/odbc/ErrorMessage.h"
#include "db/discovery/VersionProbe.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace db::detail {

namespace {

// Whole seconds to the deadline, rounded up, and at least one: a login
// time-out of 0 would mean none at all.
int secondsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::seconds::rep>(left.count(), 1));
}

// Always with a driver manager's state (IM...), by which the failure is
// known: IM003, the driver could not be loaded, when nothing gave one.
[[noreturn]] void throwMissingComponents(const std::string& sqlState = {})
{
    throw EDatabaseError(std::u16string(MissingComponentsMessage),
                         sqlState.rfind("IM", 0) == 0 ? sqlState : std::string("IM003"));
}

// One login with this ODBC text: the connected handle, or the failure and
// every record the driver left.
struct Login {
    OdbcHandle dbc;
    std::optional<Diagnostic> failure;
    std::vector<Diagnostic> records;
};

Login logIn(const OdbcHandle& env, const std::u16string& odbcText, int timeout)
{
    Login login;
    login.dbc = allocate(SQL_HANDLE_DBC, &env);
    const SQLHDBC dbc = login.dbc.get();
    const auto seconds = reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(timeout, 0)));
    check(SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, seconds, SQL_IS_UINTEGER), login.dbc);
    check(SQLSetConnectAttrW(dbc, SQL_ATTR_CONNECTION_TIMEOUT, seconds, SQL_IS_UINTEGER), login.dbc);
    // Autocommit: BACKUP and ALTER DATABASE run only outside a transaction, and nothing here opens one.
    check(SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER),
          login.dbc);

    std::vector<SQLWCHAR> text = toSqlWChar(odbcText);
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc =
        SQLDriverConnectW(dbc, nullptr, text.data(), SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT);
    CallResult call = examine(rc, login.dbc, nullptr, "08001");
    login.failure = std::move(call.failure);
    if (login.failure)
        login.records = std::move(call.records);
    return login;
}

} // namespace

bool ConnectionCore::isOpen() const { return connected_ && !link_.gone(); }

OdbcHandle ConnectionCore::newStatement() { return allocate(SQL_HANDLE_STMT, &dbc_, &link_); }

void ConnectionCore::open()
{
    if (isOpen())
        return;
    close();  // what is left of a dead link
    lastMessages.clear();
    try {
        connect();
    } catch (const EDatabaseError& e) {
        // Why it failed stays readable, also when no driver said anything.
        if (lastMessages.empty())
            lastMessages.push_back(ServerMessage{e.NativeError(), e.Message(), e.SqlState(), true});
        throw;
    }
}

void ConnectionCore::connect()
{
    OdbcHandle env;
    try {
        env = allocate(SQL_HANDLE_ENV, nullptr);
        check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                                    reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(SQL_OV_ODBC3)), 0),
                      env);
    } catch (const EOdbcError& e) {
        throwMissingComponents(e.SqlState());
    }

    // One time-out bounds the version probe and the login together, so that
    // a server that does not answer keeps the user no longer than before.
    // None (0) leaves the login unbounded, as ever; the probe gets ADO's default.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::seconds(connectionTimeout > 0 ? connectionTimeout : fixed::ConnectionTimeoutSeconds);
    const OdbcDriver chosen = chooseDriver(env.get(), deadline);
    usedDriver = chosen;
    // No second attempt through another driver, whatever the refusal says:
    // a driver that gets no encryption keywords must never receive the
    // password of a server that refused another one's TLS.
    Login login = logIn(env, toOdbcConnectionString(connectionString, chosen),
                        connectionTimeout > 0 ? secondsLeft(deadline) : connectionTimeout);
    if (login.failure) {
        for (const Diagnostic& d : login.records)
            lastMessages.push_back(messageFrom(d));
        if (std::any_of(login.records.begin(), login.records.end(),
                        [](const Diagnostic& d) { return saysDriverMissing(d.sqlState, d.text); }))
            throwMissingComponents(login.records.empty() ? std::string() : login.records.front().sqlState);
        throw errorFrom(*login.failure);
    }
    env_ = std::move(env);
    dbc_ = std::move(login.dbc);
    connected_ = true;
    link_.watch(dbc_.get());
    serverVersion = readServerVersion();
    noteDatabase();
}

// The driver given, else the one this machine has for the server's version:
// the one its browser announced, else the one asked of it by the deadline,
// only where the registered drivers make it matter (findDriver).
OdbcDriver ConnectionCore::chooseDriver(SQLHENV env, std::chrono::steady_clock::time_point deadline) const
{
    if (driver)
        return *driver;
    // The text is checked before anything goes to the network.
    const std::u16string server = serverOf(connectionString);
    return findDriver(env, [&] { return announcedVersion ? announcedVersion : versionBeforeLogin(server, deadline); });
}

// FreeTDS fills SQL_DBMS_VER from the login acknowledgement, so this costs no
// round trip. A version that cannot be read counts as 2000's.
ServerVersion ConnectionCore::readServerVersion() const
{
    SQLWCHAR text[64] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetInfoW(dbc_.get(), SQL_DBMS_VER, text, sizeof text, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        return ServerVersion{};
    const auto chars = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR),
                                             std::size(text) - 1);
    return ServerVersion::parse(fromSqlWChar(text, chars));
}

void ConnectionCore::close() noexcept
{
    database_.clear();
    if (!dbc_)
        return;
    // Nothing to report from here: a link that will not close cleanly is let
    // go all the same, and the server ends the session.
    if (connected_)
        SQLDisconnect(dbc_.get());
    link_.watch(SQL_NULL_HDBC);
    dbc_.reset();
    env_.reset();
    connected_ = false;
}

void ConnectionCore::ensureOpen()
{
    if (isOpen())
        return;
    // A session that died goes back where it was: a statement meant for one
    // database must never run in the login's database instead.
    const std::u16string wasIn = connected_ ? database_ : std::u16string();
    open();
    if (wasIn.empty() || wasIn == database_)
        return;
    std::vector<SQLWCHAR> name = toSqlWChar(wasIn);
    check(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_CURRENT_CATALOG, name.data(),
                             static_cast<SQLINTEGER>((name.size() - 1) * sizeof(SQLWCHAR))),
          dbc_, &link_);
    noteDatabase();
    if (database_ != wasIn)
        throw EDatabaseError(u"The connection was lost and could not return to database '" + wasIn + u"'");
}

std::vector<ServerMessage> ConnectionCore::execute(const std::u16string& sql)
{
    ensureOpen();
    Batch batch(*this, sql);
    batch.finish();
    return batch.messages();
}

std::u16string ConnectionCore::currentDatabase() const
{
    if (!isOpen())
        return {};
    SQLWCHAR text[260] = {};
    SQLINTEGER length = 0;
    if (!succeeded(SQLGetConnectAttrW(dbc_.get(), SQL_ATTR_CURRENT_CATALOG, text, sizeof text, &length)))
        return {};
    const auto chars = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLINTEGER>(length, 0)) / sizeof(SQLWCHAR),
                                             std::size(text) - 1);
    return fromSqlWChar(text, chars);
}

void ConnectionCore::noteDatabase()
{
    if (std::u16string now = currentDatabase(); !now.empty())
        database_ = std::move(now);
}

void ConnectionCore::setRunning(SQLHSTMT stmt)
{
    std::lock_guard lock(runningMutex_);
    running_ = stmt;
}

// SQLCancel is the one ODBC call made for another thread: it sends the
// server an attention while the executing thread waits for the reply.
void ConnectionCore::cancel()
{
    std::lock_guard lock(runningMutex_);
    if (running_ != SQL_NULL_HSTMT)
        SQLCancel(running_);
}

} // namespace db::detail
