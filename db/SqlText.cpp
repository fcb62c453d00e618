#include "SqlText.h"

#include "db/Text.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

namespace db::sql {

namespace {

// The reserved keywords of every generation from 2000 to 2022: 2000's
// (Books Online, "Reserved Keywords") and those added since (Learn, "Reserved
// Keywords (Transact-SQL)"), as an unbracketed name equal to one is a syntax
// error on the servers that reserve it.
constexpr std::u16string_view ReservedWords[] = {
    u"ADD", u"ALL", u"ALTER", u"AND", u"ANY", u"AS", u"ASC", u"AUTHORIZATION", u"BACKUP", u"BEGIN", u"BETWEEN",
    u"BREAK", u"BROWSE", u"BULK", u"BY", u"CASCADE", u"CASE", u"CHECK", u"CHECKPOINT", u"CLOSE", u"CLUSTERED",
    u"COALESCE", u"COLLATE", u"COLUMN", u"COMMIT", u"COMPUTE", u"CONSTRAINT", u"CONTAINS", u"CONTAINSTABLE",
    u"CONTINUE", u"CONVERT", u"CREATE", u"CROSS", u"CURRENT", u"CURRENT_DATE", u"CURRENT_TIME",
    u"CURRENT_TIMESTAMP", u"CURRENT_USER", u"CURSOR", u"DATABASE", u"DBCC", u"DEALLOCATE", u"DECLARE",
    u"DEFAULT", u"DELETE", u"DENY", u"DESC", u"DISK", u"DISTINCT", u"DISTRIBUTED", u"DOUBLE", u"DROP", u"DUMMY",
    u"DUMP", u"ELSE", u"END", u"ERRLVL", u"ESCAPE", u"EXCEPT", u"EXEC", u"EXECUTE", u"EXISTS", u"EXIT", u"FETCH",
    u"FILE", u"FILLFACTOR", u"FOR", u"FOREIGN", u"FREETEXT", u"FREETEXTTABLE", u"FROM", u"FULL", u"FUNCTION",
    u"GOTO", u"GRANT", u"GROUP", u"HAVING", u"HOLDLOCK", u"IDENTITY", u"IDENTITYCOL", u"IDENTITY_INSERT", u"IF",
    u"IN", u"INDEX", u"INNER", u"INSERT", u"INTERSECT", u"INTO", u"IS", u"JOIN", u"KEY", u"KILL", u"LEFT", u"LIKE",
    u"LINENO", u"LOAD", u"NATIONAL", u"NOCHECK", u"NONCLUSTERED", u"NOT", u"NULL", u"NULLIF", u"OF", u"OFF",
    u"OFFSETS", u"ON", u"OPEN", u"OPENDATASOURCE", u"OPENQUERY", u"OPENROWSET", u"OPENXML", u"OPTION", u"OR",
    u"ORDER", u"OUTER", u"OVER", u"PERCENT", u"PLAN", u"PRECISION", u"PRIMARY", u"PRINT", u"PROC", u"PROCEDURE",
    u"PUBLIC", u"RAISERROR", u"READ", u"READTEXT", u"RECONFIGURE", u"REFERENCES", u"REPLICATION", u"RESTORE",
    u"RESTRICT", u"RETURN", u"REVOKE", u"RIGHT", u"ROLLBACK", u"ROWCOUNT", u"ROWGUIDCOL", u"RULE", u"SAVE",
    u"SCHEMA", u"SELECT", u"SESSION_USER", u"SET", u"SETUSER", u"SHUTDOWN", u"SOME", u"STATISTICS",
    u"SYSTEM_USER", u"TABLE", u"TEXTSIZE", u"THEN", u"TO", u"TOP", u"TRAN", u"TRANSACTION", u"TRIGGER",
    u"TRUNCATE", u"TSEQUAL", u"UNION", u"UNIQUE", u"UPDATE", u"UPDATETEXT", u"USE", u"USER", u"VALUES",
    u"VARYING", u"VIEW", u"WAITFOR", u"WHEN", u"WHERE", u"WHILE", u"WITH", u"WRITETEXT",
    // Since 2005.
    u"EXTERNAL", u"MERGE", u"PIVOT", u"REVERT", u"SECURITYAUDIT", u"SEMANTICKEYPHRASETABLE",
    u"SEMANTICSIMILARITYDETAILSTABLE", u"SEMANTICSIMILARITYTABLE", u"TABLESAMPLE", u"TRY_CONVERT", u"UNPIVOT",
};

bool isAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool isAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

} // namespace

std::u16string stripTrailingBlanks(const std::u16string& name)
{
    std::size_t end = name.size();
    while (end > 0 && name[end - 1] == u' ')
        --end;
    return name.substr(0, end);
}

bool isReservedWord(const std::u16string& word)
{
    return std::any_of(std::begin(ReservedWords), std::end(ReservedWords),
                       [&word](std::u16string_view reserved) { return sameAscii(reserved, word); });
}

bool isOrdinaryName(const std::u16string& name)
{
    const std::u16string n = stripTrailingBlanks(name);
    if (n.empty() || isAsciiDigit(n.front()))
        return false;
    for (char16_t c : n) {
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != u'_')
            return false;
    }
    return !isReservedWord(n);
}

