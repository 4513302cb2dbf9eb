// The dimension sweeps (hypervolume_sweep.hpp) against the plain WFG transcription of
// hypervolume_reference.hpp: volumes of 2 to 6 objectives, and every exclusive contribution
// as the volume of the set less the volume without the point, on fronts, on sets with
// dominated points, on coarse sets full of ties and copies, with points on the reference's
// boundary, and on one point or none.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "count_allocations.hpp"
#include "hypervolume_reference.hpp"
#include "kestrelopt/mopso/hypervolume_sweep.hpp"
#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

enum class Shape {
    Sphere,    // on the unit sphere: mutually non-dominated
    Cube,      // uniform in the box: mostly dominated points, some dominated by one point only
    Coarse,    // values in {0, 1/4, .., 1}: ties in every objective, copies, and volumes exact
    Boundary,  // coarse, with values on the reference (such points count for nothing)
};

struct SweepCase {
    Shape shape;
    std::size_t objectives;
    std::size_t points;
    bool contributions;  // contributions rather than the volume
    int rounds = 4;
};

void PrintTo(const SweepCase& c, std::ostream* os) {
    *os << static_cast<int>(c.shape) << "/" << c.objectives << "/" << c.points << "/"
        << c.contributions;
}

hv_reference::Points make_points(const SweepCase& c, RandomSource& gen) {
    hv_reference::Points points(c.points, hv_reference::Point(c.objectives));
    for (hv_reference::Point& p : points) {
        double norm = 0.0;
        for (double& v : p) {
            v = uniform01(gen);
            norm += v * v;
        }
        for (double& v : p) {
            switch (c.shape) {
                case Shape::Sphere:
                    v /= std::sqrt(norm);
                    break;
                case Shape::Cube:
                    break;
                case Shape::Coarse:
                    v = std::round(v * 4.0) / 4.0;
                    break;
                case Shape::Boundary:
                    v = std::round(v * 4.0) / 4.0 + 0.25 * (index_below(gen, 4) == 0);
                    break;
            }
        }
    }
    return points;
}

bool close(double got, double expected, double scale) {
    return std::fabs(got - expected) <= 1e-12 * std::fabs(scale);
}

class HypervolumeSweeps : public ::testing::TestWithParam<SweepCase> {};

