#include "sandbox/sql/Messages.h"

#include <stdexcept>
#include <string>

namespace sandbox {

namespace {

struct Entry {
    int number;
    std::uint8_t severity;
    const char16_t* text;     // us_english (sys.messages language_id 1033)
    const char16_t* chinese;  // 简体中文 (2052)
    Generation since = Generation::Sql2000;  // the wording from this generation on
    int renumbered = 0;                      // the number it goes by from then, if another
    std::uint8_t state = 0;                  // the state it is raised with, if not the caller's
};

// Texts as sys.messages has them (%ls and %.*ls written %s; %_ skips an
// argument that this wording does not use; %2! takes the second argument,
// where a language orders them otherwise). A later entry for the same
// number is its wording from `since` on, in both languages. Where each
// Chinese text comes from, or that it is the sandbox's own translation:
// sandbox/README.md, "Languages".
constexpr Entry Entries[] = {
    {0, 0, u"%s", u"%s"},  // PRINT
    {105, 15, u"Unclosed quotation mark before the character string '%s'.", u"字符串 '%s' 之前有未闭合的引号。"},
    {105, 15, u"Unclosed quotation mark after the character string '%s'.", u"字符串 '%s' 后的引号不完整。",
     Generation::Sql2005},
    {108, 15, u"The ORDER BY position number %d is out of range of the number of items in the select list.",
     u"ORDER BY 位置号 %d 超出了选择列表中项数的范围。"},
    {113, 15, u"Missing end comment mark '*/'.", u"缺少注释结束标记 '*/'。"},
    {137, 15, u"Must declare the variable '%s'.", u"必须声明变量 '%s'。"},
    {137, 15, u"Must declare the scalar variable \"%s\".", u"必须声明标量变量 \"%s\"。", Generation::Sql2005},
    {148, 15, u"Incorrect time syntax in time string '%s' used with WAITFOR.",
     u"与 WAITFOR 一起使用的时间字符串 '%s' 中的时间语法不正确。"},
    {155, 15, u"'%s' is not a recognized %s option.", u"'%s' 不是可以识别的 %s 选项。"},
    {156, 15, u"Incorrect syntax near the keyword '%s'.", u"关键字 '%s' 附近有语法错误。"},
    {170, 15, u"Line %d: Incorrect syntax near '%s'.", u"第 %d 行: '%s' 附近有语法错误。"},
    {170, 15, u"%_Incorrect syntax near '%s'.", u"%_'%s' 附近有语法错误。", Generation::Sql2005, 102},
    {174, 15, u"The %s function requires %d argument(s).", u"%s 函数要求有 %d 个参数。"},
    {191, 15, u"Some part of your SQL statement is nested too deeply. Rewrite the query or break it up into smaller queries.",
     u"SQL 语句的某个部分嵌套过深。请重写查询或将其分解为若干较小的查询。"},
    {195, 15, u"'%s' is not a recognized function name.", u"'%s' 不是可以识别的函数名。"},
    {195, 15, u"'%s' is not a recognized built-in function name.", u"'%s' 不是可以识别的 内置函数名称。",
     Generation::Sql2005},
    {207, 16, u"Invalid column name '%s'.", u"列名 '%s' 无效。"},
    {208, 16, u"Invalid object name '%s'.", u"对象名 '%s' 无效。"},
    {215, 16, u"Parameters supplied for object '%s' which is not a function. If the parameters are intended as a "
              u"table hint, a WITH keyword is required.",
     u"为对象 '%s' 提供了参数，但该对象不是函数。如果这些参数要用作表提示，则需要使用 WITH 关键字。"},
    {216, 16, u"Parameters were not supplied for the function '%s'.", u"没有为函数 '%s' 提供参数。"},
    {226, 16, u"%s statement not allowed within multi-statement transaction.", u"在多语句事务内不允许使用 %s 语句。"},
    {245, 16, u"Syntax error converting the %s value '%s' to a column of data type %s.",
     u"将 %s 值 '%s' 转换为数据类型为 %s 的列时发生语法错误。"},
    {245, 16, u"Conversion failed when converting the %s value '%s' to data type %s.",
     u"在将 %s 值 '%s' 转换成数据类型 %s 时失败。", Generation::Sql2005},
    {263, 16, u"Must specify table to select from.", u"必须指定要从中进行选择的表。"},
    {911, 16, u"Could not locate entry in sysdatabases for database '%s'. No entry found with that name. "
              u"Make sure that the name is entered correctly.",
     u"未能在 sysdatabases 中找到数据库 '%s' 所对应的条目。没有找到具有该名称的条目。请确保正确地输入了该名称。"},
    {911, 16, u"Database '%s' does not exist. Make sure that the name is entered correctly.",
     u"数据库 '%s' 不存在。请确保正确地输入了该名称。", Generation::Sql2005},
    {924, 14, u"Database '%s' is already open and can only have one user at a time.",
     u"数据库 '%s' 已打开，并且一次只能有一个用户。"},
    {926, 14, u"Database '%s' cannot be opened. It has been marked SUSPECT by recovery. See the SQL Server errorlog "
              u"for more information.",
     u"无法打开数据库 '%s'。恢复操作已将该数据库标记为 SUSPECT。有关详细信息，请参阅 SQL Server 错误日志。"},
    {927, 14, u"Database '%s' cannot be opened. It is in the middle of a restore.",
     u"无法打开数据库 '%s'。该数据库正处于还原过程中。"},
    {942, 14, u"Database '%s' cannot be opened because it is offline.", u"无法打开数据库 '%s'，因为该数据库处于脱机状态。"},
    {1468, 16, u"The operation cannot be performed on database \"%s\" because it is involved in a database mirroring "
               u"session.",
     u"无法对数据库 \"%s\" 执行该操作，因为它正参与数据库镜像会话。"},
    {1468, 16, u"The operation cannot be performed on database \"%s\" because it is involved in a database mirroring "
               u"session or an availability group. Some operations are not allowed on a database that is participating "
               u"in a database mirroring session or in an availability group.",
     u"无法对数据库 \"%s\" 执行该操作，因为它正参与数据库镜像会话或可用性组。对于参与数据库镜像会话或可用性组的数据库，"
     u"不允许执行某些操作。",
     Generation::Sql2012},
    {2526, 16, u"Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options.",
     u"DBCC 语句不正确。请查看文档，了解正确的 DBCC 语法和选项。"},
    {2528, 10, u"DBCC execution completed. If DBCC printed error messages, contact your system administrator.",
     u"DBCC 执行完毕。如果 DBCC 输出了错误信息，请与系统管理员联系。"},
    {2812, 16, u"Could not find stored procedure '%s'.", u"找不到存储过程 '%s'。"},
    {2812, 16, u"Could not find stored procedure '%s'.", u"找不到存储过程 '%s'。", Generation::Sql2005, 0, 62},
    {3013, 16, u"%s is terminating abnormally.", u"%s 正在异常终止。"},
    {3014, 10, u"BACKUP LOG successfully processed %d pages in %s seconds (%s MB/sec).",
     u"BACKUP LOG 成功处理了 %d 页，花费 %s 秒(%s MB/秒)。"},
    {3021, 16, u"Cannot perform a backup or restore operation within a transaction.", u"无法在事务内执行备份或还原操作。"},
    {3147, 16, u"Backup and restore operations are not allowed on database tempdb.",
     u"不允许对数据库 tempdb 执行备份和还原操作。"},
    {3902, 16, u"The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.",
     u"COMMIT TRANSACTION 请求没有对应的 BEGIN TRANSACTION。"},
    {3903, 16, u"The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.",
     u"ROLLBACK TRANSACTION 请求没有对应的 BEGIN TRANSACTION。"},
    {4035, 10, u"Processed %d pages for database '%s', file '%s' on file %d.",
     u"已为数据库 '%2!'，文件 '%3!' (位于文件 %4! 上)处理了 %1! 页。"},
    {4060, 11, u"Cannot open database requested in login '%s'. Login fails.", u"无法打开登录 '%s' 中请求的数据库。登录失败。"},
    {4060, 11, u"Cannot open database \"%s\" requested by the login. The login failed.",
     u"无法打开登录所请求的数据库 \"%s\"。登录失败。", Generation::Sql2005},
    {4208, 16, u"The statement BACKUP LOG is not allowed while the recovery model is SIMPLE. "
               u"Use BACKUP DATABASE or change the recovery model using ALTER DATABASE.",
     u"当恢复模式为 SIMPLE 时，不允许使用 BACKUP LOG 语句。请使用 BACKUP DATABASE 或用 ALTER DATABASE 更改恢复模式。"},
    {4214, 16, u"BACKUP LOG cannot be performed because there is no current database backup.",
     u"无法执行 BACKUP LOG，因为当前没有数据库备份。"},
    {4212, 16, u"Cannot back up the log of the master database. Use BACKUP DATABASE instead.",
     u"无法备份 master 数据库的日志。请改用 BACKUP DATABASE。"},
    {5011, 14, u"User does not have permission to alter database '%s', the database does not exist, or the database "
               u"is not in a state that allows access checks.",
     u"用户没有更改数据库 '%s' 的权限，该数据库不存在，或者该数据库未处于允许访问检查的状态。"},
    {5058, 16, u"Option '%s' cannot be set in database '%s'.", u"不能在数据库 '%2!' 中设置选项 '%1!'。"},
    {5069, 16, u"ALTER DATABASE statement failed.", u"ALTER DATABASE 语句失败。"},
    {5701, 10, u"Changed database context to '%s'.", u"已将数据库上下文更改为 '%s'。"},
    {5703, 10, u"Changed language setting to %s.", u"已将语言设置更改为 %s。"},
    {8115, 16, u"Arithmetic overflow error converting expression to data type %s.",
     u"将 expression 转换为数据类型 %s 时出现算术溢出错误。"},
    {8134, 16, u"Divide by zero error encountered.", u"遇到以零作除数错误。"},
    {8179, 16, u"Could not find prepared statement with handle %d.", u"找不到句柄为 %d 的预定义语句。"},
    {8985, 16, u"Could not locate file '%s' in sysfiles.", u"在 sysfiles 中找不到文件 '%s'。"},
    {8985, 16, u"Could not locate file '%s' for database '%s' in sys.database_files. The file either does not exist, "
               u"or was dropped.",
     u"在 sys.database_files 中找不到数据库 '%2!' 的文件 '%1!'。该文件不存在或者已被删除。", Generation::Sql2005},
    // 9006, 9007 and 9009 as the 2016 tables word them; 2000's are not confirmed.
    {9006, 10, u"Cannot shrink log file %d (%s) because total number of logical log files cannot be fewer than %d.",
     u"无法收缩日志文件 %d (%s)，因为逻辑日志文件的总数不能少于 %d 个。"},
    {9007, 10, u"Cannot shrink log file %d (%s) because requested size (%dKB) is larger than the start of the last "
               u"logical log file.",
     u"无法收缩日志文件 %d (%s)，因为请求的大小(%dKB)大于最后一个逻辑日志文件的起始位置。"},
    {9008, 10, u"Cannot shrink log file %d (%s) because all logical log files are in use.",
     u"无法收缩日志文件 %d (%s)，因为所有逻辑日志文件都在使用中。"},
    {9008, 10, u"Cannot shrink log file %d (%s) because the logical log file located at the end of the file is in use.",
     u"无法收缩日志文件 %d (%s)，因为位于文件末尾的逻辑日志文件正在使用中。", Generation::Sql2008},
    {9009, 10, u"Cannot shrink log file %d (%s) because of minimum log space required.",
     u"无法收缩日志文件 %d (%s)，因为需要保留最小日志空间。"},
    {15010, 16, u"The database '%s' does not exist. Use sp_helpdb to show available databases.",
     u"数据库 '%s' 不存在。请使用 sp_helpdb 显示可用的数据库。"},
    {15010, 16, u"The database '%s' does not exist. Supply a valid database name. To see available databases, use "
                u"sys.databases.",
     u"数据库 '%s' 不存在。请提供有效的数据库名称。若要查看可用的数据库，请使用 sys.databases。", Generation::Sql2005},
    {15011, 16, u"Database option '%s' does not exist.", u"数据库选项 '%s' 不存在。"},
    {15241, 16, u"Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]",
     u"用法: sp_dboption [dbname [,optname [,'true' | 'false']]]"},
    {15242, 16, u"Database option '%s' is not unique.", u"数据库选项 '%s' 不唯一。"},
    {15627, 10, u"sp_dboption command failed.", u"sp_dboption 命令失败。"},
    {18456, 14, u"Login failed for user '%s'.", u"用户 '%s' 登录失败。"},
    {50000, 16, u"%s", u"%s"},  // the sandbox's own refusals
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

// "%2!": the argument by its position, as a language that orders them
// otherwise writes it; the number's digits and the '!' are consumed.
bool positional(std::u16string_view format, std::size_t& i, const std::vector<std::u16string>& args,
                std::u16string& text)
{
    std::size_t j = i + 1;
    std::size_t n = 0;
    while (j < format.size() && format[j] >= u'0' && format[j] <= u'9')
        n = n * 10 + static_cast<std::size_t>(format[j++] - u'0');
    if (j == i + 1 || j >= format.size() || format[j] != u'!')
        return false;
    if (n >= 1 && n <= args.size())
        text += args[n - 1];
    i = j;
    return true;
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
        } else if (format[i] != u'%' || !positional(format, i, args, text)) {
            text += format[i];
        }
    }
    return text;
}

} // namespace

std::vector<int> messageNumbers()
{
    std::vector<int> numbers;
    for (const Entry& e : Entries)
        if (numbers.empty() || numbers.back() != e.number)
            numbers.push_back(e.number);
    return numbers;
}

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

Message localized(Message m, Generation g, Language language)
{
    if (!m.fromTable)
        return m;
    const Entry& e = entryFor(m.number, g);
    if (e.renumbered != 0)
        m.number = e.renumbered;
    m.severity = e.severity;
    if (e.state != 0)
        m.state = e.state;
    m.text = render(language == Language::SimplifiedChinese ? e.chinese : e.text, m.args);
    m.fromTable = false;  // worded once, for one generation
    return m;
}

} // namespace sandbox
