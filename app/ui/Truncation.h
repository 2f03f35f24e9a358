#pragma once
// A double truncated towards zero to a 32-bit integer as the phones convert it: out-of-range values
// saturate and NaN gives 0, where a plain cast would be undefined.

#include <cmath>
#include <cstdint>
#include <limits>

namespace detail {

inline int32_t truncatedToInt32(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= double(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

} // namespace detail
