#include "report/ReportSql.h"

#include "db/SqlText.h"

namespace report::sql {

std::u16string selectDatabases(const db::Dialect& dialect)
{
    if (dialect.hasCatalogViews())
        return u"select name, database_id as id, state_desc, recovery_model_desc, log_reuse_wait_desc "
               u"from sys.databases "
               u"order by database_id";
    return u"select name, dbid as id, convert(nvarchar(60), databasepropertyex(name, 'Status')) as state_desc, "
           u"convert(nvarchar(60), databasepropertyex(name, 'Recovery')) as recovery_model_desc "
           u"from master..sysdatabases order by dbid";
}

std::u16string logSpaceOfAll() { return u"DBCC SQLPERF(LOGSPACE)"; }

std::u16string logSpaceOfCurrent()
{
    return u"select total_log_size_in_bytes, used_log_space_in_bytes, used_log_space_in_percent "
           u"from sys.dm_db_log_space_usage";
}

std::u16string selectFiles() { return u"select fileid, name, size, status from sysfiles order by fileid"; }

std::u16string selectLastLogBackupDate(const std::u16string& database)
{
    return u"select top 1 backup_finish_date from msdb..backupset where database_name = " +
           db::sql::literal(database) + u" and type = 'L' order by backup_finish_date desc";
}

} // namespace report::sql
