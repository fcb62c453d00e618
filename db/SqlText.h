// The SQL texts of browsing and of the job, built here so that names reach
// the server as exactly the names they are. The session's settings, which
// take no names, belong to the connection (odbc/ConnectionCore.cpp).
#pragma once

#include "db/ServerGeneration.h"

#include <cstdint>
#include <string>

namespace db::sql {

// The shrink's target, in megabytes (the unit of DBCC SHRINKFILE).
inline constexpr int ShrinkTargetMb = 10;
inline constexpr std::int64_t ShrinkTargetBytes = std::int64_t{ShrinkTargetMb} * 1024 * 1024;

// A name with trailing blanks dropped (SQL Server ignores them in comparisons;
// names from sysfiles come blank-padded).
std::u16string stripTrailingBlanks(const std::u16string& name);

// True for a T-SQL reserved keyword of any generation from 2000 to 2022
// (case-insensitive).
bool isReservedWord(const std::u16string& word);

// True when the name can go into SQL as it is: ASCII letters, digits and '_',
// not starting with a digit, not a reserved word (trailing blanks ignored).
bool isOrdinaryName(const std::u16string& name);

// The name as an identifier: as it is when ordinary, else "[...]" with ']'
// doubled. Trailing blanks dropped in both cases.
std::u16string ident(const std::u16string& name);

// The name as a string literal: '...' with '\'' doubled, N'...' when it holds
// characters outside ASCII. Trailing blanks dropped.
std::u16string literal(const std::u16string& name);

// The tool's statements.
std::u16string useDatabase(const std::u16string& database);
std::u16string selectDatabases();
std::u16string selectSecondaryFiles();
std::u16string selectFileByName(const std::u16string& fileName);
std::u16string setTruncLogOnCheckpoint(const std::u16string& database, bool on);
// An empty file name stays empty, and the server answers with a syntax error.
std::u16string shrinkFile(const std::u16string& fileName);
std::u16string truncateAndShrink(const std::u16string& database, const std::u16string& fileName);
// The database's sysdatabases.status, whose bits hold its options.
std::u16string selectDatabaseStatus(const std::u16string& database);

// The job from 2008 on, where sp_dboption and TRUNCATE_ONLY are gone: the
// recovery model, read and set, each in a batch of its own; and the batch
// that truncates the log by a checkpoint in SIMPLE and shrinks the file.
// None of them opens a transaction.
std::u16string selectRecoveryModel(const std::u16string& database);
std::u16string setRecoveryModel(const std::u16string& database, RecoveryModel model);
std::u16string checkpointAndShrink(const std::u16string& fileName);

// What the job reads to say how it went. From 2005: what keeps the log from
// being reused, and whether a log backup chain exists (in the current
// database: a database backup that log backups can follow); on 2000 the
// backup history in msdb says whether the database was ever backed up.
// Every generation: the log's virtual log files.
std::u16string selectLogReuseWait(const std::u16string& database);
std::u16string selectLastLogBackup();
std::u16string selectBackupHistory(const std::u16string& database);
std::u16string selectLogInfo();

} // namespace db::sql
