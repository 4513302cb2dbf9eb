// IntegerSpace: a box of 64-bit integer variables, one inclusive (low, high) pair per
// variable with low <= high (checked at construction); low == high fixes a variable, and
// ranges of [0, 1] make a binary problem. The swarm moves in the real-valued encoding, kept
// in the bounds as doubles exactly like a ContinuousSpace; only decoding rounds (halves away
// from zero, saturating) and clamps. sample and sample_velocity take one draw per variable;
// decode_into is O(D) and allocates nothing once the output has the capacity.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

using IntegerBound = std::pair<std::int64_t, std::int64_t>;

class IntegerSpace {
  public:
    using Element = std::int64_t;

    // Stops with "invalid bound in dimension {i}: {low} > {high}" when high < low.
    explicit IntegerSpace(std::vector<IntegerBound> bounds);

    std::size_t dimensions() const { return bounds_.size(); }
    const std::vector<IntegerBound>& bounds() const { return bounds_; }

    // Uniform real positions over the bounds as doubles; nothing is rounded.
    std::vector<double> sample(RandomSource& gen) const;
    // Uniform in [-s, s] with s = high - low; stops with "cannot sample empty range" when
    // the range is too wide for s to be a 64-bit signed integer.
    std::vector<double> sample_velocity(RandomSource& gen) const;
    // The bounds as the nearest doubles.
    std::vector<Bound> span() const;
    // Over the shorter of the position and the bounds: round, then clamp to the bounds.
    void decode_into(std::span<const double> position, std::vector<std::int64_t>& out) const;
    void enforce_bounds(std::span<double> position, std::span<double> velocity, BoundaryMode mode,
                        RandomSource& gen) const;
    // Not used by the engines for this space; forces every coordinate into its bounds.
    void clamp(std::span<double> position) const;

  private:
    Bound real_bound(std::size_t i) const {
        return {static_cast<double>(bounds_[i].first), static_cast<double>(bounds_[i].second)};
    }

    std::vector<IntegerBound> bounds_;
};

static_assert(SearchSpace<IntegerSpace>);

}  // namespace kestrelopt
