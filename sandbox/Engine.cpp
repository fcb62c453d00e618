#include "Engine.h"

#include "Messages.h"
#include "SqlParser.h"
#include "SqlTables.h"

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
};

namespace {

// Results of one statement, gathered under the engine's lock and handed to
// the session's sink after it is released (a slow client must not stall others).
class Recorder final : public ResultSink {
public:
    void columns(const std::vector<Column>& cols) override { events_.emplace_back(cols); }
    void row(const Row& values) override { events_.emplace_back(values); }
    void done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) override
    {
        events_.emplace_back(Done{kind, status, curCmd, rowCount});
    }
    void message(const Message& msg) override { events_.emplace_back(msg); }
    void databaseChanged(const std::u16string& newName, const std::u16string& oldName) override
    {
        events_.emplace_back(DbChange{newName, oldName});
    }
    bool pause(std::chrono::milliseconds) override { return true; }
    void dropConnection() override {}

    void replay(ResultSink& sink) const
    {
        for (const auto& e : events_) {
            std::visit(
                [&sink](const auto& v) {
                    using T = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<T, std::vector<Column>>) sink.columns(v);
                    else if constexpr (std::is_same_v<T, Row>) sink.row(v);
                    else if constexpr (std::is_same_v<T, Done>) sink.done(v.kind, v.status, v.curCmd, v.rowCount);
                    else if constexpr (std::is_same_v<T, Message>) sink.message(v);
                    else sink.databaseChanged(v.newName, v.oldName);
                },
                e);
        }
    }

private:
    struct Done {
        DoneKind kind;
        std::uint16_t status, curCmd;
        std::uint64_t rowCount;
    };
    struct DbChange {
        std::u16string newName, oldName;
    };
    std::vector<std::variant<std::vector<Column>, Row, Done, Message, DbChange>> events_;
};

QString qs(const std::u16string& s) { return QString::fromStdU16String(s); }

constexpr const char16_t* VersionText =
    u"Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n"
    u"\tMay  3 2005 23:18:38 \n"
    u"\tCopyright (c) 1988-2003 Microsoft Corporation\n"
    u"\tStandard Edition on Windows NT 5.2 (Build 3790: Service Pack 2)\n";

// Log space is freed and shrunk in whole virtual log files; the sandbox
// gives every log 512 KB ones (SQL Server sizes them by growth step).
constexpr std::int32_t VlfPages = 64;

// sp_dboption's option list and the sysdatabases status bit each one sets.
struct DbOption {
    const char16_t* name;
    std::int32_t bit;  // 0: accepted, kept nowhere
};
constexpr DbOption DbOptions[] = {
    {u"ANSI null default", 0},      {u"ANSI nulls", 0},          {u"ANSI padding", 0},
    {u"ANSI warnings", 0},          {u"arithabort", 0},          {u"auto create statistics", 0},
    {u"auto update statistics", 0}, {u"autoclose", 1},           {u"autoshrink", 4194304},
    {u"concat null yields null", 0}, {u"cursor close on commit", 0}, {u"db chaining", 0},
    {u"dbo use only", 2048},        {u"default to local cursor", 0}, {u"merge publish", 0},
    {u"numeric roundabort", 0},     {u"offline", 512},           {u"published", 0},
    {u"quoted identifier", 0},      {u"read only", 1024},        {u"recursive triggers", 0},
    {u"select into/bulkcopy", 4},   {u"single user", 4096},      {u"subscribed", 0},
    {u"torn page detection", 16},   {u"trunc. log on chkpt.", Database::TruncLogOnChkpt},
};

// T-SQL LIKE with % and _ (sp_dboption matches options with LIKE '%opt%').
bool like(const QString& text, qsizetype ti, const QString& pattern, qsizetype pi)
{
    for (; pi < pattern.size(); ++pi, ++ti) {
        const QChar p = pattern[pi];
        if (p == u'%') {
            for (qsizetype k = ti; k <= text.size(); ++k)
                if (like(text, k, pattern, pi + 1))
                    return true;
            return false;
        }
        if (ti >= text.size())
            return false;
        if (p != u'_' && p.toCaseFolded() != text[ti].toCaseFolded())
            return false;
    }
    return ti == text.size();
}

