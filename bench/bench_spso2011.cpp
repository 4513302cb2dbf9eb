// The 2011 standard's rules against the inertia rule, under the global topology and under
// the same topology: nanoseconds per particle-dimension-iteration of the sequential engine
// on rastrigin and on sphere (N = 40, 300 iterations, D = 10 and 30), in the thread's processor
// time, the runs of each setting interleaved with the others and the fastest of 15 kept, so that
// other work on a shared machine weighs on all of them alike; the time of the velocity update alone
// per dimension; and that of a rastrigin evaluation, which depends on how spread the points are.
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

double seconds_of_run(const Setting& setting, std::size_t dims,
                      double (*objective)(std::span<const double>)) {
    PsoConfig config;
    config.seed = 42;
    config.n_particles = kParticles;
    config.max_iter = kIterations;
    config.record_history = false;
    const Pso<ContinuousSpace> pso(config, ContinuousSpace(std::vector<Bound>(dims, {-5.12, 5.12})),
                                   setting.velocity(), setting.topology());
    const double start = cpu_seconds();
    sink = pso.run_sequential(objective).best_value;
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

// Processor time of one rastrigin evaluation per dimension, over 1,000 points drawn in the
// box (`spread`) or all at one of them: cos costs more, and branches less predictably, on
// varied arguments, so a swarm that keeps its diversity pays more per evaluation.
double rastrigin_ns(bool spread, std::size_t dims) {
    RandomSource gen = RandomSource::seed_from_u64(3);
    std::vector<std::vector<double>> points(1000, std::vector<double>(dims));
    for (auto& point : points)
        for (double& c : point) c = uniform_in_inclusive(gen, -5.12, 5.12);
    if (!spread)
        for (auto& point : points) point = points[0];
    double best = 1e300;
    for (std::size_t r = 0; r < kRepeats; ++r) {
        const double start = cpu_seconds();
        for (int k = 0; k < 20; ++k)
            for (const auto& point : points) sink = benchmarks::rastrigin(point);
        best = std::min(best, (cpu_seconds() - start) * 1e9 / (20.0 * 1000.0 * dims));
    }
    return best;
}

}  // namespace

int main() {
    const auto radial = [] {
        return std::make_unique<Spso2011Velocity>(
            Spso2011Velocity::kWeight, Spso2011Velocity::kAttraction, Spso2011Velocity::kAttraction,
            BallPoint::UniformRadius);
    };
    const Setting settings[] = {
        {"inertia/global",
         [] { return std::make_unique<InertiaVelocity>(0.729, 1.49445, 1.49445); },
         [] { return std::make_unique<GlobalBest>(); }},
        {"inertia/adaptive_random",
         [] { return std::make_unique<InertiaVelocity>(0.729, 1.49445, 1.49445); },
         [] { return std::make_unique<AdaptiveRandom>(3, 42); }},
        {"spso2011/global", [] { return std::make_unique<Spso2011Velocity>(); },
         [] { return std::make_unique<GlobalBest>(); }},
        {"spso2011/adaptive_random", [] { return std::make_unique<Spso2011Velocity>(); },
         [] { return std::make_unique<AdaptiveRandom>(3, 42); }},
        {"uniform_radius/global", radial, [] { return std::make_unique<GlobalBest>(); }},
        {"uniform_radius/adaptive_random", radial,
         [] { return std::make_unique<AdaptiveRandom>(3, 42); }},
    };
    struct Objective {
        const char* name;
        double (*function)(std::span<const double>);
    };
    for (const auto& [name, objective] : {Objective{"rastrigin", &benchmarks::rastrigin},
                                          Objective{"sphere", &benchmarks::sphere}}) {
        for (const std::size_t dims : {10, 30}) {
            std::vector<double> best(std::size(settings), 1e300);
            for (std::size_t r = 0; r < kRepeats; ++r)
                for (std::size_t s = 0; s < std::size(settings); ++s)
                    best[s] = std::min(best[s], seconds_of_run(settings[s], dims, objective));
            std::printf("%s, D = %zu, N = %zu, %zu iterations, fastest of %zu\n", name, dims,
                        kParticles, kIterations, kRepeats);
            // The settings alternate between the two topologies, inertia's first.
            for (std::size_t s = 0; s < std::size(settings); ++s)
                std::printf(
                    "  %-31s %8.3f ns/part-dim-it   %5.2f x inertia/global   %5.2f x inertia, "
                    "same topology\n",
                    settings[s].name,
                    best[s] * 1e9 / static_cast<double>(kParticles * kIterations * dims),
                    best[s] / best[0], best[s] / best[s % 2]);
        }
    }
    const InertiaVelocity inertia(0.729, 1.49445, 1.49445);
    std::printf(
        "velocity update alone, ns per dimension (D = 30): inertia %.3f, spso2011 %.3f, "
        "uniform_radius %.3f\n",
        update_ns(inertia, 30), update_ns(Spso2011Velocity(), 30), update_ns(*radial(), 30));
    std::printf(
        "rastrigin evaluation alone, ns per dimension (D = 30): at 1,000 points of the "
        "box %.3f, at one point %.3f\n",
        rastrigin_ns(true, 30), rastrigin_ns(false, 30));
    return 0;
}
