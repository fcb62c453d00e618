// A server's databases with one log case each, for the report's tests: what
// the job would leave of each, and why, by the layout of its VLFs.
#pragma once

#include "sandbox/sql/Catalog.h"

namespace testsupport {

// Boundary: 10.5 MB is the first VLF boundary above 10 MB (FULL, backed up,
// two log backups in msdb). AtEnd: the active log sits in the last VLF.
// Floor: a log created at 1 GB and grown to 2 GB keeps two 128 MB VLFs.
// Held: an open transaction holds it. Small: already below 10 MB. TwoLogs:
// the target is the whole log's. Away: OFFLINE.
inline constexpr const char* ReportCatalogJson = R"({"databases": [
  {"name": "master", "dbid": 1, "recovery": "SIMPLE", "files": [
    {"fileid": 1, "name": "master", "size": 512}, {"fileid": 2, "name": "mastlog", "size": 128, "activePages": 16}]},
  {"name": "tempdb", "dbid": 2, "recovery": "SIMPLE", "files": [
    {"fileid": 1, "name": "tempdev", "size": 1024}, {"fileid": 2, "name": "templog", "size": 64, "activePages": 16}]},
  {"name": "msdb", "dbid": 4, "recovery": "SIMPLE"},
  {"name": "Boundary", "dbid": 5, "recovery": "FULL", "backups": [
     {"type": "D", "start": "2026-11-28T01:00:00", "finish": "2026-11-28T01:04:00"},
     {"type": "L", "start": "2026-11-29T01:00:00", "finish": "2026-11-29T01:00:09"},
     {"type": "L", "start": "2026-11-30T01:00:00", "finish": "2026-11-30T01:00:07"}], "files": [
    {"fileid": 1, "name": "Boundary_Data", "size": 6400},
    {"fileid": 2, "name": "Boundary_Log", "created": 1344, "growths": [8192, 8192], "logStart": 13728,
     "inactivePages": 4000, "activePages": 100}]},
  {"name": "AtEnd", "dbid": 6, "recovery": "SIMPLE", "files": [
    {"fileid": 1, "name": "AtEnd_Data", "size": 6400},
    {"fileid": 2, "name": "AtEnd_Log", "created": 8192, "growths": [8192], "logStart": 16184, "activePages": 100}]},
  {"name": "Floor", "dbid": 7, "recovery": "FULL", "logChain": false, "files": [
    {"fileid": 1, "name": "Floor_Data", "size": 12800},
    {"fileid": 2, "name": "Floor_Log", "created": 131072, "growths": [131072], "activePages": 64}]},
  {"name": "Held", "dbid": 8, "recovery": "FULL", "logReuseWait": "ACTIVE_TRANSACTION", "files": [
    {"fileid": 1, "name": "Held_Data", "size": 6400},
    {"fileid": 2, "name": "Held_Log", "created": 1280, "growths": [11520], "logStart": 1200, "inactivePages": 9000,
     "activePages": 128}]},
  {"name": "Small", "dbid": 9, "recovery": "SIMPLE", "files": [
    {"fileid": 1, "name": "Small_Data", "size": 640}, {"fileid": 2, "name": "Small_Log", "size": 640, "activePages": 16}]},
  {"name": "TwoLogs", "dbid": 10, "recovery": "SIMPLE", "files": [
    {"fileid": 1, "name": "TwoLogs_Data", "size": 6400},
    {"fileid": 2, "name": "TwoLogs_Log", "size": 2560, "activePages": 128, "inactivePages": 200},
    {"fileid": 3, "name": "TwoLogs_Log2", "size": 1280, "status": 66, "activePages": 0}]},
  {"name": "Away", "dbid": 11, "state": "OFFLINE"}]})";

inline sandbox::Catalog reportCatalog(sandbox::Generation g)
{
    sandbox::Catalog c = sandbox::Catalog::fromJson(ReportCatalogJson);
    c.generation = g;
    return c;
}

} // namespace testsupport
