#include "kestrelopt/mopso/dominance_scan.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

using Scan = DominanceScan (*)(const double*, const double*, std::size_t, double, double,
                               unsigned char*);

struct ScanForm {
    const char* name;
    Scan scan;
};

class DominanceScanForms : public ::testing::TestWithParam<ScanForm> {};

// Values from a small set, so that ties, equal points and NaN coordinates are common.
double value(RandomSource& gen) {
    static constexpr std::array<double, 9> kValues{0.0,  -0.0, 0.25,  0.5, 1.0,
                                                   -1.0, kInf, -kInf, kNaN};
    return kValues[index_below(gen, kValues.size())];
}

TEST_P(DominanceScanForms, AgreesWithMutualDominanceOnEveryPoint) {
    auto gen = RandomSource::seed_from_u64(77);
    int dominated_rounds = 0;
    for (int round = 0; round < 2000; ++round) {
        const std::size_t n = index_below(gen, 41);  // empty, odd and vector-unaligned sizes
        std::vector<double> first(n), second(n);
        for (std::size_t i = 0; i < n; ++i) {
            first[i] = value(gen);
            second[i] = value(gen);
        }
        const std::array<double, 2> c{value(gen), value(gen)};
        std::vector<unsigned char> flags(n, 7);
        const DominanceScan scan =
            GetParam().scan(first.data(), second.data(), n, c[0], c[1], flags.data());
        DominanceScan expected;
        std::vector<unsigned char> expected_flags(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::array<double, 2> point{first[i], second[i]};
            const MutualDominance relation = mutual_dominance(point, c);
            expected.dominated = expected.dominated || relation.first_dominates;
            expected.removes = expected.removes || relation.second_dominates;
            expected.equal = expected.equal || relation.equal;
            expected_flags[i] = relation.second_dominates ? 1 : 0;
        }
        ASSERT_EQ(scan.dominated, expected.dominated) << "round " << round;
        // A dominated candidate stops the scan and reports nothing else.
        if (expected.dominated) expected = {true, false, false};
        ASSERT_EQ(scan.removes, expected.removes) << "round " << round;
        ASSERT_EQ(scan.equal, expected.equal) << "round " << round;
        if (!expected.dominated) {
            ASSERT_EQ(flags, expected_flags) << "round " << round;
        }
        dominated_rounds += expected.dominated ? 1 : 0;
    }
    // Both outcomes are exercised often.
    EXPECT_GT(dominated_rounds, 200);
    EXPECT_LT(dominated_rounds, 1800);
}

INSTANTIATE_TEST_SUITE_P(Forms, DominanceScanForms,
                         ::testing::Values(ScanForm{"Dispatched", scan_two_objectives},
                                           ScanForm{"Portable",
                                                    detail::scan_two_objectives_portable}),
                         [](const auto& info) { return std::string(info.param.name); });

using Blocks = bool (*)(const std::int32_t*, std::size_t, std::size_t, const std::int32_t*);

struct BlocksForm {
    const char* name;
    Blocks blocks;
};

class BlockScanForms : public ::testing::TestWithParam<BlocksForm> {};

// Every width the dispatch treats apart (the unrolled three to five and the general loop),
// point counts that leave the last block partly empty and odd or even block counts, and
// coordinates of three values, so that equal coordinates and a single greater one are common;
// the largest lies just below the empty lanes' filling.
TEST_P(BlockScanForms, AgreesWithComparingEveryPoint) {
    constexpr std::int32_t kEmpty = std::numeric_limits<std::int32_t>::max();
    constexpr std::array<std::int32_t, 3> kValues{0, 1, kEmpty - 1};
    auto gen = RandomSource::seed_from_u64(78);
    int found_rounds = 0;
    int rounds = 0;
    for (std::size_t width = 1; width <= 8; ++width) {
        for (int round = 0; round < 400; ++round, ++rounds) {
            const std::size_t n = index_below(gen, 5 * kBlockLanes);
            const std::size_t blocks = (n + kBlockLanes - 1) / kBlockLanes;
            std::vector<std::int32_t> points(blocks * width * kBlockLanes, kEmpty);
            std::vector<std::vector<std::int32_t>> rows(n, std::vector<std::int32_t>(width));
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t k = 0; k < width; ++k) {
                    rows[i][k] = kValues[index_below(gen, 3)];
                    const std::size_t block = i / kBlockLanes;
                    points[(block * width + k) * kBlockLanes + i % kBlockLanes] = rows[i][k];
                }
            std::vector<std::int32_t> candidate(width);
            for (std::int32_t& c : candidate) c = kValues[index_below(gen, 3)];
            bool expected = false;
            for (const std::vector<std::int32_t>& row : rows) {
                bool no_greater = true;
                for (std::size_t k = 0; k < width; ++k)
                    no_greater = no_greater && row[k] <= candidate[k];
                expected = expected || no_greater;
            }
            ASSERT_EQ(GetParam().blocks(points.data(), blocks, width, candidate.data()), expected)
                << "width " << width << " round " << round;
            found_rounds += expected ? 1 : 0;
        }
    }
    EXPECT_GT(found_rounds, rounds / 5);
    EXPECT_LT(found_rounds, rounds * 4 / 5);
}

INSTANTIATE_TEST_SUITE_P(Forms, BlockScanForms,
                         ::testing::Values(BlocksForm{"Dispatched", any_no_greater},
                                           BlocksForm{"Portable", detail::any_no_greater_portable}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrelopt
