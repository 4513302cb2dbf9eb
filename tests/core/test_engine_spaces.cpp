// The engine over the integer, mixed and grey spaces: both run modes, seeded determinism,
// and what the objective sees of the decoded positions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/grey.hpp"
#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/spaces/mixed.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;
using enum VarType;

PsoConfig config_with(std::uint64_t seed, BoundaryMode mode = BoundaryMode::Clamp) {
    PsoConfig config;
    config.seed = seed;
    config.n_particles = 12;
    config.max_iter = 25;
    config.record_history = true;
    config.boundary = mode;
    return config;
}

template <class S>
Pso<S> engine(S space, PsoConfig config) {
    return Pso<S>(config, std::move(space),
                  std::make_unique<InertiaVelocity>(0.7298, 1.49618, 1.49618),
                  std::make_unique<GlobalBest>());
}

void expect_same_history(const History& a, const History& b) {
    ASSERT_EQ(a.convergence.size(), b.convergence.size());
    for (std::size_t t = 0; t < a.convergence.size(); ++t)
        EXPECT_EQ(bits(a.convergence[t]), bits(b.convergence[t])) << "iteration " << t;
    ASSERT_EQ(a.positions.size(), b.positions.size());
    for (std::size_t t = 0; t < a.positions.size(); ++t) {
        ASSERT_EQ(a.positions[t].size(), b.positions[t].size());
        for (std::size_t p = 0; p < a.positions[t].size(); ++p) {
            ASSERT_EQ(a.positions[t][p].size(), b.positions[t][p].size());
            for (std::size_t d = 0; d < a.positions[t][p].size(); ++d)
                EXPECT_EQ(bits(a.positions[t][p][d]), bits(b.positions[t][p][d]));
        }
    }
}

template <class T>
void expect_same_result(const PsoResult<T>& a, const PsoResult<T>& b) {
    EXPECT_EQ(bits(a.best_value), bits(b.best_value));
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.stop_reason, b.stop_reason);
    ASSERT_EQ(a.best_position.size(), b.best_position.size());
    if constexpr (std::is_same_v<T, double>) {
        for (std::size_t i = 0; i < a.best_position.size(); ++i)
            EXPECT_EQ(bits(a.best_position[i]), bits(b.best_position[i]));
    } else {
        EXPECT_EQ(a.best_position, b.best_position);
    }
    expect_same_history(a.history, b.history);
}

// The initial swarm recorded in positions[0] is what the space draws, particle by particle
// (sample, then sample_velocity), from a fresh generator with the run's seed.
template <class S>
void expect_initial_swarm_drawn_by_space(const S& space, std::uint64_t seed, const History& history,
                                         std::size_t n_particles) {
    ASSERT_FALSE(history.positions.empty());
    ASSERT_EQ(history.positions[0].size(), n_particles);
    auto gen = RandomSource::seed_from_u64(seed);
    for (std::size_t p = 0; p < n_particles; ++p) {
        const auto x = space.sample(gen);
        space.sample_velocity(gen);
        ASSERT_EQ(x.size(), history.positions[0][p].size());
        for (std::size_t d = 0; d < x.size(); ++d)
            EXPECT_EQ(bits(x[d]), bits(history.positions[0][p][d])) << "particle " << p;
    }
}

// ---- IntegerSpace ----

IntegerSpace integer_space() {
    return IntegerSpace({{-10, 10}, {0, 1}, {-3, 3}, {5, 5}});
}

// (x0 - 3)^2 + (x1 - 1)^2 + |x2 + 2| + x3, in integers.
double integer_objective(std::span<const std::int64_t> x) {
    const auto a = x[0] - 3, b = x[1] - 1, c = x[2] + 2;
    return static_cast<double>(a * a + b * b + (c < 0 ? -c : c) + x[3]);
}

