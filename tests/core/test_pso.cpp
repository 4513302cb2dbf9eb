#include "kestrelopt/pso.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

double sphere(std::span<const double> x) {
    double s = -0.0;
    for (const double v : x) s += v * v;
    return s;
}

// Lists the whole swarm like GlobalBest but makes the engine scan it every time.
class ScannedGlobal final : public Topology {
  public:
    void neighbors_into(std::size_t, std::span<const Particle> particles,
                        std::vector<std::size_t>& out) const override {
        out.resize(particles.size());
        for (std::size_t j = 0; j < particles.size(); ++j) out[j] = j;
    }
};

PsoConfig config_with(std::size_t n, std::size_t iters, std::uint64_t seed = 7) {
    PsoConfig config;
    config.seed = seed;
    config.n_particles = n;
    config.max_iter = iters;
    return config;
}

Pso<ContinuousSpace> engine(const PsoConfig& config, std::size_t dims = 3, double half = 5.0,
                            std::unique_ptr<Topology> topology = std::make_unique<GlobalBest>()) {
    return Pso<ContinuousSpace>(config, ContinuousSpace(std::vector<Bound>(dims, {-half, half})),
                                std::make_unique<InertiaVelocity>(0.7298, 1.49618, 1.49618),
                                std::move(topology));
}

auto batch_of(double (*f)(std::span<const double>)) {
    return [f](std::span<const std::vector<double>> xs, std::vector<double>& values) {
        for (const auto& x : xs) values.push_back(f(x));
    };
}

template <class T>
void expect_same_result(const PsoResult<T>& a, const PsoResult<T>& b) {
    ASSERT_EQ(a.best_position.size(), b.best_position.size());
    for (std::size_t i = 0; i < a.best_position.size(); ++i)
        EXPECT_EQ(bits(a.best_position[i]), bits(b.best_position[i]));
    EXPECT_EQ(bits(a.best_value), bits(b.best_value));
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.stop_reason, b.stop_reason);
    ASSERT_EQ(a.history.convergence.size(), b.history.convergence.size());
    for (std::size_t i = 0; i < a.history.convergence.size(); ++i)
        EXPECT_EQ(bits(a.history.convergence[i]), bits(b.history.convergence[i]));
    EXPECT_EQ(a.history.positions, b.history.positions);
}

// A plain transcription of the run (global topology, inertia rule, clamp), written
// independently of the engine, to check it bit for bit. Asynchronous: each particle is
// evaluated and updates the bests right after its move; batch: all particles move with the
// previous iteration's bests, then all are evaluated and update the bests in order.
PsoResult<double> reference_run(std::uint64_t seed, std::size_t n, std::size_t iters, double half,
                                std::size_t dims, bool batch = false) {
    auto gen = RandomSource::seed_from_u64(seed);
    struct P {
        std::vector<double> x, v, best;
        double value;
    };
    std::vector<P> swarm;
    for (std::size_t p = 0; p < n; ++p) {
        P particle;
        for (std::size_t d = 0; d < dims; ++d)
            particle.x.push_back(uniform_in_inclusive(gen, -half, half));
        for (std::size_t d = 0; d < dims; ++d)
            particle.v.push_back(uniform_in_inclusive(gen, -2 * half, 2 * half));
        particle.best = particle.x;
        particle.value = sphere(particle.x);
        swarm.push_back(particle);
    }
    std::size_t g = 0;
    for (std::size_t j = 1; j < n; ++j)
        if (swarm[j].value < swarm[g].value) g = j;
    std::vector<double> gbest = swarm[g].best;
    double gvalue = swarm[g].value;
    PsoResult<double> result;
    result.evaluations = n;
    const auto evaluate = [&](P& p) {
        const double value = sphere(p.x);
        if (value < p.value) {
            p.value = value;
            p.best = p.x;
            if (value < gvalue) {
                gvalue = value;
                gbest = p.x;
            }
        }
    };
    for (std::size_t t = 0; t < iters; ++t) {
        std::vector<std::vector<double>> snapshot;
        for (const P& p : swarm) snapshot.push_back(p.x);
        push_snapshot(result.history.positions, snapshot);
        result.evaluations += n;
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t b = 0;
            for (std::size_t j = 1; j < n; ++j)
                if (swarm[j].value < swarm[b].value) b = j;
            const std::vector<double> nbest = swarm[b].best;
            P& p = swarm[i];
            std::vector<double> nv(dims);
            for (std::size_t d = 0; d < dims; ++d) {
                const double r1 = uniform01(gen), r2 = uniform01(gen);
                nv[d] = (0.7298 * p.v[d] + (p.best[d] - p.x[d]) * (r1 * 1.49618)) +
                        (nbest[d] - p.x[d]) * (r2 * 1.49618);
            }
            for (std::size_t d = 0; d < dims; ++d)
                p.x[d] = std::min(half, std::max(-half, nv[d] + p.x[d]));
            p.v = nv;
            if (!batch) evaluate(p);
        }
        if (batch)
            for (P& p : swarm) evaluate(p);
        result.history.convergence.push_back(gvalue);
    }
    result.best_position = gbest;
    result.best_value = gvalue;
    return result;
}

