#include "kestrelopt/mopso/archive.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "count_allocations.hpp"
#include "kestrelopt/failure.hpp"
#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// Fills an archive; the position of member i is {i} so that the tests can follow it.
Archive filled(ArchiveStrategy strategy, std::size_t capacity, const PointSet& objectives) {
    Archive archive(strategy, capacity);
    for (std::size_t i = 0; i < objectives.size(); ++i)
        archive.insert(std::vector<double>{static_cast<double>(i)}, objectives[i]);
    return archive;
}

PointSet objectives_of(const Archive& archive) {
    PointSet out;
    for (const ArchiveMember& m : archive.members()) out.push_back(m.objectives);
    return out;
}

std::string strategy_name(const ::testing::TestParamInfo<ArchiveStrategy>& info) {
    if (info.param.kind == ArchiveStrategy::Kind::Crowding) return "Crowding";
    return "Grid" + std::to_string(info.param.divisions);
}

std::vector<double> positions_of(const Archive& archive) {
    std::vector<double> out;
    for (const ArchiveMember& m : archive.members()) out.push_back(m.position.at(0));
    return out;
}

// ---- construction and insert -------------------------------------------------------------

TEST(Archive, ZeroCapacityStops) {
    try {
        Archive archive(ArchiveStrategy::crowding(), 0);
        FAIL() << "no failure";
    } catch (const InternalFailure& failure) {
        EXPECT_STREQ(failure.what(), "the archive capacity must be >= 1");
    }
}

TEST(Archive, StartsEmptyWithItsConfiguration) {
    const Archive archive(ArchiveStrategy::grid(5), 7);
    EXPECT_TRUE(archive.members().empty());
    EXPECT_EQ(archive.capacity(), 7u);
    EXPECT_EQ(archive.strategy().kind, ArchiveStrategy::Kind::Grid);
    EXPECT_EQ(archive.strategy().divisions, 5u);
}

TEST(ArchiveInsert, CopiesPositionAndObjectives) {
    Archive archive(ArchiveStrategy::crowding(), 3);
    std::vector<double> position{0.5, -1.5};
    std::vector<double> objectives{1, 2};
    archive.insert(position, objectives);
    position[0] = 9;
    objectives[0] = 9;
    ASSERT_EQ(archive.members().size(), 1u);
    EXPECT_EQ(archive.members()[0].position, (std::vector<double>{0.5, -1.5}));
    EXPECT_EQ(archive.members()[0].objectives, (std::vector<double>{1, 2}));
}

TEST(ArchiveInsert, EqualObjectivesLeaveTheArchiveUnchangedWhateverThePosition) {
    Archive archive = filled(ArchiveStrategy::crowding(), 5, {{1, 2}, {2, 1}});
    archive.insert(std::vector<double>{42}, std::vector<double>{2, 1});
    archive.insert(std::vector<double>{43}, std::vector<double>{-0.0, 3});
    archive.insert(std::vector<double>{44}, std::vector<double>{0.0, 3});
    EXPECT_EQ(objectives_of(archive), (PointSet{{1, 2}, {2, 1}, {-0.0, 3}}));
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 1, 43}));
}

TEST(ArchiveInsert, RemovesDominatedMembersAndAppendsKeepingOrder) {
    Archive archive = filled(ArchiveStrategy::crowding(), 5, {{0.5, 3}, {2, 2}, {3, 1.5}});
    archive.insert(std::vector<double>{9}, std::vector<double>{1.5, 1.8});
    EXPECT_EQ(objectives_of(archive), (PointSet{{0.5, 3}, {3, 1.5}, {1.5, 1.8}}));
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 2, 9}));
}

TEST(ArchiveInsert, RemovesSeveralDominatedMembers) {
    Archive archive = filled(ArchiveStrategy::crowding(), 9, {{1, 4}, {2, 3}, {3, 2}, {4, 1}});
    archive.insert(std::vector<double>{9}, std::vector<double>{1, 2});
    EXPECT_EQ(objectives_of(archive), (PointSet{{4, 1}, {1, 2}}));
    EXPECT_EQ(positions_of(archive), (std::vector<double>{3, 9}));
}

