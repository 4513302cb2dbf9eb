// InertiaVelocity: v' = (w·v + (p − x)·(r1·c1)) + (g − x)·(r2·c2), two uniform01 draws per
// dimension (r1 then r2). With w_end set the weight falls linearly from w at iteration 0
// to w_end at the last iteration.
#pragma once

#include <optional>

#include "kestrelopt/traits.hpp"
#include "kestrelopt/velocity/single_leader.hpp"

namespace kestrelopt {

class InertiaVelocity final : public Velocity {
  public:
    InertiaVelocity(double w, double c1, double c2, std::optional<double> w_end = std::nullopt)
        : w_end_(w_end), w_(w), c1_(c1), c2_(c2) {}

    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override;
    bool needs_full_neighborhood() const override { return false; }

    // The weight in force at the context's iteration.
    double weight(std::size_t iteration, std::size_t max_iter) const;
    double c1() const { return c1_; }
    double c2() const { return c2_; }

  private:
    std::optional<double> w_end_;
    double w_;
    double c1_;
    double c2_;
};

}  // namespace kestrelopt
