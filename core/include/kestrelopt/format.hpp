// Number formatting for messages: the fewest digits that read back to the same double,
// never an exponent, and no trailing ".0" (4.0 prints as 4, 1e300 as 1 followed by zeros).
#pragma once

#include <string>

namespace kestrelopt {

// NaN prints as "NaN", infinities as "inf" and "-inf", negative zero as "-0".
std::string format_float(double value);

}  // namespace kestrelopt