// ---------------------------------------------------------------------------
// Execution of parsed statements against the catalog (under the engine's lock).

class Executor {
public:
    Executor(Catalog& catalog, SessionState& session, ResultSink& out, const std::u16string& serverName)
        : catalog_(catalog), session_(session), out_(out), serverName_(serverName)
    {
    }

    void run(const Statement& s)
    {
        line_ = s.line;
        const std::uint16_t cmd = curCmdOf(s);
        try {
            std::visit([this](const auto& body) { execute(body); }, s.body);
        } catch (const StatementError& e) {
            fail(e.message, cmd);
        }
    }

    static std::uint16_t curCmdOf(const Statement& s)
    {
        return std::visit(
            [](const auto& body) -> std::uint16_t {
                using T = std::decay_t<decltype(body)>;
                if constexpr (std::is_same_v<T, SelectStmt>) return curcmd::Select;
                else if constexpr (std::is_same_v<T, ExecStmt>) return curcmd::Exec;
                else if constexpr (std::is_same_v<T, ShrinkFileStmt> || std::is_same_v<T, DbccOtherStmt>) return curcmd::Dbcc;
                else if constexpr (std::is_same_v<T, SetStmt>) return curcmd::Set;
                else if constexpr (std::is_same_v<T, IfStmt>) return curcmd::If;
                else if constexpr (std::is_same_v<T, TranStmt>) {
                    switch (body.kind) {
                    case TranStmt::Kind::Begin: return curcmd::BeginTran;
                    case TranStmt::Kind::Commit: return curcmd::Commit;
                    default: return curcmd::Rollback;
                    }
                } else return curcmd::Use;
            },
            s.body);
    }

    // A fault's message instead of the statement's results.
    void raise(const Statement& s, const Message& m)
    {
        line_ = s.line;
        fail(m, curCmdOf(s));
    }

    void fail(Message m, std::uint16_t cmd, DoneKind kind = DoneKind::Done)
    {
        m.line = line_;
        const bool error = m.severity > 10;
        out_.message(m);
        out_.done(kind, error ? done::Error : std::uint16_t{0}, cmd, 0);
    }

private:
    void info(Message m, const std::u16string& procName = {})
    {
        m.line = line_;
        m.procName = procName;
        out_.message(m);
    }

    void doneRows(std::uint16_t cmd, std::uint64_t count, DoneKind kind = DoneKind::Done)
    {
        out_.done(kind, session_.noCount ? std::uint16_t{0} : done::Count, cmd, session_.noCount ? 0 : count);
    }

    Database& database(const std::u16string& name)
    {
        Database* db = catalog_.find(name);
        if (!db)
            throw StatementError{makeMessage(911, {name})};
        return *db;
    }

    Database& currentDatabase() { return database(session_.database); }

    // In implicit-transaction mode these statements open a transaction.
    void implicitBegin()
    {
        if (session_.implicitTransactions && session_.tranCount == 0)
            session_.tranCount = 1;
    }

    // --- SELECT -----------------------------------------------------------

    std::optional<Value> variable(const std::u16string& name, Column& column)
    {
        column.nullable = false;
        if (name == u"@@TRANCOUNT") {
            column.type = SqlType::Int;
            return std::int64_t{session_.tranCount};
        }
        if (name == u"@@SPID") {
            column.type = SqlType::SmallInt;
            return std::int64_t{session_.spid};
        }
        if (name == u"@@VERSION") {
            column.type = SqlType::NVarChar;
            column.maxLength = 256;
            return std::u16string(VersionText);
        }
        if (name == u"@@SERVERNAME") {
            column.type = SqlType::NVarChar;
            column.maxLength = 128;
            column.nullable = true;
            return serverName_;
        }
        if (name == u"@@LANGUAGE") {
            column.type = SqlType::NVarChar;
            column.maxLength = 128;
            return std::u16string(u"us_english");
        }
        if (name == u"@@ERROR" || name == u"@@ROWCOUNT") {
            column.type = SqlType::Int;
            return std::int64_t{0};
        }
        return std::nullopt;
    }

