#include "db/DatabaseReads.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "db/Variant.h"

namespace db {

std::optional<std::u16string> firstValue(TADOConnection& connection, const std::u16string& sql,
                                         const std::u16string& column)
{
    TADODataSet query;
    query.SetConnection(&connection);
    query.SetCommandText(sql);
    query.Open();
    if (query.RecordCount() == 0 || query.FieldValue(column).IsNull())
        return std::nullopt;
    return Trim(VarToStr(query.FieldValue(column)));
}

std::optional<RecoveryModel> readRecoveryModel(TADOConnection& connection, const std::u16string& database)
{
    const auto name = firstValue(connection, sql::selectRecoveryModel(database), u"recovery_model");
    return name ? recoveryModelNamed(*name) : std::nullopt;
}

void requireDatabase(const TADOConnection& connection, const std::u16string& database)
{
    if (connection.CurrentDatabase() != database)
        throw EDatabaseError(u"The connection is not in database '" + database + u"'");
}

} // namespace db
