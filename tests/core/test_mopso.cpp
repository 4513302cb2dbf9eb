#include "kestrelopt/mopso/engine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/velocity/constriction.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "support.hpp"
#include "zdt1.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

MopsoConfig config_with(std::size_t n, std::size_t iters, std::uint64_t seed = 3) {
    MopsoConfig config;
    config.n_particles = n;
    config.max_iter = iters;
    config.archive_size = 10;
    config.seed = seed;
    return config;
}

std::vector<Bound> unit_box(std::size_t dims) {
    return std::vector<Bound>(dims, {0.0, 1.0});
}

Mopso<ContinuousSpace> engine(const MopsoConfig& config, std::vector<Bound> bounds = unit_box(4)) {
    return Mopso<ContinuousSpace>(config, ContinuousSpace(std::move(bounds)),
                                  std::make_unique<InertiaVelocity>(0.4, 1.5, 1.5));
}

template <class T>
void expect_same(const MopsoResult<T>& a, const MopsoResult<T>& b) {
    ASSERT_EQ(a.front.size(), b.front.size());
    for (std::size_t i = 0; i < a.front.size(); ++i) {
        EXPECT_EQ(a.front[i].position, b.front[i].position);
        EXPECT_EQ(a.front[i].objectives, b.front[i].objectives);
    }
    EXPECT_EQ(a.history.swarm_history, b.history.swarm_history);
    EXPECT_EQ(a.history.front_history, b.history.front_history);
}

// An independent transcription of the run for a continuous space under Clamp, written
// directly from the algorithm with its own loops, to check the engine bit for bit.
MopsoResult<double> reference_run(const MopsoConfig& c, const std::vector<Bound>& bounds,
                                  const Velocity& rule) {
    auto gen = RandomSource::seed_from_u64(*c.seed);
    const ContinuousSpace space(bounds);
    std::vector<std::vector<double>> x, v, pb, pf;
    for (std::size_t i = 0; i < c.n_particles; ++i) {
        x.push_back(space.sample(gen));
        v.push_back(space.sample_velocity(gen));
        std::vector<double> f;
        zdt1(x.back(), f);
        pb.push_back(x.back());
        pf.push_back(f);
    }
    Archive archive(c.strategy, c.archive_size);
    for (std::size_t i = 0; i < c.n_particles; ++i) archive.insert(x[i], pf[i]);
    MopsoResult<double> result;
    for (std::size_t t = 0; t < c.max_iter; ++t) {
        const std::vector<double> scores = archive.prune_and_scores();
        std::vector<std::vector<double>> leaders;
        std::vector<std::vector<double>> front;
        for (const auto& m : archive.members()) {
            leaders.push_back(m.position);
            front.push_back(m.objectives);
        }
        push_snapshot(result.history.swarm_history, x);
        push_snapshot(result.history.front_history, front);
        const double frac = 1.0 - static_cast<double>(t) / static_cast<double>(c.max_iter);
        for (std::size_t i = 0; i < c.n_particles; ++i) {
            const auto a = index_below(gen, leaders.size());
            const auto b = index_below(gen, leaders.size());
            const auto& leader = leaders[scores[a] >= scores[b] ? a : b];
            const auto u =
                rule.update(VelocityContext{x[i], v[i], pb[i], leader, {}, t, c.max_iter}, gen);
            for (std::size_t k = 0; k < u.size(); ++k) x[i][k] = x[i][k] + u[k];
            v[i] = u;
            for (std::size_t k = 0; k < u.size(); ++k)
                x[i][k] = std::min(bounds[k].second, std::max(bounds[k].first, x[i][k]));
            if (c.mutation_rate > 0 && uniform01(gen) < c.mutation_rate * frac) {
                const auto k = index_below(gen, bounds.size());
                const double half = ((bounds[k].second - bounds[k].first) * frac) * 0.5;
                if (half > 0) {
                    const double lower = std::max(x[i][k] - half, bounds[k].first);
                    const double upper = std::min(x[i][k] + half, bounds[k].second);
                    if (upper > lower) x[i][k] = uniform_in_inclusive(gen, lower, upper);
                }
            }
            std::vector<double> f;
            zdt1(x[i], f);
            const bool better = dominates(f, pf[i]);
            const bool worse = dominates(pf[i], f);
            if (better || (!worse && coin_flip(gen))) {
                pb[i] = x[i];
                pf[i] = f;
            }
            archive.insert(x[i], f);
        }
    }
    archive.prune_and_scores();
    for (const auto& m : archive.members()) result.front.push_back({m.position, m.objectives});
    return result;
}

