#include "SqlText.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace db::sql {

namespace {

// SQL Server 2000's reserved keywords (Books Online, "Reserved Keywords"),
// upper case and sorted for binary search.
constexpr std::string_view ReservedWords[] = {
    "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "AUTHORIZATION", "BACKUP", "BEGIN", "BETWEEN",
    "BREAK", "BROWSE", "BULK", "BY", "CASCADE", "CASE", "CHECK", "CHECKPOINT", "CLOSE", "CLUSTERED",
    "COALESCE", "COLLATE", "COLUMN", "COMMIT", "COMPUTE", "CONSTRAINT", "CONTAINS", "CONTAINSTABLE",
    "CONTINUE", "CONVERT", "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME",
    "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATABASE", "DBCC", "DEALLOCATE", "DECLARE",
    "DEFAULT", "DELETE", "DENY", "DESC", "DISK", "DISTINCT", "DISTRIBUTED", "DOUBLE", "DROP", "DUMMY",
    "DUMP", "ELSE", "END", "ERRLVL", "ESCAPE", "EXCEPT", "EXEC", "EXECUTE", "EXISTS", "EXIT", "FETCH",
    "FILE", "FILLFACTOR", "FOR", "FOREIGN", "FREETEXT", "FREETEXTTABLE", "FROM", "FULL", "FUNCTION",
    "GOTO", "GRANT", "GROUP", "HAVING", "HOLDLOCK", "IDENTITY", "IDENTITYCOL", "IDENTITY_INSERT", "IF",
    "IN", "INDEX", "INNER", "INSERT", "INTERSECT", "INTO", "IS", "JOIN", "KEY", "KILL", "LEFT", "LIKE",
    "LINENO", "LOAD", "NATIONAL", "NOCHECK", "NONCLUSTERED", "NOT", "NULL", "NULLIF", "OF", "OFF",
    "OFFSETS", "ON", "OPEN", "OPENDATASOURCE", "OPENQUERY", "OPENROWSET", "OPENXML", "OPTION", "OR",
    "ORDER", "OUTER", "OVER", "PERCENT", "PLAN", "PRECISION", "PRIMARY", "PRINT", "PROC", "PROCEDURE",
    "PUBLIC", "RAISERROR", "READ", "READTEXT", "RECONFIGURE", "REFERENCES", "REPLICATION", "RESTORE",
    "RESTRICT", "RETURN", "REVOKE", "RIGHT", "ROLLBACK", "ROWCOUNT", "ROWGUIDCOL", "RULE", "SAVE",
    "SCHEMA", "SELECT", "SESSION_USER", "SET", "SETUSER", "SHUTDOWN", "SOME", "STATISTICS",
    "SYSTEM_USER", "TABLE", "TEXTSIZE", "THEN", "TO", "TOP", "TRAN", "TRANSACTION", "TRIGGER",
    "TRUNCATE", "TSEQUAL", "UNION", "UNIQUE", "UPDATE", "UPDATETEXT", "USE", "USER", "VALUES",
    "VARYING", "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE", "WITH", "WRITETEXT",
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
    if (word.empty() || word.size() > 32)
        return false;
    std::string upper;
    for (char16_t c : word) {
        if (c >= 0x80)
            return false;
        char a = static_cast<char>(c);
        upper += (a >= 'a' && a <= 'z') ? static_cast<char>(a - 32) : a;
    }
    return std::binary_search(std::begin(ReservedWords), std::end(ReservedWords), std::string_view(upper));
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

std::u16string selectDatabases() { return u"Select * From sysdatabases order by [DbId]"; }

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

std::u16string truncateAndShrink(const std::u16string& database, const std::u16string& fileName)
{
    return u"BACKUP LOG " + ident(database) + u" WITH TRUNCATE_ONLY DBCC SHRINKFILE (" + ident(fileName) +
           u", 10)";
}

} // namespace db::sql
