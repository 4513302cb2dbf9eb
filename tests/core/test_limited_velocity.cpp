#include "kestrelopt/velocity/limited.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/topology/ring.hpp"
#include "kestrelopt/velocity/fips.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// A rule that answers fixed components and draws nothing.
class Fixed final : public Velocity {
  public:
    explicit Fixed(std::vector<double> components) : components_(std::move(components)) {}
    void update_into(const VelocityContext&, RandomSource&, std::span<double> out) const override {
        for (std::size_t d = 0; d < out.size(); ++d) out[d] = components_[d];
    }
    bool needs_full_neighborhood() const override { return true; }

  private:
    std::vector<double> components_;
};

std::vector<double> limited(std::vector<double> components, std::vector<double> limits) {
    const std::vector<double> zeros(components.size(), 0.0);
    const LimitedVelocity rule(std::make_unique<Fixed>(std::move(components)), std::move(limits));
    auto gen = RandomSource::seed_from_u64(0);
    return rule.update(VelocityContext{zeros, zeros, zeros, zeros, {}, 0, 1}, gen);
}

TEST(LimitedVelocity, ClampsEachComponentToItsOwnLimit) {
    const auto out =
        limited({5.0, -5.0, 0.5, kNaN, -0.0, 3.0, -kInf}, {1.0, 2.0, 1.0, 1.0, 0.0, 0.0, kInf});
    EXPECT_EQ(out[0], 1.0);
    EXPECT_EQ(out[1], -2.0);
    EXPECT_EQ(out[2], 0.5);
    EXPECT_TRUE(std::isnan(out[3]));
    EXPECT_EQ(bits(out[4]), bits(-0.0));  // neither above 0 nor below -0
    EXPECT_EQ(bits(out[5]), bits(0.0));
    EXPECT_EQ(out[6], -kInf);
}

TEST(LimitedVelocity, ForwardsTheNeighbourhoodNeed) {
    EXPECT_TRUE(
        LimitedVelocity(std::make_unique<FipsVelocity>(4.1), {1.0}).needs_full_neighborhood());
    EXPECT_FALSE(LimitedVelocity(std::make_unique<InertiaVelocity>(0.7, 1.5, 1.5), {1.0})
                     .needs_full_neighborhood());
}

struct Rejected {
    std::vector<double> limits;
    std::size_t dims;
    std::string message;
};

class LimitedVelocityStops : public ::testing::TestWithParam<Rejected> {};

