#include "db/discovery/DiscoveryProtocol.h"

#include "db/Text.h"

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

std::optional<std::vector<std::uint8_t>> instanceRequest(std::u16string_view instance)
{
    constexpr std::size_t MaxInstanceNameBytes = 32;
    const std::string name = toUtf8(instance);
    if (name.empty() || name.size() > MaxInstanceNameBytes || name.find('\0') != std::string::npos)
        return std::nullopt;
    std::vector<std::uint8_t> request = {ClntUcastInst};
    request.insert(request.end(), name.begin(), name.end());
    request.push_back(0);
    return request;
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
    if (auto utf8 = fromStrictUtf8(bytes))
        return std::move(*utf8);
    return asciiToUtf16(bytes);
}

} // namespace db::ssrp
