#include "cli/TextTable.h"

#include <algorithm>
#include <cstdint>

namespace cli {

namespace {

// East Asian Wide and Fullwidth characters (Unicode's EastAsianWidth W and
// F, their main blocks): Hangul Jamo, CJK and its punctuation, Hangul
// syllables, compatibility ideographs, full-width forms, and planes 2 and 3.
bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

std::size_t displayWidth(const std::string& text)
{
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        char32_t c = length == 1 ? lead : lead & (0xFFu >> (length + 1));
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        width += isWide(c) ? 2 : 1;
        i += length;
    }
    return width;
}

std::vector<std::size_t> TextTable::widths() const
{
    std::vector<std::size_t> w;
    for (const Column& c : columns_)
        w.push_back(displayWidth(c.title));
    for (const std::vector<std::string>& row : rows_)
        for (std::size_t i = 0; i < row.size() && i < w.size(); ++i)
            w[i] = std::max(w[i], displayWidth(row[i]));
    return w;
}

std::string TextTable::line(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) const
{
    std::string out;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::string cell = i < cells.size() ? cells[i] : std::string();
        const std::string pad(widths[i] - std::min(widths[i], displayWidth(cell)), ' ');
        if (i > 0)
            out += "  ";
        out += columns_[i].align == Align::Right ? pad + cell : cell + pad;
    }
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

} // namespace cli
