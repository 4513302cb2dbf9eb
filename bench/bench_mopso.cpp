// MOPSO on ZDT1 (30 variables, 100 particles, archive of 100, 100 iterations): nanoseconds
// per evaluation with crowding and with a grid of 10 divisions, and heap allocations per
// particle-iteration in the steady state (archive copies of accepted points included).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "alloc_counter.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/velocity/inertia.hpp"

using namespace kestrelopt;

namespace {

volatile std::size_t sink = 0;
constexpr std::size_t kDims = 30, kParticles = 100, kIterations = 100;

void zdt1(std::span<const double> x, std::vector<double>& out) {
    double g = -0.0;
    for (std::size_t i = 1; i < x.size(); ++i) g += x[i];
    g = 1.0 + 9.0 * g / static_cast<double>(x.size() - 1);
    out.push_back(x[0]);
    out.push_back(g * (1.0 - std::sqrt(x[0] / g)));
}

std::size_t run(ArchiveStrategy strategy, std::size_t iters) {
    MopsoConfig config;
    config.seed = 42;
    config.n_particles = kParticles;
    config.max_iter = iters;
    config.archive_size = 100;
    config.strategy = strategy;
    config.record_history = false;
    const Mopso<ContinuousSpace> mopso(config,
                                       ContinuousSpace(std::vector<Bound>(kDims, {0.0, 1.0})),
                                       std::make_unique<InertiaVelocity>(0.4, 1.5, 1.5));
    return mopso.minimize(zdt1).front.size();
}

}  // namespace

int main() {
    std::printf("ZDT1, %zu variables, %zu particles, archive 100, %zu iterations\n", kDims,
                kParticles, kIterations);
    std::printf("%-10s %14s %16s %12s\n", "archive", "ns/evaluation", "allocs/part-it",
                "front size");
    const struct {
        const char* name;
        ArchiveStrategy strategy;
    } cases[] = {{"crowding", ArchiveStrategy::crowding()}, {"grid 10", ArchiveStrategy::grid(10)}};
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::size_t front = run(c.strategy, kIterations);
        const double ns =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                .count();
        bench::start_counting();
        sink = run(c.strategy, 50);
        const std::size_t few = bench::stop_counting();
        bench::start_counting();
        sink = run(c.strategy, 100);
        const std::size_t many = bench::stop_counting();
        std::printf("%-10s %14.1f %16.3f %12zu\n", c.name,
                    ns / static_cast<double>(kParticles * (kIterations + 1)),
                    static_cast<double>(many - few) / static_cast<double>(kParticles * 50), front);
    }
    return 0;
}
