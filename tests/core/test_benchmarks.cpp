#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/benchmarks/grey.hpp"
#include "support.hpp"

// Counts heap allocations while `g_counting` is set, so the tests can show that evaluating a
// benchmark never allocates.
namespace {
bool g_counting = false;
std::size_t g_allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (g_counting) ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
// GCC sees malloc'd memory freed inside an inlined operator delete and takes it for a mismatch;
// new and delete are replaced together here, so the pairing is right.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace kestrelopt::benchmarks {
namespace {

using namespace testing_support;
using Vec = std::vector<double>;

// Plain transcriptions of the formulas, written independently of the library: explicit
// index loops, the levy change of variable kept in a scratch vector.
namespace plain {

constexpr double pi = 3.141592653589793;
constexpr double two_pi = 6.283185307179586;

double sum_sq_from(const Vec& x, std::size_t first) {
    double s = -0.0;
    for (std::size_t i = first; i < x.size(); i++) s = s + x[i] * x[i];
    return s;
}

double sphere(const Vec& x) {
    return sum_sq_from(x, 0);
}

double rastrigin(const Vec& x) {
    double s = -0.0;
    for (std::size_t i = 0; i < x.size(); i++) {
        double term = x[i] * x[i] - 10.0 * std::cos(two_pi * x[i]);
        s = s + term;
    }
    double n = static_cast<double>(x.size());
    return 10.0 * n + s;
}

double rosenbrock(const Vec& x) {
    double s = -0.0;
    for (std::size_t i = 0; i + 2 <= x.size(); i++) {
        double d1 = x[i + 1] - x[i] * x[i];
        double d2 = 1.0 - x[i];
        double term = 100.0 * (d1 * d1) + d2 * d2;
        s = s + term;
    }
    return s;
}

double ackley(const Vec& x) {
    double n = static_cast<double>(x.size());
    double s = sum_sq_from(x, 0);
    double c = -0.0;
    for (std::size_t i = 0; i < x.size(); i++) c = c + std::cos(two_pi * x[i]);
    double a = -20.0 * std::exp(-0.2 * std::sqrt(s / n));
    double b = std::exp(c / n);
    double r = a - b;
    r = r + 20.0;
    r = r + 2.718281828459045;
    return r;
}

double griewank(const Vec& x) {
    double p = 1.0;
    for (std::size_t i = 0; i < x.size(); i++) {
        double root = std::sqrt(static_cast<double>(i) + 1.0);
        p = p * std::cos(x[i] / root);
    }
    return (sum_sq_from(x, 0) / 4000.0 + 1.0) - p;
}

double schwefel(const Vec& x) {
    double s = -0.0;
    for (std::size_t i = 0; i < x.size(); i++) s = s + x[i] * std::sin(std::sqrt(std::abs(x[i])));
    return 418.9828872724338 * static_cast<double>(x.size()) - s;
}

double bent_cigar(const Vec& x) {
    if (x.size() == 0) return 0.0;
    double head = x[0] * x[0];
    double tail = sum_sq_from(x, 1);
    return head + 1000000.0 * tail;
}

double discus(const Vec& x) {
    if (x.size() == 0) return 0.0;
    double head = (1000000.0 * x[0]) * x[0];
    double tail = sum_sq_from(x, 1);
    return head + tail;
}

double elliptic(const Vec& x) {
    if (x.size() == 0) return 0.0;
    if (x.size() == 1) return x[0] * x[0];
    double s = -0.0;
    for (std::size_t i = 0; i < x.size(); i++) {
        double e = static_cast<double>(i) / static_cast<double>(x.size() - 1);
        double term = (std::pow(1000000.0, e) * x[i]) * x[i];
        s = s + term;
    }
    return s;
}

double zakharov(const Vec& x) {
    double s = sum_sq_from(x, 0);
    double t = -0.0;
    for (std::size_t i = 0; i < x.size(); i++) {
        double coefficient = 0.5 * static_cast<double>(i + 1);
        t = t + coefficient * x[i];
    }
    double t2 = t * t;
    double t4 = t2 * t2;
    return t4 + (s + t2);
}

double levy(const Vec& x) {
    if (x.size() == 0) return 0.0;
    std::size_t n = x.size();
    std::vector<double> w(n);
    for (std::size_t i = 0; i < n; i++) w[i] = (x[i] - 1.0) * 0.25 + 1.0;
    double s0 = std::sin(pi * w[0]);
    double first = s0 * s0;
    double middle = -0.0;
    for (std::size_t i = 0; i + 1 < n; i++) {
        double d = w[i] - 1.0;
        double si = std::sin(pi * w[i] + 1.0);
        middle = middle + (d * d) * (10.0 * (si * si) + 1.0);
    }
    double dl = w[n - 1] - 1.0;
    double sl = std::sin(two_pi * w[n - 1]);
    double last = (dl * dl) * (sl * sl + 1.0);
    return (first + middle) + last;
}

double schaffer_g(double a, double b) {
    double s = a * a + b * b;
    double si = std::sin(std::sqrt(s));
    double q = 0.001 * s + 1.0;
    double numerator = si * si - 0.5;
    return numerator / (q * q) + 0.5;
}

double expanded_schaffer(const Vec& x) {
    if (x.size() == 0) return 0.0;
    double s = -0.0;
    for (std::size_t i = 0; i < x.size(); i++) {
        std::size_t j = i + 1 == x.size() ? 0 : i + 1;
        s = s + schaffer_g(x[i], x[j]);
    }
    return s;
}

double grey_sphere(const std::vector<Grey>& g) {
    double s = -0.0;
    for (std::size_t i = 0; i < g.size(); i++) {
        double term = g[i].center * g[i].center + g[i].spread;
        s = s + term;
    }
    return s;
}

}  // namespace plain

struct Entry {
    const char* name;
    Function function;
    double (*reference)(const Vec&);
    double bound;
};

const Entry kEntries[] = {
    {"sphere", sphere, plain::sphere, 5.12},
    {"rastrigin", rastrigin, plain::rastrigin, 5.12},
    {"rosenbrock", rosenbrock, plain::rosenbrock, 2.048},
    {"ackley", ackley, plain::ackley, 32.768},
    {"griewank", griewank, plain::griewank, 600.0},
    {"schwefel", schwefel, plain::schwefel, 500.0},
    {"bent_cigar", bent_cigar, plain::bent_cigar, 100.0},
    {"discus", discus, plain::discus, 100.0},
    {"elliptic", elliptic, plain::elliptic, 100.0},
    {"zakharov", zakharov, plain::zakharov, 10.0},
    {"levy", levy, plain::levy, 10.0},
    {"expanded_schaffer", expanded_schaffer, plain::expanded_schaffer, 100.0},
};

std::string entry_name(const testing::TestParamInfo<Entry>& info) {
    return info.param.name;
}
void PrintTo(const Entry& e, std::ostream* os) {
    *os << e.name;
}

// ---------------------------------------------------------------------------------------------
// Every function against its plain transcription, bit for bit.

class CrossCheck : public testing::TestWithParam<Entry> {};

TEST_P(CrossCheck, MatchesPlainTranscriptionBitForBit) {
    const Entry& e = GetParam();
    std::mt19937_64 engine(20240611);
    for (const std::size_t n : {0u, 1u, 2u, 3u, 5u, 10u, 30u, 100u}) {
        // Inside the recommended box, and ten times wider to reach other magnitudes.
        for (const double scale : {1.0, 10.0}) {
            std::uniform_real_distribution<double> dist(-e.bound * scale, e.bound * scale);
            for (int trial = 0; trial < 40; ++trial) {
                Vec x(n);
                for (double& v : x) v = dist(engine);
                const double got = e.function(x);
                const double want = e.reference(x);
                ASSERT_EQ(bits(got), bits(want))
                    << e.name << " n=" << n << " trial=" << trial << ": " << got << " vs " << want;
            }
        }
    }
}

TEST_P(CrossCheck, MatchesOnSpecialPoints) {
    const Entry& e = GetParam();
    const double specials[] = {0.0, -0.0, 1.0, -1.0, 0.5, 1e-300, -1e150, 420.9687462275036};
    for (const double a : specials) {
        for (const double b : specials) {
            const Vec x{a, b, a};
            EXPECT_EQ(bits(e.function(x)), bits(e.reference(x))) << a << ", " << b;
        }
    }
}

TEST_P(CrossCheck, NanAnywhereGivesNan) {
    const Entry& e = GetParam();
    for (std::size_t at = 0; at < 3; ++at) {
        Vec x{0.3, -0.7, 1.1};
        x[at] = std::numeric_limits<double>::quiet_NaN();
        EXPECT_TRUE(std::isnan(e.function(x))) << "NaN at " << at;
    }
}

TEST_P(CrossCheck, NeverAllocates) {
    const Entry& e = GetParam();
    const Vec x{0.25, -1.5, 3.0, 0.0, 2.0};
    g_allocations = 0;
    g_counting = true;
    const double value = e.function(x);
    g_counting = false;
    EXPECT_EQ(g_allocations, 0u);
    EXPECT_EQ(bits(value), bits(e.reference(x)));
}

TEST_P(CrossCheck, LookupReturnsThisFunctionAndItsMetadata) {
    const Entry& e = GetParam();
    const auto found = native_benchmark(e.name);
    ASSERT_TRUE(std::holds_alternative<Function>(found));
    EXPECT_EQ(std::get<Function>(found), e.function);
    const auto m = meta(e.name);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->name, e.name);
    EXPECT_EQ(m->bound, e.bound);
    EXPECT_EQ(bits(m->optimum_value), bits(0.0));
}

INSTANTIATE_TEST_SUITE_P(AllFunctions, CrossCheck, testing::ValuesIn(kEntries), entry_name);

// ---------------------------------------------------------------------------------------------
// n = 0: the sign of zero is part of the result.

struct EmptyCase {
    const char* name;
    Function function;
    double expected;  // compared bit for bit; NaN compared with isnan
};

void PrintTo(const EmptyCase& c, std::ostream* os) {
    *os << c.name;
}

class EmptyInput : public testing::TestWithParam<EmptyCase> {};

TEST_P(EmptyInput, GivesTheStatedValueAndSign) {
    const EmptyCase& c = GetParam();
    const double got = c.function(std::span<const double>{});
    if (std::isnan(c.expected)) {
        EXPECT_TRUE(std::isnan(got)) << got;
    } else {
        EXPECT_EQ(bits(got), bits(c.expected)) << got;
        EXPECT_EQ(std::signbit(got), std::signbit(c.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllFunctions, EmptyInput,
    testing::Values(EmptyCase{"sphere", sphere, -0.0}, EmptyCase{"rosenbrock", rosenbrock, -0.0},
                    EmptyCase{"bent_cigar", bent_cigar, 0.0}, EmptyCase{"discus", discus, 0.0},
                    EmptyCase{"elliptic", elliptic, 0.0}, EmptyCase{"griewank", griewank, 0.0},
                    EmptyCase{"levy", levy, 0.0},
                    EmptyCase{"expanded_schaffer", expanded_schaffer, 0.0},
                    EmptyCase{"rastrigin", rastrigin, 0.0}, EmptyCase{"schwefel", schwefel, 0.0},
                    EmptyCase{"zakharov", zakharov, 0.0},
                    EmptyCase{"ackley", ackley, std::numeric_limits<double>::quiet_NaN()}),
    [](const testing::TestParamInfo<EmptyCase>& info) { return std::string(info.param.name); });

TEST(EmptyInputSign, OnlySphereAndRosenbrockAreNegativeZero) {
    EXPECT_TRUE(std::signbit(sphere({})));
    EXPECT_TRUE(std::signbit(rosenbrock({})));
    EXPECT_FALSE(std::signbit(rastrigin({})));
    EXPECT_FALSE(std::signbit(zakharov({})));
}

// ---------------------------------------------------------------------------------------------
// n = 1, over a handful of values.

class SingleDimension : public testing::TestWithParam<double> {};

TEST_P(SingleDimension, RosenbrockSumsNothing) {
    const double x0 = GetParam();
    const double got = rosenbrock(Vec{x0});
    EXPECT_EQ(got, 0.0);
    EXPECT_TRUE(std::signbit(got));
}

TEST_P(SingleDimension, BentCigarIsTheSquare) {
    const double x0 = GetParam();
    EXPECT_EQ(bits(bent_cigar(Vec{x0})), bits(x0 * x0));
}

TEST_P(SingleDimension, DiscusIsAMillionTimesTheSquare) {
    const double x0 = GetParam();
    EXPECT_EQ(bits(discus(Vec{x0})), bits(1e6 * x0 * x0));
}

TEST_P(SingleDimension, EllipticIsTheSquare) {
    const double x0 = GetParam();
    const double got = elliptic(Vec{x0});
    EXPECT_FALSE(std::isnan(got));
    EXPECT_EQ(bits(got), bits(x0 * x0));
}

TEST_P(SingleDimension, ExpandedSchafferPairsTheValueWithItself) {
    const double x0 = GetParam();
    EXPECT_EQ(bits(expanded_schaffer(Vec{x0})), bits(plain::schaffer_g(x0, x0)));
}

TEST_P(SingleDimension, LevyHasNoMiddleTerm) {
    const double x0 = GetParam();
    const double w = (x0 - 1.0) * 0.25 + 1.0;
    const double s0 = std::sin(3.141592653589793 * w);
    const double sl = std::sin(6.283185307179586 * w);
    const double expected = s0 * s0 + (w - 1.0) * (w - 1.0) * (sl * sl + 1.0);
    EXPECT_EQ(bits(levy(Vec{x0})), bits(expected));
}

TEST_P(SingleDimension, GriewankIsSquareOver4000PlusOneMinusCos) {
    const double x0 = GetParam();
    EXPECT_EQ(bits(griewank(Vec{x0})), bits((x0 * x0 / 4000.0 + 1.0) - std::cos(x0)));
}

INSTANTIATE_TEST_SUITE_P(Values, SingleDimension,
                         testing::Values(0.0, -0.0, 1.0, -2.5, 3.7, 1e-8, 99.5, -600.0));

// ---------------------------------------------------------------------------------------------
// Known values.

TEST(KnownValues, Sphere) {
    EXPECT_EQ(sphere(Vec{1.0, 2.0}), 5.0);
}

TEST(KnownValues, RastriginAtOrigin) {
    EXPECT_EQ(rastrigin(Vec{0.0, 0.0}), 0.0);
    EXPECT_FALSE(std::signbit(rastrigin(Vec{0.0, 0.0})));
}

TEST(KnownValues, RosenbrockAtOnes) {
    EXPECT_EQ(rosenbrock(Vec{1.0, 1.0, 1.0}), 0.0);
}

TEST(KnownValues, AckleyAtOriginIsNotExactlyZero) {
    // ((-20 - e) + 20) + e loses the low bits of e on the way.
    for (const std::size_t n : {1u, 2u, 5u, 30u}) {
        EXPECT_EQ(ackley(Vec(n, 0.0)), 4.440892098500626e-16) << n;
    }
}

TEST(KnownValues, ZakharovOfOne) {
    EXPECT_EQ(zakharov(Vec{1.0}), 1.3125);
}

TEST(KnownValues, ZakharovWeightsGrowWithTheIndex) {
    // S = 1, T = 1.0 (second weight): 1 + 1 + 1.
    EXPECT_EQ(zakharov(Vec{0.0, 1.0}), 3.0);
}

TEST(KnownValues, RastriginCountsTenPerDimension) {
    // cos(2π·0.5) rounds to -1, so each dimension adds 10 + (0.25 + 10).
    EXPECT_NEAR(rastrigin(Vec{0.5, 0.5, 0.5}), 3 * 20.25, 1e-12);
}

TEST(KnownValues, BentCigarAndDiscusWeightTheRightCoordinate) {
    EXPECT_EQ(bent_cigar(Vec{2.0, 3.0}), 4.0 + 9e6);
    EXPECT_EQ(discus(Vec{2.0, 3.0}), 4e6 + 9.0);
}

TEST(KnownValues, EllipticWeightsRunFromOneToAMillion) {
    EXPECT_EQ(elliptic(Vec{1.0, 1.0}), 1.0 + 1e6);
    EXPECT_EQ(elliptic(Vec{0.0, 0.0, 2.0}), 4e6);
    EXPECT_EQ(elliptic(Vec{0.0, 1.0, 0.0}), 1000.0);
}

TEST(KnownValues, ExpandedSchafferAtOrigin) {
    EXPECT_EQ(expanded_schaffer(Vec{0.0, 0.0, 0.0}), 0.0);
}

TEST(KnownValues, OptimaAreNearZero) {
    EXPECT_EQ(griewank(Vec{0.0, 0.0, 0.0}), 0.0);
    EXPECT_NEAR(levy(Vec{1.0, 1.0, 1.0}), 0.0, 1e-15);
    EXPECT_NEAR(schwefel(Vec(4, 420.9687462275036)), 0.0, 1e-9);
}

TEST(SummationOrder, SphereAddsLeftToRight) {
    // 1e16 + 1 rounds back to 1e16 twice; a right-to-left sum would give 1e16 + 2.
    EXPECT_EQ(sphere(Vec{1e8, 1.0, 1.0}), 1e16);
    EXPECT_EQ(sphere(Vec{1.0, 1.0, 1e8}), 1e16 + 2.0);
}

TEST(SummationOrder, DiscusAddsTheHeadToTheFinishedTail) {
    // Tail 1 + 1 = 2 is formed first, then added to 1e16: an accumulating sum would lose both.
    EXPECT_EQ(discus(Vec{1e5, 1.0, 1.0}), 1e16 + 2.0);
}

TEST(SummationOrder, LevyOnTheFlyEqualsScratchVectorOnManyInputs) {
    std::mt19937_64 engine(7);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    for (std::size_t n = 1; n <= 64; ++n) {
        Vec x(n);
        for (double& v : x) v = dist(engine);
        ASSERT_EQ(bits(levy(x)), bits(plain::levy(x))) << n;
    }
}

TEST(NonFinite, InfinitiesFollowFloatingPointRules) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(sphere(Vec{inf, 1.0}), inf);
    EXPECT_EQ(bent_cigar(Vec{1.0, -inf}), inf);
    EXPECT_TRUE(std::isnan(rastrigin(Vec{inf})));  // cos(inf) is NaN
}

// ---------------------------------------------------------------------------------------------
// Catalogue and lookups.

TEST(Catalogue, HoldsTheTwelveInOrderWithTheirBounds) {
    const auto table = catalogue();
    ASSERT_EQ(table.size(), std::size(kEntries));
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].name, kEntries[i].name) << i;
        EXPECT_EQ(table[i].bound, kEntries[i].bound) << i;
        EXPECT_EQ(table[i].optimum_value, 0.0) << i;
    }
}

