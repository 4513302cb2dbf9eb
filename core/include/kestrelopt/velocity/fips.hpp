// FipsVelocity: the fully informed rule. Every informant j (the neighbourhood's best
// positions, in the topology's order) pulls on the particle:
//   v' = ((Σ_j (q_j − x)·(r_j·phi/K)) + v)·chi,
// summed from +0 in list order; K = 0 gives (0 + v)·chi and draws nothing.
// Draws are dimension-major: one uniform01 per informant and dimension, n·K per update.
// Reads the informants through the context's views, never copies them; O(n·K), no
// allocation. Invariant: phi > 4 (checked at construction), chi = factor(phi). Immutable.
#pragma once

#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class FipsVelocity final : public Velocity {
  public:
    // Stops with "FIPS uses constriction: requires φ > 4 (got {phi})" unless phi > 4
    // (NaN fails too).
    explicit FipsVelocity(double phi);

    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override;
    bool needs_full_neighborhood() const override { return true; }

    double phi() const { return phi_; }
    double chi() const { return chi_; }

  private:
    double phi_;
    double chi_;
};

}  // namespace kestrelopt
