#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "count_allocations.hpp"
#include "hypervolume_reference.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

bool is_negative_zero(double v) {
    return v == 0.0 && std::signbit(v);
}

// ---- fixed cases ----------------------------------------------------------------------------

TEST(Hypervolume, TwoPointStaircase) {
    // Exclusive volumes 2 - 1 and 2.
    EXPECT_EQ(bits(hypervolume(PointSet{{1, 2}, {2, 1}}, ObjectiveVector{3, 3})), bits(3.0));
}

TEST(Hypervolume, PointTouchingTheReferenceIsDroppedAndTheSumIsNegativeZero) {
    EXPECT_TRUE(is_negative_zero(hypervolume(PointSet{{1, 3}}, ObjectiveVector{3, 3})));
}

TEST(Hypervolume, EmptySetIsNegativeZero) {
    EXPECT_TRUE(is_negative_zero(hypervolume(PointSet{}, ObjectiveVector{3, 3})));
    EXPECT_TRUE(is_negative_zero(wfg(PointSet{}, ObjectiveVector{3, 3})));
}

TEST(Hypervolume, PointsOfTheWrongLengthAreIgnored) {
    EXPECT_TRUE(is_negative_zero(hypervolume(PointSet{{1, 2, 0}}, ObjectiveVector{3, 3})));
    EXPECT_TRUE(is_negative_zero(hypervolume(PointSet{{1}}, ObjectiveVector{3, 3})));
    EXPECT_EQ(hypervolume(PointSet{{0, 0, 0}, {1, 2}, {0}}, ObjectiveVector{3, 3}), 2.0);
}

TEST(Hypervolume, DuplicateCountedOnce) {
    EXPECT_EQ(bits(hypervolume(PointSet{{1, 1}, {1, 1}}, ObjectiveVector{2, 2})), bits(1.0));
}

TEST(Hypervolume, DominatedPointsAddNothing) {
    EXPECT_EQ(hypervolume(PointSet{{2, 2}, {1, 1}, {1.5, 0.5}}, ObjectiveVector{3, 3}), 4.75);
}

TEST(Hypervolume, NaNAndOutsidePointsAreDropped) {
    EXPECT_EQ(hypervolume(PointSet{{kNaN, 1}, {1, 1}, {4, 0}, {0, kInf}}, ObjectiveVector{2, 2}),
              1.0);
}

TEST(Hypervolume, InfiniteReferenceGivesInfiniteVolume) {
    EXPECT_EQ(hypervolume(PointSet{{1, 1}}, ObjectiveVector{kInf, 2}), kInf);
}

TEST(Hypervolume, EmptyReferenceCountsEmptyVectorsOnceWithUnitVolume) {
    EXPECT_EQ(hypervolume(PointSet{{}, {}, {1}}, ObjectiveVector{}), 1.0);
}

TEST(Wfg, SinglePointIsItsBox) {
    EXPECT_EQ(bits(wfg(PointSet{{0.5, 1}}, ObjectiveVector{2, 3})), bits(1.5 * 2.0));
}

TEST(Wfg, NaNDifferenceCountsAsZeroAndVectorsWithoutValuesAsOne) {
    EXPECT_EQ(bits(wfg(PointSet{{kNaN, 1}}, ObjectiveVector{2, 3})), bits(0.0));
    EXPECT_EQ(bits(wfg(PointSet{{}}, ObjectiveVector{2, 3})), bits(1.0));
    // Only the common prefix with the reference counts.
    EXPECT_EQ(bits(wfg(PointSet{{1, 1, 1}}, ObjectiveVector{2})), bits(1.0));
}

// ---- closed-form volumes ----------------------------------------------------------------

// Points k / n on the line x + y = 1 - 1/n, reference (1, 1): the staircase has n steps of
// width 1/n and heights 1/n, 2/n, ..., so the volume is (n + 1) / (2n).
PointSet staircase(std::size_t n) {
    PointSet points;
    const double step = 1.0 / static_cast<double>(n);
    for (std::size_t k = 0; k < n; ++k)
        points.push_back({static_cast<double>(k) * step, static_cast<double>(n - 1 - k) * step});
    return points;
}

