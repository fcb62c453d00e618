// The fixed values the tool's data access depends on, each named once. The
// window's own (its captions, the rows of an open list) stay with the window.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace db::fixed {

// The provider the connection text names; the ODBC driver stands in for it.
inline constexpr std::u16string_view Provider = u"sqloledb";
// The database the server list's connection opens in.
inline constexpr std::u16string_view BrowseDatabase = u"master";
// The databases that truncate their log at every checkpoint whatever their
// recovery model says (see TruncatesAtEveryCheckpoint).
inline constexpr std::array<std::u16string_view, 2> CheckpointTruncatedDatabases = {u"tempdb", u"master"};
// The login, always: the window's is fixed in its form, the companion's here.
inline constexpr std::u16string_view Login = u"sa";
// Where a default instance listens unless its browser service says otherwise.
inline constexpr std::uint16_t DefaultTcpPort = 1433;

// SQL Server's page, the unit of sysfiles.size: 8 KB, so 128 to the megabyte.
inline constexpr std::int64_t PageBytes = 8192;
inline constexpr std::int64_t PagesPerMb = 1024 * 1024 / PageBytes;
// sysfiles.status: the file is a log file.
inline constexpr std::int32_t LogFileStatus = 0x40;

// ADO's defaults: the login's time-out and each statement's, in seconds.
inline constexpr int ConnectionTimeoutSeconds = 15;
inline constexpr int CommandTimeoutSeconds = 30;

// Informational messages that come with every login, browse or shrink and
// say nothing about why a log stayed: 2528 "DBCC execution completed", 5701
// "Changed database context", 5703 "Changed language setting".
inline constexpr std::array<long, 3> RoutineMessageNumbers = {2528, 5701, 5703};

constexpr bool isRoutineMessage(long number)
{
    return std::find(RoutineMessageNumbers.begin(), RoutineMessageNumbers.end(), number) !=
           RoutineMessageNumbers.end();
}

// log_reuse_wait_desc values that hold nothing (Learn, "The transaction
// log"): NOTHING; CHECKPOINT, "a routine reason" (no checkpoint since the
// last truncation, or the head of the log still in its VLF); and
// OTHER_TRANSIENT, "currently not used". What the VLFs say explains the log.
inline constexpr std::array<std::u16string_view, 3> RoutineReuseWaits = {u"NOTHING", u"CHECKPOINT",
                                                                          u"OTHER_TRANSIENT"};

constexpr bool isRoutineReuseWait(std::u16string_view wait)
{
    return wait.empty() ||
           std::find(RoutineReuseWaits.begin(), RoutineReuseWaits.end(), wait) != RoutineReuseWaits.end();
}

} // namespace db::fixed
