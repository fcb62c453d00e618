#include "Variant.h"

#include "Errors.h"
#include "Text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace db {

Variant Variant::Null() { return Variant(Storage(NullTag{})); }
Variant Variant::FromInteger(std::int64_t value) { return Variant(Storage(value)); }
Variant Variant::FromFloat(double value) { return Variant(Storage(value)); }
Variant Variant::FromText(std::u16string value) { return Variant(Storage(std::move(value))); }
Variant Variant::FromBytes(std::vector<std::uint8_t> value) { return Variant(Storage(std::move(value))); }
Variant Variant::FromDateTime(DateTimeValue value) { return Variant(Storage(value)); }

VarType Variant::Type() const
{
    // The alternatives are declared in VarType's order.
    return static_cast<VarType>(value_.index());
}

namespace {

[[noreturn]] void throwConversion(VarType from, std::u16string_view to)
{
    throw EDatabaseError(u"Could not convert variant of type (" + VarTypeName(from) + u") into type (" +
                         std::u16string(to) + u")");
}

template <typename T>
const T& get(const auto& storage, VarType type, std::u16string_view to)
{
    if (const T* value = std::get_if<T>(&storage))
        return *value;
    throwConversion(type, to);
}

std::u16string formatDateTime(const DateTimeValue& v)
{
    char buffer[40];
    int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", v.year, v.month, v.day, v.hour,
                          v.minute, v.second);
    if (v.millisecond != 0 && n > 0)
        std::snprintf(buffer + n, sizeof buffer - static_cast<std::size_t>(n), ".%03d", v.millisecond);
    return asciiToUtf16(buffer);
}

std::u16string formatBytes(const std::vector<std::uint8_t>& bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::u16string out = u"0x";
    for (std::uint8_t b : bytes) {
        out += static_cast<char16_t>(digits[b >> 4]);
        out += static_cast<char16_t>(digits[b & 0xF]);
    }
    return out;
}

} // namespace

std::int64_t Variant::AsInteger() const { return get<std::int64_t>(value_, Type(), u"Int64"); }
double Variant::AsFloat() const { return get<double>(value_, Type(), u"Double"); }
const std::u16string& Variant::AsText() const { return get<std::u16string>(value_, Type(), u"String"); }
const std::vector<std::uint8_t>& Variant::AsBytes() const
{
    return get<std::vector<std::uint8_t>>(value_, Type(), u"Array of Byte");
}
const DateTimeValue& Variant::AsDateTime() const { return get<DateTimeValue>(value_, Type(), u"Date"); }

std::optional<std::int64_t> ExactInteger(const Variant& value)
{
    switch (value.Type()) {
    case VarType::Integer:
        return value.AsInteger();
    case VarType::Float: {
        // 2^63 is exactly representable; anything from it on is out of range.
        const double d = value.AsFloat();
        if (d != std::floor(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    case VarType::Text: {
        const std::string text = toUtf8(Trim(value.AsText()));
        std::int64_t n = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (text.empty() || error != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        return n;
    }
    default:
        return std::nullopt;
    }
}

std::u16string VarTypeName(VarType type)
{
    switch (type) {
    case VarType::Empty: return u"Empty";
    case VarType::Null: return u"Null";
    case VarType::Integer: return u"Int64";
    case VarType::Float: return u"Double";
    case VarType::Text: return u"String";
    case VarType::Bytes: return u"Array of Byte";
    case VarType::DateTime: return u"Date";
    }
    return u"Unknown";
}

std::u16string VarToStr(const Variant& value)
{
    switch (value.Type()) {
    case VarType::Empty:
        return {};
    case VarType::Null:
        throwConversion(VarType::Null, u"String");
    case VarType::Integer:
        return asciiToUtf16(std::to_string(value.AsInteger()));
    case VarType::Float: {
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value.AsFloat());
        return asciiToUtf16(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
    }
    case VarType::Text:
        return value.AsText();
    case VarType::Bytes:
        return formatBytes(value.AsBytes());
    case VarType::DateTime:
        return formatDateTime(value.AsDateTime());
    }
    return {};
}

} // namespace db
