#include "kestrelopt/velocity/spso2011.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "kestrelopt/pso.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

double uniform_from(std::uint64_t b) {
    return static_cast<double>(b >> 11) / 9007199254740992.0;  // 2^53
}

// The ziggurat written out plainly, one draw at a time.
double literal_normal(RandomSource& gen) {
    const detail::NormalLayers& t = detail::normal_layers();
    const double r = detail::NormalLayers::kTail;
    for (;;) {
        const std::uint64_t b = gen.next_u64();
        const std::size_t i = b % 256;
        const double sign = (b >> 8) % 2 == 1 ? -1.0 : 1.0;
        const double x = uniform_from(b) * t.x[i];
        if (x < t.x[i + 1]) return sign * x;
        if (i == 0) {
            for (;;) {
                const double tail = -std::log(1.0 - uniform01(gen)) / r;
                const double e = -std::log(1.0 - uniform01(gen));
                if (e + e >= tail * tail) return sign * (r + tail);
            }
        }
        const double y = uniform01(gen);
        if (t.f[i] + y * (t.f[i + 1] - t.f[i]) < std::exp(-(x * x) / 2.0)) return sign * x;
    }
}

// The rule written out plainly, one vector per quantity.
std::vector<double> model(const std::vector<double>& x, const std::vector<double>& v,
                          const std::vector<double>& p, const std::vector<double>& l, bool alone,
                          double w, double c1, double c2, BallPoint point, RandomSource& gen) {
    const std::size_t n = x.size();
    if (n == 0) return {};
    std::vector<double> z;
    while (z.size() < n) z.push_back(literal_normal(gen));
    std::vector<double> g(n);
    double rr = 0.0;
    double zz = 0.0;
    for (std::size_t d = 0; d < n; ++d) {
        const double pp = x[d] + c1 * (p[d] - x[d]);
        const double ll = x[d] + c2 * (l[d] - x[d]);
        g[d] = alone ? (x[d] + pp) / 2.0 : ((x[d] + pp) + ll) / 3.0;
        rr = rr + (g[d] - x[d]) * (g[d] - x[d]);
        zz = zz + z[d] * z[d];
    }
    const double u = uniform01(gen);
    const double radius =
        std::sqrt(rr) *
        (point == BallPoint::Uniform ? std::pow(u, 1.0 / static_cast<double>(n)) : u);
    const double scale = zz > 0.0 ? radius / std::sqrt(zz) : 0.0;
    std::vector<double> out(n);
    for (std::size_t d = 0; d < n; ++d) out[d] = w * v[d] + ((g[d] + z[d] * scale) - x[d]);
    return out;
}

std::vector<double> irregular(RandomSource& data, std::size_t n, double span) {
    std::vector<double> out;
    for (std::size_t d = 0; d < n; ++d) out.push_back(uniform_in_inclusive(data, -span, span));
    return out;
}

struct Case {
    std::size_t n;
    bool alone;
    double w, c1, c2;
    std::uint64_t seed;
    BallPoint point = BallPoint::Uniform;
};

class Spso2011AgainstModel : public ::testing::TestWithParam<Case> {};

TEST_P(Spso2011AgainstModel, SameBitsAndSameDraws) {
    const Case c = GetParam();
    RandomSource data = RandomSource::seed_from_u64(c.seed + 1000);
    const Spso2011Velocity rule(c.w, c.c1, c.c2, c.point);
    RandomSource gen = RandomSource::seed_from_u64(c.seed);
    RandomSource mirror = RandomSource::seed_from_u64(c.seed);
    for (int round = 0; round < 20; ++round) {
        const auto x = irregular(data, c.n, 5.0);
        const auto v = irregular(data, c.n, 2.0);
        const auto p = irregular(data, c.n, 5.0);
        // A leader of the same values in other storage is another particle's best.
        const auto l = c.alone ? p : irregular(data, c.n, 5.0);
        const std::span<const double> leader = c.alone ? std::span<const double>(p) : l;
        std::vector<double> out(c.n);
        rule.update_into(VelocityContext{x, v, p, leader, {}, 0, 1}, gen, out);
        expect_same_bits(out, model(x, v, p, l, c.alone, c.w, c.c1, c.c2, c.point, mirror));
        EXPECT_EQ(gen.index(), mirror.index()) << "round " << round;
        EXPECT_EQ(gen.counter(), mirror.counter()) << "round " << round;
    }
}

constexpr double kW = Spso2011Velocity::kWeight;
constexpr double kC = Spso2011Velocity::kAttraction;
constexpr BallPoint kRadial = BallPoint::UniformRadius;

INSTANTIATE_TEST_SUITE_P(
    Shapes, Spso2011AgainstModel,
    ::testing::Values(Case{1, false, kW, kC, kC, 1}, Case{2, false, kW, kC, kC, 2},
                      Case{3, true, kW, kC, kC, 3}, Case{7, false, 0.5, 2.0, 0.25, 4},
                      Case{30, false, kW, kC, kC, 5}, Case{30, true, 0.9, 1.5, 1.5, 6},
                      Case{65, false, kW, kC, kC, 7}, Case{1, true, kW, kC, kC, 8, kRadial},
                      Case{30, false, kW, kC, kC, 9, kRadial},
                      Case{30, true, kW, kC, kC, 10, kRadial},
                      Case{65, false, 0.5, 2.0, 0.25, 11, kRadial}));

TEST(Spso2011Velocity, StandardCoefficients) {
    EXPECT_NEAR(Spso2011Velocity::kWeight, 0.7213475204444817, 1e-15);
    EXPECT_NEAR(Spso2011Velocity::kAttraction, 1.1931471805599454, 1e-15);
    const Spso2011Velocity rule;
    EXPECT_EQ(rule.w(), Spso2011Velocity::kWeight);
    EXPECT_EQ(rule.c1(), Spso2011Velocity::kAttraction);
    EXPECT_EQ(rule.c2(), Spso2011Velocity::kAttraction);
    EXPECT_FALSE(rule.needs_full_neighborhood());
}

TEST(Spso2011Velocity, NoDimensionsDrawNothing) {
    const std::vector<double> none;
    RandomSource gen = RandomSource::seed_from_u64(9);
    EXPECT_TRUE(
        Spso2011Velocity().update(VelocityContext{none, none, none, none, {}, 0, 1}, gen).empty());
    expect_advanced_by(gen, 9, 0);
}

TEST(Spso2011Velocity, AtItsBestAloneTheParticleKeepsWTimesItsVelocity) {
    // x = p = l: the ball has radius 0, whatever the draws.
    const std::vector<double> x{0.5, -2.0, 3.0}, v{1.0, -0.25, 0.0};
    RandomSource gen = RandomSource::seed_from_u64(3);
    const auto out = Spso2011Velocity().update(VelocityContext{x, v, x, x, {}, 0, 1}, gen);
    for (std::size_t d = 0; d < 3; ++d) EXPECT_EQ(out[d], Spso2011Velocity::kWeight * v[d]);
}

struct Law {
    BallPoint point;
    double inner;  // share of points within half the radius of G
    double shell;  // share beyond 0.9 of it
};

class Spso2011Ball : public ::testing::TestWithParam<Law> {};

TEST_P(Spso2011Ball, PointsFollowTheirDistanceLaw) {
    // With w = 0 the new velocity is x' − x. In D = 3 a point uniform in the ball lies
    // within half the radius with probability 1/8 and beyond 0.9 of it with 1 − 0.9³; at a
    // uniform distance, with 1/2 and 1/10. Either way the directions average out: the mean
    // of x' is G.
    const Law law = GetParam();
    const std::vector<double> x{1.0, 2.0, -1.0}, v{0.0, 0.0, 0.0};
    const std::vector<double> p{3.0, -1.0, 0.5}, l{-2.0, 2.5, 4.0};
    const Spso2011Velocity rule(0.0, kC, kC, law.point);
    double g[3], r = 0.0;
    for (std::size_t d = 0; d < 3; ++d) {
        g[d] = ((x[d] + (x[d] + kC * (p[d] - x[d]))) + (x[d] + kC * (l[d] - x[d]))) / 3.0;
        r += (g[d] - x[d]) * (g[d] - x[d]);
    }
    r = std::sqrt(r);
    RandomSource gen = RandomSource::seed_from_u64(77);
    const int samples = 40000;
    int inner = 0, shell = 0;
    double mean[3] = {0.0, 0.0, 0.0};
    for (int s = 0; s < samples; ++s) {
        const auto out = rule.update(VelocityContext{x, v, p, l, {}, 0, 1}, gen);
        double dist = 0.0;
        for (std::size_t d = 0; d < 3; ++d) {
            const double moved = x[d] + out[d];
            dist += (moved - g[d]) * (moved - g[d]);
            mean[d] += moved / samples;
        }
        dist = std::sqrt(dist);
        ASSERT_LE(dist, r * (1.0 + 1e-12));
        inner += dist < 0.5 * r;
        shell += dist > 0.9 * r;
    }
    EXPECT_NEAR(inner / static_cast<double>(samples), law.inner, 0.008);
    EXPECT_NEAR(shell / static_cast<double>(samples), law.shell, 0.008);
    for (std::size_t d = 0; d < 3; ++d) EXPECT_NEAR(mean[d], g[d], 0.01 * r);
}

