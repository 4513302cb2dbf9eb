// ContinuousSpace: a box of real variables, one (low, high) pair per dimension with
// low <= high and neither NaN (checked at construction); low == high fixes a dimension.
// Decoding is the identity. sample and sample_velocity take one draw per dimension.
#pragma once

#include <span>
#include <vector>

#include "kestrelopt/random.hpp"
#include "kestrelopt/spaces/boundary.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class ContinuousSpace {
  public:
    using Element = double;
    // decode_into copies: the engines hand the position itself to the objective.
    static constexpr bool kDecodesToItself = true;

    explicit ContinuousSpace(std::vector<Bound> bounds);

    std::size_t dimensions() const { return bounds_.size(); }
    const std::vector<Bound>& bounds() const { return bounds_; }
    // The bounds as two arrays, for moves that clamp as they go.
    const std::vector<double>& lower() const { return lower_; }
    const std::vector<double>& upper() const { return upper_; }

    std::vector<double> sample(RandomSource& gen) const;
    std::vector<double> sample_velocity(RandomSource& gen) const;
    std::vector<Bound> span() const { return bounds_; }
    void decode_into(std::span<const double> position, std::vector<double>& out) const {
        out.assign(position.begin(), position.end());
    }
    void enforce_bounds(std::span<double> position, std::span<double> velocity, BoundaryMode mode,
                        RandomSource& gen) const {
        if (mode == BoundaryMode::Clamp && position.size() <= bounds_.size())
            return detail::clamp_over<false>(position, nullptr, lower_.data(), upper_.data());
        enforce_box_bounds(
            position, velocity, bounds_.size(),
            [bounds = bounds_.data()](std::size_t i) { return bounds[i]; }, mode, gen);
    }
    // The move (velocity added to position in kOrder), then the Clamp mode, in one pass:
    // what the engines' move and enforce_bounds(Clamp) give. False (nothing done) unless
    // position and velocity have one value per dimension.
    template <MoveOrder kOrder = MoveOrder::VelocityFirst>
    bool move_clamped(std::span<double> position, std::span<const double> velocity) const {
        if (position.size() != bounds_.size() || velocity.size() != bounds_.size()) return false;
        detail::clamp_over<true, kOrder>(position, velocity.data(), lower_.data(), upper_.data());
        return true;
    }
    // Not used by the engines for this space; forces every coordinate into its bounds.
    void clamp(std::span<double> position) const;

  private:
    std::vector<Bound> bounds_;
    // The same bounds as two arrays, for the clamp that runs after every move.
    std::vector<double> lower_;
    std::vector<double> upper_;
};

// Shared by the real-valued spaces.

// Stops with "invalid bound in dimension {i}: {low} > {high}" unless high >= low for every
// pair (NaN fails too).
void check_real_bounds(const std::vector<Bound>& bounds);
// A position: one draw per pair, uniform in [low, high], in order.
std::vector<double> sample_in_bounds(const std::vector<Bound>& bounds, RandomSource& gen);
// A velocity: one draw per pair, uniform in [-s, s] with s = high - low, in order.
std::vector<double> sample_velocity_for_bounds(const std::vector<Bound>& bounds, RandomSource& gen);

}  // namespace kestrelopt