    // A select-list item that needs no table: its column and value.
    std::pair<Column, Value> scalar(const SelectItem& item)
    {
        Column c;
        c.name = item.alias;
        switch (item.kind) {
        case SelectItem::Kind::Variable: {
            if (auto v = variable(item.name, c))
                return {c, *v};
            throw StatementError{makeMessage(137, {item.name})};
        }
        case SelectItem::Kind::Literal:
            if (item.literal.kind == Literal::Kind::Integer) {
                const bool fitsInt = item.literal.integer >= INT32_MIN && item.literal.integer <= INT32_MAX;
                c.type = fitsInt ? SqlType::Int : SqlType::BigInt;
                return {c, item.literal.integer};
            }
            c.type = item.literal.national ? SqlType::NVarChar : SqlType::VarChar;
            c.maxLength = static_cast<std::uint16_t>(std::clamp<std::size_t>(item.literal.text.size(), 1, 4000));
            return {c, item.literal.text};
        case SelectItem::Kind::DbName:
            c.type = SqlType::NVarChar;
            c.maxLength = 128;
            c.nullable = true;
            return {c, session_.database};
        case SelectItem::Kind::Column:
            throw StatementError{makeMessage(207, {item.name})};
        case SelectItem::Kind::Star:
            break;
        }
        throw StatementError{makeMessage(263)};
    }

    Table resolveTable(const ObjectName& name)
    {
        if (!name.owner.empty() && !sameName(name.owner, u"dbo"))
            throw StatementError{makeMessage(208, {name.display})};
        const std::u16string dbName = name.database.empty() ? session_.database : name.database;
        Database& db = database(dbName);
        if (sameName(name.object, u"sysfiles"))
            return sysfiles(db);
        if (sameName(name.object, u"sysdatabases") && sameName(db.name, u"master"))
            return sysdatabases(catalog_);
        throw StatementError{makeMessage(208, {name.display})};
    }