TEST(PsoSequential, MatchesAPlainTranscriptionBitForBit) {
    const auto result = engine(config_with(12, 25, 99), 4, 3.0).run_sequential(sphere);
    expect_same_result(result, reference_run(99, 12, 25, 3.0, 4));
}

TEST(PsoSequential, SameSeedGivesIdenticalBitsInBothModes) {
    const auto pso = engine(config_with(20, 30));
    expect_same_result(pso.run_sequential(sphere), pso.run_sequential(sphere));
    expect_same_result(pso.minimize_batch(batch_of(sphere)), pso.minimize_batch(batch_of(sphere)));
}

TEST(PsoSequential, ZeroIterationsKeepsTheBestInitialParticle) {
    PsoConfig config = config_with(5, 0);
    std::vector<std::vector<double>> seen;
    const auto result = engine(config).run_sequential([&](std::span<const double> x) {
        seen.emplace_back(x.begin(), x.end());
        return sphere(x);
    });
    ASSERT_EQ(seen.size(), 5u);
    std::size_t best = 0;
    for (std::size_t j = 1; j < 5; ++j)
        if (sphere(seen[j]) < sphere(seen[best])) best = j;
    EXPECT_EQ(result.best_position, seen[best]);
    EXPECT_EQ(result.evaluations, 5u);
    EXPECT_EQ(result.stop_reason, StopReason::MaxIterations);
    EXPECT_TRUE(result.history.positions.empty());
    EXPECT_TRUE(result.history.convergence.empty());
}

TEST(PsoSequential, HistoryHasOneEntryPerIterationStartingWithTheInitialSwarm) {
    const PsoConfig config = config_with(6, 9);
    const auto result = engine(config).run_sequential(sphere);
    ASSERT_EQ(result.history.positions.size(), 9u);
    ASSERT_EQ(result.history.convergence.size(), 9u);
    auto gen = RandomSource::seed_from_u64(7);
    const ContinuousSpace space(std::vector<Bound>(3, {-5.0, 5.0}));
    for (std::size_t p = 0; p < 6; ++p) {
        EXPECT_EQ(as_vector(result.history.positions[0][p]), space.sample(gen));
        space.sample_velocity(gen);
    }
    for (std::size_t t = 1; t < 9; ++t)
        EXPECT_LE(result.history.convergence[t], result.history.convergence[t - 1]);
    EXPECT_EQ(result.history.convergence.back(), result.best_value);
}

TEST(PsoSequential, NoRecordingLeavesBothListsEmpty) {
    PsoConfig config = config_with(6, 9);
    config.record_history = false;
    config.patience = 2;
    const auto result = engine(config).run_sequential([](std::span<const double>) { return 1.0; });
    EXPECT_EQ(result.stop_reason, StopReason::Stagnation);
    EXPECT_TRUE(result.history.positions.empty());
    EXPECT_TRUE(result.history.convergence.empty());
}