TEST(Catalogue, MetaOfLevy) {
    const auto m = meta("levy");
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->bound, 10.0);
    EXPECT_EQ(m->optimum_value, 0.0);
}

const char* const kAvailable =
    "sphere, rastrigin, rosenbrock, ackley, griewank, schwefel, bent_cigar, discus, elliptic, "
    "zakharov, levy, expanded_schaffer";

class UnknownName : public testing::TestWithParam<std::string> {};

TEST_P(UnknownName, IsNotARealBenchmark) {
    const std::string& name = GetParam();
    EXPECT_FALSE(meta(name).has_value());
    const auto found = native_benchmark(name);
    ASSERT_TRUE(std::holds_alternative<std::string>(found));
    EXPECT_EQ(std::get<std::string>(found),
              "unknown native benchmark: '" + name + "'. Available: " + kAvailable);
}

TEST_P(UnknownName, IsNotAGreyBenchmark) {
    const std::string& name = GetParam();
    EXPECT_FALSE(grey_meta(name).has_value());
    const auto found = native_grey_benchmark(name);
    ASSERT_TRUE(std::holds_alternative<std::string>(found));
    EXPECT_EQ(std::get<std::string>(found),
              "unknown native grey benchmark: '" + name + "'. Available: grey_sphere");
}

