#include "kestrelopt/velocity/constriction.hpp"

#include <cmath>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/velocity/inertia.hpp"

namespace kestrelopt {

ConstrictionVelocity::ConstrictionVelocity(double c1, double c2) : c1_(c1), c2_(c2), chi_(0.0) {
    const double phi = c1 + c2;
    // Written as a negated comparison so that a NaN sum is rejected as well.
    if (!(phi > 4.0)) fail("constriction requires c1 + c2 > 4 (got " + format_float(phi) + ")");
    chi_ = factor(phi);
}

double ConstrictionVelocity::factor(double phi) {
    const double root = std::sqrt(phi * phi + phi * (-4.0));
    return 2.0 / std::fabs((2.0 - phi) - root);
}

void ConstrictionVelocity::update_into(const VelocityContext& context, RandomSource& gen,
                                       std::span<double> out) const {
    check_context(context, out);
    const std::size_t n = context.position.size();
    for (std::size_t d = 0; d < n; ++d) {
        const double r1 = uniform01(gen);
        const double r2 = uniform01(gen);
        const double x = context.position[d];
        const double cognitive = (context.personal_best[d] - x) * (r1 * c1_);
        const double social = (context.neighborhood_best[d] - x) * (r2 * c2_);
        out[d] = ((cognitive + context.velocity[d]) + social) * chi_;
    }
}

}  // namespace kestrelopt