TEST_P(HypervolumeSweeps, AgreeWithThePlainRecursion) {
    const SweepCase c = GetParam();
    auto gen = RandomSource::seed_from_u64(7 + static_cast<std::uint64_t>(c.shape) * 13 +
                                           c.objectives * 1000 + c.points);
    // Quarters under a reference of quarters: every volume exact.
    const double corner = c.shape == Shape::Boundary ? 1.0 : c.shape == Shape::Coarse ? 1.25 : 1.1;
    const hv_reference::Point reference(c.objectives, corner);
    HypervolumeSweep sweep;  // reused across rounds, as the archive would
    for (int round = 0; round < c.rounds; ++round) {
        const hv_reference::Points points = make_points(c, gen);
        std::vector<double> rows;
        for (const hv_reference::Point& p : points) rows.insert(rows.end(), p.begin(), p.end());
        const double expected = hv_reference::hypervolume(points, reference);
        if (!c.contributions) {
            const double got = sweep.volume(rows, reference);
            EXPECT_TRUE(close(got, expected, expected))
                << "round " << round << ": " << got << " against " << expected;
            if (c.shape == Shape::Coarse || c.shape == Shape::Boundary) {
                EXPECT_EQ(got, expected) << "round " << round;  // exact values
            }
            continue;
        }
        std::vector<double> got(points.size(), kNaN);
        sweep.contributions(rows, reference, got);
        // The engine's form, on views, gives the same bits.
        const std::vector<ObjectiveView> views(points.begin(), points.end());
        std::vector<double> from_views;
        sweep.contributions(views, reference, from_views);
        for (std::size_t i = 0; i < points.size(); ++i) {
            hv_reference::Points others = points;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
            bool weakly_dominated = false;
            for (const hv_reference::Point& q : others) {
                bool no_worse = true;
                for (std::size_t k = 0; k < q.size(); ++k)
                    no_worse = no_worse && q[k] <= points[i][k];
                weakly_dominated = weakly_dominated || no_worse;
            }
            const double want =
                weakly_dominated ? 0.0 : expected - hv_reference::hypervolume(others, reference);
            EXPECT_TRUE(close(got[i], want, expected))
                << "round " << round << " point " << i << ": " << got[i] << " against " << want;
            if (weakly_dominated || c.shape == Shape::Coarse || c.shape == Shape::Boundary) {
                EXPECT_EQ(got[i], want) << "round " << round << " point " << i;
            }
            EXPECT_EQ(bits(from_views[i]), bits(got[i])) << "point " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, HypervolumeSweeps,
    ::testing::Values(
        // Volumes: every algorithm, the 4-objective sweep also as the base of 5 and 6.
        SweepCase{Shape::Sphere, 2, 60, false}, SweepCase{Shape::Coarse, 2, 80, false},
        SweepCase{Shape::Sphere, 3, 120, false}, SweepCase{Shape::Cube, 3, 200, false},
        SweepCase{Shape::Coarse, 3, 150, false}, SweepCase{Shape::Boundary, 3, 100, false},
        SweepCase{Shape::Sphere, 4, 60, false}, SweepCase{Shape::Cube, 4, 120, false},
        SweepCase{Shape::Coarse, 4, 80, false}, SweepCase{Shape::Boundary, 4, 60, false},
        SweepCase{Shape::Sphere, 5, 30, false}, SweepCase{Shape::Cube, 5, 60, false},
        SweepCase{Shape::Coarse, 5, 40, false}, SweepCase{Shape::Sphere, 6, 18, false},
        SweepCase{Shape::Coarse, 6, 25, false}, SweepCase{Shape::Boundary, 6, 20, false},
        SweepCase{Shape::Sphere, 3, 1, false}, SweepCase{Shape::Sphere, 5, 1, false},
        SweepCase{Shape::Sphere, 4, 0, false, 1},
        // Contributions: the 3-objective sweep (2 lifted to 3), and limit sets from 4 on.
        SweepCase{Shape::Sphere, 2, 40, true}, SweepCase{Shape::Coarse, 2, 50, true},
        SweepCase{Shape::Sphere, 3, 50, true}, SweepCase{Shape::Cube, 3, 60, true},
        SweepCase{Shape::Coarse, 3, 60, true}, SweepCase{Shape::Boundary, 3, 50, true},
        SweepCase{Shape::Sphere, 4, 25, true}, SweepCase{Shape::Coarse, 4, 30, true},
        SweepCase{Shape::Cube, 5, 20, true}, SweepCase{Shape::Coarse, 5, 20, true},
        SweepCase{Shape::Sphere, 3, 1, true}, SweepCase{Shape::Coarse, 3, 0, true, 1}),
    [](const ::testing::TestParamInfo<SweepCase>& info) {
        return "Case" + std::to_string(info.index);
    });

TEST(HypervolumeSweeps, ReusedBuffersAllocateNothing) {
    auto gen = RandomSource::seed_from_u64(5);
    for (const std::size_t m : {2, 3, 4, 5}) {
        const SweepCase c{Shape::Cube, m, 80, false};
        std::vector<double> rows;
        for (const hv_reference::Point& p : make_points(c, gen))
            rows.insert(rows.end(), p.begin(), p.end());
        const std::vector<double> reference(m, 1.0);
        std::vector<double> out(80);
        HypervolumeSweep sweep;
        const double first = sweep.volume(rows, reference);
        sweep.contributions(rows, reference, out);
        count_allocations::AllocationCount counter;
        const double again = sweep.volume(rows, reference);
        sweep.contributions(rows, reference, out);
        EXPECT_EQ(counter.value(), 0u) << m << " objectives";
        EXPECT_EQ(bits(again), bits(first));
        // The engine's form: a view of another length gets 0 and takes nothing.
        std::vector<ObjectiveView> views;
        for (std::size_t i = 0; i < 80; ++i) views.emplace_back(rows.data() + i * m, m);
        views.insert(views.begin() + 3, ObjectiveView(rows.data(), m - 1));
        std::vector<double> from_views;
        sweep.contributions(views, reference, from_views);
        ASSERT_EQ(from_views.size(), 81u);
        EXPECT_EQ(from_views[3], 0.0);
        from_views.erase(from_views.begin() + 3);
        for (std::size_t i = 0; i < 80; ++i) EXPECT_EQ(bits(from_views[i]), bits(out[i])) << i;
    }
}

}  // namespace
}  // namespace kestrelopt
