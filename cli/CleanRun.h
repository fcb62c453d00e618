// Runs the jobs a plan holds, one after another, as the window runs its job
// (db::TLogJob: autocommit, the model put back, every reason); says how each
// went as it ends. Ctrl+C (interrupt) cancels like the window's 取消: the
// statement running is cancelled, the model put back, and no job after it
// starts.
#pragma once

#include "cli/CleanPlan.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace db {
class TLogJob;
}

namespace cli {

class CleanRun {
public:
    // Called in order for each server that failed (no database), each
    // database that cannot be cleaned (no file), and each job once it ended.
    using Said = std::function<void(const ServerClean&, const DatabaseClean*, const FileJob*)>;
    // Called with what the program does about a Ctrl+C, from the thread it came on.
    using Notice = std::function<void(const std::u16string&)>;

    CleanRun(Said said, Notice notice) : said_(std::move(said)), notice_(std::move(notice)) {}

    void run(std::vector<ServerClean>& servers);

    // From any thread, at any time: the first cancels; each after it says
    // what the program still waits for, and cancels nothing more (the model's
    // put-back, above all, runs to its end).
    void interrupt();
    bool cancelled() const;

private:
    void runDatabase(ServerClean& server, DatabaseClean& database);
    void runJob(ServerClean& server, DatabaseClean& database, FileJob& job);
    bool begin(db::TLogJob* job);

    Said said_;
    Notice notice_;
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    db::TLogJob* running_ = nullptr;  // the job a Ctrl+C cancels, while it runs
};

} // namespace cli
