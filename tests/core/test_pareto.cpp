#include "kestrelopt/mopso/pareto.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/mopso/sort_keys.hpp"
#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();

void expect_same_points(const PointSet& actual, const PointSet& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) expect_same_bits(actual[i], expected[i]);
}

// ---- dominates ---------------------------------------------------------------------------

struct DominanceCase {
    const char* name;
    ObjectiveVector a;
    ObjectiveVector b;
    bool a_dominates_b;
    bool b_dominates_a;
};

class Dominance : public ::testing::TestWithParam<DominanceCase> {};

TEST_P(Dominance, BothDirections) {
    const DominanceCase& c = GetParam();
    EXPECT_EQ(dominates(c.a, c.b), c.a_dominates_b);
    EXPECT_EQ(dominates(c.b, c.a), c.b_dominates_a);
    const MutualDominance both = mutual_dominance(c.a, c.b);
    EXPECT_EQ(both.first_dominates, c.a_dominates_b);
    EXPECT_EQ(both.second_dominates, c.b_dominates_a);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Dominance,
    ::testing::Values(DominanceCase{"EqualVectors", {1, 2}, {1, 2}, false, false},
                      DominanceCase{"BetterInOne", {1, 2}, {1, 3}, true, false},
                      DominanceCase{"Incomparable", {1, 3}, {2, 1}, false, false},
                      DominanceCase{"BothEmpty", {}, {}, false, false},
                      DominanceCase{"OneEmpty", {}, {1}, false, false},
                      DominanceCase{"CommonPrefixOnly", {1}, {2, 0}, true, false},
                      DominanceCase{"NaNNeutralStillBetter", {kNaN, 1}, {5, 2}, true, false},
                      DominanceCase{"NaNNeutralOtherwiseEqual", {kNaN, 2}, {5, 2}, false, false},
                      DominanceCase{"AllNaN", {kNaN, kNaN}, {1, 1}, false, false},
                      DominanceCase{"SignedZerosEqual", {-0.0, 1}, {0.0, 1}, false, false},
                      DominanceCase{"Infinities", {-kInf, kInf}, {0, kInf}, true, false}),
    [](const ::testing::TestParamInfo<DominanceCase>& info) { return info.param.name; });

TEST(MutualDominance, AgreesWithDominatesOnEveryPairOfSmallVectors) {
    // Every vector of length 0..3 over {0, 1, NaN}: both directions from one scan must
    // match two separate dominance tests.
    const double values[] = {0.0, 1.0, kNaN};
    PointSet all{{}};
    for (std::size_t length = 1; length <= 3; ++length) {
        std::size_t total = 1;
        for (std::size_t k = 0; k < length; ++k) total *= 3;
        for (std::size_t code = 0; code < total; ++code) {
            ObjectiveVector v;
            for (std::size_t k = 0, c = code; k < length; ++k, c /= 3) v.push_back(values[c % 3]);
            all.push_back(v);
        }
    }
    for (const ObjectiveVector& a : all)
        for (const ObjectiveVector& b : all) {
            const MutualDominance both = mutual_dominance(a, b);
            ASSERT_EQ(both.first_dominates, dominates(a, b));
            ASSERT_EQ(both.second_dominates, dominates(b, a));
            ASSERT_EQ(both.equal, same_objectives(a, b));
        }
}

TEST(SameObjectives, IeeeEqualityOfEqualLengthVectors) {
    EXPECT_TRUE(same_objectives(ObjectiveVector{}, ObjectiveVector{}));
    EXPECT_TRUE(same_objectives(ObjectiveVector{-0.0, 1}, ObjectiveVector{0.0, 1}));
    EXPECT_FALSE(same_objectives(ObjectiveVector{1}, ObjectiveVector{1, 1}));
    EXPECT_FALSE(same_objectives(ObjectiveVector{kNaN}, ObjectiveVector{kNaN}));
}

// ---- non_dominated -----------------------------------------------------------------------

TEST(NonDominated, DropsDominatedAndLaterDuplicates) {
    const PointSet points{{1, 2}, {1, 2}, {2, 3}, {0, 5}};
    expect_same_points(non_dominated(points), {{1, 2}, {0, 5}});
}

TEST(NonDominated, EmptyInputGivesEmptyResult) {
    EXPECT_TRUE(non_dominated(PointSet{}).empty());
}

