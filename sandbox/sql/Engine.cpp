#include "sandbox/sql/Engine.h"

#include "sandbox/sql/Executor.h"
#include "sandbox/sql/Messages.h"
#include "sandbox/sql/Parser.h"
#include "sandbox/sql/Recorder.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>

namespace sandbox {

using namespace sql;

struct Engine::CompiledFault {
    QRegularExpression pattern;
    std::size_t fired = 0;  // under the engine's lock
};

Engine::Engine(Catalog catalog) : catalog_(std::move(catalog)) { catalog_.prepare(); }

std::optional<std::u16string> Engine::loginDatabase(SessionState& session, const std::u16string& name)
{
    std::lock_guard lock(mutex_);
    const Database* d = catalog_.find(name);
    if (d == nullptr || sql::openRefusal(*d, session, sessions_))
        return std::nullopt;
    session.database = d->name;
    if (std::find(sessions_.begin(), sessions_.end(), &session) == sessions_.end())
        sessions_.push_back(&session);
    return d->name;
}

void Engine::runBatch(SessionState& session, const std::u16string& batch, ResultSink& sink)
{
    std::vector<Statement> statements;
    try {
        statements = parseBatch(batch, generation());
    } catch (const SyntaxError& e) {
        sink.message(e.message());
        sink.done(DoneKind::Done, done::Error, 0, 0);
        return;
    }
    if (statements.empty()) {
        sink.done(DoneKind::Done, 0, 0, 0);
        return;
    }

    for (const Statement& s : statements) {
        const QString text = QString::fromUtf16(batch.data() + s.begin, static_cast<qsizetype>(s.end - s.begin));
        std::optional<Fault> fault;
        {
            std::lock_guard lock(mutex_);
            for (std::size_t i = 0; i < faults_.size(); ++i) {
                CompiledFault& compiled = *compiledFaults_[i];
                const bool spent = faults_[i].times != 0 && compiled.fired >= faults_[i].times;
                if (!spent && compiled.pattern.match(text).hasMatch()) {
                    ++compiled.fired;
                    fault = faults_[i];
                    break;
                }
            }
        }
        if (fault) {
            if (fault->action == Fault::Action::Drop) {
                sink.dropConnection();
                return;
            }
            if (fault->action == Fault::Action::Flood) {
                flood(*fault, sink);
                continue;
            }
            if (fault->action == Fault::Action::Error || fault->action == Fault::Action::Abort) {
                Recorder out;
                {
                    std::lock_guard lock(mutex_);
                    Executor(catalog_, session, out, serverName_, sessions_)
                        .raise(s, fault->error, fault->action == Fault::Action::Abort);
                }
                out.replay(sink);
                if (fault->action == Fault::Action::Abort)
                    return;
                continue;
            }
            if (fault->action == Fault::Action::Delay && !sink.pause(fault->delay))
                return;
            if (fault->action == Fault::Action::Hold && !holdUntilReleased(sink))
                return;
        }
        if (const auto* wait = std::get_if<WaitForStmt>(&s.body)) {
            if (!sink.pause(std::chrono::milliseconds(wait->milliseconds)))
                return;
        }
        Recorder out;
        {
            std::lock_guard lock(mutex_);
            Executor(catalog_, session, out, serverName_, sessions_).run(s);
        }
        if (fault && fault->action == Fault::Action::DropAfter) {
            sink.dropConnection();  // done on the server, never heard of by the client
            return;
        }
        out.replay(sink);
        if (fault && fault->action == Fault::Action::DelayAfter) {
            sink.flush();
            if (!sink.pause(fault->delay))
                return;
        }
    }
}

void Engine::flood(const Fault& fault, ResultSink& sink)
{
    // Streamed straight to the client: the point is more than fits anywhere.
    const bool text = fault.floodChars > 4000;
    sink.columns({{u"v", text ? SqlType::NText : SqlType::NVarChar,
                   static_cast<std::uint16_t>(text ? 0 : std::max<std::size_t>(fault.floodChars, 1)), false}});
    const Row row{std::u16string(fault.floodChars, u'x')};
    for (std::size_t i = 0; i < fault.floodRows; ++i)
        sink.row(row);
    sink.done(DoneKind::Done, done::Count, curcmd::Select, fault.floodRows);
}

void Engine::sessionClosed(SessionState& session)
{
    // Only the transaction count goes: file operations are not transactional,
    // so catalog changes made inside the transaction stay.
    session.tranCount = 0;
    std::lock_guard lock(mutex_);
    sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), &session), sessions_.end());
}

void Engine::addFault(Fault fault)
{
    auto compiled = std::make_shared<CompiledFault>();
    compiled->pattern = QRegularExpression(QString::fromStdString(fault.pattern),
                                           QRegularExpression::CaseInsensitiveOption);
    if (!compiled->pattern.isValid())
        throw std::invalid_argument("invalid fault pattern '" + fault.pattern
                                    + "': " + compiled->pattern.errorString().toStdString());
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
    compiledFaults_.push_back(std::move(compiled));
}

void Engine::releaseHeld() { ++releases_; }

// Polled, as a pause is the sink's one way to wait that a cancel can end.
bool Engine::holdUntilReleased(ResultSink& sink)
{
    const std::uint64_t start = releases_;
    ++held_;
    while (releases_ == start) {
        if (!sink.pause(std::chrono::milliseconds(20)))
            return false;
    }
    return true;
}

void Engine::clearFaults()
{
    std::lock_guard lock(mutex_);
    faults_.clear();
    compiledFaults_.clear();
}

Catalog Engine::catalog() const
{
    std::lock_guard lock(mutex_);
    return catalog_;
}

void Engine::setCatalog(Catalog catalog)
{
    catalog.prepare();
    std::lock_guard lock(mutex_);
    catalog_ = std::move(catalog);
}

Generation Engine::generation() const
{
    std::lock_guard lock(mutex_);
    return catalog_.generation;
}

Language Engine::language() const
{
    std::lock_guard lock(mutex_);
    return catalog_.language;
}

void Engine::setServerName(std::u16string name)
{
    std::lock_guard lock(mutex_);
    serverName_ = std::move(name);
}

} // namespace sandbox
