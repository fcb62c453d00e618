#include "db/DatabaseReads.h"

#include "db/AdoConnection.h"
#include "db/AdoDataSet.h"
#include "db/Errors.h"
#include "db/FixedValues.h"
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

std::vector<SecondaryFile> readSecondaryFiles(TADOConnection& connection)
{
    TADODataSet query;
    query.SetConnection(&connection);
    query.SetCommandText(sql::selectSecondaryFiles());
    query.Open();
    std::vector<SecondaryFile> files;
    for (int i = 0; i < query.RecordCount(); ++i, query.Next()) {
        const auto id = ExactInteger(query.FieldValue(u"fileid"));
        const auto size = ExactInteger(query.FieldValue(u"size"));
        const auto status = ExactInteger(query.FieldValue(u"status"));
        if (!id || !size || !status)
            continue;
        files.push_back({static_cast<int>(*id), sql::stripTrailingBlanks(VarToStr(query.FieldValue(u"name"))), *size,
                         (*status & fixed::LogFileStatus) != 0});
    }
    return files;
}

void requireDatabase(const TADOConnection& connection, const std::u16string& database)
{
    if (connection.CurrentDatabase() != database)
        throw EDatabaseError(u"The connection is not in database '" + database + u"'");
}

} // namespace db
