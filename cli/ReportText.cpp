#include "cli/ReportText.h"

#include "cli/TextTable.h"
#include "db/SqlText.h"
#include "db/Text.h"

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {

using report::DatabaseReport;
using report::ServerReport;

std::string utf8(const std::u16string& text) { return db::toUtf8(text); }

std::string twoDigits(int n)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

std::string lastBackup(const DatabaseReport& d)
{
    if (!d.read())
        return "-";
    if (!d.lastLogBackup)
        return "none";
    const db::DateTimeValue& t = *d.lastLogBackup;
    return std::to_string(t.year) + "-" + twoDigits(t.month) + "-" + twoDigits(t.day) + " " + twoDigits(t.hour) +
           ":" + twoDigits(t.minute);
}

std::string usedPercent(const DatabaseReport& d)
{
    if (!d.space)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", d.space->usedPercent);
    return text;
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

std::string megabytes(std::int64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string reasonText(const DatabaseReport& d)
{
    if (!d.error.empty())
        return "cannot be read: " + utf8(d.error);
    if (!d.read())
        return db::sameAscii(d.state, u"ONLINE") ? "no log file" : "not online";
    const std::string target = std::to_string(db::sql::ShrinkTargetMb) + " MB";
    switch (d.reason()) {
    case report::Reason::None: return (d.bytesFreed() > 0 ? "reaches " : "at most ") + target;
    case report::Reason::VlfBoundary: return "first VLF boundary above " + target;
    case report::Reason::ActiveAtEnd: return "active log in the last VLF: again after a checkpoint";
    case report::Reason::Held: return "held: " + utf8(d.reuseWait.value_or(u""));
    case report::Reason::TwoVlfFloor: return "a log keeps two VLFs";
    }
    return {};
}

std::string reportTable(const std::vector<ServerReport>& servers, const Style& style)
{
    using Align = TextTable::Align;
    TextTable table({{"SERVER"}, {"DATABASE"}, {"STATE"}, {"MODEL"}, {"LOG MB", Align::Right},
                     {"USED", Align::Right}, {"VLFS", Align::Right}, {"WAITS ON"}, {"LAST LOG BACKUP"},
                     {"AFTER MB", Align::Right}, {"FREES MB", Align::Right}, {"WHY"}});
    std::vector<Row> rows;
    for (const ServerReport& s : servers)
        for (const DatabaseReport& d : s.databases)
            rows.push_back({&s, &d});
    sortRows(rows);
    for (const Row& r : rows)
        table.add(cells(r));
    std::string out = table.render([&style](const std::string& titles) { return style.bold(titles); });
    for (const ServerReport& s : servers)
        if (s.failed())
            out += style.red(utf8(s.server) + ": not reported: " + utf8(s.error)) + "\n";
    return out;
}

} // namespace cli
