// GreySpace: a space of grey numbers (intervals), searched through their center and spread
// (half-width). Variable i occupies the encoded coordinates 2i (center) and 2i+1 (spread).
// Invariants (checked at construction): one (low, high) limit pair and one max_spread per
// variable, low <= high and neither NaN, max_spread >= 0 and not NaN (it may be infinite).
// The feasible region of variable i is low <= center <= high, 0 <= spread <= L(center), with
// L(c) = max(0, min(min(c - low, high - c), max_spread)): the interval stays within the
// limits and the spread within its cap. Feasibility is kept by projection (clamp), which the
// engine applies after every move in place of the boundary modes. sample and
// sample_velocity take two draws per variable; every other operation is O(n) without draws,
// and decode_into allocates nothing once the output has the capacity.
#pragma once

#include <span>
#include <vector>

#include "kestrelopt/grey_number.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class GreySpace {
  public:
    using Element = Grey;

    // Stops with "bounds and max_spread must have the same length", "invalid bound in
    // variable {i}: {low} > {high}" or "negative max spread in variable {i}: {value}".
    GreySpace(std::vector<Bound> bounds, std::vector<double> max_spread);

    std::size_t variables() const { return bounds_.size(); }
    const std::vector<Bound>& bounds() const { return bounds_; }
    const std::vector<double>& max_spread() const { return max_spread_; }

    // L(center) of variable i: the largest feasible spread around that center. A NaN operand
    // of the inner minimum is ignored, and a NaN result of it counts as 0. Stops unless
    // i < variables().
    double spread_limit(std::size_t i, double center) const;

    // [c0, s0, c1, s1, ...]: per variable a center in the limits, then a spread in
    // [0, L(center)]; always feasible.
    std::vector<double> sample(RandomSource& gen) const;
    // Interleaved like a position: the center velocity in [-w, w] with w = high - low, the
    // spread velocity in [-V, V] with V = max(0, min(w / 2, max_spread)).
    std::vector<double> sample_velocity(RandomSource& gen) const;
    // Per variable, the center's limits (low, high) and the spread's widest range (0, V),
    // V as in sample_velocity (the largest spread any feasible center allows). Informative
    // only: no engine asks a grey space for its span.
    std::vector<Bound> span() const;
    // One Grey per complete (center, spread) pair, spread taken as |spread|; a trailing
    // unpaired coordinate is ignored. The position is not projected.
    void decode_into(std::span<const double> position, std::vector<Grey>& out) const;
    // The projection alone: the mode, the velocity and the generator are not used.
    void enforce_bounds(std::span<double> position, std::span<double>, BoundaryMode,
                        RandomSource&) const {
        clamp(position);
    }
    // Projection onto the feasible region: the center is clamped to the limits (NaN stays),
    // then the spread to [0, L(projected center)] (NaN stays). Stops when the position is
    // longer than 2n; a trailing unpaired center is clamped to its limits.
    void clamp(std::span<double> position) const;

  private:
    double limit(std::size_t i, double center) const;  // spread_limit without the index check
    // V of variable i: the largest spread of any feasible center, max(0, min(w / 2, cap)).
    double widest_spread(std::size_t i) const;

    std::vector<Bound> bounds_;
    std::vector<double> max_spread_;
};

static_assert(SearchSpace<GreySpace>);

}  // namespace kestrelopt
