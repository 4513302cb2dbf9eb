// The faster paths of hypervolume (sorted filter, planar sum) against the plain recursion:
// wfg of the library's own filter, and the transcription of hypervolume_reference.hpp, on
// inputs chosen to reach every branch of the fast paths with the awkward values (signed
// zeros, infinities, gaps that underflow, duplicates, dominated points, planar limit sets).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "hypervolume_reference.hpp"
#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/random.hpp"
#include "support.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

enum class Shape {
    Front,        // mutually non-dominated, no ties
    Coarse,       // values on a grid of 1/4: ties, duplicates, dominated points
    SignedZeros,  // coordinates in {-0.0, +0.0, ...}: equal values with different bits
    Infinite,     // -inf coordinates and an infinite reference coordinate
    Tiny,         // gaps near 1e-161: products subnormal or zero
    Layers,       // 3 objectives, third value from three levels: planar limit sets
    Sparse,       // few points far apart: the sums round differently in another order
};

struct FastCase {
    Shape shape;
    std::size_t objectives;
    std::size_t points;
    bool against_transcription;  // also against the independent transcription (small sets)
    int rounds = 6;
};

void PrintTo(const FastCase& c, std::ostream* os) {
    *os << static_cast<int>(c.shape) << "/" << c.objectives << "/" << c.points;
}

PointSet make_points(const FastCase& c, RandomSource& gen, ObjectiveVector& reference) {
    const std::size_t m = c.objectives;
    PointSet points(c.points, ObjectiveVector(m));
    reference.assign(m, 1.0);
    for (ObjectiveVector& p : points) {
        double sum = 0.0;
        for (double& v : p) sum += (v = 0.02 + uniform01(gen));
        for (double& v : p) v /= sum;  // on the simplex: non-dominated
        switch (c.shape) {
            case Shape::Front:
                break;
            case Shape::Coarse:
                for (double& v : p) v = std::round(v * 4.0) / 4.0;
                break;
            case Shape::SignedZeros:
                for (double& v : p) {
                    const std::uint64_t roll = index_below(gen, 4);
                    v = roll == 0 ? -0.0 : roll == 1 ? 0.0 : std::round(v * 3.0) / 3.0;
                }
                break;
            case Shape::Infinite:
                if (index_below(gen, c.points) < 4) p[index_below(gen, m)] = -kInf;
                break;
            case Shape::Tiny:
                for (double& v : p) v *= 1e-160;
                break;
            case Shape::Sparse:
                for (double& v : p) v = v * v * v;
                break;
            case Shape::Layers:
                p[2] = static_cast<double>(index_below(gen, 3)) * 0.25;
                break;
        }
    }
    if (c.shape == Shape::Infinite) reference[0] = kInf;
    if (c.shape == Shape::Tiny) reference.assign(m, 1e-160);
    return points;
}

class HypervolumeFastPaths : public ::testing::TestWithParam<FastCase> {};

TEST_P(HypervolumeFastPaths, SameBitsAsThePlainRecursion) {
    const FastCase c = GetParam();
    auto gen = RandomSource::seed_from_u64(31 + static_cast<std::uint64_t>(c.shape) * 7 +
                                           c.objectives * 1000 + c.points);
    for (int round = 0; round < c.rounds; ++round) {
        ObjectiveVector reference;
        const PointSet points = make_points(c, gen, reference);
        const double fast = hypervolume(points, reference);
        // The plain engine on the pairwise filter's survivors of the points inside the box.
        PointSet inside;
        for (const ObjectiveVector& p : points) {
            bool below = true;
            for (std::size_t k = 0; k < p.size(); ++k) below = below && reference[k] > p[k];
            if (below) inside.push_back(p);
        }
        const double plain = wfg(non_dominated(inside), reference);
        ASSERT_EQ(bits(fast), bits(plain)) << "round " << round << ": " << fast << " " << plain;
        if (c.against_transcription) {
            ASSERT_EQ(bits(fast), bits(hv_reference::hypervolume(points, reference)))
                << "round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, HypervolumeFastPaths,
    ::testing::Values(
        FastCase{Shape::Front, 2, 3, true}, FastCase{Shape::Front, 2, 150, true},
        FastCase{Shape::Front, 2, 3000, false}, FastCase{Shape::Coarse, 2, 200, true},
        FastCase{Shape::Coarse, 3, 200, true}, FastCase{Shape::SignedZeros, 2, 100, true},
        FastCase{Shape::SignedZeros, 3, 100, true}, FastCase{Shape::Infinite, 2, 100, true},
        FastCase{Shape::Infinite, 3, 60, true}, FastCase{Shape::Tiny, 2, 100, true},
        FastCase{Shape::Tiny, 3, 60, true}, FastCase{Shape::Front, 3, 400, false},
        FastCase{Shape::Layers, 3, 120, true}, FastCase{Shape::Front, 4, 40, true},
        FastCase{Shape::Sparse, 2, 5, true, 400}, FastCase{Shape::Sparse, 3, 7, true, 400},
        // Large enough for the tree of rows at the top.
        FastCase{Shape::Front, 3, 1500, false, 2}, FastCase{Shape::Tiny, 3, 400, false, 2},
        FastCase{Shape::Infinite, 3, 600, false, 3}, FastCase{Shape::Front, 4, 300, false, 2}),
    [](const ::testing::TestParamInfo<FastCase>& info) {
        return "Case" + std::to_string(info.index);
    });

TEST(HypervolumeFastPaths, PlanarSetsOfFourObjectivesTakeThePlanarSum) {
    // Two values fixed in every point: the whole set, and every limit set, is planar.
    PointSet points;
    for (int i = 0; i < 64; ++i) {
        const double a = i / 64.0;
        points.push_back({0.25, a, 0.5, (1.0 - a) * (1.0 - a) + 0.01 * (i % 3)});
    }
    const ObjectiveVector reference{1.0, 1.5, 0.75, 2.0};
    EXPECT_EQ(bits(hypervolume(points, reference)),
              bits(hv_reference::hypervolume(points, reference)));
}

class StopAfter final : public WorkObserver {
  public:
    explicit StopAfter(std::size_t calls) : left_(calls) {}
    void progress(std::size_t work) override {
        total += work;
        ++calls;
        if (--left_ == 0) throw StopRun{};
    }
    std::size_t total = 0;
    std::size_t calls = 0;

  private:
    std::size_t left_;
};

TEST(HypervolumeFastPaths, ObserverHearsOfLargeTwoObjectiveSetsAndMayStopThem) {
    PointSet points;
    const std::size_t n = 20000;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = static_cast<double>((i * 7919) % n) / static_cast<double>(n);
        points.push_back({a, 1.0 - std::sqrt(a)});
    }
    const ObjectiveVector reference{1.0, 1.0};
    StopAfter counting(1000000);
    const double volume = hypervolume(points, reference, &counting);
    EXPECT_EQ(bits(volume), bits(hypervolume(points, reference)));
    EXPECT_GE(counting.calls, 4u);  // filter, sum, and reports within the sum
    EXPECT_GE(counting.total, n);
    StopAfter stopping(3);
    EXPECT_THROW(hypervolume(points, reference, &stopping), StopRun);
}

}  // namespace
}  // namespace kestrelopt
