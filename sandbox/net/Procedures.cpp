#include "sandbox/net/Procedures.h"

#include "sandbox/sql/Lexer.h"
#include "sandbox/sql/Names.h"
#include "sandbox/sql/Messages.h"

#include <climits>
#include <utility>
#include <vector>

namespace sandbox {

namespace {

ProcedurePlan refuse(std::u16string what)
{
    ProcedurePlan p;
    p.refusal = makeMessage(50000, {u"The sandbox does not support " + std::move(what) + u"."});
    return p;
}

ProcedurePlan run(std::u16string text)
{
    ProcedurePlan p;
    p.sql = std::move(text);
    return p;
}

std::optional<std::u16string> textAt(const tds::RpcRequest& call, std::size_t i)
{
    return i < call.params.size() ? call.params[i].text : std::nullopt;
}

// Drivers name the system procedures with or without their owner.
std::u16string bareName(std::u16string name)
{
    for (const std::u16string_view prefix : {u"master..", u"master.dbo.", u"dbo.", u"sys."})
        if (name.size() > prefix.size() && equalsIgnoreCase(std::u16string_view(name).substr(0, prefix.size()), prefix))
            name.erase(0, prefix.size());
    return name;
}

std::uint16_t procedureId(const tds::RpcRequest& call)
{
    if (call.procId != 0)
        return call.procId;
    const std::u16string name = bareName(call.procName);
    const std::pair<std::u16string_view, std::uint16_t> known[] = {
        {u"sp_executesql", tds::procid::ExecuteSql}, {u"sp_prepare", tds::procid::Prepare},
        {u"sp_execute", tds::procid::Execute},       {u"sp_prepexec", tds::procid::PrepExec},
        {u"sp_unprepare", tds::procid::Unprepare},
    };
    for (const auto& [procName, procId] : known)
        if (equalsIgnoreCase(name, procName))
            return procId;
    return 0;
}

// One object name (parts plain or quoted, joined by dots) and nothing else:
// no blanks, comments or further statements, which the EXEC text would run.
bool isObjectName(std::u16string_view name)
{
    std::vector<sql::Token> tokens;
    try {
        tokens = sql::tokenize(name, Generation::Sql2022);  // no keyword of the latest generation
    } catch (const sql::SyntaxError&) {
        return false;
    }
    std::size_t at = 0;
    bool afterName = false;
    for (const sql::Token& t : tokens) {
        if (t.kind == sql::TokenKind::End)
            break;
        const bool isName = t.kind == sql::TokenKind::QuotedIdentifier
                            || (t.kind == sql::TokenKind::Identifier && !t.isReserved());
        if (t.begin != at || !(isName ? !afterName : at > 0 && t.isSymbol(u".")))
            return false;
        afterName = isName;
        at = t.end;
    }
    return afterName && at == name.size();
}

// The EXEC statement a call of any other procedure stands for.
ProcedurePlan execText(const tds::RpcRequest& call)
{
    if (!isObjectName(call.procName)) {
        ProcedurePlan p;
        p.refusal = makeMessage(2812, {call.procName});
        return p;
    }
    std::u16string text = u"EXEC " + call.procName;
    for (std::size_t i = 0; i < call.params.size(); ++i) {
        const tds::RpcParam& p = call.params[i];
        if (p.output() || !p.usable())
            return refuse(u"output parameters or parameters of this type");
        text += i == 0 ? u" " : u", ";
        if (!p.name.empty())
            text += p.name + u" = ";
        if (p.isNull) {
            text += u"NULL";
        } else if (p.integer) {
            text += toU16(*p.integer);
        } else {
            text += u"N'";
            for (char16_t c : *p.text) {
                text.push_back(c);
                if (c == u'\'')
                    text.push_back(c);
            }
            text += u"'";
        }
    }
    return run(std::move(text));
}

} // namespace

ProcedurePlan Procedures::plan(const tds::RpcRequest& call)
{
    const auto& params = call.params;
    switch (procedureId(call)) {
    case tds::procid::ExecuteSql: {
        const auto text = textAt(call, 0);
        if (!text)
            return refuse(u"sp_executesql without a statement");
        if (params.size() > 2)
            return refuse(u"statement parameters");
        return run(*text);
    }
    case tds::procid::Prepare:
        return prepare(call, false);
    case tds::procid::PrepExec:
        return prepare(call, true);
    case tds::procid::Execute:
        return execute(call);
    case tds::procid::Unprepare:
        if (!params.empty() && params[0].integer)
            prepared_.erase(static_cast<std::int32_t>(*params[0].integer));
        return {};
    default:
        break;
    }
    if (call.procName.empty())
        return refuse(u"this system procedure id");
    return execText(call);
}

ProcedurePlan Procedures::prepare(const tds::RpcRequest& call, bool execute)
{
    const auto text = textAt(call, 2);
    if (!text || call.params.empty())
        return refuse(u"this form of prepared statement");
    if (call.params.size() > (execute ? 3u : 4u))
        return refuse(u"statement parameters");
    if (prepared_.size() >= MaxPrepared)
        return refuse(u"more than " + toU16(MaxPrepared) + u" prepared statements in one session");
    std::int32_t handle = nextHandle_;
    while (prepared_.count(handle) != 0)
        handle = handle == INT32_MAX ? 1 : handle + 1;
    nextHandle_ = handle == INT32_MAX ? 1 : handle + 1;
    prepared_[handle] = *text;
    ProcedurePlan p;
    p.handleName = call.params[0].name;
    p.handle = handle;
    if (execute)
        p.sql = *text;
    return p;
}

ProcedurePlan Procedures::execute(const tds::RpcRequest& call) const
{
    const auto& params = call.params;
    if (params.empty() || !params[0].integer)
        return refuse(u"sp_execute without a handle");
    if (params.size() > 1)
        return refuse(u"statement parameters");
    const auto handle = static_cast<std::int32_t>(*params[0].integer);
    const auto found = prepared_.find(handle);
    if (found == prepared_.end()) {
        ProcedurePlan p;
        p.refusal = makeMessage(8179, {toU16(handle)});
        return p;
    }
    return run(found->second);
}

} // namespace sandbox
