// Which ODBC driver stands in for sqloledb on this machine, found at run time
// as an installed program finds it: FreeTDS on Linux, the best SQL Server
// driver Windows has there. Not for use outside db/.
#pragma once

#include "db/ConnectionString.h"
#include "db/ServerGeneration.h"
#include "db/odbc/OdbcApi.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace db::detail {

// A driver as the driver manager lists it.
struct RegisteredDriver {
    std::u16string name;     // e.g. "ODBC Driver 18 for SQL Server"
    std::u16string library;  // its Driver= attribute, when listed
};

// The drivers the driver manager knows, in its order (SQLDriversW).
std::vector<RegisteredDriver> registeredDrivers(SQLHENV env);

// The driver the tool uses on this machine: on Windows chooseWindowsDriver()
// over the registered ones, asking serverVersion() only when they make the
// choice depend on the version; elsewhere findFreeTdsDriver(), which reaches
// every version.
OdbcDriver findDriver(SQLHENV env, const std::function<std::optional<ServerVersion>()>& serverVersion);

// Windows. SQL Server 2000 gets "SQL Server Native Client 10.0", else "SQL
// Native Client", which still reach it; any later server, and one whose
// version is not known, the newest "ODBC Driver NN for SQL Server", else
// "SQL Server Native Client 11.0", which refuse 2000. Then, for every
// version, "SQL Server", else a registered FreeTDS; with none of them "SQL
// Server", which every Windows has. An unknown version never gets the older
// drivers: Microsoft's current ones encrypt the login wherever the server
// can, and refuse a 2000 server outright rather than log in some other way.
OdbcDriver chooseWindowsDriver(const std::vector<RegisteredDriver>& drivers, std::optional<ServerVersion> version);

// Whether chooseWindowsDriver() answers a 2000 server otherwise than a later
// or unknown one among these drivers: only then is the version worth asking.
bool choiceDependsOnVersion(const std::vector<RegisteredDriver>& drivers);

// The driver registered with the driver manager as "FreeTDS" (or any whose
// library is tdsodbc), as Debian's tdsodbc registers it; failing that, the
// library where the distribution installs it. Its brace style is read from
// the library itself.
OdbcDriver findFreeTdsDriver(SQLHENV env);

// Where a driver library of this name is installed: next to the driver
// manager's own library (its odbc/ folder first, as Debian's multiarch
// layout has it), then the usual library folders. Empty when none is.
std::string findDriverLibrary(std::string_view fileName);

} // namespace db::detail
