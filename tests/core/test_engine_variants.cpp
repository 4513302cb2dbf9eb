// Every velocity rule under every topology, in both run modes: a seeded run repeats bit
// for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/adaptive_random.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/topology/random.hpp"
#include "kestrelopt/topology/ring.hpp"
#include "kestrelopt/topology/von_neumann.hpp"
#include "kestrelopt/velocity/constriction.hpp"
#include "kestrelopt/velocity/fips.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "kestrelopt/velocity/spso2011.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

enum class Rule { Inertia, Constriction, Fips, Spso2011 };
enum class Shape { Global, Ring, VonNeumann, Random, AdaptiveRandom };
enum class Mode { Sequential, Batch };

constexpr std::size_t kParticles = 11;
constexpr std::size_t kIterations = 25;

std::unique_ptr<Velocity> make_velocity(Rule rule) {
    switch (rule) {
        case Rule::Inertia:
            return std::make_unique<InertiaVelocity>(0.7298, 1.49618, 1.49618);
        case Rule::Constriction:
            return std::make_unique<ConstrictionVelocity>(2.05, 2.05);
        case Rule::Fips:
            return std::make_unique<FipsVelocity>(4.1);
        case Rule::Spso2011:
            return std::make_unique<Spso2011Velocity>(
                Spso2011Velocity::kWeight, Spso2011Velocity::kAttraction,
                Spso2011Velocity::kAttraction, BallPoint::UniformRadius);
    }
    return nullptr;
}

std::unique_ptr<Topology> make_topology(Shape shape, std::uint64_t seed) {
    switch (shape) {
        case Shape::Global:
            return std::make_unique<GlobalBest>();
        case Shape::Ring:
            return std::make_unique<Ring>(Ring::lbest());
        case Shape::VonNeumann:
            return std::make_unique<VonNeumann>(VonNeumann::square_for(kParticles));
        case Shape::Random:
            return std::make_unique<Random>(3, seed);
        case Shape::AdaptiveRandom:
            return std::make_unique<AdaptiveRandom>(3, seed);
    }
    return nullptr;
}

PsoConfig config_for(std::uint64_t seed) {
    PsoConfig config;
    config.seed = seed;
    config.n_particles = kParticles;
    config.max_iter = kIterations;
    config.record_history = true;
    return config;
}

Pso<ContinuousSpace> make_engine(Rule rule, std::unique_ptr<Topology> topology,
                                 std::uint64_t seed) {
    return Pso<ContinuousSpace>(config_for(seed),
                                ContinuousSpace({{-5.0, 5.0}, {-5.0, 5.0}, {-2.0, 3.0}}),
                                make_velocity(rule), std::move(topology));
}

double sphere(std::span<const double> x) {
    double sum = 0.0;
    for (const double c : x) sum += c * c;
    return sum;
}

void sphere_batch(std::span<const std::vector<double>> positions, std::vector<double>& values) {
    for (const auto& x : positions) values.push_back(sphere(x));
}

PsoResult<double> run(const Pso<ContinuousSpace>& engine, Mode mode) {
    return mode == Mode::Sequential ? engine.run_sequential(sphere)
                                    : engine.minimize_batch(sphere_batch);
}

PsoResult<double> fresh_run(Rule rule, Shape shape, Mode mode, std::uint64_t seed) {
    return run(make_engine(rule, make_topology(shape, seed), seed), mode);
}

std::vector<std::uint64_t> bits_of(std::span<const double> xs) {
    std::vector<std::uint64_t> out;
    for (const double x : xs) out.push_back(bits(x));
    return out;
}

void expect_identical(const PsoResult<double>& a, const PsoResult<double>& b) {
    EXPECT_EQ(bits_of(a.best_position), bits_of(b.best_position));
    EXPECT_EQ(bits(a.best_value), bits(b.best_value));
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.stop_reason, b.stop_reason);
    EXPECT_EQ(bits_of(a.history.convergence), bits_of(b.history.convergence));
    ASSERT_EQ(a.history.positions.size(), b.history.positions.size());
    for (std::size_t t = 0; t < a.history.positions.size(); ++t) {
        ASSERT_EQ(a.history.positions[t].size(), b.history.positions[t].size());
        for (std::size_t p = 0; p < a.history.positions[t].size(); ++p)
            EXPECT_EQ(bits_of(a.history.positions[t][p]), bits_of(b.history.positions[t][p]))
                << "iteration " << t << ", particle " << p;
    }
}

