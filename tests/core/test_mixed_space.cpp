#include "kestrelopt/spaces/mixed.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;
using enum VarType;

TEST(VarType, IsOneByteInDeclarationOrder) {
    static_assert(sizeof(VarType) == 1);
    EXPECT_EQ(static_cast<int>(Real), 0);
    EXPECT_EQ(static_cast<int>(Integer), 1);
    EXPECT_EQ(static_cast<int>(Binary), 2);
}

// ---- construction ----

TEST(MixedSpaceNew, BinaryBoundsBecomeUnitWhateverWasGiven) {
    const MixedSpace space({{-1.5, 1.5}, {0.0, 5.0}, {7.0, 9.0}, {5.0, 1.0}, {kNaN, kNaN}},
                           {Real, Integer, Binary, Binary, Binary});
    const std::vector<Bound> expected{{-1.5, 1.5}, {0.0, 5.0}, {0.0, 1.0}, {0.0, 1.0}, {0.0, 1.0}};
    EXPECT_EQ(space.span(), expected);
    EXPECT_EQ(space.bounds(), expected);
    EXPECT_EQ(space.types(), (std::vector<VarType>{Real, Integer, Binary, Binary, Binary}));
}

TEST(MixedSpaceNew, IntegerBoundsAreKeptUnrounded) {
    const MixedSpace space({{0.4, 2.6}}, {Integer});
    EXPECT_EQ(space.span(), (std::vector<Bound>{{0.4, 2.6}}));
}

struct BadMixed {
    std::vector<Bound> bounds;
    std::vector<VarType> types;
    std::string message;
};

class MixedSpaceStops : public ::testing::TestWithParam<BadMixed> {};