TEST(ArchiveInsert, DominatedCandidateChangesNothingEvenIfItDominatesOthers) {
    // NaN makes dominance intransitive: [1, 4] dominates [NaN, 5] but is dominated by
    // [0, NaN]. The member it dominates comes first and must survive.
    Archive archive = filled(ArchiveStrategy::crowding(), 5, {{kNaN, 5}, {0, kNaN}});
    ASSERT_EQ(archive.members().size(), 2u);
    archive.insert(std::vector<double>{9}, std::vector<double>{1, 4});
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 1}));
}

TEST(ArchiveInsert, CandidateWithNaNIsNeverADuplicate) {
    Archive archive = filled(ArchiveStrategy::crowding(), 5, {{kNaN, 1}});
    archive.insert(std::vector<double>{1}, std::vector<double>{kNaN, 1});
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 1}));
    archive.insert(std::vector<double>{2}, std::vector<double>{kNaN, 0.5});  // dominates both
    EXPECT_EQ(positions_of(archive), (std::vector<double>{2}));
}

TEST(ArchiveInsert, DominanceUsesTheCommonPrefix) {
    Archive archive = filled(ArchiveStrategy::crowding(), 5, {{2, 0, 0}});
    archive.insert(std::vector<double>{1}, std::vector<double>{1});
    EXPECT_EQ(objectives_of(archive), (PointSet{{1}}));
    archive.insert(std::vector<double>{2}, std::vector<double>{});  // dominates nothing
    EXPECT_EQ(objectives_of(archive), (PointSet{{1}, {}}));
    archive.insert(std::vector<double>{3}, std::vector<double>{});  // equal to the empty member
    EXPECT_EQ(positions_of(archive), (std::vector<double>{1, 2}));
}

TEST(ArchiveInsert, NeverPrunes) {
    Archive archive = filled(ArchiveStrategy::crowding(), 1, {{0, 3}, {1, 2}, {2, 1}});
    EXPECT_EQ(archive.members().size(), 3u);
}

// ---- prune_and_scores: crowding ----------------------------------------------------------

TEST(ArchiveCrowding, CapacityOneKeepsTheFirstBoundaryMember) {
    Archive archive = filled(ArchiveStrategy::crowding(), 1, {{0, 2}, {1, 1}, {2, 0}});
    const std::vector<double>& scores = archive.prune_and_scores();
    EXPECT_EQ(objectives_of(archive), (PointSet{{0, 2}}));
    EXPECT_EQ(scores, (std::vector<double>{kInf}));
}

TEST(ArchiveCrowding, CapacityTwoKeepsTheBoundaryMembersInArchiveOrder) {
    Archive archive = filled(ArchiveStrategy::crowding(), 2, {{0, 4}, {1, 3}, {2, 2}, {4, 0}});
    const std::vector<double> scores = archive.prune_and_scores();
    EXPECT_EQ(objectives_of(archive), (PointSet{{0, 4}, {4, 0}}));
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 3}));
    EXPECT_EQ(scores, (std::vector<double>{kInf, kInf}));
}

TEST(ArchiveCrowding, PrunesInOneStepFromTheDistancesOfTheWholeArchive) {
    // Distances 9, 5 and 11 for the inner members: one step drops the two smallest. Removing
    // one at a time would drop 5 first, then [6.5, 3.5] (12 against 13).
    Archive archive =
        filled(ArchiveStrategy::crowding(), 3, {{0, 10}, {4, 6}, {4.5, 5.5}, {6.5, 3.5}, {10, 0}});
    const std::vector<double> scores = archive.prune_and_scores();
    EXPECT_EQ(objectives_of(archive), (PointSet{{0, 10}, {6.5, 3.5}, {10, 0}}));
    // Scores of the new set, computed afresh.
    EXPECT_EQ(scores, (std::vector<double>{kInf, 1.0 + 1.0, kInf}));
}

TEST(ArchiveCrowding, OlderMembersWinTies) {
    // The inner members all have distance 1; the first two of them stay.
    Archive archive =
        filled(ArchiveStrategy::crowding(), 4, {{0, 5}, {1, 4}, {2, 3}, {3, 2}, {4, 1}, {5, 0}});
    archive.prune_and_scores();
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 1, 2, 5}));
}

