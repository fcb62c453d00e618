#include "db/AdoDataSet.h"

#include "db/AdoConnection.h"
#include "db/Errors.h"
#include "db/Text.h"
#include "db/odbc/Batch.h"
#include "db/odbc/Columns.h"

namespace db {

using detail::Batch;

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
    try {
        do {
            const SQLSMALLINT count = batch.columnCount();
            if (found || count <= 0)
                continue;
            found = true;
            std::vector<detail::ColumnInfo> infos;
            for (SQLSMALLINT c = 1; c <= count; ++c)
                infos.push_back(detail::describe(batch, static_cast<SQLUSMALLINT>(c)));
            for (const detail::ColumnInfo& info : infos)
                columns.push_back(info.name);
            while (batch.fetch()) {
                if (rows.size() == MaxRows)
                    throw EDatabaseError(u"The result has more than " + asciiToUtf16(std::to_string(MaxRows)) +
                                         u" rows");
                std::vector<Variant> row;
                row.reserve(infos.size());
                for (SQLSMALLINT c = 1; c <= count; ++c)
                    row.push_back(detail::readValue(batch, static_cast<SQLUSMALLINT>(c),
                                                    infos[static_cast<std::size_t>(c - 1)], MaxValueBytes));
                rows.push_back(std::move(row));
            }
        } while (batch.nextResult());
    } catch (const EDatabaseError&) {
        batch.cancel();  // what the server still sends is dropped; the connection goes on
        throw;
    }
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
