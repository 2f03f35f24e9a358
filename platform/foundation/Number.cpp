#include "platform/foundation/Number.h"

#include <cmath>
#include <cstdlib>
#include <fmt/format.h>
#include <functional>
#include <limits>

namespace platform {

Number Number::boolean(bool v) {
    Number n;
    n.m_kind = Kind::Bool;
    n.m_v.b = v;
    return n;
}

Number Number::integer(int64_t v) {
    Number n;
    n.m_kind = Kind::Int;
    n.m_v.i = v;
    return n;
}

Number Number::unsignedInteger(uint64_t v) {
    Number n;
    n.m_kind = Kind::UInt;
    n.m_v.u = v;
    return n;
}

Number Number::floating(float v) {
    Number n;
    n.m_kind = Kind::Float;
    n.m_v.f = v;
    return n;
}

Number Number::real(double v) {
    Number n;
    n.m_kind = Kind::Double;
    n.m_v.d = v;
    return n;
}

Number Number::decimal(std::string text) {
    Number n;
    n.m_kind = Kind::Decimal;
    n.m_v.d = std::strtod(text.c_str(), nullptr);
    n.m_decimal = std::make_shared<const std::string>(std::move(text));
    return n;
}

const std::string& Number::decimalText() const {
    static const std::string none;
    return m_decimal ? *m_decimal : none;
}

bool Number::boolValue() const {
    switch (m_kind) {
    case Kind::Bool:
        return m_v.b;
    case Kind::Int:
        return m_v.i != 0;
    case Kind::UInt:
        return m_v.u != 0;
    default:
        return doubleValue() != 0;
    }
}

namespace {
int64_t saturateToInt64(double d) {
    if (std::isnan(d))
        return 0;
    if (d >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    if (d < -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

uint64_t saturateToUInt64(double d) {
    if (std::isnan(d))
        return 0;
    if (d < 0)
        return static_cast<uint64_t>(saturateToInt64(d));
    if (d >= 18446744073709551616.0)
        return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(d);
}
} // namespace

int64_t Number::int64Value() const {
    switch (m_kind) {
    case Kind::Bool:
        return m_v.b ? 1 : 0;
    case Kind::Int:
        return m_v.i;
    case Kind::UInt:
        return static_cast<int64_t>(m_v.u);
    default:
        return saturateToInt64(doubleValue());
    }
}

uint64_t Number::uint64Value() const {
    switch (m_kind) {
    case Kind::Bool:
        return m_v.b ? 1 : 0;
    case Kind::Int:
        return static_cast<uint64_t>(m_v.i);
    case Kind::UInt:
        return m_v.u;
    default:
        return saturateToUInt64(doubleValue());
    }
}

double Number::doubleValue() const {
    switch (m_kind) {
    case Kind::Bool:
        return m_v.b ? 1.0 : 0.0;
    case Kind::Int:
        return static_cast<double>(m_v.i);
    case Kind::UInt:
        return static_cast<double>(m_v.u);
    case Kind::Float:
        return m_v.f;
    case Kind::Double:
    case Kind::Decimal:
        return m_v.d;
    }
    return 0;
}

std::string Number::stringValue() const {
    switch (m_kind) {
    case Kind::Bool:
        return m_v.b ? "1" : "0";
    case Kind::Int:
        return fmt::format("{}", m_v.i);
    case Kind::UInt:
        return fmt::format("{}", m_v.u);
    case Kind::Float:
        return fmt::format("{}", m_v.f);
    case Kind::Double:
        return fmt::format("{}", m_v.d);
    case Kind::Decimal:
        return decimalText();
    }
    return {};
}

namespace {
// An exact view of a number for comparison: integers stay integers, everything else is a double.
struct Exact {
    enum { Signed, Unsigned, Real } kind;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0;
};

Exact exactOf(Number::Kind kind, const Number& n) {
    switch (kind) {
    case Number::Kind::Bool:
    case Number::Kind::Int:
        return {Exact::Signed, n.int64Value(), 0, 0};
    case Number::Kind::UInt:
        return {Exact::Unsigned, 0, n.uint64Value(), 0};
    default:
        return {Exact::Real, 0, 0, n.doubleValue()};
    }
}

std::partial_ordering compareIntReal(long double integer, double real) {
    if (std::isnan(real))
        return std::partial_ordering::unordered;
    // long double has a 64-bit mantissa on this platform, so 64-bit integers convert exactly.
    return integer <=> static_cast<long double>(real);
}
} // namespace

std::partial_ordering Number::compare(const Number& other) const {
    Exact a = exactOf(m_kind, *this);
    Exact b = exactOf(other.m_kind, other);
    if (a.kind == Exact::Real || b.kind == Exact::Real) {
        if (a.kind == Exact::Real && b.kind == Exact::Real)
            return a.d <=> b.d;
        if (a.kind == Exact::Real) {
            long double bi =
                b.kind == Exact::Signed ? static_cast<long double>(b.i) : static_cast<long double>(b.u);
            return 0 <=> compareIntReal(bi, a.d);
        }
        long double ai =
            a.kind == Exact::Signed ? static_cast<long double>(a.i) : static_cast<long double>(a.u);
        return compareIntReal(ai, b.d);
    }
    if (a.kind == Exact::Signed && b.kind == Exact::Signed)
        return a.i <=> b.i;
    if (a.kind == Exact::Unsigned && b.kind == Exact::Unsigned)
        return a.u <=> b.u;
    if (a.kind == Exact::Signed) // b unsigned
        return a.i < 0 ? std::partial_ordering::less : static_cast<uint64_t>(a.i) <=> b.u;
    return b.i < 0 ? std::partial_ordering::greater : a.u <=> static_cast<uint64_t>(b.i);
}

size_t Number::hash() const {
    // Equal numbers of any kind must hash alike: integral values hash as integers, the rest by bits.
    double d = doubleValue();
    if (isInteger() || (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 &&
                        d < 18446744073709551616.0)) {
        if (m_kind == Kind::UInt || (!isInteger() && d >= 9223372036854775808.0))
            return std::hash<uint64_t>{}(uint64Value()) ^
                   (uint64Value() > INT64_MAX ? 0x9e3779b97f4a7c15ULL : 0);
        return std::hash<uint64_t>{}(static_cast<uint64_t>(int64Value()));
    }
    if (d == 0)
        d = 0; // -0.0 == 0.0
    return std::hash<double>{}(d);
}

} // namespace platform
