#include "kestrelopt/velocity/constriction.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

std::string message_of(double c1, double c2) {
    return failure_of([&] { ConstrictionVelocity rule(c1, c2); });
}

TEST(ConstrictionFactor, ClassicCoefficientsGiveAbout0_72984) {
    const ConstrictionVelocity rule(2.05, 2.05);
    EXPECT_NEAR(rule.chi(), 0.72984, 5e-6);
    // Closed form 2 / (phi − 2 + sqrt(phi² − 4 phi)) for phi = 4.1.
    EXPECT_NEAR(rule.chi(), 2.0 / (2.1 + std::sqrt(0.41)), 1e-15);
    EXPECT_EQ(rule.c1(), 2.05);
    EXPECT_EQ(rule.c2(), 2.05);
}

class FactorGrouping : public ::testing::TestWithParam<double> {};

TEST_P(FactorGrouping, MatchesTheFormulaBitForBit) {
    const double phi = GetParam();
    const double root = std::sqrt(phi * phi + phi * (-4.0));
    const double expected = 2.0 / std::abs((2.0 - phi) - root);
    EXPECT_EQ(bits(ConstrictionVelocity::factor(phi)), bits(expected));
    EXPECT_GT(ConstrictionVelocity::factor(phi), 0.0);
    EXPECT_LT(ConstrictionVelocity::factor(phi), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Phis, FactorGrouping,
                         ::testing::Values(4.000001, 4.1, 4.5, 5.0, 6.3, 10.0, 1e6));

TEST(ConstrictionFactor, StoredChiIsTheFactorOfTheSum) {
    const ConstrictionVelocity rule(1.5, 3.25);
    EXPECT_EQ(bits(rule.chi()), bits(ConstrictionVelocity::factor(4.75)));
}

struct Rejected {
    double c1;
    double c2;
    const char* shown;
};

class ConstrictionRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(ConstrictionRejects, StopsWithTheSumInTheMessage) {
    const Rejected& p = GetParam();
    EXPECT_EQ(message_of(p.c1, p.c2),
              std::string("constriction requires c1 + c2 > 4 (got ") + p.shown + ")");
}

INSTANTIATE_TEST_SUITE_P(Sums, ConstrictionRejects,
                         ::testing::Values(Rejected{2.0, 2.0, "4"}, Rejected{1.0, 1.0, "2"},
                                           Rejected{1.5, 2.25, "3.75"}, Rejected{0.0, 0.0, "0"},
                                           Rejected{-1.0, -0.5, "-1.5"}, Rejected{kNaN, 3.0, "NaN"},
                                           Rejected{-kInf, 9.0, "-inf"},
                                           Rejected{kInf, -kInf, "NaN"}));

TEST(ConstrictionVelocity, TheCheckIsOnTheRoundedSum) {
    // 2 + (2 + 2^-51) rounds to 4 (a tie to even), so it fails; 2 + (2 + 2^-50) is the
    // next double above 4 and passes.
    const double one_ulp = std::nextafter(2.0, 3.0);
    const double two_ulps = std::nextafter(one_ulp, 3.0);
    EXPECT_EQ(message_of(2.0, one_ulp), "constriction requires c1 + c2 > 4 (got 4)");
    const ConstrictionVelocity rule(2.0, two_ulps);
    EXPECT_EQ(bits(rule.chi()), bits(ConstrictionVelocity::factor(std::nextafter(4.0, 5.0))));
}

TEST(ConstrictionVelocity, DoesNotNeedTheFullNeighbourhood) {
    EXPECT_FALSE(ConstrictionVelocity(2.05, 2.05).needs_full_neighborhood());
}

struct Vectors {
    std::vector<double> x, v, p, g;
};

Vectors vectors_of(std::size_t n) {
    Vectors s;
    for (std::size_t d = 0; d < n; ++d) {
        const double t = static_cast<double>(d);
        s.x.push_back(0.5 * t - 1.25);
        s.v.push_back(0.3 - 0.1 * t);
        s.p.push_back(2.0 - 0.75 * t);
        s.g.push_back(-1.0 + 0.2 * t);
    }
    return s;
}

VelocityContext context_of(const Vectors& s) {
    return VelocityContext{s.x, s.v, s.p, s.g, {}, 0, 10};
}

class ConstrictionDraws : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ConstrictionDraws, TwoUniformDrawsPerDimension) {
    const std::size_t n = GetParam();
    const Vectors s = vectors_of(n);
    RandomSource gen = RandomSource::seed_from_u64(77);
    const std::vector<double> out = ConstrictionVelocity(2.05, 2.05).update(context_of(s), gen);
    EXPECT_EQ(out.size(), n);
    expect_advanced_by(gen, 77, 2 * n);
}

// 40 dimensions take 80 values, more than one buffer of the generator.
INSTANTIATE_TEST_SUITE_P(Dimensions, ConstrictionDraws, ::testing::Values(0, 1, 3, 7, 40));

// Irregular values in [-5, 5], drawn from a generator of their own.
Vectors irregular_vectors(std::size_t n) {
    RandomSource data = RandomSource::seed_from_u64(4242);
    Vectors s;
    for (std::size_t d = 0; d < n; ++d) {
        s.x.push_back(uniform_in_inclusive(data, -5.0, 5.0));
        s.v.push_back(uniform_in_inclusive(data, -5.0, 5.0));
        s.p.push_back(uniform_in_inclusive(data, -5.0, 5.0));
        s.g.push_back(uniform_in_inclusive(data, -5.0, 5.0));
    }
    return s;
}

