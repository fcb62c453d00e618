// A column value as the data layer hands it out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace db {

struct DateTimeValue {
    int year = 1900, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
    int millisecond = 0;
    friend bool operator==(const DateTimeValue&, const DateTimeValue&) = default;
};

enum class VarType { Empty, Null, Integer, Float, Text, Bytes, DateTime };

class Variant {
public:
    Variant() = default;  // Empty

    static Variant Null();
    static Variant FromInteger(std::int64_t value);
    static Variant FromFloat(double value);
    static Variant FromText(std::u16string value);
    static Variant FromBytes(std::vector<std::uint8_t> value);
    static Variant FromDateTime(DateTimeValue value);

    VarType Type() const;
    bool IsEmpty() const { return Type() == VarType::Empty; }
    bool IsNull() const { return Type() == VarType::Null; }

    // Typed access; the wrong type throws EDatabaseError.
    std::int64_t AsInteger() const;
    double AsFloat() const;
    const std::u16string& AsText() const;
    const std::vector<std::uint8_t>& AsBytes() const;
    const DateTimeValue& AsDateTime() const;

    friend bool operator==(const Variant&, const Variant&) = default;

private:
    struct EmptyTag { friend bool operator==(EmptyTag, EmptyTag) = default; };
    struct NullTag { friend bool operator==(NullTag, NullTag) = default; };
    using Storage = std::variant<EmptyTag, NullTag, std::int64_t, double, std::u16string,
                                 std::vector<std::uint8_t>, DateTimeValue>;
    explicit Variant(Storage value) : value_(std::move(value)) {}
    Storage value_;
};

// Value to text: Empty → "", Integer → decimal digits, Text → unchanged
// (untrimmed), Float → shortest text that reads back the same value,
// DateTime → "yyyy-mm-dd hh:nn:ss" (".zzz" appended when there are
// milliseconds), Bytes → "0x" and upper-case hex digits (as SQL Server shows
// them). Null throws EDatabaseError
// "Could not convert variant of type (Null) into type (String)".
std::u16string VarToStr(const Variant& value);

// The value as a 64-bit integer when it is exactly one: an integer, a whole
// float within range, or text of decimal digits (how exact numerics arrive)
// that fits; none for anything else, NULL and a number too wide included.
std::optional<std::int64_t> ExactInteger(const Variant& value);

// The name of a variant type as conversion errors show it ("Null", "Int64"...).
std::u16string VarTypeName(VarType type);

} // namespace db
