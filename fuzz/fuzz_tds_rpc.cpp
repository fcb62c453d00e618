// Procedure calls (packet type 0x03) from a logged-in client: the parameter
// stream with its TYPE_INFO and length prefixes, read in both layouts.
#include "FuzzSupport.h"

#include "sandbox/tds/Rpc.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sandbox::tds;
    for (const Layout layout : {Layout::Tds71, Layout::Tds72}) {
        const auto rpc = parseRpc(std::span(data, size), layout);
        if (!rpc)
            continue;
        FUZZ_CHECK(rpc->procName.size() * 2 <= size);
        FUZZ_CHECK(rpc->procName.empty() || rpc->procId == 0);
        for (const RpcParam& p : rpc->params) {
            // A value is read as one thing at most.
            FUZZ_CHECK(!(p.integer && p.text));
            FUZZ_CHECK(!(p.isNull && (p.integer || p.text)));
            FUZZ_CHECK(p.name.size() * 2 <= size);
        }
    }
    return 0;
}