    void execute(const SelectStmt& s)
    {
        if (!s.from) {
            std::vector<Column> cols;
            Row row;
            for (const SelectItem& item : s.items) {
                auto [c, v] = scalar(item);
                cols.push_back(std::move(c));
                row.push_back(std::move(v));
            }
            out_.columns(cols);
            out_.row(row);
            doneRows(curcmd::Select, 1);
            return;
        }
        implicitBegin();
        Table table = resolveTable(*s.from);

        // The select list: table columns by index, or constants.
        struct Output {
            Column column;
            std::optional<std::size_t> source;
            Value constant;
        };
        std::vector<Output> outputs;
        for (const SelectItem& item : s.items) {
            if (item.kind == SelectItem::Kind::Star) {
                for (std::size_t i = 0; i < table.columns.size(); ++i)
                    outputs.push_back({table.columns[i], i, Null{}});
            } else if (item.kind == SelectItem::Kind::Column) {
                const auto i = columnIndex(table.columns, item.name);
                if (!i)
                    throw StatementError{makeMessage(207, {item.name})};
                Column c = table.columns[*i];
                if (item.hasAlias)
                    c.name = item.alias;
                outputs.push_back({c, i, Null{}});
            } else {
                auto [c, v] = scalar(item);
                outputs.push_back({c, std::nullopt, v});
            }
        }

        // WHERE: OR of ANDs.
        std::vector<std::vector<std::size_t>> whereColumns;
        for (const auto& all : s.where) {
            whereColumns.emplace_back();
            for (const Comparison& c : all) {
                const auto i = columnIndex(table.columns, c.column);
                if (!i)
                    throw StatementError{makeMessage(207, {c.column})};
                whereColumns.back().push_back(*i);
            }
        }
        std::vector<Row> rows;
        for (Row& r : table.rows) {
            bool keep = s.where.empty();
            for (std::size_t a = 0; a < s.where.size() && !keep; ++a) {
                bool all = true;
                for (std::size_t k = 0; k < s.where[a].size() && all; ++k) {
                    const std::size_t col = whereColumns[a][k];
                    all = matches(r[col], table.columns[col], s.where[a][k]);
                }
                keep = all;
            }
            if (keep)
                rows.push_back(std::move(r));
        }

        // ORDER BY: a select-list position, an alias, or any column of the table.
        struct Key {
            std::optional<std::size_t> tableColumn;
            std::size_t output = 0;
            bool descending = false;
        };
        std::vector<Key> keys;
        for (const OrderKey& k : s.orderBy) {
            Key key;
            key.descending = k.descending;
            if (k.position > 0 || k.column.empty()) {
                if (k.position < 1 || static_cast<std::size_t>(k.position) > outputs.size())
                    throw StatementError{makeMessage(108, {toU16(k.position)})};
                key.output = static_cast<std::size_t>(k.position - 1);
            } else if (auto i = columnIndex(table.columns, k.column)) {
                key.tableColumn = i;
            } else {
                bool found = false;
                for (std::size_t o = 0; o < outputs.size() && !found; ++o)
                    if (sameName(outputs[o].column.name, k.column)) {
                        key.output = o;
                        found = true;
                    }
                if (!found)
                    throw StatementError{makeMessage(207, {k.column})};
            }
            keys.push_back(key);
        }
        auto valueOf = [&outputs](const Row& r, std::size_t o) -> const Value& {
            return outputs[o].source ? r[*outputs[o].source] : outputs[o].constant;
        };
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
            for (const Key& k : keys) {
                const int cmp = k.tableColumn ? compareValues(a[*k.tableColumn], b[*k.tableColumn])
                                              : compareValues(valueOf(a, k.output), valueOf(b, k.output));
                if (cmp != 0)
                    return k.descending ? cmp > 0 : cmp < 0;
            }
            return false;
        });

        std::vector<Column> cols;
        for (const Output& o : outputs)
            cols.push_back(o.column);
        out_.columns(cols);
        for (const Row& r : rows) {
            Row projected;
            for (std::size_t o = 0; o < outputs.size(); ++o)
                projected.push_back(valueOf(r, o));
            out_.row(projected);
        }
        doneRows(curcmd::Select, rows.size());
    }

    // --- USE ----------------------------------------------------------------

    void execute(const UseStmt& s)
    {
        Database& db = database(s.database);
        if (db.offline)
            throw StatementError{makeMessage(942, {db.name})};
        const std::u16string old = session_.database;
        session_.database = db.name;
        out_.databaseChanged(db.name, old);
        info(makeMessage(5701, {db.name}));
        out_.done(DoneKind::Done, 0, curcmd::Use, 0);
    }

    // --- EXEC ---------------------------------------------------------------

    void execute(const ExecStmt& s)
    {
        const ObjectName& p = s.procedure;
        const bool ownerOk = p.owner.empty() || sameName(p.owner, u"dbo");
        const bool dbOk = p.database.empty() || catalog_.find(p.database);
        if (!ownerOk || !dbOk || !sameName(p.object, u"sp_dboption"))
            throw StatementError{makeMessage(2812, {p.display})};
        spDbOption(s.args);
    }

    void procFail(Message m)
    {
        info(std::move(m), u"sp_dboption");
        out_.done(DoneKind::DoneProc, done::Error, curcmd::Exec, 0);
    }

    void spDbOption(const std::vector<Literal>& args)
    {
        static const std::u16string Proc = u"sp_dboption";
        if (args.size() > 3) {
            procFail(makeMessage(15241));
            return;
        }
        if (args.empty()) {
            out_.columns({{u"Settable database options:", SqlType::VarChar, 35, false}});
            for (const DbOption& o : DbOptions)
                out_.row({std::u16string(o.name)});
            doneRows(curcmd::Select, std::size(DbOptions), DoneKind::DoneInProc);
            out_.done(DoneKind::DoneProc, 0, curcmd::Exec, 0);
            return;
        }
        // Value first, as the procedure checks it before looking anything up.
        std::optional<bool> value;
        if (args.size() == 3) {
            const QString v = qs(args[2].text).trimmed();
            if (v.compare(u"true", Qt::CaseInsensitive) == 0 || v.compare(u"on", Qt::CaseInsensitive) == 0)
                value = true;
            else if (v.compare(u"false", Qt::CaseInsensitive) == 0 || v.compare(u"off", Qt::CaseInsensitive) == 0)
                value = false;
            else {
                procFail(makeMessage(15241));
                return;
            }
        }
        Database* db = catalog_.find(args[0].text);
        if (!db) {
            procFail(makeMessage(15010, {args[0].text}));
            return;
        }
        if (args.size() == 1) {
            out_.columns({{u"The following options are set:", SqlType::VarChar, 35, false}});
            std::uint64_t n = 0;
            for (const DbOption& o : DbOptions)
                if (o.bit != 0 && ((db->status & o.bit) != 0 || (o.bit == 512 && db->offline))) {
                    out_.row({std::u16string(o.name)});
                    ++n;
                }
            doneRows(curcmd::Select, n, DoneKind::DoneInProc);
            out_.done(DoneKind::DoneProc, 0, curcmd::Exec, 0);
            return;
        }
        const DbOption* option = findOption(args[1].text);
        if (!option)
            return;
        if (!value) {
            const bool on = option->bit != 0 && (db->status & option->bit) != 0;
            out_.columns({{u"OptionName", SqlType::VarChar, 35, false}, {u"CurrentSetting", SqlType::VarChar, 3, false}});
            out_.row({std::u16string(option->name), std::u16string(on ? u"ON" : u"OFF")});
            doneRows(curcmd::Select, 1, DoneKind::DoneInProc);
            out_.done(DoneKind::DoneProc, 0, curcmd::Exec, 0);
            return;
        }
        // The option is carried out by ALTER DATABASE, which no transaction may hold.
        if (session_.tranCount > 0) {
            info(makeMessage(226, {u"ALTER DATABASE"}), Proc);
            info(makeMessage(15627), Proc);
            out_.done(DoneKind::DoneProc, done::Error, curcmd::Exec, 0);
            return;
        }
        if (option->bit != 0) {
            if (*value)
                db->status |= option->bit;
            else
                db->status &= ~option->bit;
            if (option->bit == 512) {
                db->offline = *value;
                db->status &= ~512;  // kept in `offline`; sysdatabases adds the bit back
            }
        }
        out_.done(DoneKind::DoneInProc, 0, curcmd::Select, 0);
        out_.done(DoneKind::DoneProc, 0, curcmd::Exec, 0);
    }

    // LIKE '%opt%'; several matches are fine when one is the exact name.
    const DbOption* findOption(const std::u16string& given)
    {
        const QString pattern = u'%' + qs(given).trimmed() + u'%';
        std::vector<const DbOption*> found;
        for (const DbOption& o : DbOptions)
            if (like(QString::fromUtf16(o.name), 0, pattern, 0))
                found.push_back(&o);
        if (found.size() > 1) {
            for (const DbOption* o : found)
                if (QString::fromUtf16(o->name).compare(qs(given).trimmed(), Qt::CaseInsensitive) == 0)
                    return o;
            procFail(makeMessage(15242, {given}));
            return nullptr;
        }
        if (found.empty()) {
            procFail(makeMessage(15011, {given}));
            return nullptr;
        }
        return found.front();
    }

    // --- BACKUP LOG -----------------------------------------------------------

    void execute(const BackupLogStmt& s)
    {
        if (session_.tranCount > 0) {
            info(makeMessage(3021));
            throw StatementError{makeMessage(3013, {u"BACKUP LOG"})};
        }
        Database& db = database(s.database);
        if (db.offline) {
            info(makeMessage(942, {db.name}));
            throw StatementError{makeMessage(3013, {u"BACKUP LOG"})};
        }
        if (s.option == u"DISK" && db.truncLogOnCheckpoint()) {
            info(makeMessage(4208));
            throw StatementError{makeMessage(3013, {u"BACKUP LOG"})};
        }
        std::int64_t processed = 0;
        for (DbFile& f : db.files) {
            if (!f.isLog())
                continue;
            if (s.option == u"DISK") {
                processed += f.inactivePages + f.activePages;
                info(makeMessage(4035, {toU16(f.inactivePages + f.activePages), db.name, f.name, u"1"}));
            }
            f.inactivePages = 0;
        }
        if (s.option == u"DISK")
            info(makeMessage(3014, {toU16(processed), u"0.250", u"4.096"}));
        out_.done(DoneKind::Done, 0, curcmd::Backup, 0);
    }

    // --- DBCC -----------------------------------------------------------------

    static std::int32_t roundUp(std::int64_t pages, std::int32_t unit)
    {
        return static_cast<std::int32_t>((pages + unit - 1) / unit * unit);
    }

    void execute(const ShrinkFileStmt& s)
    {
        Database& db = currentDatabase();
        DbFile* file = nullptr;
        for (DbFile& f : db.files)
            if (s.byId ? f.fileId == s.fileId : sameName(f.name, s.fileName))
                file = &f;
        if (!file)
            throw StatementError{makeMessage(8985, {s.fileName})};

        std::int32_t minimum = 0;
        std::int32_t used = 0;
        if (file->isLog()) {
            used = file->activePages + file->inactivePages;
            minimum = std::max(2 * VlfPages, roundUp(used, VlfPages));
        } else {
            used = file->usedPages;
            minimum = std::max(used, 1);
        }
        minimum = std::min(minimum, file->size);
        const std::int64_t target = s.targetMb && !s.truncateOnly ? std::max<std::int64_t>(*s.targetMb, 0) * 128 : 0;
        const std::int32_t newSize =
            static_cast<std::int32_t>(std::min<std::int64_t>(file->size, std::max<std::int64_t>(target, minimum)));
        if (file->isLog() && newSize > target && s.targetMb && !s.truncateOnly && !s.noInfoMessages)
            info(makeMessage(9008, {toU16(file->fileId), file->name}));
        file->size = newSize;

        out_.columns({{u"DbId", SqlType::SmallInt, 0, false},
                      {u"FileId", SqlType::SmallInt, 0, false},
                      {u"CurrentSize", SqlType::Int, 0, false},
                      {u"MinimumSize", SqlType::Int, 0, false},
                      {u"UsedPages", SqlType::Int, 0, false},
                      {u"EstimatedPages", SqlType::Int, 0, false}});
        out_.row({std::int64_t{db.dbId}, std::int64_t{file->fileId}, std::int64_t{newSize}, std::int64_t{minimum},
                  std::int64_t{used}, std::int64_t{minimum}});
        if (!s.noInfoMessages)
            info(makeMessage(2528));
        doneRows(curcmd::Dbcc, 1);
    }

    void execute(const DbccOtherStmt&) { throw StatementError{makeMessage(2526)}; }

    // --- SET, transactions, PRINT, IF ----------------------------------------

    void execute(const SetStmt& s)
    {
        for (const std::u16string& o : s.options) {
            if (o == u"IMPLICIT_TRANSACTIONS")
                session_.implicitTransactions = s.value == u"ON";
            else if (o == u"NOCOUNT")
                session_.noCount = s.value == u"ON";
        }
        out_.done(DoneKind::Done, 0, curcmd::Set, 0);
    }

    void execute(const TranStmt& s)
    {
        switch (s.kind) {
        case TranStmt::Kind::Begin:
            ++session_.tranCount;
            out_.done(DoneKind::Done, 0, curcmd::BeginTran, 0);
            return;
        case TranStmt::Kind::Commit:
            if (session_.tranCount == 0)
                throw StatementError{makeMessage(3902)};
            --session_.tranCount;
            out_.done(DoneKind::Done, 0, curcmd::Commit, 0);
            return;
        case TranStmt::Kind::Rollback:
            if (session_.tranCount == 0)
                throw StatementError{makeMessage(3903)};
            session_.tranCount = 0;
            out_.done(DoneKind::Done, 0, curcmd::Rollback, 0);
            return;
        }
    }

    void execute(const PrintStmt& s)
    {
        const Value v = scalar(s.what).second;
        Message m = makeMessage(0, {});
        if (const auto* text = std::get_if<std::u16string>(&v))
            m.text = *text;
        else if (const auto* i = std::get_if<std::int64_t>(&v))
            m.text = toU16(*i);
        info(m);
        out_.done(DoneKind::Done, 0, curcmd::Use, 0);
    }

    std::int64_t number(const SelectItem& item)
    {
        const Value v = scalar(item).second;
        if (const auto* i = std::get_if<std::int64_t>(&v))
            return *i;
        throw StatementError{makeMessage(245, {std::get<std::u16string>(v), u"int"})};
    }

    void execute(const IfStmt& s)
    {
        const bool yes = holds(threeWay(number(s.left), number(s.right)), s.op);
        const std::vector<Statement>& branch = yes ? s.then : s.otherwise;
        if (branch.empty())
            out_.done(DoneKind::Done, 0, curcmd::If, 0);
        for (const Statement& inner : branch)
            run(inner);
    }

    void execute(const BlockStmt& s)
    {
        for (const Statement& inner : s.body)
            run(inner);
    }

    // With 'trunc. log on chkpt.' a checkpoint frees the inactive log, as a
    // log backup would.
    void execute(const CheckpointStmt&)
    {
        Database& db = currentDatabase();
        if (db.truncLogOnCheckpoint())
            for (DbFile& f : db.files)
                if (f.isLog())
                    f.inactivePages = 0;
        out_.done(DoneKind::Done, 0, curcmd::Use, 0);
    }

    // Handled by the batch loop, which may wait without the lock.
    void execute(const WaitForStmt&) { out_.done(DoneKind::Done, 0, curcmd::Use, 0); }

    Catalog& catalog_;
    SessionState& session_;
    ResultSink& out_;
    const std::u16string& serverName_;
    std::uint16_t line_ = 1;
};

} // namespace