TEST(PsoStops, StagnationAfterThirdIterationWithoutStrictDecrease) {
    PsoConfig config = config_with(4, 50);
    config.patience = 3;
    const auto result = engine(config).run_sequential([](std::span<const double>) { return 2.0; });
    EXPECT_EQ(result.stop_reason, StopReason::Stagnation);
    EXPECT_EQ(result.history.convergence.size(), 3u);
}

TEST(PsoStops, StagnationMeasuresIterationToIterationImprovement) {
    // Improves by 0.5 per iteration, never more than tol = 1: stagnates despite total gain.
    PsoConfig config = config_with(1, 50);
    config.patience = 2;
    config.tol = 1.0;
    double next = 100.0;
    const auto result = engine(config).run_sequential([&](std::span<const double>) {
        next -= 0.5;
        return next;
    });
    EXPECT_EQ(result.stop_reason, StopReason::Stagnation);
    EXPECT_EQ(result.history.convergence.size(), 2u);
}

TEST(PsoStops, MaxEvaluationsOvershootsToTheEndOfTheIteration) {
    PsoConfig config = config_with(30, 100);
    config.max_evals = 35;
    const auto result = engine(config).run_sequential(sphere);
    EXPECT_EQ(result.stop_reason, StopReason::MaxEvaluations);
    EXPECT_EQ(result.evaluations, 60u);
}

// Without an iteration limit, a budget and the weight's fall taken from it give exactly
// the run whose max_iter is the iterations that budget allows, in both modes.
TEST(PsoStops, NoIterationLimitWithAScheduleFromTheBudgetIsTheEquivalentLimitedRun) {
    for (const std::size_t max_evals : {1u, 35u, 60u, 61u, 200u}) {
        PsoConfig limited = config_with(30, iterations_within(max_evals, 30));
        limited.max_evals = max_evals;
        PsoConfig open = limited;
        open.max_iter = kNoIterationLimit;
        open.schedule_iter = limited.max_iter;
        auto make = [](const PsoConfig& config) {
            return Pso<ContinuousSpace>(
                config, ContinuousSpace(std::vector<Bound>(3, {-5.0, 5.0})),
                std::make_unique<InertiaVelocity>(0.9, 1.49618, 1.49618, 0.4),
                std::make_unique<GlobalBest>());
        };
        const auto expected = make(limited).run_sequential(sphere);
        EXPECT_EQ(expected.stop_reason, StopReason::MaxEvaluations);
        expect_same_result(make(open).run_sequential(sphere), expected);
        expect_same_result(make(open).minimize_batch(batch_of(sphere)),
                           make(limited).minimize_batch(batch_of(sphere)));
    }
}

TEST(PsoStops, TargetEqualToTheInitialBestStillRunsOneIteration) {
    PsoConfig config = config_with(5, 100);
    config.target = 3.0;
    const auto result = engine(config).run_sequential([](std::span<const double>) { return 3.0; });
    EXPECT_EQ(result.stop_reason, StopReason::Target);
    EXPECT_EQ(result.evaluations, 10u);
}

TEST(PsoStops, NaNBestNeverReachesTheTarget) {
    PsoConfig config = config_with(3, 4);
    config.target = kInf;
    const auto result = engine(config).run_sequential([](std::span<const double>) { return kNaN; });
    EXPECT_EQ(result.stop_reason, StopReason::MaxIterations);
    EXPECT_TRUE(std::isnan(result.best_value));
}

TEST(PsoStops, CallbackFalseAtIterationZeroStopsAfterOneIteration) {
    PsoConfig config = config_with(7, 100);
    std::vector<IterationInfo> seen;
    const auto result = engine(config).run_sequential(sphere, [&](const IterationInfo& info) {
        seen.push_back(info);
        EXPECT_EQ(info.best_position.size(), 3u);
        EXPECT_EQ(info.best_value, sphere(info.best_position));
        return false;
    });
    EXPECT_EQ(result.stop_reason, StopReason::Callback);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].iteration, 0u);
    EXPECT_EQ(seen[0].evaluations, 14u);
}

