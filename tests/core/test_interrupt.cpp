// Runs ended from outside: StopRun thrown by an objective, a batch or a callback ends a
// run with exactly the state a shorter run reaches, and the hypervolume's observer sees its
// work without changing the value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/topology/ring.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

constexpr std::size_t kParticles = 6;

double sphere(std::span<const double> x) {
    double s = -0.0;
    for (const double v : x) s += v * v;
    return s;
}

void two_objectives(std::span<const double> x, std::vector<double>& out) {
    out.push_back(x[0]);
    out.push_back(1.0 - std::sqrt(x[0]) + x[1] + x[2]);
}

Pso<ContinuousSpace> pso(std::size_t iters, bool ring) {
    PsoConfig config;
    config.seed = 11;
    config.n_particles = kParticles;
    config.max_iter = iters;
    std::unique_ptr<Topology> topology;
    if (ring)
        topology = std::make_unique<Ring>();
    else
        topology = std::make_unique<GlobalBest>();
    return Pso<ContinuousSpace>(config, ContinuousSpace(std::vector<Bound>(3, {-5.0, 5.0})),
                                std::make_unique<InertiaVelocity>(0.7, 1.5, 1.5),
                                std::move(topology));
}

// Without turbulence, whose rate decays over max_iter, runs of different lengths agree on
// every iteration they share.
Mopso<ContinuousSpace> mopso(std::size_t iters) {
    MopsoConfig config;
    config.mutation_rate = 0.0;
    config.seed = 5;
    config.n_particles = kParticles;
    config.max_iter = iters;
    config.archive_size = 8;
    return Mopso<ContinuousSpace>(config, ContinuousSpace(std::vector<Bound>(3, {0.0, 1.0})),
                                  std::make_unique<InertiaVelocity>(0.4, 1.5, 1.5));
}

// Answers like `f` until its call number `stop_at` (1-based), which throws StopRun.
template <class F>
auto stopping_at(std::size_t stop_at, F f) {
    return [stop_at, f, calls = std::size_t{0}](auto&&... args) mutable {
        if (++calls == stop_at) throw StopRun{};
        return f(args...);
    };
}

enum class Mode { Sequential, Batch, Callback };

struct Case {
    Mode mode;
    bool ring;
    std::size_t iteration;  // stopped at the first evaluation (or callback) of it
};

class PsoInterrupt : public ::testing::TestWithParam<Case> {};

// Stopped at the start of iteration t, a run holds what a run of t iterations returns; only
// its record of positions has the snapshot of iteration t in addition.
TEST_P(PsoInterrupt, EndsWithTheStateOfTheShorterRun) {
    const auto [mode, ring, t] = GetParam();
    const auto batch = [](std::span<const std::vector<double>> xs, std::vector<double>& out) {
        for (const auto& x : xs) out.push_back(sphere(x));
    };
    const auto shorter = mode == Mode::Batch ? pso(t, ring).minimize_batch(batch)
                                             : pso(t, ring).run_sequential(sphere);
    PsoResult<double> stopped;
    const auto engine = pso(50, ring);
    if (mode == Mode::Sequential) {
        stopped = engine.run_sequential(stopping_at(kParticles * (t + 1) + 1, sphere));
    } else if (mode == Mode::Batch) {
        stopped = engine.minimize_batch(stopping_at(t + 2, batch));
    } else {
        // The callback of iteration t - 1 stops: the same state, without the extra snapshot.
        stopped = engine.run_sequential(sphere,
                                        stopping_at(t, [](const IterationInfo&) { return true; }));
    }
    EXPECT_EQ(stopped.stop_reason, StopReason::Interrupted);
    expect_same_bits(stopped.best_position, shorter.best_position);
    EXPECT_EQ(bits(stopped.best_value), bits(shorter.best_value));
    expect_same_bits(stopped.history.convergence, shorter.history.convergence);
    EXPECT_EQ(stopped.evaluations, kParticles * (t + 1));
    const std::size_t snapshots = mode == Mode::Callback ? t : t + 1;
    ASSERT_EQ(stopped.history.positions.size(), snapshots);
    for (std::size_t i = 0; i < t; ++i)
        EXPECT_EQ(stopped.history.positions[i], shorter.history.positions[i]);
}

INSTANTIATE_TEST_SUITE_P(Modes, PsoInterrupt,
                         ::testing::Values(Case{Mode::Sequential, false, 1},
                                           Case{Mode::Sequential, true, 4},
                                           Case{Mode::Batch, false, 3},
                                           Case{Mode::Callback, false, 2},
                                           Case{Mode::Callback, true, 5}));

