// What the job and the programs around it read from the server, each read
// one way: a query's first value, a database's recovery model, its files,
// and whether the session is where a statement means to act.
#pragma once

#include "db/ServerGeneration.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace db {

class TADOConnection;

// The column of the query's first row, trimmed; none without a row or for NULL.
std::optional<std::u16string> firstValue(TADOConnection& connection, const std::u16string& sql,
                                         const std::u16string& column);

// The database's recovery model as DATABASEPROPERTYEX names it; none when it
// names none (a database that does not exist or cannot be seen).
std::optional<RecoveryModel> readRecoveryModel(TADOConnection& connection, const std::u16string& database);

// One of a database's files the job can be run on: any but its primary data
// file, as the window lists them.
struct SecondaryFile {
    int fileId = 0;
    std::u16string name;  // trailing blanks dropped
    std::int64_t sizePages = 0;
    bool isLog = false;
};

// The current database's secondary files, in file order; a row whose
// numbers cannot be read is left out.
std::vector<SecondaryFile> readSecondaryFiles(TADOConnection& connection);

// Throws unless the session is in `database`: the shrink and everything read
// after it must never act on another database the session ended up in.
void requireDatabase(const TADOConnection& connection, const std::u16string& database);

} // namespace db