INSTANTIATE_TEST_SUITE_P(Laws, Spso2011Ball,
                         ::testing::Values(Law{BallPoint::Uniform, 0.125, 0.271},
                                           Law{BallPoint::UniformRadius, 0.5, 0.1}));

TEST(Spso2011Velocity, InManyDimensionsOnlyTheUniformDistanceSettles) {
    // Both attractors held at the optimum 0: the particle's distance to it after 300 steps.
    auto distance_after = [](BallPoint point, std::size_t n) {
        std::vector<double> x(n, 50.0), v(n, 0.0), best(n, 0.0), out(n);
        RandomSource gen = RandomSource::seed_from_u64(1);
        const Spso2011Velocity rule(Spso2011Velocity::kWeight, kC, kC, point);
        for (int t = 0; t < 300; ++t) {
            rule.update_into(VelocityContext{x, v, best, best, {}, 0, 1}, gen, out);
            for (std::size_t d = 0; d < n; ++d) x[d] += v[d] = out[d];
        }
        double sum = 0.0;
        for (const double c : x) sum += c * c;
        return std::sqrt(sum);
    };
    EXPECT_LT(distance_after(BallPoint::UniformRadius, 30), 1e-6);
    EXPECT_LT(distance_after(BallPoint::Uniform, 2), 1e-6);
    EXPECT_GT(distance_after(BallPoint::Uniform, 30), 50.0 * std::sqrt(30.0));
}

// Records, for every update the engine asks for, whether the leader view is the particle's
// own best and whether their values agree.
class Recording final : public Velocity {
  public:
    explicit Recording(std::vector<std::pair<bool, bool>>* seen) : seen_(seen) {}
    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override {
        const bool shared = context.neighborhood_best.data() == context.personal_best.data();
        bool equal = true;
        for (std::size_t d = 0; d < context.position.size(); ++d)
            equal &= context.neighborhood_best[d] == context.personal_best[d];
        seen_->emplace_back(shared, equal);
        inner_.update_into(context, gen, out);
    }
    bool needs_full_neighborhood() const override { return false; }

  private:
    Spso2011Velocity inner_;
    std::vector<std::pair<bool, bool>>* seen_;
};

TEST(Spso2011Velocity, TheEngineHandsTheLeaderOwnBestAsTheSameView) {
    std::vector<std::pair<bool, bool>> seen;
    PsoConfig config;
    config.seed = 8;
    config.n_particles = 6;
    config.max_iter = 15;
    const Pso<ContinuousSpace> engine(config, ContinuousSpace({{-3, 3}, {-3, 3}}),
                                      std::make_unique<Recording>(&seen),
                                      std::make_unique<GlobalBest>());
    engine.run_sequential([](std::span<const double> y) { return y[0] * y[0] + y[1] * y[1]; });
    ASSERT_EQ(seen.size(), 90u);
    std::size_t alone = 0;
    for (const auto& [shared, equal] : seen) {
        EXPECT_EQ(shared, equal);
        alone += shared;
    }
    EXPECT_GT(alone, 0u);
    EXPECT_LT(alone, seen.size());
}

}  // namespace
}  // namespace kestrelopt
