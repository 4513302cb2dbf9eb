// Pareto utilities of the multi-objective search (every objective is minimised): dominance,
// the non-dominated filter, crowding distance, the adaptive hypercube grid, the default
// reference point and the exact hypervolume (WFG: a sum of exclusive volumes over limit
// sets, recursively). Pure functions: they read their arguments and keep nothing.
//
// Ragged point sets. Dominance compares the common prefix of two vectors. crowding_distance,
// grid_cells and nadir_reference take the number of objectives m from the first vector and
// read indices 0..m-1 of every vector; a vector shorter than that is never read past its end:
// each value it lacks counts as NaN, so it is skipped in the grid box and the reference,
// falls into cell 0, and sorts after every number in the crowding order. NaN is neutral in
// dominance, never equal to anything, and sorts after every number wherever an order is
// needed (crowding keys, and largest-first distance orders in the archive).
//
// Cost: dominates O(m); non_dominated O(n^2 m); crowding_distance one sort of n indices per
// objective; grid_cells O(n m); cell_populations O(n m) through hashing; hypervolume
// exponential in n in the worst case, exact, with per-depth buffers reused throughout the
// recursion (nothing is allocated inside it once the buffers have grown): O(n log n) for two
// objectives; for three, O(n log n) filtering and, on fronts of a few hundred points or more,
// each point's limit set found through a k-d tree rather than by visiting every later point.
// hypervolume_sweep.hpp computes the same volumes, and every exclusive contribution, by
// dimension sweeps: far faster from three objectives on, equal to rounding but not in bits.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/sort_keys.hpp"

namespace kestrelopt {

using ObjectiveVector = std::vector<double>;
using PointSet = std::vector<ObjectiveVector>;
using ObjectiveView = std::span<const double>;
// One coordinate per objective, each in 0..divisions-1.
using GridCell = std::vector<std::size_t>;

// a dominates b: no worse in every compared objective and better in at least one.
bool dominates(std::span<const double> a, std::span<const double> b);

// Both directions of dominance, and equality, from one scan of the common prefix.
struct MutualDominance {
    bool first_dominates = false;   // dominates(a, b)
    bool second_dominates = false;  // dominates(b, a)
    bool equal = false;             // same_objectives(a, b)
};

// Inline: the engine calls it for every new point and its personal best. Without branches:
// which side wins is as good as random in a search, so branches would be mispredicted.
inline MutualDominance mutual_dominance(std::span<const double> a, std::span<const double> b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    bool a_better = false;
    bool b_better = false;
    bool unordered = false;  // a NaN on either side
    for (std::size_t k = 0; k < n; ++k) {
        const bool less = a[k] < b[k];
        const bool greater = b[k] < a[k];
        a_better |= less;
        b_better |= greater;
        unordered |= !less & !greater & !(a[k] == b[k]);
    }
    const bool same_length = a.size() == b.size();
    return {static_cast<bool>(a_better & !b_better), static_cast<bool>(b_better & !a_better),
            static_cast<bool>(same_length & !a_better & !b_better & !unordered)};
}

// Same length and every value equal by IEEE equality (NaN equals nothing).
inline bool same_objectives(std::span<const double> a, std::span<const double> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (!(a[k] == b[k])) return false;
    return true;
}

// Copies of the points no other input point dominates, in input order; of several equal
// points only the first is kept.
PointSet non_dominated(std::span<const ObjectiveVector> points);

// Per point; boundary points of any objective are +inf, and 1 or 2 points are all +inf.
std::vector<double> crowding_distance(std::span<const ObjectiveVector> points);

// Cells of the points in their own bounding box; 0 divisions behave as 1.
std::vector<GridCell> grid_cells(std::span<const ObjectiveVector> points, std::size_t divisions);

// For each cell, how many cells of the list equal it (at least 1).
std::vector<std::size_t> cell_populations(std::span<const GridCell> cells);

// Worst value per objective plus a tenth of its spread, or plus 1 where the spread is not
// positive. Empty for an empty set.
ObjectiveVector nadir_reference(std::span<const ObjectiveVector> points);

// The points after i, each worsened to the region points[i] already dominates. Requires
// i < points.size().
PointSet limit_set(std::span<const ObjectiveVector> points, std::size_t i);

// Hypervolume of a set taken as non-dominated and duplicate-free; -0.0 when empty.
double wfg(std::span<const ObjectiveVector> points, std::span<const double> reference);

// Hypervolume of any set: points with exactly |reference| values, strictly below the
// reference in every objective, reduced to their non-dominated set. -0.0 when none remain.
double hypervolume(std::span<const ObjectiveVector> points, std::span<const double> reference,
                   WorkObserver* observer = nullptr);
// The same for points viewed in place, for callers that hold them in one buffer. An
// observer (in either form) hears of the work as it goes, one unit per point handled, and
// may throw to abandon the computation.
double hypervolume(std::span<const ObjectiveView> points, std::span<const double> reference,
                   WorkObserver* observer = nullptr);

// Buffer-reusing forms for callers that recompute the same quantities often (the archive):
// the points are viewed in place and, once the buffers have grown, nothing is allocated.
struct CrowdingWork {
    // In: the order of points 0..hint.size()-1 in the first objective as a caller believes
    // it (the previous call's, carried through removals); the points after them are sorted
    // on their own and merged in. It is checked, so a wrong hint costs a full sort, never a
    // different result. Out: the first objective's order of this call.
    std::vector<std::size_t> hint;
    std::vector<std::size_t> order;
    std::vector<double> keys;
    std::vector<detail::KeyedIndex> sorted;
    std::vector<detail::KeyedIndex> merged;
};
void crowding_distance_into(std::span<const ObjectiveView> points, CrowdingWork& work,
                            std::vector<double>& distances);

struct GridWork {
    std::vector<double> lo;
    std::vector<double> hi;
    // Row-major cells, `objectives` coordinates per point.
    std::vector<std::size_t> cells;
    std::size_t objectives = 0;
    // Open-addressing table of distinct cells (row index + 1; 0 marks a free slot).
    std::vector<std::size_t> slots;
    // Per point: the index of the first point of its cell, which names the cell; and per
    // such index, the population of that cell.
    std::vector<std::size_t> groups;
    std::vector<std::size_t> counts;
};
// Fills work.cells as grid_cells would and populations as cell_populations would.
void grid_populations_into(std::span<const ObjectiveView> points, std::size_t divisions,
                           GridWork& work, std::vector<std::size_t>& populations);

}  // namespace kestrelopt
