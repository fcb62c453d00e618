// A log file as SQL Server divides it: virtual log files (VLFs) made at the
// file's creation and at each growth by the rules of the generation, each
// holding active log, inactive log not yet truncated, or nothing needed.
// Truncation and DBCC SHRINKFILE work on whole VLFs (see sandbox/README.md).
#pragma once

#include "sandbox/sql/Generation.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sandbox {

enum class VlfState : std::uint8_t {
    Reusable,  // truncated, or never used: a shrink may remove it
    Inactive,  // only log records a truncation frees: in use until then
    Active,    // part of the active log
};

// A log sequence number in its decimal form, numeric(25,0): the VLF's
// sequence number times 10^15, plus block and slot. Wider than 64 bits once
// the sequence number passes 9223, as on a server up for years.
__extension__ typedef __int128 DecimalLsn;

struct Vlf {
    std::int32_t start = 1;      // its first page in the file (page 0 is the file header)
    std::int32_t pages = 0;
    VlfState state = VlfState::Reusable;
    std::int32_t sequence = 0;   // FSeqNo: 0 = never used
    std::uint8_t parity = 0;     // 0 = never used, then 64 or 128, changing at each reuse
    DecimalLsn createLsn = 0;    // 0 = made with the file
    std::int32_t end() const { return start + pages; }
};

// The pages of each VLF that a growth of `growth` pages adds to a log file
// of `current` pages (0: the file's creation, whose first page is the header).
std::vector<std::int32_t> vlfSizes(std::int32_t growth, std::int32_t current, Generation g);

// A log file created at `created` pages and grown by each of `growths`, all
// of it reusable and never used. The growths happened a little before the
// log reached sequence number `firstSequence`.
std::vector<Vlf> layOutLog(std::int32_t created, const std::vector<std::int32_t>& growths, Generation g,
                           std::int32_t firstSequence = 40);

// Puts the log's records in place: from page `firstPage`, `inactivePages`
// not yet truncated, then `activePages` of active log, wrapping round to the
// file's start. VLFs the log has passed get sequence numbers from
// `nextSequence` on, in the order they were used.
void placeLog(std::vector<Vlf>& vlfs, std::int32_t firstPage, std::int32_t inactivePages, std::int32_t activePages,
              std::int32_t& nextSequence);

// Truncation: inactive VLFs become reusable.
void truncateLog(std::vector<Vlf>& vlfs);

std::int32_t pagesIn(const std::vector<Vlf>& vlfs, VlfState state);

// A log never shrinks below this many VLFs (KB 907511).
constexpr std::size_t MinimumVlfs = 2;

struct ShrinkResult {
    enum class Stop {
        Reached,     // the target or the file's end: nothing to say
        InsideLast,  // 9007: the target lies inside the last VLF, nothing removed
        InUse,       // 9008: the VLF at the end holds log
        TooFew,      // 9006: the log is down to its minimum number of VLFs
    };
    Stop stop = Stop::Reached;
    std::int32_t size = 0;  // the file's pages afterwards
};

// DBCC SHRINKFILE on a log file: removes reusable VLFs from the end while the
// file stays at or above `target` pages and the whole log (this file and
// `otherVlfs` in its other files) keeps MinimumVlfs. When the VLF at the end
// is in use and `wrapWhenBlocked` (SQL Server 2000), the log's end moves to
// the first reusable VLF, so that a truncation frees the end for the next shrink.
ShrinkResult shrinkLog(std::vector<Vlf>& vlfs, std::int32_t size, std::int32_t target, std::size_t otherVlfs,
                       bool wrapWhenBlocked);

// The decimal LSN of a VLF's sequence number, 512-byte block and slot.
DecimalLsn decimalLsn(std::int32_t sequence, std::int32_t block, std::int32_t slot);
// The same LSN as sys.dm_db_log_info shows it: "0000002B:00000010:0001".
std::u16string textLsn(DecimalLsn decimal);
// Its digits, as numeric(25,0) shows it (LSNs are never negative).
std::u16string lsnDigits(DecimalLsn decimal);

} // namespace sandbox
