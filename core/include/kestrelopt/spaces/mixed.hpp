// MixedSpace: a box whose variables each have a VarType (real, integer or binary) and a
// (low, high) pair of doubles. Invariants (established at construction): types and bounds
// have the same length; every binary variable has the bounds (0, 1); every other pair has
// low <= high, neither NaN. The swarm moves in the real-valued encoding exactly as in a
// ContinuousSpace over the same bounds (same draws); decoding rounds the integer and binary
// variables and delivers every value as a double. sample and sample_velocity take one draw
// per variable; decode_into is O(D) and allocates nothing once the output has the capacity.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "kestrelopt/random.hpp"
#include "kestrelopt/spaces/boundary.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

enum class VarType : std::uint8_t { Real = 0, Integer = 1, Binary = 2 };

class MixedSpace {
  public:
    using Element = double;

    // Stops with "bounds and types must have the same length", or with "invalid bound in
    // dimension {i}: {low} > {high}" for a real or integer variable; a binary variable's
    // bounds are replaced by (0, 1) whatever was given.
    MixedSpace(std::vector<Bound> bounds, std::vector<VarType> types);

    std::size_t dimensions() const { return bounds_.size(); }
    const std::vector<Bound>& bounds() const { return bounds_; }
    const std::vector<VarType>& types() const { return types_; }

    std::vector<double> sample(RandomSource& gen) const;
    std::vector<double> sample_velocity(RandomSource& gen) const;
    std::vector<Bound> span() const { return bounds_; }
    // Real: the coordinate. Integer: the rounded coordinate clamped to the rounded bounds
    // (rounded here, not at construction, so (0.4, 2.6) allows 0 to 3). Binary: the rounded
    // coordinate clamped to [0, 1], NaN staying NaN.
    void decode_into(std::span<const double> position, std::vector<double>& out) const;
    void enforce_bounds(std::span<double> position, std::span<double> velocity, BoundaryMode mode,
                        RandomSource& gen) const {
        enforce_box_bounds(
            position, velocity, bounds_.size(), [this](std::size_t i) { return bounds_[i]; }, mode,
            gen);
    }
    // Not used by the engines for this space; forces every coordinate into its bounds.
    void clamp(std::span<double> position) const;

  private:
    std::vector<Bound> bounds_;
    std::vector<VarType> types_;
};

static_assert(SearchSpace<MixedSpace>);

}  // namespace kestrelopt
