// A TDS server answering like SQL Server 2000 to 2022, for tests and the demo.
#pragma once

#include "sandbox/net/Tls.h"
#include "sandbox/sql/Catalog.h"
#include "sandbox/sql/Engine.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sandbox {

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    std::uint16_t port = 0;              // 0: an ephemeral port, see Server::port()
    std::u16string password = u"sandbox";
    std::u16string serverName = u"SANDBOX"; // in ERROR/INFO tokens and @@SERVERNAME
    std::string transcriptFile;          // empty: keep the transcript in memory only
    Catalog catalog = Catalog::defaults();
    // None: from 2005 on a self-signed one, as those servers make when none
    // was installed; 2000 then cannot encrypt.
    std::shared_ptr<const TlsCredentials> certificate;
    // None: what the build the generation reports speaks (TLS 1.0 before the
    // TLS 1.2 update, see defaultTlsProtocol).
    std::optional<TlsProtocol> tls;
    bool forceEncryption = false;        // answer ENCRYPT_REQ: everything in TLS
};

// Where a batch stands among every batch that any server of this process
// received, and the session it came on: orders sessions of different
// servers without a clock.
struct BatchMark {
    std::uint64_t order = 0;
    std::uint16_t spid = 0;
};

class Server {
public:
    explicit Server(ServerOptions options);
    ~Server();  // stops, joins every session
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    void start();  // binds and listens; throws std::runtime_error on failure
    void stop();   // closes the listener and every session
    std::uint16_t port() const;

    // Every SQL batch received, verbatim, in arrival order (never a password).
    std::vector<std::u16string> transcript() const;
    void clearTranscript();
    // One mark per batch of the transcript, in the same order (also
    // cleared by clearTranscript).
    std::vector<BatchMark> batchMarks() const;

    Engine& engine();                 // faults and catalog
    void setRefuseLogins(bool refuse);
    int activeSessions() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sandbox
