#include "cli/ReportText.h"

#include "cli/TextTable.h"
#include "cli/Texts.h"
#include "db/FixedValues.h"
#include "db/Text.h"
#include "db/texts/Report.h"

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {

using report::DatabaseReport;
using report::ServerReport;

using text::filled;
using text::utf8;

// Sizes are whole pages; shown as the window shows them.
std::string megabytes(std::int64_t bytes) { return utf8(db::texts::megabytes(bytes / db::fixed::PageBytes)); }

std::string twoDigits(int n)
{
    char out[8];
    std::snprintf(out, sizeof out, "%02d", n);
    return out;
}

std::string lastBackup(const DatabaseReport& d)
{
    if (!d.read())
        return "-";
    if (!d.lastLogBackup)
        return utf8(text::NoLogBackup);
    const db::DateTimeValue& t = *d.lastLogBackup;
    return std::to_string(t.year) + "-" + twoDigits(t.month) + "-" + twoDigits(t.day) + " " + twoDigits(t.hour) +
           ":" + twoDigits(t.minute);
}

std::string usedPercent(const DatabaseReport& d)
{
    if (!d.space)
        return "-";
    char out[16];
    std::snprintf(out, sizeof out, "%.1f%%", d.space->usedPercent);
    return out;
}

struct Row {
    const ServerReport* server;
    const DatabaseReport* database;
};

// The biggest gain first; what could not be read last, in server order.
void sortRows(std::vector<Row>& rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (a.database->read() != b.database->read())
            return a.database->read();
        if (!a.database->read())
            return false;
        return a.database->bytesFreed() > b.database->bytesFreed();
    });
}

std::vector<std::string> cells(const Row& r)
{
    const DatabaseReport& d = *r.database;
    const bool read = d.read();
    return {utf8(r.server->server),
            utf8(d.name),
            utf8(d.state),
            utf8(d.recoveryModel),
            read ? megabytes(d.logBytes()) : "-",
            usedPercent(d),
            read ? std::to_string(d.vlfs) : "-",
            d.reuseWait ? utf8(*d.reuseWait) : "-",
            lastBackup(d),
            read ? megabytes(d.bytesAfterJob()) : "-",
            read ? megabytes(d.bytesFreed()) : "-",
            reasonText(d)};
}

} // namespace

std::string reasonText(const DatabaseReport& d)
{
    if (!d.error.empty())
        return filled(text::CannotRead, {d.error});
    if (!d.read())
        return utf8(db::sameAscii(d.state, u"ONLINE") ? text::NoLogFile : text::NotOnline);
    const db::Shortfall why = d.reason();
    if (why == db::Shortfall::None)
        return filled(d.bytesFreed() > 0 ? text::ReachesTarget : text::WithinTarget, {text::targetMb()});
    const report::LogFileReport* file = d.furthestAbove();
    std::vector<std::int64_t> floorPages;
    for (const std::int64_t bytes : file->after.floorVlfBytes)
        floorPages.push_back(bytes / db::fixed::PageBytes);
    return utf8(db::texts::shortfallReason(why, d.reuseWait.value_or(u""), floorPages));
}

std::string reportTable(const std::vector<ServerReport>& servers, const Style& style)
{
    using Align = TextTable::Align;
    const auto title = [](std::u16string_view t, Align a = Align::Left) { return TextTable::Column{utf8(t), a}; };
    TextTable table({title(text::Server), title(text::Database), title(text::State), title(text::Model),
                     title(text::LogMb, Align::Right), title(text::Used, Align::Right),
                     title(text::Vlfs, Align::Right), title(text::WaitsOn), title(text::LastLogBackup),
                     title(text::AfterMb, Align::Right), title(text::FreesMb, Align::Right), title(text::Why)});
    std::vector<Row> rows;
    for (const ServerReport& s : servers)
        for (const DatabaseReport& d : s.databases)
            rows.push_back({&s, &d});
    sortRows(rows);
    for (const Row& r : rows)
        table.add(cells(r));
    std::string out = table.render([&style](const std::string& titles) { return style.bold(titles); });
    for (const ServerReport& s : servers) {
        if (!s.failed())
            continue;
        std::u16string why = s.error;
        if (const std::u16string_view hint = db::texts::connectHint(s.failure); !hint.empty())
            why.append(u" ").append(hint);  // appended: MinGW's GCC 12 sees an overlap in a concatenation at -O3
        out += style.red(filled(text::NotReported, {s.server, why})) + "\n";
    }
    return out;
}

} // namespace cli
