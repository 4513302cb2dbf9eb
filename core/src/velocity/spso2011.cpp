#include "kestrelopt/velocity/spso2011.hpp"

#include <cmath>

#include "kestrelopt/velocity/single_leader.hpp"

namespace kestrelopt {

namespace {

struct Views {
    const double* x;
    const double* v;
    const double* p;
    const double* l;
    double* out;
    std::size_t n;
};

// G[d] of the rule.
template <bool kAlone>
inline double centre(const Views& s, std::size_t d, double c1, double c2) {
    const double x = s.x[d];
    const double near = x + c1 * (s.p[d] - x);
    if constexpr (kAlone) {
        return (x + near) / 2.0;
    } else {
        const double lead = x + c2 * (s.l[d] - x);
        return ((x + near) + lead) / 3.0;
    }
}

// The centres of up to this many dimensions are kept on the stack between the passes;
// beyond, the second pass computes them again (the same bits either way).
constexpr std::size_t kKept = 64;

template <bool kAlone>
void draw_velocity(const Views& s, RandomSource& gen, double w, double c1, double c2,
                   BallPoint point) {
    // The direction's normals wait in out until the radius is known.
    fill_standard_normal(gen, std::span<double>(s.out, s.n));
    double kept[kKept];
    const bool keep = s.n <= kKept;
    double zz = 0.0;
    double rr = 0.0;
    for (std::size_t d = 0; d < s.n; ++d) {
        const double z = s.out[d];
        zz = zz + z * z;
        const double g = centre<kAlone>(s, d, c1, c2);
        if (keep) kept[d] = g;
        const double h = g - s.x[d];
        rr = rr + h * h;
    }
    const double u = uniform01(gen);
    const double reach =
        point == BallPoint::Uniform ? std::pow(u, 1.0 / static_cast<double>(s.n)) : u;
    const double radius = std::sqrt(rr) * reach;
    const double scale = zz > 0.0 ? radius / std::sqrt(zz) : 0.0;
    if (keep) {
        for (std::size_t d = 0; d < s.n; ++d)
            s.out[d] = w * s.v[d] + ((kept[d] + s.out[d] * scale) - s.x[d]);
    } else {
        for (std::size_t d = 0; d < s.n; ++d)
            s.out[d] = w * s.v[d] + ((centre<kAlone>(s, d, c1, c2) + s.out[d] * scale) - s.x[d]);
    }
}

}  // namespace

void Spso2011Velocity::update_into(const VelocityContext& context, RandomSource& gen,
                                   std::span<double> out) const {
    check_context(context, out);
    const Views views{context.position.data(),
                      context.velocity.data(),
                      context.personal_best.data(),
                      context.neighborhood_best.data(),
                      out.data(),
                      context.position.size()};
    if (views.n == 0) return;
    if (context.neighborhood_best.data() == context.personal_best.data())
        draw_velocity<true>(views, gen, w_, c1_, c2_, point_);
    else
        draw_velocity<false>(views, gen, w_, c1_, c2_, point_);
}

}  // namespace kestrelopt
