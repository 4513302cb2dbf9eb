// CrossoverVelocity against a plain model of its draws and arithmetic.
#include "kestrelopt/velocity/crossover.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kestrelopt/velocity/fips.hpp"
#include "kestrelopt/velocity/spso2011.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

struct CrossoverCase {
    double probability;
    bool alone;  // the leader's view is the personal best's
};

class CrossoverVelocityTest : public ::testing::TestWithParam<CrossoverCase> {};

// Many updates of one particle, each against the model: U (unless alone), then either the
// crossover's draw per dimension or the wrapped rule with the generator where U left it.
TEST_P(CrossoverVelocityTest, FollowsThePlainModel) {
    const CrossoverCase k = GetParam();
    const std::vector<double> x{0.5, -1.0, 2.0, 0.25, 3.0};
    const std::vector<double> v{0.1, 0.2, -0.3, 0.0, 1.0};
    const std::vector<double> p{1.0, -2.0, 2.5, 0.0, 2.0};
    const std::vector<double> l{-1.0, 0.0, 1.5, 0.75, 2.5};
    const std::vector<double>& leader = k.alone ? p : l;
    const VelocityContext context{x, v, p, leader, {}, 0, 1};
    const Spso2011Velocity inner;
    const CrossoverVelocity rule(std::make_unique<Spso2011Velocity>(), k.probability);
    RandomSource gen = RandomSource::seed_from_u64(7);
    RandomSource model = gen;
    int crossed = 0;
    for (int update = 0; update < 40; ++update) {
        std::vector<double> expected(5);
        if (!k.alone && uniform01(model) < k.probability) {
            ++crossed;
            for (std::size_t d = 0; d < 5; ++d)
                expected[d] = (uniform01(model) < 0.5 ? l[d] : p[d]) - x[d];
        } else {
            inner.update_into(context, model, expected);
        }
        std::vector<double> out(5);
        rule.update_into(context, gen, out);
        ASSERT_EQ(out, expected) << "update " << update;
        ASSERT_EQ(uniform01(gen), uniform01(model)) << "update " << update;
    }
    // Both branches were taken where they can be.
    if (k.alone || k.probability == 0.0) {
        EXPECT_EQ(crossed, 0);
    } else if (k.probability == 1.0) {
        EXPECT_EQ(crossed, 40);
    } else {
        EXPECT_GT(crossed, 5);
        EXPECT_LT(crossed, 35);
    }
}

INSTANTIATE_TEST_SUITE_P(Probabilities, CrossoverVelocityTest,
                         ::testing::Values(CrossoverCase{0.0, false}, CrossoverCase{0.5, false},
                                           CrossoverCase{1.0, false}, CrossoverCase{1.0, true}));

TEST(CrossoverVelocity, RefusesWhatItCannotDo) {
    for (const double bad : {-0.1, 1.5, testing_support::kNaN})
        EXPECT_ANY_THROW(CrossoverVelocity(std::make_unique<Spso2011Velocity>(), bad)) << bad;
    EXPECT_ANY_THROW(CrossoverVelocity(std::make_unique<FipsVelocity>(4.1), 0.5));
    EXPECT_FALSE(
        CrossoverVelocity(std::make_unique<Spso2011Velocity>(), 1.0).needs_full_neighborhood());
}

}  // namespace
}  // namespace kestrelopt
