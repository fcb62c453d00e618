#include "sandbox/net/Tls.h"

// TLSv1_server_method is deprecated, and the only way to be a TLS 1.0 server
// of before TLS 1.3 (see TlsContext).
#define OPENSSL_SUPPRESS_DEPRECATED

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <stdexcept>

namespace sandbox {

namespace {

std::string lastError()
{
    const unsigned long e = ERR_get_error();
    if (e == 0)
        return "unknown error";
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

struct Freer {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(FILE* f) const { std::fclose(f); }
};
template <class T>
using Owned = std::unique_ptr<T, Freer>;

Owned<FILE> openFile(const std::string& path, const char* what)
{
    Owned<FILE> f(std::fopen(path.c_str(), "r"));
    if (!f)
        throw std::runtime_error("cannot read the " + std::string(what) + " file '" + path + "'");
    return f;
}

constexpr char FallbackName[] = "SSL_Self_Signed_Fallback";
constexpr int ValidYears = 30;

// SQL Server's serial numbers are 16 random bytes.
bool setRandomSerial(X509* cert)
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7F) | 0x40);  // positive, all 16 bytes kept
    const Owned<BIGNUM> serial(BN_bin2bn(bytes, sizeof bytes, nullptr));
    return serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert)) != nullptr;
}

// From now to the same moment thirty years on.
bool setValidity(X509* cert)
{
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    gmtime_r(&now, &t);
    if (t.tm_mon == 1 && t.tm_mday == 29)
        t.tm_mday = 28;  // the thirtieth year after a leap day has none
    char until[32];
    std::snprintf(until, sizeof until, "%04d%02d%02d%02d%02d%02dZ", t.tm_year + 1900 + ValidYears, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return X509_gmtime_adj(X509_getm_notBefore(cert), 0) != nullptr
           && ASN1_TIME_set_string_X509(X509_getm_notAfter(cert), until) == 1;
}

// The common name as a BMPString, the way SQL Server writes it.
bool setFallbackName(X509* cert)
{
    unsigned char name[2 * (sizeof FallbackName - 1)];
    for (std::size_t i = 0; i + 1 < sizeof FallbackName; ++i) {
        name[2 * i] = 0;
        name[2 * i + 1] = static_cast<unsigned char>(FallbackName[i]);
    }
    X509_NAME* subject = X509_get_subject_name(cert);
    return X509_NAME_add_entry_by_NID(subject, NID_commonName, V_ASN1_BMPSTRING, name, sizeof name, -1, 0) == 1
           && X509_set_issuer_name(cert, subject) == 1;
}

} // namespace

TlsCredentials::~TlsCredentials()
{
    X509_free(certificate_);
    EVP_PKEY_free(key_);
}

std::shared_ptr<const TlsCredentials> TlsCredentials::selfSigned(SelfSignedKind kind)
{
    static std::mutex mutex;
    struct Made {
        SelfSignedKind kind;
        std::shared_ptr<const TlsCredentials> credentials;
    };
    static std::vector<Made> made;
    std::lock_guard lock(mutex);
    for (const Made& m : made)
        if (m.kind == kind)
            return m.credentials;

    Owned<EVP_PKEY> key(EVP_RSA_gen(static_cast<unsigned int>(kind.rsaBits)));
    Owned<X509> cert(X509_new());
    if (!key || !cert)
        throw std::runtime_error("TLS: cannot make a key: " + lastError());
    // Version 3, no extensions: what the servers' certificates hold.
    if (X509_set_version(cert.get(), 2) != 1 || !setRandomSerial(cert.get()) || !setValidity(cert.get())
        || X509_set_pubkey(cert.get(), key.get()) != 1 || !setFallbackName(cert.get())
        || X509_sign(cert.get(), key.get(), kind.sha256 ? EVP_sha256() : EVP_sha1()) == 0)
        throw std::runtime_error("TLS: cannot make the certificate: " + lastError());
    made.push_back({kind, std::shared_ptr<const TlsCredentials>(new TlsCredentials(cert.release(), key.release()))});
    return made.back().credentials;
}

std::shared_ptr<const TlsCredentials> TlsCredentials::fromPemFiles(const std::string& certificate,
                                                                   const std::string& key)
{
    const Owned<FILE> certFile = openFile(certificate, "certificate");
    Owned<X509> cert(PEM_read_X509(certFile.get(), nullptr, nullptr, nullptr));
    if (!cert)
        throw std::runtime_error("'" + certificate + "' holds no PEM certificate");
    const Owned<FILE> keyFile = openFile(key, "key");
    Owned<EVP_PKEY> privateKey(PEM_read_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr));
    if (!privateKey)
        throw std::runtime_error("'" + key + "' holds no PEM private key (or one with a pass phrase)");
    if (X509_check_private_key(cert.get(), privateKey.get()) != 1)
        throw std::runtime_error("the key '" + key + "' does not belong to the certificate '" + certificate + "'");
    return std::shared_ptr<const TlsCredentials>(new TlsCredentials(cert.release(), privateKey.release()));
}

