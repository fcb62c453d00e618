#include "db/discovery/DiscoveryProtocol.h"

#include "db/Text.h"

#include <algorithm>

namespace db::ssrp {

namespace {

// Splits RESP_DATA at ';' one field at a time, never looking past its end.
class FieldReader {
public:
    explicit FieldReader(std::string_view data) : data_(data) {}

    bool atEnd() const { return pos_ == data_.size(); }

    // The next field; nothing if the data ends before its closing ';'.
    std::optional<std::string_view> next()
    {
        const auto semicolon = data_.find(';', pos_);
        if (semicolon == std::string_view::npos)
            return std::nullopt;
        const auto field = data_.substr(pos_, semicolon - pos_);
        pos_ = semicolon + 1;
        return field;
    }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

bool sameAscii(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// "<key>;<value>;" with the key as given; the value must not be empty (an
// empty field is the end of a record).
std::optional<std::string_view> keyedValue(FieldReader& reader, std::string_view key)
{
    const auto name = reader.next();
    if (!name || !sameAscii(*name, key))
        return std::nullopt;
    const auto value = reader.next();
    if (!value || value->empty())
        return std::nullopt;
    return value;
}

std::optional<std::uint16_t> portNumber(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::optional<InstanceRecord> readRecord(FieldReader& reader)
{
    const auto server = keyedValue(reader, "ServerName");
    if (!server || server->size() > MaxNameBytes)
        return std::nullopt;
    const auto instance = keyedValue(reader, "InstanceName");
    if (!instance || instance->size() > MaxNameBytes)
        return std::nullopt;
    const auto clustered = keyedValue(reader, "IsClustered");
    if (!clustered)
        return std::nullopt;
    const auto version = keyedValue(reader, "Version");
    if (!version)
        return std::nullopt;

    InstanceRecord record;
    record.serverName = decodeText(*server);
    record.instanceName = decodeText(*instance);
    record.isClustered = decodeText(*clustered);
    record.version = decodeText(*version);

    // Protocol entries ("np;<pipe>", "tcp;<port>", "via;...", ...) until the
    // empty field of the closing ";;". Some carry more than one value, so they
    // are not read as strict pairs: a field "tcp" followed by a port number is
    // the TCP entry.
    bool afterTcp = false;
    for (;;) {
        const auto field = reader.next();
        if (!field)
            return std::nullopt; // the data ended inside the record
        if (field->empty())
            return record;
        if (afterTcp && !record.tcpPort)
            record.tcpPort = portNumber(*field);
        afterTcp = sameAscii(*field, "tcp");
    }
}

void appendUtf16(std::u16string& out, char32_t code)
{
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
    } else {
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    }
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
std::optional<std::u16string> decodeUtf8(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2; code = lead & 0x1F; minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3; code = lead & 0x0F; minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4; code = lead & 0x07; minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (bytes.size() - i < length)
            return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        appendUtf16(out, code);
        i += length;
    }
    return out;
}

} // namespace

std::u16string InstanceRecord::displayName() const
{
    if (SameText(instanceName, DefaultInstanceName))
        return serverName;
    return serverName + u'\\' + instanceName;
}

std::vector<std::uint8_t> allInstancesRequest(std::uint8_t type)
{
    return {type};
}

std::optional<std::vector<InstanceRecord>> parseResponse(std::span<const std::uint8_t> datagram)
{
    if (datagram.size() < ResponseHeaderSize || datagram[0] != SvrResp)
        return std::nullopt;
    const std::size_t size = datagram[1] | (static_cast<std::size_t>(datagram[2]) << 8);
    if (datagram.size() - ResponseHeaderSize != size || size == 0)
        return std::nullopt;

    const std::string_view data(reinterpret_cast<const char*>(datagram.data() + ResponseHeaderSize), size);
    if (data.find('\0') != std::string_view::npos)
        return std::nullopt;

    std::vector<InstanceRecord> records;
    FieldReader reader(data);
    while (!reader.atEnd()) {
        auto record = readRecord(reader);
        if (!record)
            return std::nullopt;
        records.push_back(std::move(*record));
    }
    return records;
}

std::u16string decodeText(std::string_view bytes)
{
    if (auto utf8 = decodeUtf8(bytes))
        return std::move(*utf8);
    std::u16string latin1;
    latin1.reserve(bytes.size());
    for (const char c : bytes)
        latin1.push_back(static_cast<unsigned char>(c));
    return latin1;
}

} // namespace db::ssrp
