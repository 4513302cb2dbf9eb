#include "kestrelopt/record_buffer.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace kestrelopt {
namespace {

// Values that differ at every index, so a lost or moved block shows.
std::vector<double> pattern(std::size_t n, double offset) {
    std::vector<double> values(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = offset + static_cast<double>(i) * 0.5;
    return values;
}

struct GrowthCase {
    std::size_t reserved;  // 0: no hint
    std::size_t chunk;
    std::size_t chunks;
};

class RecordBufferGrowth : public ::testing::TestWithParam<GrowthCase> {};

// Appended values survive every growth: on the heap, from the heap into a mapping, and of
// a mapping (moved by the kernel), and copies and moves keep them.
TEST_P(RecordBufferGrowth, KeepsEveryValueThroughGrowthCopyAndMove) {
    const auto [reserved, chunk, chunks] = GetParam();
    for (int run = 0; run < 2; ++run) {  // the second run may reuse the first's mapping
        RecordBuffer buffer;
        buffer.reserve(reserved);
        std::vector<double> expected;
        for (std::size_t c = 0; c < chunks; ++c) {
            const std::vector<double> values = pattern(chunk, static_cast<double>(c * chunk));
            buffer.append(values);
            expected.insert(expected.end(), values.begin(), values.end());
        }
        ASSERT_EQ(buffer.size(), expected.size());
        EXPECT_EQ(std::vector<double>(buffer.values().begin(), buffer.values().end()), expected);
        const RecordBuffer copy = buffer;
        EXPECT_EQ(std::vector<double>(copy.values().begin(), copy.values().end()), expected);
        RecordBuffer moved = std::move(buffer);
        EXPECT_EQ(buffer.size(), 0u);  // NOLINT: a moved-from buffer is empty
        EXPECT_EQ(std::vector<double>(moved.values().begin(), moved.values().end()), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordBufferGrowth,
                         ::testing::Values(GrowthCase{0, 3, 10},            // heap only
                                           GrowthCase{0, 3000, 200},        // heap, then mapped
                                           GrowthCase{1 << 20, 3000, 400},  // mapped, then moved
                                           GrowthCase{1 << 20, 2999, 300},  // odd: unaligned rows
                                           GrowthCase{1 << 18, 1, 1},       // hint far above use
                                           GrowthCase{0, 0, 5}));           // nothing at all

}  // namespace
}  // namespace kestrelopt
