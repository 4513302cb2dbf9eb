// What the hypervolume archive (ArchiveStrategy::Kind::Hypervolume) measures its members
// by: each point's exclusive hypervolume contribution (the volume that only it dominates
// within the reference point), and, above three objectives, Das-Dennis reference
// directions. Pure functions over caller-owned buffers: once the buffers have grown nothing
// is allocated.
//
// Cost: two objectives, one sort, O(n log n) for all contributions; three, the dimension
// sweep of hypervolume_sweep.hpp, O(n log n) for all of them.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "kestrelopt/mopso/hypervolume_sweep.hpp"
#include "kestrelopt/mopso/pareto.hpp"

namespace kestrelopt {

struct ContributionWork {
    // Scratch only, so a copy (of an archive) starts with empty buffers.
    ContributionWork() = default;
    ContributionWork(const ContributionWork&) {}
    ContributionWork& operator=(const ContributionWork&) { return *this; }
    ContributionWork(ContributionWork&&) noexcept = default;
    ContributionWork& operator=(ContributionWork&&) noexcept = default;

    std::vector<std::size_t> order;
    HypervolumeSweep sweep;
};

// The exclusive contribution of every point (out[i]) of a set of mutually non-dominated,
// distinct points with 2 or 3 objectives, each strictly below `reference`.
void hypervolume_contributions(std::span<const ObjectiveView> points,
                               std::span<const double> reference, ContributionWork& work,
                               std::vector<double>& out);

// The penalty-based boundary intersection of objective vector f along the unit direction
// `unit`, f normalized to (f - ideal) / (nadir - ideal) (a spread of 0 counts as 1):
// d1 + theta d2, d1 the distance along the direction, d2 the distance from it.
double boundary_penalty(std::span<const double> f, std::span<const double> unit,
                        std::span<const double> ideal, std::span<const double> nadir, double theta);

// The weight of the distance from a direction in the penalties of the hypervolume archive
// and of the run's personal bests above three objectives.
inline constexpr double kPenaltyTheta = 5.0;
// The same weight in the decomposition archive's penalties.
inline constexpr double kDecompositionTheta = 1.0;

// The weighted Tchebycheff value of objective vector f along the unit direction `unit`,
// normalized as for boundary_penalty: the largest scaled value over its direction component,
// a component below 1e-6 counting as 1e-6 (so on a boundary direction the objectives it
// leaves out weigh a million times more).
double tchebycheff(std::span<const double> f, std::span<const double> unit,
                   std::span<const double> ideal, std::span<const double> nadir);

// The Das-Dennis directions with `divisions` steps on the unit simplex of `objectives`
// dimensions (row-major, `objectives` values per row, each row summing to 1), in
// lexicographic order of the steps; C(divisions + objectives - 1, objectives - 1) rows.
std::vector<double> das_dennis(std::size_t objectives, std::size_t divisions);

// The fewest divisions whose Das-Dennis set has at least `count` directions (at least 1).
std::size_t das_dennis_divisions(std::size_t objectives, std::size_t count);

}  // namespace kestrelopt
