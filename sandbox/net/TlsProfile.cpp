#include "sandbox/net/TlsProfile.h"

#include <limits>

namespace sandbox {

namespace {

constexpr std::uint16_t Open = std::numeric_limits<std::uint16_t>::max();

// Builds [first, end) of one servicing branch that have TLS 1.2 (KB3135244);
// `end` is the first build of the next branch, which answers for itself.
struct Tls12Builds {
    Generation generation;
    std::uint16_t first, end;
};
constexpr Tls12Builds Tls12Branches[] = {
    {Generation::Sql2008, 6547, Open},    // SP4 with the update
    {Generation::Sql2008R2, 6542, Open},  // SP3 with the update
    {Generation::Sql2012, 5352, 5532},    // SP2 GDR update (SP2 CU1 is 5532)
    {Generation::Sql2012, 5644, 6020},    // SP2 CU10 on (SP3 is 6020)
    {Generation::Sql2012, 6216, 6518},    // SP3 GDR update (SP3 CU1 is 6518)
    {Generation::Sql2012, 6518, Open},    // SP3 CU1 on, SP4
    {Generation::Sql2014, 2271, 2342},    // RTM GDR update (RTM CU1 is 2342)
    {Generation::Sql2014, 2564, 4100},    // RTM CU12 on (SP1 is 4100)
    {Generation::Sql2014, 4219, 4416},    // SP1 GDR update (SP1 CU1 is 4416)
    {Generation::Sql2014, 4439, Open},    // SP1 CU5 on, SP2, SP3
};

} // namespace

bool speaksTls12(Generation g, std::uint16_t build)
{
    if (g >= Generation::Sql2016)
        return true;
    for (const Tls12Builds& b : Tls12Branches)
        if (b.generation == g && build >= b.first && (build < b.end || b.end == Open))
            return true;
    return false;
}

TlsProtocol defaultTlsProtocol(Generation g)
{
    return speaksTls12(g, generationInfo(g).build) ? TlsProtocol::Tls12 : TlsProtocol::Tls10;
}

bool tlsProtocolExists(Generation g, TlsProtocol p)
{
    // TLS 1.2 came to 2008 at the earliest; every 2016 and later build has it.
    return p == TlsProtocol::Tls12 ? g >= Generation::Sql2008 : g < Generation::Sql2016;
}

std::optional<TlsProtocol> tlsProtocolNamed(std::string_view name)
{
    if (name == "1.0")
        return TlsProtocol::Tls10;
    if (name == "1.2")
        return TlsProtocol::Tls12;
    return std::nullopt;
}

const char* tlsProtocolName(TlsProtocol p) { return p == TlsProtocol::Tls10 ? "1.0" : "1.2"; }

SelfSignedKind selfSignedKind(Generation g)
{
    if (g >= Generation::Sql2022)
        return {3072, true};
    if (g >= Generation::Sql2017)
        return {2048, true};
    return {1024, false};
}

} // namespace sandbox