std::u16string ident(const std::u16string& name)
{
    const std::u16string n = stripTrailingBlanks(name);
    if (n.empty() || isOrdinaryName(n))
        return n;
    std::u16string out = u"[";
    for (char16_t c : n) {
        out += c;
        if (c == u']')
            out += u']';
    }
    out += u']';
    return out;
}

std::u16string literal(const std::u16string& name)
{
    const std::u16string n = stripTrailingBlanks(name);
    const bool national = std::any_of(n.begin(), n.end(), [](char16_t c) { return c >= 0x80; });
    std::u16string out = national ? u"N'" : u"'";
    for (char16_t c : n) {
        out += c;
        if (c == u'\'')
            out += u'\'';
    }
    out += u'\'';
    return out;
}

std::u16string useDatabase(const std::u16string& database) { return u"Use " + ident(database); }

// The column as the catalog spells it: on a case-sensitive or binary server
// [DbId] names no column at all.
std::u16string selectDatabases() { return u"Select * From sysdatabases order by [dbid]"; }

std::u16string selectSecondaryFiles() { return u"select * from sysfiles where fileid>1 order By fileid"; }

std::u16string selectFileByName(const std::u16string& fileName)
{
    return u"select * from sysfiles where [name]=" + literal(fileName);
}

std::u16string setTruncLogOnCheckpoint(const std::u16string& database, bool on)
{
    return u"exec sp_dboption " + literal(database) + u", 'trunc. log on chkpt.', " +
           (on ? u"'True'" : u"'False'");
}

std::u16string shrinkFile(const std::u16string& fileName)
{
    return u"DBCC SHRINKFILE (" + ident(fileName) + u", " + asciiToUtf16(std::to_string(ShrinkTargetMb)) + u")";
}

std::u16string truncateAndShrink(const std::u16string& database, const std::u16string& fileName)
{
    return u"BACKUP LOG " + ident(database) + u" WITH TRUNCATE_ONLY " + shrinkFile(fileName);
}

std::u16string selectDatabaseStatus(const std::u16string& database)
{
    return u"select status from master..sysdatabases where name = " + literal(database);
}

std::u16string selectRecoveryModel(const std::u16string& database)
{
    return u"select convert(nvarchar(60), databasepropertyex(" + literal(database) + u", 'Recovery')) as recovery_model";
}

std::u16string setRecoveryModel(const std::u16string& database, RecoveryModel model)
{
    return u"ALTER DATABASE " + ident(database) + u" SET RECOVERY " + recoveryModelName(model);
}

std::u16string checkpointAndShrink(const std::u16string& fileName) { return u"CHECKPOINT " + shrinkFile(fileName); }

std::u16string selectLogReuseWait(const std::u16string& database)
{
    return u"select log_reuse_wait_desc from sys.databases where name=" + literal(database);
}

std::u16string selectLogInfo() { return u"DBCC LOGINFO"; }

std::u16string selectLastLogBackup()
{
    return u"select last_log_backup_lsn from sys.database_recovery_status where database_id = db_id()";
}

std::u16string selectBackupHistory(const std::u16string& database)
{
    return u"select top 1 backup_set_id from msdb..backupset where database_name = " + literal(database);
}

} // namespace db::sql
