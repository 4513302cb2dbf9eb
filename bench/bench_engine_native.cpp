// The engine on a native benchmark, called from C++ exactly as the module runs it for
// minimize("rastrigin", ...): continuous space, inertia rule with the module's default
// coefficients, global topology, clamp, no history. Prints the best time of the repeats
// and the best value (for comparing with the module's result bit for bit).
//
// Usage: bench_engine_native N D ITERATIONS SEED REPEATS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/velocity/inertia.hpp"

using namespace kestrelopt;

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s N D ITERATIONS SEED REPEATS\n", argv[0]);
        return 2;
    }
    const auto n = std::strtoull(argv[1], nullptr, 10);
    const auto d = std::strtoull(argv[2], nullptr, 10);
    const auto iterations = std::strtoull(argv[3], nullptr, 10);
    const auto seed = std::strtoull(argv[4], nullptr, 10);
    const auto repeats = std::strtoull(argv[5], nullptr, 10);

    PsoConfig config;
    config.seed = seed;
    config.n_particles = n;
    config.max_iter = iterations;
    config.record_history = false;
    const Pso<ContinuousSpace> engine(config, ContinuousSpace(std::vector<Bound>(d, {-5.12, 5.12})),
                                      std::make_unique<InertiaVelocity>(0.729, 1.49445, 1.49445),
                                      std::make_unique<GlobalBest>());
    double best_seconds = 1e300;
    double best_value = 0.0;
    for (unsigned long long r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const auto result = engine.run_sequential(
            [](std::span<const double> x) { return benchmarks::rastrigin(x); });
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds < best_seconds) best_seconds = seconds;
        best_value = result.best_value;
    }
    std::printf("%.9f %.17g\n", best_seconds, best_value);
    return 0;
}
