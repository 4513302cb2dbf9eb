// AsyncSteps and AsyncMopsoSteps, the sequential modes with evaluations in flight: with one
// in flight they ask the positions and give the result of the sequential loop (a plain
// transcription of it for the single-objective engine, its minimize for the other), bit for
// bit, over rules, topologies, spaces and stop rules; an interleaving of asks and tells
// decides the run (and survives checkpoints with tickets in flight); misuse changes nothing.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "count_allocations.hpp"
#include "kestrelopt/benchmarks/functions.hpp"
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

// Rastrigin-like, with plateaus on integer points, so the stop rules have work to do.
template <class Element>
double bumpy(std::span<const Element> x) {
    double s = 0.0;
    for (const Element v : x) {
        const double d = static_cast<double>(v) - 0.4;
        s = s + d * d + (d > 1.0 ? 2.0 : 0.0);
    }
    return s;
}

struct Case {
    const char* name;
    std::function<std::unique_ptr<Velocity>()> velocity;
    std::function<std::unique_ptr<Topology>()> topology;
    std::function<void(PsoConfig&)> stop;
};

const Case kCases[] = {
    {"inertia_global_budget", [] { return std::make_unique<InertiaVelocity>(0.7, 1.5, 1.5); },
     [] { return std::make_unique<GlobalBest>(); }, [](PsoConfig&) {}},
    {"inertia_global_max_evals",
     [] { return std::make_unique<InertiaVelocity>(0.9, 1.5, 1.5, 0.4); },
     [] { return std::make_unique<GlobalBest>(); }, [](PsoConfig& c) { c.max_evals = 23; }},
    {"constriction_ring_patience",
     [] { return std::make_unique<ConstrictionVelocity>(2.05, 2.05); },
     [] { return std::make_unique<Ring>(2); },
     [](PsoConfig& c) {
         c.patience = 2;
         c.tol = 1e-3;
     }},
    {"fips_von_neumann_target", [] { return std::make_unique<FipsVelocity>(4.1); },
     [] { return std::make_unique<VonNeumann>(2, 3); }, [](PsoConfig& c) { c.target = 0.5; }},
    {"inertia_random_diameter", [] { return std::make_unique<InertiaVelocity>(0.6, 1.5, 1.5); },
     [] { return std::make_unique<Random>(3, 5); }, [](PsoConfig& c) { c.min_diameter = 0.2; }},
    {"spso2011_adaptive_random_patience", [] { return std::make_unique<Spso2011Velocity>(); },
     [] { return std::make_unique<AdaptiveRandom>(3, 17); },
     [](PsoConfig& c) {
         c.patience = 4;
         c.tol = 1e-2;
     }},
    {"inertia_global_no_iterations",
     [] { return std::make_unique<InertiaVelocity>(0.7, 1.5, 1.5); },
     [] { return std::make_unique<GlobalBest>(); }, [](PsoConfig& c) { c.max_iter = 0; }},
};

constexpr std::size_t kParticles = 6;

PsoConfig config_of(const Case& c, BoundaryMode boundary) {
    PsoConfig config;
    config.n_particles = kParticles;
    config.max_iter = 15;
    config.seed = 31;
    config.boundary = boundary;
    config.v_max = 1.5;
    config.init = {{0.5, -0.5, 1.0, 2.0}};
    c.stop(config);
    return config;
}

template <class Space>
Pso<Space> engine_of(const Case& c, const Space& space, BoundaryMode boundary) {
    return Pso<Space>(config_of(c, boundary), space, c.velocity(), c.topology());
}

template <class Element>
struct Traced {
    PsoResult<Element> result;
    std::vector<std::vector<Element>> asked;
};

