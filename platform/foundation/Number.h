#pragma once
// A boxed number with the kind it was made with (bool, signed or unsigned 64-bit integer, float,
// double, decimal). Numbers compare by value across kinds (1 == 1.0 == true) and hash consistently
// with that. A decimal keeps its exact text (a JSON integer too large for 64 bits, say) and
// compares through its double value.

#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class Number {
public:
    enum class Kind { Bool, Int, UInt, Float, Double, Decimal };

    constexpr Number() = default;
    static Number boolean(bool v);
    static Number integer(int64_t v);
    static Number unsignedInteger(uint64_t v);
    static Number floating(float v);
    static Number real(double v);
    // `text` is a decimal number text ("-12.5e300", "18446744073709551616"); it is kept as written.
    static Number decimal(std::string text);

    Kind kind() const { return m_kind; }
    bool isInteger() const { return m_kind == Kind::Bool || m_kind == Kind::Int || m_kind == Kind::UInt; }
    bool isFloatingPoint() const { return m_kind == Kind::Float || m_kind == Kind::Double; }

    bool boolValue() const;       // non-zero
    int64_t int64Value() const;   // truncates toward zero, saturates at the type's ends; NaN is 0
    uint64_t uint64Value() const; // likewise; negative integers wrap as the platform's conversion does
    int32_t intValue() const { return static_cast<int32_t>(int64Value()); }
    double doubleValue() const;
    float floatValue() const { return static_cast<float>(doubleValue()); }
    const std::string& decimalText() const;

    // The platform's description: "1"/"0" for bools, integers in decimal, floating point in the
    // shortest text that reads back to the same value.
    std::string stringValue() const;

    bool operator==(const Number& other) const { return compare(other) == std::partial_ordering::equivalent; }
    std::partial_ordering compare(const Number& other) const;
    size_t hash() const;

private:
    Kind m_kind{Kind::Int};
    union {
        bool b;
        int64_t i;
        uint64_t u;
        float f;
        double d;
    } m_v{.i = 0};
    // Shared and rarely there: a Number, and so every Value, stays small to copy and move.
    std::shared_ptr<const std::string> m_decimal;
};

} // namespace platform
