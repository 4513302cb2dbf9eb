#include "kestrelopt/topology/ring.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// The neighbourhood written out literally, offset by offset up to k.
List literal_ring(std::size_t i, std::size_t n, std::size_t k) {
    List list{i};
    for (std::size_t d = 1; d <= k; ++d) {
        const std::size_t c = d % n;
        if (c == 0) continue;
        const std::size_t right = (i + c) % n;
        const std::size_t left = (i + n - c) % n;
        if (std::find(list.begin(), list.end(), right) == list.end()) list.push_back(right);
        if (std::find(list.begin(), list.end(), left) == list.end()) list.push_back(left);
    }
    return list;
}

struct Example {
    std::size_t n;
    std::size_t k;
    std::size_t i;
    List expected;
};

class RingExamples : public ::testing::TestWithParam<Example> {};

TEST_P(RingExamples, ListsTheNeighbourhood) {
    const Example& e = GetParam();
    EXPECT_EQ(Ring(e.k).neighbors(e.i, swarm(e.n)), e.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RingExamples,
    ::testing::Values(Example{10, 1, 0, {0, 1, 9}}, Example{4, 2, 1, {1, 2, 0, 3}},
                      Example{2, 1, 0, {0, 1}}, Example{2, 1, 1, {1, 0}}, Example{1, 1, 0, {0}},
                      Example{1, 5, 0, {0}}, Example{10, 2, 9, {9, 0, 8, 1, 7}},
                      Example{5, 0, 3, {3}}, Example{0, 0, 4, {4}}, Example{3, 1, 2, {2, 0, 1}},
                      Example{6, 3, 0, {0, 1, 5, 2, 4, 3}}));

struct Size {
    std::size_t n;
    std::size_t k;
};

class RingAgainstLiteral : public ::testing::TestWithParam<Size> {};

TEST_P(RingAgainstLiteral, SameListForEveryParticle) {
    const auto [n, k] = GetParam();
    const auto particles = swarm(n);
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_EQ(Ring(k).neighbors(i, particles), literal_ring(i, n, k)) << "i = " << i;
}

std::vector<Size> all_small_sizes() {
    std::vector<Size> sizes;
    for (std::size_t n = 1; n <= 9; ++n)
        for (std::size_t k = 0; k <= 12; ++k) sizes.push_back({n, k});
    return sizes;
}

INSTANTIATE_TEST_SUITE_P(Small, RingAgainstLiteral, ::testing::ValuesIn(all_small_sizes()));

class RingWide : public ::testing::TestWithParam<Size> {};

TEST_P(RingWide, ListsEveryParticleOnceStartingWithItself) {
    const auto [n, k] = GetParam();
    const auto particles = swarm(n);
    for (std::size_t i = 0; i < n; ++i) {
        List list = Ring(k).neighbors(i, particles);
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(list.front(), i);
        std::sort(list.begin(), list.end());
        List all(n);
        for (std::size_t j = 0; j < n; ++j) all[j] = j;
        EXPECT_EQ(list, all) << "i = " << i;
    }
}

constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();

INSTANTIATE_TEST_SUITE_P(KAtLeastHalf, RingWide,
                         ::testing::Values(Size{4, 2}, Size{5, 2}, Size{6, 3}, Size{7, 3},
                                           Size{7, 10}, Size{2, 1}, Size{9, kHuge},
                                           Size{1, kHuge}));

TEST(Ring, LocalBestHasOneNeighbourEachSideAndIsTheDefault) {
    EXPECT_EQ(Ring::lbest().k(), 1u);
    EXPECT_EQ(Ring().k(), 1u);
    EXPECT_EQ(Ring().neighbors(3, swarm(8)), (List{3, 4, 2}));
}

TEST(Ring, EmptySwarmWithNeighboursStops) {
    try {
        Ring(1).neighbors(0, swarm(0));
        FAIL() << "expected a stop";
    } catch (const InternalFailure& e) {
        EXPECT_STREQ(e.what(), "Ring topology needs at least one particle");
    }
}

TEST(Ring, ReplacesTheListAndReusesItsStorage) {
    const auto particles = swarm(10);
    const Ring ring(2);
    List out{7, 7, 7, 7, 7, 7, 7, 7};
    const std::size_t* storage = out.data();
    for (std::size_t i = 0; i < 10; ++i) {
        ring.neighbors_into(i, particles, out);
        EXPECT_EQ(out, literal_ring(i, 10, 2));
        EXPECT_EQ(out.data(), storage);
    }
}

TEST(Ring, BestNeighbourIsTheBestOfTheList) {
    // Values by index; particle 0's ring is [0, 1, 5]: 5 holds the smallest value there,
    // although 3 holds the smallest of the swarm.
    const auto particles = swarm(6, {4.0, 3.0, 9.0, 0.5, 2.0, 1.0});
    EXPECT_EQ(Ring::lbest().best_neighbor(0, particles), 5u);
    EXPECT_EQ(Ring::lbest().best_neighbor(2, particles), 3u);
    EXPECT_EQ(Ring::lbest().best_neighbor(4, particles), 3u);
}

}  // namespace
}  // namespace kestrelopt
