// Spso2011Velocity: the rotation-invariant rule of the 2011 standard swarm. With the
// particle's position x, velocity v, personal best p and leader l, per dimension d
//   p'[d] = x[d] + c1·(p[d] − x[d]),   l'[d] = x[d] + c2·(l[d] − x[d]),
//   G[d]  = ((x[d] + p'[d]) + l'[d]) / 3, or (x[d] + p'[d]) / 2 when the leader is the
//           particle's own best (the two views share their data),
// and a point x' drawn in the ball about G of radius r = |G − x|, in a direction uniform
// on the sphere and at a distance from G that is r·pow(U, 1/D) (BallPoint::Uniform: the
// point is uniform in the ball) or r·U (BallPoint::UniformRadius: uniform in distance, so
// denser towards G):
//   z  = D standard_normal values (ziggurat, random.hpp), z[0] first; then one
//        U = uniform01,
//   s  = (sqrt(Σ (G[d] − x[d])²) · ρ) / sqrt(Σ z[d]²), ρ = pow(U, 1/D) or U (sums from +0
//        in order; s = 0 when every z[d] is 0),
//   x'[d] = G[d] + z[d]·s,   out[d] = w·v[d] + (x'[d] − x[d]).
// No draw for D = 0. O(D) per update, no allocation (out holds z meanwhile); immutable.
//
// In five or more dimensions most of a ball's volume lies near its surface: a uniform
// point is about r from G, and with w ≈ 0.72 the steps grow instead of settling, even
// with both attractors fixed at the optimum. The uniform distance keeps them shrinking.
#pragma once

#include <cstdint>
#include <numbers>

#include "kestrelopt/traits.hpp"

namespace kestrelopt {

enum class BallPoint : std::uint8_t { Uniform, UniformRadius };

class Spso2011Velocity final : public Velocity {
  public:
    // The standard's coefficients: w = 1 / (2·ln 2) ≈ 0.7213, c1 = c2 = 0.5 + ln 2 ≈ 1.1931.
    static constexpr double kWeight = 1.0 / (2.0 * std::numbers::ln2);
    static constexpr double kAttraction = 0.5 + std::numbers::ln2;

    explicit Spso2011Velocity(double w = kWeight, double c1 = kAttraction, double c2 = kAttraction,
                              BallPoint point = BallPoint::Uniform)
        : w_(w), c1_(c1), c2_(c2), point_(point) {}

    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override;
    bool needs_full_neighborhood() const override { return false; }

    double w() const { return w_; }
    double c1() const { return c1_; }
    double c2() const { return c2_; }
    BallPoint point() const { return point_; }

  private:
    double w_;
    double c1_;
    double c2_;
    BallPoint point_;
};

}  // namespace kestrelopt