TEST(NonDominated, TestsAgainstPointsThatAreThemselvesDropped) {
    // [1, 1] dominates [2, NaN], and is itself dominated by [NaN, 0]; NaN makes dominance
    // intransitive, so [2, NaN] is dropped only because the dropped point is consulted.
    const PointSet points{{2, kNaN}, {1, 1}, {kNaN, 0}};
    expect_same_points(non_dominated(points), {{kNaN, 0}});
}

TEST(NonDominated, VectorsWithNaNAreNeverDuplicates) {
    const PointSet points{{kNaN, 1}, {kNaN, 1}};
    expect_same_points(non_dominated(points), points);
}

TEST(NonDominated, EmptyVectorsAreEqual) {
    const PointSet points{{}, {}};
    expect_same_points(non_dominated(points), {{}});
}

TEST(NonDominated, ResultIsACopyInInputOrder) {
    const PointSet points{{3, 0}, {0, 3}, {1, 1}, {2, 2}};
    expect_same_points(non_dominated(points), {{3, 0}, {0, 3}, {1, 1}});
}

// ---- crowding_distance -------------------------------------------------------------------

TEST(CrowdingDistance, EmptyOneAndTwoPoints) {
    EXPECT_TRUE(crowding_distance(PointSet{}).empty());
    expect_same_bits(crowding_distance(PointSet{{1, 2}}), {kInf});
    expect_same_bits(crowding_distance(PointSet{{1, 2}, {2, 1}}), {kInf, kInf});
}

TEST(CrowdingDistance, ThreePointFront) {
    expect_same_bits(crowding_distance(PointSet{{0, 2}, {1, 1}, {2, 0}}), {kInf, 2.0, kInf});
}

TEST(CrowdingDistance, EqualPointsFirstAndLastAreBoundaries) {
    expect_same_bits(crowding_distance(PointSet{{1, 1}, {1, 1}, {1, 1}}), {kInf, 0.0, kInf});
}

TEST(CrowdingDistance, TiesKeepIndexOrderAtTheBoundaries) {
    // Stable: of the two lowest equal keys the first index is the boundary.
    expect_same_bits(crowding_distance(PointSet{{0}, {0}, {1}}), {kInf, 1.0, kInf});
    expect_same_bits(crowding_distance(PointSet{{1}, {0}, {0}, {1}}), {1.0, kInf, 1.0, kInf});
}

TEST(CrowdingDistance, FourPointFront) {
    expect_same_bits(crowding_distance(PointSet{{0, 4}, {1, 3}, {2, 2}, {4, 0}}),
                     {kInf, 1.0, 1.5, kInf});
}

TEST(CrowdingDistance, TermsDividedSeparatelyAndSummedPerObjectiveWithoutAveraging) {
    const PointSet p{{0.0, 0.9}, {0.1, 0.7}, {0.35, 0.3}, {0.7, 0.1}, {1.3, 0.0}};
    const double rx = 1.3 - 0.0;
    const double ry = 0.9 - 0.0;
    const std::vector<double> expected{kInf, (0.0 + (0.35 - 0.0) / rx) + (0.9 - 0.3) / ry,
                                       (0.0 + (0.7 - 0.1) / rx) + (0.7 - 0.1) / ry,
                                       (0.0 + (1.3 - 0.35) / rx) + (0.3 - 0.0) / ry, kInf};
    expect_same_bits(crowding_distance(p), expected);
    EXPECT_GT(expected[2], 1.0);  // would be at most 1 if averaged over the objectives
}

TEST(CrowdingDistance, NaNKeysSortLastAndVoidThatObjectivesRange) {
    expect_same_bits(crowding_distance(PointSet{{0}, {kNaN}, {1}, {0.5}}), {kInf, kInf, 0.0, 0.0});
}

TEST(CrowdingDistance, ShortVectorsLackValuesThatCountAsNaN) {
    // Objective 1 is missing from the second vector: it sorts last there.
    expect_same_bits(crowding_distance(PointSet{{0, 0}, {1}, {2, 2}, {3, 3}}),
                     {kInf, kInf, (3.0 - 1.0) / 3.0, kInf});
}

TEST(CrowdingDistance, ObjectivesBeyondTheFirstVectorsLengthAreIgnored) {
    expect_same_bits(crowding_distance(PointSet{{0}, {1, 100}, {2, -5}}), {kInf, 1.0, kInf});
}

