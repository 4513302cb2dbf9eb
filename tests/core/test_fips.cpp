#include "kestrelopt/velocity/fips.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/topology/ring.hpp"
#include "kestrelopt/velocity/constriction.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// Owns the vectors a context borrows, with k informants of n components each.
struct Borrowed {
    std::vector<double> x, v, p, g;
    std::vector<std::vector<double>> q;
    std::vector<std::span<const double>> views;

    Borrowed(std::size_t n, std::size_t k) {
        for (std::size_t d = 0; d < n; ++d) {
            const double t = static_cast<double>(d);
            x.push_back(0.25 * t - 1.0);
            v.push_back(0.5 - 0.125 * t);
            p.push_back(1.5 - t);
            g.push_back(-0.75 + 0.5 * t);
        }
        for (std::size_t j = 0; j < k; ++j) {
            std::vector<double> row;
            for (std::size_t d = 0; d < n; ++d)
                row.push_back(static_cast<double>(j) * 0.75 - static_cast<double>(d) * 0.3);
            q.push_back(row);
        }
        for (const auto& row : q) views.emplace_back(row);
    }
    VelocityContext context() const { return VelocityContext{x, v, p, g, views, 3, 10}; }
};

std::string message_of(double phi) {
    return failure_of([&] { FipsVelocity rule(phi); });
}

TEST(FipsVelocity, SharesTheConstrictionFactor) {
    const FipsVelocity fips(4.1);
    EXPECT_EQ(fips.phi(), 4.1);
    EXPECT_NEAR(fips.chi(), 0.72984, 5e-6);
    EXPECT_EQ(bits(fips.chi()), bits(ConstrictionVelocity(2.05, 2.05).chi()));
    EXPECT_EQ(bits(FipsVelocity(7.5).chi()), bits(ConstrictionVelocity::factor(7.5)));
}

TEST(FipsVelocity, NeedsTheFullNeighbourhood) {
    EXPECT_TRUE(FipsVelocity(4.1).needs_full_neighborhood());
}

struct Rejected {
    double phi;
    const char* shown;
};

class FipsRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(FipsRejects, StopsWithPhiInTheMessage) {
    EXPECT_EQ(message_of(GetParam().phi),
              std::string("FIPS uses constriction: requires φ > 4 (got ") + GetParam().shown + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Phis, FipsRejects,
    ::testing::Values(Rejected{4.0, "4"}, Rejected{3.5, "3.5"}, Rejected{0.0, "0"},
                      Rejected{-0.0, "-0"}, Rejected{-2.25, "-2.25"}, Rejected{kNaN, "NaN"},
                      Rejected{-kInf, "-inf"},
                      Rejected{std::nextafter(4.0, 0.0), "3.9999999999999996"}));

TEST(FipsVelocity, AcceptsTheNextDoubleAbove4) {
    EXPECT_NO_THROW(FipsVelocity(std::nextafter(4.0, 5.0)));
}

struct Shape {
    std::size_t n;
    std::size_t k;
};

class FipsDraws : public ::testing::TestWithParam<Shape> {};

TEST_P(FipsDraws, OneDrawPerInformantAndDimension) {
    const auto [n, k] = GetParam();
    const Borrowed s(n, k);
    RandomSource gen = RandomSource::seed_from_u64(55);
    const auto out = FipsVelocity(4.1).update(s.context(), gen);
    EXPECT_EQ(out.size(), n);
    expect_advanced_by(gen, 55, n * k);
}

INSTANTIATE_TEST_SUITE_P(Shapes, FipsDraws,
                         ::testing::Values(Shape{1, 1}, Shape{3, 4}, Shape{5, 0}, Shape{0, 3},
                                           Shape{6, 30}, Shape{2, 5}));

TEST(FipsVelocity, UpdateIsTheFormulaBitForBitDimensionMajor) {
    const std::size_t n = 12;
    const std::size_t k = 3;
    Borrowed s(n, k);
    // Irregular values, drawn from a generator of their own.
    RandomSource data = RandomSource::seed_from_u64(31337);
    for (std::size_t d = 0; d < n; ++d) {
        s.x[d] = uniform_in_inclusive(data, -5.0, 5.0);
        s.v[d] = uniform_in_inclusive(data, -5.0, 5.0);
        for (auto& row : s.q) row[d] = uniform_in_inclusive(data, -5.0, 5.0);
    }
    const double phi = 4.6;
    RandomSource gen = RandomSource::seed_from_u64(808);
    RandomSource mirror = RandomSource::seed_from_u64(808);
    std::vector<double> out(n);
    FipsVelocity(phi).update_into(s.context(), gen, out);
    const double chi = ConstrictionVelocity::factor(phi);
    const double share = phi / 3.0;
    std::size_t velocity_first_differs = 0;
    for (std::size_t d = 0; d < n; ++d) {
        double acc = 0.0;
        double velocity_first = s.v[d];
        for (std::size_t j = 0; j < k; ++j) {
            const double r = uniform01(mirror);
            acc = acc + (s.q[j][d] - s.x[d]) * (r * share);
            velocity_first = velocity_first + (s.q[j][d] - s.x[d]) * (r * share);
        }
        acc = acc + s.v[d];
        EXPECT_EQ(bits(out[d]), bits(acc * chi)) << "dimension " << d;
        velocity_first_differs += bits(velocity_first * chi) != bits(acc * chi);
    }
    // The data tell the orders of summation apart, so the comparison above pins this one.
    EXPECT_GT(velocity_first_differs, 0u);
}

TEST(FipsVelocity, HandComputedWithTwoInformants) {
    // One dimension: x = 1, v = -0.5, informants at 3 and -2, phi = 5 (share 2.5).
    const std::vector<double> x{1.0}, v{-0.5}, q0{3.0}, q1{-2.0};
    const std::vector<std::span<const double>> informants{q0, q1};
    RandomSource draws = RandomSource::seed_from_u64(0);
    const double r0 = uniform01(draws);
    const double r1 = uniform01(draws);
    RandomSource gen = RandomSource::seed_from_u64(0);
    const auto out = FipsVelocity(5.0).update(VelocityContext{x, v, x, x, informants, 0, 1}, gen);
    const double chi = 2.0 / (3.0 + std::sqrt(5.0));
    EXPECT_EQ(bits(ConstrictionVelocity::factor(5.0)), bits(chi));
    EXPECT_EQ(bits(out[0]), bits(((2.0 * (r0 * 2.5) + -3.0 * (r1 * 2.5)) + -0.5) * chi));
}

TEST(FipsVelocity, InformantOrderMatters) {
    // The same informants listed in another order meet other draws.
    Borrowed s(2, 3);
    RandomSource a = RandomSource::seed_from_u64(4);
    const auto forward = FipsVelocity(4.1).update(s.context(), a);
    std::swap(s.views[0], s.views[2]);
    RandomSource b = RandomSource::seed_from_u64(4);
    const auto reversed = FipsVelocity(4.1).update(s.context(), b);
    EXPECT_NE(bits(forward[0]), bits(reversed[0]));
}

TEST(FipsVelocity, WithoutInformantsScalesTheVelocityAndDrawsNothing) {
    Borrowed s(3, 0);
    s.v = {1.5, -0.0, -2.0};
    const FipsVelocity fips(4.1);
    RandomSource gen = RandomSource::seed_from_u64(6);
    const auto out = fips.update(s.context(), gen);
    EXPECT_EQ(out[0], 1.5 * fips.chi());
    // (0 + v) · chi: adding a positive zero turns −0 into +0.
    EXPECT_EQ(bits(out[1]), bits(0.0));
    EXPECT_EQ(out[2], -2.0 * fips.chi());
    expect_advanced_by(gen, 6, 0);
}

TEST(FipsVelocity, LoneParticleAtItsBestKeepsChiTimesItsVelocity) {
    const std::vector<double> x{0.4, -3.0, 7.25};
    const std::vector<double> v{-1.0, 0.25, 2.0};
    const std::vector<std::span<const double>> self{std::span<const double>(x)};
    const FipsVelocity fips(4.1);
    RandomSource gen = RandomSource::seed_from_u64(12);
    const auto out = fips.update(VelocityContext{x, v, x, x, self, 0, 5}, gen);
    for (std::size_t d = 0; d < 3; ++d) EXPECT_EQ(bits(out[d]), bits(v[d] * fips.chi()));
    expect_advanced_by(gen, 12, 3);
}

TEST(FipsVelocity, ReadsTheInformantsThroughTheirViews) {
    Borrowed s(2, 2);
    const FipsVelocity fips(4.1);
    RandomSource a = RandomSource::seed_from_u64(21);
    const auto before = fips.update(s.context(), a);
    s.q[1][0] += 1.0;  // the views still point at these rows
    RandomSource b = RandomSource::seed_from_u64(21);
    const auto after = fips.update(s.context(), b);
    EXPECT_NE(bits(before[0]), bits(after[0]));
    EXPECT_EQ(bits(before[1]), bits(after[1]));
}

TEST(FipsVelocity, ShortInformantStops) {
    Borrowed s(3, 2);
    s.views[1] = s.views[1].first(2);
    RandomSource gen = RandomSource::seed_from_u64(1);
    try {
        FipsVelocity(4.1).update(s.context(), gen);
        FAIL() << "expected a stop";
    } catch (const InternalFailure& e) {
        EXPECT_STREQ(e.what(), "informant vectors are shorter than the position");
    }
}

TEST(FipsVelocity, ShortContextStops) {
    Borrowed s(3, 2);
    s.v.pop_back();
    RandomSource gen = RandomSource::seed_from_u64(1);
    try {
        FipsVelocity(4.1).update(s.context(), gen);
        FAIL() << "expected a stop";
    } catch (const InternalFailure& e) {
        EXPECT_STREQ(e.what(), "velocity context vectors are shorter than the position");
    }
}

// Delegates to FIPS and records what the engine hands it.
class Recording final : public Velocity {
  public:
    explicit Recording(std::vector<std::vector<std::size_t>>* seen) : seen_(seen) {}
    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override {
        // The length of every informant view handed over (their number is K).
        std::vector<std::size_t> ks;
        for (const auto view : context.informants) ks.push_back(view.size());
        seen_->push_back(ks);
        inner_.update_into(context, gen, out);
    }
    bool needs_full_neighborhood() const override { return true; }

