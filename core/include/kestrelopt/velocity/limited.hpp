// LimitedVelocity: a velocity rule whose every new velocity is clamped per dimension,
// component d to [-limits[d], limits[d]], right after the wrapped rule computes it. The
// comparisons are the engines' own for a scalar v_max (above the limit, then below its
// negation; a NaN component stays NaN), so one limit repeated for every dimension gives the
// same bits as that scalar. Draws nothing of its own; immutable; O(n) per update on top of
// the wrapped rule.
#pragma once

#include <memory>
#include <vector>

#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class LimitedVelocity final : public Velocity {
  public:
    // Stops with "velocity limit {d} must be >= 0 (got {value})" for a negative or NaN limit.
    LimitedVelocity(std::unique_ptr<Velocity> rule, std::vector<double> limits);

    // Stops with "velocity limits cover {n} dimensions, the particle has {m}" when the
    // particle's dimension count differs from the number of limits.
    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override;
    bool needs_full_neighborhood() const override { return rule_->needs_full_neighborhood(); }

    const std::vector<double>& limits() const { return limits_; }

  private:
    std::unique_ptr<Velocity> rule_;
    std::vector<double> limits_;
};

}  // namespace kestrelopt
