// Exact hypervolume and exclusive contributions by dimension sweeps (every objective is
// minimised; only points strictly below the reference in every objective count).
//
// - 2 objectives: one sort, O(n log n).
// - 3 objectives: a sweep in the third objective over the staircase of the first two, kept in
//   a 64-ary bit tree over the ranks in the first objective: O(n log n).
// - 4 objectives: a sweep in the fourth objective; each point adds its contribution to the
//   3-objective set of the points before it, found by one pass over that set kept in order
//   of the third objective: O(n^2).
// - 5 and more: the same sweep in the last objective, each contribution the point's box less
//   the volume of its limit set (the set before it worsened to its box, one objective less,
//   cut down first to the rows that can matter), down to the 4-objective sweep.
// - Contributions: for 2 and 3 objectives one sweep of the staircase gives every point's
//   exclusive volume, O(n log n); a point that is the only one to dominate another point
//   (which takes volume from it) gets its box less the volume of its limit set instead. For
//   4 and more, each point not weakly dominated gets its box less the volume of its limit set.
//
// Every volume is a sum of products of positive gaps, except where a box less a limit set's
// volume is taken (5 objectives and more, and the contributions named above): exact to
// rounding, but not the bits of kestrelopt::hypervolume, which sums in another order.
// A volume is 0.0 when no point counts. Buffers are kept in the object and reused: once they
// have grown, nothing is allocated. An observer hears of the work as it goes (about one unit
// per point visited) and may throw to abandon the computation.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/pareto.hpp"

namespace kestrelopt {

class HypervolumeSweep {
  public:
    HypervolumeSweep();
    ~HypervolumeSweep();
    HypervolumeSweep(HypervolumeSweep&&) noexcept;
    HypervolumeSweep& operator=(HypervolumeSweep&&) noexcept;

    // `rows` holds the points row-major, |reference| values each (rows.size() a multiple of
    // it). Requires a reference without NaN; a point holding NaN counts as not below it.
    double volume(std::span<const double> rows, std::span<const double> reference,
                  WorkObserver* observer = nullptr);

    // The exclusive contribution of each point into `out` (rows.size() / |reference|
    // values): 0 for a point outside the reference box, or weakly dominated by (or equal to)
    // another point.
    void contributions(std::span<const double> rows, std::span<const double> reference,
                       std::span<double> out, WorkObserver* observer = nullptr);

    // The same for points viewed in place (the archive's), each of |reference| values; a
    // point of another length gets 0 and takes nothing from the others. Resizes `out`.
    void contributions(std::span<const ObjectiveView> points, std::span<const double> reference,
                       std::vector<double>& out);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One-off forms, with buffers of their own.
double hypervolume_sweep(std::span<const double> rows, std::span<const double> reference,
                         WorkObserver* observer = nullptr);
std::vector<double> hypervolume_contributions(std::span<const double> rows,
                                              std::span<const double> reference,
                                              WorkObserver* observer = nullptr);

}  // namespace kestrelopt