TEST(PsoStops, CallbackComesBeforeEveryOtherStopAndTheOrderHolds) {
    PsoConfig config = config_with(5, 1);
    config.patience = 1;
    config.target = 10.0;
    config.max_evals = 1;
    config.max_time = Duration{0, 0};
    auto constant = [](std::span<const double>) { return 2.0; };
    EXPECT_EQ(engine(config)
                  .run_sequential(constant, [](const IterationInfo&) { return false; })
                  .stop_reason,
              StopReason::Callback);
    EXPECT_EQ(engine(config).run_sequential(constant).stop_reason, StopReason::Stagnation);
    config.patience = 0;
    EXPECT_EQ(engine(config).run_sequential(constant).stop_reason, StopReason::Target);
    config.target.reset();
    EXPECT_EQ(engine(config).run_sequential(constant).stop_reason, StopReason::MaxEvaluations);
    config.max_evals.reset();
    EXPECT_EQ(engine(config).run_sequential(constant).stop_reason, StopReason::MaxTime);
    config.max_time.reset();
    EXPECT_EQ(engine(config).run_sequential(constant).stop_reason, StopReason::MaxIterations);
}

TEST(PsoStops, GenerousTimeLimitDoesNotFire) {
    PsoConfig config = config_with(5, 3);
    config.max_time = Duration{3600, 0};
    EXPECT_EQ(engine(config).run_sequential(sphere).stop_reason, StopReason::MaxIterations);
}

TEST(PsoBests, TieKeepsTheGlobalBestWithTheParticleFoundFirst) {
    const auto result =
        engine(config_with(6, 5)).run_sequential([](std::span<const double>) { return 1.0; });
    auto gen = RandomSource::seed_from_u64(7);
    const ContinuousSpace space(std::vector<Bound>(3, {-5.0, 5.0}));
    EXPECT_EQ(result.best_position, space.sample(gen));
}

TEST(PsoBests, NaNNeverDisplacesANumber) {
    int calls = 0;
    const auto result = engine(config_with(4, 6)).run_sequential([&](std::span<const double> x) {
        return ++calls % 2 == 0 ? kNaN : sphere(x);
    });
    EXPECT_FALSE(std::isnan(result.best_value));
}

TEST(PsoBests, ZeroVelocityLimitFreezesThePositions) {
    PsoConfig config = config_with(4, 5);
    config.v_max = 0.0;
    const auto result = engine(config).run_sequential(sphere);
    for (const auto& snapshot : result.history.positions)
        EXPECT_EQ(snapshot, result.history.positions[0]);
}

TEST(PsoModes, SequentialAndBatchStartFromTheSameSwarm) {
    const auto pso = engine(config_with(8, 3));
    const auto a = pso.run_sequential(sphere);
    const auto b = pso.minimize_batch(batch_of(sphere));
    EXPECT_EQ(a.history.positions[0], b.history.positions[0]);
    EXPECT_EQ(b.evaluations, 32u);
}

TEST(PsoModes, BatchModeMatchesAPlainTranscriptionBitForBit) {
    for (const std::size_t n : {2, 5, 12}) {
        const auto result = engine(config_with(n, 20, 31), 4, 3.0).minimize_batch(batch_of(sphere));
        expect_same_result(result, reference_run(31, n, 20, 3.0, 4, true));
        // and the two modes really differ once there is more than one particle
        EXPECT_NE(result.history.positions, reference_run(31, n, 20, 3.0, 4).history.positions);
    }
}

TEST(PsoModes, BatchModeMovesEveryoneWithThePreviousBests) {
    // With one particle both modes coincide: the only difference is when bests are seen.
    const auto pso = engine(config_with(1, 10));
    const auto a = pso.run_sequential(sphere);
    const auto b = pso.minimize_batch(batch_of(sphere));
    expect_same_result(a, b);
}

