// EXEC: sp_dboption, the only procedure the sandbox knows (gone from 2012 on).
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <QString>

#include <iterator>

namespace sandbox::sql {

// sp_dboption's option list and the sysdatabases status bit each one sets.
struct DbOption {
    const char16_t* name;
    std::int32_t bit;  // 0: accepted, kept nowhere
};

namespace {

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

QString qs(const std::u16string& s) { return QString::fromStdU16String(s); }

// T-SQL LIKE with % and _ (sp_dboption matches options with LIKE '%opt%'),
// case-insensitive. Greedy, resuming after the last % on a mismatch, so that
// a pattern of many %s costs text length times pattern length, never an
// exponential search.
bool like(const QString& text, const QString& pattern)
{
    qsizetype t = 0, p = 0, lastPercent = -1, resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == u'%') {
            lastPercent = p++;
            resumeAt = t;
        } else if (p < pattern.size()
                   && (pattern[p] == u'_' || pattern[p].toCaseFolded() == text[t].toCaseFolded())) {
            ++p;
            ++t;
        } else if (lastPercent >= 0) {
            p = lastPercent + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'%')
        ++p;
    return p == pattern.size();
}

} // namespace

void Executor::execute(const ExecStmt& s)
{
    const ObjectName& p = s.procedure;
    const bool ownerOk = p.owner.empty() || sameName(p.owner, u"dbo") || sameName(p.owner, u"sys");
    const bool dbOk = p.database.empty() || catalog_.find(p.database);
    if (!ownerOk || !dbOk || !sameName(p.object, u"sp_dboption") || !hasDbOption(generation()))
        throw StatementError{makeMessage(2812, {p.display})};
    spDbOption(s.args);
}

void Executor::procFail(Message m)
{
    info(std::move(m), u"sp_dboption");
    out_.done(DoneKind::DoneProc, done::Error, curcmd::Exec, 0);
}

void Executor::spDbOption(const std::vector<Literal>& args)
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
            if (o.bit != 0 && ((db->status & o.bit) != 0 || (o.bit == 512 && db->state == DatabaseState::Offline))) {
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
    // The option is carried out by ALTER DATABASE, and refused where it is.
    if (const std::vector<Message> refusal = dbOptionRefusal(*db, option->bit); !refusal.empty()) {
        for (const Message& m : refusal)
            info(m, Proc);
        out_.done(DoneKind::DoneProc, done::Error, curcmd::Exec, 0);
        return;
    }
    // Mirroring and availability groups forbid truncating the log.
    if (option->bit == Database::TruncLogOnChkpt && *value && db->availabilityGroup && hasCatalogViews(generation())) {
        info(makeMessage(1468, {db->name}), Proc);
        info(makeMessage(15627), Proc);
        out_.done(DoneKind::DoneProc, done::Error, curcmd::Exec, 0);
        return;
    }
    if (option->bit != 0) {
        if (*value && option->bit == Database::TruncLogOnChkpt)
            db->setRecovery(RecoveryModel::Simple);  // which ends the log backup chain
        else if (*value)
            db->status |= option->bit;
        else
            db->status &= ~option->bit;
        if (option->bit == 512) {
            db->state = *value ? DatabaseState::Offline : DatabaseState::Online;
            db->status &= ~512;  // kept in `state`; sysdatabases adds the bit back
        }
    }
    out_.done(DoneKind::DoneInProc, 0, curcmd::Select, 0);
    out_.done(DoneKind::DoneProc, 0, curcmd::Exec, 0);
}

// LIKE '%opt%'; several matches are fine when one is the exact name.
const DbOption* Executor::findOption(const std::u16string& given)
{
    const QString pattern = u'%' + qs(given).trimmed() + u'%';
    std::vector<const DbOption*> found;
    for (const DbOption& o : DbOptions)
        if (like(QString::fromUtf16(o.name), pattern))
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
} // namespace sandbox::sql
