#include "cli/CleanText.h"

#include "cli/TextTable.h"
#include "cli/Texts.h"
#include "db/Text.h"
#include "db/texts/Report.h"

namespace cli {

namespace {

using text::filled;
using text::utf8;

std::string note(const DatabaseClean& d)
{
    if (!d.error.empty())
        return filled(text::CannotClean, {d.error});
    if (d.systemLog)
        return utf8(text::SystemDatabase);
    return d.hasChain ? utf8(text::ChainWillBreak) : std::string();
}

void addRows(TextTable& table, const ServerClean& s, const DatabaseClean& d)
{
    const std::string model = d.model ? utf8(db::recoveryModelName(*d.model)) : "-";
    const std::string box = utf8(d.truncateOnCheckpoint ? text::Yes : text::No);
    if (!d.error.empty()) {
        table.add({utf8(s.target.name), utf8(d.name), "-", "-", "-", "-", note(d)});
        return;
    }
    for (const FileJob& f : d.files)
        table.add({utf8(s.target.name), utf8(d.name), utf8(f.file.name), utf8(db::texts::megabytes(f.file.sizePages)),
                   model, box, note(d)});
}

// The window's paragraphs on one line.
std::string oneLine(std::u16string_view text)
{
    std::u16string line;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find(u"\n\n", at);
        line.append(text.substr(at, end == std::u16string_view::npos ? std::u16string_view::npos : end - at));
        if (end == std::u16string_view::npos)
            break;
        line.push_back(u' ');
        at = end + 2;
    }
    return utf8(line);
}

} // namespace

std::string planText(const std::vector<ServerClean>& servers)
{
    using Align = TextTable::Align;
    const auto title = [](std::u16string_view t, Align a = Align::Left) { return TextTable::Column{utf8(t), a}; };
    TextTable table({title(text::Server), title(text::Database), title(text::File), title(text::SizeMb, Align::Right),
                     title(text::Model), title(text::TruncateOnCheckpoint), title(text::Note)});
    std::string failures;
    for (const ServerClean& s : servers) {
        if (s.failed())
            failures += filled(text::ServerHeading, {s.target.name}) + oneLine(db::texts::connectFailed(s.loginErrors)) + "\n";
        for (const DatabaseClean& d : s.databases)
            addRows(table, s, d);
    }
    return filled(text::PlanHeadline, {text::targetMb()}) + "\n" + table.render([](const std::string& t) { return t; }) +
           failures + utf8(text::Question);
}

std::string outcomeText(const ServerClean& server, const DatabaseClean* database, const FileJob* job)
{
    if (database == nullptr)
        return filled(text::ServerHeading, {server.target.name}) + "\n" +
               utf8(db::texts::connectFailed(server.loginErrors)) + "\n\n";
    if (job == nullptr)
        return filled(text::DatabaseHeading, {server.target.name, database->name}) + "\n" + utf8(database->error) +
               "\n\n";
    std::string out = filled(text::JobHeading, {server.target.name, database->name, job->file.name}) + "\n" +
                      utf8(job->text) + "\n\n";
    if (database->modelAfterCancel)
        out += filled(text::ModelNow, {database->name, db::recoveryModelName(*database->modelAfterCancel)}) + "\n\n";
    return out;
}

bool saysYes(const std::string& answer)
{
    const std::u16string a = db::Trim(db::fromUtf8(answer));
    return db::sameAscii(a, u"y") || db::sameAscii(a, u"yes") || a == u"是";
}

} // namespace cli
