// Engine benchmark: nanoseconds per particle-dimension-iteration of the swarm engine on
// rastrigin beside the bare work it cannot avoid (the same uniform01 draws and rastrigin
// evaluations in a plain loop), heap allocations per particle-iteration in the steady
// state, and the cost of next_u64 with the scalar and the vector ChaCha refill.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "alloc_counter.hpp"
#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/velocity/inertia.hpp"

using namespace kestrelopt;
using Clock = std::chrono::steady_clock;

namespace {

volatile double sink = 0.0;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Pso<ContinuousSpace> rastrigin_engine(std::size_t n, std::size_t d, std::size_t iters) {
    PsoConfig config;
    config.seed = 42;
    config.n_particles = n;
    config.max_iter = iters;
    config.record_history = false;
    return Pso<ContinuousSpace>(config, ContinuousSpace(std::vector<Bound>(d, {-5.12, 5.12})),
                                std::make_unique<InertiaVelocity>(0.7298, 1.49618, 1.49618),
                                std::make_unique<GlobalBest>());
}

double run_once(const Pso<ContinuousSpace>& pso, bool batch) {
    if (!batch) return pso.run_sequential(benchmarks::rastrigin).best_value;
    return pso
        .minimize_batch([](std::span<const std::vector<double>> xs, std::vector<double>& values) {
            for (const auto& x : xs) values.push_back(benchmarks::rastrigin(x));
        })
        .best_value;
}

// The work every engine must do: 2·D draws and one rastrigin per particle-iteration.
double bare_work(std::size_t n, std::size_t d, std::size_t iters) {
    auto gen = RandomSource::seed_from_u64(42);
    std::vector<double> x(d, 0.5);
    double total = 0.0;
    for (std::size_t t = 0; t < iters; ++t)
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < d; ++k) {
                const double r1 = uniform01(gen);
                const double r2 = uniform01(gen);
                x[k] = r1 - r2;
            }
            total += benchmarks::rastrigin(x);
        }
    return total;
}

// Allocations per particle-iteration: the difference between two run lengths removes the
// set-up allocations (swarm, buffers, result).
double allocations_per_particle_iteration(std::size_t n, std::size_t d, bool batch) {
    const std::size_t short_run = 5, long_run = 25;
    const auto a = rastrigin_engine(n, d, short_run);
    const auto b = rastrigin_engine(n, d, long_run);
    bench::start_counting();
    sink = run_once(a, batch);
    const std::size_t few = bench::stop_counting();
    bench::start_counting();
    sink = run_once(b, batch);
    const std::size_t many = bench::stop_counting();
    return static_cast<double>(many - few) / static_cast<double>(n * (long_run - short_run));
}

template <class Refill>
double ns_per_u64(Refill refill) {
    std::array<std::uint32_t, 8> key{1, 2, 3, 4, 5, 6, 7, 8};
    std::uint32_t words[64];
    const std::size_t refills = 2'000'000;
    std::uint64_t acc = 0;
    const auto start = Clock::now();
    for (std::size_t r = 0; r < refills; ++r) {
        refill(key, 4 * r, 0, words);
        for (int w = 0; w < 64; w += 2) acc += words[w] | (std::uint64_t{words[w + 1]} << 32);
    }
    const double elapsed = seconds_since(start);
    sink = static_cast<double>(acc);
    return elapsed * 1e9 / static_cast<double>(refills * 32);
}

double generator_ns_per_u64() {
    auto gen = RandomSource::seed_from_u64(1);
    const std::size_t draws = 64'000'000;
    std::uint64_t acc = 0;
    const auto start = Clock::now();
    for (std::size_t i = 0; i < draws; ++i) acc += gen.next_u64();
    const double elapsed = seconds_since(start);
    sink = static_cast<double>(acc);
    return elapsed * 1e9 / static_cast<double>(draws);
}

}  // namespace

int main() {
    const std::size_t d = 30, iters = 200;
    std::printf("rastrigin, D = %zu, %zu iterations (ns per particle-dimension-iteration)\n", d,
                iters);
    std::printf("%-12s %6s %12s %12s %8s %16s\n", "mode", "N", "engine", "bare work", "ratio",
                "allocs/part-it");
    for (const bool batch : {false, true}) {
        for (const std::size_t n : {30u, 300u, 3000u}) {
            const auto pso = rastrigin_engine(n, d, iters);
            const double units = static_cast<double>(n * d * iters);
            auto start = Clock::now();
            sink = run_once(pso, batch);
            const double engine_ns = seconds_since(start) * 1e9 / units;
            start = Clock::now();
            sink = bare_work(n, d, iters);
            const double bare_ns = seconds_since(start) * 1e9 / units;
            std::printf("%-12s %6zu %12.3f %12.3f %8.2f %16.3f\n",
                        batch ? "synchronous" : "sequential", n, engine_ns, bare_ns,
                        engine_ns / bare_ns, allocations_per_particle_iteration(n, d, batch));
        }
    }
    std::printf(
        "\nnext_u64: %.3f ns with the scalar refill, %.3f ns with the SSE2 refill, "
        "%.3f ns with the AVX2 eight-block kernel, %.3f ns through RandomSource\n",
        ns_per_u64(detail::chacha8_four_blocks_scalar),
        ns_per_u64([](const std::array<std::uint32_t, 8>& key, std::uint64_t c, std::uint64_t s,
                      std::uint32_t* out) {
            if (!detail::chacha8_four_blocks_simd(key, c, s, out))
                detail::chacha8_four_blocks_scalar(key, c, s, out);
        }),
        ns_per_u64([](const std::array<std::uint32_t, 8>& key, std::uint64_t c, std::uint64_t s,
                      std::uint32_t* out) {
            // Half the calls produce eight blocks; the others reuse the second half.
            static std::uint32_t ahead[64];
            static bool ready = false;
            if (ready) {
                std::copy(ahead, ahead + 64, out);
                ready = false;
            } else if (detail::chacha8_eight_blocks_simd(key, c, s, out, ahead)) {
                ready = true;
            } else {
                detail::chacha8_four_blocks_scalar(key, c, s, out);
            }
        }),
        generator_ns_per_u64());
    return 0;
}
