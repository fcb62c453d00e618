#include "db/odbc/DriverLookup.h"

#include "db/Text.h"
#include "db/odbc/FreeTdsVersion.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#ifdef __linux__
#include <link.h>
#endif

namespace db::detail {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view FreeTdsLibrary = "libtdsodbc.so";

// The folder the running driver manager was loaded from, e.g.
// /usr/lib/x86_64-linux-gnu: the right architecture, whatever its name.
fs::path driverManagerFolder()
{
#ifdef __linux__
    fs::path folder;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* out) {
            const fs::path name = info->dlpi_name ? info->dlpi_name : "";
            if (name.filename().string().rfind("libodbc.so", 0) != 0)
                return 0;
            *static_cast<fs::path*>(out) = name.parent_path();
            return 1;
        },
        &folder);
    return folder;
#else
    return {};
#endif
}

std::vector<fs::path> libraryFolders()
{
    std::vector<fs::path> folders;
    if (const fs::path own = driverManagerFolder(); !own.empty()) {
        folders.push_back(own / "odbc");
        folders.push_back(own);
    }
    // Multiarch folders (/usr/lib/<triplet>/odbc) of whatever architecture,
    // then the single-architecture layouts.
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find("-linux-") != std::string::npos)
            folders.push_back(entry.path() / "odbc");
    }
    for (const char* folder : {"/usr/lib/odbc", "/usr/lib64", "/usr/lib", "/usr/local/lib"})
        folders.emplace_back(folder);
    return folders;
}

bool isAbsolute(const std::u16string& path) { return !path.empty() && fs::path(toUtf8(path)).is_absolute(); }

BraceStyle braceStyleOf(const std::string& libraryPath)
{
    return libraryPath.empty() ? BraceStyle::Doubled : braceStyleOfLibrary(libraryPath);
}

// Registered as "FreeTDS", or under any name with FreeTDS's library.
bool isFreeTds(const RegisteredDriver& driver)
{
    return SameText(driver.name, u"FreeTDS") || foldedCase(driver.library).find(u"tdsodbc") != std::u16string::npos;
}

OdbcDriver freeTds(const RegisteredDriver& driver)
{
    // A bare library name ("libtdsodbc.so", as Debian registers it) is for
    // the driver manager to find; the version is read from where the
    // distribution puts that file.
    const std::u16string& library = driver.library;
    const std::string path = isAbsolute(library)
                                 ? toUtf8(library)
                                 : findDriverLibrary(library.empty() ? FreeTdsLibrary : toUtf8(library));
    return OdbcDriver{driver.name, braceStyleOf(path)};
}

constexpr std::u16string_view NativeClient11 = u"SQL Server Native Client 11.0";
// The 2008 and 2008 R2 Native Client (both register this name), and 2005's.
constexpr std::u16string_view NativeClient10 = u"SQL Server Native Client 10.0";
constexpr std::u16string_view SqlNativeClient = u"SQL Native Client";
constexpr std::u16string_view SqlServer = u"SQL Server";

// NN of "ODBC Driver NN for SQL Server", or 0 for any other name.
int msOdbcVersion(std::u16string_view name)
{
    constexpr std::u16string_view prefix = u"ODBC Driver ", suffix = u" for SQL Server";
    if (name.size() <= prefix.size() + suffix.size() || !SameText(name.substr(0, prefix.size()), prefix) ||
        !SameText(name.substr(name.size() - suffix.size()), suffix))
        return 0;
    const std::u16string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    int version = 0;
    for (const char16_t c : digits) {
        if (c < u'0' || c > u'9' || version > 9999)
            return 0;
        version = version * 10 + (c - u'0');
    }
    return version;
}

} // namespace

std::string findDriverLibrary(std::string_view fileName)
{
    for (const fs::path& folder : libraryFolders()) {
        std::error_code error;
        const fs::path candidate = folder / fileName;
        if (fs::is_regular_file(candidate, error))
            return candidate.string();
    }
    return {};
}

