#include "kestrelopt/topology/random.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// The drawing procedure written out against a generator of the same seed.
List literal_random(RandomSource& gen, std::size_t i, std::size_t n, std::size_t k) {
    const std::size_t m = n == 0 ? 0 : std::min(n - 1, k);
    List list{i};
    while (list.size() <= m) {
        const std::size_t j = index_below(gen, n);
        if (std::find(list.begin(), list.end(), j) == list.end()) list.push_back(j);
    }
    return list;
}

struct Case {
    std::size_t n;
    std::size_t k;
    std::uint64_t seed;
};

class RandomAgainstLiteral : public ::testing::TestWithParam<Case> {};

TEST_P(RandomAgainstLiteral, DrawsTheSameInformantsInOrder) {
    const auto [n, k, seed] = GetParam();
    const Random topology(k, seed);
    RandomSource mirror = RandomSource::seed_from_u64(seed);
    const auto particles = swarm(n);
    for (int round = 0; round < 5; ++round)
        for (std::size_t i = 0; i < n; ++i)
            EXPECT_EQ(topology.neighbors(i, particles), literal_random(mirror, i, n, k))
                << "round " << round << ", i = " << i;
}

INSTANTIATE_TEST_SUITE_P(Swarms, RandomAgainstLiteral,
                         ::testing::Values(Case{10, 3, 0}, Case{30, 3, 7}, Case{4, 3, 1},
                                           Case{3, 3, 2}, Case{2, 1, 3}, Case{8, 7, 4},
                                           Case{8, 20, 5}, Case{50, 1, 6}));

class RandomShape : public ::testing::TestWithParam<Case> {};

TEST_P(RandomShape, ItselfThenMDistinctOthers) {
    const auto [n, k, seed] = GetParam();
    const Random topology(k, seed);
    const auto particles = swarm(n);
    const std::size_t m = std::min(n - 1, k);
    for (int round = 0; round < 20; ++round) {
        for (std::size_t i = 0; i < n; ++i) {
            List list = topology.neighbors(i, particles);
            ASSERT_EQ(list.size(), m + 1);
            EXPECT_EQ(list.front(), i);
            for (const std::size_t j : list) EXPECT_LT(j, n);
            std::sort(list.begin(), list.end());
            EXPECT_EQ(std::adjacent_find(list.begin(), list.end()), list.end());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Swarms, RandomShape,
                         ::testing::Values(Case{3, 3, 0}, Case{5, 10, 1}, Case{12, 3, 2},
                                           Case{2, 1, 3}, Case{6, 5, 4}));

TEST(Random, SwarmOfThreeWithKThreeListsEveryone) {
    const Random topology(3, 11);
    const auto particles = swarm(3);
    for (std::size_t i = 0; i < 3; ++i) {
        List list = topology.neighbors(i, particles);
        EXPECT_EQ(list.front(), i);
        std::sort(list.begin(), list.end());
        EXPECT_EQ(list, (List{0, 1, 2}));
    }
}

TEST(Random, LoneParticleIsItsOwnNeighbourhoodWithoutDrawing) {
    const Random used(3, 42);
    const Random untouched(3, 42);
    for (int call = 0; call < 10; ++call) EXPECT_EQ(used.neighbors(0, swarm(1)), (List{0}));
    EXPECT_EQ(used.neighbors(4, swarm(0)), (List{4}));
    // Had those calls drawn, the two streams would now be out of step.
    const auto particles = swarm(10);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(used.neighbors(i, particles), untouched.neighbors(i, particles));
}

TEST(Random, SameSeedSameNeighbourhoodsOtherSeedOthers) {
    const Random a(3, 99);
    const Random b(3, 99);
    const Random c(3, 100);
    const auto particles = swarm(20);
    bool differs = false;
    for (int round = 0; round < 5; ++round) {
        for (std::size_t i = 0; i < 20; ++i) {
            const List la = a.neighbors(i, particles);
            EXPECT_EQ(la, b.neighbors(i, particles));
            differs |= la != c.neighbors(i, particles);
        }
    }
    EXPECT_TRUE(differs);
}

TEST(Random, DrawsAnewOnEveryCall) {
    const Random topology(3, 8);
    const auto particles = swarm(40);
    const List first = topology.neighbors(0, particles);
    bool changed = false;
    for (int call = 0; call < 10; ++call) changed |= topology.neighbors(0, particles) != first;
    EXPECT_TRUE(changed);
}

TEST(Random, ZeroInformantsStops) {
    try {
        Random topology(0, 5);
        FAIL() << "expected a stop";
    } catch (const InternalFailure& e) {
        EXPECT_STREQ(e.what(), "Random topology needs k >= 1 informants");
    }
    EXPECT_EQ(Random(1, 5).k(), 1u);
}

TEST(Random, BestNeighbourDrawsAFreshNeighbourhood) {
    const Random topology(2, 31);
    const Random twin(2, 31);
    const auto particles = swarm(9, {5, 3, 8, 1, 7, 2, 6, 4, 9});
    for (std::size_t i = 0; i < 9; ++i) {
        const List list = twin.neighbors(i, particles);
        EXPECT_EQ(topology.best_neighbor(i, particles), best_among(particles, list, i));
    }
}

TEST(Random, ReplacesTheListAndReusesItsStorage) {
    const Random topology(3, 17);
    RandomSource mirror = RandomSource::seed_from_u64(17);
    const auto particles = swarm(25);
    List out{1, 1, 1, 1, 1, 1};
    const std::size_t* storage = out.data();
    for (std::size_t i = 0; i < 25; ++i) {
        topology.neighbors_into(i, particles, out);
        EXPECT_EQ(out, literal_random(mirror, i, 25, 3));
        EXPECT_EQ(out.data(), storage);
    }
}

TEST(ExclusiveUse, SecondUseWhileHeldStopsAndReleaseFreesIt) {
    std::atomic<bool> busy{false};
    {
        const detail::ExclusiveUse outer(busy, "Random topology used re-entrantly");
        EXPECT_TRUE(busy.load());
        try {
            const detail::ExclusiveUse inner(busy, "Random topology used re-entrantly");
            FAIL() << "expected a stop";
        } catch (const InternalFailure& e) {
            EXPECT_STREQ(e.what(), "Random topology used re-entrantly");
        }
        // The failed attempt leaves the flag to its holder.
        EXPECT_TRUE(busy.load());
    }
    EXPECT_FALSE(busy.load());
    const detail::ExclusiveUse again(busy, "Random topology used re-entrantly");
    EXPECT_TRUE(busy.load());
}

TEST(ExclusiveUse, ReleasedWhenTheHolderUnwinds) {
    std::atomic<bool> busy{false};
    try {
        const detail::ExclusiveUse use(busy, "in use");
        fail("something inside the call");
    } catch (const InternalFailure&) {
    }
    EXPECT_FALSE(busy.load());
}

TEST(Random, GuardIsReleasedAfterEveryCall) {
    // Thousands of calls in a row, each of which would stop if the previous one had left
    // the generator marked in use.
    const Random topology(3, 23);
    const auto particles = swarm(15);
    List out;
    for (int round = 0; round < 200; ++round)
        for (std::size_t i = 0; i < 15; ++i)
            ASSERT_NO_THROW(topology.neighbors_into(i, particles, out));
}

}  // namespace
}  // namespace kestrelopt
