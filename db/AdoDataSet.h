// A read-only query, ADO flavoured: runs its text and holds every row of the
// result on the client.
#pragma once

#include "Variant.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace db {

class TADOConnection;

enum class TCursorLocation { clUseServer, clUseClient };

class TADODataSet {
public:
    TADODataSet();
    ~TADODataSet();  // closes; never throws
    TADODataSet(const TADODataSet&) = delete;
    TADODataSet& operator=(const TADODataSet&) = delete;

    void SetConnection(TADOConnection* connection);
    TADOConnection* Connection() const { return connection_; }
    // Rows are always fetched to the client; the setting is kept, not used.
    void SetCursorLocation(TCursorLocation location) { cursorLocation_ = location; }
    TCursorLocation CursorLocation() const { return cursorLocation_; }
    void SetCommandText(const std::u16string& text) { commandText_ = text; }
    const std::u16string& CommandText() const { return commandText_; }

    // What one Open takes at most, far beyond any catalog (sysdatabases and
    // sysfiles hold at most 32,767 rows; names are at most 520 bytes): a
    // server that sends more gets its batch cancelled and an error.
    static constexpr std::size_t MaxRows = 100'000;
    static constexpr std::size_t MaxValueBytes = 64 * 1024;

    // Runs the text (opening the connection first if closed), fetches every
    // row and stands on the first. Throws EDatabaseError on a server error,
    // when the text returns no result set, or past MaxRows or MaxValueBytes.
    void Open();
    void Close();  // inactive: nothing
    bool Active() const { return active_; }

    int RecordCount() const;
    // The first column, in column order, whose name matches case-insensitively;
    // none throws "Field '<name>' not found". SQL NULL gives a Null variant,
    // and so does any field of an empty result.
    Variant FieldValue(const std::u16string& name) const;
    // Moves to the next row; on the last row it stays there and Eof() turns true.
    void Next();
    bool Eof() const;

    // Column names in order (for diagnostics and tests).
    const std::vector<std::u16string>& FieldNames() const { return columns_; }

private:
    void requireActive() const;

    TADOConnection* connection_ = nullptr;
    TCursorLocation cursorLocation_ = TCursorLocation::clUseClient;
    std::u16string commandText_;
    bool active_ = false;
    std::vector<std::u16string> columns_;
    std::vector<std::vector<Variant>> rows_;
    std::size_t current_ = 0;
    bool eof_ = true;
};

} // namespace db
