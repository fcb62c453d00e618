// The first messages of a connection, before any login check: PRELOGIN and
// LOGIN7 as any TCP client may send them. Both parsers see every input.
#include "FuzzSupport.h"

#include "sandbox/tds/Login.h"

#include <algorithm>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sandbox::tds;
    const std::span<const std::uint8_t> payload(data, size);

    if (const auto prelogin = parsePrelogin(payload)) {
        for (const bool canEncrypt : {false, true})
            for (const bool required : {false, true}) {
                const EncryptionAgreement agreed = agreeEncryption(prelogin->encryption, canEncrypt, required);
                // No certificate, no TLS; the server's answer is one of the four values.
                FUZZ_CHECK(canEncrypt || agreed.use == TlsUse::None || agreed.use == TlsUse::Refuse);
                FUZZ_CHECK(agreed.answer <= encrypt::Required);
                // Our own reply must be a table our own reader accepts.
                const auto reply = parsePrelogin(preloginReply(*prelogin, {8, 0, 7, 0xF7}, agreed.answer));
                FUZZ_CHECK(reply && reply->askedMars == prelogin->askedMars && reply->encryption == agreed.answer);
            }
    }

    if (const auto login = parseLogin7(payload)) {
        // Every field lies inside the record, two bytes a character.
        for (const std::u16string* field : {&login->hostName, &login->userName, &login->password, &login->appName,
                                            &login->serverName, &login->libraryName, &login->language,
                                            &login->database})
            FUZZ_CHECK(field->size() * 2 <= size);
    }

    // Unscrambling loses nothing: scrambling again gives the bytes back.
    const auto even = payload.first(size & ~std::size_t{1});
    const auto again = encodePassword(decodePassword(even));
    FUZZ_CHECK(std::equal(again.begin(), again.end(), even.begin(), even.end()));
    return 0;
}
