#include "kestrelopt/topology/adaptive_random.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "count_allocations.hpp"
#include "kestrelopt/failure.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/state_codec.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "kestrelopt/velocity/spso2011.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// The links drawn and listed plainly: who each particle informs, then for each particle
// itself and whoever drew it, scanning the informants in index order.
std::vector<List> literal_links(RandomSource& gen, std::size_t n, std::size_t k) {
    std::vector<List> informs(n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < k; ++c) informs[i].push_back(index_below(gen, n));
    std::vector<List> lists(n);
    for (std::size_t j = 0; j < n; ++j) {
        lists[j].push_back(j);
        for (std::size_t i = 0; i < n; ++i)
            if (i != j && std::find(informs[i].begin(), informs[i].end(), j) != informs[i].end())
                lists[j].push_back(i);
    }
    return lists;
}

std::vector<List> lists_of(const AdaptiveRandom& topology, std::size_t n) {
    const auto particles = swarm(n);
    std::vector<List> lists;
    for (std::size_t i = 0; i < n; ++i) lists.push_back(topology.neighbors(i, particles));
    return lists;
}

struct Case {
    std::size_t n;
    std::size_t k;
    std::uint64_t seed;
};

class AdaptiveAgainstLiteral : public ::testing::TestWithParam<Case> {};

TEST_P(AdaptiveAgainstLiteral, RedrawsOnlyAfterAnIterationWithoutImprovement) {
    const auto [n, k, seed] = GetParam();
    AdaptiveRandom topology(k, seed);
    RandomSource mirror = RandomSource::seed_from_u64(seed);
    std::vector<List> expected = literal_links(mirror, n, k);
    // improved after each round: the links stay while it is true.
    const bool improved[] = {true, false, true, true, false, false, true};
    for (std::size_t round = 0; round < std::size(improved) + 1; ++round) {
        EXPECT_EQ(lists_of(topology, n), expected) << "round " << round;
        if (round == std::size(improved)) break;
        topology.iteration_done(improved[round]);
        EXPECT_EQ(topology.stale(), !improved[round]);
        if (!improved[round]) expected = literal_links(mirror, n, k);
    }
    // Nothing was drawn but the links: the generators are in step.
    StateWriter saved;
    topology.save(saved);
    StateWriter reference;
    mirror.save(reference);
    EXPECT_TRUE(
        std::equal(reference.bytes().begin(), reference.bytes().end(), saved.bytes().begin()));
}

INSTANTIATE_TEST_SUITE_P(Swarms, AdaptiveAgainstLiteral,
                         ::testing::Values(Case{2, 1, 0}, Case{3, 3, 1}, Case{10, 3, 2},
                                           Case{40, 3, 3}, Case{7, 12, 4}, Case{25, 1, 5},
                                           Case{100, 5, 6}, Case{64, 2, 7}));

TEST(AdaptiveRandom, ListsStartWithTheParticleAndHoldEachInformantOnce) {
    const AdaptiveRandom topology(3, 11);
    const auto lists = lists_of(topology, 30);
    std::size_t links = 0;
    for (std::size_t j = 0; j < 30; ++j) {
        EXPECT_EQ(lists[j].front(), j);
        EXPECT_TRUE(std::is_sorted(lists[j].begin() + 1, lists[j].end()));
        EXPECT_EQ(std::adjacent_find(lists[j].begin() + 1, lists[j].end()), lists[j].end());
        EXPECT_EQ(std::count(lists[j].begin(), lists[j].end(), j), 1);
        links += lists[j].size() - 1;
    }
    // At most k others per informing particle; fewer only through repeats.
    EXPECT_LE(links, 90u);
    EXPECT_GT(links, 60u);
}

TEST(AdaptiveRandom, SmallSwarmsAndBadArguments) {
    const AdaptiveRandom topology(3, 42);
    EXPECT_EQ(topology.neighbors(0, swarm(1)), (List{0}));
    EXPECT_EQ(topology.neighbors(5, swarm(0)), (List{5}));
    EXPECT_TRUE(topology.stale());  // nothing drawn for them
    EXPECT_EQ(failure_of([&] { topology.neighbors(4, swarm(4)); }),
              "AdaptiveRandom topology: particle index out of range");
    EXPECT_EQ(failure_of([] { AdaptiveRandom none(0, 1); }),
              "AdaptiveRandom topology needs k >= 1 informants");
    // Another swarm size draws links for it.
    const AdaptiveRandom other(3, 42);
    RandomSource mirror = RandomSource::seed_from_u64(42);
    EXPECT_EQ(lists_of(other, 5), literal_links(mirror, 5, 3));
    EXPECT_EQ(lists_of(other, 8), literal_links(mirror, 8, 3));
}

