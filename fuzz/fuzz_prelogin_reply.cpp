// The answer to the version probe's PRELOGIN: whatever listens at the address
// a user typed may send any bytes, before any login or TLS.
#include "FuzzSupport.h"

#include "db/discovery/Prelogin.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace prelogin = db::prelogin;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto length = prelogin::packetLength(bytes);
    FUZZ_CHECK(length.has_value() == (size >= prelogin::PacketHeaderSize));
    if (const auto version = prelogin::serverVersion(bytes)) {
        // Only a whole packet of its own length yields one, from a TDS 7 server.
        FUZZ_CHECK(length && *length == size);
        FUZZ_CHECK(version->major >= 7 && version->major <= 255);
        FUZZ_CHECK(version->minor >= 0 && version->minor <= 255);
        FUZZ_CHECK(version->build >= 0 && version->build <= 65535);
    }
    return 0;
}
