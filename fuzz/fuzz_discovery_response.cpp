// The answers to a discovery broadcast: any host on the network may send any
// datagram to the client's port, so each one is a SVR_RESP candidate.
#include "FuzzSupport.h"

#include "db/discovery/DiscoveryProtocol.h"

#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace db::ssrp;
    const auto records = parseResponse(std::span(data, size));
    if (records) {
        FUZZ_CHECK(!records->empty());
        for (const InstanceRecord& r : *records) {
            // Decoding never yields more UTF-16 units than it was given bytes.
            FUZZ_CHECK(!r.serverName.empty() && r.serverName.size() <= MaxNameBytes);
            FUZZ_CHECK(!r.instanceName.empty() && r.instanceName.size() <= MaxNameBytes);
            FUZZ_CHECK(!r.isClustered.empty() && !r.version.empty());
            FUZZ_CHECK(!r.tcpPort || *r.tcpPort != 0);
            FUZZ_CHECK(r.displayName().size() >= r.serverName.size());
        }
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(decodeText(bytes).size() <= size);
    return 0;
}
