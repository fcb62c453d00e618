#include "sandbox/tds/Batch.h"

#include "sandbox/tds/Bytes.h"

namespace sandbox::tds {

std::size_t allHeadersLength(std::span<const std::uint8_t> p)
{
    if (p.size() < 4)
        return 0;
    const std::uint32_t total = le32(p.data());
    if (total < 4 + 6 || total > p.size())
        return 0;
    std::size_t at = 4;
    while (at < total) {
        if (at + 6 > total)
            return 0;
        const std::uint32_t length = le32(p.data() + at);
        const std::uint16_t type = le16(p.data() + at + 4);
        if (length < 6 || length > total - at || type == 0 || type > 3)
            return 0;
        at += length;
    }
    return total;
}

std::optional<std::u16string> batchText(std::span<const std::uint8_t> payload)
{
    payload = payload.subspan(allHeadersLength(payload));
    if (payload.size() % 2 != 0)
        return std::nullopt;
    return fromUcs2(payload);
}

} // namespace sandbox::tds