  private:
    FipsVelocity inner_{4.1};
    std::vector<std::vector<std::size_t>>* seen_;
};

PsoConfig small_config(std::size_t n) {
    PsoConfig config;
    config.seed = 5;
    config.n_particles = n;
    config.max_iter = 2;
    return config;
}

double sphere(std::span<const double> x) {
    double s = 0.0;
    for (const double c : x) s += c * c;
    return s;
}

TEST(FipsVelocity, UnderTheGlobalTopologyEveryParticleInformsEveryone) {
    std::vector<std::vector<std::size_t>> seen;
    const Pso<ContinuousSpace> engine(small_config(7), ContinuousSpace({{-1, 1}, {-2, 2}}),
                                      std::make_unique<Recording>(&seen),
                                      std::make_unique<GlobalBest>());
    engine.run_sequential(sphere);
    ASSERT_EQ(seen.size(), 14u);  // 7 particles, 2 iterations
    for (const auto& ks : seen) EXPECT_EQ(ks, std::vector<std::size_t>(7, 2));
}

TEST(FipsVelocity, UnderTheRingTheNeighbourhoodInforms) {
    std::vector<std::vector<std::size_t>> seen;
    const Pso<ContinuousSpace> engine(small_config(7), ContinuousSpace({{-1, 1}}),
                                      std::make_unique<Recording>(&seen),
                                      std::make_unique<Ring>(Ring::lbest()));
    engine.run_sequential(sphere);
    ASSERT_EQ(seen.size(), 14u);
    for (const auto& ks : seen) EXPECT_EQ(ks.size(), 3u);
}

}  // namespace
}  // namespace kestrelopt
