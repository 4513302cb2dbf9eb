// RestartSearch over the real engine: a first run that never stagnates is the plain run;
// later runs are exactly the plain runs of their configurations, composed; the budget and
// the stop rules a stagnating run did not check end the search.
#include "kestrelopt/restarts.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;
using Result = PsoResult<double>;

double rastrigin(std::span<const double> x) {
    double sum = 10.0 * static_cast<double>(x.size());
    for (const double v : x) sum += v * v - 10.0 * std::cos(2.0 * M_PI * v);
    return sum;
}

Result plain_run(const PsoConfig& config) {
    const Pso<ContinuousSpace> engine(config, ContinuousSpace({{-5.12, 5.12}, {-5.12, 5.12}}),
                                      std::make_unique<InertiaVelocity>(0.729, 1.49445, 1.49445),
                                      std::make_unique<GlobalBest>());
    return engine.run_sequential(rastrigin);
}

struct Searched {
    Result result;
    std::vector<PsoConfig> configs;
};

Searched search(const PsoConfig& base, RestartPolicy policy) {
    RestartSearch<double> restarts(base, policy);
    Searched out;
    while (const std::optional<PsoConfig> config = restarts.next()) {
        out.configs.push_back(*config);
        restarts.take(plain_run(*config));
    }
    out.result = restarts.finish();
    return out;
}

PsoConfig stagnating(std::size_t max_iter) {
    PsoConfig config;
    config.seed = 12;
    config.n_particles = 6;
    config.max_iter = max_iter;
    config.min_diameter = 1e-2;
    return config;
}

void expect_same(const Result& a, const Result& b) {
    EXPECT_EQ(a.best_position, b.best_position);
    expect_same_bits({a.best_value}, {b.best_value});
    EXPECT_EQ(a.history.convergence, b.history.convergence);
    EXPECT_EQ(a.history.positions, b.history.positions);
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.stop_reason, b.stop_reason);
}

TEST(RestartSearch, AFirstRunThatNeverStagnatesIsThePlainRun) {
    PsoConfig config = stagnating(40);
    config.min_diameter.reset();
    const Searched searched = search(config, {5, 2.0});
    ASSERT_EQ(searched.configs.size(), 1u);
    expect_same(searched.result, plain_run(config));
}

// Each run is the plain run of its configuration: sizes grow by the factor, seeds are
// mixed, iterations and evaluations are what earlier runs left; the result composes them.
TEST(RestartSearch, RunsAreThePlainRunsOfTheirConfigurationsComposed) {
    PsoConfig base = stagnating(1000);
    base.max_evals = 60000;
    const Searched searched = search(base, {3, 2.0});
    ASSERT_EQ(searched.configs.size(), 4u);  // every run collapses long before its budget
    Result expected;
    std::size_t iterations = 0, evaluations = 0;
    double best = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
        const PsoConfig& c = searched.configs[k];
        EXPECT_EQ(c.n_particles, 6u << k);
        EXPECT_EQ(*c.seed, restart_seed(12, k));
        EXPECT_EQ(c.max_iter, 1000 - iterations);
        EXPECT_EQ(*c.max_evals, 60000 - evaluations);
        const Result run = plain_run(c);
        EXPECT_EQ(run.stop_reason, StopReason::Stagnation);
        for (const double value : run.history.convergence)
            expected.history.convergence.push_back(k == 0 || value < best ? value : best);
        for (const RowsView snapshot : run.history.positions) {
            EXPECT_EQ(snapshot.size(), c.n_particles);
            expected.history.positions.push_back(snapshot);
        }
        if (k == 0 || run.best_value < best) {
            best = run.best_value;
            expected.best_position = run.best_position;
        }
        iterations += run.history.convergence.size();
        evaluations += run.evaluations;
    }
    expected.best_value = best;
    expected.evaluations = evaluations;
    expected.stop_reason = StopReason::Stagnation;  // restarts ran out
    expect_same(searched.result, expected);
    EXPECT_NE(restart_seed(12, 1), restart_seed(13, 1));
    EXPECT_EQ(restart_seed(12, 0), 12u);
}

// Without an iteration limit, each run's inertia schedule spans the iterations its own
// evaluations allow, as the first run's spans the whole budget's.
TEST(RestartSearch, RunsWithoutAnIterationLimitScheduleOverTheirOwnBudget) {
    PsoConfig base = stagnating(kNoIterationLimit);
    base.max_evals = 60000;
    base.schedule_iter = iterations_within(60000, base.n_particles);
    const Searched searched = search(base, {3, 2.0});
    ASSERT_EQ(searched.configs.size(), 4u);
    for (const PsoConfig& c : searched.configs) {
        EXPECT_GT(c.max_iter, std::size_t{1} << 62);
        EXPECT_EQ(c.schedule_iter, iterations_within(*c.max_evals, c.n_particles));
    }
    EXPECT_LT(searched.configs[3].schedule_iter, searched.configs[0].schedule_iter);
}

struct EndCase {
    const char* name;
    std::size_t max_iter;
    std::optional<std::size_t> max_evals;
    std::optional<double> target;
    StopReason reason;
};

class RestartEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(RestartEnd, TheBudgetAndTheTargetEndTheSearch) {
    const EndCase& c = GetParam();
    PsoConfig base = stagnating(c.max_iter);
    base.max_evals = c.max_evals;
    base.target = c.target;
    const Searched searched = search(base, {50, 2.0});
    EXPECT_EQ(searched.result.stop_reason, c.reason) << c.name;
    ASSERT_GT(searched.configs.size(), 1u) << c.name;  // it did restart before it ended
    for (const PsoConfig& config : searched.configs) {  // each affords its first two rounds
        if (base.max_evals) {
            EXPECT_GE(*config.max_evals, 2 * config.n_particles);
        }
    }
    if (c.target) {
        EXPECT_LE(searched.result.best_value, *c.target);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestartEnd,
    ::testing::Values(EndCase{"iterations", 250, std::nullopt, std::nullopt,
                              StopReason::MaxIterations},
                      EndCase{"evaluations", 100000, 3000, std::nullopt, StopReason::MaxEvaluations},
                      EndCase{"target", 100000, std::nullopt, 1.0, StopReason::Target}));

TEST(MinDiameter, EndsARunOnceTheSwarmFitsInTheFraction) {
    PsoConfig config = stagnating(1000);
    config.min_diameter = 1.0;  // the whole box: the first iteration ends the run
    const Result whole = plain_run(config);
    EXPECT_EQ(whole.stop_reason, StopReason::Stagnation);
    EXPECT_EQ(whole.history.convergence.size(), 1u);
    config.min_diameter = 0.0;  // only a swarm in one point
    EXPECT_EQ(plain_run(config).stop_reason, StopReason::MaxIterations);
    config.min_diameter = -1.0;
    EXPECT_EQ(failure_of([&] { plain_run(config); }), "min_diameter must be >= 0 (got -1)");
}

}  // namespace
}  // namespace kestrelopt
