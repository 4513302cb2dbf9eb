// The MOPSO engine's batch mode, constraints and stop rules.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "support.hpp"
#include "zdt1.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// ZDT1 as a batch.
void zdt1_batch(std::span<const std::vector<double>> xs, std::vector<std::vector<double>>& out,
                std::vector<double>&) {
    for (std::size_t j = 0; j < xs.size(); ++j) zdt1(xs[j], out[j]);
}

MopsoConfig config_with(std::size_t n, std::size_t iters) {
    MopsoConfig config;
    config.n_particles = n;
    config.max_iter = iters;
    config.archive_size = 8;
    config.seed = 11;
    return config;
}

Mopso<ContinuousSpace> engine(const MopsoConfig& config) {
    return Mopso<ContinuousSpace>(config, ContinuousSpace(std::vector<Bound>(4, {0.0, 1.0})),
                                  std::make_unique<InertiaVelocity>(0.4, 1.5, 1.5));
}

void expect_same(const MopsoResult<double>& a, const MopsoResult<double>& b) {
    ASSERT_EQ(a.front.size(), b.front.size());
    for (std::size_t i = 0; i < a.front.size(); ++i) {
        EXPECT_EQ(a.front[i].position, b.front[i].position);
        EXPECT_EQ(a.front[i].objectives, b.front[i].objectives);
        EXPECT_EQ(bits(a.front[i].violation), bits(b.front[i].violation));
    }
    EXPECT_EQ(a.history.swarm_history, b.history.swarm_history);
    EXPECT_EQ(a.history.front_history, b.history.front_history);
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.stop_reason, b.stop_reason);
}

TEST(MopsoModes, OneParticleBatchRunIsTheSequentialRun) {
    // With one particle both modes draw in the same order: move, evaluate, personal best.
    const auto e = engine(config_with(1, 30));
    expect_same(e.minimize(zdt1), e.minimize_batch(zdt1_batch));
}

TEST(MopsoModes, AZeroViolationIsTheUnconstrainedRun) {
    const auto e = engine(config_with(12, 20));
    const auto plain = e.minimize(zdt1);
    const auto zero = e.minimize([](std::span<const double> x, std::vector<double>& out) {
        zdt1(x, out);
        return -0.0;  // normalized to 0: feasible
    });
    expect_same(plain, zero);
}

// Two objectives whose unconstrained front is x0 in [0, 1]; the constraint x0 >= 0.6 cuts
// it, and the engine must find the feasible part only.
double cut_front(std::span<const double> x, std::vector<double>& out) {
    zdt1(x, out);
    return 0.6 - x[0];
}

TEST(MopsoModes, ConstrainedRunsKeepOnlyFeasibleMembersInBothModes) {
    const auto e = engine(config_with(20, 40));
    const auto sequential = e.minimize(cut_front);
    const auto batch = e.minimize_batch([](std::span<const std::vector<double>> xs,
                                           std::vector<std::vector<double>>& out,
                                           std::vector<double>& violations) {
        for (std::size_t j = 0; j < xs.size(); ++j) violations[j] = cut_front(xs[j], out[j]);
    });
    for (const auto* result : {&sequential, &batch}) {
        ASSERT_FALSE(result->front.empty());
        for (const auto& member : result->front) {
            EXPECT_GE(member.position[0], 0.6);
            EXPECT_EQ(member.violation, 0.0);
        }
    }
}

struct StopCase {
    const char* name;
    std::optional<std::size_t> max_evals;
    std::optional<Duration> max_time;
    std::size_t callback_stops_at;  // iteration whose callback says false; 99: never
    std::size_t throw_at_call;      // objective call that throws StopRun; 0: never
    StopReason reason;
    std::size_t evaluations;
};

class MopsoStops : public ::testing::TestWithParam<StopCase> {};

TEST_P(MopsoStops, StopAfterTheRightIterationWithTheirReason) {
    const StopCase& s = GetParam();
    MopsoConfig config = config_with(10, 6);
    config.max_evals = s.max_evals;
    config.max_time = s.max_time;
    const auto e = engine(config);
    std::size_t calls = 0;
    std::vector<std::size_t> iterations;
    const auto result = e.minimize(
        [&](std::span<const double> x, std::vector<double>& out) {
            if (++calls == s.throw_at_call) throw StopRun{};
            zdt1(x, out);
        },
        [&](const MopsoIterationInfo& info) {
            iterations.push_back(info.iteration);
            EXPECT_EQ(info.evaluations, 10 * (info.iteration + 2));
            EXPECT_GE(info.front_size, 1u);
            EXPECT_LE(info.front_size, 8u);
            return info.iteration != s.callback_stops_at;
        });
    EXPECT_EQ(result.stop_reason, s.reason);
    EXPECT_EQ(result.evaluations, s.evaluations);
    EXPECT_FALSE(result.front.empty());
    EXPECT_LE(result.front.size(), 8u);
    for (std::size_t t = 0; t < iterations.size(); ++t) EXPECT_EQ(iterations[t], t);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MopsoStops,
    ::testing::Values(StopCase{"none", {}, {}, 99, 0, StopReason::MaxIterations, 70},
                      StopCase{
                          "max_evals_mid_iteration", 35, {}, 99, 0, StopReason::MaxEvaluations, 40},
                      StopCase{"max_evals_exact", 40, {}, 99, 0, StopReason::MaxEvaluations, 40},
                      StopCase{"max_evals_beyond", 1000, {}, 99, 0, StopReason::MaxIterations, 70},
                      StopCase{"max_time_zero", {}, Duration{0, 0}, 99, 0, StopReason::MaxTime, 20},
                      StopCase{"callback_first", 20, {}, 0, 0, StopReason::Callback, 20},
                      StopCase{"callback_third", {}, {}, 2, 0, StopReason::Callback, 40},
                      StopCase{"stop_run", {}, {}, 99, 25, StopReason::Interrupted, 24}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrelopt
