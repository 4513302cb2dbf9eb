// round_to_i64: the one rounding rule of the integer decodings. Rounds to the nearest
// integer with halves away from zero, then converts with saturation, so every double
// (infinities and NaN included) becomes a valid 64-bit integer: NaN gives 0, values beyond
// the range give its nearest end. O(1), no allocation.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace kestrelopt {

inline std::int64_t round_to_i64(double x) {
    const double r = std::round(x);
    if (r != r) return 0;
    // 2^63 is the first double above the largest int64; -2^63 is exactly the smallest.
    constexpr double kTwo63 = 9223372036854775808.0;
    if (r >= kTwo63) return std::numeric_limits<std::int64_t>::max();
    if (r <= -kTwo63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

}  // namespace kestrelopt
