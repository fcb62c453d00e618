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

// Whole VLFs come off the end until the layout says why no more can.
ShrinkForecast forecastShrink(const std::vector<VirtualLogFile>& log, int fileId, std::int64_t fileBytes,
                              std::int64_t otherFilesBytes, std::int64_t targetBytes)
{
    const std::int64_t share = std::max<std::int64_t>(0, targetBytes - otherFilesBytes);
    std::vector<VirtualLogFile> vlfs = vlfsOfFile(log, fileId);
    std::size_t logVlfs = log.size();
    ShrinkForecast f{fileBytes};
    while (f.sizeBytes > share && !vlfs.empty()) {
        f.stop = explainShortfall(vlfs, logVlfs, share);
        if (f.stop == LogShortfall::TwoVlfFloor) {
            for (const VirtualLogFile& v : log)  // in the log's order, as DBCC LOGINFO lists them
                if (v.fileId != fileId || v.startOffset < f.sizeBytes)
                    f.floorVlfBytes.push_back(v.size);
        }
        if (f.stop != LogShortfall::None)
            return f;
        f.sizeBytes = vlfs.back().startOffset;
        --logVlfs;
        vlfs.pop_back();
    }
    return f;
}

} // namespace db
