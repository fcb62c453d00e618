#include "db/AdoDataSet.h"

#include "db/AdoConnection.h"
#include "db/Errors.h"
#include "db/Text.h"
#include "db/odbc/Batch.h"
#include "db/odbc/OdbcApi.h"

#include <optional>
#include <type_traits>

namespace db {

using detail::Batch;

namespace {

struct ColumnInfo {
    std::u16string name;
    SQLSMALLINT type = 0;
};

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
        name.resize(static_cast<std::size_t>(detail::textBufferLength(nameLength)));
        rc = call();
    }
    if (batch.check(rc)) {
        const std::size_t n = nameLength < 0 ? name.size() - 1
                                             : std::min(static_cast<std::size_t>(nameLength), name.size() - 1);
        info.name = detail::fromSqlWChar(name.data(), n);
    }
    return info;
}

// Reads a character or binary column in pieces, however long it is.
template <typename Unit>
std::optional<std::vector<Unit>> readPieces(Batch& batch, SQLUSMALLINT column, SQLSMALLINT cType)
{
    constexpr std::size_t Chunk = 1024;
    constexpr std::size_t terminator = std::is_same_v<Unit, std::uint8_t> ? 0 : 1;  // text ends in a NUL
    std::vector<Unit> value;
    std::vector<Unit> buffer(Chunk);
    const auto bufferBytes = static_cast<SQLLEN>(buffer.size() * sizeof(Unit));
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(batch.stmt(), column, cType, buffer.data(), bufferBytes, &indicator);
        if (rc == SQL_NO_DATA)
            break;
        if (!batch.check(rc))
            return std::nullopt;
        if (indicator == SQL_NULL_DATA)
            return std::nullopt;
        const bool whole = indicator != SQL_NO_TOTAL && indicator <= bufferBytes - static_cast<SQLLEN>(terminator * sizeof(Unit));
        const std::size_t units =
            whole ? static_cast<std::size_t>(indicator) / sizeof(Unit) : buffer.size() - terminator;
        value.insert(value.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(units));
        if (whole || rc == SQL_SUCCESS)
            break;
    }
    return value;
}

Variant readValue(Batch& batch, SQLUSMALLINT column, const ColumnInfo& info)
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
        auto bytes = readPieces<std::uint8_t>(batch, column, SQL_C_BINARY);
        if (!bytes)
            return Variant::Null();
        return Variant::FromBytes(std::move(*bytes));
    }
    default: {
        // Text of every kind, and exact numerics (kept as their digits).
        auto text = readPieces<SQLWCHAR>(batch, column, SQL_C_WCHAR);
        if (!text)
            return Variant::Null();
        return Variant::FromText(detail::fromSqlWChar(text->data(), text->size()));
    }
    }
}

} // namespace

TADODataSet::TADODataSet() = default;

TADODataSet::~TADODataSet() { Close(); }

void TADODataSet::SetConnection(TADOConnection* connection)
{
    Close();
    connection_ = connection;
}

// What counts as "a result set": the first result of the batch that has
// columns, even with no rows (ADO's client cursor gives RecordCount 0 for
// "Select * From sysdatabases" on an empty catalog and no error). Results
// without columns (USE, SET, row counts) are passed over. Only a batch that
// yields no result set at all fails with "CommandText does not return a
// result set". Every result is read to the end, so that an error in any
// statement of the batch is raised.
void TADODataSet::Open()
{
    if (active_)
        return;
    if (connection_ == nullptr)
        throw EDatabaseError(u"Missing Connection or ConnectionString");
    detail::ConnectionCore& core = connection_->core();
    core.ensureOpen();

    std::vector<std::u16string> columns;
    std::vector<std::vector<Variant>> rows;
    bool found = false;
    Batch batch(core, commandText_);
    do {
        const SQLSMALLINT count = batch.columnCount();
        if (found || count <= 0)
            continue;
        found = true;
        std::vector<ColumnInfo> infos;
        for (SQLSMALLINT c = 1; c <= count; ++c)
            infos.push_back(describe(batch, static_cast<SQLUSMALLINT>(c)));
        for (const ColumnInfo& info : infos)
            columns.push_back(info.name);
        while (batch.fetch()) {
            std::vector<Variant> row;
            row.reserve(infos.size());
            for (SQLSMALLINT c = 1; c <= count; ++c)
                row.push_back(readValue(batch, static_cast<SQLUSMALLINT>(c), infos[static_cast<std::size_t>(c - 1)]));
            rows.push_back(std::move(row));
        }
    } while (batch.nextResult());
    batch.finish();
    if (!found)
        throw EDatabaseError(u"CommandText does not return a result set");

    columns_ = std::move(columns);
    rows_ = std::move(rows);
    current_ = 0;
    eof_ = rows_.empty();
    active_ = true;
}

void TADODataSet::Close()
{
    if (!active_)
        return;
    active_ = false;
    columns_.clear();
    rows_.clear();
    current_ = 0;
    eof_ = true;
}

void TADODataSet::requireActive() const
{
    if (!active_)
        throw EDatabaseError(u"Cannot perform this operation on a closed dataset");
}

int TADODataSet::RecordCount() const
{
    requireActive();
    return static_cast<int>(rows_.size());
}

Variant TADODataSet::FieldValue(const std::u16string& name) const
{
    requireActive();
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if (SameText(columns_[c], name)) {
            // No current record (an empty result) reads as Null, as a field of
            // an empty dataset does.
            return rows_.empty() ? Variant::Null() : rows_[current_][c];
        }
    }
    throw EDatabaseError(u"Field '" + name + u"' not found");
}

void TADODataSet::Next()
{
    requireActive();
    if (current_ + 1 < rows_.size())
        ++current_;
    else
        eof_ = true;
}

bool TADODataSet::Eof() const { return !active_ || eof_; }

} // namespace db
