#include "db/odbc/DriverLookup.h"

#include "db/Text.h"
#include "db/odbc/FreeTdsVersion.h"

#include <algorithm>
#include <string>
#include <vector>

namespace db::detail {

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
            if (sameAscii(std::u16string_view(pair).substr(0, 7), u"driver="))
                library = pair.substr(7);
            i = j + 1;
        }
        const bool isFreeTds = SameText(driverName, u"FreeTDS") ||
                               foldedCase(library).find(u"tdsodbc") != std::u16string::npos;
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

} // namespace db::detail
