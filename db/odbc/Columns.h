// The columns and values of a batch's current result. Not for use outside db/.
#pragma once

#include "db/Variant.h"
#include "db/odbc/Batch.h"

#include <cstddef>
#include <string>

namespace db::detail {

struct ColumnInfo {
    std::u16string name;
    SQLSMALLINT type = 0;
};

ColumnInfo describe(Batch& batch, SQLUSMALLINT column);

// The column's value in the current row: SQL NULL, and a read that failed
// (the batch keeps the error), give Null. A value longer than maxBytes
// throws EDatabaseError.
Variant readValue(Batch& batch, SQLUSMALLINT column, const ColumnInfo& info, std::size_t maxBytes);

} // namespace db::detail