TEST_P(MixedSpaceStops, WithTheExactMessage) {
    const BadMixed& c = GetParam();
    EXPECT_EQ(failure_of([&] { MixedSpace(c.bounds, c.types); }), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MixedSpaceStops,
    ::testing::Values(
        BadMixed{{{0, 1}, {0, 1}}, {Real}, "bounds and types must have the same length"},
        // The lengths are compared before any bound.
        BadMixed{{{5, 1}}, {Real, Real}, "bounds and types must have the same length"},
        BadMixed{{{0, 1}, {5, 1}}, {Real, Integer}, "invalid bound in dimension 1: 5 > 1"},
        BadMixed{{{2.5, 0.1}}, {Real}, "invalid bound in dimension 0: 2.5 > 0.1"},
        BadMixed{{{9, 0}, {0, kNaN}, {3, 1}},
                 {Binary, Integer, Real},
                 "invalid bound in dimension 1: 0 > NaN"},
        BadMixed{{{kNaN, 1}}, {Real}, "invalid bound in dimension 0: NaN > 1"},
        BadMixed{
            {{1e21, -4}}, {Integer}, "invalid bound in dimension 0: 1000000000000000000000 > -4"},
        BadMixed{{{0, 1}}, {static_cast<VarType>(7)}, "unknown variable type in dimension 0"}));

// ---- decoding ----

TEST(MixedDecode, RealIntegerBinaryExample) {
    const MixedSpace space({{-1.5, 1.5}, {0.0, 5.0}, {7.0, 9.0}}, {Real, Integer, Binary});
    expect_same_bits(decode(space, std::vector<double>{0.3, 2.5, 0.6}), {0.3, 3.0, 1.0});
}

struct MixedDecodeCase {
    VarType type;
    Bound bound;
    double coordinate;
    double expected;
};

class MixedDecode : public ::testing::TestWithParam<MixedDecodeCase> {};

TEST_P(MixedDecode, OneVariable) {
    const MixedDecodeCase& c = GetParam();
    const MixedSpace space({c.bound}, {c.type});
    const auto out = decode(space, std::vector<double>{c.coordinate});
    ASSERT_EQ(out.size(), 1u);
    if (std::isnan(c.expected))
        EXPECT_TRUE(std::isnan(out[0])) << out[0];
    else
        EXPECT_EQ(std::bit_cast<std::uint64_t>(out[0]), std::bit_cast<std::uint64_t>(c.expected))
            << c.coordinate << " gave " << out[0];
}

INSTANTIATE_TEST_SUITE_P(
    Table, MixedDecode,
    ::testing::Values(
        // Real: the coordinate itself, even outside the bounds.
        MixedDecodeCase{Real, {-1, 1}, 0.123, 0.123}, MixedDecodeCase{Real, {-1, 1}, 7.5, 7.5},
        MixedDecodeCase{Real, {-1, 1}, kNaN, kNaN}, MixedDecodeCase{Real, {-1, 1}, -0.0, -0.0},
        // Integer over (0.4, 2.6): the bounds round to 0 and 3 at decode.
        MixedDecodeCase{Integer, {0.4, 2.6}, 2.9, 3.0},
        MixedDecodeCase{Integer, {0.4, 2.6}, -0.6, 0.0},
        MixedDecodeCase{Integer, {0.4, 2.6}, 0.4, 0.0},
        MixedDecodeCase{Integer, {0.4, 2.6}, 1.5, 2.0},
        MixedDecodeCase{Integer, {0.4, 2.6}, 2.5, 3.0},
        MixedDecodeCase{Integer, {0.4, 2.6}, kNaN, 0.0},
        MixedDecodeCase{Integer, {0.4, 2.6}, kInf, 3.0},
        MixedDecodeCase{Integer, {-2.5, -0.2}, kNaN, 0.0},  // NaN -> 0, inside [-3, 0]
        MixedDecodeCase{Integer, {-2.5, -0.2}, -0.4, 0.0},  // integral result, not -0
        MixedDecodeCase{Integer, {-2.5, -0.2}, -2.6, -3.0},
        MixedDecodeCase{Integer, {-1e300, 1e300}, 1e300, 9223372036854775807.0},
        MixedDecodeCase{Integer, {-1e300, 1e300}, -kInf, -9223372036854775808.0},
        // Binary: round, then clamp to [0, 1] in floating point.
        MixedDecodeCase{Binary, {0, 1}, 0.5, 1.0}, MixedDecodeCase{Binary, {0, 1}, 0.4999, 0.0},
        MixedDecodeCase{Binary, {0, 1}, kNaN, kNaN}, MixedDecodeCase{Binary, {0, 1}, -3.0, 0.0},
        MixedDecodeCase{Binary, {0, 1}, 7.2, 1.0}, MixedDecodeCase{Binary, {0, 1}, kInf, 1.0},
        MixedDecodeCase{Binary, {0, 1}, -kInf, 0.0}));

TEST(MixedDecode, CoversTheShorterOfPositionAndSpaceAndReusesCapacity) {
    const MixedSpace space({{0, 9}, {0, 9}, {0, 1}}, {Integer, Real, Binary});
    std::vector<double> out(8, 7.0);
    out.reserve(32);
    const double* data = out.data();
    space.decode_into(std::vector<double>{1.6, 2.25}, out);
    expect_same_bits(out, {2.0, 2.25});
    EXPECT_EQ(out.data(), data);
    space.decode_into(std::vector<double>{1.6, 2.25, 0.7, 5.0, 5.0}, out);
    expect_same_bits(out, {2.0, 2.25, 1.0});
    EXPECT_EQ(out.data(), data);
}

// ---- draws ----

TEST(MixedDraws, AllRealDrawsExactlyWhatAContinuousSpaceDraws) {
    const std::vector<Bound> bounds{{-5.12, 5.12}, {0.0, 1.0}, {3.0, 3.0}, {-1e300, 1e300 * 0.25}};
    const MixedSpace mixed(bounds, std::vector<VarType>(bounds.size(), Real));
    const ContinuousSpace continuous(bounds);
    for (const std::uint64_t seed : {0ULL, 7ULL, 12345ULL}) {
        auto a = RandomSource::seed_from_u64(seed);
        auto b = RandomSource::seed_from_u64(seed);
        for (int particle = 0; particle < 5; ++particle) {
            expect_same_bits(mixed.sample(a), continuous.sample(b));
            expect_same_bits(mixed.sample_velocity(a), continuous.sample_velocity(b));
        }
        EXPECT_EQ(a.next_u64(), b.next_u64());
    }
}

TEST(MixedDraws, EveryTypeDrawsOverItsBoundsOnceEach) {
    // Whatever the types, the draws are those of the continuous space over the stored
    // bounds (binary variables over [0, 1]).
    const MixedSpace mixed({{-1.5, 1.5}, {0.4, 2.6}, {7.0, 9.0}}, {Real, Integer, Binary});
    const ContinuousSpace continuous({{-1.5, 1.5}, {0.4, 2.6}, {0.0, 1.0}});
    auto a = RandomSource::seed_from_u64(21);
    auto b = RandomSource::seed_from_u64(21);
    expect_same_bits(mixed.sample(a), continuous.sample(b));
    expect_advanced_by(a, 21, 3);
    expect_same_bits(mixed.sample_velocity(a), continuous.sample_velocity(b));
    expect_advanced_by(a, 21, 6);
}

TEST(MixedDraws, RangeOverflowStopsTheDraw) {
    auto gen = RandomSource::seed_from_u64(0);
    const MixedSpace too_wide({{-1e308, 1e308}}, {Real});
    EXPECT_EQ(failure_of([&] { too_wide.sample(gen); }), "Uniform::new_inclusive: range overflow");
    // Width finite, twice the width not: positions draw, velocities stop.
    const MixedSpace wide({{-6e307, 6e307}}, {Integer});
    EXPECT_EQ(failure_of([&] { wide.sample(gen); }), "(no failure)");
    EXPECT_EQ(failure_of([&] { wide.sample_velocity(gen); }),
              "Uniform::new_inclusive: range overflow");
}

// ---- boundary handling ----

class MixedBoundary : public ::testing::TestWithParam<BoundaryMode> {};

TEST_P(MixedBoundary, UsesTheStoredBoundsBinaryIncluded) {
    const MixedSpace mixed({{-1.0, 1.0}, {0.4, 2.6}, {5.0, 8.0}}, {Real, Integer, Binary});
    const ContinuousSpace continuous({{-1.0, 1.0}, {0.4, 2.6}, {0.0, 1.0}});
    for (const auto& start : std::vector<std::vector<double>>{
             {1.5, 2.9, 1.7}, {-1.25, 0.1, -0.3}, {kNaN, 3.0, kInf}, {1.0, 0.4, 0.0}}) {
        auto xa = start, xb = start;
        std::vector<double> va{0.5, -0.5, 2.0}, vb = va;
        auto ga = RandomSource::seed_from_u64(4), gb = RandomSource::seed_from_u64(4);
        mixed.enforce_bounds(xa, va, GetParam(), ga);
        continuous.enforce_bounds(xb, vb, GetParam(), gb);
        expect_same_bits(xa, xb);
        expect_same_bits(va, vb);
        EXPECT_EQ(ga.next_u64(), gb.next_u64());
        EXPECT_TRUE(std::isnan(xa[2]) || (xa[2] >= 0.0 && xa[2] <= 1.0)) << xa[2];
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, MixedBoundary,
                         ::testing::Values(BoundaryMode::Clamp, BoundaryMode::Reflect,
                                           BoundaryMode::Wrap, BoundaryMode::Reinit));

TEST(MixedBoundary, ClampKeepsBinaryInUnitRange) {
    const MixedSpace space({{0, 10}, {0, 1}}, {Integer, Binary});
    auto gen = RandomSource::seed_from_u64(0);
    std::vector<double> x{12.0, 1.7}, v{1.0, 1.0};
    space.enforce_bounds(x, v, BoundaryMode::Clamp, gen);
    EXPECT_EQ(x, (std::vector<double>{10.0, 1.0}));
}

TEST(MixedBoundary, LongerPositionStops) {
    const MixedSpace space({{0, 1}}, {Real});
    auto gen = RandomSource::seed_from_u64(0);
    std::vector<double> x{0.5, 0.5}, v{0.0, 0.0};
    EXPECT_EQ(failure_of([&] { space.enforce_bounds(x, v, BoundaryMode::Reflect, gen); }),
              "position is longer than the space");
}

TEST(MixedClamp, ForcesCoordinatesIntoBoundsOverTheShorterLength) {
    const MixedSpace space({{0, 10}, {-2, 2}}, {Integer, Real});
    std::vector<double> x{-1.0, 5.0, 99.0};
    space.clamp(x);
    EXPECT_EQ(x, (std::vector<double>{0.0, 2.0, 99.0}));
}

}  // namespace
}  // namespace kestrelopt