struct ReferenceCase {
    ArchiveStrategy strategy;
    double mutation_rate;
    bool constriction;
};

class MopsoReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(MopsoReference, MatchesAPlainTranscriptionBitForBit) {
    MopsoConfig config = config_with(12, 30, 17);
    config.strategy = GetParam().strategy;
    config.mutation_rate = GetParam().mutation_rate;
    // One fixed dimension: turbulence that picks it finds no room and draws nothing more.
    std::vector<Bound> bounds{{0, 1}, {0, 1}, {0.5, 0.5}, {0, 1}, {0, 1}};
    std::unique_ptr<Velocity> rule;
    if (GetParam().constriction)
        rule = std::make_unique<ConstrictionVelocity>(2.05, 2.05);
    else
        rule = std::make_unique<InertiaVelocity>(0.4, 1.5, 1.5);
    const auto expected = reference_run(config, bounds, *rule);
    const Mopso<ContinuousSpace> mopso(config, ContinuousSpace(bounds), std::move(rule));
    expect_same(mopso.minimize(zdt1), expected);
}

INSTANTIATE_TEST_SUITE_P(Variants, MopsoReference,
                         ::testing::Values(ReferenceCase{ArchiveStrategy::crowding(), 0.5, false},
                                           ReferenceCase{ArchiveStrategy::crowding(), 0.0, false},
                                           ReferenceCase{ArchiveStrategy::grid(4), 0.5, false},
                                           ReferenceCase{ArchiveStrategy::grid(10), 0.1, true},
                                           ReferenceCase{ArchiveStrategy::crowding(), 1.0, true}));

TEST(Mopso, CallsTheObjectiveExactlyNTimesMaxIterPlusOne) {
    for (const std::size_t iters : {0u, 1u, 7u}) {
        std::size_t calls = 0;
        engine(config_with(9, iters))
            .minimize([&](std::span<const double> x, std::vector<double>& out) {
                ++calls;
                zdt1(x, out);
            });
        EXPECT_EQ(calls, 9 * (iters + 1));
    }
}

// Without an iteration limit the turbulence fades over the iterations the budget allows:
// the run is the one whose max_iter is that number, stop reason included.
TEST(Mopso, NoIterationLimitWithAScheduleFromTheBudgetIsTheEquivalentLimitedRun) {
    for (const std::size_t max_evals : {5u, 40u, 41u, 130u}) {
        MopsoConfig limited = config_with(10, iterations_within(max_evals, 10));
        limited.max_evals = max_evals;
        limited.mutation_rate = 0.5;
        MopsoConfig open = limited;
        open.max_iter = kNoIterationLimit;
        open.schedule_iter = limited.max_iter;
        const auto expected = engine(limited).minimize(zdt1);
        const auto got = engine(open).minimize(zdt1);
        expect_same(got, expected);
        EXPECT_EQ(got.stop_reason, StopReason::MaxEvaluations);
        EXPECT_EQ(got.evaluations, expected.evaluations);
    }
}

TEST(Mopso, ZeroIterationsGiveThePrunedInitialArchiveAndNoHistory) {
    MopsoConfig config = config_with(30, 0);
    config.archive_size = 3;
    const auto result = engine(config).minimize(zdt1);
    EXPECT_LE(result.front.size(), 3u);
    EXPECT_GE(result.front.size(), 1u);
    EXPECT_TRUE(result.history.swarm_history.empty());
    EXPECT_TRUE(result.history.front_history.empty());
    // Independently: the same initial swarm offered to an archive and pruned once.
    auto gen = RandomSource::seed_from_u64(3);
    const ContinuousSpace space(unit_box(4));
    Archive archive(config.strategy, 3);
    for (int i = 0; i < 30; ++i) {
        const auto x = space.sample(gen);
        space.sample_velocity(gen);
        std::vector<double> f;
        zdt1(x, f);
        archive.insert(x, f);
    }
    archive.prune_and_scores();
    ASSERT_EQ(archive.members().size(), result.front.size());
    for (std::size_t m = 0; m < result.front.size(); ++m) {
        EXPECT_EQ(result.front[m].position, archive.members()[m].position);
        EXPECT_EQ(result.front[m].objectives, archive.members()[m].objectives);
    }
}

