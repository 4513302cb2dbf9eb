#include "kestrelopt/history.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace kestrelopt {
namespace {

std::vector<std::vector<double>> as_vectors(const Rows& rows) {
    std::vector<std::vector<double>> out;
    for (const std::span<const double> row : rows) out.emplace_back(row.begin(), row.end());
    return out;
}

TEST(Rows, KeepsRowsOfAnyLengthInOrder) {
    const std::vector<std::vector<double>> rows{{1.0, 2.0, 3.0}, {}, {-0.0}, {4.5, 5.5}};
    Rows recorded;
    EXPECT_TRUE(recorded.empty());
    for (const auto& row : rows) recorded.push_back(row);
    ASSERT_EQ(recorded.size(), rows.size());
    EXPECT_FALSE(recorded.empty());
    EXPECT_EQ(as_vectors(recorded), rows);
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(std::vector<double>(recorded[i].begin(), recorded[i].end()), rows[i]);
}

TEST(Rows, EqualOnlyWithTheSameRowBoundaries) {
    Rows one_row, two_rows, same;
    one_row.push_back(std::vector<double>{1.0, 2.0});
    two_rows.push_back(std::vector<double>{1.0});
    two_rows.push_back(std::vector<double>{2.0});
    same.reserve(1, 2);
    same.push_back(std::vector<double>{1.0, 2.0});
    EXPECT_EQ(one_row, same);
    EXPECT_FALSE(one_row == two_rows);  // the same values, split differently
    Rows with_empty = one_row;
    with_empty.push_back({});
    EXPECT_FALSE(with_empty == one_row);
}

}  // namespace
}  // namespace kestrelopt
