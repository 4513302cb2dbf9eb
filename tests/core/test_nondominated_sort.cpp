#include "kestrelopt/mopso/nondominated_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

// How the points lie: values from a ladder (or 0..levels-1) at random; on a plane of constant
// sum, where distinct points are mutually non-dominated; along the diagonal, each coordinate
// twice a common level or one more, so that the ranks climb with the level and points of
// one level may dominate one another or not.
enum class Layout { kRandom, kPlane, kChain };

struct SortCase {
    std::size_t m;
    std::size_t n;
    std::size_t levels;            // distinct values per objective: few make ties and copies common
    std::size_t narrow_from = 99;  // objectives from this one on take two values only
    Layout layout = Layout::kRandom;
};

class NondominatedSort : public ::testing::TestWithParam<SortCase> {};

// Values from a small ladder with -0 beside 0 and both infinities.
std::vector<double> random_rows(RandomSource& gen, const SortCase& c) {
    static constexpr std::array<double, 8> kLadder{-kInf, -1.5, -0.0, 0.0, 0.5, 2.0, 3.0, kInf};
    std::vector<double> values(c.n * c.m);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t levels = i % c.m >= c.narrow_from ? 2 : c.levels;
        const std::size_t level = gen.next_u64() % levels;
        values[i] = levels <= kLadder.size() ? kLadder[level] : static_cast<double>(level);
    }
    for (std::size_t i = 0; i < c.n && c.layout != Layout::kRandom; ++i) {
        double* row = &values[i * c.m];
        const auto level = static_cast<double>(gen.next_u64() % c.levels);
        double sum = 0.0;
        for (std::size_t k = 0; k < c.m; ++k) {
            const auto other = static_cast<double>(gen.next_u64() % c.levels);
            if (c.layout == Layout::kChain)
                row[k] = 2.0 * level + static_cast<double>(gen.next_u64() % 2);
            else
                row[k] = k + 1 < c.m ? other : static_cast<double>(c.m * c.levels) - sum;
            sum += row[k];
        }
    }
    // Copies of earlier rows.
    for (std::size_t i = 1; i < c.n; i += 5) {
        const std::size_t from = gen.next_u64() % i;
        std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(from * c.m), c.m,
                    values.begin() + static_cast<std::ptrdiff_t>(i * c.m));
    }
    return values;
}

bool dominates(const double* a, const double* b, std::size_t m) {
    bool better = false;
    for (std::size_t k = 0; k < m; ++k) {
        if (a[k] > b[k]) return false;
        better = better || a[k] < b[k];
    }
    return better;
}

// Peels fronts: a point gets the current rank when no point left dominates it.
std::vector<std::size_t> peeled_ranks(const std::vector<double>& v, std::size_t n, std::size_t m) {
    std::vector<std::size_t> ranks(n, n);
    for (std::size_t rank = 0, left = n; left > 0; ++rank) {
        std::vector<std::size_t> front;
        for (std::size_t i = 0; i < n; ++i) {
            if (ranks[i] != n) continue;
            bool dominated = false;
            for (std::size_t j = 0; j < n && !dominated; ++j)
                dominated = ranks[j] == n && dominates(&v[j * m], &v[i * m], m);
            if (!dominated) front.push_back(i);
        }
        for (std::size_t i : front) ranks[i] = rank;
        left -= front.size();
    }
    return ranks;
}

// The definition read literally, one objective at a time over a stable sort.
std::vector<double> plain_crowding(const std::vector<double>& v, std::size_t n, std::size_t m) {
    if (n <= 2) return std::vector<double>(n, kInf);
    std::vector<double> d(n, 0.0);
    for (std::size_t k = 0; k < m; ++k) {
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return v[a * m + k] < v[b * m + k]; });
        const auto at = [&](std::size_t r) { return v[order[r] * m + k]; };
        d[order[0]] = d[order[n - 1]] = kInf;
        if (!(at(n - 1) > at(0))) continue;
        const double span = at(n - 1) - at(0);
        for (std::size_t r = 1; r + 1 < n; ++r) {
            const double gap = at(r + 1) - at(r - 1);
            if (!std::isinf(span))
                d[order[r]] += gap / span;
            else if (at(r + 1) > at(r - 1) && (std::isinf(at(r + 1)) || std::isinf(at(r - 1))))
                d[order[r]] += kInf;
        }
    }
    return d;
}

TEST_P(NondominatedSort, RanksAndCrowdingMatchThePlainDefinitions) {
    const SortCase c = GetParam();
    for (std::uint64_t seed = 0; seed < 12; ++seed) {
        RandomSource gen = RandomSource::seed_from_u64(1000 * c.m + seed);
        const std::vector<double> values = random_rows(gen, c);
        const PointRows points{values, c.n, c.m};
        const std::vector<std::size_t> expected_ranks = peeled_ranks(values, c.n, c.m);
        std::vector<std::size_t> ranks(c.n, 99);
        nondominated_ranks(points, ranks);
        EXPECT_EQ(ranks, expected_ranks) << "seed " << seed;
        // Both methods of four objectives or more, whatever the size.
        for (const auto method :
             {detail::RankMethod::kScan, detail::RankMethod::kDivideAndConquer}) {
            std::fill(ranks.begin(), ranks.end(), 99);
            detail::nondominated_ranks(points, ranks, method);
            EXPECT_EQ(ranks, expected_ranks)
                << "seed " << seed << " method " << static_cast<int>(method);
        }
        std::vector<double> distances(c.n, -1.0);
        crowding_distances(points, distances);
        const std::vector<double> expected = plain_crowding(values, c.n, c.m);
        for (std::size_t i = 0; i < c.n; ++i)
            EXPECT_EQ(bits(distances[i]), bits(expected[i])) << "seed " << seed << " point " << i;
    }
}

// Sizes past the pairwise thresholds of the divide and conquer, many levels (few ties) and
// few (many), every number of objectives from 1 to 8 (the scan compares up to five
// objectives after the first unrolled, more in a loop), and the empty and one-point sets.
// Sets whose last objectives take two values only leave large sets equal in all but the
// first two, which the divide and conquer sweeps. Planes put every point in rank 0, chains
// make many ranks.
INSTANTIATE_TEST_SUITE_P(
    Shapes, NondominatedSort,
    ::testing::Values(
        SortCase{2, 0, 4}, SortCase{3, 1, 4}, SortCase{1, 30, 8}, SortCase{2, 40, 3},
        SortCase{2, 200, 50}, SortCase{3, 40, 3}, SortCase{3, 300, 40}, SortCase{4, 60, 3},
        SortCase{4, 400, 30}, SortCase{5, 80, 4}, SortCase{5, 400, 12}, SortCase{6, 300, 8},
        SortCase{6, 120, 2}, SortCase{4, 500, 200, 2}, SortCase{5, 400, 200, 2},
        SortCase{7, 300, 8}, SortCase{8, 200, 3}, SortCase{3, 300, 20, 99, Layout::kPlane},
        SortCase{4, 300, 20, 99, Layout::kPlane}, SortCase{5, 200, 6, 99, Layout::kPlane},
        SortCase{6, 300, 30, 99, Layout::kPlane}, SortCase{7, 200, 10, 99, Layout::kPlane},
        SortCase{2, 200, 60, 99, Layout::kChain}, SortCase{3, 200, 60, 99, Layout::kChain},
        SortCase{4, 300, 40, 99, Layout::kChain}, SortCase{5, 200, 100, 99, Layout::kChain},
        SortCase{6, 300, 20, 99, Layout::kChain}, SortCase{7, 150, 50, 99, Layout::kChain}));

}  // namespace
}  // namespace kestrelopt
