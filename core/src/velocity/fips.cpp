#include "kestrelopt/velocity/fips.hpp"

#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/velocity/constriction.hpp"
#include "kestrelopt/velocity/inertia.hpp"

namespace kestrelopt {

FipsVelocity::FipsVelocity(double phi) : phi_(phi), chi_(0.0) {
    // Written as a negated comparison so that NaN is rejected as well.
    if (!(phi > 4.0))
        fail("FIPS uses constriction: requires φ > 4 (got " + format_float(phi) + ")");
    chi_ = ConstrictionVelocity::factor(phi);
}

void FipsVelocity::update_into(const VelocityContext& context, RandomSource& gen,
                               std::span<double> out) const {
    check_context(context, out);
    const std::size_t n = context.position.size();
    const auto informants = context.informants;
    for (const std::span<const double> q : informants)
        if (q.size() < n) fail("informant vectors are shorter than the position");
    if (informants.empty()) {
        for (std::size_t d = 0; d < n; ++d) out[d] = (0.0 + context.velocity[d]) * chi_;
        return;
    }
    const double share = phi_ / static_cast<double>(informants.size());
    for (std::size_t d = 0; d < n; ++d) {
        const double x = context.position[d];
        double acc = 0.0;
        for (const std::span<const double> q : informants) {
            const double r = uniform01(gen);
            acc = acc + (q[d] - x) * (r * share);
        }
        acc = acc + context.velocity[d];
        out[d] = acc * chi_;
    }
}

}  // namespace kestrelopt
