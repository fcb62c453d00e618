#include "cli/Progress.h"

#include "cli/TextTable.h"
#include "db/Text.h"

#include <ostream>

namespace cli {

std::string ProgressLine::text(const report::RunProgress& progress)
{
    std::string line = std::to_string(progress.done) + "/" + std::to_string(progress.total) + " servers";
    if (progress.failed > 0)
        line += ", " + std::to_string(progress.failed) + " failed";
    if (progress.last)
        line += ", last: " + db::toUtf8(progress.last->server);
    return line;
}

void ProgressLine::update(const report::RunProgress& progress) { show(text(progress)); }

void ProgressLine::clear() { show({}); }

// A carriage return and blanks over what was there: no cursor codes, which
// a terminal without them would print.
void ProgressLine::show(const std::string& line)
{
    if (!shown_ || (line.empty() && width_ == 0))
        return;
    const std::size_t width = displayWidth(line);
    err_ << '\r' << line;
    if (width < width_)
        err_ << std::string(width_ - width, ' ') << '\r' << line;
    err_ << std::flush;
    width_ = width;
}

} // namespace cli
