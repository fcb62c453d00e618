// The SQL Server generations the sandbox answers as, from 2000 to 2022, and
// what each one reports about itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sandbox {

enum class Generation { Sql2000, Sql2005, Sql2008, Sql2008R2, Sql2012, Sql2014, Sql2016, Sql2017, Sql2019, Sql2022 };

struct GenerationInfo {
    Generation generation;
    const char* name;                 // as --version and the catalog's "version" spell it
    std::uint8_t major, minor;
    std::uint16_t build;
    std::uint32_t tdsVersion;         // what it answers to a TDS 7.2+ login
    const char16_t* productVersion;   // SERVERPROPERTY('ProductVersion')
    const char16_t* productLevel;     // SERVERPROPERTY('ProductLevel')
    const char16_t* edition;          // SERVERPROPERTY('Edition')
    std::int16_t compatibilityLevel;  // of a database it creates
    std::int16_t databaseVersion;     // sysdatabases.version of its databases
    const char16_t* versionText;      // @@VERSION
    // SERVERPROPERTY('ProductUpdateLevel') (CUn) and ('ProductUpdateReference')
    // (its KB); nullptr: NULL, as before the late-2015 updates of 2012.
    const char16_t* updateLevel;
    const char16_t* updateReference;
};

const GenerationInfo& generationInfo(Generation g);
std::optional<Generation> generationNamed(std::string_view name);
// "2000|2005|...|2022", for usage texts.
std::string generationNames();

// What changed between generations, where the engine needs to know.
inline bool hasCatalogViews(Generation g) { return g >= Generation::Sql2005; }     // sys.databases, ...
inline bool hasTruncateOnly(Generation g) { return g < Generation::Sql2008; }      // BACKUP LOG WITH TRUNCATE_ONLY
inline bool hasDbOption(Generation g) { return g < Generation::Sql2012; }          // sp_dboption
inline bool hasMajorVersionProperty(Generation g) { return g >= Generation::Sql2012; }
// BEGIN TRAN in implicit-transaction mode opens the implicit transaction too (@@TRANCOUNT 2).
inline bool implicitModeNestsBegin(Generation g) { return g >= Generation::Sql2008; }

// @@MICROSOFTVERSION: major, minor and build packed into one int.
std::int32_t microsoftVersion(Generation g);

} // namespace sandbox
