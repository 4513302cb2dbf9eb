// Number formatting for the representations of the result classes. Independent of the
// C locale: everything goes through std::to_chars.
#pragma once

#include <span>
#include <string>
#include <utility>

namespace kestrelopt::native {

// Fixed notation with six decimals, correctly rounded (ties to even); "NaN", "inf", "-inf".
std::string format_fixed6(double value);

// Shortest round-trip digits, as Python's repr of a float but with a bare exponent
// ("1e-5", "1.5e16") and "NaN" for not-a-number.
std::string format_shortest(double value);

// "[a, b, ...]" of format_shortest.
std::string format_list(std::span<const double> values);

// "[(lo, hi), ...]" of format_shortest.
std::string format_pairs(std::span<const std::pair<double, double>> pairs);

}  // namespace kestrelopt::native
