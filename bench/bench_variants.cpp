// Velocity rules × topologies: nanoseconds per particle-dimension-iteration of the
// sequential engine on rastrigin (D = 30, N = 100, 200 iterations) and heap allocations per
// particle-iteration in the steady state.
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "alloc_counter.hpp"
#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/adaptive_random.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/topology/random.hpp"
#include "kestrelopt/topology/ring.hpp"
#include "kestrelopt/topology/von_neumann.hpp"
#include "kestrelopt/velocity/constriction.hpp"
#include "kestrelopt/velocity/fips.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "kestrelopt/velocity/spso2011.hpp"

using namespace kestrelopt;

namespace {

volatile double sink = 0.0;
constexpr std::size_t kDims = 30, kParticles = 100, kIterations = 200;

struct Named {
    const char* name;
    std::function<std::unique_ptr<Velocity>()> velocity;
};
struct NamedTopology {
    const char* name;
    std::function<std::unique_ptr<Topology>()> topology;
};

double run(const Named& rule, const NamedTopology& topology, std::size_t iters) {
    PsoConfig config;
    config.seed = 42;
    config.n_particles = kParticles;
    config.max_iter = iters;
    config.record_history = false;
    const Pso<ContinuousSpace> pso(config,
                                   ContinuousSpace(std::vector<Bound>(kDims, {-5.12, 5.12})),
                                   rule.velocity(), topology.topology());
    return pso.run_sequential(benchmarks::rastrigin).best_value;
}

}  // namespace

int main() {
    const Named rules[] = {
        {"inertia", [] { return std::make_unique<InertiaVelocity>(0.7298, 1.49618, 1.49618); }},
        {"constriction", [] { return std::make_unique<ConstrictionVelocity>(2.05, 2.05); }},
        {"fips", [] { return std::make_unique<FipsVelocity>(4.1); }},
        {"spso2011", [] { return std::make_unique<Spso2011Velocity>(); }},
    };
    const NamedTopology topologies[] = {
        {"global", [] { return std::make_unique<GlobalBest>(); }},
        {"ring", [] { return std::make_unique<Ring>(Ring::lbest()); }},
        {"vonneumann",
         [] { return std::make_unique<VonNeumann>(VonNeumann::square_for(kParticles)); }},
        {"random", [] { return std::make_unique<Random>(3, 42); }},
        {"adaptive", [] { return std::make_unique<AdaptiveRandom>(3, 42); }},
    };
    std::printf("rastrigin, D = %zu, N = %zu, %zu iterations, sequential\n", kDims, kParticles,
                kIterations);
    std::printf("%-13s %-11s %14s %16s\n", "velocity", "topology", "ns/part-dim-it",
                "allocs/part-it");
    for (const Named& rule : rules)
        for (const NamedTopology& topology : topologies) {
            const auto start = std::chrono::steady_clock::now();
            sink = run(rule, topology, kIterations);
            const double ns =
                std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                    .count();
            bench::start_counting();
            sink = run(rule, topology, 5);
            const std::size_t few = bench::stop_counting();
            bench::start_counting();
            sink = run(rule, topology, 25);
            const std::size_t many = bench::stop_counting();
            std::printf("%-13s %-11s %14.3f %16.3f\n", rule.name, topology.name,
                        ns / static_cast<double>(kDims * kParticles * kIterations),
                        static_cast<double>(many - few) / static_cast<double>(kParticles * 20));
        }
    return 0;
}
