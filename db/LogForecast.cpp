#include "db/LogForecast.h"

#include <algorithm>

namespace db {

// A checkpoint or a truncating backup frees everything before the oldest
// log still needed; with nothing holding it, that lies in the VLF being
// written.
std::vector<VirtualLogFile> afterTruncation(const std::vector<LoggedVlf>& log, bool held)
{
    std::int64_t end = -1;
    for (const LoggedVlf& v : log)
        if (v.vlf.active)
            end = std::max(end, v.sequence);
    std::vector<VirtualLogFile> after;
    after.reserve(log.size());
    for (const LoggedVlf& v : log) {
        VirtualLogFile kept = v.vlf;
        kept.active = v.vlf.active && (held || v.sequence == end);
        after.push_back(kept);
    }
    return after;
}

ShrinkForecast forecastShrink(const std::vector<VirtualLogFile>& log, int fileId, std::int64_t fileBytes,
                              std::int64_t otherFilesBytes, std::int64_t targetBytes)
{
    const std::int64_t share = std::max<std::int64_t>(0, targetBytes - otherFilesBytes);
    std::vector<VirtualLogFile> vlfs = vlfsOfFile(log, fileId);
    std::size_t logVlfs = log.size();
    ShrinkForecast f{fileBytes, ForecastStop::Reached};
    while (f.sizeBytes > share && !vlfs.empty()) {
        const VirtualLogFile& last = vlfs.back();
        if (last.startOffset < share)
            return {f.sizeBytes, ForecastStop::VlfBoundary};
        if (last.active)
            return {f.sizeBytes, ForecastStop::InUse};
        if (logVlfs <= MinimumVlfs)
            return {f.sizeBytes, ForecastStop::TwoVlfFloor};
        f.sizeBytes = last.startOffset;
        --logVlfs;
        vlfs.pop_back();
    }
    return f;
}

} // namespace db
