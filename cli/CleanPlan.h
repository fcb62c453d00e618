// What clean is about to do, read from each server before it asks, and
// what each job then did: the servers' sessions, each database named with
// the files its job would shrink and how its box would stand. Reading it
// changes nothing.
#pragma once

#include "db/AdoConnection.h"
#include "db/ConnectFailure.h"
#include "db/DatabaseReads.h"
#include "db/Errors.h"
#include "db/LogOutcome.h"
#include "report/ServerReader.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct CleanChoice {
    std::vector<std::u16string> databases;  // as typed
    std::vector<std::u16string> files;      // none: each database's log files
    // The window's check box; none: as each database is (TruncatesLogOnCheckpoint).
    std::optional<bool> truncateOnCheckpoint;
    report::ReadOptions login;
};

// One file's job and, once it ran, how it went.
struct FileJob {
    enum class Result { NotRun, Succeeded, Failed, Cancelled, OptionFailed };

    db::SecondaryFile file;
    Result result = Result::NotRun;
    std::u16string text{};  // what the window would say: its report, or the server's error
    std::optional<db::EDatabaseError> error{};
    db::LogJobOutcome outcome{};
};

struct DatabaseClean {
    std::u16string name;  // as the server names it, once found
    std::vector<FileJob> files;
    bool truncateOnCheckpoint = false;  // how the box stands for the job
    bool systemLog = false;             // tempdb or master: a checkpoint truncates, the model stays
    std::optional<db::RecoveryModel> model;  // before the job
    bool hasChain = false;                   // the job will break a log backup chain
    // Why it cannot be cleaned: the server's words, or a file that is not there.
    std::u16string error;
    // Read after a cancel: the model the database was left in.
    std::optional<db::RecoveryModel> modelAfterCancel;
};

struct ServerClean {
    report::ServerTarget target;
    std::unique_ptr<db::TADOConnection> connection;
    std::optional<db::ServerVersion> version;
    // When the login failed: the driver's and the server's diagnostics, and
    // their gist.
    std::vector<db::ServerMessage> loginErrors;
    db::ConnectFailureReason failure;
    std::vector<DatabaseClean> databases;

    bool failed() const { return !connection; }
};

// Logs in (sa, in master) and reads what each database's job would work on;
// never throws for what the server or the driver says.
ServerClean planServer(const report::ServerTarget& target, const CleanChoice& choice);

// How many jobs the plan holds that can run.
std::size_t jobCount(const std::vector<ServerClean>& servers);

} // namespace cli
