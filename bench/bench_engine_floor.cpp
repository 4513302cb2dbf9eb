// The engine's sequential run against the plain loop of the same swarm: the inertia rule
// with the module's default coefficients, global topology, clamp, no history, the same
// draws in the same order and the same arithmetic, written out in one function over flat
// arrays. The two run alternately (the machine may be busy; short runs and many repeats
// give steadier minima) and the minimum of the repeats is kept; their best values and
// positions must agree bit for bit (exit 1 otherwise).
// Prints ns per particle-dimension-iteration of each and their ratio, per function.
//
// Usage: bench_engine_floor [N D ITERATIONS SEED REPEATS]   (default 30 30 500 7 20)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/velocity/inertia.hpp"

using namespace kestrelopt;

namespace {

constexpr double kW = 0.729;
constexpr double kC1 = 1.49445;
constexpr double kC2 = 1.49445;

struct Outcome {
    double value;
    std::vector<double> position;
};

bool better(double candidate, double current) {
    return candidate < current || (current != current && candidate == candidate);
}

// The sequential mode by hand: particles in order, each moved from the bests known then and
// evaluated at once, the personal and global bests updated with the engine's rules.
Outcome plain_loop(benchmarks::Function f, const ContinuousSpace& space, std::size_t n,
                   std::size_t iterations, std::uint64_t seed) {
    RandomSource gen = RandomSource::seed_from_u64(seed);
    const std::size_t d = space.dimensions();
    std::vector<double> x(n * d), v(n * d), p(n * d), best(n), factors(2 * d);
    std::vector<double> lower(d), upper(d);
    for (std::size_t k = 0; k < d; ++k) {
        lower[k] = space.bounds()[k].first;
        upper[k] = space.bounds()[k].second;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::vector<double> xi = space.sample(gen);
        const std::vector<double> vi = space.sample_velocity(gen);
        std::memcpy(&x[i * d], xi.data(), d * sizeof(double));
        std::memcpy(&v[i * d], vi.data(), d * sizeof(double));
    }
    for (std::size_t i = 0; i < n; ++i) best[i] = f(std::span<const double>(&x[i * d], d));
    std::memcpy(p.data(), x.data(), n * d * sizeof(double));
    std::size_t g = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (better(best[i], best[g])) g = i;
    // The global best is a copy of its own: a tie keeps it while the leader may change.
    double global_value = best[g];
    std::vector<double> global(&p[g * d], &p[g * d] + d);
    for (std::size_t t = 0; t < iterations; ++t) {
        for (std::size_t i = 0; i < n; ++i) {
            double* xi = &x[i * d];
            double* vi = &v[i * d];
            const double* pi = &p[i * d];
            const double* gi = &p[g * d];
            gen.fill_uniform01(factors);  // r1, r2 of each dimension in turn
            for (std::size_t k = 0; k < d; ++k) {
                const double cognitive = (pi[k] - xi[k]) * (factors[2 * k] * kC1);
                const double social = (gi[k] - xi[k]) * (factors[2 * k + 1] * kC2);
                vi[k] = (kW * vi[k] + cognitive) + social;
                double moved = vi[k] + xi[k];
                moved = moved < lower[k] ? lower[k] : moved;
                xi[k] = moved > upper[k] ? upper[k] : moved;
            }
            const double value = f(std::span<const double>(xi, d));
            if (better(value, best[i])) {
                best[i] = value;
                std::memcpy(&p[i * d], xi, d * sizeof(double));
                if (better(value, best[g]) || (value == best[g] && i < g)) g = i;
                if (better(value, global_value)) {
                    global_value = value;
                    std::memcpy(global.data(), xi, d * sizeof(double));
                }
            }
        }
    }
    return {global_value, global};
}

Outcome engine_run(benchmarks::Function f, const Pso<ContinuousSpace>& engine) {
    const auto result = engine.run_sequential([f](std::span<const double> x) { return f(x); });
    return {result.best_value, result.best_position};
}

bool same_bits(const Outcome& a, const Outcome& b) {
    return std::memcmp(&a.value, &b.value, sizeof(double)) == 0 &&
           a.position.size() == b.position.size() &&
           std::memcmp(a.position.data(), b.position.data(), a.position.size() * sizeof(double)) ==
               0;
}

template <class Run>
double seconds_of(Run&& run, Outcome& out) {
    const auto start = std::chrono::steady_clock::now();
    out = run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 1 && argc != 6) {
        std::fprintf(stderr, "usage: %s [N D ITERATIONS SEED REPEATS]\n", argv[0]);
        return 2;
    }
    auto arg = [&](int i, unsigned long long fallback) {
        return argc == 6 ? std::strtoull(argv[i], nullptr, 10) : fallback;
    };
    const std::size_t n = arg(1, 30);
    const std::size_t d = arg(2, 30);
    const std::size_t iterations = arg(3, 500);
    const std::uint64_t seed = arg(4, 7);
    const std::size_t repeats = arg(5, 20);

    struct Problem {
        const char* name;
        benchmarks::Function f;
        double bound;
    };
    const Problem problems[] = {{"sphere", benchmarks::sphere, 5.12},
                                {"rosenbrock", benchmarks::rosenbrock, 5.0},
                                {"rastrigin", benchmarks::rastrigin, 5.12}};
    const double scale = 1e9 / static_cast<double>(n * d * iterations);
    int status = 0;
    std::printf(
        "N=%zu D=%zu iterations=%zu seed=%llu repeats=%zu (ns per particle-dimension-"
        "iteration, minimum of the repeats)\n",
        n, d, iterations, static_cast<unsigned long long>(seed), repeats);
    std::printf("%-12s %10s %10s %8s\n", "function", "engine", "plain", "ratio");
    for (const Problem& problem : problems) {
        const ContinuousSpace space(std::vector<Bound>(d, {-problem.bound, problem.bound}));
        PsoConfig config;
        config.seed = seed;
        config.n_particles = n;
        config.max_iter = iterations;
        config.record_history = false;
        const Pso<ContinuousSpace> engine(config, space,
                                          std::make_unique<InertiaVelocity>(kW, kC1, kC2),
                                          std::make_unique<GlobalBest>());
        double engine_best = std::numeric_limits<double>::infinity();
        double plain_best = engine_best;
        Outcome a, b;
        for (std::size_t r = 0; r < repeats; ++r) {
            engine_best =
                std::min(engine_best, seconds_of([&] { return engine_run(problem.f, engine); }, a));
            plain_best = std::min(
                plain_best,
                seconds_of([&] { return plain_loop(problem.f, space, n, iterations, seed); }, b));
            if (!same_bits(a, b)) {
                std::printf("%s: results differ: engine %.17g, plain loop %.17g\n", problem.name,
                            a.value, b.value);
                status = 1;
                break;
            }
        }
        std::printf("%-12s %10.3f %10.3f %8.3f   best %.17g\n", problem.name, engine_best * scale,
                    plain_best * scale, engine_best / plain_best, a.value);
    }
    return status;
}
