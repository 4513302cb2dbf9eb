// The speed-constrained move (MopsoVariant::Smpso) and its crossover variant against a plain
// model of one step, and the hypervolume archive's measures (contributions, Das-Dennis
// directions) and pruning against independent computations with the exact hypervolume.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "kestrelopt/mopso/archive.hpp"
#include "kestrelopt/mopso/contributions.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/mopso/smpso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/velocity/inertia.hpp"

namespace kestrelopt {
namespace {

class ConstrictionTest : public ::testing::TestWithParam<double> {};

TEST_P(ConstrictionTest, MatchesClercsFactor) {
    const double phi = GetParam();
    const double chi = smpso_constriction(phi);
    if (phi <= 4.0) {
        EXPECT_EQ(chi, 1.0);
        return;
    }
    // The closed form rationalized the other way round, and its sign.
    const double expected = -2.0 / (phi - 2.0 + std::sqrt(phi * (phi - 4.0)));
    EXPECT_NEAR(chi, expected, 1e-12);  // both lose digits to cancellation near phi = 4
    EXPECT_LT(chi, 0.0);
    EXPECT_GT(chi, -1.0);
}

INSTANTIATE_TEST_SUITE_P(Phis, ConstrictionTest,
                         ::testing::Values(3.0, 4.0, 4.0000001, 4.1, 4.5, 5.0));

TEST(PolynomialMutation, StaysInTheBoxAndMovesTheWayTheDrawSays) {
    const double low = -5.0;
    const double high = 5.0;
    for (const double value : {-5.0, -4.9, -1.0, 0.0, 2.5, 4.99, 5.0}) {
        double previous = low;
        for (int k = 0; k <= 100; ++k) {
            const double u = std::min(k / 100.0, 0.9999999);
            const double mutated = polynomial_mutation(value, low, high, u);
            EXPECT_GE(mutated, low);
            EXPECT_LE(mutated, high);
            // Larger draws never move it lower; below 0.5 it falls, from 0.5 on it rises.
            EXPECT_GE(mutated, previous);
            if (u < 0.5) {
                EXPECT_LE(mutated, value);
            } else {
                EXPECT_GE(mutated, value);
            }
            previous = mutated;
        }
    }
    EXPECT_EQ(polynomial_mutation(0.3, 0.3, 0.3, 0.1), 0.3);  // a fixed dimension
    // Deb's formula at a point in the middle: delta_q = (2u)^(1/21) - 1 when the bound is
    // far (the (1 - delta)^21 term vanishes only approximately, hence the tolerance).
    EXPECT_NEAR(polynomial_mutation(0.0, -5.0, 5.0, 0.25), 10.0 * (std::pow(0.5, 1.0 / 21.0) - 1.0),
                1e-6);
}

// One smpso move of particle 0 replayed with the same generator: the draws, their order and
// the arithmetic of the velocity, the bounds and the mutation.
TEST(SmpsoMove, FollowsThePlainModel) {
    MopsoConfig config;
    config.variant = MopsoVariant::Smpso;
    config.n_particles = 7;
    config.seed = 11;
    const std::vector<Bound> bounds{{0.0, 1.0}, {-5.0, 5.0}, {-5.0, 5.0}, {2.0, 2.0}};
    const ContinuousSpace space(bounds);
    const InertiaVelocity rule(0.4, 1.5, 1.5);
    for (std::size_t particle : {0u, 1u, 6u}) {
        MopsoRun<ContinuousSpace> run(config, space, rule);
        run.pbest = run.x;
        run.v[particle] = {0.3, -4.0, 6.0, 0.0};
        run.x[particle] = {0.9, -4.5, 4.0, 2.0};
        run.pbest[particle] = {0.1, 4.0, 3.0, 2.0};
        const std::vector<double> guide{0.5, -5.0, 5.0, 2.0};
        std::vector<double> x = run.x[particle];
        std::vector<double> v = run.v[particle];
        RandomSource gen = run.gen;

        const double r1 = uniform01(gen);
        const double r2 = uniform01(gen);
        const double c1 = 1.5 + uniform01(gen);
        const double c2 = 1.5 + uniform01(gen);
        const double w = 0.1 + 0.4 * uniform01(gen);
        const double phi = c1 + c2;
        const double chi = phi > 4 ? 2.0 / (2.0 - phi - std::sqrt(phi * phi - 4.0 * phi)) : 1.0;
        for (std::size_t d = 0; d < 4; ++d) {
            const double half = (bounds[d].second - bounds[d].first) / 2.0;
            double speed = chi * (w * v[d] + c1 * r1 * (run.pbest[particle][d] - x[d]) +
                                  c2 * r2 * (guide[d] - x[d]));
            speed = std::clamp(speed, -half, half);
            x[d] += speed;
            v[d] = speed;
            if (x[d] < bounds[d].first || x[d] > bounds[d].second) {
                x[d] = std::clamp(x[d], bounds[d].first, bounds[d].second);
                v[d] = -speed;
            }
        }
        if (particle % 6 == 0)
            for (std::size_t d = 0; d < 4; ++d)
                if (uniform01(gen) < 0.25)
                    x[d] = polynomial_mutation(x[d], bounds[d].first, bounds[d].second,
                                               uniform01(gen));

        run.smpso_move(particle, guide);
        EXPECT_EQ(run.x[particle], x) << "particle " << particle;
        EXPECT_EQ(run.v[particle], v) << "particle " << particle;
        EXPECT_EQ(uniform01(run.gen), uniform01(gen)) << "the same number of draws";
    }
}

// The crossover variant: an odd particle becomes the plain model's child of two leaders; an
// even one, or any particle while fewer than two leaders exist, moves exactly as smpso moves.
struct CrossoverCase {
    std::size_t particle;
    std::size_t leaders;
    bool child;
};

class CrossoverMoveTest : public ::testing::TestWithParam<CrossoverCase> {};

TEST_P(CrossoverMoveTest, FollowsThePlainModelOrSmpso) {
    const CrossoverCase k = GetParam();
    const std::vector<Bound> bounds{{0.0, 1.0}, {-5.0, 5.0}, {-5.0, 5.0}, {2.0, 2.0}, {0.0, 9.0}};
    const ContinuousSpace space(bounds);
    const InertiaVelocity rule(0.4, 1.5, 1.5);
    const std::vector<std::vector<double>> all_leaders{
        {0.5, -5.0, 5.0, 2.0, 1.0}, {0.25, 1.0, -2.0, 2.0, 8.0}, {1.0, 3.0, 0.5, 2.0, 4.5}};
    // The run keeps a reference to its config.
    MopsoConfig crossover_config, smpso_config;
    crossover_config.variant = MopsoVariant::SmpsoCrossover;
    smpso_config.variant = MopsoVariant::Smpso;
    for (MopsoConfig* config : {&crossover_config, &smpso_config}) {
        config->n_particles = 7;
        config->seed = 21;
    }
    auto prepare = [&](MopsoRun<ContinuousSpace>& run) {
        run.pbest = run.x;
        run.leaders.assign(all_leaders.begin(), all_leaders.begin() + k.leaders);
        run.scores.assign(k.leaders, 1.0);
    };
    MopsoRun<ContinuousSpace> run(crossover_config, space, rule);
    prepare(run);
    const std::vector<double> v = run.v[k.particle];
    if (k.child) {
        RandomSource gen = run.gen;
        const std::vector<double>& first = all_leaders[index_below(gen, k.leaders)];
        const std::vector<double>& second = all_leaders[index_below(gen, k.leaders)];
        ASSERT_NE(&first, &second) << "two different parents, so the test sees the mixing";
        std::vector<double> x(5);
        for (std::size_t d = 0; d < 5; ++d) x[d] = uniform01(gen) < 0.5 ? second[d] : first[d];
        for (std::size_t d = 0; d < 5; ++d)
            if (uniform01(gen) < 0.2)
                x[d] = polynomial_mutation(x[d], bounds[d].first, bounds[d].second, uniform01(gen));
        run.move(k.particle, 3);
        EXPECT_EQ(run.x[k.particle], x);
        EXPECT_EQ(run.v[k.particle], v) << "the velocity is left as it is";
        EXPECT_EQ(uniform01(run.gen), uniform01(gen)) << "the same number of draws";
    } else {
        MopsoRun<ContinuousSpace> smpso(smpso_config, space, rule);
        prepare(smpso);
        run.move(k.particle, 3);
        smpso.move(k.particle, 3);
        EXPECT_EQ(run.x[k.particle], smpso.x[k.particle]);
        EXPECT_EQ(run.v[k.particle], smpso.v[k.particle]);
        EXPECT_NE(run.v[k.particle], v) << "a velocity move";
        EXPECT_EQ(uniform01(run.gen), uniform01(smpso.gen));
    }
}

INSTANTIATE_TEST_SUITE_P(Particles, CrossoverMoveTest,
                         ::testing::Values(CrossoverCase{1, 3, true}, CrossoverCase{5, 2, true},
                                           CrossoverCase{0, 3, false}, CrossoverCase{6, 3, false},
                                           CrossoverCase{1, 1, false}, CrossoverCase{3, 0, false}));

// Random mutually non-dominated points on a concave front, in m objectives.
std::vector<std::vector<double>> front_points(std::size_t n, std::size_t m, std::uint64_t seed) {
    RandomSource gen = RandomSource::seed_from_u64(seed);
    std::vector<std::vector<double>> points;
    while (points.size() < n) {
        std::vector<double> p(m);
        double norm = 0.0;
        for (double& value : p) {
            value = uniform01(gen) + 1e-3;
            norm += value * value;
        }
        for (double& value : p) value /= std::sqrt(norm);
        points.push_back(p);
    }
    return points;
}

class ContributionsTest : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(ContributionsTest, AreTheHypervolumeLostWithoutThePoint) {
    const auto [m, n] = GetParam();
    const std::vector<std::vector<double>> points = front_points(n, m, 5 + n);
    std::vector<ObjectiveView> views(points.begin(), points.end());
    const std::vector<double> reference(m, 1.2);
    ContributionWork work;
    std::vector<double> contributions;
    hypervolume_contributions(views, reference, work, contributions);
    ASSERT_EQ(contributions.size(), n);
    const double whole = hypervolume(std::span<const std::vector<double>>(points), reference);
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::vector<double>> others = points;
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
        const double expected = whole - hypervolume(others, reference);
        EXPECT_NEAR(contributions[i], expected, 1e-12) << "point " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, ContributionsTest,
                         ::testing::Values(std::tuple<std::size_t, std::size_t>{2, 1},
                                           std::tuple<std::size_t, std::size_t>{2, 40},
                                           std::tuple<std::size_t, std::size_t>{3, 1},
                                           std::tuple<std::size_t, std::size_t>{3, 2},
                                           std::tuple<std::size_t, std::size_t>{3, 60}));

TEST(DasDennis, CountsAndRowsOnTheSimplex) {
    struct Case {
        std::size_t m, h, count;
    } cases[] = {{2, 99, 100}, {3, 12, 91}, {5, 6, 210}, {8, 3, 120}, {3, 1, 3}};
    for (const Case& c : cases) {
        const std::vector<double> rows = das_dennis(c.m, c.h);
        ASSERT_EQ(rows.size(), c.count * c.m);
        for (std::size_t r = 0; r < c.count; ++r) {
            double sum = 0.0;
            for (std::size_t k = 0; k < c.m; ++k) sum += rows[r * c.m + k];
            EXPECT_NEAR(sum, 1.0, 1e-12);
        }
    }
    EXPECT_EQ(das_dennis_divisions(3, 100), 13u);  // 91 < 100 <= 105
    EXPECT_EQ(das_dennis_divisions(5, 100), 5u);   // 70 < 100 <= 126
    EXPECT_EQ(das_dennis_divisions(8, 100), 3u);   // 36 < 100 <= 120
    EXPECT_EQ(das_dennis_divisions(5, 1), 1u);
}

// The weighted Tchebycheff value against its definition written out: normalized objectives
// over direction components, a component of 0 counting as 1e-6, a value below the ideal as 0.
TEST(Tchebycheff, IsTheLargestNormalizedObjectiveOverItsWeight) {
    const std::vector<double> ideal{0.0, 1.0, -2.0};
    const std::vector<double> nadir{2.0, 1.0, 2.0};  // a spread of 0 counts as 1
    const double third = 1.0 / std::sqrt(3.0);
    struct Case {
        std::vector<double> f, unit;
        double expected;
    } cases[] = {
        {{1.0, 1.5, 0.0}, {third, third, third}, 0.5 / third},  // objective 2: (1.5 - 1) / 1
        {{1.0, 1.0, 2.0}, {third, third, third}, 1.0 / third},  // objective 3: 4 / 4
        {{1.0, 1.0, -2.0}, {1.0, 0.0, 0.0}, 0.5},               // the others exactly at the ideal
        {{1.0, 1.25, -2.0}, {1.0, 0.0, 0.0}, 0.25 / 1e-6},      // off a boundary direction
        {{-1.0, 0.0, -3.0}, {third, third, third}, 0.0},        // below the ideal everywhere
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(tchebycheff(c.f, c.unit, ideal, nadir), c.expected);
}

class PruneByContributions : public ::testing::TestWithParam<ArchiveStrategy> {};

// The archive's pruning against greedy removal by brute force: each step drops the member
// whose removal loses the least hypervolume against the reference of the members left. The
// decomposition strategy prunes so too with two and three objectives.
TEST_P(PruneByContributions, DropsTheLeastContributorEachTime) {
    for (const std::size_t m : {2u, 3u}) {
        const std::vector<std::vector<double>> points = front_points(30, m, 17 * m);
        Archive archive(GetParam(), 12);
        for (std::size_t i = 0; i < points.size(); ++i)
            archive.insert(std::vector<double>{static_cast<double>(i)}, points[i]);
        ASSERT_EQ(archive.members().size(), points.size());

        std::vector<std::vector<double>> model = points;
        while (model.size() > 12) {
            std::vector<double> reference = nadir_reference(model);
            const double whole = hypervolume(model, reference);
            std::size_t worst = 0;
            double least = 0.0;
            for (std::size_t i = 0; i < model.size(); ++i) {
                std::vector<std::vector<double>> others = model;
                others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
                const double loss = whole - hypervolume(others, reference);
                if (i == 0 || loss <= least) {
                    worst = i;
                    least = loss;
                }
            }
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(worst));
        }
        const std::vector<double>& scores = archive.prune_and_scores();
        ASSERT_EQ(archive.members().size(), model.size()) << m << " objectives";
        for (std::size_t i = 0; i < model.size(); ++i) {
            EXPECT_EQ(archive.members()[i].objectives, model[i]) << m << " objectives";
            EXPECT_GT(scores[i], 0.0);
        }
        EXPECT_FALSE(archive.by_directions());
    }
}

INSTANTIATE_TEST_SUITE_P(Strategies, PruneByContributions,
                         ::testing::Values(ArchiveStrategy::hypervolume(),
                                           ArchiveStrategy::decomposition()),
                         [](const ::testing::TestParamInfo<ArchiveStrategy>& info) {
                             return info.param.kind == ArchiveStrategy::Kind::Hypervolume
                                        ? "Hypervolume"
                                        : "Decomposition";
                         });

// Four objectives, room for four members, so one direction per axis. Two members share the
// first axis: A far out exactly on it, B nearer the ideal but off it. Normalized by the
// members' bounds (ideal 0, nadir (1.6, 1, 1, 1), which are the extreme points' too), A = (1, 0, 0,
// 0) has d1 = 1, d2 = 0 and B = (0.625, 0.15, 0, 0) has d1 = 0.625, d2 = 0.15: the penalty d1 + 5
// d2 keeps A (1 < 1.375), d1 + d2 keeps B (0.775 < 1).
TEST(DirectionArchives, WeighTheDistanceFromADirectionAsTheirThetaSays) {
    const std::vector<double> far{1.6, 0.0, 0.0, 0.0};
    const std::vector<double> near{1.0, 0.15, 0.0, 0.0};
    const std::vector<std::vector<double>> points{
        far, near, {0.0, 1.0, 0.0, 0.0}, {0.0, 0.0, 1.0, 0.0}, {0.0, 0.0, 0.0, 1.0}};
    for (const ArchiveStrategy strategy :
         {ArchiveStrategy::hypervolume(), ArchiveStrategy::decomposition()}) {
        Archive archive(strategy, 4);
        for (std::size_t i = 0; i < points.size(); ++i)
            archive.insert(std::vector<double>{static_cast<double>(i)}, points[i]);
        ASSERT_EQ(archive.members().size(), 5u);
        archive.prune_and_scores();
        ASSERT_TRUE(archive.by_directions());
        ASSERT_EQ(archive.members().size(), 4u);
        const std::vector<double>& kept = archive.members()[0].objectives;
        EXPECT_EQ(kept, strategy.kind == ArchiveStrategy::Kind::Hypervolume ? far : near);
        for (std::size_t i = 1; i < 4; ++i)
            EXPECT_EQ(archive.members()[i].objectives, points[i + 1]);
    }
}

TEST(HypervolumeArchive, GoesByDirectionsAboveThreeObjectives) {
    const std::vector<std::vector<double>> points = front_points(80, 5, 23);
    Archive archive(ArchiveStrategy::hypervolume(), 20);
    for (std::size_t i = 0; i < points.size(); ++i)
        archive.insert(std::vector<double>{static_cast<double>(i)}, points[i]);
    const std::vector<double> scores = archive.prune_and_scores();
    ASSERT_EQ(archive.members().size(), 20u);
    EXPECT_TRUE(archive.by_directions());
    EXPECT_EQ(archive.directions().size(), 5u * 35u);  // 3 divisions: 15 < 20 <= 35
    // Scores are 1 / members of the direction, so their inverses count each direction's
    // members: summed over the members of a direction, 1 each.
    double total = 0.0;
    for (const double score : scores) {
        EXPECT_GT(score, 0.0);
        EXPECT_LE(score, 1.0);
        total += score;
    }
    EXPECT_GE(total, 1.0);
    EXPECT_LE(total, 20.0);
    // The members kept are among the points offered, in their order.
    std::size_t next = 0;
    for (const ArchiveMember& member : archive.members()) {
        const auto at = static_cast<std::size_t>(member.position[0]);
        EXPECT_GE(at, next);
        EXPECT_EQ(member.objectives, points[at]);
        next = at + 1;
    }
}

// A far member no other dominates (F: its second objective is the least) stretches the
// members' worst first objective to 2; the extreme points, each the member nearest an axis,
// are the four others, whose worst values are 1 everywhere.
TEST(DirectionArchives, DecompositionTakesTheNadirFromTheExtremePoints) {
    const std::vector<std::vector<double>> points{{1.0, 0.1, 0.1, 0.1},
                                                  {0.1, 1.0, 0.1, 0.1},
                                                  {0.1, 0.1, 1.0, 0.1},
                                                  {0.1, 0.1, 0.1, 1.0},
                                                  {2.0, 0.05, 0.6, 0.6}};
    for (const ArchiveStrategy strategy :
         {ArchiveStrategy::hypervolume(), ArchiveStrategy::decomposition()}) {
        Archive archive(strategy, 5);
        for (std::size_t i = 0; i < points.size(); ++i)
            archive.insert(std::vector<double>{static_cast<double>(i)}, points[i]);
        archive.prune_and_scores();
        ASSERT_TRUE(archive.by_directions());
        ASSERT_EQ(archive.members().size(), 5u);
        EXPECT_EQ(archive.ideal(), (std::vector<double>{0.1, 0.05, 0.1, 0.1}));
        const double first = strategy.kind == ArchiveStrategy::Kind::Hypervolume ? 2.0 : 1.0;
        EXPECT_EQ(archive.nadir(), (std::vector<double>{first, 1.0, 1.0, 1.0}));
    }
}

}  // namespace
}  // namespace kestrelopt
