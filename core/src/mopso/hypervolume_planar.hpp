// Faster paths of the exact hypervolume that perform the WFG recursion's own operations, so
// that their results have the same bits. They need rows of full length without NaN.
//
// Planar sets. A non-dominated, duplicate-free set whose rows are equal in every coordinate
// but two (every set of two objectives, and many limit sets deeper in the recursion) is a
// staircase: sorted by one free coordinate it is sorted backwards by the other. The
// filtered limit set of a row then holds at most two rows, made from its nearest neighbours
// in that order among the rows after it, so the recursion below each row has a fixed shape
// of at most three inclusive volumes. Visiting the rows in index order while unlinking each
// from a list in coordinate order finds those neighbours: O(n log n) for the sort, O(n)
// for the sum, which is still taken row by row in index order from -0.0.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/pareto.hpp"

namespace kestrelopt::hv_detail {

// Product over the first min(length, |reference|) coordinates of the positive gaps to the
// reference, from 1.0 in index order; a gap that is not positive (or NaN) counts as 0.
inline double inclusive_volume(const double* p, std::size_t length,
                               std::span<const double> reference) {
    const std::size_t n = length < reference.size() ? length : reference.size();
    double volume = 1.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double gap = reference[k] - p[k];
        volume *= gap > 0.0 ? gap : 0.0;
    }
    return volume;
}

// The larger of two values, a number winning over NaN; of equal values the first.
inline double larger(double a, double b) {
    return a != a ? b : b != b ? a : a < b ? b : a;
}

// The two coordinates in which rows may differ, when all others are equal in every row.
struct PlanarAxes {
    std::size_t a = 0;
    std::size_t b = 1;
};
std::optional<PlanarAxes> planar_axes(const double* rows, std::size_t count, std::size_t stride);

class PlanarSum {
  public:
    // The WFG volume of `count` rows of `stride` values (non-dominated, duplicate-free,
    // planar in `axes`); tells `observer` of the work every few thousand rows.
    double volume(const double* rows, std::size_t count, std::size_t stride, PlanarAxes axes,
                  std::span<const double> reference, WorkObserver* observer);

  private:
    std::vector<std::pair<double, std::size_t>> order_;  // (value in axis a, row)
    std::vector<std::size_t> prev_;
    std::vector<std::size_t> next_;
    std::vector<double> limits_;  // the two limit rows and their own limit row
};

}  // namespace kestrelopt::hv_detail