// The sequential loop as it was written before it became a loop over AsyncSteps: the
// independent account of what one evaluation in flight must give.
template <class Space>
Traced<typename Space::Element> transcription(const Case& c, const Space& space,
                                              BoundaryMode boundary) {
    using Element = typename Space::Element;
    const PsoConfig config = config_of(c, boundary);
    auto velocity = c.velocity();
    auto topology = c.topology();
    PsoRun<Space> run(config, space, *velocity, *topology);
    Traced<Element> out;
    auto evaluate = [&](const std::vector<double>& x) {
        space.decode_into(x, run.decoded);
        out.asked.push_back(run.decoded);
        return bumpy<Element>(run.decoded);
    };
    for (std::size_t p = 0; p < kParticles; ++p) {
        auto [x, v] = run.sample(p);
        const double value = evaluate(x);
        run.particles.emplace_back(std::move(x), std::move(v), value);
    }
    run.evaluations = kParticles;
    run.begin();
    if (config.max_iter == 0) {
        out.result = run.finish(StopReason::MaxIterations);
        return out;
    }
    for (std::size_t t = 0;; ++t) {
        run.record_positions();
        for (std::size_t i = 0; i < kParticles; ++i) {
            run.move(i, t);
            run.offer(i, evaluate(run.particles[i].position));
            ++run.evaluations;
        }
        run.record_convergence();
        run.close_iteration();
        if (const auto reason = run.stop_after(t)) {
            out.result = run.finish(*reason);
            return out;
        }
    }
}

template <class Element>
void expect_same(const PsoResult<Element>& a, const PsoResult<Element>& b) {
    EXPECT_EQ(a.best_position, b.best_position);
    EXPECT_EQ(bits(a.best_value), bits(b.best_value));
    EXPECT_EQ(a.history.positions, b.history.positions);
    expect_same_bits(a.history.convergence, b.history.convergence);
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.stop_reason, b.stop_reason);
}

template <class Space>
void check_one_in_flight(const Case& c, const Space& space, BoundaryMode boundary) {
    using Element = typename Space::Element;
    const Traced<Element> expected = transcription(c, space, boundary);

    // The engine's sequential mode, which is the steps' loop.
    std::vector<std::vector<Element>> asked;
    const auto engine = engine_of(c, space, boundary);
    expect_same(expected.result, engine.run_sequential([&](std::span<const Element> x) {
        asked.emplace_back(x.begin(), x.end());
        return bumpy<Element>(x);
    }));
    EXPECT_EQ(asked, expected.asked);

    // The steps driven by hand, moved through a checkpoint before every tell.
    std::vector<std::unique_ptr<Pso<Space>>> engines;
    engines.push_back(std::make_unique<Pso<Space>>(engine_of(c, space, boundary)));
    auto steps = std::make_unique<AsyncSteps<Space>>(engines.back()->async_steps());
    asked.clear();
    while (!steps->stopped()) {
        const auto ticket = steps->ask();
        const auto x = steps->position(ticket.particle);
        asked.emplace_back(x.begin(), x.end());
        const double value = bumpy<Element>(x);
        StateWriter out;
        steps->save(out);
        engines.push_back(std::make_unique<Pso<Space>>(engine_of(c, space, boundary)));
        steps = std::make_unique<AsyncSteps<Space>>(engines.back()->async_steps());
        StateReader in(out.bytes());
        steps->load(in);
        in.finish();
        steps->tell(ticket.ticket, value);
    }
    EXPECT_EQ(steps->blocked(), AskBlock::Ended);
    expect_same(expected.result, steps->finish(*steps->stopped()));
    EXPECT_EQ(asked, expected.asked);
}

class OneInFlight : public testing::TestWithParam<Case> {};

TEST_P(OneInFlight, AsksAndEndsAsTheSequentialLoop) {
    const Case& c = GetParam();
    check_one_in_flight(c, ContinuousSpace(std::vector<Bound>(4, {-3.0, 3.0})),
                        BoundaryMode::Reflect);
    check_one_in_flight(c, ContinuousSpace(std::vector<Bound>(4, {-3.0, 3.0})),
                        BoundaryMode::Clamp);
    check_one_in_flight(c, IntegerSpace(std::vector<IntegerBound>(4, {-3, 3})),
                        BoundaryMode::Reinit);
    check_one_in_flight(
        c,
        MixedSpace(std::vector<Bound>(4, {-3.0, 3.0}),
                   {VarType::Real, VarType::Integer, VarType::Binary, VarType::Real}),
        BoundaryMode::Wrap);
}

