// The two messages before a session exists: PRELOGIN and LOGIN7.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sandbox::tds {

// PRELOGIN's ENCRYPTION values.
namespace encrypt {
constexpr std::uint8_t Off = 0;           // only the login packet travels in TLS
constexpr std::uint8_t On = 1;            // everything does
constexpr std::uint8_t NotSupported = 2;  // nothing does
constexpr std::uint8_t Required = 3;      // the server insists on everything
} // namespace encrypt

struct PreloginRequest {
    bool askedMars = false;
    std::uint8_t encryption = encrypt::NotSupported;  // a client that does not say cannot encrypt
};

// What a session encrypts after PRELOGIN, and what the server answers.
enum class TlsUse { None, LoginOnly, Everything, Refuse };
struct EncryptionAgreement {
    std::uint8_t answer = encrypt::NotSupported;
    TlsUse use = TlsUse::None;
};
// As MS-TDS settles it: a server with a certificate answers the client's OFF
// with OFF (login only) and its ON with ON; one that requires encryption
// answers REQ and hangs up on a client that cannot; one without a
// certificate answers NOT_SUP.
EncryptionAgreement agreeEncryption(std::uint8_t client, bool serverCanEncrypt, bool serverRequires);

// nullopt: the option table is malformed.
std::optional<PreloginRequest> parsePrelogin(std::span<const std::uint8_t> payload);
// VERSION (the server's major, minor and build), ENCRYPTION as agreed,
// INSTOPT 0, an empty THREADID, and MARS off when the client asked about it.
std::vector<std::uint8_t> preloginReply(const PreloginRequest& request, const std::array<std::uint8_t, 4>& version,
                                        std::uint8_t encryption);

struct Login7 {
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;
    std::u16string hostName;
    std::u16string userName;
    std::u16string password;  // decoded
    std::u16string appName;
    std::u16string serverName;
    std::u16string libraryName;
    std::u16string language;
    std::u16string database;
    bool integratedSecurity = false;
    bool featureExtension = false;  // 7.4: the client asks for features
};

// Reads the fixed part and every offset/length pair; nullopt when it is too
// short or a field points outside the record. Works for the 7.0..7.4 layouts.
std::optional<Login7> parseLogin7(std::span<const std::uint8_t> payload);

// Clients scramble the password: nibbles swapped, then XOR 0xA5 (byte-wise).
std::u16string decodePassword(std::span<const std::uint8_t> scrambled);
std::vector<std::uint8_t> encodePassword(std::u16string_view password);

} // namespace sandbox::tds
