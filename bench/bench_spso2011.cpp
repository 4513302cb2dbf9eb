// The 2011 standard's rule against the inertia rule: nanoseconds per
// particle-dimension-iteration of the sequential engine on rastrigin (N = 40, 300
// iterations, D = 10 and 30), in the thread's processor time, the runs of each setting
// interleaved with the others and the fastest of 15 kept, so that other work on a shared
// machine weighs on all of them alike; and the time of the velocity update alone per
// dimension.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/topology/adaptive_random.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "kestrelopt/velocity/spso2011.hpp"

using namespace kestrelopt;

namespace {

volatile double sink = 0.0;
constexpr std::size_t kParticles = 40, kIterations = 300, kRepeats = 15;

struct Setting {
    const char* name;
    std::function<std::unique_ptr<Velocity>()> velocity;
    std::function<std::unique_ptr<Topology>()> topology;
};

// Processor time of this thread, in seconds.
double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double seconds_of_run(const Setting& setting, std::size_t dims) {
    PsoConfig config;
    config.seed = 42;
    config.n_particles = kParticles;
    config.max_iter = kIterations;
    config.record_history = false;
    const Pso<ContinuousSpace> pso(config, ContinuousSpace(std::vector<Bound>(dims, {-5.12, 5.12})),
                                   setting.velocity(), setting.topology());
    const double start = cpu_seconds();
    sink = pso.run_sequential(benchmarks::rastrigin).best_value;
    return cpu_seconds() - start;
}

double update_ns(const Velocity& rule, std::size_t dims) {
    std::vector<double> x(dims, 0.5), v(dims, 0.1), p(dims, 1.0), g(dims, -1.0), out(dims);
    RandomSource gen = RandomSource::seed_from_u64(1);
    double best = 1e300;
    for (std::size_t r = 0; r < kRepeats; ++r) {
        const double start = cpu_seconds();
        for (int k = 0; k < 20000; ++k) {
            rule.update_into(VelocityContext{x, v, p, g, {}, 0, 1}, gen, out);
            sink = out[0];
        }
        const double ns = (cpu_seconds() - start) * 1e9;
        best = std::min(best, ns / (20000.0 * static_cast<double>(dims)));
    }
    return best;
}

}  // namespace

int main() {
    const Setting settings[] = {
        {"inertia/global",
         [] { return std::make_unique<InertiaVelocity>(0.729, 1.49445, 1.49445); },
         [] { return std::make_unique<GlobalBest>(); }},
        {"spso2011/global", [] { return std::make_unique<Spso2011Velocity>(); },
         [] { return std::make_unique<GlobalBest>(); }},
        {"spso2011/adaptive_random", [] { return std::make_unique<Spso2011Velocity>(); },
         [] { return std::make_unique<AdaptiveRandom>(3, 42); }},
    };
    for (const std::size_t dims : {10, 30}) {
        std::vector<double> best(std::size(settings), 1e300);
        for (std::size_t r = 0; r < kRepeats; ++r)
            for (std::size_t s = 0; s < std::size(settings); ++s)
                best[s] = std::min(best[s], seconds_of_run(settings[s], dims));
        std::printf("rastrigin, D = %zu, N = %zu, %zu iterations, fastest of %zu\n", dims,
                    kParticles, kIterations, kRepeats);
        for (std::size_t s = 0; s < std::size(settings); ++s)
            std::printf("  %-26s %8.3f ns/part-dim-it   %5.2f x inertia/global\n", settings[s].name,
                        best[s] * 1e9 / static_cast<double>(kParticles * kIterations * dims),
                        best[s] / best[0]);
    }
    const InertiaVelocity inertia(0.729, 1.49445, 1.49445);
    const Spso2011Velocity spso;
    std::printf("velocity update alone, ns per dimension (D = 30): inertia %.3f, spso2011 %.3f\n",
                update_ns(inertia, 30), update_ns(spso, 30));
    return 0;
}