TEST(AdaptiveRandom, CheckpointCarriesLinksStalenessAndGenerator) {
    for (const bool improved : {true, false}) {
        AdaptiveRandom topology(3, 5);
        lists_of(topology, 12);
        topology.iteration_done(improved);
        StateWriter out;
        topology.save(out);
        AdaptiveRandom copy(3, 999);
        StateReader in(out.bytes());
        copy.load(in);
        in.finish();
        EXPECT_EQ(copy.stale(), topology.stale());
        for (int round = 0; round < 3; ++round) {
            EXPECT_EQ(lists_of(copy, 12), lists_of(topology, 12));
            copy.iteration_done(false);
            topology.iteration_done(false);
        }
    }
}

TEST(AdaptiveRandom, DamagedCheckpointsStop) {
    AdaptiveRandom topology(3, 5);
    lists_of(topology, 4);
    StateWriter out;
    topology.save(out);
    const std::vector<std::uint8_t> good = out.bytes();
    auto load = [&](const std::vector<std::uint8_t>& bytes) {
        return failure_of([&] {
            AdaptiveRandom fresh(3, 0);
            StateReader in(bytes);
            fresh.load(in);
        });
    };
    EXPECT_EQ(load(good), "(no failure)");
    EXPECT_EQ(load(std::vector<std::uint8_t>(good.begin(), good.end() - 8)),
              "malformed checkpoint: it ends too soon");
    std::vector<std::uint8_t> outside = good;
    outside[outside.size() - 8] = 4;  // the last link points past the swarm
    EXPECT_EQ(load(outside), "malformed checkpoint: a particle the topology links is out of range");
}

TEST(AdaptiveRandom, NoAllocationOnceTheLinksExist) {
    AdaptiveRandom topology(3, 13);
    const auto particles = swarm(50);
    List out;
    for (std::size_t i = 0; i < 50; ++i) topology.neighbors_into(i, particles, out);
    count_allocations::AllocationCount count;
    for (int round = 0; round < 20; ++round) {
        topology.iteration_done(round % 2 == 0);
        for (std::size_t i = 0; i < 50; ++i) topology.neighbors_into(i, particles, out);
    }
    EXPECT_EQ(count.value(), 0u);
}

// Wraps the topology and records what the engine tells it after each iteration.
class Told final : public Topology {
  public:
    explicit Told(std::vector<bool>* told) : told_(told) {}
    void neighbors_into(std::size_t i, std::span<const Particle> particles,
                        std::vector<std::size_t>& out) const override {
        inner_.neighbors_into(i, particles, out);
    }
    void iteration_done(bool improved) override {
        told_->push_back(improved);
        inner_.iteration_done(improved);
    }

  private:
    AdaptiveRandom inner_{3, 7};
    std::vector<bool>* told_;
};

TEST(AdaptiveRandom, TheEngineTellsWhetherTheGlobalBestImproved) {
    PsoConfig config;
    config.seed = 4;
    config.n_particles = 8;
    config.max_iter = 40;
    auto rastrigin = [](std::span<const double> y) {
        double s = 0.0;
        for (const double c : y) s += c * c - 10.0 * std::cos(6.283185307179586 * c) + 10.0;
        return s;
    };
    for (const bool batch : {false, true}) {
        std::vector<bool> told;
        const Pso<ContinuousSpace> engine(config, ContinuousSpace({{-5, 5}, {-5, 5}, {-5, 5}}),
                                          std::make_unique<Spso2011Velocity>(),
                                          std::make_unique<Told>(&told));
        const auto result = batch
                                ? engine.minimize_batch([&](std::span<const std::vector<double>> xs,
                                                            std::vector<double>& values) {
                                      for (const auto& x : xs) values.push_back(rastrigin(x));
                                  })
                                : engine.run_sequential(rastrigin);
        const auto& curve = result.history.convergence;
        ASSERT_EQ(curve.size(), 40u);
        ASSERT_EQ(told.size(), 41u);
        EXPECT_FALSE(told[0]);  // the first swarm's evaluation
        std::size_t stalls = 0;
        for (std::size_t t = 1; t < curve.size(); ++t) {
            EXPECT_EQ(told[t + 1], curve[t] < curve[t - 1]) << "iteration " << t;
            stalls += !told[t + 1];
        }
        EXPECT_GT(stalls, 0u);
        EXPECT_LT(stalls, 39u);
    }
}