// ---------------------------------------------------------------------------

Engine::Engine(Catalog catalog) : catalog_(std::move(catalog)) {}

std::optional<std::u16string> Engine::findDatabase(const std::u16string& name) const
{
    std::lock_guard lock(mutex_);
    if (const Database* d = catalog_.find(name))
        return d->name;
    return std::nullopt;
}

void Engine::runBatch(SessionState& session, const std::u16string& batch, ResultSink& sink)
{
    std::vector<Statement> statements;
    try {
        statements = parseBatch(batch);
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
            for (std::size_t i = 0; i < faults_.size(); ++i)
                if (compiledFaults_[i]->pattern.match(text).hasMatch()) {
                    fault = faults_[i];
                    break;
                }
        }
        if (fault) {
            if (fault->action == Fault::Action::Drop) {
                sink.dropConnection();
                return;
            }
            if (fault->action == Fault::Action::Error) {
                Recorder out;
                Executor(catalog_, session, out, serverName_).raise(s, fault->error);
                out.replay(sink);
                continue;
            }
            if (!sink.pause(fault->delay))
                return;
        }
        if (const auto* wait = std::get_if<WaitForStmt>(&s.body)) {
            if (!sink.pause(std::chrono::milliseconds(wait->milliseconds)))
                return;
        }
        Recorder out;
        {
            std::lock_guard lock(mutex_);
            Executor(catalog_, session, out, serverName_).run(s);
        }
        out.replay(sink);
    }
}

void Engine::sessionClosed(SessionState& session)
{
    // Only the transaction count goes: file operations are not transactional,
    // so catalog changes made inside the transaction stay.
    session.tranCount = 0;
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
    std::lock_guard lock(mutex_);
    catalog_ = std::move(catalog);
}

void Engine::setServerName(std::u16string name)
{
    std::lock_guard lock(mutex_);
    serverName_ = std::move(name);
}

} // namespace sandbox