INSTANTIATE_TEST_SUITE_P(
    CaseBlanksPrefixes, UnknownName,
    testing::Values(std::string("Sphere"), std::string("SPHERE"), std::string("Grey_sphere"),
                    std::string(" sphere"), std::string("sphere "), std::string("levy\t"),
                    std::string(" grey_sphere"), std::string("grey_sphere "), std::string("spher"),
                    std::string("spheres"), std::string("grey"), std::string(""),
                    std::string("sphere\0", 7), std::string("grey_sphere\0", 12),
                    std::string("Rastrigin")));

TEST(Lookup, RealAndGreyNamesDoNotCross) {
    EXPECT_FALSE(meta("grey_sphere").has_value());
    EXPECT_TRUE(std::holds_alternative<std::string>(native_benchmark("grey_sphere")));
    EXPECT_FALSE(grey_meta("sphere").has_value());
    EXPECT_EQ(std::get<std::string>(native_grey_benchmark("sphere")),
              "unknown native grey benchmark: 'sphere'. Available: grey_sphere");
}

TEST(Lookup, MessageKeepsTheNameAsGiven) {
    EXPECT_EQ(std::get<std::string>(native_benchmark("Rastrigin")),
              std::string("unknown native benchmark: 'Rastrigin'. Available: ") + kAvailable);
}

