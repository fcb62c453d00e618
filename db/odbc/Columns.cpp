#include "db/odbc/Columns.h"

#include "db/Errors.h"
#include "db/Text.h"

#include <algorithm>
#include <string>
#include <type_traits>

namespace db::detail {

ColumnInfo describe(Batch& batch, SQLUSMALLINT column)
{
    ColumnInfo info;
    std::vector<SQLWCHAR> name(256);
    SQLSMALLINT nameLength = 0;
    const auto call = [&] {
        return SQLDescribeColW(batch.stmt(), column, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                               &info.type, nullptr, nullptr, nullptr);
    };
    SQLRETURN rc = call();
    if (rc == SQL_SUCCESS_WITH_INFO && (nameLength < 0 || static_cast<std::size_t>(nameLength) >= name.size())) {
        name.resize(static_cast<std::size_t>(textBufferLength(nameLength)));
        rc = call();
    }
    if (batch.check(rc)) {
        const std::size_t n = nameLength < 0 ? name.size() - 1
                                             : std::min(static_cast<std::size_t>(nameLength), name.size() - 1);
        info.name = fromSqlWChar(name.data(), n);
    }
    return info;
}

namespace {

// Reads a character or binary column in pieces, up to maxBytes, onto the
// end of `value` (a UTF-16 string for SQL_C_WCHAR, bytes for SQL_C_BINARY).
// False for SQL NULL and for a read that failed.
template <typename Value>
bool readPieces(Batch& batch, SQLUSMALLINT column, SQLSMALLINT cType, const ColumnInfo& info, std::size_t maxBytes,
                Value& value)
{
    using Unit = typename Value::value_type;
    static_assert(sizeof(Unit) == 1 || sizeof(Unit) == sizeof(SQLWCHAR));
    constexpr std::size_t Chunk = 1024;
    constexpr std::size_t terminator = std::is_same_v<Unit, std::uint8_t> ? 0 : 1;  // text ends in a NUL
    // On the stack, and of the kept value's own type: a catalog has thousands
    // of values, each read whole in one piece and appended as it is.
    Unit buffer[Chunk];
    constexpr auto bufferBytes = static_cast<SQLLEN>(sizeof buffer);
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(batch.stmt(), column, cType, buffer, bufferBytes, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        if (!batch.check(rc))
            return false;
        if (indicator == SQL_NULL_DATA)
            return false;
        const bool whole = indicator != SQL_NO_TOTAL && indicator <= bufferBytes - static_cast<SQLLEN>(terminator * sizeof(Unit));
        const std::size_t units = whole ? static_cast<std::size_t>(indicator) / sizeof(Unit) : Chunk - terminator;
        value.insert(value.end(), buffer, buffer + units);
        if (value.size() * sizeof(Unit) > maxBytes)
            throw EDatabaseError(u"The value of column '" + info.name + u"' is longer than " +
                                 asciiToUtf16(std::to_string(maxBytes)) + u" bytes");
        if (whole || rc == SQL_SUCCESS)
            break;
    }
    return true;
}

} // namespace

Variant readValue(Batch& batch, SQLUSMALLINT column, const ColumnInfo& info, std::size_t maxBytes)
{
    switch (info.type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: {
        SQLBIGINT value = 0;
        SQLLEN indicator = 0;
        if (!batch.check(SQLGetData(batch.stmt(), column, SQL_C_SBIGINT, &value, 0, &indicator)) ||
            indicator == SQL_NULL_DATA)
            return Variant::Null();
        return Variant::FromInteger(value);
    }
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: {
        double value = 0;
        SQLLEN indicator = 0;
        if (!batch.check(SQLGetData(batch.stmt(), column, SQL_C_DOUBLE, &value, 0, &indicator)) ||
            indicator == SQL_NULL_DATA)
            return Variant::Null();
        return Variant::FromFloat(value);
    }
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_DATETIME: {
        SQL_TIMESTAMP_STRUCT ts{};
        SQLLEN indicator = 0;
        if (!batch.check(SQLGetData(batch.stmt(), column, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &indicator)) ||
            indicator == SQL_NULL_DATA)
            return Variant::Null();
        return Variant::FromDateTime(DateTimeValue{ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                                                   static_cast<int>(ts.fraction / 1000000)});
    }
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: {
        std::vector<std::uint8_t> bytes;
        if (!readPieces(batch, column, SQL_C_BINARY, info, maxBytes, bytes))
            return Variant::Null();
        return Variant::FromBytes(std::move(bytes));
    }
    default: {
        // Text of every kind, and exact numerics (kept as their digits).
        std::u16string text;
        if (!readPieces(batch, column, SQL_C_WCHAR, info, maxBytes, text))
            return Variant::Null();
        return Variant::FromText(std::move(text));
    }
    }
}

} // namespace db::detail
