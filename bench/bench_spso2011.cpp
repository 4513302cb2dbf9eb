// The 2011 standard's rules against the inertia rule, under the global topology and under
// the same topology: nanoseconds per particle-dimension-iteration of the sequential engine
// on rastrigin and on sphere (N = 40, 300 iterations, D = 10 and 30), in the thread's processor
// time, the runs of each setting interleaved with the others and the fastest of 15 kept, so that
// other work on a shared machine weighs on all of them alike; the time of the velocity update alone
// per dimension, and of its parts; and that of a rastrigin evaluation, which depends on how spread
// the points are.
//
// Each run is also split in two, as the settings visit different points and rastrigin's cos
// costs more on a swarm that stays spread: the engine alone (the same run again with each
// evaluation answered from the values the first run recorded, so the same trajectory bit for
// bit at the cost of a table read; exit 1 if its best point differs) and the objective alone
// (rastrigin, or sphere, over the points that run evaluated, in its order). The plain ratio
// comes first; the split's ratios after it: the engine's, and the run's with each setting's
// objective time replaced by inertia/global's (same evaluation cost).
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

using Objective = double (*)(std::span<const double>);

Pso<ContinuousSpace> engine_for(const Setting& setting, std::size_t dims) {
    PsoConfig config;
    config.seed = 42;
    config.n_particles = kParticles;
    config.max_iter = kIterations;
    config.record_history = false;
    return Pso<ContinuousSpace>(config, ContinuousSpace(std::vector<Bound>(dims, {-5.12, 5.12})),
                                setting.velocity(), setting.topology());
}

// What one run of a setting evaluated, in order: the points (flat) and their values.
struct Visits {
    std::vector<double> points;
    std::vector<double> values;
    std::vector<double> best;  // the run's best position
};

Visits record(const Setting& setting, std::size_t dims, Objective objective) {
    Visits visits;
    const auto pso = engine_for(setting, dims);
    visits.best = pso.run_sequential([&](std::span<const double> x) {
                         visits.points.insert(visits.points.end(), x.begin(), x.end());
                         visits.values.push_back(objective(x));
                         return visits.values.back();
                     })
                      .best_position;
    return visits;
}

// The seconds of a run, of the same run with the recorded values, and of the objective over
// the recorded points.
struct Split {
    double run;
    double engine;
    double objective;
};

Split time_split(const Setting& setting, std::size_t dims, Objective objective,
                 const Visits& visits) {
    Split split{};
    {
        const auto pso = engine_for(setting, dims);
        const double start = cpu_seconds();
        sink = pso.run_sequential(objective).best_value;
        split.run = cpu_seconds() - start;
    }
    {
        const auto pso = engine_for(setting, dims);
        const double* value = visits.values.data();
        const double start = cpu_seconds();
        const std::vector<double> best =
            pso.run_sequential([&](std::span<const double>) { return *value++; }).best_position;
        split.engine = cpu_seconds() - start;
        if (std::memcmp(best.data(), visits.best.data(), best.size() * sizeof(double)) != 0) {
            std::printf("%s: the replayed run ended elsewhere\n", setting.name);
            std::exit(1);
        }
    }
    {
        const double* point = visits.points.data();
        const std::size_t count = visits.values.size();
        double total = 0.0;
        const double start = cpu_seconds();
        for (std::size_t k = 0; k < count; ++k, point += dims)
            total += objective(std::span<const double>(point, dims));
        split.objective = cpu_seconds() - start;
        sink = total;
    }
    return split;
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

// Nanoseconds per call of `part`, the fastest of the repeats.
template <class Part>
double part_ns(Part&& part) {
    double best = 1e300;
    for (std::size_t r = 0; r < kRepeats; ++r) {
        const double start = cpu_seconds();
        for (int k = 0; k < 20000; ++k) part();
        best = std::min(best, (cpu_seconds() - start) * 1e9 / 20000.0);
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
    struct Named {
        const char* name;
        Objective function;
    };
    for (const auto& [name, objective] :
         {Named{"rastrigin", &benchmarks::rastrigin}, Named{"sphere", &benchmarks::sphere}}) {
        for (const std::size_t dims : {10, 30}) {
            std::vector<Visits> visits;
            for (const Setting& setting : settings)
                visits.push_back(record(setting, dims, objective));
            std::vector<Split> best(std::size(settings), Split{1e300, 1e300, 1e300});
            for (std::size_t r = 0; r < kRepeats; ++r)
                for (std::size_t s = 0; s < std::size(settings); ++s) {
                    const Split split = time_split(settings[s], dims, objective, visits[s]);
                    best[s].run = std::min(best[s].run, split.run);
                    best[s].engine = std::min(best[s].engine, split.engine);
                    best[s].objective = std::min(best[s].objective, split.objective);
                }
            const double per = 1e9 / static_cast<double>(kParticles * kIterations * dims);
            std::printf("%s, D = %zu, N = %zu, %zu iterations, fastest of %zu\n", name, dims,
                        kParticles, kIterations, kRepeats);
            // The settings alternate between the two topologies, inertia's first.
            for (std::size_t s = 0; s < std::size(settings); ++s)
                std::printf(
                    "  %-31s %8.3f ns/part-dim-it   %5.2f x inertia/global   %5.2f x inertia, "
                    "same topology\n",
                    settings[s].name, best[s].run * per, best[s].run / best[0].run,
                    best[s].run / best[s % 2].run);
            std::printf(
                "  split, ns/part-dim-it:            engine   objective   engine x    same "
                "evaluation cost x\n"
                "                                     alone   alone       inertia/global   "
                "inertia/global\n");
            for (std::size_t s = 0; s < std::size(settings); ++s)
                std::printf(
                    "  %-31s %8.3f  %8.3f   %8.2f         %8.2f\n", settings[s].name,
                    best[s].engine * per, best[s].objective * per, best[s].engine / best[0].engine,
                    (best[s].engine + best[0].objective) / (best[0].engine + best[0].objective));
        }
    }
    const InertiaVelocity inertia(0.729, 1.49445, 1.49445);
    std::printf(
        "velocity update alone, ns per dimension (D = 30): inertia %.3f, spso2011 %.3f, "
        "uniform_radius %.3f\n",
        update_ns(inertia, 30), update_ns(Spso2011Velocity(), 30), update_ns(*radial(), 30));
    // The parts of the 2011 rule that inertia has not: D normals where it takes 2·D
    // uniforms, and the power of the ball's radius (the two sums in order, the rest).
    RandomSource gen = RandomSource::seed_from_u64(2);
    double normals[30];
    double uniforms[60];
    std::printf(
        "their draws, ns per update (D = 30): 30 normals %.1f, 60 uniforms %.1f, "
        "pow(U, 1/30) with its U %.1f\n",
        part_ns([&] {
            fill_standard_normal(gen, normals);
            sink = normals[0];
        }),
        part_ns([&] {
            gen.fill_uniform01(uniforms);
            sink = uniforms[0];
        }),
        part_ns([&] { sink = std::pow(uniform01(gen), 1.0 / 30.0); }));
    std::printf(
        "rastrigin evaluation alone, ns per dimension (D = 30): at 1,000 points of the "
        "box %.3f, at one point %.3f\n",
        rastrigin_ns(true, 30), rastrigin_ns(false, 30));
    return 0;
}