INSTANTIATE_TEST_SUITE_P(Rules, OneInFlight, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// run_sequential runs the loop of one evaluation in flight without tickets, handing the
// objective the position itself in a box, and moves by the inertia path in a clamped box
// under the global topology. Against the steps' loop and against the same rule seen only
// through its interface, bit for bit: rules and topologies on sphere and rastrigin, two
// seeds (one with a speed limit), with a stop rule, a callback that stops the run and an
// objective that interrupts it (before the run has begun too, which all throw).
struct Ending {
    const char* name;
    std::function<void(PsoConfig&)> stop;
    std::size_t callback_stops_after;  // iterations; 0: never
    std::size_t interrupt_at;          // evaluations; 0: never
};

const Ending kEndings[] = {
    {"budget", [](PsoConfig&) {}, 0, 0},
    {"patience",
     [](PsoConfig& c) {
         c.patience = 3;
         c.tol = 1e-2;
     },
     0, 0},
    {"callback", [](PsoConfig& c) { c.max_evals = 200; }, 7, 0},
    {"interrupted", [](PsoConfig&) {}, 0, 8 * 5 + 3},
    {"interrupted_at_start", [](PsoConfig&) {}, 0, 6},
};

// The inertia rule behind a type of its own, so that the engine moves its particles
// through the rule's interface and not the inertia path of a clamped box.
class OpaqueInertia final : public Velocity {
  public:
    explicit OpaqueInertia(std::unique_ptr<Velocity> rule) : rule_(std::move(rule)) {}
    void update_into(const VelocityContext& context, RandomSource& gen,
                     std::span<double> out) const override {
        rule_->update_into(context, gen, out);
    }
    bool needs_full_neighborhood() const override { return rule_->needs_full_neighborhood(); }

  private:
    std::unique_ptr<Velocity> rule_;
};

class SequentialRun : public testing::TestWithParam<Ending> {};

TEST_P(SequentialRun, IsTheStepsLoopWithOneInFlight) {
    const Ending& ending = GetParam();
    // Inertia (constant, then falling weight) and constriction on their topologies, and
    // inertia on a ring; the cases' own stop rules are not used.
    const Case ring{"inertia_ring", kCases[0].velocity, [] { return std::make_unique<Ring>(1); },
                    kCases[0].stop};
    const Case rules[] = {kCases[0], kCases[1], kCases[2], ring};
    const benchmarks::Function functions[] = {benchmarks::sphere, benchmarks::rastrigin};
    for (const Case& rule : rules)
        for (const benchmarks::Function f : functions)
            for (const std::uint64_t seed : {5u, 77u}) {
                SCOPED_TRACE(std::string(rule.name) + " seed " + std::to_string(seed));
                PsoConfig config;
                config.n_particles = 8;
                config.max_iter = 30;
                config.seed = seed;
                config.record_history = seed == 5;
                if (seed == 77) config.v_max = 2.0;
                ending.stop(config);
                const ContinuousSpace space(std::vector<Bound>(5, {-5.12, 5.12}));
                const Pso<ContinuousSpace> engine(config, space, rule.velocity(), rule.topology());
                // The same objective and callback for both runs, counting afresh.
                std::size_t evaluations = 0;
                std::vector<std::vector<double>> asked;
                auto objective = [&](std::span<const double> x) {
                    if (++evaluations == ending.interrupt_at) throw StopRun{};
                    asked.emplace_back(x.begin(), x.end());
                    return f(x);
                };
                std::vector<double> seen;
                auto callback = [&](const IterationInfo& info) {
                    seen.push_back(info.best_value);
                    return info.iteration + 1 != ending.callback_stops_after;
                };
                auto steps_loop = [&]() -> PsoResult<double> {
                    AsyncSteps<ContinuousSpace> steps = engine.async_steps();
                    try {
                        while (!steps.stopped()) {
                            const auto a = steps.ask();
                            steps.tell(a.ticket, objective(steps.position(a.particle)), callback);
                        }
                    } catch (const StopRun&) {
                        if (!steps.begun()) throw;
                        return steps.finish(StopReason::Interrupted);
                    }
                    return steps.finish(*steps.stopped());
                };
                if (ending.interrupt_at != 0 && ending.interrupt_at <= config.n_particles) {
                    EXPECT_THROW(steps_loop(), StopRun);
                    evaluations = 0;
                    EXPECT_THROW(engine.run_sequential(objective, callback), StopRun);
                    continue;
                }
                const PsoResult<double> expected = steps_loop();
                const auto expected_asked = std::move(asked);
                const auto expected_seen = std::move(seen);
                evaluations = 0;
                asked.clear();
                seen.clear();
                expect_same(expected, engine.run_sequential(objective, callback));
                EXPECT_EQ(asked, expected_asked);
                expect_same_bits(seen, expected_seen);
                // Through the rule's interface, every move.
                const Pso<ContinuousSpace> opaque(config, space,
                                                  std::make_unique<OpaqueInertia>(rule.velocity()),
                                                  rule.topology());
                evaluations = 0;
                asked.clear();
                seen.clear();
                expect_same(expected, opaque.run_sequential(objective, callback));
                EXPECT_EQ(asked, expected_asked);
                expect_same_bits(seen, expected_seen);
                if (ending.callback_stops_after != 0) {
                    EXPECT_EQ(expected.stop_reason, StopReason::Callback);
                    EXPECT_EQ(expected_seen.size(), ending.callback_stops_after);
                }
                if (ending.interrupt_at != 0) {
                    EXPECT_EQ(expected.stop_reason, StopReason::Interrupted);
                    EXPECT_EQ(expected.evaluations, ending.interrupt_at - 1);
                }
            }
}

INSTANTIATE_TEST_SUITE_P(Endings, SequentialRun, testing::ValuesIn(kEndings),
                         [](const auto& info) { return std::string(info.param.name); });

using Box = ContinuousSpace;

Box box() {
    return Box(std::vector<Bound>(4, {-3.0, 3.0}));
}

// Keeps `width` evaluations in flight and tells them in a fixed scrambled order; with `hop`, every
// call goes through a checkpoint into fresh steps. Returns the result and the tickets in the order
// told.
struct Interleaved {
    PsoResult<double> result;
    std::vector<std::uint64_t> told;
    std::vector<std::vector<double>> asked;
};

Interleaved interleave(const Case& c, std::size_t width, bool hop) {
    std::vector<std::unique_ptr<Pso<Box>>> engines;
    engines.push_back(std::make_unique<Pso<Box>>(engine_of(c, box(), BoundaryMode::Clamp)));
    auto steps = std::make_unique<AsyncSteps<Box>>(engines.back()->async_steps());
    auto checkpoint = [&] {
        if (!hop) return;
        StateWriter out;
        steps->save(out);
        engines.push_back(std::make_unique<Pso<Box>>(engine_of(c, box(), BoundaryMode::Clamp)));
        steps = std::make_unique<AsyncSteps<Box>>(engines.back()->async_steps());
        StateReader in(out.bytes());
        steps->load(in);
        in.finish();
    };
    Interleaved out;
    std::vector<std::pair<std::uint64_t, double>> flying;
    while (!steps->stopped()) {
        while (flying.size() < width && !steps->blocked()) {
            const auto ticket = steps->ask();
            const auto x = steps->position(ticket.particle);
            out.asked.emplace_back(x.begin(), x.end());
            flying.emplace_back(ticket.ticket, bumpy<double>(x));
            checkpoint();
        }
        const std::size_t k = (out.told.size() * 5 + 1) % flying.size();
        steps->tell(flying[k].first, flying[k].second);
        out.told.push_back(flying[k].first);
        flying.erase(flying.begin() + static_cast<std::ptrdiff_t>(k));
        checkpoint();
    }
    out.result = steps->finish(*steps->stopped());
    return out;
}

TEST(Interleaving, TheSameOrderOfAsksAndTellsGivesTheSameRunThroughCheckpoints) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Interleaved one = interleave(c, 1, false);
        const Interleaved four = interleave(c, 4, false);
        const Interleaved hopped = interleave(c, 4, true);
        expect_same(four.result, hopped.result);
        EXPECT_EQ(four.told, hopped.told);
        EXPECT_EQ(four.asked, hopped.asked);
        // Out of order: some ticket is told before an older one.
        bool out_of_order = false;
        for (std::size_t k = 1; k < four.told.size(); ++k)
            out_of_order = out_of_order || four.told[k] < four.told[k - 1];
        EXPECT_TRUE(out_of_order);
        // Four in flight is another run than one, of as many evaluations when only the
        // budget can end it; without iterations, both only ask the starting swarm.
        const PsoConfig config = config_of(c, BoundaryMode::Clamp);
        if (config.max_iter == 0) {
            EXPECT_EQ(four.asked, one.asked);
        } else {
            EXPECT_NE(four.asked, one.asked);
        }
        if (config.patience == 0 && !config.target && !config.min_diameter) {
            EXPECT_EQ(four.result.evaluations, one.result.evaluations);
        }
    }
}