TEST(CrowdingDistance, InfiniteValuesFollowPlainArithmetic) {
    // Range +inf: the term next to the infinite value is inf / inf = NaN.
    const std::vector<double> d = crowding_distance(PointSet{{0}, {1}, {2}, {kInf}});
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0], kInf);
    EXPECT_EQ(d[1], 0.0);
    EXPECT_TRUE(std::isnan(d[2]));
    EXPECT_EQ(d[3], kInf);
}

// The distances written out plainly: per objective a stable sort with the ordering rules
// (ascending, NaN after every number, equal values in index order).
std::vector<double> plain_crowding(const PointSet& points) {
    const std::size_t n = points.size();
    if (n <= 2) return std::vector<double>(n, kInf);
    std::vector<double> d(n, 0.0);
    for (std::size_t k = 0; k < points.front().size(); ++k) {
        auto key = [&](std::size_t i) { return k < points[i].size() ? points[i][k] : kNaN; };
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            if (std::isnan(key(a)) || std::isnan(key(b)))
                return !std::isnan(key(a)) && std::isnan(key(b));
            return key(a) < key(b);
        });
        d[order[0]] = kInf;
        d[order[n - 1]] = kInf;
        const double range = key(order[n - 1]) - key(order[0]);
        if (!(range > 0.0)) continue;
        for (std::size_t r = 1; r + 1 < n; ++r)
            d[order[r]] += (key(order[r + 1]) - key(order[r - 1])) / range;
    }
    return d;
}

TEST(CrowdingDistance, MatchesThePlainStableSortWithSpecialValues) {
    static constexpr double kValues[] = {0.0, -0.0, 0.5, 1.0, -2.0, 3.25, kInf, -kInf, kNaN};
    auto gen = RandomSource::seed_from_u64(404);
    for (int round = 0; round < 500; ++round) {
        PointSet points(index_below(gen, 12));
        const std::size_t m = 1 + index_below(gen, 3);
        for (ObjectiveVector& p : points) {
            p.resize(index_below(gen, 8) == 0 ? m - 1 : m);
            for (double& v : p) v = kValues[index_below(gen, std::size(kValues))];
        }
        // Every other round a front, whose objectives come out sorted in reverse.
        if (round % 2 == 1) points = non_dominated(points);
        expect_same_bits_any_nan(crowding_distance(points), plain_crowding(points));
        if (HasFailure()) return;
    }
}

// The first objective's order as plain_crowding sorts it, over the first `count` points.
std::vector<std::size_t> plain_first_order(const PointSet& points, std::size_t count) {
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    auto key = [&](std::size_t i) { return points[i].empty() ? kNaN : points[i][0]; };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (std::isnan(key(a)) || std::isnan(key(b)))
            return !std::isnan(key(a)) && std::isnan(key(b));
        return key(a) < key(b);
    });
    return order;
}

enum class Hint { Prefix, Whole, Reversed, OutOfRange, Repeated, TooLong };

class CrowdingHint : public ::testing::TestWithParam<Hint> {};

