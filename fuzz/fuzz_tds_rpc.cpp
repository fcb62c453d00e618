// Procedure calls (packet type 0x03) from a logged-in client, as the session
// takes them: ALL_HEADERS skipped, the parameter stream with its TYPE_INFO and
// length prefixes read in both layouts, then what the call stands for.
#include "FuzzSupport.h"

#include "sandbox/net/Procedures.h"
#include "sandbox/sql/Names.h"
#include "sandbox/sql/Parser.h"
#include "sandbox/tds/Batch.h"
#include "sandbox/tds/Rpc.h"

#include <span>
#include <variant>

namespace {

using namespace sandbox;

// A call of a procedure other than the system ones ODBC drivers use (a name
// ending in one of theirs is left out, whatever its owner).
bool calledByName(const tds::RpcRequest& call)
{
    static constexpr std::u16string_view System[] = {u"sp_executesql", u"sp_prepare", u"sp_execute", u"sp_prepexec",
                                                     u"sp_unprepare"};
    if (call.procId != 0)
        return false;
    for (const std::u16string_view name : System)
        if (call.procName.size() >= name.size()
            && equalsIgnoreCase(std::u16string_view(call.procName).substr(call.procName.size() - name.size()), name))
            return false;
    return true;
}

void plan(const tds::RpcRequest& call)
{
    // A session that has prepared one statement already, so that sp_execute
    // and sp_unprepare find a handle.
    Procedures procedures;
    tds::RpcRequest prepare;
    prepare.procId = tds::procid::Prepare;
    prepare.params.resize(3);
    prepare.params[0].name = u"@handle";
    prepare.params[2].text = u"select 1";
    FUZZ_CHECK(procedures.plan(prepare).handle == 1);

    const ProcedurePlan p = procedures.plan(call);
    FUZZ_CHECK(!(p.refusal && (p.sql || p.handleName)));
    FUZZ_CHECK(!p.handleName || p.handle > 0);
    FUZZ_CHECK(procedures.prepared() <= Procedures::MaxPrepared);
    if (p.sql && calledByName(call)) {
        // Any other procedure runs as exactly one EXEC of it.
        try {
            const auto statements = sql::parseBatch(*p.sql);
            FUZZ_CHECK(statements.size() == 1 && std::holds_alternative<sql::ExecStmt>(statements[0].body));
        } catch (const sql::SyntaxError&) {
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::span<const std::uint8_t> payload(data, size);
    payload = payload.subspan(tds::allHeadersLength(payload));
    for (const tds::Layout layout : {tds::Layout::Tds71, tds::Layout::Tds72}) {
        const auto call = tds::parseRpc(payload, layout);
        if (!call)
            continue;
        FUZZ_CHECK(call->procName.size() * 2 <= size);
        FUZZ_CHECK(call->procName.empty() || call->procId == 0);
        for (const tds::RpcParam& p : call->params) {
            // A value is read as one thing at most.
            FUZZ_CHECK(!(p.integer && p.text));
            FUZZ_CHECK(!(p.isNull && (p.integer || p.text)));
            FUZZ_CHECK(p.name.size() * 2 <= size);
        }
        plan(*call);
    }
    return 0;
}