TEST(PsoModes, ShortInitialBatchLeavesParticlesAtInfinity) {
    const auto pso = engine(config_with(4, 0));
    const auto result =
        pso.minimize_batch([](std::span<const std::vector<double>>, std::vector<double>& values) {
            values.push_back(5.0);
        });
    EXPECT_EQ(result.evaluations, 1u);
    EXPECT_EQ(result.best_value, 5.0);
}

TEST(PsoFailures, WrongBatchLengthDuringTheRunIsAStop) {
    const auto pso = engine(config_with(4, 3));
    int call = 0;
    try {
        pso.minimize_batch(
            [&](std::span<const std::vector<double>> xs, std::vector<double>& values) {
                values.assign(call++ == 0 ? xs.size() : xs.size() - 1, 1.0);
            });
        ADD_FAILURE();
    } catch (const InternalFailure& e) {
        EXPECT_STREQ(e.what(), "batched objective must return one value per particle");
    }
}

TEST(PsoFailures, EmptySwarmAndNegativeVelocityLimitAreStops) {
    try {
        engine(config_with(0, 3)).run_sequential(sphere);
        ADD_FAILURE();
    } catch (const InternalFailure& e) {
        EXPECT_STREQ(e.what(), "swarm has at least one particle");
    }
    PsoConfig config = config_with(3, 3);
    config.v_max = -1.0;
    EXPECT_THROW(engine(config).run_sequential(sphere), InternalFailure);
    config.v_max = kNaN;
    EXPECT_THROW(engine(config).run_sequential(sphere), InternalFailure);
}

TEST(PsoWithoutSeed, RunsFromTheKernelSource) {
    PsoConfig config = config_with(5, 5);
    config.seed.reset();
    const auto result = engine(config).run_sequential(sphere);
    EXPECT_EQ(result.evaluations, 30u);
}

// Objectives with many ties and NaN values, to exercise the incremental best tracking.
double coarse(std::span<const double> x) {
    return std::round(sphere(x) / 8.0);
}
double holes(std::span<const double> x) {
    return x[0] > 1.0 ? kNaN : std::round(sphere(x));
}
double mostly_nan(std::span<const double> x) {
    return x[1] < -2.0 ? std::round(x[0]) : kNaN;
}

class TrackedBest : public ::testing::TestWithParam<double (*)(std::span<const double>)> {};

TEST_P(TrackedBest, IncrementalAndScannedNeighbourhoodBestsGiveTheSameBits) {
    for (const std::uint64_t seed : {1u, 2u, 3u, 4u}) {
        PsoConfig config = config_with(17, 40, seed);
        const auto tracked = engine(config, 3, 5.0);
        const auto scanned = engine(config, 3, 5.0, std::make_unique<ScannedGlobal>());
        expect_same_result(tracked.run_sequential(GetParam()), scanned.run_sequential(GetParam()));
        expect_same_result(tracked.minimize_batch(batch_of(GetParam())),
                           scanned.minimize_batch(batch_of(GetParam())));
    }
}

INSTANTIATE_TEST_SUITE_P(Objectives, TrackedBest,
                         ::testing::Values(&coarse, &holes, &mostly_nan, &sphere));

TEST(StopReasonText, NamesEveryReason) {
    EXPECT_EQ(stop_reason_text(StopReason::MaxIterations), "max_iterations");
    EXPECT_EQ(stop_reason_text(StopReason::Target), "target");
    EXPECT_EQ(stop_reason_text(StopReason::MaxEvaluations), "max_evaluations");
    EXPECT_EQ(stop_reason_text(StopReason::Stagnation), "stagnation");
    EXPECT_EQ(stop_reason_text(StopReason::MaxTime), "max_time");
    EXPECT_EQ(stop_reason_text(StopReason::Callback), "callback");
}

}  // namespace
}  // namespace kestrelopt
