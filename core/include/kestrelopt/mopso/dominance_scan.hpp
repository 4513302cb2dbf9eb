// One candidate's dominance against many points of two objectives stored as two columns:
// the archive's insertion test. Branch-free except for the stop at a dominating point, so
// that it runs several points per instruction; on x86-64 an AVX2 build of the same loop is chosen
// at run time (comparisons are exact, so both give the same answers).
#pragma once

#include <cstddef>

namespace kestrelopt {

struct DominanceScan {
    bool dominated = false;  // some point dominates the candidate
    bool removes = false;    // the candidate dominates some point
    bool equal = false;      // some point equals the candidate (IEEE equality, NaN never equal)
};

// Point i is (first[i], second[i]); flags[i] becomes 1 when the candidate (c0, c1)
// dominates it, else 0. NaN coordinates are neutral, as in `dominates`. The scan stops at
// the first point that dominates the candidate and reports {true, false, false}; the
// flags are then unspecified.
DominanceScan scan_two_objectives(const double* first, const double* second, std::size_t n,
                                  double c0, double c1, unsigned char* flags);

namespace detail {
// The portable build of the same loop, whatever the processor.
DominanceScan scan_two_objectives_portable(const double* first, const double* second, std::size_t n,
                                           double c0, double c1, unsigned char* flags);
}  // namespace detail

}  // namespace kestrelopt