// ---------------------------------------------------------------------------------------------
// Grey benchmark.

TEST(GreySphere, OneVariable) {
    const std::vector<Grey> g{{2.0, 0.5}};
    EXPECT_EQ(grey_sphere(g), 4.5);
}

TEST(GreySphere, NoVariablesIsNegativeZero) {
    const double got = grey_sphere({});
    EXPECT_EQ(got, 0.0);
    EXPECT_TRUE(std::signbit(got));
}

TEST(GreySphere, EachTermIsFormedBeforeItIsAdded) {
    // The term 1 + 1 = 2 survives next to 1e16; adding 1 and 1 separately would lose both.
    const std::vector<Grey> g{{1e8, 0.0}, {1.0, 1.0}};
    EXPECT_EQ(grey_sphere(g), 1e16 + 2.0);
}

TEST(GreySphere, MatchesPlainTranscriptionBitForBit) {
    std::mt19937_64 engine(99);
    std::uniform_real_distribution<double> center(-5.12, 5.12);
    std::uniform_real_distribution<double> spread(0.0, 5.12);
    for (const std::size_t n : {1u, 2u, 3u, 7u, 30u}) {
        for (int trial = 0; trial < 40; ++trial) {
            std::vector<Grey> g(n);
            for (Grey& v : g) v = Grey{center(engine), spread(engine)};
            ASSERT_EQ(bits(grey_sphere(g)), bits(plain::grey_sphere(g))) << n;
        }
    }
}

TEST(GreySphere, NeverAllocates) {
    const std::vector<Grey> g{{1.0, 0.5}, {-2.0, 0.25}};
    g_allocations = 0;
    g_counting = true;
    const double value = grey_sphere(g);
    g_counting = false;
    EXPECT_EQ(g_allocations, 0u);
    EXPECT_EQ(value, 5.75);
}

TEST(GreyLookup, MetaAndFunction) {
    const auto m = grey_meta("grey_sphere");
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->name, "grey_sphere");
    EXPECT_EQ(m->center_bound, 5.12);
    EXPECT_EQ(m->max_spread, 5.12);
    EXPECT_EQ(m->optimum_value, 0.0);
    const auto found = native_grey_benchmark("grey_sphere");
    ASSERT_TRUE(std::holds_alternative<GreyFunction>(found));
    EXPECT_EQ(std::get<GreyFunction>(found), &grey_sphere);
}

}  // namespace
}  // namespace kestrelopt::benchmarks
