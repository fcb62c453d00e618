#include "db/LogLayout.h"

#include <algorithm>

namespace db {

std::vector<VirtualLogFile> vlfsOfFile(std::vector<VirtualLogFile> all, int fileId)
{
    std::erase_if(all, [fileId](const VirtualLogFile& v) { return v.fileId != fileId; });
    std::sort(all.begin(), all.end(),
              [](const VirtualLogFile& a, const VirtualLogFile& b) { return a.startOffset < b.startOffset; });
    return all;
}

// A shrink removes whole VLFs from the end, and only reusable ones, and
// leaves the log two at the least; whichever of these stopped it is the reason.
LogShortfall explainShortfall(const std::vector<VirtualLogFile>& vlfs, std::size_t logVlfs, std::int64_t targetBytes)
{
    if (vlfs.empty())
        return LogShortfall::None;
    const VirtualLogFile& last = vlfs.back();
    if (last.startOffset < targetBytes)
        return LogShortfall::VlfBoundary;
    if (last.active)
        return LogShortfall::ActiveAtEnd;
    if (logVlfs <= MinimumVlfs)
        return LogShortfall::TwoVlfFloor;
    return LogShortfall::None;
}

} // namespace db
