// Which ODBC driver stands in for sqloledb on this machine, found at run time
// as an installed program finds it. Not for use outside db/.
#pragma once

#include "db/ConnectionString.h"
#include "db/odbc/OdbcApi.h"

#include <string>
#include <string_view>

namespace db::detail {

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
