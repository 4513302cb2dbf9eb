// InertiaVelocity: v' = (w·v + (p − x)·(r1·c1)) + (g − x)·(r2·c2), two uniform01 draws per
// dimension (r1 then r2). With w_end set the weight falls linearly from w at iteration 0
// to w_end at the last iteration.
#pragma once

#include <optional>

#include "kestrelopt/traits.hpp"

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

  private:
    std::optional<double> w_end_;
    double w_;
    double c1_;
    double c2_;
};

// Dimensions whose random factors the single-leader rules draw in one go, into a buffer
// on the stack.
inline constexpr std::size_t kVelocityChunk = 64;

// Stops unless every vector of the context (and out) has at least the position's length.
void check_context(const VelocityContext& context, std::span<double> out);

// The update shared by the single-leader rules: per dimension d, with r1, r2 drawn in that
// order, out[d] = combine(v[d], (p[d] − x[d])·(r1·c1), (g[d] − x[d])·(r2·c2)). The factors
// of a chunk of dimensions are drawn first, in the order the per-dimension loop would draw
// them, so the arithmetic can be vectorized.
template <class Combine>
void single_leader_update(const VelocityContext& context, RandomSource& gen, std::span<double> out,
                          double c1, double c2, Combine combine) {
    check_context(context, out);
    const std::size_t n = context.position.size();
    const double* position = context.position.data();
    const double* velocity = context.velocity.data();
    const double* personal = context.personal_best.data();
    const double* neighbor = context.neighborhood_best.data();
    double* result = out.data();
    double factors[2 * kVelocityChunk];
    for (std::size_t start = 0; start < n; start += kVelocityChunk) {
        const std::size_t m = n - start < kVelocityChunk ? n - start : kVelocityChunk;
        gen.fill_uniform01(std::span<double>(factors, 2 * m));
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t d = start + j;
            const double x = position[d];
            const double cognitive = (personal[d] - x) * (factors[2 * j] * c1);
            const double social = (neighbor[d] - x) * (factors[2 * j + 1] * c2);
            result[d] = combine(velocity[d], cognitive, social);
        }
    }
}

}  // namespace kestrelopt
