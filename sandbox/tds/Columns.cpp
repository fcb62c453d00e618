#include "sandbox/tds/Columns.h"

#include "sandbox/tds/Bytes.h"
#include "sandbox/tds/Tokens.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

namespace sandbox::tds {

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

std::uint16_t clampedLength(std::uint16_t declared, std::uint16_t limit)
{
    return std::clamp<std::uint16_t>(declared, 1, limit);
}

// Character length, byte length on the wire.
std::uint16_t wireLength(const Column& c)
{
    switch (c.type) {
    case SqlType::NChar:
    case SqlType::NVarChar:
        return static_cast<std::uint16_t>(2 * clampedLength(c.maxLength, 4000));
    case SqlType::VarChar:
    case SqlType::Char:
    case SqlType::VarBinary:
        return clampedLength(c.maxLength, 8000);
    default:
        return 0;
    }
}

std::uint8_t fixedWidth(SqlType t)
{
    switch (t) {
    case SqlType::TinyInt: return 1;
    case SqlType::SmallInt: return 2;
    case SqlType::Int: return 4;
    case SqlType::BigInt: return 8;
    case SqlType::DateTime: return 8;
    case SqlType::Float: return 8;
    case SqlType::Real: return 4;
    case SqlType::Bit: return 1;
    default: return 0;
    }
}

// numeric(p, s): a sign byte, then the magnitude in 4, 8, 12 or 16 bytes.
std::uint8_t numericWidth(std::uint16_t precision)
{
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

std::uint8_t numericPrecision(const Column& c) { return static_cast<std::uint8_t>(std::clamp<std::uint16_t>(c.maxLength, 1, 38)); }

bool isInteger(SqlType t)
{
    return t == SqlType::TinyInt || t == SqlType::SmallInt || t == SqlType::Int || t == SqlType::BigInt;
}

void writeInteger(TokenBuffer& out, std::int64_t v, std::uint8_t width)
{
    const auto u = static_cast<std::uint64_t>(v);
    switch (width) {
    case 1: out.u8(static_cast<std::uint8_t>(u)); break;
    case 2: out.u16(static_cast<std::uint16_t>(u)); break;
    case 4: out.u32(static_cast<std::uint32_t>(u)); break;
    default: out.u64(u); break;
    }
}

std::u16string asText(const Value& v)
{
    return std::visit(Overloaded{
        [](const Null&) { return std::u16string(); },
        [](std::int64_t i) {
            const std::string s = std::to_string(i);
            return std::u16string(s.begin(), s.end());
        },
        [](const std::u16string& s) { return s; },
        [](const std::vector<std::uint8_t>& b) { return std::u16string(b.begin(), b.end()); },
        [](const DateTime&) { return std::u16string(); },
        [](double d) {
            const std::string s = std::to_string(d);
            return std::u16string(s.begin(), s.end());
        },
    }, v);
}

std::vector<std::uint8_t> asBytes(const Value& v)
{
    if (const auto* b = std::get_if<std::vector<std::uint8_t>>(&v))
        return *b;
    return toCp1252(asText(v));
}

std::int64_t asInteger(const Value& v)
{
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return *i;
    return 0;
}

double asDouble(const Value& v)
{
    if (const auto* d = std::get_if<double>(&v))
        return *d;
    return static_cast<double>(asInteger(v));
}

void writeNumeric(TokenBuffer& out, const Column& col, const Value& v)
{
    const std::uint8_t width = numericWidth(numericPrecision(col));
    if (std::holds_alternative<Null>(v)) {
        out.u8(0);
        return;
    }
    // The magnitude, little-endian: an integer's, or that of the digits a
    // value too wide for 64 bits is carried as.
    std::vector<std::uint8_t> magnitude(width - 1u, 0);
    bool negative = false;
    if (const auto* digits = std::get_if<std::u16string>(&v)) {
        for (const char16_t c : *digits) {
            if (c < u'0' || c > u'9')
                continue;
            unsigned carry = static_cast<unsigned>(c - u'0');
            for (std::uint8_t& byte : magnitude) {
                const unsigned next = byte * 10u + carry;
                byte = static_cast<std::uint8_t>(next & 0xFF);
                carry = next >> 8;
            }
        }
    } else {
        const std::int64_t n = asInteger(v);
        negative = n < 0;
        std::uint64_t m = negative ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
        for (std::uint8_t& byte : magnitude) {
            byte = static_cast<std::uint8_t>(m & 0xFF);
            m >>= 8;
        }
    }
    out.u8(width);
    out.u8(negative ? 0 : 1);
    for (const std::uint8_t byte : magnitude)
        out.u8(byte);
}

DateTime asDateTime(const Value& v)
{
    if (const auto* d = std::get_if<DateTime>(&v))
        return *d;
    return {};
}

// sql_variant: the whole length, then the base type and its properties,
// then the value in that type. The sandbox's variants are ints and nvarchars.
void writeVariant(TokenBuffer& out, const Value& v)
{
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        out.u32(2 + 4);
        out.u8(wiretype::Int4);
        out.u8(0);  // no properties
        out.u32(static_cast<std::uint32_t>(*i));
        return;
    }
    const auto* s = std::get_if<std::u16string>(&v);
    if (!s) {
        out.u32(0);  // NULL
        return;
    }
    const std::u16string_view text = std::u16string_view(*s).substr(0, 4000);
    out.u32(static_cast<std::uint32_t>(2 + 7 + 2 * text.size()));
    out.u8(wiretype::NVarChar);
    out.u8(7);  // collation and maximum length
    out.raw(DefaultCollation.data(), DefaultCollation.size());
    out.u16(8000);
    out.ucs2(text);
}

void writeValue(TokenBuffer& out, const Column& col, const Value& v)
{
    const bool null = std::holds_alternative<Null>(v);
    if (col.type == SqlType::Numeric) {
        writeNumeric(out, col, v);
        return;
    }
    if (col.type == SqlType::Float || col.type == SqlType::Real || col.type == SqlType::Bit) {
        if (col.nullable) {
            if (null) {
                out.u8(0);
                return;
            }
            out.u8(fixedWidth(col.type));
        }
        if (col.type == SqlType::Bit) {
            out.u8(asInteger(v) != 0 ? 1 : 0);
        } else if (col.type == SqlType::Real) {
            const auto f = static_cast<float>(asDouble(v));
            std::uint32_t bits = 0;
            std::memcpy(&bits, &f, sizeof bits);
            out.u32(bits);
        } else {
            const double d = asDouble(v);
            std::uint64_t bits = 0;
            std::memcpy(&bits, &d, sizeof bits);
            out.u64(bits);
        }
        return;
    }
    if (isInteger(col.type) || col.type == SqlType::DateTime) {
        const std::uint8_t width = fixedWidth(col.type);
        if (col.nullable) {
            if (null) {
                out.u8(0);
                return;
            }
            out.u8(width);
        }
        if (col.type == SqlType::DateTime) {
            const DateTime d = asDateTime(v);
            out.u32(static_cast<std::uint32_t>(d.days));
            out.u32(d.ticks);
        } else {
            writeInteger(out, asInteger(v), width);
        }
        return;
    }
    if (col.type == SqlType::Variant) {
        writeVariant(out, v);
        return;
    }
    if (col.type == SqlType::NText) {
        if (null) {
            out.u8(0);  // no text pointer: NULL
            return;
        }
        const std::u16string text = asText(v);
        static constexpr std::uint8_t TextPointer[16] = {};
        static constexpr std::uint8_t Timestamp[8] = {};
        out.u8(sizeof TextPointer);
        out.raw(TextPointer, sizeof TextPointer);
        out.raw(Timestamp, sizeof Timestamp);
        out.u32(static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), 0x3FFFFFFF) * 2));
        out.ucs2(std::u16string_view(text).substr(0, 0x3FFFFFFF));
        return;
    }
    if (null) {
        out.u16(0xFFFF);
        return;
    }
    const std::uint16_t limit = wireLength(col);
    if (col.type == SqlType::NChar || col.type == SqlType::NVarChar) {
        std::u16string text = asText(v);
        const std::size_t chars = limit / 2u;
        if (text.size() > chars)
            text.resize(chars);
        if (col.type == SqlType::NChar)
            text.resize(chars, u' ');  // SQL Server blank-pads nchar to its declared length
        out.u16(static_cast<std::uint16_t>(text.size() * 2));
        out.ucs2(text);
        return;
    }
    std::vector<std::uint8_t> bytes = asBytes(v);
    if (bytes.size() > limit)
        bytes.resize(limit);
    if (col.type == SqlType::Char)
        bytes.resize(limit, ' ');  // and char
    out.u16(static_cast<std::uint16_t>(bytes.size()));
    out.raw(bytes.data(), bytes.size());
}

} // namespace

