#include "kestrelopt/velocity/spso2011.hpp"

#include <cmath>

#include "kestrelopt/velocity/single_leader.hpp"

namespace kestrelopt {

namespace {

// G[d] of the rule, computed alike in both passes so that both see the same bits.
struct Centre {
    const double* x;
    const double* p;
    const double* l;
    double c1;
    double c2;
    bool alone;

    double operator()(std::size_t d) const {
        const double near = x[d] + c1 * (p[d] - x[d]);
        if (alone) return (x[d] + near) / 2.0;
        const double lead = x[d] + c2 * (l[d] - x[d]);
        return ((x[d] + near) + lead) / 3.0;
    }
};

}  // namespace

void Spso2011Velocity::update_into(const VelocityContext& context, RandomSource& gen,
                                   std::span<double> out) const {
    check_context(context, out);
    const std::size_t n = context.position.size();
    if (n == 0) return;
    const double* x = context.position.data();
    const Centre centre{x,
                        context.personal_best.data(),
                        context.neighborhood_best.data(),
                        c1_,
                        c2_,
                        context.neighborhood_best.data() == context.personal_best.data()};
    // The direction's normals wait in out until the radius is known.
    double zz = 0.0;
    double rr = 0.0;
    for (std::size_t d = 0; d < n; d += 2) {
        const NormalPair z = normal_pair(gen);
        out[d] = z.first;
        zz = zz + z.first * z.first;
        if (d + 1 < n) {
            out[d + 1] = z.second;
            zz = zz + z.second * z.second;
        }
    }
    for (std::size_t d = 0; d < n; ++d) {
        const double h = centre(d) - x[d];
        rr = rr + h * h;
    }
    const double u = uniform01(gen);
    const double radius = std::sqrt(rr) * std::pow(u, 1.0 / static_cast<double>(n));
    const double s = zz > 0.0 ? radius / std::sqrt(zz) : 0.0;
    for (std::size_t d = 0; d < n; ++d) {
        const double moved = centre(d) + out[d] * s;
        out[d] = w_ * context.velocity[d] + (moved - x[d]);
    }
}

}  // namespace kestrelopt
