#include "kestrelopt/spaces/boundary.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

struct Outcome {
    double x;
    double v;
};

// Applies one mode to a single coordinate in [lo, hi] with velocity 2.5.
Outcome apply_one(double x, double lo, double hi, BoundaryMode mode, RandomSource& gen) {
    std::vector<double> position{x};
    std::vector<double> velocity{2.5};
    apply_boundary(
        position, velocity,
        [&](std::size_t) {
            return Bound{lo, hi};
        },
        mode, gen);
    return {position[0], velocity[0]};
}

Outcome apply_one(double x, double lo, double hi, BoundaryMode mode) {
    auto gen = RandomSource::seed_from_u64(1);
    return apply_one(x, lo, hi, mode, gen);
}

bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

struct TableCase {
    BoundaryMode mode;
    double x, lo, hi;
    double expected_x;  // NaN means NaN expected; ignored for Reinit outside a fixed dimension
    double expected_v;
};

class BoundaryTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(BoundaryTable, GivesTheTabulatedResult) {
    const TableCase& c = GetParam();
    const Outcome out = apply_one(c.x, c.lo, c.hi, c.mode);
    EXPECT_TRUE(same(out.x, c.expected_x)) << out.x;
    EXPECT_TRUE(same(out.v, c.expected_v)) << out.v;
}

using M = BoundaryMode;
INSTANTIATE_TEST_SUITE_P(
    Modes, BoundaryTable,
    ::testing::Values(
        // Inside or exactly on a bound: untouched in every mode, velocity too.
        TableCase{M::Clamp, 0.0, 0.0, 1.0, 0.0, 2.5},
        TableCase{M::Reflect, 1.0, 0.0, 1.0, 1.0, 2.5}, TableCase{M::Wrap, 1.0, 0.0, 1.0, 1.0, 2.5},
        TableCase{M::Reinit, 0.0, 0.0, 1.0, 0.0, 2.5},
        // Clamp.
        TableCase{M::Clamp, 1.5, 0.0, 1.0, 1.0, 2.5}, TableCase{M::Clamp, -3.0, 0.0, 1.0, 0.0, 2.5},
        TableCase{M::Clamp, kNaN, 0.0, 1.0, kNaN, 2.5},
        TableCase{M::Clamp, kInf, 0.0, 1.0, 1.0, 2.5},
        // Reflect: fold, velocity negated (also for NaN).
        TableCase{M::Reflect, 1.3, 0.0, 1.0, 0.7, -2.5},
        TableCase{M::Reflect, -0.2, 0.0, 1.0, 0.2, -2.5},
        TableCase{M::Reflect, 2.5, 0.0, 1.0, 0.5, -2.5},
        TableCase{M::Reflect, kNaN, 0.0, 1.0, kNaN, -2.5},
        // Wrap.
        TableCase{M::Wrap, 1.25, 0.0, 1.0, 0.25, 2.5},
        TableCase{M::Wrap, -0.25, 0.0, 1.0, 0.75, 2.5},
        TableCase{M::Wrap, kNaN, 0.0, 1.0, kNaN, 2.5},
        TableCase{M::Wrap, kInf, 0.0, 1.0, kNaN, 2.5},
        TableCase{M::Wrap, -kInf, 0.0, 1.0, kNaN, 2.5},
        // Fixed dimension: lo in every mode; Reinit zeroes the velocity, Reflect and Wrap keep it.
        TableCase{M::Clamp, 3.0, 2.0, 2.0, 2.0, 2.5},
        TableCase{M::Reflect, 3.0, 2.0, 2.0, 2.0, 2.5}, TableCase{M::Wrap, 1.0, 2.0, 2.0, 2.0, 2.5},
        TableCase{M::Reinit, 3.0, 2.0, 2.0, 2.0, 0.0},
        // NaN in a fixed dimension: lo, except Clamp keeps NaN.
        TableCase{M::Clamp, kNaN, 2.0, 2.0, kNaN, 2.5},
        TableCase{M::Reflect, kNaN, 2.0, 2.0, 2.0, 2.5},
        TableCase{M::Wrap, kNaN, 2.0, 2.0, 2.0, 2.5},
        TableCase{M::Reinit, kNaN, 2.0, 2.0, 2.0, 0.0}));

TEST(Reinit, DrawsOneUniformValueAndZeroesVelocity) {
    auto gen = RandomSource::seed_from_u64(9);
    auto reference = RandomSource::seed_from_u64(9);
    const Outcome out = apply_one(kNaN, -2.0, 3.0, BoundaryMode::Reinit, gen);
    EXPECT_EQ(out.x, uniform_in_inclusive(reference, -2.0, 3.0));
    EXPECT_EQ(out.v, 0.0);
    EXPECT_EQ(gen.next_u64(), reference.next_u64());
}

