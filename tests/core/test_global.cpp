#include "kestrelopt/topology/global.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

TEST(BestAmong, EmptyListGivesTheFallback) {
    const auto particles = swarm(2, {1, 2});
    EXPECT_EQ(best_among(particles, {}, 1), 1u);
}

TEST(BestAmong, TieKeepsTheIndexListedFirst) {
    auto particles = swarm(8, std::vector<double>(8, 9.0));
    particles[5].best_value = 3.0;
    particles[2].best_value = 1.0;
    particles[7].best_value = 1.0;
    const std::vector<std::size_t> listed{5, 2, 7};
    EXPECT_EQ(best_among(particles, listed, 0), 2u);
    const std::vector<std::size_t> reversed{7, 2, 5};
    EXPECT_EQ(best_among(particles, reversed, 0), 7u);
}

TEST(BestAmong, NaNNeverBeatsANumber) {
    const auto particles = swarm(3, {kNaN, 4.0, kNaN});
    EXPECT_EQ(best_among(particles, std::vector<std::size_t>{0, 1}, 0), 1u);
    EXPECT_EQ(best_among(particles, std::vector<std::size_t>{1, 0}, 0), 1u);
    EXPECT_EQ(best_among(particles, std::vector<std::size_t>{0, 2}, 1), 0u);
}

TEST(BestAmong, IndexOutsideTheSwarmIsAStop) {
    const auto particles = swarm(2, {1, 2});
    EXPECT_THROW(best_among(particles, std::vector<std::size_t>{0, 2}, 0), InternalFailure);
}

TEST(GlobalBest, ListsEveryParticleInOrderForEveryI) {
    const auto particles = swarm(4, {5, 1, 1, 3});
    const GlobalBest topology;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(topology.neighbors(i, particles), (std::vector<std::size_t>{0, 1, 2, 3}));
        EXPECT_EQ(topology.best_neighbor(i, particles), 1u);
    }
    EXPECT_TRUE(topology.whole_swarm_in_order());
}

}  // namespace
}  // namespace kestrelopt