TEST(PsoInterrupt, MidIterationCountsTheEvaluationsThatAnswered) {
    const auto result = pso(50, false).run_sequential(stopping_at(kParticles * 3 + 4, sphere));
    EXPECT_EQ(result.stop_reason, StopReason::Interrupted);
    EXPECT_EQ(result.evaluations, kParticles * 3 + 3);
    EXPECT_EQ(result.history.convergence.size(), 2u);
    EXPECT_LE(result.best_value, result.history.convergence.back());
}

TEST(PsoInterrupt, BeforeTheFirstSwarmHasItsValuesItPropagates) {
    EXPECT_THROW(pso(5, false).run_sequential(stopping_at(kParticles, sphere)), StopRun);
    EXPECT_THROW(pso(5, false).minimize_batch(stopping_at(1, [](auto, auto&) {})), StopRun);
    EXPECT_THROW(mopso(5).minimize(stopping_at(3, two_objectives)), StopRun);
}

TEST(PsoHistory, RecordingOnlyTheCurveKeepsEveryResult) {
    PsoConfig config;
    config.seed = 3;
    config.max_iter = 12;
    auto with = [&](bool swarm) {
        config.record_swarm = swarm;
        return Pso<ContinuousSpace>(config, ContinuousSpace(std::vector<Bound>(4, {-2.0, 2.0})),
                                    std::make_unique<InertiaVelocity>(0.7, 1.5, 1.5),
                                    std::make_unique<GlobalBest>())
            .run_sequential(sphere);
    };
    const auto full = with(true);
    const auto curve_only = with(false);
    EXPECT_TRUE(curve_only.history.positions.empty());
    EXPECT_EQ(full.history.positions.size(), 12u);
    expect_same_bits(curve_only.history.convergence, full.history.convergence);
    expect_same_bits(curve_only.best_position, full.best_position);
}

TEST(MopsoInterrupt, EndsWithTheFrontOfTheShorterRun) {
    for (const std::size_t t : {1u, 6u}) {
        const auto shorter = mopso(t).minimize(two_objectives);
        const auto stopped =
            mopso(40).minimize(stopping_at(kParticles * (t + 1) + 1, two_objectives));
        ASSERT_EQ(stopped.front.size(), shorter.front.size());
        for (std::size_t m = 0; m < shorter.front.size(); ++m) {
            expect_same_bits(stopped.front[m].position, shorter.front[m].position);
            expect_same_bits(stopped.front[m].objectives, shorter.front[m].objectives);
        }
        EXPECT_EQ(stopped.history.swarm_history.size(), t + 1);
    }
}

TEST(MopsoNaN, VectorsHoldingNaNNeverEnterTheArchive) {
    std::size_t calls = 0;
    const auto result =
        mopso(10).minimize([&](std::span<const double> x, std::vector<double>& out) {
            two_objectives(x, out);
            if (++calls % 3 == 0) out[calls % 2] = kNaN;
        });
    EXPECT_FALSE(result.front.empty());
    for (const auto& member : result.front)
        for (const double v : member.objectives) EXPECT_FALSE(std::isnan(v));
    for (const RowsView snapshot : result.history.front_history)
        for (const auto row : snapshot)
            for (const double v : row) EXPECT_FALSE(std::isnan(v));
}

// With no leader at all, particles follow their personal bests and the run completes.
TEST(MopsoNaN, AnAlwaysNaNObjectiveLeavesTheFrontEmpty) {
    std::size_t calls = 0;
    const auto result = mopso(7).minimize([&](std::span<const double>, std::vector<double>& out) {
        ++calls;
        out.assign({kNaN, 1.0});
    });
    EXPECT_EQ(calls, kParticles * 8);
    EXPECT_TRUE(result.front.empty());
    EXPECT_EQ(result.history.swarm_history.size(), 7u);
}

class CountingObserver final : public WorkObserver {
  public:
    explicit CountingObserver(std::size_t stop_after = 0) : stop_after_(stop_after) {}
    void progress(std::size_t work) override {
        total += work;
        ++calls;
        if (stop_after_ != 0 && calls == stop_after_) throw StopRun{};
    }
    std::size_t total = 0;
    std::size_t calls = 0;

  private:
    std::size_t stop_after_;
};

TEST(HypervolumeObserver, SeesTheWorkWithoutChangingTheValueAndMayStopIt) {
    std::vector<ObjectiveVector> front;
    for (int i = 0; i < 40; ++i) {
        const double a = i / 39.0;
        front.push_back({a, 1.0 - a * a, std::sin(3.0 * a)});
    }
    const std::vector<double> reference{1.5, 1.5, 1.5};
    CountingObserver counting;
    EXPECT_EQ(bits(hypervolume(front, reference, &counting)), bits(hypervolume(front, reference)));
    EXPECT_GT(counting.calls, 40u);
    EXPECT_GE(counting.total, counting.calls);
    CountingObserver stopping(5);
    EXPECT_THROW(hypervolume(front, reference, &stopping), StopRun);
}

}  // namespace
}  // namespace kestrelopt
