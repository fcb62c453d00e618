#include "sandbox/sql/Messages.h"

#include <stdexcept>
#include <string>

namespace sandbox {

namespace {

struct Entry {
    int number;
    std::uint8_t severity;
    const char16_t* text;
};

// Texts as SQL Server 2000's sysmessages has them (with %ls / %.*ls written %s).
constexpr Entry Entries[] = {
    {0, 0, u"%s"},  // PRINT
    {105, 15, u"Unclosed quotation mark before the character string '%s'."},
    {113, 15, u"Missing end comment mark '*/'."},
    {137, 15, u"Must declare the variable '%s'."},
    {148, 15, u"Incorrect time syntax in time string '%s' used with WAITFOR."},
    {156, 15, u"Incorrect syntax near the keyword '%s'."},
    {170, 15, u"Line %d: Incorrect syntax near '%s'."},
    {108, 15, u"The ORDER BY position number %d is out of range of the number of items in the select list."},
    {191, 15, u"Some part of your SQL statement is nested too deeply. Rewrite the query or break it up into smaller queries."},
    {207, 16, u"Invalid column name '%s'."},
    {208, 16, u"Invalid object name '%s'."},
    {226, 16, u"%s statement not allowed within multi-statement transaction."},
    {245, 16, u"Syntax error converting the varchar value '%s' to a column of data type %s."},
    {263, 16, u"Must specify table to select from."},
    {911, 16, u"Could not locate entry in sysdatabases for database '%s'. No entry found with that name. "
              u"Make sure that the name is entered correctly."},
    {942, 14, u"Database '%s' cannot be opened because it is offline."},
    {2526, 16, u"Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options."},
    {2528, 10, u"DBCC execution completed. If DBCC printed error messages, contact your system administrator."},
    {2812, 16, u"Could not find stored procedure '%s'."},
    {3013, 16, u"%s is terminating abnormally."},
    {3014, 10, u"BACKUP LOG successfully processed %d pages in %s seconds (%s MB/sec)."},
    {3021, 16, u"Cannot perform a backup or restore operation within a transaction."},
    {3902, 16, u"The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {3903, 16, u"The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {4035, 10, u"Processed %d pages for database '%s', file '%s' on file %d."},
    {4060, 11, u"Cannot open database requested in login '%s'. Login fails."},
    {4208, 16, u"The statement BACKUP LOG is not allowed while the recovery model is SIMPLE. "
               u"Use BACKUP DATABASE or change the recovery model using ALTER DATABASE."},
    {5701, 10, u"Changed database context to '%s'."},
    {5703, 10, u"Changed language setting to %s."},
    {8179, 16, u"Could not find prepared statement with handle %d."},
    {8985, 16, u"Could not locate file '%s' in sysfiles."},
    {9008, 10, u"Cannot shrink log file %d (%s) because all logical log files are in use."},
    {18456, 14, u"Login failed for user '%s'."},
    {50000, 16, u"%s"},  // the sandbox's own refusals
    {15010, 16, u"The database '%s' does not exist. Use sp_helpdb to show available databases."},
    {15011, 16, u"Database option '%s' does not exist."},
    {15241, 16, u"Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]"},
    {15242, 16, u"Database option '%s' is not unique."},
    {15627, 10, u"sp_dboption command failed."},
};

} // namespace

std::u16string toU16(long long number)
{
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

Message makeMessage(int number, std::initializer_list<std::u16string_view> args, std::uint16_t line)
{
    for (const Entry& e : Entries) {
        if (e.number != number)
            continue;
        Message m;
        m.number = number;
        m.severity = e.severity;
        m.state = 1;
        m.line = line;
        const std::u16string_view format = e.text;
        auto next = args.begin();
        for (std::size_t i = 0; i < format.size(); ++i) {
            if (format[i] == u'%' && i + 1 < format.size() && (format[i + 1] == u's' || format[i + 1] == u'd')) {
                if (next != args.end())
                    m.text += *next++;
                ++i;
            } else {
                m.text += format[i];
            }
        }
        return m;
    }
    throw std::out_of_range("no such message: " + std::to_string(number));
}

} // namespace sandbox
