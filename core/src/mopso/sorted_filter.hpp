// The non-dominated filter of the hypervolume for two or three objectives: a sweep in
// lexicographic order, O(n log n), instead of offering every point to the survivors so far
// (O(n) per point on a front). It reports the survivors in input order and keeps the first of
// equal points, as the pairwise filter does, so the volume that follows is the same.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <vector>

#include "kestrelopt/mopso/pareto.hpp"

namespace kestrelopt::hv_detail {

class SortedFilter {
  public:
    // Indices of the points that survive the non-dominated filter, in input order. Points of
    // two or three values each, all of the same length, without NaN.
    void survivors(std::span<const ObjectiveView> points, std::vector<std::size_t>& kept);

  private:
    // The values beside the index, so that the sort reads contiguous memory.
    struct Entry {
        double values[3];
        std::size_t index;
    };
    std::vector<Entry> order_;
    std::vector<unsigned char> keep_;
    std::map<double, double> staircase_;  // second -> third value of the rows swept so far
};

}  // namespace kestrelopt::hv_detail
