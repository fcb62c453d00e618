// One line on a terminal's standard error that says how far the run is,
// rewritten in place as servers finish and cleared at the end; nothing when
// standard error is not a terminal.
#pragma once

#include "report/ReportRun.h"

#include <iosfwd>
#include <string>

namespace cli {

class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool shown) : err_(err), shown_(shown) {}
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void update(const report::RunProgress& progress);
    void clear();

    // "3/50 servers, 1 failed, last: GAME-SH01"
    static std::string text(const report::RunProgress& progress);

private:
    void show(const std::string& line);

    std::ostream& err_;
    bool shown_;
    std::size_t width_ = 0;  // of what is on the line now
};

} // namespace cli
