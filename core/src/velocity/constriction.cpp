#include "kestrelopt/velocity/constriction.hpp"

#include <algorithm>
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
    const double c1 = c1_;
    const double c2 = c2_;
    const double chi = chi_;
    const std::size_t n = context.position.size();
    const double* position = context.position.data();
    const double* velocity = context.velocity.data();
    const double* personal = context.personal_best.data();
    const double* neighbor = context.neighborhood_best.data();
    double* result = out.data();
    // Draws first, in the per-dimension order, then a loop the compiler can vectorize.
    double factors[2 * kVelocityChunk];
    for (std::size_t start = 0; start < n; start += kVelocityChunk) {
        const std::size_t m = std::min(kVelocityChunk, n - start);
        gen.fill_uniform01(std::span<double>(factors, 2 * m));
        for (std::size_t j = 0; j < m; ++j) {
            const std::size_t d = start + j;
            const double x = position[d];
            const double cognitive = (personal[d] - x) * (factors[2 * j] * c1);
            const double social = (neighbor[d] - x) * (factors[2 * j + 1] * c2);
            result[d] = ((cognitive + velocity[d]) + social) * chi;
        }
    }
}

}  // namespace kestrelopt
