#include "kestrelopt/history.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace kestrelopt {
namespace {

std::vector<std::vector<double>> as_vectors(RowsView rows) {
    std::vector<std::vector<double>> out;
    for (const std::span<const double> row : rows) out.emplace_back(row.begin(), row.end());
    return out;
}

using Snapshot = std::vector<std::vector<double>>;

Trace trace_of(const std::vector<Snapshot>& snapshots) {
    Trace trace;
    for (const Snapshot& snapshot : snapshots) {
        trace.open_snapshot();
        for (const auto& row : snapshot) trace.push_row(row);
    }
    return trace;
}

struct ShapeCase {
    std::vector<Snapshot> snapshots;
    std::optional<std::pair<std::size_t, std::size_t>> shape;
};

class TraceShape : public ::testing::TestWithParam<ShapeCase> {};

// Snapshots read back as written, all values lie in one buffer in order, and the shape is
// known exactly when every snapshot has the same rows of the same length.
TEST_P(TraceShape, ReadsBackItsSnapshotsAndKnowsWhenItIsOneBlock) {
    const auto& [snapshots, shape] = GetParam();
    const Trace trace = trace_of(snapshots);
    ASSERT_EQ(trace.size(), snapshots.size());
    std::vector<double> flat;
    for (std::size_t t = 0; t < snapshots.size(); ++t) {
        EXPECT_EQ(as_vectors(trace[t]), snapshots[t]);
        for (const auto& row : snapshots[t]) flat.insert(flat.end(), row.begin(), row.end());
    }
    EXPECT_EQ(std::vector<double>(trace.values().begin(), trace.values().end()), flat);
    EXPECT_EQ(trace.uniform_shape(), shape);
    // A copy made snapshot by snapshot is the same trace.
    Trace copy;
    for (const RowsView snapshot : trace) copy.push_back(snapshot);
    EXPECT_EQ(copy, trace);
}

using Shape = std::pair<std::size_t, std::size_t>;
INSTANTIATE_TEST_SUITE_P(
    Cases, TraceShape,
    ::testing::Values(ShapeCase{{}, Shape{0, 0}},
                      ShapeCase{{{{1, 2}, {3, 4}}, {{5, 6}, {7, 8}}}, Shape{2, 2}},
                      ShapeCase{{{}, {}}, Shape{0, 0}},
                      ShapeCase{{{{1, 2}, {3, 4}}, {{5, 6}}}, std::nullopt},       // fewer rows
                      ShapeCase{{{{1, 2}, {3, 4}}, {{5, 6}, {7}}}, std::nullopt},  // shorter row
                      ShapeCase{{{{1}, {2, 3}}, {{4}, {5, 6}}}, std::nullopt}));   // ragged alike

TEST(RowsView, ComparesRowsNotBuffers) {
    const Trace one = trace_of({{{1.0, -0.0}}});
    const Trace other = trace_of({{{9.0}}, {{1.0, 0.0}}, {{1.0}, {0.0}}});
    EXPECT_EQ(other[1], one[0]);  // -0.0 equals 0.0, wherever the rows live
    EXPECT_FALSE(other[0] == one[0]);
    EXPECT_FALSE(other[2] == one[0]);  // the same values, split into rows differently
}

struct BudgetCase {
    std::size_t max_evals, swarm, iterations;
};

class IterationsWithin : public ::testing::TestWithParam<BudgetCase> {};

// The first swarm costs `swarm` evaluations, each iteration as many, and the budget ends
// the run only after an iteration: the count where swarm * (iterations + 1) first reaches it.
TEST_P(IterationsWithin, CountsTheIterationsTheBudgetAllows) {
    const auto [max_evals, swarm, iterations] = GetParam();
    EXPECT_EQ(iterations_within(max_evals, swarm), iterations);
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, IterationsWithin,
    ::testing::Values(BudgetCase{0, 10, 1}, BudgetCase{1, 10, 1}, BudgetCase{20, 10, 1},
                      BudgetCase{21, 10, 2}, BudgetCase{30, 10, 2}, BudgetCase{20000, 100, 199},
                      BudgetCase{20001, 100, 200}, BudgetCase{7, 0, 1},
                      BudgetCase{std::numeric_limits<std::size_t>::max(), 1,
                                 std::numeric_limits<std::size_t>::max() - 1}));

}  // namespace
}  // namespace kestrelopt