TEST(Reinit, DrawsOnlyForHandledCoordinatesInDimensionOrder) {
    auto gen = RandomSource::seed_from_u64(2);
    auto reference = RandomSource::seed_from_u64(2);
    std::vector<double> position{5.0, 0.5, -5.0, 7.0};
    std::vector<double> velocity{1.0, 1.0, 1.0, 1.0};
    const std::vector<Bound> bounds{{0, 1}, {0, 1}, {0, 1}, {7, 7}};
    apply_boundary(
        position, velocity, [&](std::size_t i) { return bounds[i]; }, BoundaryMode::Reinit, gen);
    EXPECT_EQ(position[0], uniform_in_inclusive(reference, 0, 1));
    EXPECT_EQ(position[1], 0.5);
    EXPECT_EQ(position[2], uniform_in_inclusive(reference, 0, 1));
    EXPECT_EQ(position[3], 7.0);
    EXPECT_EQ(velocity, (std::vector<double>{0.0, 1.0, 0.0, 1.0}));
    EXPECT_EQ(gen.next_u64(), reference.next_u64());
}

TEST(ModesOtherThanReinit, NeverDraw) {
    for (const BoundaryMode mode : {M::Clamp, M::Reflect, M::Wrap}) {
        auto gen = RandomSource::seed_from_u64(3);
        apply_one(9.0, 0.0, 1.0, mode, gen);
        EXPECT_EQ(gen.index(), 64u);
    }
}

// The plain fold, round after round, as long as it needs.
double plain_fold(double x, double lo, double hi) {
    while (x < lo || x > hi) {
        if (x < lo) x = (lo - x) + lo;
        if (x > hi) x = hi - (x - hi);
    }
    return x;
}

TEST(Reflect, MatchesThePlainFoldBitForBitWithinReach) {
    auto gen = RandomSource::seed_from_u64(5);
    for (int i = 0; i < 20000; ++i) {
        const double lo = uniform_in_inclusive(gen, -100, 100);
        const double hi = lo + uniform_in_inclusive(gen, 1e-3, 50);
        const double widths = uniform_in_inclusive(gen, -300, 300);
        const double x = lo + widths * (hi - lo);
        const Outcome out = apply_one(x, lo, hi, BoundaryMode::Reflect);
        ASSERT_EQ(out.x, plain_fold(x, lo, hi)) << x << " in " << lo << ", " << hi;
    }
}

TEST(Reflect, EndsInsideTheBoxForEveryFarOutCoordinate) {
    const double far[] = {
        kInf, -kInf, 1e300, -1e300, 1e17, -1e17, 1e6 + 0.3, -7e5, 1.7976931348623157e308};
    const Bound boxes[] = {{0, 1}, {-5.12, 5.12}, {1e-9, 2e-9}, {-1e308, 1e308}, {3, 1e16}};
    for (const Bound& box : boxes) {
        for (const double x : far) {
            const Outcome out = apply_one(x, box.first, box.second, BoundaryMode::Reflect);
            EXPECT_GE(out.x, box.first) << x;
            EXPECT_LE(out.x, box.second) << x;
            const bool outside = x < box.first || x > box.second;
            EXPECT_EQ(out.v, outside ? -2.5 : 2.5) << x;
        }
    }
    EXPECT_EQ(apply_one(kInf, 0, 1, BoundaryMode::Reflect).x, 1.0);
    EXPECT_EQ(apply_one(-kInf, 0, 1, BoundaryMode::Reflect).x, 0.0);
}

TEST(Reflect, FarOutFiniteCoordinateFoldsByTheRemainder) {
    // 1e6 + 0.25 widths above hi on [0, 1]: an even number of widths plus 0.25.
    const Outcome out = apply_one(1000000.25, 0.0, 1.0, BoundaryMode::Reflect);
    EXPECT_EQ(out.x, 0.25);
    const Outcome odd = apply_one(1000001.25, 0.0, 1.0, BoundaryMode::Reflect);
    EXPECT_EQ(odd.x, 0.75);
}