// The topology behind the interface alone, so that the engine copies each list and scans
// it with best_among instead of reading the list in place.
class Plain final : public Topology {
  public:
    Plain(std::size_t k, std::uint64_t seed) : inner_(k, seed) {}
    void neighbors_into(std::size_t i, std::span<const Particle> particles,
                        std::vector<std::size_t>& out) const override {
        inner_.neighbors_into(i, particles, out);
    }
    void iteration_done(bool improved) override { inner_.iteration_done(improved); }

  private:
    AdaptiveRandom inner_;
};

struct EngineCase {
    std::uint64_t seed;
    std::size_t dims;
    std::size_t particles;
    int rule;  // 0 spso2011, 1 spso2011 with uniform radius, 2 inertia
    std::size_t patience;
    bool holes = false;  // NaN over part of the box, to exercise the NaN rule of the choice
};

class InPlaceAgainstPlain : public ::testing::TestWithParam<EngineCase> {};

TEST_P(InPlaceAgainstPlain, SameBitsInBothModes) {
    const auto [seed, dims, n, rule, patience, holes] = GetParam();
    PsoConfig config;
    config.seed = seed;
    config.n_particles = n;
    config.max_iter = 60;
    config.patience = patience;
    config.record_swarm = true;
    auto rastrigin = [holes](std::span<const double> y) {
        if (holes && y[0] > 1.0) return kNaN;
        double s = 0.0;
        for (const double c : y) s += c * c - 10.0 * std::cos(6.283185307179586 * c) + 10.0;
        return s;
    };
    auto velocity = [rule]() -> std::unique_ptr<Velocity> {
        if (rule == 2) return std::make_unique<InertiaVelocity>(0.729, 1.49445, 1.49445);
        return std::make_unique<Spso2011Velocity>(
            Spso2011Velocity::kWeight, Spso2011Velocity::kAttraction, Spso2011Velocity::kAttraction,
            rule == 0 ? BallPoint::Uniform : BallPoint::UniformRadius);
    };
    const ContinuousSpace box(std::vector<Bound>(dims, {-5.12, 5.12}));
    const Pso<ContinuousSpace> in_place(config, box, velocity(),
                                        std::make_unique<AdaptiveRandom>(3, seed + 1));
    const Pso<ContinuousSpace> plain(config, box, velocity(), std::make_unique<Plain>(3, seed + 1));
    for (const bool batch : {false, true}) {
        auto run = [&](const Pso<ContinuousSpace>& engine) {
            return batch ? engine.minimize_batch([&](std::span<const std::vector<double>> xs,
                                                     std::vector<double>& values) {
                for (const auto& x : xs) values.push_back(rastrigin(x));
            })
                         : engine.run_sequential(rastrigin);
        };
        const auto got = run(in_place);
        const auto want = run(plain);
        EXPECT_EQ(bits(got.best_value), bits(want.best_value)) << "batch " << batch;
        expect_same_bits(got.best_position, want.best_position);
        expect_same_bits(got.history.convergence, want.history.convergence);
        EXPECT_EQ(got.evaluations, want.evaluations);
        EXPECT_EQ(got.stop_reason, want.stop_reason);
        EXPECT_EQ(got.history.positions.size(), want.history.positions.size());
        expect_same_bits(as_vector(got.history.positions.values()),
                         as_vector(want.history.positions.values()));
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, InPlaceAgainstPlain,
                         ::testing::Values(EngineCase{1, 2, 5, 0, 0}, EngineCase{2, 10, 40, 1, 0},
                                           EngineCase{3, 30, 20, 2, 0}, EngineCase{4, 5, 12, 0, 8},
                                           EngineCase{5, 1, 2, 1, 3}, EngineCase{6, 8, 1, 2, 0},
                                           EngineCase{7, 4, 16, 0, 0, true},
                                           EngineCase{8, 12, 30, 2, 0, true}));

}  // namespace
}  // namespace kestrelopt