PsoConfig small_config(std::size_t max_iter) {
    PsoConfig config;
    config.n_particles = 3;
    config.max_iter = max_iter;
    config.seed = 5;
    return config;
}

Pso<Box> small_engine(PsoConfig config) {
    return Pso<Box>(std::move(config), box(), std::make_unique<InertiaVelocity>(0.7, 1.5, 1.5),
                    std::make_unique<GlobalBest>());
}

TEST(Tickets, FreeParticlesInRoundRobinOrderAndTheBudgetEndsTheRun) {
    const auto engine = small_engine(small_config(1));  // budget: 3 + 3 asks
    auto steps = engine.async_steps();
    EXPECT_EQ(steps.budget(), 6u);
    for (std::uint64_t k = 0; k < 3; ++k) {
        const auto ticket = steps.ask();
        EXPECT_EQ(ticket.ticket, k);
        EXPECT_EQ(ticket.particle, k);
    }
    EXPECT_EQ(steps.blocked(), AskBlock::AllInFlight);
    EXPECT_EQ(failure_of([&] { steps.ask(); }), "every particle is in flight");
    steps.tell(1, 5.0);
    for (const std::uint64_t wrong : {std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{99}})
        EXPECT_EQ(failure_of([&] { steps.tell(wrong, 0.0); }), "the ticket is not in flight");
    EXPECT_EQ(steps.run().evaluations, 1u);
    EXPECT_EQ(steps.run().particles[1].best_value, 5.0);
    ASSERT_EQ(steps.pending().size(), 2u);
    EXPECT_EQ(steps.pending()[1].ticket, 2u);
    EXPECT_FALSE(steps.begun());

    // Particle 1 is the only one free: it moves, from the only value told so far.
    const auto moved = steps.ask();
    EXPECT_EQ(moved.ticket, 3u);
    EXPECT_EQ(moved.particle, 1u);
    EXPECT_TRUE(steps.begun());
    EXPECT_EQ(steps.run().global_value, 5.0);
    EXPECT_EQ(steps.run().particles[0].best_value, kInf);  // still in flight
    steps.tell(0, 2.0);  // its starting value arrives late, and leads
    EXPECT_EQ(steps.run().global_value, 2.0);
    EXPECT_EQ(steps.run().global_best, steps.run().particles[0].position);
    steps.tell(3, 7.0);

    // The search goes on after particle 1: 2 is in flight, so 0, then 1.
    EXPECT_EQ(steps.ask().particle, 0u);
    EXPECT_EQ(steps.ask().particle, 1u);
    EXPECT_EQ(steps.blocked(), AskBlock::BudgetAsked);
    EXPECT_EQ(failure_of([&] { steps.ask(); }), "every evaluation of the budget has been asked");
    ASSERT_EQ(steps.pending().size(), 3u);
    EXPECT_EQ(steps.pending()[0].ticket, 2u);
    EXPECT_EQ(steps.tell(5, 9.0), std::nullopt);
    EXPECT_EQ(steps.tell(2, 1.0), std::nullopt);
    EXPECT_EQ(steps.tell(4, 8.0), StopReason::MaxIterations);  // the last of the budget
    const auto result = steps.finish(StopReason::MaxIterations);
    EXPECT_EQ(result.evaluations, 6u);
    EXPECT_EQ(result.best_value, 1.0);
    EXPECT_EQ(result.history.convergence, std::vector<double>({1.0}));
}