void writeColMetadata(TokenBuffer& out, const std::vector<Column>& cols, Layout layout)
{
    out.u8(token::ColMetadata);
    out.u16(static_cast<std::uint16_t>(std::min<std::size_t>(cols.size(), 4096)));
    for (std::size_t i = 0; i < cols.size() && i < 4096; ++i) {
        const Column& c = cols[i];
        if (layout == Layout::Tds72)
            out.u32(0);  // user type
        else
            out.u16(0);
        out.u16(c.nullable ? 0x0001 : 0x0000);
        switch (c.type) {
        case SqlType::TinyInt:
        case SqlType::SmallInt:
        case SqlType::Int:
        case SqlType::BigInt:
            if (c.nullable) {
                out.u8(wiretype::IntN);
                out.u8(fixedWidth(c.type));
            } else {
                out.u8(c.type == SqlType::TinyInt    ? wiretype::Int1
                       : c.type == SqlType::SmallInt ? wiretype::Int2
                       : c.type == SqlType::Int      ? wiretype::Int4
                                                     : wiretype::Int8);
            }
            break;
        case SqlType::DateTime:
            if (c.nullable) {
                out.u8(wiretype::DateTimeN);
                out.u8(8);
            } else {
                out.u8(wiretype::DateTime);
            }
            break;
        case SqlType::Bit:
        case SqlType::Float:
        case SqlType::Real:
            if (c.nullable) {
                out.u8(c.type == SqlType::Bit ? wiretype::BitN : wiretype::FloatN);
                out.u8(fixedWidth(c.type));
            } else {
                out.u8(c.type == SqlType::Bit ? wiretype::Bit
                       : c.type == SqlType::Real ? wiretype::Float4
                                                 : wiretype::Float8);
            }
            break;
        case SqlType::Numeric:
            out.u8(wiretype::NumericN);
            out.u8(numericWidth(numericPrecision(c)));
            out.u8(numericPrecision(c));
            out.u8(0);  // scale
            break;
        case SqlType::NChar:
        case SqlType::NVarChar:
        case SqlType::VarChar:
        case SqlType::Char:
            out.u8(c.type == SqlType::NChar ? wiretype::NChar
                   : c.type == SqlType::NVarChar ? wiretype::NVarChar
                   : c.type == SqlType::Char     ? wiretype::BigChar
                                                 : wiretype::BigVarChar);
            out.u16(wireLength(c));
            out.raw(DefaultCollation.data(), DefaultCollation.size());
            break;
        case SqlType::VarBinary:
            out.u8(wiretype::BigVarBinary);
            out.u16(wireLength(c));
            break;
        case SqlType::Variant:
            out.u8(wiretype::Variant);
            out.u32(8016);
            break;
        case SqlType::NText:
            out.u8(wiretype::NText);
            out.u32(0x7FFFFFFE);
            out.raw(DefaultCollation.data(), DefaultCollation.size());
            // The table the text lives in: none, for a computed value.
            if (layout == Layout::Tds72)
                out.u8(0);  // no name parts
            else
                out.u16(0);  // an empty name
            break;
        }
        out.bVarChar(std::u16string_view(c.name).substr(0, std::min<std::size_t>(c.name.size(), 128)));
    }
}

void writeRow(TokenBuffer& out, const std::vector<Column>& cols, const Row& values)
{
    static const Value null = Null{};
    out.u8(token::Row);
    for (std::size_t i = 0; i < cols.size() && i < 4096; ++i)
        writeValue(out, cols[i], i < values.size() ? values[i] : null);
}

} // namespace sandbox::tds
