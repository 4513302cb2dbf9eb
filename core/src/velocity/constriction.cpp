#include "kestrelopt/velocity/constriction.hpp"

#include <cmath>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/velocity/single_leader.hpp"

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
    single_leader_update(context, gen, out, c1_, c2_, LeaderRule::Constriction, chi_);
}

}  // namespace kestrelopt