// Whatever the hint, the distances are the plain ones and the hint left behind is the
// first objective's order: a right hint saves sorting, a wrong one only costs time.
TEST_P(CrowdingHint, GivesThePlainDistancesAndLeavesTheFirstOrder) {
    static constexpr double kValues[] = {0.0, -0.0, 0.5, 1.0, -2.0, 3.25, kInf, kNaN};
    auto gen = RandomSource::seed_from_u64(405);
    CrowdingWork work;
    std::vector<double> distances;
    for (int round = 0; round < 300; ++round) {
        PointSet points(3 + index_below(gen, 20));
        const std::size_t n = points.size();
        for (ObjectiveVector& p : points) {
            p.resize(2);
            for (double& v : p) v = kValues[index_below(gen, std::size(kValues))];
        }
        if (round % 2 == 1 && non_dominated(points).size() > 2) points = non_dominated(points);
        const std::size_t m = points.size();
        const std::size_t prefix = index_below(gen, m + 1);
        switch (GetParam()) {
            case Hint::Prefix:
                work.hint = plain_first_order(points, prefix);
                break;
            case Hint::Whole:
                work.hint = plain_first_order(points, m);
                break;
            case Hint::Reversed:
                work.hint = plain_first_order(points, m);
                std::reverse(work.hint.begin(), work.hint.end());
                break;
            case Hint::OutOfRange:
                work.hint = plain_first_order(points, prefix);
                work.hint.push_back(m + n);
                break;
            case Hint::Repeated:
                work.hint = plain_first_order(points, prefix);
                if (!work.hint.empty()) work.hint.push_back(work.hint.back());
                break;
            case Hint::TooLong:
                work.hint.assign(m + 1, 0);
                break;
        }
        const std::vector<ObjectiveView> views(points.begin(), points.end());
        crowding_distance_into(views, work, distances);
        expect_same_bits_any_nan(distances, plain_crowding(points));
        EXPECT_EQ(work.hint, plain_first_order(points, m));
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Hints, CrowdingHint,
                         ::testing::Values(Hint::Prefix, Hint::Whole, Hint::Reversed,
                                           Hint::OutOfRange, Hint::Repeated, Hint::TooLong));

TEST(SortKeys, OrderDoublesAsTheComparisonsDo) {
    static constexpr double kValues[] = {0.0,   -0.0,   5e-324, -5e-324, 1.0,  -1.0,
                                         1e308, -1e308, kInf,   -kInf,   kNaN, -kNaN};
    for (const double a : kValues)
        for (const double b : kValues) {
            const bool a_nan = std::isnan(a);
            const bool b_nan = std::isnan(b);
            const bool ascending = a_nan || b_nan ? !a_nan && b_nan : a < b;
            const bool descending = a_nan || b_nan ? !a_nan && b_nan : a > b;
            const bool tie = a_nan || b_nan ? a_nan && b_nan : a == b;
            EXPECT_EQ(detail::ascending_key(a) < detail::ascending_key(b), ascending)
                << a << " " << b;
            EXPECT_EQ(detail::descending_key(a) < detail::descending_key(b), descending)
                << a << " " << b;
            EXPECT_EQ(detail::ascending_key(a) == detail::ascending_key(b), tie) << a << " " << b;
            EXPECT_EQ(detail::descending_key(a) == detail::descending_key(b), tie) << a << " " << b;
        }
}

// ---- grid_cells and cell_populations ------------------------------------------------------

TEST(GridCells, TwoDivisionsTopOfRangeInLastCell) {
    const PointSet points{{0, 0}, {1, 1}, {0.5, 0.25}};
    const std::vector<GridCell> cells = grid_cells(points, 2);
    EXPECT_EQ(cells, (std::vector<GridCell>{{0, 0}, {1, 1}, {1, 0}}));
    EXPECT_EQ(cell_populations(cells), (std::vector<std::size_t>{1, 1, 1}));
}

TEST(GridCells, ZeroDivisionsBehaveAsOne) {
    const PointSet points{{0, 0}, {1, 1}, {0.5, 0.25}};
    const std::vector<GridCell> cells = grid_cells(points, 0);
    EXPECT_EQ(cells, (std::vector<GridCell>{{0, 0}, {0, 0}, {0, 0}}));
    EXPECT_EQ(cell_populations(cells), (std::vector<std::size_t>{3, 3, 3}));
    EXPECT_EQ(grid_cells(points, 1), cells);
}

TEST(GridCells, EmptySetAndZeroSpan) {
    EXPECT_TRUE(grid_cells(PointSet{}, 4).empty());
    EXPECT_EQ(grid_cells(PointSet{{3, 1}, {3, 2}}, 4), (std::vector<GridCell>{{0, 0}, {0, 3}}));
}

TEST(GridCells, DivisionBoundariesAndTruncation) {
    // t = 4 * x exactly; a value on an inner boundary opens the upper cell.
    const PointSet points{{0}, {0.25}, {0.2499}, {0.75}, {1}};
    EXPECT_EQ(grid_cells(points, 4), (std::vector<GridCell>{{0}, {1}, {0}, {3}, {3}}));
}

TEST(GridCells, HugeDivisionsSaturateInsteadOfOverflowing) {
    // t = 2^64 at the top is beyond the integer range; the cell is still the last one.
    const PointSet points{{0}, {0.5}, {1}};
    EXPECT_EQ(grid_cells(points, kMax),
              (std::vector<GridCell>{{0}, {std::size_t{1} << 63}, {kMax - 1}}));
}

TEST(GridCells, NaNAndMissingValuesAreSkippedInTheBoxAndFallInCellZero) {
    const PointSet points{{0, 0}, {kNaN, 1}, {1}, {0.5, 0.5}};
    EXPECT_EQ(grid_cells(points, 2), (std::vector<GridCell>{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
    EXPECT_EQ(grid_cells(PointSet{{kNaN}, {kNaN}}, 2), (std::vector<GridCell>{{0}, {0}}));
}

TEST(GridCells, InfiniteSpanPutsFiniteValuesInCellZero) {
    const PointSet points{{-kInf}, {0}, {kInf}};
    // span = inf: (0 - -inf) / inf is NaN, and so is the top; both land in cell 0.
    EXPECT_EQ(grid_cells(points, 2), (std::vector<GridCell>{{0}, {0}, {0}}));
}

TEST(CellPopulations, CountsEqualCellsOfEqualLength) {
    const std::vector<GridCell> cells{{0}, {0, 0}, {0}, {}, {}, {1, 0}};
    EXPECT_EQ(cell_populations(cells), (std::vector<std::size_t>{2, 1, 2, 2, 2, 1}));
    EXPECT_TRUE(cell_populations(std::vector<GridCell>{}).empty());
}

TEST(GridPopulationsInto, MatchesTheAllocatingFormsOnRandomSets) {
    auto gen = RandomSource::seed_from_u64(2024);
    GridWork work;
    std::vector<std::size_t> populations;
    for (int round = 0; round < 200; ++round) {
        const std::size_t n = index_below(gen, 40);
        const std::size_t m = 1 + index_below(gen, 4);
        const std::size_t divisions = index_below(gen, 6);
        PointSet points(n);
        for (ObjectiveVector& p : points) {
            // Coarse values make shared cells and zero spans common; some are NaN or short.
            const std::size_t length = index_below(gen, 8) == 0 ? index_below(gen, m + 1) : m;
            for (std::size_t k = 0; k < length; ++k)
                p.push_back(index_below(gen, 10) == 0
                                ? kNaN
                                : static_cast<double>(index_below(gen, 5)) * 0.25);
        }
        const std::vector<ObjectiveView> views(points.begin(), points.end());
        grid_populations_into(views, divisions, work, populations);
        const std::vector<GridCell> cells = grid_cells(points, divisions);
        ASSERT_EQ(populations, cell_populations(cells));
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < work.objectives; ++k)
                ASSERT_EQ(work.cells[i * work.objectives + k], cells[i][k]);
    }
}

// ---- nadir_reference ---------------------------------------------------------------------

TEST(NadirReference, TenthOfTheSpreadOrOne) {
    expect_same_bits(nadir_reference(PointSet{{1, 5}, {3, 5}}), {3.0 + 0.1 * 2.0, 6.0});
    EXPECT_EQ(nadir_reference(PointSet{{1, 5}, {3, 5}})[0], 3.2);
}

TEST(NadirReference, EmptySetGivesEmptyVector) {
    EXPECT_TRUE(nadir_reference(PointSet{}).empty());
}

TEST(NadirReference, NaNAndMissingValuesAreSkipped) {
    expect_same_bits(nadir_reference(PointSet{{kNaN, 1}, {2, 3}}), {3.0, 3.0 + 0.1 * 2.0});
    expect_same_bits(nadir_reference(PointSet{{1, 2}, {3}}), {3.0 + 0.1 * 2.0, 3.0});
}

TEST(NadirReference, AllNaNObjectiveFollowsTheStartingValues) {
    // worst stays -inf, the spread is -inf, and -inf + 1 is -inf.
    expect_same_bits(nadir_reference(PointSet{{kNaN}, {kNaN}}), {-kInf});
}

// ---- limit_set ---------------------------------------------------------------------------

TEST(LimitSet, WorsensLaterPointsToTheChosenPoint) {
    const PointSet points{{1, 3}, {2, 2}, {0, 4}};
    expect_same_points(limit_set(points, 0), {{2, 3}, {1, 4}});
    expect_same_points(limit_set(points, 1), {{2, 4}});
    EXPECT_TRUE(limit_set(points, 2).empty());
}

TEST(LimitSet, NaNYieldsTheOtherValueAndLengthsShrinkToTheCommonPrefix) {
    const PointSet points{{kNaN, 1, 5}, {2, kNaN}, {kNaN, 0, 1, 1}};
    expect_same_points(limit_set(points, 0), {{2, 1}, {kNaN, 1, 5}});
}

TEST(LimitSet, IndexPastTheEndStops) {
    const PointSet points{{1, 2}, {2, 1}, {3, 0}};
    try {
        limit_set(points, 3);
        FAIL() << "no failure";
    } catch (const InternalFailure& failure) {
        EXPECT_STREQ(failure.what(), "limit_set index 3 is out of range for 3 points");
    }
}

}  // namespace
}  // namespace kestrelopt
