#include "results/repr_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kestrelopt::native {

namespace {

bool special(double value, std::string& out) {
    if (std::isnan(value)) {
        out = "NaN";
        return true;
    }
    if (std::isinf(value)) {
        out = value > 0 ? "inf" : "-inf";
        return true;
    }
    return false;
}

}  // namespace

std::string format_fixed6(double value) {
    std::string out;
    if (special(value, out)) return out;
    // The widest value (about 1.8e308) needs 309 integer digits plus sign and decimals.
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

std::string format_shortest(double value) {
    std::string out;
    if (special(value, out)) return out;
    // Shortest digits in scientific form: [-]d[.ddd]e[+-]XX.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    const bool negative = text[0] == '-';
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < e; ++i)
        if (text[i] != '.') digits += text[i];
    const int exponent = std::atoi(text.c_str() + e + 1);

    if (negative) out += '-';
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16)) {
        const int n = static_cast<int>(digits.size());
        if (exponent >= 0) {
            // Integer part: the first exponent + 1 digits, padded with zeros.
            for (int i = 0; i <= exponent; ++i) out += i < n ? digits[i] : '0';
            out += '.';
            if (exponent + 1 < n)
                out.append(digits, static_cast<std::size_t>(exponent + 1));
            else
                out += '0';
        } else {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'e';
        out += std::to_string(exponent);
    }
    return out;
}

std::string format_list(std::span<const double> values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out += ", ";
        out += format_shortest(values[i]);
    }
    out += ']';
    return out;
}

std::string format_pairs(std::span<const std::pair<double, double>> pairs) {
    std::string out = "[";
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (i > 0) out += ", ";
        out += '(';
        out += format_shortest(pairs[i].first);
        out += ", ";
        out += format_shortest(pairs[i].second);
        out += ')';
    }
    out += ']';
    return out;
}

}  // namespace kestrelopt::native
