// The report's SQL texts, each generation's where they differ. Names go
// through db/SqlText.h, so they reach the server as exactly the names they are.
#pragma once

#include "db/ServerGeneration.h"

#include <string>

namespace report::sql {

// Every database with its state, recovery model and, from 2005,
// log_reuse_wait_desc: sys.databases; on 2000 sysdatabases and
// DATABASEPROPERTYEX. Columns: name, id, state_desc, recovery_model_desc and
// (2005 on) log_reuse_wait_desc, in database id order.
std::u16string selectDatabases(const db::Dialect& dialect);
// Every database's log size and how much of it is in use (every generation).
std::u16string logSpaceOfAll();
// The current database's log, in bytes (2012 on).
std::u16string logSpaceOfCurrent();
// The current database's files (log files have status 0x40).
std::u16string selectFiles();
// The finish of the database's last log backup that msdb records.
std::u16string selectLastLogBackupDate(const std::u16string& database);

} // namespace report::sql
