// One candidate's dominance against many points of two objectives stored as two columns:
// the archive's insertion test. Branch-free except for the stop at a dominating point, so
// that it runs several points per instruction; on x86-64 an AVX2 build of the same loop is chosen
// at run time (comparisons are exact, so both give the same answers). Likewise, whether some
// point of integer coordinates is no greater than a candidate in all of them: the test of
// non-dominated sorting.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Points of `width` integer coordinates stored in blocks of kBlockLanes points: a block holds
// its points' first coordinates, then their second ones, and so on; lanes past the last point
// hold INT32_MAX, above every coordinate of the points and of the candidate. True when some
// point of the `blocks` blocks is no greater than `candidate` in every coordinate; the
// latest blocks are tried first.
inline constexpr std::size_t kBlockLanes = 8;
bool any_no_greater(const std::int32_t* points, std::size_t blocks, std::size_t width,
                    const std::int32_t* candidate);

namespace detail {
// The portable builds of the same loops, whatever the processor.
DominanceScan scan_two_objectives_portable(const double* first, const double* second, std::size_t n,
                                           double c0, double c1, unsigned char* flags);
bool any_no_greater_portable(const std::int32_t* points, std::size_t blocks, std::size_t width,
                             const std::int32_t* candidate);
}  // namespace detail

}  // namespace kestrelopt
