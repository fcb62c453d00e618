// A plain-text table for a terminal: columns padded to the widest cell as a
// terminal shows it (CJK characters take two columns), numbers right-aligned.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cli {

// How many terminal columns the UTF-8 text takes.
std::size_t displayWidth(const std::string& text);

class TextTable {
public:
    enum class Align { Left, Right };
    struct Column {
        std::string title;
        Align align = Align::Left;
    };

    explicit TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    // The title line (through `title`, which may colour it), then the rows;
    // two spaces between columns, no trailing blanks.
    template <class Title>
    std::string render(Title title) const;

private:
    std::vector<std::size_t> widths() const;
    std::string line(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) const;

    std::vector<Column> columns_;
    std::vector<std::vector<std::string>> rows_;
};

template <class Title>
std::string TextTable::render(Title title) const
{
    const std::vector<std::size_t> w = widths();
    std::vector<std::string> titles;
    for (const Column& c : columns_)
        titles.push_back(c.title);
    std::string out = title(line(titles, w)) + "\n";
    for (const std::vector<std::string>& row : rows_)
        out += line(row, w) + "\n";
    return out;
}

} // namespace cli