TEST(Mopso, SeededRunsRepeatExactlyAndHistoriesHaveMaxIterEntries) {
    const auto mopso = engine(config_with(15, 12));
    const auto a = mopso.minimize(zdt1);
    expect_same(a, mopso.minimize(zdt1));
    ASSERT_EQ(a.history.swarm_history.size(), 12u);
    ASSERT_EQ(a.history.front_history.size(), 12u);
    auto gen = RandomSource::seed_from_u64(3);
    const ContinuousSpace space(unit_box(4));
    for (std::size_t i = 0; i < 15; ++i) {
        EXPECT_EQ(as_vector(a.history.swarm_history[0][i]), space.sample(gen));
        space.sample_velocity(gen);
    }
    for (const auto& member : a.front) EXPECT_EQ(member.objectives.size(), 2u);
}

TEST(Mopso, TinyMutationRateStillDrawsAndChangesTheStream) {
    MopsoConfig off = config_with(10, 10);
    off.mutation_rate = 0.0;
    MopsoConfig tiny = off;
    tiny.mutation_rate = 1e-300;
    const auto a = engine(off).minimize(zdt1);
    const auto b = engine(tiny).minimize(zdt1);
    EXPECT_EQ(a.history.swarm_history[0], b.history.swarm_history[0]);
    EXPECT_NE(a.history.swarm_history[1], b.history.swarm_history[1]);
}

TEST(Mopso, SingleArchiveMemberLeadsEveryone) {
    // Every point has the same objectives, so the archive keeps only the first one and
    // every comparison with a personal best is a coin flip.
    const auto result =
        engine(config_with(6, 5)).minimize([](std::span<const double>, std::vector<double>& out) {
            out.assign({1.0, 1.0});
        });
    ASSERT_EQ(result.front.size(), 1u);
    for (const auto& front : result.history.front_history) EXPECT_EQ(front.size(), 1u);
    EXPECT_EQ(result.front[0].position, as_vector(result.history.swarm_history[0][0]));
}

TEST(Mopso, NaNObjectivesAndRaggedVectorsAreHandledWithoutFailing) {
    int call = 0;
    const auto result = engine(config_with(8, 6))
                            .minimize([&](std::span<const double> x, std::vector<double>& out) {
                                ++call;
                                if (call % 5 == 0) {
                                    out.push_back(kNaN);
                                    out.push_back(x[1]);
                                } else if (call % 7 == 0) {
                                    out.push_back(x[0]);  // shorter than the others
                                } else {
                                    zdt1(x, out);
                                }
                            });
    EXPECT_FALSE(result.front.empty());
}

TEST(Mopso, IntegerSpaceDecodesTheFrontButRecordsRealPositions) {
    MopsoConfig config = config_with(10, 4);
    const Mopso<IntegerSpace> mopso(config, IntegerSpace({{0, 10}, {-3, 3}}),
                                    std::make_unique<InertiaVelocity>(0.5, 1.0, 1.0));
    const auto result =
        mopso.minimize([](std::span<const std::int64_t> x, std::vector<double>& out) {
            out.push_back(static_cast<double>(x[0]));
            out.push_back(static_cast<double>(10 - x[0] + x[1] * x[1]));
        });
    for (const auto& member : result.front) {
        ASSERT_EQ(member.position.size(), 2u);
        EXPECT_GE(member.position[0], 0);
        EXPECT_LE(member.position[0], 10);
    }
    bool fractional = false;
    for (const auto& swarm : result.history.swarm_history)
        for (const auto& x : swarm) fractional |= x[0] != std::round(x[0]);
    EXPECT_TRUE(fractional);
}

TEST(Mopso, EmptySwarmRunsWithAnEmptyFront) {
    const auto result = engine(config_with(0, 3)).minimize(zdt1);
    EXPECT_TRUE(result.front.empty());
    EXPECT_EQ(result.history.swarm_history.size(), 3u);
}

TEST(Mopso, NegativeVelocityLimitIsAStop) {
    MopsoConfig config = config_with(3, 3);
    config.v_max = -1.0;
    EXPECT_THROW(engine(config).minimize(zdt1), InternalFailure);
}

TEST(Mopso, NaNIgnoringMinAndMax) {
    EXPECT_EQ(detail::max_ignoring_nan(kNaN, 2.0), 2.0);
    EXPECT_EQ(detail::max_ignoring_nan(2.0, kNaN), 2.0);
    EXPECT_EQ(detail::min_ignoring_nan(kNaN, -1.0), -1.0);
    EXPECT_EQ(detail::min_ignoring_nan(3.0, 1.0), 1.0);
    EXPECT_EQ(detail::max_ignoring_nan(3.0, 1.0), 3.0);
}

}  // namespace
}  // namespace kestrelopt
