#include "kestrelopt/velocity/inertia.hpp"

namespace kestrelopt {

double InertiaVelocity::weight(std::size_t iteration, std::size_t max_iter) const {
    if (!w_end_ || max_iter <= 1) return w_;
    const double fraction = static_cast<double>(iteration) / static_cast<double>(max_iter - 1);
    return (*w_end_ - w_) * fraction + w_;
}

void InertiaVelocity::update_into(const VelocityContext& context, RandomSource& gen,
                                  std::span<double> out) const {
    const double w = weight(context.iteration, context.max_iter);
    single_leader_update(context, gen, out, c1_, c2_, LeaderRule::Inertia, w);
}

}  // namespace kestrelopt