TEST_P(LimitedVelocityStops, WithItsMessage) {
    const Rejected& r = GetParam();
    EXPECT_EQ(failure_of([&] {
                  const std::vector<double> zeros(r.dims, 0.0);
                  const LimitedVelocity rule(std::make_unique<Fixed>(zeros), r.limits);
                  auto gen = RandomSource::seed_from_u64(0);
                  rule.update(VelocityContext{zeros, zeros, zeros, zeros, {}, 0, 1}, gen);
              }),
              r.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LimitedVelocityStops,
    ::testing::Values(Rejected{{1.0, -0.5}, 2, "velocity limit 1 must be >= 0 (got -0.5)"},
                      Rejected{{kNaN}, 1, "velocity limit 0 must be >= 0 (got NaN)"},
                      Rejected{
                          {1.0, 1.0}, 3, "velocity limits cover 2 dimensions, the particle has 3"},
                      Rejected{{-0.0}, 1, "(no failure)"}));

// Every point an objective was called with, in call order.
struct Recorder {
    std::vector<std::vector<double>>* points;
    double operator()(std::span<const double> x) const {
        points->emplace_back(x.begin(), x.end());
        double sum = 0.0;
        for (const double c : x) sum += (c - 1.0) * (c - 1.0);
        return sum;
    }
};

std::unique_ptr<Velocity> rule_named(const std::string& name) {
    if (name == "fips") return std::make_unique<FipsVelocity>(4.1);
    return std::make_unique<InertiaVelocity>(0.9, 1.8, 1.8);
}

const std::vector<Bound> kBox{{-5.0, 5.0}, {-50.0, 50.0}, {0.0, 0.5}};

class ScalarLimitRepeated : public ::testing::TestWithParam<std::string> {};

// The engines' scalar v_max and the same limit repeated per dimension visit the same points.
TEST_P(ScalarLimitRepeated, GivesTheScalarLimitsBits) {
    const double v_max = 0.3;
    PsoConfig config;
    config.seed = 5;
    config.n_particles = 7;
    config.max_iter = 20;
    std::vector<std::vector<double>> scalar_points, repeated_points;
    PsoConfig scalar = config;
    scalar.v_max = v_max;
    const auto a = Pso<ContinuousSpace>(scalar, ContinuousSpace(kBox), rule_named(GetParam()),
                                        std::make_unique<Ring>(2))
                       .run_sequential(Recorder{&scalar_points});
    auto wrapped = std::make_unique<LimitedVelocity>(rule_named(GetParam()),
                                                     std::vector<double>(kBox.size(), v_max));
    const auto b = Pso<ContinuousSpace>(config, ContinuousSpace(kBox), std::move(wrapped),
                                        std::make_unique<Ring>(2))
                       .run_sequential(Recorder{&repeated_points});
    EXPECT_EQ(scalar_points, repeated_points);
    EXPECT_EQ(bits(a.best_value), bits(b.best_value));

    MopsoConfig multi;
    multi.seed = 5;
    multi.n_particles = 7;
    multi.max_iter = 20;
    std::vector<std::vector<double>> multi_scalar, multi_repeated;
    auto two_objectives = [](std::vector<std::vector<double>>& points) {
        return [&points](std::span<const double> x, std::vector<double>& out) {
            points.emplace_back(x.begin(), x.end());
            out = {x[0] * x[0], (x[0] - 2.0) * (x[0] - 2.0) + x[1] * x[2]};
        };
    };
    MopsoConfig multi_scalar_config = multi;
    multi_scalar_config.v_max = v_max;
    Mopso<ContinuousSpace>(multi_scalar_config, ContinuousSpace(kBox),
                           std::make_unique<InertiaVelocity>(0.9, 1.8, 1.8))
        .minimize(two_objectives(multi_scalar));
    Mopso<ContinuousSpace>(
        multi, ContinuousSpace(kBox),
        std::make_unique<LimitedVelocity>(std::make_unique<InertiaVelocity>(0.9, 1.8, 1.8),
                                          std::vector<double>(kBox.size(), v_max)))
        .minimize(two_objectives(multi_repeated));
    EXPECT_EQ(multi_scalar, multi_repeated);
}

INSTANTIATE_TEST_SUITE_P(Rules, ScalarLimitRepeated, ::testing::Values("inertia", "fips"));

// With limits per dimension no step of any particle leaves its dimension's limit, and the
// tightest dimension does reach it.
TEST(LimitedVelocity, BoundsEveryStepOfARun) {
    const std::vector<double> limits{0.05, 4.0, 0.0};
    PsoConfig config;
    config.seed = 9;
    config.n_particles = 1;  // consecutive calls are consecutive positions of one particle
    config.max_iter = 40;
    std::vector<std::vector<double>> points;
    Pso<ContinuousSpace>(config, ContinuousSpace(kBox),
                         std::make_unique<LimitedVelocity>(rule_named("inertia"), limits),
                         std::make_unique<GlobalBest>())
        .run_sequential(Recorder{&points});
    ASSERT_EQ(points.size(), 41u);
    double widest_first = 0.0;
    for (std::size_t t = 1; t < points.size(); ++t) {
        for (std::size_t d = 0; d < limits.size(); ++d) {
            const double step = std::abs(points[t][d] - points[t - 1][d]);
            EXPECT_LE(step, limits[d] * (1 + 1e-12)) << "step " << t << ", dimension " << d;
        }
        widest_first = std::max(widest_first, std::abs(points[t][0] - points[t - 1][0]));
    }
    EXPECT_GT(widest_first, limits[0] * 0.999);
}

}  // namespace
}  // namespace kestrelopt
