// Seconds as a float to the engine's Duration, rounded to the nearest nanosecond.
#pragma once

#include "kestrelopt/history.hpp"

namespace kestrelopt::native {

// Internal failure for a negative value (-0.0 excepted), NaN, or 2^64 seconds and more.
Duration seconds_to_duration(double seconds);

}  // namespace kestrelopt::native
