#include "kestrelopt/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kestrelopt {

std::string format_float(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    // Shortest round-trip digits from the scientific form, laid out in plain decimal with
    // zeros as padding (1e300 prints as 1 followed by 300 zeros, not its exact expansion).
    char sci[64];
    const char* const sci_end =
        std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
    char digits[32];
    std::size_t n_digits = 0;
    const char* p = sci;
    const bool negative = *p == '-';
    if (negative) ++p;
    for (; p < sci_end && *p != 'e'; ++p)
        if (*p != '.') digits[n_digits++] = *p;
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), sci_end, exponent);
    // The value is 0.d1d2d3... × 10^point. The longest text (about 330 characters) is a
    // subnormal such as 5e-324.
    const int point = exponent + 1;
    char out[400];
    std::size_t len = 0;
    if (negative) out[len++] = '-';
    if (point <= 0) {
        out[len++] = '0';
        out[len++] = '.';
        for (int i = 0; i < -point; ++i) out[len++] = '0';
        for (std::size_t i = 0; i < n_digits; ++i) out[len++] = digits[i];
    } else {
        const auto whole = static_cast<std::size_t>(point);
        for (std::size_t i = 0; i < whole; ++i) out[len++] = i < n_digits ? digits[i] : '0';
        if (whole < n_digits) {
            out[len++] = '.';
            for (std::size_t i = whole; i < n_digits; ++i) out[len++] = digits[i];
        }
    }
    return std::string(out, len);
}

}  // namespace kestrelopt
