#include "kestrelopt/velocity/inertia.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace kestrelopt {
namespace {

struct Vectors {
    std::vector<double> x{1.0, -2.0, 0.5};
    std::vector<double> v{0.3, 0.1, -0.7};
    std::vector<double> p{1.5, -1.0, 0.0};
    std::vector<double> g{2.0, -3.0, 0.25};
    VelocityContext context(std::size_t iteration = 0, std::size_t max_iter = 10) const {
        return VelocityContext{x, v, p, g, {}, iteration, max_iter};
    }
};

TEST(InertiaVelocity, UpdateFollowsTheExactGroupingAndDrawOrder) {
    const Vectors s;
    const InertiaVelocity rule(0.7, 1.5, 2.0);
    auto gen = RandomSource::seed_from_u64(31);
    auto reference = RandomSource::seed_from_u64(31);
    const auto out = rule.update(s.context(), gen);
    ASSERT_EQ(out.size(), 3u);
    for (std::size_t d = 0; d < 3; ++d) {
        const double r1 = uniform01(reference);
        const double r2 = uniform01(reference);
        const double cognitive = (s.p[d] - s.x[d]) * (r1 * 1.5);
        const double social = (s.g[d] - s.x[d]) * (r2 * 2.0);
        EXPECT_EQ(out[d], (0.7 * s.v[d] + cognitive) + social) << d;
    }
    // Exactly 2n draws.
    EXPECT_EQ(gen.next_u64(), reference.next_u64());
}

TEST(InertiaVelocity, LinearScheduleGoesFromWToWEnd) {
    const InertiaVelocity rule(0.9, 1.0, 1.0, 0.4);
    EXPECT_EQ(rule.weight(0, 11), 0.9);
    EXPECT_EQ(rule.weight(10, 11), 0.4);
    EXPECT_EQ(rule.weight(5, 11), (0.4 - 0.9) * (5.0 / 10.0) + 0.9);
    // A single iteration keeps w.
    EXPECT_EQ(rule.weight(0, 1), 0.9);
    EXPECT_EQ(InertiaVelocity(0.9, 1, 1).weight(7, 11), 0.9);
}

TEST(InertiaVelocity, ScheduledWeightIsUsedInTheUpdate) {
    Vectors s;
    s.p = s.x;  // no cognitive pull
    s.g = s.x;  // no social pull
    const InertiaVelocity rule(0.9, 1.0, 1.0, 0.4);
    auto gen = RandomSource::seed_from_u64(1);
    const auto out = rule.update(s.context(10, 11), gen);
    for (std::size_t d = 0; d < 3; ++d) EXPECT_EQ(out[d], 0.4 * s.v[d]);
}

TEST(InertiaVelocity, ShortContextVectorsAreAStop) {
    Vectors s;
    s.g.pop_back();
    const InertiaVelocity rule(0.7, 1.5, 1.5);
    auto gen = RandomSource::seed_from_u64(1);
    EXPECT_THROW(rule.update(s.context(), gen), InternalFailure);
    EXPECT_FALSE(rule.needs_full_neighborhood());
}

}  // namespace
}  // namespace kestrelopt
