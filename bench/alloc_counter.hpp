// Counts heap allocations made through operator new while counting is switched on, so a
// benchmark can show how many allocations a run makes per particle and iteration.
#pragma once

#include <cstddef>

namespace kestrelopt::bench {

void start_counting();
// Stops counting and returns the number of allocations since start_counting.
std::size_t stop_counting();

}  // namespace kestrelopt::bench
