// What a sandbox server holds: databases, their files and log state.
#pragma once

#include "sandbox/sql/Names.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sandbox {

struct DbFile {
    std::int16_t fileId = 1;
    std::int16_t groupId = 1;   // 0 for log files
    std::int32_t size = 0;      // 8 KB pages
    std::int32_t maxSize = -1;  // pages; -1 unlimited, 0 no growth
    std::int32_t growth = 10;   // pages, or percent when status has 0x100000
    std::int32_t status = 0x2;  // 0x2 disk file, 0x40 log file, 0x100000 percent growth
    std::int32_t perf = 0;
    std::u16string name;        // logical name, unpadded here
    std::u16string fileName;    // physical path, unpadded here
    // Log files only: pages holding active log (what a shrink can never free)
    // and pages of inactive log (freed by BACKUP LOG ... WITH TRUNCATE_ONLY).
    std::int32_t activePages = 0;
    std::int32_t inactivePages = 0;
    // Data files only: pages in use.
    std::int32_t usedPages = 0;

    bool isLog() const { return (status & 0x40) != 0; }
};

struct Database {
    std::int16_t dbId = 5;
    std::u16string name;
    std::int32_t status = 16;   // bit 8: trunc. log on chkpt.
    std::int32_t status2 = 0;
    std::int16_t mode = 0;
    std::int16_t cmptLevel = 80;
    std::int16_t version = 539;
    bool offline = false;       // USE fails as for a database that cannot be opened
    std::vector<DbFile> files;

    static constexpr std::int32_t TruncLogOnChkpt = 8;
    bool truncLogOnCheckpoint() const { return (status & TruncLogOnChkpt) != 0; }
};

struct Catalog {
    std::vector<Database> databases;

    // master, tempdb, model, msdb and two user databases with realistic files.
    static Catalog defaults();
    // Loads a catalog from JSON (see sandbox/README.md); throws std::runtime_error.
    static Catalog fromJsonFile(const std::string& path);
    static Catalog fromJson(const std::string& text);

    Database* find(const std::u16string& name);
    const Database* find(const std::u16string& name) const;
};

} // namespace sandbox
