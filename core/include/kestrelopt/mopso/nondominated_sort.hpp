// Non-dominated sorting and crowding distance of a whole point set (every objective is
// minimised), for the indicators: the points are rows of one matrix, free of NaN, and may
// hold infinities.
//
// Ranks: rank 0 for the points no other point dominates, rank k for those dominated only by
// points of ranks below k; equal points share their rank (-0 equals 0). Values are compared
// through integer keys in their order. The points are put in lexicographic order, where
// every dominator comes first and copies are neighbours. One objective then needs nothing
// more; two, a bisection per point over the smallest second values of each rank
// (O(n log n)); three, a sweep that keeps, per rank, the staircase of its points in the last
// two objectives and finds a point's rank by bisection over the ranks (O(n log n log F) for
// F ranks); four or more, with each value replaced by its rank among its objective's
// distinct values, up to 2^14 distinct points the same search over ranks, each rank's points
// compared with the point several at a time (O(n S log F) comparisons, S the size of the
// largest rank), and past that size the divide and conquer on the median of one objective at a
// time, down to sweeps over two objectives and, on small sets, pairwise comparisons (O(n log^(m-1)
// n)).
//
// Crowding distance: NSGA-II's, per objective over a stable ascending sort; the extremes
// get +inf, every other point adds the gap between its two neighbours over the range when
// the range is positive. An infinite range adds +inf for a gap with an infinite end that is
// not zero, and 0 for any other gap, so no distance is NaN. O(m n log n).
#pragma once

#include <cstddef>
#include <span>

namespace kestrelopt {

// `rows` points of `cols` objectives, row after row.
struct PointRows {
    std::span<const double> values;
    std::size_t rows = 0;
    std::size_t cols = 0;
};

// ranks.size() == points.rows.
void nondominated_ranks(PointRows points, std::span<std::size_t> ranks);

// distances.size() == points.rows.
void crowding_distances(PointRows points, std::span<double> distances);

namespace detail {
// For four objectives or more: kBySize chooses as nondominated_ranks does; the tests also
// take either method whatever the size.
enum class RankMethod { kBySize, kScan, kDivideAndConquer };
void nondominated_ranks(PointRows points, std::span<std::size_t> ranks, RankMethod method);
}  // namespace detail

}  // namespace kestrelopt
