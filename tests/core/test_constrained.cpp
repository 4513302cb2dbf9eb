#include "kestrelopt/mopso/constrained.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;
using V = std::vector<double>;

struct DominanceCase {
    const char* name;
    std::vector<double> a;
    double violation_a;
    std::vector<double> b;
    double violation_b;
    bool a_wins;
    bool b_wins;
};

class ConstrainedDominance : public ::testing::TestWithParam<DominanceCase> {};

TEST_P(ConstrainedDominance, FollowsFeasibilityThenViolationThenPareto) {
    const DominanceCase& c = GetParam();
    const MutualDominance d = constrained_dominance(c.a, c.violation_a, c.b, c.violation_b);
    EXPECT_EQ(d.first_dominates, c.a_wins);
    EXPECT_EQ(d.second_dominates, c.b_wins);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConstrainedDominance,
    ::testing::Values(
        // Feasible beats infeasible, whatever the objectives say.
        DominanceCase{"feasible_worse_objectives", {9, 9}, 0.0, {0, 0}, 0.5, true, false},
        DominanceCase{"infeasible_better_objectives", {0, 0}, 1e-300, {9, 9}, 0.0, false, true},
        // Two infeasible points: the smaller violation wins, objectives aside.
        DominanceCase{"smaller_violation", {5, 5}, 0.25, {1, 1}, 0.5, true, false},
        DominanceCase{"larger_violation", {1, 1}, 3.0, {5, 5}, 2.0, false, true},
        // Equal violations (both feasible, or equally infeasible): Pareto dominance.
        DominanceCase{"feasible_pareto", {1, 2}, 0.0, {1, 3}, 0.0, true, false},
        DominanceCase{"feasible_incomparable", {1, 3}, 0.0, {2, 1}, 0.0, false, false},
        DominanceCase{"feasible_equal", {1, 1}, 0.0, {1, 1}, 0.0, false, false},
        DominanceCase{"equal_violation_pareto", {2, 2}, 0.5, {1, 3}, 0.5, false, false},
        DominanceCase{"equal_violation_dominated", {2, 4}, 0.5, {1, 3}, 0.5, false, true},
        // An unmeasurable violation (normalized to +inf) loses to any finite one.
        DominanceCase{"infinite_violation", {0, 0}, kInf, {9, 9}, 1e300, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConstrainedDominance, NormalizedViolation) {
    EXPECT_EQ(bits(normalized_violation(-0.0)), bits(0.0));
    EXPECT_EQ(normalized_violation(-3.0), 0.0);
    EXPECT_EQ(normalized_violation(2.5), 2.5);
    EXPECT_EQ(normalized_violation(kNaN), kInf);
    EXPECT_EQ(normalized_violation(kInf), kInf);
}

std::vector<std::vector<double>> objectives_of(const ConstrainedArchive& archive) {
    std::vector<std::vector<double>> out;
    for (const ArchiveMember& m : archive.archive().members()) out.push_back(m.objectives);
    return out;
}

TEST(ConstrainedArchive, KeepsTheLeastViolatingUntilAFeasiblePointArrives) {
    ConstrainedArchive archive(ArchiveStrategy::crowding(), 10);
    archive.insert(V{0.0}, V{1, 1}, 2.0);
    archive.insert(V{0.1}, V{0, 0}, 3.0);  // more violation: refused
    EXPECT_EQ(objectives_of(archive), (std::vector<std::vector<double>>{{1, 1}}));
    archive.insert(V{0.2}, V{0, 2}, 2.0);  // same violation: Pareto
    archive.insert(V{0.3}, V{2, 2}, 2.0);  // dominated at that violation
    EXPECT_EQ(objectives_of(archive), (std::vector<std::vector<double>>{{1, 1}, {0, 2}}));
    EXPECT_EQ(archive.violation(), 2.0);
    archive.insert(V{0.4}, V{5, 5}, 1.0);  // less violation: starts afresh
    EXPECT_EQ(objectives_of(archive), (std::vector<std::vector<double>>{{5, 5}}));
    archive.insert(V{0.5}, V{9, 9}, 0.0);  // the first feasible point
    archive.insert(V{0.6}, V{8, 10}, 0.0);
    archive.insert(V{0.7}, V{0, 0}, 1e-9);  // never again an infeasible one
    EXPECT_EQ(objectives_of(archive), (std::vector<std::vector<double>>{{9, 9}, {8, 10}}));
    EXPECT_EQ(archive.violation(), 0.0);
    EXPECT_EQ(archive.archive().members()[1].position, V{0.6});
}

TEST(ConstrainedArchive, WithoutViolationsMatchesThePlainArchive) {
    ConstrainedArchive constrained(ArchiveStrategy::grid(3), 4);
    Archive plain(ArchiveStrategy::grid(3), 4);
    auto gen = RandomSource::seed_from_u64(5);
    for (int i = 0; i < 200; ++i) {
        const std::vector<double> f{uniform01(gen), uniform01(gen)};
        const std::vector<double> x{static_cast<double>(i)};
        constrained.insert(x, f, 0.0);
        plain.insert(x, f);
        if (i % 17 == 0) {
            EXPECT_EQ(constrained.archive().prune_and_scores(), plain.prune_and_scores());
        }
    }
    ASSERT_EQ(constrained.archive().members().size(), plain.members().size());
    for (std::size_t i = 0; i < plain.members().size(); ++i) {
        EXPECT_EQ(constrained.archive().members()[i].position, plain.members()[i].position);
        EXPECT_EQ(constrained.archive().members()[i].objectives, plain.members()[i].objectives);
    }
}

TEST(Archive, ClearEmptiesAndTheArchiveWorksAfterwards) {
    Archive archive(ArchiveStrategy::crowding(), 3);
    for (double a : {0.0, 1.0, 2.0, 3.0}) archive.insert(V{a}, V{a, 3.0 - a});
    archive.clear();
    EXPECT_TRUE(archive.members().empty());
    for (double a : {3.0, 2.0, 1.0, 0.0, 1.5}) archive.insert(V{a}, V{a, 3.0 - a});
    archive.insert(V{9.0}, V{2.0, 2.0});  // dominated by (1.5, 1.5)
    EXPECT_EQ(archive.members().size(), 5u);
    EXPECT_EQ(archive.prune_and_scores().size(), 3u);
    EXPECT_EQ(archive.members().front().objectives, (V{3.0, 0.0}));
}

}  // namespace
}  // namespace kestrelopt
