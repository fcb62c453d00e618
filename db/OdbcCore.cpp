#include "OdbcCore.h"

#include "Text.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

namespace db::detail {

// ---- handles and text -------------------------------------------------------

OdbcHandle::OdbcHandle(OdbcHandle&& other) noexcept
    : type_(other.type_)
    , handle_(std::exchange(other.handle_, SQLHANDLE{}))
{
}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        type_ = other.type_;
        handle_ = std::exchange(other.handle_, SQLHANDLE{});
    }
    return *this;
}

void OdbcHandle::reset() noexcept
{
    if (handle_ != SQL_NULL_HANDLE) {
        SQLFreeHandle(type_, handle_);
        handle_ = SQL_NULL_HANDLE;
    }
}

std::vector<SQLWCHAR> toSqlWChar(const std::u16string& text)
{
    std::vector<SQLWCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::u16string fromSqlWChar(const SQLWCHAR* text, std::size_t length)
{
    std::u16string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i)
        out += static_cast<char16_t>(text[i]);
    return out;
}

// ---- diagnostics --------------------------------------------------------------

std::vector<Diagnostic> readDiagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<Diagnostic> records;
    if (handle == SQL_NULL_HANDLE)
        return records;
    for (SQLSMALLINT i = 1; i < 100; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
            text.resize(static_cast<std::size_t>(length) + 1);
            rc = SQLGetDiagRecW(type, handle, i, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &length);
        }
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            break;
        Diagnostic d;
        for (SQLWCHAR c : state) {
            if (c == 0)
                break;
            d.sqlState += static_cast<char>(c & 0x7F);
        }
        d.nativeError = native;
        const auto n = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)),
                                             text.size() - 1);
        d.text = fromSqlWChar(text.data(), n);
        records.push_back(std::move(d));
    }
    return records;
}

bool isErrorRecord(const Diagnostic& d)
{
    return !(d.sqlState.rfind("01", 0) == 0 || d.sqlState == "00000");
}

const Diagnostic* firstError(const std::vector<Diagnostic>& records)
{
    auto it = std::find_if(records.begin(), records.end(), isErrorRecord);
    return it == records.end() ? nullptr : &*it;
}

bool isLinkFailure(const std::string& sqlState)
{
    return sqlState == "08S01" || sqlState == "08S02" || sqlState == "08003" || sqlState == "08007";
}

namespace {

// "[vendor][component][data source]" groups as drivers and driver managers
// put them before a message; other bracketed text belongs to the message.
bool isSourcePrefix(std::u16string_view group)
{
    static constexpr std::u16string_view known[] = {
        u"FreeTDS", u"unixODBC", u"Driver Manager", u"Microsoft", u"SQL Server", u"DBNETLIB",
        u"DBMSSOCN", u"TCP/IP Sockets", u"Named Pipes", u"Shared Memory", u"iODBC",
    };
    for (std::u16string_view k : known) {
        if (SameText(group, k))
            return true;
    }
    // "[ODBC SQL Server Driver]", "[ODBC Driver 17 for SQL Server]", "[SQL Native Client]"...
    return group.rfind(u"ODBC", 0) == 0 || group.find(u"Native Client") != std::u16string_view::npos;
}

} // namespace

std::u16string cleanMessage(std::u16string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && text[start] == u'[') {
        const auto close = text.find(u']', start);
        if (close == std::u16string_view::npos || !isSourcePrefix(text.substr(start + 1, close - start - 1)))
            break;
        start = close + 1;
    }
    while (start < text.size() && text[start] <= 32)
        ++start;
    std::size_t end = text.size();
    while (end > start && (text[end - 1] <= 32 || text[end - 1] == u'.'))
        --end;
    return std::u16string(text.substr(start, end - start));
}

std::u16string textForState(const std::string& sqlState)
{
    static const std::map<std::string, std::u16string_view> texts = {
        {"08001", u"Unable to connect to data source"},
        {"08004", u"The server rejected the connection"},
        {"08S01", u"Communication link failure"},
        {"08003", u"Connection not open"},
        {"08007", u"Connection failure during transaction"},
        {"28000", u"Login refused: invalid authorization"},
        {"42000", u"Syntax error or access violation"},
        {"HY000", u"General error"},
        {"HY001", u"Memory allocation error"},
        {"HY008", u"Operation canceled"},
        {"HYT00", u"Timeout expired"},
        {"HYT01", u"Connection timeout expired"},
        {"IM002", u"Data source name not found and no default driver specified"},
        {"IM003", u"Specified driver could not be loaded"},
    };
    if (auto it = texts.find(sqlState); it != texts.end())
        return std::u16string(it->second);
    return u"ODBC error " + asciiToUtf16(sqlState.empty() ? std::string("HY000") : sqlState);
}

EOdbcError errorFrom(const Diagnostic& d)
{
    std::u16string message = cleanMessage(d.text);
    if (message.empty())
        message = textForState(d.sqlState);
    return EOdbcError(std::move(message), d.sqlState, d.nativeError);
}

// ---- the driver ---------------------------------------------------------------

namespace {

std::u16string lowerAscii(std::u16string text)
{
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
    }
    return text;
}

// FreeTDS before 1.4 reads braced connection-string values without '}}'
// escapes; its version is written into the library as "freetds v1.3.17".
BraceStyle braceStyleOfLibrary(const std::string& path)
{
    static std::mutex mutex;
    static std::map<std::string, BraceStyle> known;
    std::lock_guard lock(mutex);
    if (auto it = known.find(path); it != known.end())
        return it->second;

    BraceStyle style = BraceStyle::Doubled;
    std::ifstream file(path, std::ios::binary);
    if (file) {
        const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        static constexpr std::string_view marker = "freetds v";
        if (auto pos = content.find(marker); pos != std::string::npos) {
            int major = 0, minor = 0;
            std::size_t i = pos + marker.size();
            while (i < content.size() && content[i] >= '0' && content[i] <= '9')
                major = major * 10 + (content[i++] - '0');
            if (i < content.size() && content[i] == '.') {
                ++i;
                while (i < content.size() && content[i] >= '0' && content[i] <= '9')
                    minor = minor * 10 + (content[i++] - '0');
            }
            if (major < 1 || (major == 1 && minor < 4))
                style = BraceStyle::FreeTds13;
        }
    }
    known.emplace(path, style);
    return style;
}

} // namespace

OdbcDriver findFreeTdsDriver(SQLHENV env)
{
#ifdef SQLLOGCLEAN_FREETDS_DRIVER
    const std::string builtInPath = SQLLOGCLEAN_FREETDS_DRIVER;
#else
    const std::string builtInPath;
#endif
    // A driver registered with the driver manager: named FreeTDS, or one
    // whose library is tdsodbc.
    std::vector<SQLWCHAR> name(512);
    std::vector<SQLWCHAR> attributes(4096);
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLSMALLINT nameLength = 0, attributesLength = 0;
        const SQLRETURN rc = SQLDriversW(env, direction, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                         &nameLength, attributes.data(),
                                         static_cast<SQLSMALLINT>(attributes.size()), &attributesLength);
        direction = SQL_FETCH_NEXT;
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            break;
        const std::u16string driverName = fromSqlWChar(
            name.data(), std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)),
                                               name.size() - 1));
        // Attributes: "key=value\0key=value\0\0".
        std::u16string library;
        std::size_t i = 0;
        while (i < attributes.size() && attributes[i] != 0) {
            std::size_t j = i;
            while (j < attributes.size() && attributes[j] != 0)
                ++j;
            const std::u16string pair = fromSqlWChar(attributes.data() + i, j - i);
            if (lowerAscii(pair.substr(0, 7)) == u"driver=")
                library = pair.substr(7);
            i = j + 1;
        }
        const bool isFreeTds = SameText(driverName, u"FreeTDS") ||
                               lowerAscii(library).find(u"tdsodbc") != std::u16string::npos;
        if (isFreeTds) {
            std::string path = toUtf8(library);
            if (path.empty() || path.front() != '/')
                path = builtInPath;  // a bare library name: the one found at build time
            return OdbcDriver{driverName, path.empty() ? BraceStyle::Doubled : braceStyleOfLibrary(path)};
        }
    }
    if (!builtInPath.empty())
        return OdbcDriver{fromUtf8(builtInPath), braceStyleOfLibrary(builtInPath)};
    return OdbcDriver{u"FreeTDS", BraceStyle::Doubled};
}

