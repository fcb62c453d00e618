// Colour on a terminal, none elsewhere or when NO_COLOR asks for none
// (no-color.org: set to anything but the empty text).
#pragma once

#include <string>

namespace cli {

class Style {
public:
    explicit Style(bool colour) : colour_(colour) {}
    bool colour() const { return colour_; }
    std::string bold(const std::string& text) const { return wrap("\x1b[1m", text); }
    std::string red(const std::string& text) const { return wrap("\x1b[31m", text); }

private:
    std::string wrap(const char* start, const std::string& text) const
    {
        return colour_ ? start + text + "\x1b[0m" : text;
    }
    bool colour_;
};

} // namespace cli