TEST(ArchiveCrowding, NaNDistancesArePrunedFirst) {
    // The last objective is infinite for one member, so that objective's range is +inf and
    // the first member, a boundary elsewhere, adds (inf - 2) / inf = NaN: its distance is
    // NaN, below every number, although it is a boundary member of the first objective.
    Archive archive =
        filled(ArchiveStrategy::crowding(), 3, {{0, 0, 3}, {1, -1, 2}, {2, -2, 1}, {3, -3, kInf}});
    archive.prune_and_scores();
    EXPECT_EQ(positions_of(archive), (std::vector<double>{1, 2, 3}));
}

TEST(ArchiveCrowding, WithinCapacityScoresAreTheDistances) {
    Archive archive = filled(ArchiveStrategy::crowding(), 4, {{0, 4}, {1, 3}, {2, 2}, {4, 0}});
    EXPECT_EQ(archive.prune_and_scores(), (std::vector<double>{kInf, 1.0, 1.5, kInf}));
    EXPECT_EQ(archive.members().size(), 4u);
}

// ---- prune_and_scores: grid --------------------------------------------------------------

TEST(ArchiveGrid, RemovesTheLastMemberOfTheFullestCell) {
    Archive archive = filled(ArchiveStrategy::grid(2), 2, {{0, 1}, {0.1, 0.9}, {1, 0}});
    const std::vector<double> scores = archive.prune_and_scores();
    EXPECT_EQ(objectives_of(archive), (PointSet{{0, 1}, {1, 0}}));
    EXPECT_EQ(scores, (std::vector<double>{1.0, 1.0}));
}

TEST(ArchiveGrid, RecomputesTheBoxAfterEveryRemoval) {
    // Points on x + y = 1 at x = 0, 0.3, 0.45, 0.55, 1. The first passes remove 0.45 and
    // then 1; the box then shrinks to [0, 0.55], which moves 0.3 into the upper cell.
    const PointSet points{{0, 1}, {0.3, 0.7}, {0.45, 0.55}, {0.55, 0.45}, {1, 0}};
    Archive three = filled(ArchiveStrategy::grid(2), 3, points);
    EXPECT_EQ(three.prune_and_scores(), (std::vector<double>{1.0, 0.5, 0.5}));
    EXPECT_EQ(positions_of(three), (std::vector<double>{0, 1, 3}));
    // With a box kept from the first pass, 0.3 would share cell 0 and be removed instead.
    Archive two = filled(ArchiveStrategy::grid(2), 2, points);
    EXPECT_EQ(two.prune_and_scores(), (std::vector<double>{1.0, 1.0}));
    EXPECT_EQ(positions_of(two), (std::vector<double>{0, 1}));
}

TEST(ArchiveGrid, ZeroDivisionsPutEveryMemberInOneCell) {
    Archive archive = filled(ArchiveStrategy::grid(0), 2, {{0, 3}, {1, 2}, {2, 1}, {3, 0}});
    EXPECT_EQ(archive.prune_and_scores(), (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 1}));
}

TEST(ArchiveGrid, WithinCapacityNothingIsRemoved) {
    Archive archive = filled(ArchiveStrategy::grid(2), 3, {{0, 1}, {0.1, 0.9}, {1, 0}});
    EXPECT_EQ(archive.prune_and_scores(), (std::vector<double>{0.5, 0.5, 1.0}));
    EXPECT_EQ(archive.members().size(), 3u);
}

TEST(ArchivePrune, EmptyArchiveGivesNoScores) {
    Archive crowding(ArchiveStrategy::crowding(), 2);
    EXPECT_TRUE(crowding.prune_and_scores().empty());
    Archive grid(ArchiveStrategy::grid(3), 2);
    EXPECT_TRUE(grid.prune_and_scores().empty());
}

TEST(ArchivePrune, ScoresStayUnchangedByLaterInsertions) {
    Archive archive = filled(ArchiveStrategy::crowding(), 3, {{0, 4}, {1, 3}, {4, 0}});
    const std::vector<double>& scores = archive.prune_and_scores();
    const std::vector<double> copy = scores;
    archive.insert(std::vector<double>{7}, std::vector<double>{2, 2});
    archive.insert(std::vector<double>{8}, std::vector<double>{0.5, 0.5});
    EXPECT_EQ(scores, copy);
}

// ---- objective vectors of different lengths ---------------------------------------------