TEST(ConstrictionVelocity, UpdateIsTheFormulaBitForBit) {
    const std::size_t n = 24;
    const Vectors s = irregular_vectors(n);
    const double c1 = 1.7;
    const double c2 = 2.6;
    const ConstrictionVelocity rule(c1, c2);
    RandomSource gen = RandomSource::seed_from_u64(2024);
    RandomSource mirror = RandomSource::seed_from_u64(2024);
    std::vector<double> out(n);
    rule.update_into(context_of(s), gen, out);
    const double chi = ConstrictionVelocity::factor(c1 + c2);
    std::size_t regrouped_differs = 0;
    for (std::size_t d = 0; d < n; ++d) {
        const double r1 = uniform01(mirror);
        const double r2 = uniform01(mirror);
        const double x = s.x[d];
        const double expected =
            (((s.p[d] - x) * (r1 * c1) + s.v[d]) + (s.g[d] - x) * (r2 * c2)) * chi;
        EXPECT_EQ(bits(out[d]), bits(expected)) << "dimension " << d;
        const double regrouped =
            ((s.p[d] - x) * (r1 * c1) + (s.v[d] + (s.g[d] - x) * (r2 * c2))) * chi;
        regrouped_differs += bits(regrouped) != bits(expected);
    }
    // The data tell the groupings apart, so the comparison above pins this one down.
    EXPECT_GT(regrouped_differs, 0u);
}

TEST(ConstrictionVelocity, HandComputedOnOneDimension) {
    // x = 1, v = 0.5, p = 3, g = -1 with c1 = 1, c2 = 3.5 and the first two draws of seed 0.
    const std::vector<double> x{1.0}, v{0.5}, p{3.0}, g{-1.0};
    RandomSource draws = RandomSource::seed_from_u64(0);
    const double r1 = uniform01(draws);
    EXPECT_EQ(r1, 0.7090754154265618);
    const double r2 = uniform01(draws);
    const double chi = ConstrictionVelocity::factor(4.5);
    EXPECT_EQ(chi, 2.0 / (2.5 + std::sqrt(2.25)));  // sqrt(4.5² − 18) = 1.5 exactly
    RandomSource gen = RandomSource::seed_from_u64(0);
    const auto out =
        ConstrictionVelocity(1.0, 3.5).update(VelocityContext{x, v, p, g, {}, 0, 1}, gen);
    EXPECT_EQ(out[0], ((2.0 * r1 + 0.5) + -2.0 * (r2 * 3.5)) * chi);
}

TEST(ConstrictionVelocity, HandComputedWithoutRandomPulls) {
    // At its personal and neighbourhood best a particle keeps chi times its velocity,
    // whatever the draws.
    const std::vector<double> x{1.0, -2.0};
    const std::vector<double> v{0.5, -4.0};
    const ConstrictionVelocity rule(2.05, 2.05);
    RandomSource gen = RandomSource::seed_from_u64(3);
    const auto out = rule.update(VelocityContext{x, v, x, x, {}, 0, 1}, gen);
    EXPECT_EQ(out[0], 0.5 * rule.chi());
    EXPECT_EQ(out[1], -4.0 * rule.chi());
}

TEST(ConstrictionVelocity, IgnoresTheIterationCounters) {
    const Vectors s = vectors_of(4);
    const ConstrictionVelocity rule(2.05, 2.05);
    RandomSource a = RandomSource::seed_from_u64(9);
    RandomSource b = RandomSource::seed_from_u64(9);
    const auto early = rule.update(VelocityContext{s.x, s.v, s.p, s.g, {}, 0, 100}, a);
    const auto late = rule.update(VelocityContext{s.x, s.v, s.p, s.g, {}, 99, 100}, b);
    for (std::size_t d = 0; d < 4; ++d) EXPECT_EQ(bits(early[d]), bits(late[d]));
}

TEST(ConstrictionVelocity, NaNPropagatesInItsOwnDimensionOnly) {
    Vectors s = vectors_of(3);
    s.x[1] = kNaN;
    RandomSource gen = RandomSource::seed_from_u64(1);
    const auto out = ConstrictionVelocity(2.05, 2.05).update(context_of(s), gen);
    EXPECT_FALSE(std::isnan(out[0]));
    EXPECT_TRUE(std::isnan(out[1]));
    EXPECT_FALSE(std::isnan(out[2]));
}

class ConstrictionShortContext : public ::testing::TestWithParam<int> {};

TEST_P(ConstrictionShortContext, Stops) {
    Vectors s = vectors_of(3);
    std::vector<double>* shortened[] = {&s.v, &s.p, &s.g};
    std::vector<double> out(3);
    if (GetParam() < 3)
        shortened[GetParam()]->pop_back();
    else
        out.pop_back();
    RandomSource gen = RandomSource::seed_from_u64(1);
    try {
        ConstrictionVelocity(2.05, 2.05).update_into(context_of(s), gen, out);
        FAIL() << "expected a stop";
    } catch (const InternalFailure& e) {
        EXPECT_STREQ(e.what(), "velocity context vectors are shorter than the position");
    }
}

INSTANTIATE_TEST_SUITE_P(WhichVector, ConstrictionShortContext, ::testing::Values(0, 1, 2, 3));

}  // namespace
}  // namespace kestrelopt
