// Learn's "Reserved Keywords (Transact-SQL)" lists, by generation: the 2000
// list (which still had DUMMY), then what compatibility levels 90 (2005),
// 100 (2008) and 110 (2012) added (Learn's ALTER DATABASE compatibility level
// page; SECURITYAUDIT from the 2005 list). WITHIN GROUP is two words and
// reserves neither alone.
#include "sandbox/sql/Reserved.h"

#include "sandbox/sql/Names.h"

#include <algorithm>
#include <iterator>

namespace sandbox::sql {

namespace {

struct Word {
    std::u16string_view word;
    Generation since = Generation::Sql2000;
    Generation until = Generation::Sql2022;  // the last generation that reserves it
};

constexpr Generation G2005 = Generation::Sql2005, G2008 = Generation::Sql2008, G2012 = Generation::Sql2012;

constexpr Word Words[] = {
    {u"ADD"}, {u"ALL"}, {u"ALTER"}, {u"AND"}, {u"ANY"}, {u"AS"}, {u"ASC"}, {u"AUTHORIZATION"}, {u"BACKUP"},
    {u"BEGIN"}, {u"BETWEEN"}, {u"BREAK"}, {u"BROWSE"}, {u"BULK"}, {u"BY"}, {u"CASCADE"}, {u"CASE"}, {u"CHECK"},
    {u"CHECKPOINT"}, {u"CLOSE"}, {u"CLUSTERED"}, {u"COALESCE"}, {u"COLLATE"}, {u"COLUMN"}, {u"COMMIT"},
    {u"COMPUTE"}, {u"CONSTRAINT"}, {u"CONTAINS"}, {u"CONTAINSTABLE"}, {u"CONTINUE"}, {u"CONVERT"}, {u"CREATE"},
    {u"CROSS"}, {u"CURRENT"}, {u"CURRENT_DATE"}, {u"CURRENT_TIME"}, {u"CURRENT_TIMESTAMP"}, {u"CURRENT_USER"},
    {u"CURSOR"}, {u"DATABASE"}, {u"DBCC"}, {u"DEALLOCATE"}, {u"DECLARE"}, {u"DEFAULT"}, {u"DELETE"}, {u"DENY"},
    {u"DESC"}, {u"DISK"}, {u"DISTINCT"}, {u"DISTRIBUTED"}, {u"DOUBLE"}, {u"DROP"}, {u"DUMMY", Generation::Sql2000,
    Generation::Sql2000}, {u"DUMP"}, {u"ELSE"}, {u"END"}, {u"ERRLVL"}, {u"ESCAPE"}, {u"EXCEPT"}, {u"EXEC"},
    {u"EXECUTE"}, {u"EXISTS"}, {u"EXIT"}, {u"EXTERNAL", G2005}, {u"FETCH"}, {u"FILE"}, {u"FILLFACTOR"}, {u"FOR"},
    {u"FOREIGN"}, {u"FREETEXT"}, {u"FREETEXTTABLE"}, {u"FROM"}, {u"FULL"}, {u"FUNCTION"}, {u"GOTO"}, {u"GRANT"},
    {u"GROUP"}, {u"HAVING"}, {u"HOLDLOCK"}, {u"IDENTITY"}, {u"IDENTITY_INSERT"}, {u"IDENTITYCOL"}, {u"IF"},
    {u"IN"}, {u"INDEX"}, {u"INNER"}, {u"INSERT"}, {u"INTERSECT"}, {u"INTO"}, {u"IS"}, {u"JOIN"}, {u"KEY"},
    {u"KILL"}, {u"LEFT"}, {u"LIKE"}, {u"LINENO"}, {u"LOAD"}, {u"MERGE", G2008}, {u"NATIONAL"}, {u"NOCHECK"},
    {u"NONCLUSTERED"}, {u"NOT"}, {u"NULL"}, {u"NULLIF"}, {u"OF"}, {u"OFF"}, {u"OFFSETS"}, {u"ON"}, {u"OPEN"},
    {u"OPENDATASOURCE"}, {u"OPENQUERY"}, {u"OPENROWSET"}, {u"OPENXML"}, {u"OPTION"}, {u"OR"}, {u"ORDER"},
    {u"OUTER"}, {u"OVER"}, {u"PERCENT"}, {u"PIVOT", G2005}, {u"PLAN"}, {u"PRECISION"}, {u"PRIMARY"}, {u"PRINT"},
    {u"PROC"}, {u"PROCEDURE"}, {u"PUBLIC"}, {u"RAISERROR"}, {u"READ"}, {u"READTEXT"}, {u"RECONFIGURE"},
    {u"REFERENCES"}, {u"REPLICATION"}, {u"RESTORE"}, {u"RESTRICT"}, {u"RETURN"}, {u"REVERT", G2005}, {u"REVOKE"},
    {u"RIGHT"}, {u"ROLLBACK"}, {u"ROWCOUNT"}, {u"ROWGUIDCOL"}, {u"RULE"}, {u"SAVE"}, {u"SCHEMA"},
    {u"SECURITYAUDIT", G2005}, {u"SELECT"}, {u"SEMANTICKEYPHRASETABLE", G2012},
    {u"SEMANTICSIMILARITYDETAILSTABLE", G2012}, {u"SEMANTICSIMILARITYTABLE", G2012}, {u"SESSION_USER"}, {u"SET"},
    {u"SETUSER"}, {u"SHUTDOWN"}, {u"SOME"}, {u"STATISTICS"}, {u"SYSTEM_USER"}, {u"TABLE"}, {u"TABLESAMPLE", G2005},
    {u"TEXTSIZE"}, {u"THEN"}, {u"TO"}, {u"TOP"}, {u"TRAN"}, {u"TRANSACTION"}, {u"TRIGGER"}, {u"TRUNCATE"},
    {u"TRY_CONVERT", G2012}, {u"TSEQUAL"}, {u"UNION"}, {u"UNIQUE"}, {u"UNPIVOT", G2005}, {u"UPDATE"},
    {u"UPDATETEXT"}, {u"USE"}, {u"USER"}, {u"VALUES"}, {u"VARYING"}, {u"VIEW"}, {u"WAITFOR"}, {u"WHEN"},
    {u"WHERE"}, {u"WHILE"}, {u"WITH"}, {u"WRITETEXT"},
};

} // namespace

bool isReservedWord(std::u16string_view word, Generation g)
{
    return std::any_of(std::begin(Words), std::end(Words), [&](const Word& w) {
        return w.since <= g && g <= w.until && equalsIgnoreCase(word, w.word);
    });
}

} // namespace sandbox::sql