// One protocol version exactly: a TLS 1.3 server would also send session
// tickets after the handshake, which a TDS client, reading PRELOGIN packets
// only until it is done, would take for the start of the next packet.
TlsContext::TlsContext(std::shared_ptr<const TlsCredentials> credentials, TlsProtocol protocol)
    : credentials_(std::move(credentials))
{
    // A server that knows nothing after TLS 1.0 answers any ClientHello with
    // 1.0, blind to the versions the client lists in an extension it does
    // not know; a client that refuses 1.0 then gives up itself. Only the
    // fixed-version method does that (the flexible one refuses at once).
    Owned<SSL_CTX> ctx(SSL_CTX_new(protocol == TlsProtocol::Tls10 ? TLSv1_server_method() : TLS_server_method()));
    if (!ctx)
        throw std::runtime_error("TLS: cannot make a context: " + lastError());
    if (protocol == TlsProtocol::Tls10) {
        SSL_CTX_set_security_level(ctx.get(), 0);  // OpenSSL 3 signs TLS 1.0's handshake at level 0 only
    } else {
        SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
        SSL_CTX_set_max_proto_version(ctx.get(), TLS1_2_VERSION);
        if (EVP_PKEY_get_bits(credentials_->key()) < 2048)
            SSL_CTX_set_security_level(ctx.get(), 1);  // the 1024-bit key of 2005 to 2016
    }
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_TICKET);
    if (SSL_CTX_use_certificate(ctx.get(), credentials_->certificate()) != 1
        || SSL_CTX_use_PrivateKey(ctx.get(), credentials_->key()) != 1)
        throw std::runtime_error("TLS: cannot use the certificate: " + lastError());
    context_ = ctx.release();
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

TlsChannel::TlsChannel(const TlsContext& context, Connection& raw) : raw_(raw)
{
    ssl_ = SSL_new(context.context());
    if (!ssl_)
        throw std::runtime_error("TLS: cannot start a session: " + lastError());
    // Memory BIOs: the bytes go where TDS says, wrapped or raw.
    SSL_set_bio(ssl_, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
    SSL_set_accept_state(ssl_);
}

TlsChannel::~TlsChannel() { SSL_free(ssl_); }

std::vector<std::uint8_t> TlsChannel::drainOutput()
{
    std::vector<std::uint8_t> out;
    BIO* wbio = SSL_get_wbio(ssl_);
    std::uint8_t chunk[4096];
    for (;;) {
        const int n = BIO_read(wbio, chunk, sizeof chunk);
        if (n <= 0)
            return out;
        out.insert(out.end(), chunk, chunk + n);
    }
}

std::optional<std::vector<std::uint8_t>> TlsChannel::handshake(std::span<const std::uint8_t> fromClient)
{
    if (!fromClient.empty()
        && BIO_write(SSL_get_rbio(ssl_), fromClient.data(), static_cast<int>(fromClient.size())) <= 0)
        return std::nullopt;
    const int rc = SSL_do_handshake(ssl_);
    if (rc != 1) {
        const int e = SSL_get_error(ssl_, rc);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
            return std::nullopt;
    }
    return drainOutput();
}

bool TlsChannel::established() const { return SSL_is_init_finished(ssl_) == 1; }

bool TlsChannel::readExact(std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const int n = SSL_read(ssl_, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (SSL_get_error(ssl_, n) != SSL_ERROR_WANT_READ)
            return false;
        // Records come straight off the socket.
        std::uint8_t chunk[16384];
        const std::size_t got = raw_.readSome(chunk, sizeof chunk);
        if (got == 0 || BIO_write(SSL_get_rbio(ssl_), chunk, static_cast<int>(got)) <= 0)
            return false;
    }
    return true;
}

bool TlsChannel::hasBuffered() const
{
    return SSL_pending(ssl_) > 0 || BIO_ctrl_pending(SSL_get_rbio(ssl_)) > 0;
}

bool TlsChannel::writeAll(const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const int n = SSL_write(ssl_, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        const std::vector<std::uint8_t> records = drainOutput();
        if (!raw_.writeAll(records.data(), records.size()))
            return false;
    }
    return true;
}

} // namespace sandbox
