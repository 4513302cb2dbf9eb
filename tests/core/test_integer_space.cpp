#include "kestrelopt/spaces/integer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/rounding.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

using namespace testing_support;

// ---- round_to_i64 ----

struct RoundCase {
    double input;
    std::int64_t expected;
};

class RoundToI64 : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundToI64, RoundsHalvesAwayFromZeroAndSaturates) {
    EXPECT_EQ(round_to_i64(GetParam().input), GetParam().expected) << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RoundToI64,
    ::testing::Values(RoundCase{2.5, 3}, RoundCase{-2.5, -3}, RoundCase{0.5, 1},
                      RoundCase{-0.5, -1}, RoundCase{0.49999999999999994, 0},
                      RoundCase{-0.49999999999999994, 0}, RoundCase{3.5, 4}, RoundCase{10.49, 10},
                      RoundCase{-0.0, 0}, RoundCase{kNaN, 0}, RoundCase{-kNaN, 0},
                      RoundCase{kInf, kMax}, RoundCase{-kInf, kMin}, RoundCase{1e300, kMax},
                      RoundCase{-1e300, kMin},
                      // 2^63 is the first double past the largest integer.
                      RoundCase{9223372036854775808.0, kMax},
                      RoundCase{-9223372036854775808.0, kMin},
                      // The largest double below 2^63 converts exactly.
                      RoundCase{9223372036854774784.0, 9223372036854774784LL},
                      RoundCase{-9223372036854774784.0, -9223372036854774784LL},
                      RoundCase{4503599627370495.5, 4503599627370496LL}));

// ---- construction ----

TEST(IntegerSpaceNew, ReversedBoundStopsWithIntegersInMessage) {
    EXPECT_EQ(failure_of([] {
                  IntegerSpace({{0, 1}, {5, -3}});
              }),
              "invalid bound in dimension 1: 5 > -3");
    EXPECT_EQ(failure_of([] {
                  IntegerSpace({{kMax, kMin}});
              }),
              "invalid bound in dimension 0: 9223372036854775807 > -9223372036854775808");
}

TEST(IntegerSpaceNew, ReportsTheFirstInvalidDimension) {
    EXPECT_EQ(failure_of([] {
                  IntegerSpace({{0, 0}, {2, 1}, {9, 3}});
              }),
              "invalid bound in dimension 1: 2 > 1");
}

TEST(IntegerSpaceNew, AcceptsFixedAndExtremeRanges) {
    EXPECT_EQ(failure_of([] { IntegerSpace({{4, 4}, {kMin, kMax}, {}}); }), "(no failure)");
    EXPECT_EQ(IntegerSpace({}).dimensions(), 0u);
}

// ---- decoding ----

struct DecodeCase {
    double coordinate;
    std::int64_t expected;
};

class IntegerDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(IntegerDecode, RoundsThenClampsToZeroTen) {
    const IntegerSpace space({{0, 10}});
    const std::vector<double> position{GetParam().coordinate};
    EXPECT_EQ(decode(space, position), std::vector<std::int64_t>{GetParam().expected})
        << GetParam().coordinate;
}

INSTANTIATE_TEST_SUITE_P(Table, IntegerDecode,
                         ::testing::Values(DecodeCase{3.5, 4}, DecodeCase{-0.5, 0},
                                           DecodeCase{10.49, 10}, DecodeCase{11.7, 10},
                                           DecodeCase{kNaN, 0}, DecodeCase{kInf, 10},
                                           DecodeCase{-kInf, 0}, DecodeCase{2.5, 3},
                                           DecodeCase{0.49999999999999994, 0}, DecodeCase{10.5, 10},
                                           DecodeCase{9.5, 10}, DecodeCase{0.0, 0}));

TEST(IntegerDecode, FixedVariableAlwaysDecodesToLow) {
    const IntegerSpace space({{-7, -7}});
    for (const double x : {-7.0, -7.4, -6.5, 3.0, -100.0, kNaN, kInf, -kInf})
        EXPECT_EQ(decode(space, std::vector<double>{x}), std::vector<std::int64_t>{-7}) << x;
}

TEST(IntegerDecode, BinaryRangeSplitsAtOneHalf) {
    const IntegerSpace space({{0, 1}, {0, 1}, {0, 1}, {0, 1}});
    EXPECT_EQ(decode(space, std::vector<double>{0.5, 0.4999, 1.0, 0.0}),
              (std::vector<std::int64_t>{1, 0, 1, 0}));
}