bool integer_in_bounds(const IntegerSpace& space, std::span<const std::int64_t> x) {
    if (x.size() != space.dimensions()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (x[i] < space.bounds()[i].first || x[i] > space.bounds()[i].second) return false;
    return true;
}

class IntegerEngine : public ::testing::TestWithParam<BoundaryMode> {};

TEST_P(IntegerEngine, SequentialRunIsSeededAndDecodesIntoTheBounds) {
    const auto pso = engine(integer_space(), config_with(7, GetParam()));
    bool all_in_bounds = true;
    auto objective = [&](std::span<const std::int64_t> x) {
        all_in_bounds = all_in_bounds && integer_in_bounds(pso.space(), x);
        return integer_objective(x);
    };
    const auto first = pso.run_sequential(objective);
    const auto second = pso.run_sequential(objective);
    EXPECT_TRUE(all_in_bounds);
    expect_same_result(first, second);
    EXPECT_EQ(first.evaluations, 12u * 26u);
    EXPECT_EQ(first.stop_reason, StopReason::MaxIterations);
    EXPECT_TRUE(integer_in_bounds(pso.space(), first.best_position));
    EXPECT_EQ(first.best_value, integer_objective(first.best_position));
    expect_initial_swarm_drawn_by_space(pso.space(), 7, first.history, 12);

    const auto other =
        engine(integer_space(), config_with(8, GetParam())).run_sequential(objective);
    EXPECT_NE(bits(other.history.positions[0][0][0]), bits(first.history.positions[0][0][0]));
}

TEST_P(IntegerEngine, BatchRunIsSeededAndStartsFromTheSameSwarm) {
    const auto pso = engine(integer_space(), config_with(7, GetParam()));
    std::size_t calls = 0;
    auto batch = [&](std::span<const std::vector<std::int64_t>> xs, std::vector<double>& values) {
        ++calls;
        for (const auto& x : xs) {
            EXPECT_TRUE(integer_in_bounds(pso.space(), x));
            values.push_back(integer_objective(x));
        }
    };
    const auto first = pso.minimize_batch(batch);
    const auto second = pso.minimize_batch(batch);
    expect_same_result(first, second);
    EXPECT_EQ(calls, 2u * 26u);
    EXPECT_EQ(first.evaluations, 12u * 26u);
    EXPECT_EQ(first.best_value, integer_objective(first.best_position));

    const auto sequential = pso.run_sequential(integer_objective);
    ASSERT_FALSE(sequential.history.positions.empty());
    EXPECT_EQ(sequential.history.positions[0], first.history.positions[0]);
}

INSTANTIATE_TEST_SUITE_P(Modes, IntegerEngine,
                         ::testing::Values(BoundaryMode::Clamp, BoundaryMode::Reflect,
                                           BoundaryMode::Wrap, BoundaryMode::Reinit));

// ---- MixedSpace ----

MixedSpace mixed_space() {
    return MixedSpace({{-2.0, 2.0}, {0.4, 6.6}, {9.0, -9.0}, {-1.0, 1.0}},
                      {Real, Integer, Binary, Real});
}

double mixed_objective(std::span<const double> x) {
    return (x[0] - 0.5) * (x[0] - 0.5) + std::fabs(x[1] - 4.0) + (1.0 - x[2]) + x[3] * x[3];
}

bool mixed_well_formed(std::span<const double> x) {
    return x.size() == 4 && x[1] == std::round(x[1]) && x[1] >= 0.0 && x[1] <= 7.0 &&
           (x[2] == 0.0 || x[2] == 1.0);
}

class MixedEngine : public ::testing::TestWithParam<BoundaryMode> {};

TEST_P(MixedEngine, SequentialRunIsSeededAndDecodesIntegralValues) {
    const auto pso = engine(mixed_space(), config_with(11, GetParam()));
    bool well_formed = true;
    auto objective = [&](std::span<const double> x) {
        well_formed = well_formed && mixed_well_formed(x);
        return mixed_objective(x);
    };
    const auto first = pso.run_sequential(objective);
    const auto second = pso.run_sequential(objective);
    EXPECT_TRUE(well_formed);
    expect_same_result(first, second);
    EXPECT_EQ(first.evaluations, 12u * 26u);
    EXPECT_TRUE(mixed_well_formed(first.best_position));
    EXPECT_EQ(bits(first.best_value), bits(mixed_objective(first.best_position)));
    expect_initial_swarm_drawn_by_space(pso.space(), 11, first.history, 12);
}

TEST_P(MixedEngine, BatchRunIsSeededAndStartsFromTheSameSwarm) {
    const auto pso = engine(mixed_space(), config_with(11, GetParam()));
    auto batch = [&](std::span<const std::vector<double>> xs, std::vector<double>& values) {
        for (const auto& x : xs) {
            EXPECT_TRUE(mixed_well_formed(x));
            values.push_back(mixed_objective(x));
        }
    };
    const auto first = pso.minimize_batch(batch);
    const auto second = pso.minimize_batch(batch);
    expect_same_result(first, second);
    EXPECT_EQ(bits(first.best_value), bits(mixed_objective(first.best_position)));
    const auto sequential = pso.run_sequential(mixed_objective);
    const auto first_snapshot = [](const History& history) {
        History only;
        only.positions.push_back(history.positions[0]);
        return only;
    };
    expect_same_history(first_snapshot(sequential.history), first_snapshot(first.history));
}

INSTANTIATE_TEST_SUITE_P(Modes, MixedEngine,
                         ::testing::Values(BoundaryMode::Clamp, BoundaryMode::Reflect,
                                           BoundaryMode::Wrap, BoundaryMode::Reinit));

TEST(MixedEngine, AllRealRunMatchesTheContinuousRunBitForBit) {
    const std::vector<Bound> bounds{{-5.12, 5.12}, {-1.0, 3.0}, {0.0, 0.0}};
    const auto mixed = engine(MixedSpace(bounds, {Real, Real, Real}), config_with(3));
    const auto continuous = engine(ContinuousSpace(bounds), config_with(3));
    auto sphere = [](std::span<const double> x) {
        double sum = 0.0;
        for (const double c : x) sum = sum + c * c;
        return sum;
    };
    expect_same_result(mixed.run_sequential(sphere), continuous.run_sequential(sphere));
}

// ---- GreySpace ----

GreySpace grey_space() {
    return GreySpace({{-5, 5}, {0, 10}, {2, 3}},
                     {std::numeric_limits<double>::infinity(), 0.75, 0.0});
}

// Wants centers near (1, 4, 2.5) and spreads near (0.5, 0.75, 0).
double grey_objective(std::span<const Grey> g) {
    double sum = 0.0;
    const double centers[] = {1.0, 4.0, 2.5}, spreads[] = {0.5, 0.75, 0.0};
    for (std::size_t i = 0; i < g.size(); ++i)
        sum = sum + (g[i].center - centers[i]) * (g[i].center - centers[i]) +
              std::fabs(g[i].spread - spreads[i]);
    return sum;
}

bool grey_feasible(const GreySpace& space, std::span<const double> x) {
    if (x.size() != 2 * space.variables()) return false;
    for (std::size_t i = 0; i < space.variables(); ++i) {
        const auto [lo, hi] = space.bounds()[i];
        if (!(x[2 * i] >= lo && x[2 * i] <= hi)) return false;
        if (!(x[2 * i + 1] >= 0.0 && x[2 * i + 1] <= space.spread_limit(i, x[2 * i]))) return false;
    }
    return true;
}

TEST(GreyEngine, SequentialRunIsSeededAndStaysFeasible) {
    // The boundary mode is ignored by the grey space: Reinit must not draw.
    for (const BoundaryMode mode : {BoundaryMode::Clamp, BoundaryMode::Reinit}) {
        const auto pso = engine(grey_space(), config_with(5, mode));
        bool spreads_non_negative = true;
        auto objective = [&](std::span<const Grey> g) {
            EXPECT_EQ(g.size(), 3u);
            for (const Grey& x : g) spreads_non_negative = spreads_non_negative && x.spread >= 0.0;
            return grey_objective(g);
        };
        const auto first = pso.run_sequential(objective);
        const auto second = pso.run_sequential(objective);
        EXPECT_TRUE(spreads_non_negative);
        expect_same_result(first, second);
        EXPECT_EQ(first.evaluations, 12u * 26u);
        EXPECT_EQ(first.best_value, grey_objective(first.best_position));
        EXPECT_EQ(first.best_position[2].spread, 0.0);
        for (const auto& swarm : first.history.positions)
            for (const auto& x : swarm) EXPECT_TRUE(grey_feasible(pso.space(), x));
        for (std::size_t t = 1; t < first.history.convergence.size(); ++t)
            EXPECT_LE(first.history.convergence[t], first.history.convergence[t - 1]);
        expect_initial_swarm_drawn_by_space(pso.space(), 5, first.history, 12);
    }
    // Same seed, the mode does not matter at all.
    const auto clamp = engine(grey_space(), config_with(5, BoundaryMode::Clamp));
    const auto reinit = engine(grey_space(), config_with(5, BoundaryMode::Reinit));
    expect_same_result(clamp.run_sequential(grey_objective), reinit.run_sequential(grey_objective));
}

}  // namespace
}  // namespace kestrelopt