TEST(HypervolumeClosedForm, DyadicStaircaseIsExactInAnyOrder) {
    for (std::size_t n : {1, 2, 8, 32}) {
        PointSet points = staircase(n);
        const double expected = static_cast<double>(n + 1) / (2.0 * static_cast<double>(n));
        EXPECT_EQ(hypervolume(points, ObjectiveVector{1, 1}), expected) << n;
        std::reverse(points.begin(), points.end());
        EXPECT_EQ(hypervolume(points, ObjectiveVector{1, 1}), expected) << n;
        // Stride 7 through the points (7 is prime to every n here, so each point comes
        // once, in a scrambled order): no sorting is needed for the exact value.
        PointSet mixed;
        for (std::size_t i = 0; i < n; ++i) mixed.push_back(points[(i * 7) % n]);
        EXPECT_EQ(hypervolume(mixed, ObjectiveVector{1, 1}), expected) << n;
    }
}

TEST(HypervolumeClosedForm, DecimalStaircaseWithinRounding) {
    for (std::size_t n : {3, 10, 25}) {
        const double expected = static_cast<double>(n + 1) / (2.0 * static_cast<double>(n));
        EXPECT_NEAR(hypervolume(staircase(n), ObjectiveVector{1, 1}), expected, 1e-14) << n;
    }
}

// Volume of the union of the boxes [p, reference] for integer points, counted as unit
// cells of the lattice: a cell whose lower corner c is >= p in every coordinate lies in p's
// box. Independent of any dominance filtering or recursion.
double lattice_volume(const PointSet& points, std::size_t m, int side) {
    std::size_t count = 0;
    std::vector<int> corner(m, 0);
    for (;;) {
        for (const ObjectiveVector& p : points) {
            bool inside = true;
            for (std::size_t k = 0; k < m && inside; ++k) inside = corner[k] >= p[k];
            if (inside) {
                ++count;
                break;
            }
        }
        std::size_t k = 0;
        while (k < m && ++corner[k] == side) corner[k++] = 0;
        if (k == m) break;
    }
    return static_cast<double>(count);
}

TEST(HypervolumeClosedForm, SimplexLatticeIn3DMatchesCellCount) {
    // All integer points with i + j + k = 6, reference (7, 7, 7).
    PointSet points;
    for (int i = 0; i <= 6; ++i)
        for (int j = 0; i + j <= 6; ++j)
            points.push_back({double(i), double(j), double(6 - i - j)});
    const double expected = lattice_volume(points, 3, 7);
    EXPECT_EQ(hypervolume(points, ObjectiveVector{7, 7, 7}), expected);
    // Scaling by a power of two scales the volume exactly.
    for (ObjectiveVector& p : points)
        for (double& v : p) v *= 0.5;
    EXPECT_EQ(hypervolume(points, ObjectiveVector{3.5, 3.5, 3.5}), expected / 8.0);
}

TEST(HypervolumeClosedForm, RandomIntegerSetsMatchCellCount) {
    // Arbitrary sets (dominated points, duplicates, points on the reference) in 2 to 4
    // objectives; integer coordinates keep every product and sum exact.
    auto gen = RandomSource::seed_from_u64(99);
    for (int round = 0; round < 60; ++round) {
        const std::size_t m = 2 + static_cast<std::size_t>(round % 3);
        const int side = 7;
        const std::size_t n = 1 + index_below(gen, m == 4 ? 12 : 20);
        PointSet points(n, ObjectiveVector(m));
        for (ObjectiveVector& p : points)
            for (double& v : p) v = static_cast<double>(index_below(gen, side + 1));
        const ObjectiveVector reference(m, static_cast<double>(side));
        const double volume = hypervolume(points, reference);
        EXPECT_EQ(volume, lattice_volume(points, m, side)) << "round " << round;
    }
}

// ---- bit-for-bit against the plain recursion ---------------------------------------------

// n mutually non-dominated points on the unit sphere (p = 2) or simplex (p = 1) in the
// positive orthant.
PointSet random_front(RandomSource& gen, std::size_t n, std::size_t m, int p) {
    PointSet points(n, ObjectiveVector(m));
    for (ObjectiveVector& point : points) {
        double norm = 0.0;
        for (double& v : point) {
            v = 0.05 + uniform01(gen);
            norm += p == 1 ? v : v * v;
        }
        if (p == 2) norm = std::sqrt(norm);
        for (double& v : point) v /= norm;
    }
    return points;
}

struct FrontCase {
    std::size_t objectives;
    std::size_t max_points;
    int rounds;
};

void PrintTo(const FrontCase& c, std::ostream* os) {
    *os << c.objectives << " objectives, up to " << c.max_points << " points";
}

class HypervolumeBits : public ::testing::TestWithParam<FrontCase> {};

TEST_P(HypervolumeBits, SameBitsAsThePlainRecursionOnRandomFronts) {
    const FrontCase c = GetParam();
    auto gen = RandomSource::seed_from_u64(1000 + c.objectives);
    for (int round = 0; round < c.rounds; ++round) {
        const std::size_t n = 1 + index_below(gen, c.max_points);
        PointSet points = random_front(gen, n, c.objectives, 1 + round % 2);
        ObjectiveVector reference(c.objectives);
        for (double& r : reference) r = 0.9 + 0.3 * uniform01(gen);  // some points fall out
        if (round % 3 == 2) {
            // Coarse values: ties, duplicates and dominated points in every limit set.
            for (ObjectiveVector& p : points)
                for (double& v : p) v = std::round(v * 8.0) / 8.0;
        }
        const double expected = hv_reference::hypervolume(points, reference);
        ASSERT_EQ(bits(hypervolume(points, reference)), bits(expected))
            << "round " << round << ", " << n << " points";
        const std::vector<ObjectiveView> views(points.begin(), points.end());
        ASSERT_EQ(bits(hypervolume(views, reference)), bits(expected)) << "round " << round;
        const PointSet front = non_dominated(points);
        ASSERT_EQ(bits(wfg(front, ObjectiveVector(c.objectives, 2.0))),
                  bits(hv_reference::wfg(front, ObjectiveVector(c.objectives, 2.0))))
            << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Objectives, HypervolumeBits,
                         ::testing::Values(FrontCase{2, 60, 40}, FrontCase{3, 60, 30},
                                           FrontCase{4, 60, 20}, FrontCase{5, 60, 20}),
                         [](const ::testing::TestParamInfo<FrontCase>& info) {
                             return std::to_string(info.param.objectives) + "Objectives";
                         });

TEST(HypervolumeAllocations, BoundedByTheDepthNotByTheRecursionsSize) {
    // Buffers per depth are reused: a call allocates a few buffers per level, while the
    // recursion visits thousands of limit sets (each a fresh set in the plain form).
    auto gen = RandomSource::seed_from_u64(5);
    const std::size_t n = 40;
    const PointSet front = random_front(gen, n, 4, 2);
    const ObjectiveVector reference(4, 1.1);
    std::size_t library = 0;
    std::size_t plain = 0;
    double a = 0.0;
    double b = 0.0;
    {
        count_allocations::AllocationCount counter;
        a = hypervolume(front, reference);
        library = counter.value();
    }
    {
        count_allocations::AllocationCount counter;
        b = hv_reference::hypervolume(front, reference);
        plain = counter.value();
    }
    EXPECT_EQ(bits(a), bits(b));
    EXPECT_LE(library, 2 * n + 8);
    EXPECT_GT(plain, 20 * n);
}

TEST(WfgBits, RaggedAndNaNSetsFollowThePlainRecursion) {
    // wfg takes any set as given: NaN values, vectors shorter or longer than the reference
    // and dominated points must all go through the same operations.
    auto gen = RandomSource::seed_from_u64(7);
    for (int round = 0; round < 300; ++round) {
        const std::size_t m = 1 + index_below(gen, 4);
        const std::size_t n = index_below(gen, 9);
        PointSet points(n);
        for (ObjectiveVector& p : points) {
            const std::size_t length = index_below(gen, m + 2);
            for (std::size_t k = 0; k < length; ++k) {
                const std::uint64_t roll = index_below(gen, 12);
                p.push_back(roll == 0   ? kNaN
                            : roll == 1 ? kInf
                                        : static_cast<double>(index_below(gen, 6)) * 0.2);
            }
        }
        ObjectiveVector reference(m);
        for (double& r : reference) r = 0.5 + uniform01(gen);
        const double expected = hv_reference::wfg(points, reference);
        const double actual = wfg(points, reference);
        ASSERT_EQ(bits(actual), bits(expected)) << "round " << round;
        ASSERT_EQ(bits(hypervolume(points, reference)),
                  bits(hv_reference::hypervolume(points, reference)))
            << "round " << round;
    }
}

}  // namespace
}  // namespace kestrelopt
