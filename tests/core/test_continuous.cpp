#include "kestrelopt/spaces/continuous.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

std::string construction_message(std::vector<Bound> bounds) {
    return failure_of([&] { ContinuousSpace space(std::move(bounds)); }, "");
}

TEST(ContinuousSpaceNew, RejectsReversedAndNaNBoundsWithTheFirstBadDimension) {
    EXPECT_EQ(construction_message({{0, 1}, {5, 1}}), "invalid bound in dimension 1: 5 > 1");
    EXPECT_EQ(construction_message({{0.5, -0.25}}), "invalid bound in dimension 0: 0.5 > -0.25");
    EXPECT_EQ(construction_message({{0, 1}, {0, 1}, {kNaN, 1}}),
              "invalid bound in dimension 2: NaN > 1");
    EXPECT_EQ(construction_message({{0, kNaN}, {3, 2}}), "invalid bound in dimension 0: 0 > NaN");
    EXPECT_EQ(construction_message({{2, 2}, {-kInf, kInf}}), "");
}

TEST(ContinuousSpaceSample, DrawsOneValuePerDimensionInOrder) {
    const ContinuousSpace space({{-5.12, 5.12}, {0, 1}, {3, 3}});
    auto gen = RandomSource::seed_from_u64(0);
    const auto x = space.sample(gen);
    ASSERT_EQ(x.size(), 3u);
    EXPECT_EQ(x[0], 2.1409322539679936);
    EXPECT_EQ(x[1], 0.46592172228961026);
    EXPECT_EQ(x[2], 3.0);
    EXPECT_EQ(gen.index(), 6u);
}

TEST(ContinuousSpaceSample, VelocityRangeIsPlusMinusTheWidthAndZeroWhenFixed) {
    const ContinuousSpace space({{1, 3}, {4, 4}});
    auto gen = RandomSource::seed_from_u64(12);
    auto reference = RandomSource::seed_from_u64(12);
    for (int i = 0; i < 100; ++i) {
        const auto v = space.sample_velocity(gen);
        EXPECT_EQ(v[0], uniform_in_inclusive(reference, -2, 2));
        EXPECT_EQ(v[1], 0.0);
        uniform_in_inclusive(reference, 0, 0);
    }
}

TEST(ContinuousSpaceSample, OverflowingRangesStopWithTheDrawMessage) {
    auto gen = RandomSource::seed_from_u64(0);
    const ContinuousSpace huge({{-1e308, 1e308}});
    EXPECT_THROW(
        {
            try {
                huge.sample(gen);
            } catch (const InternalFailure& e) {
                EXPECT_STREQ(e.what(), "Uniform::new_inclusive: range overflow");
                throw;
            }
        },
        InternalFailure);
    // Twice the width overflows only for the velocity.
    const ContinuousSpace wide({{0, 1.5e308}});
    EXPECT_NO_THROW(wide.sample(gen));
    EXPECT_THROW(wide.sample_velocity(gen), InternalFailure);
    const ContinuousSpace infinite({{0, kInf}});
    EXPECT_THROW(infinite.sample(gen), InternalFailure);
}

TEST(ContinuousSpaceDecode, IsACopyAndSpanIsTheBounds) {
    const ContinuousSpace space({{0, 1}, {-2, 2}});
    const std::vector<double> x{0.25, kNaN};
    const auto decoded = decode(space, std::span<const double>(x));
    EXPECT_EQ(decoded[0], 0.25);
    EXPECT_TRUE(std::isnan(decoded[1]));
    EXPECT_EQ(space.span(), (std::vector<Bound>{{0, 1}, {-2, 2}}));
}

TEST(ContinuousSpaceEnforceBounds, UsesEachDimensionsOwnBounds) {
    const ContinuousSpace space({{0, 1}, {10, 20}});
    std::vector<double> x{1.5, 25};
    std::vector<double> v{1, 1};
    auto gen = RandomSource::seed_from_u64(0);
    space.enforce_bounds(x, v, BoundaryMode::Reflect, gen);
    EXPECT_EQ(x, (std::vector<double>{0.5, 15}));
    EXPECT_EQ(v, (std::vector<double>{-1, -1}));
    std::vector<double> longer{0, 0, 0};
    EXPECT_THROW(space.enforce_bounds(longer, v, BoundaryMode::Clamp, gen), InternalFailure);
}

// The clamp over the space's two bound arrays, alone and fused with the move, gives the bits
// of the general boundary walk, for NaN, infinities, signed zeros, values on a bound and
// fixed dimensions, at every length (pairs and a lone last coordinate).
TEST(ContinuousSpaceEnforceBounds, ClampGivesTheWalksBits) {
    const double cases[] = {kNaN, kInf, -kInf, 0.0, -0.0, -1.0, 1.0, 0.5, 2.0, -2.0, 1e300};
    const std::vector<Bound> bounds{{-1, 1}, {0, 0}, {-0.0, 0.0}, {0.5, 2}, {-2, 1e300}};
    for (std::size_t n = 1; n <= bounds.size(); ++n) {
        const std::vector<Bound> box(bounds.begin(), bounds.begin() + static_cast<long>(n));
        const ContinuousSpace space(box);
        for (std::size_t k = 0; k < std::size(cases) * n; ++k) {
            std::vector<double> x(n);
            for (std::size_t d = 0; d < n; ++d) x[d] = cases[(k + 3 * d) % std::size(cases)];
            std::vector<double> walked = x, v(n, 1.0), w(n, 1.0);
            auto gen = RandomSource::seed_from_u64(0);
            space.enforce_bounds(x, v, BoundaryMode::Clamp, gen);
            apply_boundary(
                std::span<double>(walked), std::span<double>(w),
                [&](std::size_t i) { return box[i]; }, BoundaryMode::Clamp, gen);
            expect_same_bits_any_nan(x, walked);
            // The move fused with the clamp: each engine's addition, then the same clamp.
            for (const bool velocity_first : {true, false}) {
                std::vector<double> fused(n), step(n), added(n);
                for (std::size_t d = 0; d < n; ++d) {
                    fused[d] = cases[(k + d) % std::size(cases)];
                    step[d] = cases[(k + 5 * d + 1) % std::size(cases)];
                    added[d] = velocity_first ? step[d] + fused[d] : fused[d] + step[d];
                }
                ASSERT_TRUE(velocity_first
                                ? space.move_clamped<MoveOrder::VelocityFirst>(fused, step)
                                : space.move_clamped<MoveOrder::PositionFirst>(fused, step));
                apply_boundary(
                    std::span<double>(added), std::span<double>(w),
                    [&](std::size_t i) { return box[i]; }, BoundaryMode::Clamp, gen);
                expect_same_bits_any_nan(fused, added);
            }
        }
        std::vector<double> longer(n + 1, 0.0);
        EXPECT_FALSE(space.move_clamped(longer, std::vector<double>(n + 1, 1.0)));
    }
}

}  // namespace
}  // namespace kestrelopt
