// Which FreeTDS a driver library is, as far as connection strings care. Not
// for use outside db/.
#pragma once

#include "db/ConnectionString.h"

#include <string>

namespace db::detail {

// FreeTDS before 1.4 reads braced connection-string values without '}}'
// escapes; its version is written into the library as "freetds v1.3.17".
// Remembered per path; an unreadable file counts as a current one.
BraceStyle braceStyleOfLibrary(const std::string& path);

} // namespace db::detail