// The first member has three objectives; [0] lacks two of them (they count as NaN), and
// [0, 3, 3, 9] has one more, which is never read.
const PointSet kRagged{{0, 5, 1}, {0}, {0, 4, 2}, {0, 3, 3, 9}};

TEST(ArchiveRagged, AllMembersAreMutuallyNonDominated) {
    const Archive archive = filled(ArchiveStrategy::crowding(), 2, kRagged);
    EXPECT_EQ(objectives_of(archive), kRagged);
}

TEST(ArchiveRagged, CrowdingTreatsMissingValuesAsNaN) {
    // Objectives 1 and 2 have NaN keys, so only their boundaries count: distances inf, inf,
    // 0, inf; the two oldest infinite ones stay.
    Archive archive = filled(ArchiveStrategy::crowding(), 2, kRagged);
    EXPECT_EQ(archive.prune_and_scores(), (std::vector<double>{kInf, kInf}));
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 1}));
}

TEST(ArchiveRagged, GridPutsMissingValuesInCellZero) {
    // Cells (0,1,0), (0,0,0), (0,1,1), (0,0,1): all alone, so the last member goes; then
    // (0,1,0), (0,0,0), (0,0,1) and the last goes again; the final box has no span.
    Archive archive = filled(ArchiveStrategy::grid(2), 2, kRagged);
    EXPECT_EQ(archive.prune_and_scores(), (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(positions_of(archive), (std::vector<double>{0, 1}));
}

// ---- steady state ------------------------------------------------------------------------

class ArchiveSteadyState : public ::testing::TestWithParam<ArchiveStrategy> {};

TEST_P(ArchiveSteadyState, InsertAndPruneAllocateNothingOnceWarm) {
    // Every iteration offers 16 points of a front that dominates the whole archive, so each
    // iteration replaces every member and prunes 16 down to 10.
    Archive archive(GetParam(), 10);
    std::array<double, 3> position{};
    std::array<double, 2> objectives{};
    auto iterate = [&](int t) {
        const double shift = static_cast<double>(t);
        archive.prune_and_scores();
        for (int j = 0; j < 16; ++j) {
            const double a = static_cast<double>(j) / 15.0;
            position = {a, shift, -a};
            objectives = {a - shift, (1.0 - a) * (1.0 - a) - shift};
            archive.insert(position, objectives);
        }
    };
    for (int t = 0; t < 3; ++t) iterate(t);
    std::size_t allocations = 0;
    {
        count_allocations::AllocationCount counter;
        for (int t = 3; t < 20; ++t) iterate(t);
        allocations = counter.value();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(archive.members().size(), 16u);
    EXPECT_EQ(archive.prune_and_scores().size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(Strategies, ArchiveSteadyState,
                         ::testing::Values(ArchiveStrategy::crowding(), ArchiveStrategy::grid(4)),
                         strategy_name);

// ---- against a plain model built from the allocating Pareto functions --------------------

struct Model {
    ArchiveStrategy strategy;
    std::size_t capacity;
    std::vector<ArchiveMember> members;

    void insert(const std::vector<double>& position, const std::vector<double>& c) {
        for (const ArchiveMember& m : members)
            if (dominates(m.objectives, c)) return;
        std::erase_if(members, [&](const ArchiveMember& m) { return dominates(c, m.objectives); });
        for (const ArchiveMember& m : members)
            if (same_objectives(m.objectives, c)) return;
        members.push_back({position, c});
    }

    PointSet objectives() const {
        PointSet out;
        for (const ArchiveMember& m : members) out.push_back(m.objectives);
        return out;
    }

    std::vector<double> prune_and_scores() {
        if (strategy.kind == ArchiveStrategy::Kind::Grid) {
            while (members.size() > capacity) {
                const std::vector<std::size_t> pop =
                    cell_populations(grid_cells(objectives(), strategy.divisions));
                const std::size_t top = *std::max_element(pop.begin(), pop.end());
                std::size_t last = 0;
                for (std::size_t i = 0; i < pop.size(); ++i)
                    if (pop[i] == top) last = i;
                members.erase(members.begin() + static_cast<std::ptrdiff_t>(last));
            }
            std::vector<double> scores;
            for (std::size_t p : cell_populations(grid_cells(objectives(), strategy.divisions)))
                scores.push_back(1.0 / static_cast<double>(p));
            return scores;
        }
        const std::vector<double> d = crowding_distance(objectives());
        if (members.size() <= capacity) return d;
        std::vector<std::size_t> order(members.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        // Largest first, NaN distances after all numbers, ties in index order.
        std::stable_sort(order.begin(), order.end(), [&d](std::size_t a, std::size_t b) {
            if (std::isnan(d[a]) || std::isnan(d[b])) return !std::isnan(d[a]) && std::isnan(d[b]);
            return d[a] > d[b];
        });
        order.resize(capacity);
        std::sort(order.begin(), order.end());
        std::vector<ArchiveMember> kept;
        for (std::size_t i : order) kept.push_back(members[i]);
        members = kept;
        return crowding_distance(objectives());
    }
};

struct ModelCase {
    ArchiveStrategy strategy;
    // Probability (in 1/64) of a special value (NaN, ±0, ±inf) and of an objective vector
    // one value shorter or longer than the others.
    std::uint64_t specials = 0;
    std::uint64_t ragged = 0;
};

class ArchiveModel : public ::testing::TestWithParam<ModelCase> {};

std::vector<double> offered_objectives(RandomSource& gen, std::size_t m, const ModelCase& c) {
    static constexpr std::array<double, 5> kSpecial{kNaN, 0.0, -0.0, kInf, -kInf};
    std::size_t length = m;
    if (index_below(gen, 64) < c.ragged) length = index_below(gen, 2) == 0 ? m - 1 : m + 1;
    // A coarse lattice gives duplicates, ties and equal distances.
    std::vector<double> objectives(length);
    for (double& v : objectives)
        v = index_below(gen, 64) < c.specials ? kSpecial[index_below(gen, kSpecial.size())]
                                              : static_cast<double>(index_below(gen, 9)) * 0.125;
    return objectives;
}

TEST_P(ArchiveModel, MatchesThePlainModelOverManyIterations) {
    const ModelCase& c = GetParam();
    auto gen = RandomSource::seed_from_u64(31 + c.strategy.divisions + 100 * c.specials + c.ragged);
    for (int run = 0; run < 20; ++run) {
        const std::size_t capacity = 1 + index_below(gen, 12);
        const std::size_t m = 1 + index_below(gen, 4);
        Archive archive(c.strategy, capacity);
        Model model{c.strategy, capacity, {}};
        for (int iteration = 0; iteration < 30; ++iteration) {
            expect_same_bits(archive.prune_and_scores(), model.prune_and_scores());
            for (int offer = 0; offer < 15; ++offer) {
                std::vector<double> position{
                    static_cast<double>(run * 1000 + iteration * 20 + offer)};
                const std::vector<double> objectives = offered_objectives(gen, m, c);
                archive.insert(position, objectives);
                model.insert(position, objectives);
            }
            ASSERT_EQ(archive.members().size(), model.members.size());
            for (std::size_t i = 0; i < model.members.size(); ++i) {
                ASSERT_EQ(archive.members()[i].position, model.members[i].position);
                expect_same_bits(archive.members()[i].objectives, model.members[i].objectives);
            }
            if (HasFailure()) return;
        }
    }
}

std::string model_case_name(const ::testing::TestParamInfo<ModelCase>& info) {
    const ModelCase& c = info.param;
    std::string name = c.strategy.kind == ArchiveStrategy::Kind::Crowding
                           ? "Crowding"
                           : "Grid" + std::to_string(c.strategy.divisions);
    if (c.specials > 0) name += "Specials";
    if (c.ragged > 0) name += "Ragged";
    return name;
}

INSTANTIATE_TEST_SUITE_P(Strategies, ArchiveModel,
                         ::testing::Values(ModelCase{ArchiveStrategy::crowding()},
                                           ModelCase{ArchiveStrategy::grid(0)},
                                           ModelCase{ArchiveStrategy::grid(3)},
                                           ModelCase{ArchiveStrategy::grid(8)},
                                           ModelCase{ArchiveStrategy::crowding(), 6, 0},
                                           ModelCase{ArchiveStrategy::grid(3), 6, 0},
                                           ModelCase{ArchiveStrategy::crowding(), 4, 3},
                                           ModelCase{ArchiveStrategy::grid(4), 4, 3}),
                         model_case_name);

}  // namespace
}  // namespace kestrelopt
