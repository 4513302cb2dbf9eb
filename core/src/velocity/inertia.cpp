#include "kestrelopt/velocity/inertia.hpp"

#include <algorithm>

namespace kestrelopt {

void check_context(const VelocityContext& context, std::span<double> out) {
    const std::size_t n = context.position.size();
    if (context.velocity.size() < n || context.personal_best.size() < n ||
        context.neighborhood_best.size() < n || out.size() < n)
        fail("velocity context vectors are shorter than the position");
}

double InertiaVelocity::weight(std::size_t iteration, std::size_t max_iter) const {
    if (!w_end_ || max_iter <= 1) return w_;
    const double fraction = static_cast<double>(iteration) / static_cast<double>(max_iter - 1);
    return (*w_end_ - w_) * fraction + w_;
}

void InertiaVelocity::update_into(const VelocityContext& context, RandomSource& gen,
                                  std::span<double> out) const {
    check_context(context, out);
    const double w = weight(context.iteration, context.max_iter);
    const double c1 = c1_;
    const double c2 = c2_;
    const std::size_t n = context.position.size();
    const double* position = context.position.data();
    const double* velocity = context.velocity.data();
    const double* personal = context.personal_best.data();
    const double* neighbor = context.neighborhood_best.data();
    double* result = out.data();
    // The factors r1, r2 of a chunk of dimensions are drawn first, in the order the
    // per-dimension loop would draw them, so the arithmetic below can be vectorized.
    double factors[2 * kVelocityChunk];
    for (std::size_t start = 0; start < n; start += kVelocityChunk) {
        const std::size_t m = std::min(kVelocityChunk, n - start);
        gen.fill_uniform01(std::span<double>(factors, 2 * m));
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t d = start + j;
            const double x = position[d];
            const double cognitive = (personal[d] - x) * (factors[2 * j] * c1);
            const double social = (neighbor[d] - x) * (factors[2 * j + 1] * c2);
            result[d] = (w * velocity[d] + cognitive) + social;
        }
    }
}

}  // namespace kestrelopt
