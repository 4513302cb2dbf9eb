// ConstrictionVelocity: v' = (((p − x)·(r1·c1) + v) + (g − x)·(r2·c2))·chi, two uniform01
// draws per dimension (r1 then r2), O(n) per update, no allocation.
// Invariant: c1 + c2 > 4 (checked at construction), chi = factor(c1 + c2). Immutable.
// factor(phi) is the constriction factor shared with the fully informed rule.
#pragma once

#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class ConstrictionVelocity final : public Velocity {
  public:
    // Stops with "constriction requires c1 + c2 > 4 (got {c1 + c2})" unless the sum
    // exceeds 4 (a NaN sum fails too).
    ConstrictionVelocity(double c1, double c2);

    // chi = 2 / |(2 − phi) − sqrt(phi·phi + phi·(−4))|, in exactly this grouping.
    static double factor(double phi);

    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override;
    bool needs_full_neighborhood() const override { return false; }

    double c1() const { return c1_; }
    double c2() const { return c2_; }
    double chi() const { return chi_; }

  private:
    double c1_;
    double c2_;
    double chi_;
};

}  // namespace kestrelopt
