// A log file's virtual log files (VLFs), as DBCC LOGINFO lists them, and
// what they say about why a shrink stopped where it did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace db {

struct VirtualLogFile {
    int fileId = 0;
    std::int64_t startOffset = 0;  // bytes from the start of the file
    std::int64_t size = 0;         // bytes
    bool active = false;           // Status 2: holds log that is not yet truncated
};

// Why a log file is still above the size the shrink aimed at.
enum class LogShortfall {
    None,         // nothing the layout explains
    VlfBoundary,  // it ends at the first VLF boundary above the target: as small as it gets
    ActiveAtEnd,  // the VLF at the end of the file holds the active log
    TwoVlfFloor,  // the whole log is down to the two VLFs it always keeps
};

// A log never shrinks below this many VLFs, in all its files together
// (KB 907511; DBCC SHRINKFILE's 9006), whatever size it was created at.
inline constexpr std::size_t MinimumVlfs = 2;

// The file's VLFs, in file order (other files' VLFs are passed over).
std::vector<VirtualLogFile> vlfsOfFile(std::vector<VirtualLogFile> all, int fileId);

// What the layout of one file, after the shrink, says about a target in
// bytes; `logVlfs` counts the VLFs of every file of the log. Assumes the
// file is above the target and `vlfs` are its own.
LogShortfall explainShortfall(const std::vector<VirtualLogFile>& vlfs, std::size_t logVlfs, std::int64_t targetBytes);

} // namespace db