TEST(IntegerDecode, SaturatesBeforeClampingToExtremeBounds) {
    const IntegerSpace space({{kMin, kMax}, {kMin, 0}, {0, kMax}});
    EXPECT_EQ(decode(space, std::vector<double>{1e300, kInf, -kInf}),
              (std::vector<std::int64_t>{kMax, 0, 0}));
    EXPECT_EQ(decode(space, std::vector<double>{-1e300, -kInf, kNaN}),
              (std::vector<std::int64_t>{kMin, kMin, 0}));
}

TEST(IntegerDecode, CoversTheShorterOfPositionAndBounds) {
    const IntegerSpace space({{0, 5}, {0, 5}, {0, 5}});
    EXPECT_EQ(decode(space, std::vector<double>{1.2, 2.6}), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(decode(space, std::vector<double>{1.2, 2.6, 3.5, 9.0, 9.0}),
              (std::vector<std::int64_t>{1, 3, 4}));
}

TEST(IntegerDecode, ReplacesContentsAndReusesCapacity) {
    const IntegerSpace space({{0, 9}, {0, 9}});
    std::vector<std::int64_t> out{7, 7, 7, 7, 7};
    out.reserve(16);
    const auto* data = out.data();
    space.decode_into(std::vector<double>{1.4, 8.6}, out);
    EXPECT_EQ(out, (std::vector<std::int64_t>{1, 9}));
    EXPECT_EQ(out.data(), data);
    EXPECT_EQ(out.capacity(), 16u);
}

// ---- span ----

TEST(IntegerSpan, BoundsAsNearestDoubles) {
    const IntegerSpace space({{-3, 12}, {kMin, kMax}, {9007199254740993LL, 9007199254740995LL}});
    const std::vector<Bound> expected{{-3.0, 12.0},
                                      {-9223372036854775808.0, 9223372036854775808.0},
                                      {9007199254740992.0, 9007199254740996.0}};
    EXPECT_EQ(space.span(), expected);
}

// ---- draws ----

TEST(IntegerDraws, SampleAndVelocityTakeOneDrawPerVariable) {
    const IntegerSpace space({{0, 10}, {-5, 5}, {3, 3}, {0, 1}});
    auto gen = RandomSource::seed_from_u64(11);
    const auto x = space.sample(gen);
    expect_advanced_by(gen, 11, 4);
    const auto v = space.sample_velocity(gen);
    expect_advanced_by(gen, 11, 8);
    EXPECT_EQ(x.size(), 4u);
    EXPECT_EQ(v.size(), 4u);
}

TEST(IntegerDraws, SmallBoundsDrawWhatAContinuousSpaceDraws) {
    const std::vector<IntegerBound> bounds{{0, 10}, {-5, 5},       {3, 3},
                                           {0, 1},  {-1000000, 7}, {-(1LL << 52), (1LL << 52) - 1}};
    std::vector<Bound> as_doubles;
    for (const auto& [lo, hi] : bounds)
        as_doubles.emplace_back(static_cast<double>(lo), static_cast<double>(hi));
    const IntegerSpace integer(bounds);
    const ContinuousSpace continuous(as_doubles);
    for (const std::uint64_t seed : {0ULL, 1ULL, 99ULL}) {
        auto a = RandomSource::seed_from_u64(seed);
        auto b = RandomSource::seed_from_u64(seed);
        for (int particle = 0; particle < 5; ++particle) {
            expect_same_bits(integer.sample(a), continuous.sample(b));
            expect_same_bits(integer.sample_velocity(a), continuous.sample_velocity(b));
        }
        EXPECT_EQ(a.next_u64(), b.next_u64());
    }
}

TEST(IntegerDraws, FixedVariableHasZeroVelocityAndBinaryStaysInUnitRanges) {
    const IntegerSpace space({{4, 4}, {0, 1}});
    auto gen = RandomSource::seed_from_u64(3);
    for (int k = 0; k < 200; ++k) {
        const auto x = space.sample(gen);
        const auto v = space.sample_velocity(gen);
        EXPECT_EQ(x[0], 4.0);
        EXPECT_EQ(v[0], 0.0);
        EXPECT_TRUE(x[1] >= 0.0 && x[1] <= 1.0) << x[1];
        EXPECT_TRUE(v[1] >= -1.0 && v[1] <= 1.0) << v[1];
    }
}

class IntegerTooWide : public ::testing::TestWithParam<IntegerBound> {};

TEST_P(IntegerTooWide, VelocityStopsWhenTheWidthWraps) {
    const IntegerSpace space({{0, 1}, GetParam()});
    auto gen = RandomSource::seed_from_u64(0);
    EXPECT_EQ(failure_of([&] { space.sample(gen); }), "(no failure)");
    EXPECT_EQ(failure_of([&] { space.sample_velocity(gen); }), "cannot sample empty range");
}

INSTANTIATE_TEST_SUITE_P(Ranges, IntegerTooWide,
                         ::testing::Values(IntegerBound{kMin, kMax}, IntegerBound{-1, kMax},
                                           IntegerBound{kMin, 0},
                                           IntegerBound{-(1LL << 62), 1LL << 62}));

TEST(IntegerDraws, WidestRepresentableWidthStillSamples) {
    // high - low == the largest int64: no wrap, velocity in [-2^63, 2^63].
    const IntegerSpace space({{0, kMax}, {kMin, -1}});
    auto gen = RandomSource::seed_from_u64(5);
    const auto v = space.sample_velocity(gen);
    expect_advanced_by(gen, 5, 2);
    for (const double c : v) EXPECT_LE(std::fabs(c), 9223372036854775808.0);
}

// ---- boundary handling ----

class IntegerBoundary : public ::testing::TestWithParam<BoundaryMode> {};

TEST_P(IntegerBoundary, MatchesContinuousSpaceOverTheSameBounds) {
    const IntegerSpace integer({{0, 10}, {-3, 3}, {2, 2}, {0, 1}});
    const ContinuousSpace continuous({{0.0, 10.0}, {-3.0, 3.0}, {2.0, 2.0}, {0.0, 1.0}});
    const std::vector<std::vector<double>> positions{{11.5, -3.0, 2.5, 0.5},
                                                     {-0.25, 7.5, 1.0, 1.0},
                                                     {kNaN, -kInf, kNaN, 3.75},
                                                     {10.0, 3.0, 2.0, 0.0}};
    for (const auto& start : positions) {
        auto xa = start, xb = start;
        std::vector<double> va{1.0, -2.0, 3.0, -4.0}, vb = va;
        auto ga = RandomSource::seed_from_u64(8), gb = RandomSource::seed_from_u64(8);
        integer.enforce_bounds(xa, va, GetParam(), ga);
        continuous.enforce_bounds(xb, vb, GetParam(), gb);
        expect_same_bits(xa, xb);
        expect_same_bits(va, vb);
        EXPECT_EQ(ga.next_u64(), gb.next_u64());
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, IntegerBoundary,
                         ::testing::Values(BoundaryMode::Clamp, BoundaryMode::Reflect,
                                           BoundaryMode::Wrap, BoundaryMode::Reinit));

TEST(IntegerBoundary, ClampAndReflectExamples) {
    const IntegerSpace space({{0, 10}, {0, 10}});
    auto gen = RandomSource::seed_from_u64(0);
    std::vector<double> x{11.5, -3.0}, v{1.0, -1.0};
    space.enforce_bounds(x, v, BoundaryMode::Clamp, gen);
    EXPECT_EQ(x, (std::vector<double>{10.0, 0.0}));
    EXPECT_EQ(v, (std::vector<double>{1.0, -1.0}));
    x = {10.5, -0.5};
    space.enforce_bounds(x, v, BoundaryMode::Reflect, gen);
    EXPECT_EQ(x, (std::vector<double>{9.5, 0.5}));
    EXPECT_EQ(v, (std::vector<double>{-1.0, 1.0}));
}

TEST(IntegerBoundary, LongerPositionStops) {
    const IntegerSpace space({{0, 1}});
    auto gen = RandomSource::seed_from_u64(0);
    std::vector<double> x{0.5, 0.5}, v{0.0, 0.0};
    EXPECT_EQ(failure_of([&] { space.enforce_bounds(x, v, BoundaryMode::Clamp, gen); }),
              "position is longer than the space");
}

TEST(IntegerClamp, ForcesCoordinatesIntoBoundsOverTheShorterLength) {
    const IntegerSpace space({{0, 10}, {-2, 2}});
    std::vector<double> x{12.0, -5.0, 99.0};
    space.clamp(x);
    EXPECT_EQ(x, (std::vector<double>{10.0, -2.0, 99.0}));
}

}  // namespace
}  // namespace kestrelopt
