// TLS as SQL Server does it, through the real FreeTDS ODBC driver at TDS 7.1
// and 7.4 and a relay that keeps what the server sends: its handshake in
// PRELOGIN packets, the certificate it makes for itself, the protocol
// version each build speaks, and what a client that will not speak TLS 1.0
// meets.
#include "LoopbackRelay.h"
#include "OdbcProbe.h"

#include "sandbox/net/Server.h"
#include "sandbox/net/TlsProfile.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using sandbox::Generation;
using sandbox::TlsProtocol;

using testsupport::TdsVersions;

namespace {

constexpr std::uint16_t Tls10 = 0x0301, Tls12 = 0x0303;

// One SQLDriverConnect: whether it connected, else its diagnostics.
struct Outcome {
    bool connected = false;
    std::vector<std::string> diagnostics;  // "SQLSTATE native message"
};

Outcome connect(const std::string& text)
{
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::vector<SQLCHAR> in(text.begin(), text.end());
    in.push_back(0);
    Outcome o;
    o.connected = SQL_SUCCEEDED(
        SQLDriverConnect(dbc, nullptr, in.data(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
    if (o.connected) {
        SQLDisconnect(dbc);
    } else {
        SQLCHAR state[6] = {}, message[512] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        for (SQLSMALLINT i = 1; SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_DBC, dbc, i, state, &native, message,
                                                             sizeof message, &length));
             ++i)
            o.diagnostics.push_back(std::string(reinterpret_cast<char*>(state)) + " " + std::to_string(native) + " "
                                    + reinterpret_cast<char*>(message));
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return o;
}

std::size_t be(const std::string& s, std::size_t at, int bytes)
{
    std::size_t v = 0;
    for (int i = 0; i < bytes && at + static_cast<std::size_t>(i) < s.size(); ++i)
        v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

// The server's side of the TLS handshake, read back from its bytes: the TDS
// packets that carry it, and what its clear part says.
struct ServerHandshake {
    std::vector<int> packetTypes;
    std::size_t version = 0;  // of the ServerHello
    std::string certificate;  // DER, the first of the chain
};

ServerHandshake serverHandshake(const std::string& fromServer)
{
    ServerHandshake h;
    std::string records;
    // TDS packets until TLS records go straight on the socket.
    for (std::size_t at = 0; at + 8 <= fromServer.size();) {
        const int type = static_cast<unsigned char>(fromServer[at]);
        const std::size_t length = be(fromServer, at + 2, 2);
        if ((type != 0x04 && type != 0x12) || length < 8 || at + length > fromServer.size())
            break;
        const std::string payload = fromServer.substr(at + 8, length - 8);
        // A TLS handshake or ChangeCipherSpec record, not a PRELOGIN or token reply.
        if (payload.size() > 5 && (payload[0] == 0x16 || payload[0] == 0x14) && payload[1] == 0x03) {
            h.packetTypes.push_back(type);
            records += payload;
        }
        at += length;
    }
    // Handshake messages are clear up to ChangeCipherSpec.
    std::string messages;
    for (std::size_t at = 0; at + 5 <= records.size() && records[at] == 0x16; at += 5 + be(records, at + 3, 2))
        messages += records.substr(at + 5, be(records, at + 3, 2));
    for (std::size_t at = 0; at + 4 <= messages.size(); at += 4 + be(messages, at + 1, 3)) {
        const std::string body = messages.substr(at + 4, be(messages, at + 1, 3));
        if (messages[at] == 2)  // ServerHello
            h.version = be(body, 0, 2);
        if (messages[at] == 11 && body.size() > 6)  // Certificate
            h.certificate = body.substr(6, be(body, 3, 3));
    }
    return h;
}

struct Certificate {
    int keyType = 0;
    int bits = 0;
    std::string commonName;
    int signature = 0;
    int validDays = 0;
};

Certificate inspect(const std::string& der)
{
    Certificate c;
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const std::unique_ptr<X509, decltype(&X509_free)> x(d2i_X509(nullptr, &p, static_cast<long>(der.size())),
                                                        X509_free);
    if (!x)
        return c;
    const EVP_PKEY* key = X509_get0_pubkey(x.get());
    c.keyType = EVP_PKEY_get_base_id(key);
    c.bits = EVP_PKEY_get_bits(key);
    const X509_NAME* subject = X509_get_subject_name(x.get());
    const int cn = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    unsigned char* utf8 = nullptr;
    if (cn >= 0) {
        const int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, cn)));
        if (n > 0)
            c.commonName.assign(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
        OPENSSL_free(utf8);
    }
    c.signature = X509_get_signature_nid(x.get());
    int seconds = 0;
    ASN1_TIME_diff(&c.validDays, &seconds, X509_get0_notBefore(x.get()), X509_get0_notAfter(x.get()));
    return c;
}

sandbox::ServerOptions serverOptions(Generation g, std::optional<TlsProtocol> tls)
{
    sandbox::ServerOptions o;
    o.catalog.generation = g;
    o.tls = tls;
    if (g == Generation::Sql2000)  // makes none of its own
        o.certificate = sandbox::TlsCredentials::selfSigned({2048, true});
    return o;
}

std::string odbcText(std::uint16_t port, const char* tds)
{
    return "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(port) + ";UID=sa;PWD=sandbox;TDS_Version="
           + tds + ";Encryption=request";
}

TEST(Tls, EachBuildAnswersTheHandshakeAsSqlServerDoes)
{
    struct Case {
        const char* what;
        Generation generation;
        std::optional<TlsProtocol> tls;
        std::size_t version;
        int bits;  // of the certificate it makes; 0: one was installed
        int signature;
    };
    const int sha1 = NID_sha1WithRSAEncryption, sha256 = NID_sha256WithRSAEncryption;
    const Case cases[] = {
        {"2000 SP4, certificate installed", Generation::Sql2000, {}, Tls10, 0, 0},
        {"2005 SP4", Generation::Sql2005, {}, Tls10, 1024, sha1},
        {"2008 SP4", Generation::Sql2008, {}, Tls10, 1024, sha1},
        {"2008 SP4 with the TLS 1.2 update", Generation::Sql2008, TlsProtocol::Tls12, Tls12, 1024, sha1},
        {"2008 R2 SP3", Generation::Sql2008R2, {}, Tls10, 1024, sha1},
        {"2012 SP4", Generation::Sql2012, {}, Tls12, 1024, sha1},
        {"2014 without the TLS 1.2 update", Generation::Sql2014, TlsProtocol::Tls10, Tls10, 1024, sha1},
        {"2016 SP3", Generation::Sql2016, {}, Tls12, 1024, sha1},
        {"2017 CU31", Generation::Sql2017, {}, Tls12, 2048, sha256},
        {"2022 CU12", Generation::Sql2022, {}, Tls12, 3072, sha256},
    };
    for (const Case& c : cases) {
        for (const char* tds : TdsVersions) {
            SCOPED_TRACE(std::string(c.what) + ", TDS " + tds);
            sandbox::Server server(serverOptions(c.generation, c.tls));
            server.start();
            testsupport::LoopbackRelay relay(server.port());
            const Outcome o = connect(odbcText(relay.port(), tds));
            ASSERT_TRUE(o.connected) << (o.diagnostics.empty() ? "" : o.diagnostics.front());

            const ServerHandshake h = serverHandshake(relay.fromServer());
            ASSERT_FALSE(h.packetTypes.empty());
            for (const int type : h.packetTypes)
                EXPECT_EQ(type, 0x12);
            EXPECT_EQ(h.version, c.version);
            if (c.bits == 0)
                continue;
            const Certificate cert = inspect(h.certificate);
            EXPECT_EQ(cert.keyType, EVP_PKEY_RSA);
            EXPECT_EQ(cert.bits, c.bits);
            EXPECT_EQ(cert.commonName, "SSL_Self_Signed_Fallback");
            EXPECT_EQ(cert.signature, c.signature);
            EXPECT_EQ(cert.validDays / 365, 30);
        }
    }
}

// The freetds.conf that FreeTDS reads for a "Servername=" connection, named
// before any thread starts; write() gives its text.
class ConfFile {
public:
    ConfFile()
        : path_(std::filesystem::temp_directory_path() / ("sqllogclean-tls-" + std::to_string(::getpid()) + ".conf"))
    {
        ::setenv("FREETDSCONF", path_.c_str(), 1);
    }
    ~ConfFile()
    {
        ::unsetenv("FREETDSCONF");
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    ConfFile(const ConfFile&) = delete;
    ConfFile& operator=(const ConfFile&) = delete;

    void write(const std::string& text) const { std::ofstream(path_) << text; }

private:
    std::filesystem::path path_;
};

// As FreeTDS 1.4 and later are by default, or any client under a system
// policy without TLS 1.0: the handshake fails on the client's side, after
// the server's TLS 1.0 ServerHello, unless nothing is encrypted at all.
TEST(Tls, AClientWithoutTls10CannotLogInToABuildWithoutTheUpdate)
{
    struct Case {
        const char* what;
        Generation generation;
        std::optional<TlsProtocol> tls;
        const char* encryption;
        bool connects;
    };
    const Case cases[] = {
        {"2008 R2 SP3, encryption requested", Generation::Sql2008R2, {}, "request", false},
        {"2008 R2 SP3, encryption required", Generation::Sql2008R2, {}, "require", false},
        {"2008 R2 SP3, encryption off: the login in clear", Generation::Sql2008R2, {}, "off", true},
        {"2012 without the update", Generation::Sql2012, TlsProtocol::Tls10, "request", false},
        {"2012 SP4", Generation::Sql2012, {}, "request", true},
    };
    const ConfFile conf;
    for (const Case& c : cases) {
        for (const char* tds : TdsVersions) {
            SCOPED_TRACE(std::string(c.what) + ", TDS " + tds);
            sandbox::Server server(serverOptions(c.generation, c.tls));
            server.start();
            testsupport::LoopbackRelay relay(server.port());
            conf.write("[sandbox]\n\thost = 127.0.0.1\n\tport = " + std::to_string(relay.port())
                       + "\n\tenable tls v1 = no\n");
            const Outcome o = connect(std::string("Driver=FreeTDS;Servername=sandbox;UID=sa;PWD=sandbox;TDS_Version=")
                                      + tds + ";Encryption=" + c.encryption);
            EXPECT_EQ(o.connected, c.connects);
            if (c.connects)
                continue;
            const std::vector<std::string> expected = {"08001 0 [FreeTDS][SQL Server]Unable to connect to data source",
                                                       "01000 20002 [FreeTDS][SQL Server]Adaptive Server connection failed"};
            EXPECT_EQ(o.diagnostics, expected);
            EXPECT_EQ(serverHandshake(relay.fromServer()).version, Tls10);
        }
    }
}

TEST(Tls, TheTls12UpdateIsInTheBuildsKb3135244Names)
{
    struct Case {
        Generation generation;
        std::uint16_t build;
        bool tls12;
    };
    const Case cases[] = {
        {Generation::Sql2005, 5324, false},   {Generation::Sql2008, 6535, false},
        {Generation::Sql2008, 6547, true},    {Generation::Sql2008R2, 6529, false},
        {Generation::Sql2008R2, 6542, true},  {Generation::Sql2012, 5343, false},  // SP2 GDR
        {Generation::Sql2012, 5352, true},    {Generation::Sql2012, 5641, false},  // SP2 CU9
        {Generation::Sql2012, 5644, true},    {Generation::Sql2012, 6020, false},  // SP3
        {Generation::Sql2012, 6216, true},    {Generation::Sql2012, 7001, true},
        {Generation::Sql2014, 2269, false},   {Generation::Sql2014, 2271, true},   // RTM GDR
        {Generation::Sql2014, 2560, false},   {Generation::Sql2014, 2564, true},   // RTM CU11, CU12
        {Generation::Sql2014, 4213, false},   {Generation::Sql2014, 4219, true},   // SP1 GDR
        {Generation::Sql2014, 4436, false},   {Generation::Sql2014, 4439, true},   // SP1 CU4, CU5
        {Generation::Sql2014, 5000, true},    {Generation::Sql2016, 1601, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sandbox::speaksTls12(c.generation, c.build), c.tls12)
            << sandbox::generationInfo(c.generation).name << " build " << c.build;
}

} // namespace
