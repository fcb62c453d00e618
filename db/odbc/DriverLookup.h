// Which ODBC driver stands in for sqloledb on this machine. Not for use
// outside db/.
#pragma once

#include "db/ConnectionString.h"
#include "db/odbc/OdbcApi.h"

namespace db::detail {

OdbcDriver findFreeTdsDriver(SQLHENV env);

} // namespace db::detail
