#include "sandbox/sql/Messages.h"

#include <stdexcept>
#include <string>

namespace sandbox {

namespace {

struct Entry {
    int number;
    std::uint8_t severity;
    const char16_t* text;
    Generation since = Generation::Sql2000;  // the wording from this generation on
    int renumbered = 0;                      // the number it goes by from then, if another
    std::uint8_t state = 0;                  // the state it is raised with, if not the caller's
};

// Texts as sysmessages has them (%ls and %.*ls written %s; %_ skips an
// argument that this wording does not use). A later entry for the same
// number is its wording from `since` on.
constexpr Entry Entries[] = {
    {0, 0, u"%s"},  // PRINT
    {105, 15, u"Unclosed quotation mark before the character string '%s'."},
    {105, 15, u"Unclosed quotation mark after the character string '%s'.", Generation::Sql2005},
    {108, 15, u"The ORDER BY position number %d is out of range of the number of items in the select list."},
    {113, 15, u"Missing end comment mark '*/'."},
    {137, 15, u"Must declare the variable '%s'."},
    {137, 15, u"Must declare the scalar variable \"%s\".", Generation::Sql2005},
    {148, 15, u"Incorrect time syntax in time string '%s' used with WAITFOR."},
    {155, 15, u"'%s' is not a recognized %s option."},
    {156, 15, u"Incorrect syntax near the keyword '%s'."},
    {170, 15, u"Line %d: Incorrect syntax near '%s'."},
    {170, 15, u"%_Incorrect syntax near '%s'.", Generation::Sql2005, 102},
    {174, 15, u"The %s function requires %d argument(s)."},
    {191, 15, u"Some part of your SQL statement is nested too deeply. Rewrite the query or break it up into smaller queries."},
    {195, 15, u"'%s' is not a recognized function name."},
    {195, 15, u"'%s' is not a recognized built-in function name.", Generation::Sql2005},
    {207, 16, u"Invalid column name '%s'."},
    {208, 16, u"Invalid object name '%s'."},
    {215, 16, u"Parameters supplied for object '%s' which is not a function. If the parameters are intended as a "
              u"table hint, a WITH keyword is required."},
    {216, 16, u"Parameters were not supplied for the function '%s'."},
    {226, 16, u"%s statement not allowed within multi-statement transaction."},
    {245, 16, u"Syntax error converting the %s value '%s' to a column of data type %s."},
    {245, 16, u"Conversion failed when converting the %s value '%s' to data type %s.", Generation::Sql2005},
    {263, 16, u"Must specify table to select from."},
    {911, 16, u"Could not locate entry in sysdatabases for database '%s'. No entry found with that name. "
              u"Make sure that the name is entered correctly."},
    {911, 16, u"Database '%s' does not exist. Make sure that the name is entered correctly.", Generation::Sql2005},
    {924, 14, u"Database '%s' is already open and can only have one user at a time."},
    {926, 14, u"Database '%s' cannot be opened. It has been marked SUSPECT by recovery. See the SQL Server errorlog "
              u"for more information."},
    {927, 14, u"Database '%s' cannot be opened. It is in the middle of a restore."},
    {942, 14, u"Database '%s' cannot be opened because it is offline."},
    {1468, 16, u"The operation cannot be performed on database \"%s\" because it is involved in a database mirroring "
               u"session."},
    {1468, 16, u"The operation cannot be performed on database \"%s\" because it is involved in a database mirroring "
               u"session or an availability group. Some operations are not allowed on a database that is participating "
               u"in a database mirroring session or in an availability group.", Generation::Sql2012},
    {2526, 16, u"Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options."},
    {2528, 10, u"DBCC execution completed. If DBCC printed error messages, contact your system administrator."},
    {2812, 16, u"Could not find stored procedure '%s'."},
    {2812, 16, u"Could not find stored procedure '%s'.", Generation::Sql2005, 0, 62},
    {3013, 16, u"%s is terminating abnormally."},
    {3014, 10, u"BACKUP LOG successfully processed %d pages in %s seconds (%s MB/sec)."},
    {3021, 16, u"Cannot perform a backup or restore operation within a transaction."},
    {3147, 16, u"Backup and restore operations are not allowed on database tempdb."},
    {3902, 16, u"The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {3903, 16, u"The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {4035, 10, u"Processed %d pages for database '%s', file '%s' on file %d."},
    {4060, 11, u"Cannot open database requested in login '%s'. Login fails."},
    {4060, 11, u"Cannot open database \"%s\" requested by the login. The login failed.", Generation::Sql2005},
    {4208, 16, u"The statement BACKUP LOG is not allowed while the recovery model is SIMPLE. "
               u"Use BACKUP DATABASE or change the recovery model using ALTER DATABASE."},
    {4214, 16, u"BACKUP LOG cannot be performed because there is no current database backup."},
    {4212, 16, u"Cannot back up the log of the master database. Use BACKUP DATABASE instead."},
    {5011, 14, u"User does not have permission to alter database '%s', the database does not exist, or the database "
               u"is not in a state that allows access checks."},
    {5058, 16, u"Option '%s' cannot be set in database '%s'."},
    {5069, 16, u"ALTER DATABASE statement failed."},
    {5701, 10, u"Changed database context to '%s'."},
    {5703, 10, u"Changed language setting to %s."},
    {8115, 16, u"Arithmetic overflow error converting expression to data type %s."},
    {8134, 16, u"Divide by zero error encountered."},
    {8179, 16, u"Could not find prepared statement with handle %d."},
    {8985, 16, u"Could not locate file '%s' in sysfiles."},
    {8985, 16, u"Could not locate file '%s' for database '%s' in sys.database_files. The file either does not exist, "
               u"or was dropped.", Generation::Sql2005},
    // 9006, 9007 and 9009 as the 2016 tables word them; 2000's are not confirmed.
    {9006, 10, u"Cannot shrink log file %d (%s) because total number of logical log files cannot be fewer than %d."},
    {9007, 10, u"Cannot shrink log file %d (%s) because requested size (%dKB) is larger than the start of the last "
               u"logical log file."},
    {9008, 10, u"Cannot shrink log file %d (%s) because all logical log files are in use."},
    {9008, 10, u"Cannot shrink log file %d (%s) because the logical log file located at the end of the file is in use.",
     Generation::Sql2008},
    {9009, 10, u"Cannot shrink log file %d (%s) because of minimum log space required."},
    {15010, 16, u"The database '%s' does not exist. Use sp_helpdb to show available databases."},
    {15010, 16, u"The database '%s' does not exist. Supply a valid database name. To see available databases, use "
                u"sys.databases.", Generation::Sql2005},
    {15011, 16, u"Database option '%s' does not exist."},
    {15241, 16, u"Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]"},
    {15242, 16, u"Database option '%s' is not unique."},
    {15627, 10, u"sp_dboption command failed."},
    {18456, 14, u"Login failed for user '%s'."},
    {50000, 16, u"%s"},  // the sandbox's own refusals
};

const Entry& entryFor(int number, Generation g)
{
    const Entry* found = nullptr;
    for (const Entry& e : Entries)
        if (e.number == number && e.since <= g)
            found = &e;
    if (!found)
        throw std::out_of_range("no such message: " + std::to_string(number));
    return *found;
}

std::u16string render(std::u16string_view format, const std::vector<std::u16string>& args)
{
    std::u16string text;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char16_t c = i + 1 < format.size() ? format[i + 1] : u'\0';
        if (format[i] == u'%' && (c == u's' || c == u'd' || c == u'_')) {
            if (next != args.end()) {
                if (c != u'_')
                    text += *next;
                ++next;
            }
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}

} // namespace

std::u16string toU16(long long number)
{
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

Message makeMessage(int number, std::initializer_list<std::u16string_view> args, std::uint16_t line)
{
    Message m;
    m.number = number;
    m.state = 1;
    m.line = line;
    m.fromTable = true;
    for (std::u16string_view a : args)
        m.args.emplace_back(a);
    m = localized(std::move(m), Generation::Sql2000);
    m.fromTable = true;  // still to be worded for the session's generation
    return m;
}

Message localized(Message m, Generation g)
{
    if (!m.fromTable)
        return m;
    const Entry& e = entryFor(m.number, g);
    if (e.renumbered != 0)
        m.number = e.renumbered;
    m.severity = e.severity;
    if (e.state != 0)
        m.state = e.state;
    m.text = render(e.text, m.args);
    m.fromTable = false;  // worded once, for one generation
    return m;
}

} // namespace sandbox
