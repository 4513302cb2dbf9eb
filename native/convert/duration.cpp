#include "convert/duration.hpp"

#include <cmath>
#include <cstdint>

#include "kestrelopt/failure.hpp"

namespace kestrelopt::native {

Duration seconds_to_duration(double seconds) {
    constexpr const char* kTooBig =
        "cannot convert float seconds to Duration: value is either too big or NaN";
    if (std::isnan(seconds)) fail(kTooBig);
    if (seconds < 0) fail("cannot convert float seconds to Duration: value is negative");
    if (seconds >= 18446744073709551616.0) fail(kTooBig);  // 2^64, and infinity

    // seconds = mantissa * 2^exponent exactly; the nanosecond count is formed in 128-bit
    // integers (at most 2^64 * 10^9 < 2^94) and rounded half to even where bits fall off.
    int exponent = 0;
    const double fraction = std::frexp(seconds, &exponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;
    unsigned __int128 nanos = static_cast<unsigned __int128>(mantissa) * 1'000'000'000u;
    if (exponent >= 0) {
        nanos <<= exponent;
    } else if (-exponent >= 100) {
        nanos = 0;  // far below half a nanosecond
    } else {
        const int shift = -exponent;
        const unsigned __int128 one = 1;
        const unsigned __int128 remainder = nanos & ((one << shift) - 1);
        const unsigned __int128 half = one << (shift - 1);
        nanos >>= shift;
        if (remainder > half || (remainder == half && (nanos & 1) != 0)) ++nanos;
    }
    return Duration{static_cast<std::uint64_t>(nanos / 1'000'000'000u),
                    static_cast<std::uint32_t>(nanos % 1'000'000'000u)};
}

}  // namespace kestrelopt::native
