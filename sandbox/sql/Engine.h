// The sandbox's SQL side: catalog, T-SQL statements, transactions, faults.
// Thread-safe: one Engine serves every session of a server.
#pragma once

#include "sandbox/sql/Catalog.h"
#include "sandbox/sql/Result.h"
#include "sandbox/sql/SessionState.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sandbox {

// A fault fires for every statement whose text matches `pattern`
// (a Perl-style regular expression as QRegularExpression reads it,
// case-insensitive, searched in the statement's text; addFault throws
// std::invalid_argument for one that does not compile).
struct Fault {
    enum class Action {
        Error, // the statement fails with this message instead of running
        Abort, // ...and nothing after it in the batch runs; an open transaction
               // is rolled back (as for a deadlock victim, 1205)
        Delay, // wait `delay` before running it (a client time-out cancels)
        Drop,  // drop the connection instead of running it
        DropAfter, // run it, then drop the connection before its answer goes out
        DelayAfter, // run it and send its answer, then wait `delay` before the
                    // batch goes on (a cancel then comes after the answer)
        Hold,  // wait until releaseHeld() before running it (a cancel ends the
               // wait): a test decides when, not the clock
        Flood, // answer with more than a client should take: one column "v"
               // (ntext past 4000 characters, else nvarchar) of floodRows rows,
               // each value floodChars characters long
    };
    Action action = Action::Error;
    std::string pattern;
    Message error;                     // for Error and Abort: number, severity, state, text
    std::chrono::milliseconds delay{0}; // for Delay and DelayAfter
    std::size_t times = 0;             // fires for this many statements, then no more (0: for all)
    std::size_t floodRows = 0;         // for Flood
    std::size_t floodChars = 0;
};

class Engine {
public:
    explicit Engine(Catalog catalog);

    // A login asks to start in `name`: if that database exists and USE would
    // open it (ONLINE; single-user and free), the session is in it and counts
    // as its user until sessionClosed. Returns its name as the catalog spells
    // it (trailing blanks ignored, case as the server's collation has it).
    std::optional<std::u16string> loginDatabase(SessionState& session, const std::u16string& name);

    // Runs one SQL batch, reporting every result to `sink` in order.
    void runBatch(SessionState& session, const std::u16string& batch, ResultSink& sink);

    // A connection went away: its open transaction is rolled back.
    void sessionClosed(SessionState& session);

    // Throws std::invalid_argument when the pattern is not a valid regular expression.
    void addFault(Fault fault);
    void clearFaults();
    // Lets every statement a Hold fault is holding run.
    void releaseHeld();
    // How many statements a Hold fault has held so far: a test knows a
    // statement is waiting without watching the clock.
    std::uint64_t heldSoFar() const { return held_; }

    // The engine lays out the catalog's logs when it takes it (Catalog::prepare).
    Catalog catalog() const;                // a snapshot
    void setCatalog(Catalog catalog);

    // Which SQL Server the engine answers as, and its default language (the catalog's).
    Generation generation() const;
    Language language() const;

    // What SELECT @@SERVERNAME answers (default SANDBOX).
    void setServerName(std::u16string name);

private:
    struct CompiledFault;

    static void flood(const Fault& fault, ResultSink& sink);
    bool holdUntilReleased(ResultSink& sink);

    mutable std::mutex mutex_;
    Catalog catalog_;
    std::vector<Fault> faults_;
    std::vector<std::shared_ptr<CompiledFault>> compiledFaults_;  // parallel to faults_
    std::u16string serverName_ = u"SANDBOX";
    std::vector<SessionState*> sessions_;  // logged in, for single-user databases
    std::atomic<std::uint64_t> releases_{0};  // releaseHeld() calls so far
    std::atomic<std::uint64_t> held_{0};      // statements held so far
};

} // namespace sandbox
