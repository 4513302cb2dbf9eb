#include "kestrelopt/velocity/inertia.hpp"

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
    const std::size_t n = context.position.size();
    for (std::size_t d = 0; d < n; ++d) {
        const double r1 = uniform01(gen);
        const double r2 = uniform01(gen);
        const double x = context.position[d];
        const double cognitive = (context.personal_best[d] - x) * (r1 * c1_);
        const double social = (context.neighborhood_best[d] - x) * (r2 * c2_);
        out[d] = (w * context.velocity[d] + cognitive) + social;
    }
}

}  // namespace kestrelopt
