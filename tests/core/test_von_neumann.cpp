#include "kestrelopt/topology/von_neumann.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// The neighbourhood written out with the modular formulas as they read.
List literal_grid(std::size_t i, std::size_t n, std::size_t rows, std::size_t cols) {
    const std::size_t r = i / cols;
    const std::size_t c = i % cols;
    const std::size_t candidates[] = {
        ((r + rows - 1) % rows) * cols + c, ((r + 1) % rows) * cols + c,
        r * cols + ((c + cols - 1) % cols), r * cols + (c + 1 == cols ? 0 : c + 1)};
    List list{i};
    for (const std::size_t j : candidates)
        if (j < n && std::find(list.begin(), list.end(), j) == list.end()) list.push_back(j);
    return list;
}

std::string message_of(std::size_t rows, std::size_t cols) {
    return failure_of([&] { VonNeumann grid(rows, cols); });
}

struct Example {
    std::size_t n;
    std::size_t rows;
    std::size_t cols;
    std::size_t i;
    List expected;
};

class GridExamples : public ::testing::TestWithParam<Example> {};

TEST_P(GridExamples, ListsTheNeighbourhood) {
    const Example& e = GetParam();
    EXPECT_EQ(VonNeumann(e.rows, e.cols).neighbors(e.i, swarm(e.n)), e.expected);
}

INSTANTIATE_TEST_SUITE_P(Lists, GridExamples,
                         ::testing::Values(Example{10, 3, 4, 5, {5, 1, 9, 4, 6}},
                                           // down would be the empty cell 11; right wraps
                                           Example{10, 3, 4, 7, {7, 3, 6, 4}},
                                           Example{1, 1, 1, 0, {0}}, Example{2, 1, 2, 0, {0, 1}},
                                           Example{2, 1, 2, 1, {1, 0}},
                                           Example{30, 5, 6, 0, {0, 24, 6, 5, 1}},
                                           Example{30, 5, 6, 29, {29, 23, 5, 28, 24}},
                                           // up from row 0 lands on the empty cell 9
                                           Example{9, 3, 4, 1, {1, 5, 0, 2}},
                                           Example{3, 3, 1, 1, {1, 0, 2}}));

struct SquareCase {
    std::size_t n;
    std::size_t rows;
    std::size_t cols;
};

class SquareFor : public ::testing::TestWithParam<SquareCase> {};

TEST_P(SquareFor, ChoosesTheGrid) {
    const auto [n, rows, cols] = GetParam();
    const VonNeumann grid = VonNeumann::square_for(n);
    EXPECT_EQ(grid.rows(), rows);
    EXPECT_EQ(grid.cols(), cols);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SquareFor,
                         ::testing::Values(SquareCase{1, 1, 1}, SquareCase{2, 1, 2},
                                           SquareCase{3, 1, 3}, SquareCase{4, 2, 2},
                                           SquareCase{5, 2, 3}, SquareCase{8, 2, 4},
                                           SquareCase{9, 3, 3}, SquareCase{10, 3, 4},
                                           SquareCase{30, 5, 6}, SquareCase{100, 10, 10},
                                           SquareCase{101, 10, 11}));

class GridAgainstLiteral : public ::testing::TestWithParam<std::size_t> {};

TEST_P(GridAgainstLiteral, SameListForEveryParticle) {
    const std::size_t n = GetParam();
    const VonNeumann grid = VonNeumann::square_for(n);
    const auto particles = swarm(n);
    for (std::size_t i = 0; i < n; ++i) {
        const List list = grid.neighbors(i, particles);
        EXPECT_EQ(list, literal_grid(i, n, grid.rows(), grid.cols())) << "i = " << i;
        EXPECT_GE(list.size(), 1u);
        EXPECT_LE(list.size(), 5u);
        EXPECT_EQ(list.front(), i);
        for (const std::size_t j : list) EXPECT_LT(j, n);
    }
}

INSTANTIATE_TEST_SUITE_P(SwarmSizes, GridAgainstLiteral,
                         ::testing::Values(1, 2, 3, 4, 5, 6, 7, 10, 11, 17, 30, 41));

TEST(VonNeumann, SquareForOneAndTwo) {
    const VonNeumann one = VonNeumann::square_for(1);
    EXPECT_EQ(one.neighbors(0, swarm(1)), (List{0}));
    // Up and down are the particle itself; left and right are both 1.
    const VonNeumann two = VonNeumann::square_for(2);
    EXPECT_EQ(two.neighbors(0, swarm(2)), (List{0, 1}));
}

TEST(VonNeumann, EmptyGridStops) {
    const std::string expected = "the grid needs rows, cols >= 1";
    EXPECT_EQ(message_of(0, 5), expected);
    EXPECT_EQ(message_of(5, 0), expected);
    EXPECT_EQ(message_of(0, 0), expected);
    EXPECT_EQ(message_of(1, 1), "(no failure)");
    try {
        VonNeumann::square_for(0);
        FAIL() << "expected a stop";
    } catch (const InternalFailure& e) {
        EXPECT_EQ(e.what(), expected);
    }
}

TEST(VonNeumann, ReplacesTheListAndReusesItsStorage) {
    const auto particles = swarm(30);
    const VonNeumann grid = VonNeumann::square_for(30);
    List out{9, 9};
    grid.neighbors_into(0, particles, out);
    const std::size_t* storage = out.data();
    for (std::size_t i = 0; i < 30; ++i) {
        grid.neighbors_into(i, particles, out);
        EXPECT_EQ(out, literal_grid(i, 30, 5, 6));
        EXPECT_EQ(out.data(), storage);
    }
}

TEST(VonNeumann, BestNeighbourIsTheBestOfTheList) {
    // 3 × 4 over 10 particles: 5 sees [5, 1, 9, 4, 6].
    std::vector<double> values(10, 5.0);
    values[0] = -1.0;  // not a neighbour of 5
    values[9] = 1.0;
    values[4] = 1.0;  // a tie listed after 9
    EXPECT_EQ(VonNeumann(3, 4).best_neighbor(5, swarm(10, values)), 9u);
}

}  // namespace
}  // namespace kestrelopt
