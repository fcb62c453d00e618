#include "report/LogReport.h"

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

Reason DatabaseReport::reason() const
{
    const LogFileReport* largest = nullptr;
    for (const LogFileReport& f : logFiles)
        if (f.after.stop != db::ForecastStop::Reached && (!largest || f.after.sizeBytes > largest->after.sizeBytes))
            largest = &f;
    if (!largest)
        return Reason::None;
    switch (largest->after.stop) {
    case db::ForecastStop::VlfBoundary: return Reason::VlfBoundary;
    case db::ForecastStop::TwoVlfFloor: return Reason::TwoVlfFloor;
    case db::ForecastStop::InUse: return reuseWait && holdsLog(*reuseWait) ? Reason::Held : Reason::ActiveAtEnd;
    case db::ForecastStop::Reached: break;
    }
    return Reason::None;
}

// NOTHING and the two the job itself clears (a checkpoint, a log backup the
// truncation stands in for) hold nothing; OTHER_TRANSIENT "is currently not
// used" (Learn, "The transaction log"). Every other value names what holds it.
bool holdsLog(const std::u16string& reuseWait)
{
    for (const char16_t* none : {u"", u"NOTHING", u"CHECKPOINT", u"LOG_BACKUP", u"OTHER_TRANSIENT"})
        if (db::sameAscii(db::Trim(reuseWait), none))
            return false;
    return true;
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
