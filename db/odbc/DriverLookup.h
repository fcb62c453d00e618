// Which ODBC driver stands in for sqloledb on this machine, found at run time
// as an installed program finds it: FreeTDS on Linux, the best SQL Server
// driver Windows has there. Not for use outside db/.
#pragma once

#include "db/ConnectionString.h"
#include "db/odbc/Diagnostics.h"
#include "db/odbc/OdbcApi.h"

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
// over the registered ones, elsewhere findFreeTdsDriver().
OdbcDriver findDriver(SQLHENV env);

// Windows: the newest "ODBC Driver NN for SQL Server", else "SQL Server
// Native Client 11.0", else "SQL Server", else a registered FreeTDS; with
// none of them "SQL Server", which every Windows has.
OdbcDriver chooseWindowsDriver(const std::vector<RegisteredDriver>& drivers);

// Microsoft's drivers from Native Client 11.0 on refuse SQL Server 2000
// ("... does not support connections to SQL Server 2000 or earlier
// versions"), which the driver every Windows has still reaches: that driver,
// after such a refusal by one of them; nothing otherwise.
std::optional<OdbcDriver> driverForOlderServer(const OdbcDriver& refused, const std::vector<Diagnostic>& records);

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
