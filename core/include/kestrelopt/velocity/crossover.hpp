// CrossoverVelocity: another single-leader rule whose move is, now and then, replaced by a
// recombination of the particle's two attractors. Per update, when the leader is not the
// particle's own best (the two views share their data otherwise), one draw U decides: for
// U < probability the new position is a uniform crossover y of the personal best p and the
// leader's best l, y[d] = l[d] when a draw per dimension (in order) is below 1/2, else p[d],
// and the velocity is out[d] = y[d] - x[d]; otherwise the wrapped rule writes the velocity
// with the generator where U left it. A particle alone draws no U and moves by the rule.
//
// The swarm's moves mix no coordinates between points, so a variable's good value found by
// one particle and another's found by its leader meet only by chance. On functions whose
// variables act independently (bbob's separable group) recombining them pays off; immutable;
// O(n) per update on top of the wrapped rule.
#pragma once

#include <memory>

#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class CrossoverVelocity final : public Velocity {
  public:
    // Stops with "crossover must be in [0, 1] (got {value})" outside that range or for NaN,
    // and with "crossover needs a single-leader velocity rule" for one that reads the whole
    // neighbourhood.
    CrossoverVelocity(std::unique_ptr<Velocity> rule, double probability);

    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override;
    bool needs_full_neighborhood() const override { return false; }

  private:
    std::unique_ptr<Velocity> rule_;
    double probability_;
};

}  // namespace kestrelopt
