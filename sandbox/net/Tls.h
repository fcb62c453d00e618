// TLS for sessions, by OpenSSL. As TDS has it: the handshake travels inside
// PRELOGIN packets, then TLS records go straight on the socket, carrying
// whole TDS packets - only LOGIN7 when the client and server agreed on
// ENCRYPT_OFF, everything when on ENCRYPT_ON or ENCRYPT_REQ.
#pragma once

#include "sandbox/net/Socket.h"
#include "sandbox/net/TlsProfile.h"
#include "sandbox/tds/Packet.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct evp_pkey_st;
struct ssl_ctx_st;
struct ssl_st;
struct x509_st;

namespace sandbox {

// A server certificate and its key.
class TlsCredentials {
public:
    // A certificate made up here, as SQL Server makes one at start when none
    // was installed ("SSL_Self_Signed_Fallback"); one of each kind per process.
    static std::shared_ptr<const TlsCredentials> selfSigned(SelfSignedKind kind);
    // PEM files; throws std::runtime_error saying what is wrong with which.
    static std::shared_ptr<const TlsCredentials> fromPemFiles(const std::string& certificate, const std::string& key);

    ~TlsCredentials();
    TlsCredentials(const TlsCredentials&) = delete;
    TlsCredentials& operator=(const TlsCredentials&) = delete;

    x509_st* certificate() const { return certificate_; }
    evp_pkey_st* key() const { return key_; }

private:
    TlsCredentials(x509_st* certificate, evp_pkey_st* key) : certificate_(certificate), key_(key) {}
    x509_st* certificate_;
    evp_pkey_st* key_;
};

// What one server's sessions encrypt with: its credentials, and the protocol
// versions its build speaks.
class TlsContext {
public:
    // Throws std::runtime_error when OpenSSL cannot use the credentials so.
    TlsContext(std::shared_ptr<const TlsCredentials> credentials, TlsProtocol protocol);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* context() const { return context_; }

private:
    std::shared_ptr<const TlsCredentials> credentials_;
    ssl_ctx_st* context_ = nullptr;
};

// One session's TLS: handshake steps first, then a byte source and sink
// over the raw connection.
class TlsChannel final : public tds::ByteSource {
public:
    TlsChannel(const TlsContext& context, Connection& raw);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Feeds what the client sent in one PRELOGIN message; the answer to send
    // back (possibly nothing), or nullopt when the handshake failed.
    std::optional<std::vector<std::uint8_t>> handshake(std::span<const std::uint8_t> fromClient);
    bool established() const;

    bool readExact(std::uint8_t* data, std::size_t size) override;
    // Bytes already off the socket that a read would return first.
    bool hasBuffered() const;
    bool writeAll(const std::uint8_t* data, std::size_t size);

private:
    std::vector<std::uint8_t> drainOutput();

    Connection& raw_;
    ssl_st* ssl_ = nullptr;
};

} // namespace sandbox