TEST(Tickets, ValuesInFlightWhenAStopRuleFiresAreStillTaken) {
    PsoConfig config = small_config(10);
    config.target = 0.5;
    const auto engine = small_engine(config);
    auto steps = engine.async_steps();
    for (std::uint64_t k = 0; k < 3; ++k) steps.tell(steps.ask().ticket, 3.0);
    for (int k = 0; k < 3; ++k) steps.ask();  // tickets 3, 4, 5
    steps.tell(5, 3.0);
    EXPECT_EQ(steps.ask().ticket, 6u);
    steps.tell(3, 0.1);
    EXPECT_EQ(steps.tell(4, 3.0), StopReason::Target);  // after 3 + 3 values
    EXPECT_EQ(steps.blocked(), AskBlock::Ended);
    EXPECT_EQ(failure_of([&] { steps.ask(); }), "the run has ended");
    EXPECT_EQ(steps.tell(6, 0.01), StopReason::Target);
    const auto result = steps.finish(StopReason::Target);
    EXPECT_EQ(result.evaluations, 7u);
    EXPECT_EQ(result.best_value, 0.01);
    EXPECT_EQ(result.history.convergence, std::vector<double>({0.1}));
}

TEST(Tickets, DamagedCheckpointsWithTicketsInFlightStopCleanly) {
    const auto engine = small_engine(small_config(10));
    auto steps = engine.async_steps();
    for (int k = 0; k < 3; ++k) steps.ask();
    steps.tell(1, 1.0);
    steps.ask();
    steps.tell(0, 2.0);
    StateWriter out;
    steps.save(out);
    const std::vector<std::uint8_t> good = out.take();
    auto try_load = [&](const std::vector<std::uint8_t>& bytes) {
        const auto fresh_engine = small_engine(small_config(10));
        auto fresh = fresh_engine.async_steps();
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
    for (std::size_t size = 0; size < good.size(); size += 5)
        EXPECT_FALSE(try_load(std::vector<std::uint8_t>(good.begin(), good.begin() + size)));
    for (std::size_t at = 0; at < good.size(); at += 3) {
        std::vector<std::uint8_t> altered = good;
        altered[at] ^= 0x5A;
        try_load(altered);
    }
    // A ticket's particle changed to another one in flight.
    std::vector<std::uint8_t> clash = good;
    clash[8 * 10] = 2;  // the second ticket in flight (ticket 3, particle 1) onto particle 2
    EXPECT_FALSE(try_load(clash));
}

TEST(Tickets, SteadyAsksAndTellsWithoutHistoryAllocateNothing) {
    PsoConfig config = small_config(1000);
    config.record_history = false;
    const auto engine = small_engine(config);
    auto steps = engine.async_steps();
    std::vector<std::uint64_t> flying;
    auto cycle = [&] {
        while (!steps.blocked()) flying.push_back(steps.ask().ticket);
        steps.tell(flying[1], 2.0);  // out of order
        flying.erase(flying.begin() + 1);
    };
    flying.reserve(8);
    for (int k = 0; k < 10; ++k) cycle();
    count_allocations::AllocationCount count;
    for (int k = 0; k < 50; ++k) cycle();
    EXPECT_EQ(count.value(), 0u);
}

// ZDT1 with the constraint x0 >= 0.3, so both the violation and the archive's reset matter.
double constrained_zdt1(std::span<const double> x, std::vector<double>& out) {
    zdt1(x, out);
    return 0.3 - x[0];
}

template <class Space>
Mopso<Space> mopso_of(const Space& space, ArchiveStrategy strategy, std::size_t max_evals) {
    MopsoConfig config;
    config.n_particles = 7;
    config.max_iter = 9;
    config.archive_size = 5;
    config.strategy = strategy;
    config.mutation_rate = 0.5;
    config.seed = 8;
    config.boundary = BoundaryMode::Reflect;
    config.init = {{0.1, 0.2, 0.3, 0.4}};
    if (max_evals > 0) config.max_evals = max_evals;
    return Mopso<Space>(config, space, std::make_unique<InertiaVelocity>(0.5, 1.5, 1.5));
}

template <class Element>
void expect_same_front(const MopsoResult<Element>& a, const MopsoResult<Element>& b) {
    ASSERT_EQ(a.front.size(), b.front.size());
    for (std::size_t i = 0; i < a.front.size(); ++i) {
        EXPECT_EQ(a.front[i].position, b.front[i].position);
        EXPECT_EQ(a.front[i].objectives, b.front[i].objectives);
        EXPECT_EQ(a.front[i].violation, b.front[i].violation);
    }
    EXPECT_EQ(a.history.swarm_history, b.history.swarm_history);
    EXPECT_EQ(a.history.front_history, b.history.front_history);
    EXPECT_EQ(a.evaluations, b.evaluations);
    EXPECT_EQ(a.stop_reason, b.stop_reason);
}

// Keeps `width` in flight, telling them in a scrambled order, through a checkpoint into
// fresh steps before every tell when `hop` is set.
template <class Space>
MopsoResult<typename Space::Element> multi_in_flight(const Space& space, ArchiveStrategy strategy,
                                                     std::size_t max_evals, std::size_t width,
                                                     bool hop) {
    std::vector<std::unique_ptr<Mopso<Space>>> engines;
    engines.push_back(std::make_unique<Mopso<Space>>(mopso_of(space, strategy, max_evals)));
    auto steps = std::make_unique<AsyncMopsoSteps<Space>>(engines.back()->async_steps());
    struct Flying {
        std::uint64_t ticket;
        std::vector<double> f;
        double violation;
    };
    std::vector<Flying> flying;
    std::size_t told = 0;
    while (!steps->stopped()) {
        while (flying.size() < width && !steps->blocked()) {
            const auto ticket = steps->ask();
            const auto x = steps->position(ticket.particle);
            const std::vector<double> as_double(x.begin(), x.end());
            Flying next{ticket.ticket, {}, 0.0};
            next.violation = constrained_zdt1(as_double, next.f);
            flying.push_back(std::move(next));
        }
        if (hop) {
            StateWriter out;
            steps->save(out);
            engines.push_back(std::make_unique<Mopso<Space>>(mopso_of(space, strategy, max_evals)));
            steps = std::make_unique<AsyncMopsoSteps<Space>>(engines.back()->async_steps());
            StateReader in(out.bytes());
            steps->load(in);
            in.finish();
        }
        const std::size_t k = (told++ * 5 + 1) % flying.size();
        steps->tell(flying[k].ticket, flying[k].f, flying[k].violation);
        flying.erase(flying.begin() + static_cast<std::ptrdiff_t>(k));
    }
    return steps->finish(*steps->stopped());
}

TEST(MultiInFlight, OneInFlightIsTheEngineAndAnInterleavingSurvivesCheckpoints) {
    const ContinuousSpace box(std::vector<Bound>(4, {0.0, 1.0}));
    const MixedSpace mixed(std::vector<Bound>(4, {0.0, 1.0}),
                           {VarType::Real, VarType::Real, VarType::Integer, VarType::Binary});
    for (const ArchiveStrategy strategy : {ArchiveStrategy::crowding(), ArchiveStrategy::grid(3)})
        for (const std::size_t max_evals : {std::size_t{0}, std::size_t{30}}) {
            const auto engine_run = mopso_of(box, strategy, max_evals).minimize(constrained_zdt1);
            expect_same_front(engine_run, multi_in_flight(box, strategy, max_evals, 1, true));
            const auto mixed_run = mopso_of(mixed, strategy, max_evals).minimize(constrained_zdt1);
            expect_same_front(mixed_run, multi_in_flight(mixed, strategy, max_evals, 1, false));
            const auto wide = multi_in_flight(box, strategy, max_evals, 4, false);
            expect_same_front(wide, multi_in_flight(box, strategy, max_evals, 4, true));
            EXPECT_EQ(wide.evaluations, engine_run.evaluations);
            EXPECT_NE(wide.history.swarm_history, engine_run.history.swarm_history);
        }
}

}  // namespace
}  // namespace kestrelopt
