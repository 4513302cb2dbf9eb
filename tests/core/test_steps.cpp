// The steps a caller drives (PsoSteps, MopsoSteps): a checkpoint taken after any call and
// loaded into a fresh run continues bit for bit; a damaged checkpoint stops cleanly; the
// steady state allocates nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "count_allocations.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/spaces/mixed.hpp"
#include "kestrelopt/topology/adaptive_random.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/topology/random.hpp"
#include "kestrelopt/topology/ring.hpp"
#include "kestrelopt/topology/von_neumann.hpp"
#include "kestrelopt/velocity/constriction.hpp"
#include "kestrelopt/velocity/fips.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "kestrelopt/velocity/spso2011.hpp"
#include "support.hpp"
#include "zdt1.hpp"

namespace kestrelopt {
namespace {

using namespace testing_support;

constexpr std::size_t kParticles = 9;

double sphere(std::span<const double> x) {
    double s = 0.0;
    for (const double v : x) s = s + v * v;
    return s;
}

struct Variant {
    const char* name;
    std::function<std::unique_ptr<Velocity>()> velocity;
    std::function<std::unique_ptr<Topology>()> topology;
};

const Variant kVariants[] = {
    {"inertia_global", [] { return std::make_unique<InertiaVelocity>(0.7, 1.5, 1.5, 0.4); },
     [] { return std::make_unique<GlobalBest>(); }},
    {"constriction_ring", [] { return std::make_unique<ConstrictionVelocity>(2.05, 2.05); },
     [] { return std::make_unique<Ring>(2); }},
    {"fips_von_neumann", [] { return std::make_unique<FipsVelocity>(4.1); },
     [] { return std::make_unique<VonNeumann>(3, 3); }},
    {"inertia_random", [] { return std::make_unique<InertiaVelocity>(0.7, 1.5, 1.5); },
     [] { return std::make_unique<Random>(3, 5); }},
    {"spso2011_adaptive_random", [] { return std::make_unique<Spso2011Velocity>(); },
     [] { return std::make_unique<AdaptiveRandom>(3, 5); }},
};

PsoConfig pso_config() {
    PsoConfig config;
    config.n_particles = kParticles;
    config.max_iter = 12;
    config.seed = 21;
    config.boundary = BoundaryMode::Reflect;
    config.patience = 50;
    config.init = {{0.5, -0.5, 1.0, 2.0}};
    return config;
}

template <class Space>
Pso<Space> make_engine(const Variant& variant, Space space) {
    return Pso<Space>(pso_config(), std::move(space), variant.velocity(), variant.topology());
}

// Runs to the end, moving the run into a fresh engine's steps through a checkpoint after
// every call when `hop` is set.
template <class Space>
PsoResult<typename Space::Element> drive(const Variant& variant, const Space& space, bool hop) {
    std::vector<std::unique_ptr<Pso<Space>>> engines;
    engines.push_back(std::make_unique<Pso<Space>>(make_engine(variant, space)));
    auto steps = std::make_unique<PsoSteps<Space>>(engines.back()->steps());
    auto checkpoint = [&] {
        if (!hop) return;
        StateWriter out;
        steps->save(out);
        engines.push_back(std::make_unique<Pso<Space>>(make_engine(variant, space)));
        steps = std::make_unique<PsoSteps<Space>>(engines.back()->steps());
        StateReader in(out.bytes());
        steps->load(in);
        in.finish();
    };
    std::vector<double> values;
    while (!steps->stopped()) {
        values.clear();
        for (const auto& x : steps->ask()) {
            const std::vector<double> as_double(x.begin(), x.end());
            values.push_back(sphere(as_double));
        }
        checkpoint();
        steps->tell(values);
        checkpoint();
    }
    return steps->finish(*steps->stopped());
}

template <class Element>
void expect_same(const PsoResult<Element>& a, const PsoResult<Element>& b) {
    EXPECT_EQ(a.best_position, b.best_position);
    EXPECT_EQ(bits(a.best_value), bits(b.best_value));
    EXPECT_EQ(a.history.positions, b.history.positions);
    EXPECT_EQ(a.history.convergence, b.history.convergence);
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.stop_reason, b.stop_reason);
}

class PsoCheckpoint : public testing::TestWithParam<Variant> {};

TEST_P(PsoCheckpoint, HoppingThroughCheckpointsEveryCallIsTheUnbrokenRun) {
    const Variant& variant = GetParam();
    const ContinuousSpace box(std::vector<Bound>(4, {-3.0, 3.0}));
    const auto unbroken = drive(variant, box, false);
    expect_same(unbroken, drive(variant, box, true));
    // And the unbroken steps are the engine's own batch mode.
    const auto engine = make_engine(variant, box);
    expect_same(unbroken, engine.minimize_batch([](std::span<const std::vector<double>> xs,
                                                   std::vector<double>& out) {
        for (const auto& x : xs) out.push_back(sphere(x));
    }));
    const IntegerSpace integers(std::vector<IntegerBound>(4, {-3, 3}));
    expect_same(drive(variant, integers, false), drive(variant, integers, true));
    const MixedSpace mixed(std::vector<Bound>(4, {-3.0, 3.0}),
                           {VarType::Real, VarType::Integer, VarType::Binary, VarType::Real});
    expect_same(drive(variant, mixed, false), drive(variant, mixed, true));
}

INSTANTIATE_TEST_SUITE_P(Rules, PsoCheckpoint, testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

MopsoConfig mopso_config(ArchiveStrategy strategy) {
    MopsoConfig config;
    config.n_particles = 7;
    config.max_iter = 9;
    config.archive_size = 5;
    config.strategy = strategy;
    config.mutation_rate = 0.5;
    config.seed = 8;
    config.init = {{0.1, 0.2, 0.3, 0.4}, {0.9, 0.0, 0.0, 0.0}};
    return config;
}

Mopso<ContinuousSpace> mopso(ArchiveStrategy strategy) {
    return Mopso<ContinuousSpace>(mopso_config(strategy),
                                  ContinuousSpace(std::vector<Bound>(4, {0.0, 1.0})),
                                  std::make_unique<InertiaVelocity>(0.5, 1.5, 1.5));
}

// ZDT1 with the constraint x0 >= 0.3, so both the violation and the archive's reset matter.
double constrained_zdt1(std::span<const double> x, std::vector<double>& out) {
    zdt1(x, out);
    return 0.3 - x[0];
}

// Runs to the end one particle at a time, or the whole swarm at once (`batch`), moving the
// run into a fresh engine's steps through a checkpoint after every call when `hop` is set.
MopsoResult<double> drive_mopso(ArchiveStrategy strategy, bool batch, bool hop) {
    std::vector<std::unique_ptr<Mopso<ContinuousSpace>>> engines;
    engines.push_back(std::make_unique<Mopso<ContinuousSpace>>(mopso(strategy)));
    auto steps = std::make_unique<MopsoSteps<ContinuousSpace>>(engines.back()->steps());
    auto checkpoint = [&] {
        if (!hop) return;
        StateWriter out;
        steps->save(out);
        engines.push_back(std::make_unique<Mopso<ContinuousSpace>>(mopso(strategy)));
        steps = std::make_unique<MopsoSteps<ContinuousSpace>>(engines.back()->steps());
        StateReader in(out.bytes());
        steps->load(in);
        in.finish();
    };
    std::vector<double> f;
    std::vector<std::vector<double>> rows;
    std::vector<double> violations;
    while (!steps->stopped()) {
        if (!batch) {
            f.clear();
            const double violation = constrained_zdt1(steps->ask(), f);
            checkpoint();
            steps->tell(f, violation);
            continue;
        }
        rows.clear();
        violations.clear();
        const auto positions = steps->ask_all();
        const std::vector<std::vector<double>> asked(positions.begin(), positions.end());
        for (const auto& x : asked) {
            rows.emplace_back();
            violations.push_back(constrained_zdt1(x, rows.back()));
        }
        checkpoint();
        // Asking again before the values are told gives the same positions, unmoved.
        EXPECT_TRUE(std::ranges::equal(steps->ask_all(), asked));
        steps->tell_all(rows, violations);
        checkpoint();
    }
    return steps->finish(*steps->stopped());
}

TEST(MopsoCheckpoint, HoppingThroughCheckpointsEveryCallIsTheUnbrokenRun) {
    for (const ArchiveStrategy strategy : {ArchiveStrategy::crowding(), ArchiveStrategy::grid(3)}) {
        for (const bool batch : {false, true}) {
            const auto unbroken = drive_mopso(strategy, batch, false);
            const auto hopped = drive_mopso(strategy, batch, true);
            const auto engine_run =
                batch ? mopso(strategy).minimize_batch([](std::span<const std::vector<double>> xs,
                                                          std::vector<std::vector<double>>& out,
                                                          std::vector<double>& v) {
                    for (std::size_t i = 0; i < xs.size(); ++i)
                        v[i] = constrained_zdt1(xs[i], out[i]);
                })
                      : mopso(strategy).minimize(constrained_zdt1);
            for (const auto* other : {&hopped, &engine_run}) {
                ASSERT_EQ(unbroken.front.size(), other->front.size());
                for (std::size_t i = 0; i < unbroken.front.size(); ++i) {
                    EXPECT_EQ(unbroken.front[i].position, other->front[i].position);
                    EXPECT_EQ(unbroken.front[i].objectives, other->front[i].objectives);
                }
                EXPECT_EQ(unbroken.history.swarm_history, other->history.swarm_history);
                EXPECT_EQ(unbroken.history.front_history, other->history.front_history);
                EXPECT_EQ(unbroken.evaluations, other->evaluations);
            }
        }
    }
}

// Every truncation and every single-byte change of a checkpoint either loads or stops with
// "malformed checkpoint"; none reads out of range (the sanitizer build checks that).
TEST(CheckpointDamage, TruncatedOrAlteredCheckpointsStopCleanly) {
    const Variant& variant = kVariants[3];
    const ContinuousSpace box(std::vector<Bound>(4, {-3.0, 3.0}));
    const auto engine = make_engine(variant, box);
    auto steps = engine.steps();
    std::vector<double> values(kParticles, 1.0);
    for (int round = 0; round < 3; ++round) {
        steps.ask();
        steps.tell(values);
    }
    StateWriter out;
    steps.save(out);
    const std::vector<std::uint8_t> good = out.bytes();
    auto try_load = [&](const std::vector<std::uint8_t>& bytes) {
        const auto fresh_engine = make_engine(variant, box);
        auto fresh = fresh_engine.steps();
        try {
            StateReader in(bytes);
            fresh.load(in);
            in.finish();
            return true;
        } catch (const InternalFailure& failure) {
            EXPECT_EQ(std::string(failure.what()).rfind("malformed checkpoint: ", 0), 0u)
                << failure.what();
            return false;
        }
    };
    EXPECT_TRUE(try_load(good));
    for (std::size_t size = 0; size < good.size(); size += 7)
        EXPECT_FALSE(try_load(std::vector<std::uint8_t>(good.begin(), good.begin() + size)));
    std::vector<std::uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(try_load(longer));
    for (std::size_t at = 0; at < good.size(); at += 5) {
        std::vector<std::uint8_t> altered = good;
        altered[at] ^= 0xA5;
        try_load(altered);
    }
}

TEST(StepAllocations, SteadyStepsWithoutHistoryAllocateNothing) {
    PsoConfig config = pso_config();
    config.record_history = false;
    config.max_iter = 1000;
    const Pso<ContinuousSpace> engine(config, ContinuousSpace(std::vector<Bound>(4, {-3.0, 3.0})),
                                      kVariants[2].velocity(), kVariants[2].topology());
    auto steps = engine.steps();
    std::vector<double> values(kParticles, 2.0);
    for (int round = 0; round < 3; ++round) {
        steps.ask();
        steps.tell(values);
    }
    count_allocations::AllocationCount count;
    for (int round = 0; round < 20; ++round) {
        steps.ask();
        steps.tell(values);
    }
    EXPECT_EQ(count.value(), 0u);
}

}  // namespace
}  // namespace kestrelopt
