#include "cli/CleanPlan.h"

#include "cli/Texts.h"
#include "db/LogJob.h"
#include "db/SqlText.h"
#include "db/Text.h"
#include "db/texts/Report.h"

#include <algorithm>

namespace cli {

namespace {

// The files named with --file that the database has (each once), else its
// log files; `error` says why there are none.
std::vector<FileJob> chosenFiles(const std::vector<db::SecondaryFile>& files, const CleanChoice& choice,
                                 std::u16string& error)
{
    std::vector<FileJob> jobs;
    const auto take = [&jobs](const db::SecondaryFile& f) {
        if (std::none_of(jobs.begin(), jobs.end(), [&f](const FileJob& j) { return j.file.fileId == f.fileId; }))
            jobs.push_back({f});
    };
    if (choice.files.empty()) {
        std::for_each(files.begin(), files.end(), [&take](const db::SecondaryFile& f) {
            if (f.isLog)
                take(f);
        });
        if (jobs.empty())
            error = text::NoLogFile;
        return jobs;
    }
    std::u16string names;
    for (const std::u16string& name : choice.files) {
        const auto it = std::find_if(files.begin(), files.end(), [&name](const db::SecondaryFile& f) {
            return db::SameText(f.name, db::sql::stripTrailingBlanks(name));
        });
        if (it != files.end())
            take(*it);
        names += (names.empty() ? u"" : u"、") + name;
    }
    if (jobs.empty())
        error = db::texts::fill(text::NoSuchFile, {names});
    return jobs;
}

// Enters the database and reads what its job would need, as the window
// reads it when the database is chosen.
DatabaseClean planDatabase(db::TADOConnection& connection, const std::u16string& name, const CleanChoice& choice)
{
    DatabaseClean d;
    d.name = name;
    try {
        connection.Execute(db::sql::useDatabase(name));
        d.name = connection.CurrentDatabase();
        d.files = chosenFiles(db::readSecondaryFiles(connection), choice, d.error);
        d.systemLog = db::TruncatesAtEveryCheckpoint(d.name);
        d.model = db::readRecoveryModel(connection, d.name);
        d.truncateOnCheckpoint = d.systemLog || choice.truncateOnCheckpoint.value_or(
                                                    db::TruncatesLogOnCheckpoint(connection, d.name));
        d.hasChain =
            !d.systemLog && db::readHadChain(connection, d.name, db::Dialect(connection.ServerVersion()));
    } catch (const db::EDatabaseError& e) {
        d.error = e.Message();
        d.files.clear();
    }
    return d;
}

} // namespace

ServerClean planServer(const report::ServerTarget& target, const CleanChoice& choice)
{
    ServerClean s;
    s.target = target;
    auto connection = std::make_unique<db::TADOConnection>();
    try {
        report::openSession(*connection, target, choice.login);
    } catch (const db::EDatabaseError& e) {
        s.loginErrors = connection->Errors();
        s.failure = db::connectFailureOf(s.loginErrors);
        if (s.failure.text.empty())
            s.failure.text = e.Message();
        return s;
    }
    s.version = connection->ServerVersion();
    for (const std::u16string& name : choice.databases)
        s.databases.push_back(planDatabase(*connection, name, choice));
    s.connection = std::move(connection);
    return s;
}

std::size_t jobCount(const std::vector<ServerClean>& servers)
{
    std::size_t count = 0;
    for (const ServerClean& s : servers)
        for (const DatabaseClean& d : s.databases)
            count += d.error.empty() ? d.files.size() : 0;
    return count;
}

} // namespace cli