bool same_trajectory(const PsoResult<double>& a, const PsoResult<double>& b) {
    if (a.history.positions.size() != b.history.positions.size()) return false;
    for (std::size_t t = 0; t < a.history.positions.size(); ++t)
        for (std::size_t p = 0; p < a.history.positions[t].size(); ++p)
            if (bits_of(a.history.positions[t][p]) != bits_of(b.history.positions[t][p]))
                return false;
    return true;
}

using Variant = std::tuple<Rule, Shape, Mode>;

class EngineVariants : public ::testing::TestWithParam<Variant> {};

TEST_P(EngineVariants, SameSeedRepeatsEveryBit) {
    const auto [rule, shape, mode] = GetParam();
    const auto first = fresh_run(rule, shape, mode, 314);
    const auto second = fresh_run(rule, shape, mode, 314);
    expect_identical(first, second);
    EXPECT_EQ(first.stop_reason, StopReason::MaxIterations);
    EXPECT_EQ(first.evaluations, kParticles * (kIterations + 1));
    EXPECT_EQ(first.history.positions.size(), kIterations);
    // The run is not stuck: it improves on its initial swarm and a new seed changes it.
    double initial_best = sphere(first.history.positions[0][0]);
    for (const auto& x : first.history.positions[0])
        initial_best = std::min(initial_best, sphere(x));
    EXPECT_LT(first.best_value, initial_best);
    EXPECT_FALSE(same_trajectory(first, fresh_run(rule, shape, mode, 315)));
}

std::string name_of(const ::testing::TestParamInfo<Variant>& info) {
    static const char* const rules[] = {"Inertia", "Constriction", "Fips", "Spso2011"};
    static const char* const shapes[] = {"Global", "Ring", "VonNeumann", "Random",
                                         "AdaptiveRandom"};
    static const char* const modes[] = {"Sequential", "Batch"};
    const auto [rule, shape, mode] = info.param;
    return std::string(rules[static_cast<int>(rule)]) + shapes[static_cast<int>(shape)] +
           modes[static_cast<int>(mode)];
}

INSTANTIATE_TEST_SUITE_P(All, EngineVariants,
                         ::testing::Combine(::testing::Values(Rule::Inertia, Rule::Constriction,
                                                              Rule::Fips, Rule::Spso2011),
                                            ::testing::Values(Shape::Global, Shape::Ring,
                                                              Shape::VonNeumann, Shape::Random,
                                                              Shape::AdaptiveRandom),
                                            ::testing::Values(Mode::Sequential, Mode::Batch)),
                         name_of);

TEST(EngineVariants, BothModesStartFromTheSameSwarm) {
    for (const Rule rule : {Rule::Inertia, Rule::Constriction, Rule::Fips}) {
        for (const Shape shape : {Shape::Ring, Shape::VonNeumann, Shape::Random}) {
            const auto sequential = fresh_run(rule, shape, Mode::Sequential, 27);
            const auto batch = fresh_run(rule, shape, Mode::Batch, 27);
            ASSERT_FALSE(sequential.history.positions.empty());
            ASSERT_FALSE(batch.history.positions.empty());
            for (std::size_t p = 0; p < kParticles; ++p)
                EXPECT_EQ(bits_of(sequential.history.positions[0][p]),
                          bits_of(batch.history.positions[0][p]));
        }
    }
}

TEST(EngineVariants, RandomTopologyStreamCarriesOverToTheNextRun) {
    const std::uint64_t seed = 61;
    const auto engine = make_engine(Rule::Constriction, make_topology(Shape::Random, seed), seed);
    const auto first = engine.run_sequential(sphere);
    const auto second = engine.run_sequential(sphere);
    // Same run generator, but the informants continue where the first run left them.
    EXPECT_FALSE(same_trajectory(first, second));

    // A fresh topology advanced by the first run's calls (one per particle and iteration)
    // reproduces the second run.
    auto advanced = std::make_unique<Random>(3, seed);
    const auto particles = swarm(kParticles);
    std::vector<std::size_t> scratch;
    for (std::size_t call = 0; call < kParticles * kIterations; ++call)
        advanced->neighbors_into(call % kParticles, particles, scratch);
    const auto replay = make_engine(Rule::Constriction, std::move(advanced), seed);
    expect_identical(second, replay.run_sequential(sphere));
}

}  // namespace
}  // namespace kestrelopt
