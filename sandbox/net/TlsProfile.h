// The TLS a SQL Server build speaks, and the certificate it makes for itself
// at start when none was installed.
#pragma once

#include "sandbox/sql/Generation.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace sandbox {

// The protocol versions a server's handshake accepts.
enum class TlsProtocol {
    Tls10,  // TLS 1.0 only: before the TLS 1.2 update, and 2000 on Windows Server 2003
    Tls12,  // TLS 1.2
};

// Whether a build of a generation has TLS 1.2: 2016 on from its first build,
// 2008 to 2014 from the update each servicing branch received, never 2000
// or 2005.
bool speaksTls12(Generation g, std::uint16_t build);
// What the build the sandbox reports for a generation speaks.
TlsProtocol defaultTlsProtocol(Generation g);
// Whether any build of the generation speaks exactly that.
bool tlsProtocolExists(Generation g, TlsProtocol p);

std::optional<TlsProtocol> tlsProtocolNamed(std::string_view name);  // "1.0", "1.2"
const char* tlsProtocolName(TlsProtocol p);

// The certificate "SSL_Self_Signed_Fallback" of a generation (2005 on).
struct SelfSignedKind {
    int rsaBits;
    bool sha256;  // else SHA-1
    bool operator==(const SelfSignedKind&) const = default;
};
SelfSignedKind selfSignedKind(Generation g);

} // namespace sandbox
