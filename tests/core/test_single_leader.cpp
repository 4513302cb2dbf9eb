#include "kestrelopt/velocity/single_leader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using testing_support::expect_same_bits;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct ChunkForm {
    const char* name;
    void (*run)(const detail::LeaderChunk&, double, double, LeaderRule, double);
};

class LeaderChunkForms : public ::testing::TestWithParam<ChunkForm> {};

double random_value(RandomSource& gen) {
    static constexpr double kSpecial[] = {0.0, -0.0, kInf, -kInf, kNaN, 1e308, -1e308, 5e-324};
    if (index_below(gen, 10) == 0) return kSpecial[index_below(gen, std::size(kSpecial))];
    return uniform01(gen) * 20.0 - 10.0;
}

// Each form against the rule written out one dimension at a time, for every length up to
// a few vectors plus a remainder, both rules, with special values mixed in.
TEST_P(LeaderChunkForms, MatchTheFormulaBitForBit) {
    auto gen = RandomSource::seed_from_u64(31);
    for (int round = 0; round < 400; ++round) {
        const std::size_t m = index_below(gen, 19);
        std::vector<double> x(m), v(m), p(m), g(m), factors(2 * m);
        for (std::size_t j = 0; j < m; ++j) {
            x[j] = random_value(gen);
            v[j] = random_value(gen);
            p[j] = random_value(gen);
            g[j] = random_value(gen);
            factors[2 * j] = uniform01(gen);
            factors[2 * j + 1] = uniform01(gen);
        }
        const double c1 = random_value(gen);
        const double c2 = random_value(gen);
        const double coef = random_value(gen);
        for (const LeaderRule rule : {LeaderRule::Inertia, LeaderRule::Constriction}) {
            // Room past the end, which must stay untouched.
            std::vector<double> out(m + 4, 7.0);
            GetParam().run({x.data(), v.data(), p.data(), g.data(), factors.data(), out.data(), m},
                           c1, c2, rule, coef);
            std::vector<double> expected(m);
            for (std::size_t j = 0; j < m; ++j) {
                const double cognitive = (p[j] - x[j]) * (factors[2 * j] * c1);
                const double social = (g[j] - x[j]) * (factors[2 * j + 1] * c2);
                expected[j] = rule == LeaderRule::Inertia ? (coef * v[j] + cognitive) + social
                                                          : ((cognitive + v[j]) + social) * coef;
            }
            expected.resize(m + 4, 7.0);
            expect_same_bits(out, expected);
            if (HasFailure()) return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, LeaderChunkForms,
                         ::testing::Values(ChunkForm{"Dispatched", detail::leader_chunk},
                                           ChunkForm{"Portable", detail::leader_chunk_portable}),
                         [](const auto& info) { return std::string(info.param.name); });

// Positions longer than one chunk draw r1, r2 per dimension in dimension order across the
// chunk boundary, exactly as one uniform01 per factor would.
TEST(SingleLeaderUpdate, DrawsAcrossChunksInDimensionOrder) {
    const std::size_t n = 2 * kVelocityChunk + 5;
    std::vector<double> x(n), v(n), p(n), g(n), out(n);
    for (std::size_t d = 0; d < n; ++d) {
        x[d] = 0.25 * static_cast<double>(d);
        v[d] = 1.0 - 0.5 * static_cast<double>(d % 7);
        p[d] = x[d] + 1.5;
        g[d] = x[d] - 2.0;
    }
    const VelocityContext context{x, v, p, g, {}, 0, 10};
    auto gen = RandomSource::seed_from_u64(8);
    auto reference = RandomSource::seed_from_u64(8);
    single_leader_update(context, gen, out, 1.5, 2.5, LeaderRule::Inertia, 0.7);
    std::vector<double> expected(n);
    for (std::size_t d = 0; d < n; ++d) {
        const double r1 = uniform01(reference);
        const double r2 = uniform01(reference);
        expected[d] = (0.7 * v[d] + (p[d] - x[d]) * (r1 * 1.5)) + (g[d] - x[d]) * (r2 * 2.5);
    }
    expect_same_bits(out, expected);
    EXPECT_EQ(uniform01(gen), uniform01(reference));
}

}  // namespace
}  // namespace kestrelopt