std::vector<RegisteredDriver> registeredDrivers(SQLHENV env)
{
    std::vector<RegisteredDriver> drivers;
    std::vector<SQLWCHAR> name(512);
    std::vector<SQLWCHAR> attributes(4096);
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLSMALLINT nameLength = 0, attributesLength = 0;
        const SQLRETURN rc = SQLDriversW(env, direction, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                         &nameLength, attributes.data(),
                                         static_cast<SQLSMALLINT>(attributes.size()), &attributesLength);
        direction = SQL_FETCH_NEXT;
        // The end of the list, or a list that cannot be read: either way no
        // more registered drivers.
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            break;
        RegisteredDriver driver;
        driver.name = fromSqlWChar(
            name.data(), std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)),
                                               name.size() - 1));
        // Attributes: "key=value\0key=value\0\0".
        std::size_t i = 0;
        while (i < attributes.size() && attributes[i] != 0) {
            std::size_t j = i;
            while (j < attributes.size() && attributes[j] != 0)
                ++j;
            const std::u16string pair = fromSqlWChar(attributes.data() + i, j - i);
            if (sameAscii(std::u16string_view(pair).substr(0, 7), u"driver="))
                driver.library = pair.substr(7);
            i = j + 1;
        }
        drivers.push_back(std::move(driver));
    }
    return drivers;
}

OdbcDriver findFreeTdsDriver(SQLHENV env)
{
    for (const RegisteredDriver& registered : registeredDrivers(env)) {
        if (isFreeTds(registered))
            return freeTds(registered);
    }
    if (const std::string path = findDriverLibrary(FreeTdsLibrary); !path.empty())
        return OdbcDriver{fromUtf8(path), braceStyleOf(path)};
    return OdbcDriver{u"FreeTDS", BraceStyle::Doubled};
}

OdbcDriver chooseWindowsDriver(const std::vector<RegisteredDriver>& drivers, std::optional<ServerVersion> version)
{
    const bool sql2000 = version && version->major <= 8;
    const RegisteredDriver* newest = nullptr;
    int newestVersion = 0;
    const RegisteredDriver *nativeClient11 = nullptr, *nativeClient10 = nullptr, *sqlNativeClient = nullptr;
    const RegisteredDriver *sqlServer = nullptr, *freeTdsDriver = nullptr;
    const auto note = [](const RegisteredDriver*& slot, const RegisteredDriver& d) {
        if (!slot)
            slot = &d;
    };
    for (const RegisteredDriver& d : drivers) {
        if (const int driverVersion = msOdbcVersion(d.name); driverVersion > newestVersion) {
            newest = &d;
            newestVersion = driverVersion;
        } else if (driverVersion > 0) {
            continue;
        } else if (SameText(d.name, NativeClient11)) {
            note(nativeClient11, d);
        } else if (SameText(d.name, NativeClient10)) {
            note(nativeClient10, d);
        } else if (SameText(d.name, SqlNativeClient)) {
            note(sqlNativeClient, d);
        } else if (SameText(d.name, SqlServer)) {
            note(sqlServer, d);
        } else if (isFreeTds(d)) {
            note(freeTdsDriver, d);
        }
    }
    const auto named = [](const RegisteredDriver* d, DriverKind kind) {
        return OdbcDriver{d->name, BraceStyle::Doubled, kind};
    };
    if (sql2000 && (nativeClient10 || sqlNativeClient))
        return named(nativeClient10 ? nativeClient10 : sqlNativeClient, DriverKind::NativeClient);
    if (!sql2000 && newest)
        return named(newest, DriverKind::MsOdbc);
    if (!sql2000 && nativeClient11)
        return named(nativeClient11, DriverKind::NativeClient);
    if (sqlServer)
        return named(sqlServer, DriverKind::SqlServer);
    if (freeTdsDriver)
        return freeTds(*freeTdsDriver);
    return OdbcDriver{std::u16string(SqlServer), BraceStyle::Doubled, DriverKind::SqlServer};
}

bool choiceDependsOnVersion(const std::vector<RegisteredDriver>& drivers)
{
    const OdbcDriver for2000 = chooseWindowsDriver(drivers, ServerVersion{8, 0, 0});
    const OdbcDriver forOthers = chooseWindowsDriver(drivers, std::nullopt);
    return for2000.driver != forOthers.driver || for2000.kind != forOthers.kind;
}

OdbcDriver findDriver(SQLHENV env, const std::function<std::optional<ServerVersion>()>& serverVersion)
{
#ifdef _WIN32
    const std::vector<RegisteredDriver> drivers = registeredDrivers(env);
    return chooseWindowsDriver(drivers, choiceDependsOnVersion(drivers) ? serverVersion() : std::nullopt);
#else
    (void)serverVersion;
    return findFreeTdsDriver(env);
#endif
}

} // namespace db::detail
