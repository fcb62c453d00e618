#include "sandbox/net/Tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

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
    void operator()(FILE* f) const { std::fclose(f); }
};
template <class T>
using Owned = std::unique_ptr<T, Freer>;

// TLS 1.2 at most: a 1.3 server sends session tickets after the handshake,
// which a TDS client, reading PRELOGIN packets only until it is done, would
// take for the start of the next packet.
Owned<SSL_CTX> serverContext()
{
    Owned<SSL_CTX> ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx)
        throw std::runtime_error("TLS: cannot make a context: " + lastError());
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_TICKET);
    return ctx;
}

Owned<FILE> openFile(const std::string& path, const char* what)
{
    Owned<FILE> f(std::fopen(path.c_str(), "r"));
    if (!f)
        throw std::runtime_error("cannot read the " + std::string(what) + " file '" + path + "'");
    return f;
}

} // namespace

TlsCredentials::~TlsCredentials() { SSL_CTX_free(context_); }

std::shared_ptr<const TlsCredentials> TlsCredentials::selfSigned()
{
    static std::mutex mutex;
    static std::shared_ptr<const TlsCredentials> made;
    std::lock_guard lock(mutex);
    if (made)
        return made;

    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    Owned<X509> cert(X509_new());
    if (!key || !cert)
        throw std::runtime_error("TLS: cannot make a key: " + lastError());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("SSL_Self_Signed_Fallback"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("TLS: cannot sign the certificate: " + lastError());

    Owned<SSL_CTX> ctx = serverContext();
    if (SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 || SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1)
        throw std::runtime_error("TLS: cannot use the certificate: " + lastError());
    made = std::shared_ptr<const TlsCredentials>(new TlsCredentials(ctx.release()));
    return made;
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
    Owned<SSL_CTX> ctx = serverContext();
    if (SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 || SSL_CTX_use_PrivateKey(ctx.get(), privateKey.get()) != 1)
        throw std::runtime_error("the certificate '" + certificate + "' cannot be used: " + lastError());
    if (SSL_CTX_check_private_key(ctx.get()) != 1)
        throw std::runtime_error("the key '" + key + "' does not belong to the certificate '" + certificate + "'");
    return std::shared_ptr<const TlsCredentials>(new TlsCredentials(ctx.release()));
}

TlsChannel::TlsChannel(const TlsCredentials& credentials, Connection& raw) : raw_(raw)
{
    ssl_ = SSL_new(credentials.context());
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