// ---- the connection ---------------------------------------------------------

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

// ---- one batch ----------------------------------------------------------------

Batch::Batch(ConnectionCore& core, const std::u16string& sql)
    : core_(core)
{
    SQLHANDLE handle = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, core.dbc(), &handle))) {
        const std::vector<Diagnostic> records = readDiagnostics(SQL_HANDLE_DBC, core.dbc());
        const Diagnostic* d = firstError(records);
        const Diagnostic fallback{"HY000", 0, {}};
        core.noteLinkFailure(d ? *d : fallback);
        throw errorFrom(d ? *d : fallback);
    }
    stmt_ = OdbcHandle(SQL_HANDLE_STMT, handle);
    SQLSetStmtAttrW(stmt(), SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(core.commandTimeout, 0))),
                    SQL_IS_UINTEGER);
    std::vector<SQLWCHAR> text = toSqlWChar(sql);
    const SQLRETURN rc = SQLExecDirectW(stmt(), text.data(), SQL_NTS);
    if (rc != SQL_NO_DATA)
        check(rc);
}

bool Batch::check(SQLRETURN rc)
{
    if (rc == SQL_SUCCESS)
        return true;
    if (rc == SQL_INVALID_HANDLE) {
        stopped_ = true;
        if (!firstError_)
            firstError_ = Diagnostic{"HY000", 0, u"Invalid handle"};
        return false;
    }
    if (rc != SQL_SUCCESS_WITH_INFO && rc != SQL_ERROR)
        return true;  // SQL_NO_DATA and the like are the caller's business

    const std::vector<Diagnostic> records = readDiagnostics(SQL_HANDLE_STMT, stmt());
    const Diagnostic* error = firstError(records);
    for (const Diagnostic& d : records) {
        core_.noteLinkFailure(d);
        if (isLinkFailure(d.sqlState) || d.sqlState == "HYT00" || d.sqlState == "HY008")
            stopped_ = true;
    }
    if (rc == SQL_ERROR && !error) {
        // A failure reported only by informational records: FreeTDS does so
        // for a link that broke ("Unexpected EOF from the server", 01000).
        Diagnostic d = records.empty() ? Diagnostic{} : records.back();
        d.sqlState = core_.isOpen() ? "HY000" : "08S01";
        core_.noteLinkFailure(d);
        if (!core_.isOpen())
            stopped_ = true;
        if (!firstError_)
            firstError_ = d;
        return false;
    }
    if (error && !firstError_)
        firstError_ = *error;
    return error == nullptr;
}

SQLSMALLINT Batch::columnCount()
{
    if (stopped_)
        return 0;
    SQLSMALLINT columns = 0;
    if (!check(SQLNumResultCols(stmt(), &columns)))
        return 0;
    return columns;
}

bool Batch::fetch()
{
    if (stopped_)
        return false;
    const SQLRETURN rc = SQLFetch(stmt());
    if (rc == SQL_NO_DATA)
        return false;
    check(rc);
    return succeeded(rc);
}

bool Batch::nextResult()
{
    if (stopped_)
        return false;
    const SQLRETURN rc = SQLMoreResults(stmt());
    if (rc == SQL_NO_DATA)
        return false;
    check(rc);
    if (rc == SQL_ERROR) {
        // An error result is followed by the rest of the batch; a driver that
        // keeps failing without progress is given up on.
        if (++consecutiveErrors_ > 100 || !core_.isOpen())
            stopped_ = true;
        return !stopped_;
    }
    consecutiveErrors_ = 0;
    return true;
}

void Batch::finish()
{
    while (nextResult()) {
    }
    if (firstError_)
        throw errorFrom(*firstError_);
}

} // namespace db::detail
