#include "sandbox/tds/Login.h"

#include "sandbox/tds/Bytes.h"
#include "sandbox/tds/Tokens.h"

namespace sandbox::tds {

namespace {

namespace option {
constexpr std::uint8_t Version = 0;
constexpr std::uint8_t Encryption = 1;
constexpr std::uint8_t InstOpt = 2;
constexpr std::uint8_t ThreadId = 3;
constexpr std::uint8_t Mars = 4;
constexpr std::uint8_t Terminator = 0xFF;
} // namespace option

} // namespace

std::optional<PreloginRequest> parsePrelogin(std::span<const std::uint8_t> payload)
{
    PreloginRequest request;
    for (std::size_t i = 0;; i += 5) {
        if (i >= payload.size())
            return std::nullopt;  // no terminator
        const std::uint8_t type = payload[i];
        if (type == option::Terminator)
            break;
        if (i + 5 > payload.size())
            return std::nullopt;
        const std::size_t offset = be16(&payload[i + 1]);
        const std::size_t length = be16(&payload[i + 3]);
        if (offset + length > payload.size())
            return std::nullopt;
        if (type == option::Mars)
            request.askedMars = true;
        if (type == option::Encryption && length >= 1)
            request.encryption = payload[offset];
    }
    return request;
}

EncryptionAgreement agreeEncryption(std::uint8_t client, bool serverCanEncrypt, bool serverRequires)
{
    if (!serverCanEncrypt)
        return {encrypt::NotSupported, TlsUse::None};
    if (serverRequires)
        return {encrypt::Required, client == encrypt::NotSupported ? TlsUse::Refuse : TlsUse::Everything};
    switch (client) {
    case encrypt::Off: return {encrypt::Off, TlsUse::LoginOnly};
    case encrypt::NotSupported: return {encrypt::NotSupported, TlsUse::None};
    default: return {encrypt::On, TlsUse::Everything};
    }
}

std::vector<std::uint8_t> preloginReply(const PreloginRequest& request, const std::array<std::uint8_t, 4>& version,
                                        std::uint8_t encryption)
{
    struct Entry {
        std::uint8_t type;
        std::vector<std::uint8_t> data;
    };
    std::vector<Entry> entries = {
        {option::Version, {version[0], version[1], version[2], version[3], 0, 0}},
        {option::Encryption, {encryption}},
        {option::InstOpt, {0}},
        {option::ThreadId, {}},
    };
    if (request.askedMars)
        entries.push_back({option::Mars, {0}});

    std::vector<std::uint8_t> out;
    std::size_t dataAt = entries.size() * 5 + 1;
    for (const Entry& e : entries) {
        out.push_back(e.type);
        out.push_back(static_cast<std::uint8_t>(dataAt >> 8));
        out.push_back(static_cast<std::uint8_t>(dataAt & 0xFF));
        out.push_back(static_cast<std::uint8_t>(e.data.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(e.data.size() & 0xFF));
        dataAt += e.data.size();
    }
    out.push_back(option::Terminator);
    for (const Entry& e : entries)
        out.insert(out.end(), e.data.begin(), e.data.end());
    return out;
}

std::optional<Login7> parseLogin7(std::span<const std::uint8_t> payload)
{
    // Fixed part up to and including the database field's offset/length.
    constexpr std::size_t MinimumSize = 72;
    if (payload.size() < MinimumSize)
        return std::nullopt;
    const std::uint32_t declared = le32(payload.data());
    if (declared < MinimumSize || declared > payload.size())
        return std::nullopt;
    const auto record = payload.first(declared);

    Login7 login;
    login.tdsVersion = le32(&record[4]);
    login.packetSize = le32(&record[8]);
    login.integratedSecurity = (record[25] & 0x80) != 0;
    login.featureExtension = (record[27] & 0x10) != 0;

    bool ok = true;
    auto field = [&](std::size_t at) {
        const std::size_t offset = le16(&record[at]);
        const std::size_t chars = le16(&record[at + 2]);
        if (chars == 0)
            return std::span<const std::uint8_t>();
        if (offset + 2 * chars > record.size()) {
            ok = false;
            return std::span<const std::uint8_t>();
        }
        return record.subspan(offset, 2 * chars);
    };
    login.hostName = fromUcs2(field(36));
    login.userName = fromUcs2(field(40));
    login.password = decodePassword(field(44));
    login.appName = fromUcs2(field(48));
    login.serverName = fromUcs2(field(52));
    login.libraryName = fromUcs2(field(60));
    login.language = fromUcs2(field(64));
    login.database = fromUcs2(field(68));
    if (!ok)
        return std::nullopt;
    return login;
}

std::u16string decodePassword(std::span<const std::uint8_t> scrambled)
{
    std::vector<std::uint8_t> plain(scrambled.begin(), scrambled.end());
    for (std::uint8_t& b : plain) {
        const auto x = static_cast<std::uint8_t>(b ^ 0xA5);
        b = static_cast<std::uint8_t>((x << 4) | (x >> 4));
    }
    return fromUcs2(plain);
}

std::vector<std::uint8_t> encodePassword(std::u16string_view password)
{
    std::vector<std::uint8_t> out;
    for (char16_t c : password) {
        for (const auto b : {static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>(c >> 8)})
            out.push_back(static_cast<std::uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5));
    }
    return out;
}

} // namespace sandbox::tds
