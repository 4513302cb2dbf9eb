// Constrained domination, for multi-objective runs with constraints: a feasible point
// (total violation 0) beats an infeasible one; of two infeasible points the smaller total
// violation wins; equal violations (two feasible points in particular) compare by Pareto
// dominance. An unconstrained run has every violation 0, so it reduces to plain dominance.
//
// ConstrainedArchive keeps the Archive's members at one violation, the smallest offered so
// far: only feasible points once there is one, before that the Pareto set of the least
// violating points. A smaller violation empties the archive first. Cost: one comparison on
// top of Archive::insert.
#pragma once

#include <cstddef>
#include <limits>
#include <span>

#include "kestrelopt/mopso/archive.hpp"
#include "kestrelopt/mopso/pareto.hpp"

namespace kestrelopt {

// The violation the comparisons use: 0 for any value <= 0, +inf for NaN (a point whose
// constraints cannot be evaluated is worse than any measurable one).
inline double normalized_violation(double violation) {
    if (violation > 0) return violation;
    return violation != violation ? std::numeric_limits<double>::infinity() : 0.0;
}

// Dominance of (a, violation_a) and (b, violation_b); violations already normalized.
inline MutualDominance constrained_dominance(std::span<const double> a, double violation_a,
                                             std::span<const double> b, double violation_b) {
    if (violation_a < violation_b) return {true, false, false};
    if (violation_b < violation_a) return {false, true, false};
    return mutual_dominance(a, b);
}

class ConstrainedArchive {
  public:
    ConstrainedArchive(ArchiveStrategy strategy, std::size_t capacity)
        : archive_(strategy, capacity) {}

    // Offers a candidate with its normalized violation.
    void insert(std::span<const double> position, std::span<const double> objectives,
                double violation) {
        if (!archive_.members().empty()) {
            if (violation > violation_) return;
            if (violation < violation_) archive_.clear();
        }
        violation_ = violation;
        archive_.insert(position, objectives);
    }

    Archive& archive() { return archive_; }
    const Archive& archive() const { return archive_; }
    // The violation of every member (0 when they are feasible); meaningless while empty.
    double violation() const { return violation_; }

  private:
    Archive archive_;
    double violation_ = 0.0;
};

}  // namespace kestrelopt
