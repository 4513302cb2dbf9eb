#include "kestrelopt/spaces/grey.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// L(c) written out independently, for the cross-checks.
double reference_limit(double c, double lo, double hi, double ms) {
    const double a = c - lo, b = hi - c;
    double m = std::isnan(a) ? b : (std::isnan(b) ? a : std::min(a, b));
    m = std::isnan(m) ? ms : std::min(m, ms);
    return m > 0 ? m : 0.0;
}

// ---- construction ----

struct BadGrey {
    std::vector<Bound> bounds;
    std::vector<double> max_spread;
    std::string message;
};

class GreySpaceStops : public ::testing::TestWithParam<BadGrey> {};

TEST_P(GreySpaceStops, WithTheExactMessage) {
    const BadGrey& c = GetParam();
    EXPECT_EQ(failure_of([&] { GreySpace(c.bounds, c.max_spread); }), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GreySpaceStops,
    ::testing::Values(BadGrey{{{0, 1}}, {1, 1}, "bounds and max_spread must have the same length"},
                      BadGrey{{{5, 1}}, {}, "bounds and max_spread must have the same length"},
                      BadGrey{{{0, 1}, {3, -2}}, {1, 1}, "invalid bound in variable 1: 3 > -2"},
                      BadGrey{{{kNaN, 1}}, {1}, "invalid bound in variable 0: NaN > 1"},
                      BadGrey{{{0.5, kNaN}}, {1}, "invalid bound in variable 0: 0.5 > NaN"},
                      BadGrey{{{0, 1}}, {-0.5}, "negative max spread in variable 0: -0.5"},
                      BadGrey{
                          {{0, 1}, {0, 1}}, {1, kNaN}, "negative max spread in variable 1: NaN"},
                      BadGrey{{{0, 1}}, {-kInf}, "negative max spread in variable 0: -inf"},
                      // Within a variable the limits are checked first; variables go in order.
                      BadGrey{{{2, 1}}, {-1}, "invalid bound in variable 0: 2 > 1"},
                      BadGrey{{{0, 1}, {2, 1}}, {-1, 1}, "negative max spread in variable 0: -1"}));

TEST(GreySpaceNew, AcceptsInfiniteAndZeroCapsAndFixedLimits) {
    EXPECT_EQ(failure_of([] {
                  GreySpace({{-5, 5}, {3, 3}, {0, 1}}, {kInf, 0.0, -0.0});
              }),
              "(no failure)");
}

// ---- the spread limit ----

struct LimitCase {
    Bound bound;
    double max_spread;
    double center;
    double expected;
};

class GreyLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(GreyLimit, MatchesTheFormula) {
    const LimitCase& c = GetParam();
    const GreySpace space({c.bound}, {c.max_spread});
    EXPECT_EQ(space.spread_limit(0, c.center), c.expected);
    EXPECT_EQ(reference_limit(c.center, c.bound.first, c.bound.second, c.max_spread), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GreyLimit,
    ::testing::Values(LimitCase{{0, 10}, 0.25, 5, 0.25}, LimitCase{{0, 10}, 0.25, 0.1, 0.1},
                      LimitCase{{0, 10}, 0.25, 10, 0}, LimitCase{{-5, 5}, kInf, 4, 1},
                      LimitCase{{-5, 5}, kInf, 0, 5}, LimitCase{{-5, 5}, kInf, 6, 0},
                      // A NaN center leaves only the cap.
                      LimitCase{{0, 10}, 0.25, kNaN, 0.25}, LimitCase{{-5, 5}, kInf, kNaN, kInf},
                      LimitCase{{0, 10}, 0.0, 5, 0}, LimitCase{{3, 3}, kInf, 3, 0}));

TEST(GreyLimit, StopsOnAnIndexOutsideTheSpace) {
    const GreySpace space({{0, 1}}, {1});
    EXPECT_EQ(failure_of([&] { space.spread_limit(1, 0.5); }), "variable index out of range");
}

// ---- projection ----

struct ProjectCase {
    std::vector<double> position;
    std::vector<double> expected;
};

class GreyProjection : public ::testing::TestWithParam<ProjectCase> {};

TEST_P(GreyProjection, UnboundedCapOverMinusFiveFive) {
    const GreySpace space({{-5, 5}}, {kInf});
    auto x = GetParam().position;
    space.clamp(x);
    expect_same_bits_any_nan(x, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GreyProjection,
    ::testing::Values(ProjectCase{{4.5, 3}, {4.5, 0.5}}, ProjectCase{{6, 1}, {5, 0}},
                      ProjectCase{{0, -2}, {0, 0}}, ProjectCase{{4, 1}, {4, 1}},
                      ProjectCase{{-kInf, 1}, {-5, 0}}, ProjectCase{{0, kInf}, {0, 5}},
                      ProjectCase{{-4, kNaN}, {-4, kNaN}}, ProjectCase{{kNaN, 2}, {kNaN, 2}},
                      ProjectCase{{kNaN, kNaN}, {kNaN, kNaN}},
                      // A trailing unpaired center is clamped alone.
                      ProjectCase{{9}, {5}}, ProjectCase{{}, {}}));

TEST(GreyProjection, CappedSpreadPerVariable) {
    const GreySpace space({{0, 10}, {0, 10}, {0, 10}, {0, 10}}, {0.25, 0.25, 0.25, 0.0});
    std::vector<double> x{5, 1, 0.1, 1, 10, 1, 5, 3};
    space.clamp(x);
    expect_same_bits_any_nan(x, {5, 0.25, 0.1, 0.1, 10, 0, 5, 0});
}

TEST(GreyProjection, NaNCenterIsCappedByMaxSpreadOnly) {
    const GreySpace space({{0, 10}}, {0.25});
    std::vector<double> x{kNaN, 3};
    space.clamp(x);
    expect_same_bits_any_nan(x, {kNaN, 0.25});
}

TEST(GreyProjection, LongerPositionStops) {
    const GreySpace space({{0, 1}}, {1});
    std::vector<double> x{0.5, 0.1, 0.5};
    EXPECT_EQ(failure_of([&] { space.clamp(x); }), "position is longer than the space");
}

class GreyEnforce : public ::testing::TestWithParam<BoundaryMode> {};

TEST_P(GreyEnforce, IsTheProjectionWhateverTheMode) {
    const GreySpace space({{-5, 5}, {0, 10}}, {kInf, 0.25});
    std::vector<double> x{6, 1, 5, 3}, v{1, 2, 3, 4};
    auto gen = RandomSource::seed_from_u64(2);
    space.enforce_bounds(x, v, GetParam(), gen);
    expect_same_bits_any_nan(x, {5, 0, 5, 0.25});
    expect_same_bits_any_nan(v, {1, 2, 3, 4});
    expect_advanced_by(gen, 2, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, GreyEnforce,
                         ::testing::Values(BoundaryMode::Clamp, BoundaryMode::Reflect,
                                           BoundaryMode::Wrap, BoundaryMode::Reinit));

// ---- decoding ----

TEST(GreyDecode, PairsWithAbsoluteSpread) {
    const GreySpace space({{-5, 5}, {-5, 5}}, {kInf, kInf});
    const std::vector<double> position{1.0, -0.5, 2.0, 0.25};
    EXPECT_EQ(decode(space, position), (std::vector<Grey>{{1.0, 0.5}, {2.0, 0.25}}));
}

TEST(GreyDecode, DoesNotProjectAndIgnoresATrailingCoordinate) {
    const GreySpace space({{0, 1}}, {0.1});
    EXPECT_EQ(decode(space, std::vector<double>{7.0, -3.0, 9.0}), (std::vector<Grey>{{7.0, 3.0}}));
    EXPECT_TRUE(decode(space, std::vector<double>{4.0}).empty());
}

TEST(GreyDecode, NaNSpreadSurvivesProjectionAndDecoding) {
    const GreySpace space({{0, 1}}, {0.1});
    std::vector<double> x{0.5, kNaN};
    space.clamp(x);
    const auto out = decode(space, x);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].center, 0.5);
    EXPECT_TRUE(std::isnan(out[0].spread));
}

TEST(GreyDecode, NegativeZeroSpreadDecodesToPositiveZero) {
    const GreySpace space({{0, 1}}, {1});
    const auto out = decode(space, std::vector<double>{0.5, -0.0});
    EXPECT_FALSE(std::signbit(out[0].spread));
}

TEST(GreyDecode, ReplacesContentsAndReusesCapacity) {
    const GreySpace space({{0, 1}, {0, 1}}, {1, 1});
    std::vector<Grey> out(5, Grey{9, 9});
    out.reserve(12);
    const Grey* data = out.data();
    space.decode_into(std::vector<double>{0.5, 0.1, 0.25, -0.2}, out);
    EXPECT_EQ(out, (std::vector<Grey>{{0.5, 0.1}, {0.25, 0.2}}));
    EXPECT_EQ(out.data(), data);
}

// ---- draws ----

TEST(GreyDraws, FollowTheDrawOrderOfAnIndependentComputation) {
    const std::vector<Bound> bounds{{-5, 5}, {0, 10}, {0, 4}, {2, 2}};
    const std::vector<double> caps{kInf, 0.25, 10, 1};
    const GreySpace space(bounds, caps);
    for (const std::uint64_t seed : {0ULL, 17ULL, 4242ULL}) {
        auto gen = RandomSource::seed_from_u64(seed);
        auto ref = RandomSource::seed_from_u64(seed);
        for (int particle = 0; particle < 4; ++particle) {
            const auto x = space.sample(gen);
            const auto v = space.sample_velocity(gen);
            std::vector<double> ex, ev;
            for (std::size_t i = 0; i < bounds.size(); ++i) {
                const auto [lo, hi] = bounds[i];
                const double c = uniform_in_inclusive(ref, lo, hi);
                ex.push_back(c);
                ex.push_back(uniform_in_inclusive(ref, 0, reference_limit(c, lo, hi, caps[i])));
            }
            for (std::size_t i = 0; i < bounds.size(); ++i) {
                const auto [lo, hi] = bounds[i];
                ev.push_back(uniform_in_inclusive(ref, -(hi - lo), hi - lo));
                const double cap = std::min(0.5 * (hi - lo), caps[i]);
                ev.push_back(uniform_in_inclusive(ref, -cap, cap));
            }
            expect_same_bits_any_nan(x, ex);
            expect_same_bits_any_nan(v, ev);
        }
        EXPECT_EQ(gen.next_u64(), ref.next_u64());
    }
}

TEST(GreyDraws, FourDrawsPerVariableAndParticle) {
    const GreySpace space({{-1, 1}, {0, 3}, {5, 6}}, {kInf, 0.5, 0.0});
    auto gen = RandomSource::seed_from_u64(31);
    space.sample(gen);
    expect_advanced_by(gen, 31, 6);
    space.sample_velocity(gen);
    expect_advanced_by(gen, 31, 12);
}

TEST(GreyDraws, ZeroCapStillDrawsButEverySpreadIsZero) {
    const GreySpace space({{0, 10}, {-3, 3}}, {0.0, 0.0});
    auto gen = RandomSource::seed_from_u64(8);
    for (int k = 0; k < 50; ++k) {
        auto x = space.sample(gen);
        const auto v = space.sample_velocity(gen);
        EXPECT_EQ(x[1], 0.0);
        EXPECT_EQ(x[3], 0.0);
        EXPECT_EQ(v[1], 0.0);
        EXPECT_EQ(v[3], 0.0);
        x[1] = 2.0;
        x[3] = -1.0;
        space.clamp(x);
        EXPECT_EQ(x[1], 0.0);
        EXPECT_EQ(x[3], 0.0);
    }
    expect_advanced_by(gen, 8, 50 * 8);
}

TEST(GreyDraws, SamplesAreFeasibleAndVelocitiesWithinTheirWidths) {
    // Limits (0, 4) with a cap of 10: spread velocities in [-2, 2], center ones in [-4, 4].
    const GreySpace space({{0, 4}, {-5, 5}}, {10, kInf});
    auto gen = RandomSource::seed_from_u64(99);
    double widest_spread_velocity = 0, widest_center_velocity = 0;
    for (int k = 0; k < 2000; ++k) {
        const auto x = space.sample(gen);
        const auto v = space.sample_velocity(gen);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_TRUE(x[2 * i] >= space.bounds()[i].first &&
                        x[2 * i] <= space.bounds()[i].second);
            EXPECT_GE(x[2 * i + 1], 0.0);
            EXPECT_LE(x[2 * i + 1], space.spread_limit(i, x[2 * i]));
        }
        EXPECT_LE(std::fabs(v[0]), 4.0);
        EXPECT_LE(std::fabs(v[1]), 2.0);
        EXPECT_LE(std::fabs(v[3]), 5.0);
        widest_center_velocity = std::max(widest_center_velocity, std::fabs(v[0]));
        widest_spread_velocity = std::max(widest_spread_velocity, std::fabs(v[1]));
    }
    EXPECT_GT(widest_center_velocity, 3.5);
    EXPECT_GT(widest_spread_velocity, 1.75);
}

TEST(GreyDraws, RangeOverflowStops) {
    auto gen = RandomSource::seed_from_u64(0);
    const GreySpace too_wide({{-1e308, 1e308}}, {1});
    EXPECT_EQ(failure_of([&] { too_wide.sample(gen); }), "Uniform::new_inclusive: range overflow");
    const GreySpace wide({{-6e307, 6e307}}, {1});
    EXPECT_EQ(failure_of([&] { wide.sample(gen); }), "(no failure)");
    EXPECT_EQ(failure_of([&] { wide.sample_velocity(gen); }),
              "Uniform::new_inclusive: range overflow");
}

// ---- span ----

TEST(GreySpan, CenterLimitsThenWidestSpreadPerVariable) {
    const GreySpace space({{-5, 5}, {0, 10}, {0, 4}, {1, 1}}, {kInf, 0.25, 10, 3});
    const std::vector<Bound> expected{{-5, 5}, {0, 5},   {0, 10}, {0, 0.25},
                                      {0, 4},  {0, 2.0}, {1, 1},  {0, 0}};
    EXPECT_EQ(space.span(), expected);
}

}  // namespace
}  // namespace kestrelopt
