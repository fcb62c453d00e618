#include "sandbox/tds/Rpc.h"

#include "sandbox/tds/Bytes.h"

namespace sandbox::tds {

namespace {

// A bounds-checked cursor over the request; any overrun marks it failed.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> data) : d_(data) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return at_ >= d_.size(); }
    std::uint8_t peek() const { return at_ < d_.size() ? d_[at_] : 0; }

    std::span<const std::uint8_t> take(std::size_t n)
    {
        if (!ok_ || n > d_.size() - at_) {
            ok_ = false;
            return {};
        }
        const auto s = d_.subspan(at_, n);
        at_ += n;
        return s;
    }
    std::uint64_t uint(std::size_t width)
    {
        const auto s = take(width);
        std::uint64_t v = 0;
        for (std::size_t i = s.size(); i > 0; --i)
            v = (v << 8) | s[i - 1];
        return v;
    }
    std::u16string ucs2(std::size_t chars)
    {
        return fromUcs2(take(2 * chars));
    }

private:
    std::span<const std::uint8_t> d_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

std::int64_t signExtend(std::uint64_t v, std::size_t width)
{
    if (width == 0 || width >= 8)
        return static_cast<std::int64_t>(v);
    const std::uint64_t sign = 1ull << (8 * width - 1);
    return static_cast<std::int64_t>((v ^ sign) - sign);
}

enum class Kind { Integer, Unicode, Ansi, Other };

// Reads one parameter: name, status, TYPE_INFO and value.
bool readParam(Cursor& c, RpcParam& p)
{
    p.name = c.ucs2(c.uint(1));
    p.status = static_cast<std::uint8_t>(c.uint(1));
    p.type = static_cast<std::uint8_t>(c.uint(1));
    if (!c.ok())
        return false;

    auto fixed = [&](std::size_t width, Kind kind) {
        const auto bytes = c.take(width);
        if (kind == Kind::Integer && c.ok()) {
            std::uint64_t v = 0;
            for (std::size_t i = bytes.size(); i > 0; --i)
                v = (v << 8) | bytes[i - 1];
            p.integer = width == 1 ? static_cast<std::int64_t>(v) : signExtend(v, width);
        }
        return c.ok();
    };
    // Value with a length prefix of `lengthWidth` bytes; `nullLength` marks NULL.
    auto sized = [&](std::size_t lengthWidth, std::uint64_t nullLength, Kind kind) {
        const std::uint64_t n = c.uint(lengthWidth);
        if (!c.ok())
            return false;
        if (n == nullLength) {
            p.isNull = true;
            return true;
        }
        const auto bytes = c.take(static_cast<std::size_t>(n));
        if (!c.ok())
            return false;
        switch (kind) {
        case Kind::Integer: {
            std::uint64_t v = 0;
            for (std::size_t i = bytes.size(); i > 0; --i)
                v = (v << 8) | bytes[i - 1];
            p.integer = bytes.size() == 1 ? static_cast<std::int64_t>(v) : signExtend(v, bytes.size());
            break;
        }
        case Kind::Unicode: p.text = fromUcs2(bytes); break;
        case Kind::Ansi: p.text = fromCp1252(bytes); break;
        case Kind::Other: break;
        }
        return true;
    };

    switch (p.type) {
    case 0x1F: p.isNull = true; return true;                  // NULL type
    case 0x30: case 0x32: return fixed(1, Kind::Integer);     // tinyint, bit
    case 0x34: return fixed(2, Kind::Integer);                // smallint
    case 0x38: return fixed(4, Kind::Integer);                // int
    case 0x7F: return fixed(8, Kind::Integer);                // bigint
    case 0x3A: case 0x3B: case 0x7A: return fixed(4, Kind::Other);  // smalldatetime, real, smallmoney
    case 0x3D: case 0x3E: case 0x3C: return fixed(8, Kind::Other);  // datetime, float, money
    case 0x26: case 0x68:                                     // intn, bitn
        c.uint(1);
        return sized(1, 0, Kind::Integer);
    case 0x6D: case 0x6E: case 0x6F: case 0x24:               // floatn, moneyn, datetimen, guid
        c.uint(1);
        return sized(1, 0, Kind::Other);
    case 0x6A: case 0x6C:                                     // decimal, numeric
        c.take(3);
        return sized(1, 0, Kind::Other);
    case 0x2F: case 0x27:                                     // old char, varchar
        c.uint(1);
        return sized(1, 0, Kind::Ansi);
    case 0x2D: case 0x25:                                     // old binary, varbinary
        c.uint(1);
        return sized(1, 0, Kind::Other);
    case 0xA5: case 0xAD:                                     // varbinary, binary
        c.uint(2);
        return sized(2, 0xFFFF, Kind::Other);
    case 0xA7: case 0xAF:                                     // varchar, char
        c.uint(2);
        c.take(5);
        return sized(2, 0xFFFF, Kind::Ansi);
    case 0xE7: case 0xEF:                                     // nvarchar, nchar
        c.uint(2);
        c.take(5);
        return sized(2, 0xFFFF, Kind::Unicode);
    case 0x23:                                                // text
        c.uint(4);
        c.take(5);
        return sized(4, 0xFFFFFFFF, Kind::Ansi);
    case 0x63:                                                // ntext
        c.uint(4);
        c.take(5);
        return sized(4, 0xFFFFFFFF, Kind::Unicode);
    case 0x22:                                                // image
        c.uint(4);
        return sized(4, 0xFFFFFFFF, Kind::Other);
    default:
        return false;
    }
}

} // namespace

std::optional<RpcRequest> parseRpc(std::span<const std::uint8_t> payload, Layout layout)
{
    const auto separator = [layout](std::uint8_t b) {
        return layout == Layout::Tds71 ? b == 0x80 : (b == 0xFF || b == 0xFE);
    };
    Cursor c(payload);
    RpcRequest r;
    const auto nameLength = static_cast<std::uint16_t>(c.uint(2));
    if (nameLength == 0xFFFF)
        r.procId = static_cast<std::uint16_t>(c.uint(2));
    else
        r.procName = c.ucs2(nameLength);
    c.uint(2);  // option flags
    // Parameters run to the end, or to a separator before the next call.
    while (c.ok() && !c.atEnd() && !separator(c.peek())) {
        RpcParam p;
        if (!readParam(c, p))
            return std::nullopt;
        r.params.push_back(std::move(p));
    }
    if (!c.ok())
        return std::nullopt;
    return r;
}

} // namespace sandbox::tds
