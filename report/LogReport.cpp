#include "report/LogReport.h"

#include "db/FixedValues.h"
#include "db/Text.h"

#include <algorithm>
#include <string>

namespace report {

std::int64_t DatabaseReport::logBytes() const
{
    std::int64_t total = 0;
    for (const LogFileReport& f : logFiles)
        total += f.sizeBytes;
    return total;
}

std::int64_t DatabaseReport::bytesAfterJob() const
{
    std::int64_t total = 0;
    for (const LogFileReport& f : logFiles)
        total += f.after.sizeBytes;
    return total;
}

const LogFileReport* DatabaseReport::furthestAbove() const
{
    const LogFileReport* largest = nullptr;
    for (const LogFileReport& f : logFiles)
        if (f.after.stop != db::LogShortfall::None && (!largest || f.after.sizeBytes > largest->after.sizeBytes))
            largest = &f;
    return largest;
}

db::Shortfall DatabaseReport::reason() const
{
    const LogFileReport* largest = furthestAbove();
    if (!largest)
        return db::Shortfall::None;
    return db::whyLogStays(largest->after.stop, reuseWait && holdsLog(*reuseWait));
}

// What holds nothing (db/FixedValues.h), and LOG_BACKUP, which the job's
// truncation stands in for: every other value names what holds the log.
bool holdsLog(const std::u16string& reuseWait)
{
    const std::u16string wait = db::Trim(reuseWait);
    return !db::fixed::isRoutineReuseWait(wait) && wait != u"LOG_BACKUP";
}

std::u16string generationName(const db::ServerVersion& version)
{
    struct Known {
        int major, minor;
        const char16_t* name;
    };
    static constexpr Known names[] = {{8, 0, u"2000"},  {9, 0, u"2005"},  {10, 0, u"2008"}, {10, 50, u"2008 R2"},
                                      {11, 0, u"2012"}, {12, 0, u"2014"}, {13, 0, u"2016"}, {14, 0, u"2017"},
                                      {15, 0, u"2019"}, {16, 0, u"2022"}};
    for (const Known& k : names)
        if (k.major == version.major && k.minor == version.minor)
            return k.name;
    return db::asciiToUtf16(std::to_string(version.major) + "." + std::to_string(version.minor));
}

} // namespace report
