// What the window's job would leave of a log file, read before it runs: the
// VLFs its truncation frees, then where its shrink to the target stops, by
// the rules a shrink follows, decided by LogLayout.h's explainShortfall as
// the job's own report decides them afterwards.
#pragma once

#include "db/LogLayout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace db {

// A VLF as DBCC LOGINFO lists it, with its sequence number (FSeqNo).
struct LoggedVlf {
    VirtualLogFile vlf;
    std::int64_t sequence = 0;
};

// The log as the job's truncation would leave it. Only the VLF the log ends
// in (the highest sequence number in use) stays in use; when something
// holds the log (an open transaction, replication, a replica...), every VLF
// in use stays so.
std::vector<VirtualLogFile> afterTruncation(const std::vector<LoggedVlf>& log, bool held);

struct ShrinkForecast {
    std::int64_t sizeBytes = 0;  // the file's size afterwards
    // What stops the shrink above the target; None: it reaches it.
    LogShortfall stop = LogShortfall::None;
    // The sizes of the VLFs the whole log keeps, for TwoVlfFloor.
    std::vector<std::int64_t> floorVlfBytes{};
};

// A shrink of file `fileId` (now `fileBytes`) to `targetBytes` for the whole
// log, whose other files take `otherFilesBytes`: it removes reusable VLFs
// from the end while the file stays at or above its share and the log keeps
// two VLFs. `log` holds every log file's VLFs.
ShrinkForecast forecastShrink(const std::vector<VirtualLogFile>& log, int fileId, std::int64_t fileBytes,
                              std::int64_t otherFilesBytes, std::int64_t targetBytes);

} // namespace db