TEST(ApplyBoundary, ShortVelocityIsAStopForModesThatWriteIt) {
    auto gen = RandomSource::seed_from_u64(1);
    std::vector<double> position{5.0, 5.0};
    std::vector<double> velocity{1.0};
    auto bounds = [](std::size_t) { return Bound{0, 1}; };
    EXPECT_THROW(apply_boundary(position, velocity, bounds, BoundaryMode::Reflect, gen),
                 InternalFailure);
    EXPECT_NO_THROW(apply_boundary(position, velocity, bounds, BoundaryMode::Clamp, gen));
    EXPECT_EQ(position, (std::vector<double>{1.0, 1.0}));
}

// The coordinate-by-coordinate walk, written out plainly: apply_boundary skips it when a
// scan finds every coordinate inside and clamps without branches, which must never change
// a bit or a draw.
void plain_walk(std::vector<double>& position, std::vector<double>& velocity,
                const std::vector<Bound>& bounds, BoundaryMode mode, RandomSource& gen) {
    for (std::size_t i = 0; i < position.size(); ++i) {
        const auto [lo, hi] = bounds[i];
        double& x = position[i];
        if (lo <= x && x <= hi) continue;
        const double width = hi - lo;
        const bool fixed = width <= 0;
        switch (mode) {
            case BoundaryMode::Clamp:
                if (x < lo) x = lo;
                if (x > hi) x = hi;
                break;
            case BoundaryMode::Reflect:
                if (fixed) {
                    x = lo;
                } else {
                    if (x == x) x = detail::reflect_fold(x, lo, hi);
                    velocity[i] = -velocity[i];
                }
                break;
            case BoundaryMode::Wrap:
                if (fixed) {
                    x = lo;
                } else {
                    const double f = std::fmod(x - lo, width);
                    x = (f < 0 ? width + f : f) + lo;
                }
                break;
            case BoundaryMode::Reinit:
                x = fixed ? lo : uniform_in_inclusive(gen, lo, hi);
                velocity[i] = 0.0;
                break;
        }
    }
}

TEST(ApplyBoundary, EqualsThePlainWalkForEveryLengthModeAndEdgeCase) {
    const double nan = std::nan("");
    const double inf = INFINITY;
    auto pick = RandomSource::seed_from_u64(5);
    for (const BoundaryMode mode :
         {BoundaryMode::Clamp, BoundaryMode::Reflect, BoundaryMode::Wrap, BoundaryMode::Reinit}) {
        for (std::size_t n = 0; n <= 9; ++n) {
            for (int trial = 0; trial < 400; ++trial) {
                std::vector<Bound> bounds(n);
                std::vector<double> position(n);
                std::vector<double> velocity(n);
                for (std::size_t i = 0; i < n; ++i) {
                    // Zero bounds of either sign meet zero coordinates of either sign.
                    const std::uint64_t kind = index_below(pick, 8);
                    const double lo = kind == 0 ? 0.0 : kind == 1 ? -0.0 : uniform01(pick) * 4 - 2;
                    const double hi = index_below(pick, 8) == 0 ? lo : lo + uniform01(pick) * 3;
                    bounds[i] = {lo, hi};
                    velocity[i] = uniform01(pick) - 0.5;
                    // Mostly inside, so that whole positions inside are common; otherwise an
                    // edge: a bound itself, just past one, far out, infinite or NaN.
                    const double inside = lo + (hi - lo) * uniform01(pick);
                    const double choices[] = {inside,
                                              inside,
                                              inside,
                                              inside,
                                              inside,
                                              lo,
                                              hi,
                                              std::nextafter(lo, -inf),
                                              std::nextafter(hi, inf),
                                              hi + 7.5,
                                              lo - 100.0,
                                              inf,
                                              -inf,
                                              nan,
                                              0.0,
                                              -0.0};
                    position[i] = trial % 2 == 0 ? inside : choices[index_below(pick, 16)];
                }
                auto expected_position = position;
                auto expected_velocity = velocity;
                auto plain_gen = RandomSource::seed_from_u64(trial);
                plain_walk(expected_position, expected_velocity, bounds, mode, plain_gen);
                auto gen = RandomSource::seed_from_u64(trial);
                apply_boundary(
                    position, velocity, [&](std::size_t i) { return bounds[i]; }, mode, gen);
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(position[i]),
                              std::bit_cast<std::uint64_t>(expected_position[i]))
                        << "n " << n << " trial " << trial << " i " << i;
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(velocity[i]),
                              std::bit_cast<std::uint64_t>(expected_velocity[i]));
                }
                ASSERT_EQ(gen.index(), plain_gen.index());
                ASSERT_EQ(gen.counter(), plain_gen.counter());
            }
        }
    }
}

}  // namespace
}  // namespace kestrelopt
