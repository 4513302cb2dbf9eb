// Mopso: the multi-objective swarm engine. Leaders come from a bounded Pareto archive by a
// two-member tournament on the archive's scores; personal bests follow dominance (a coin
// flip decides between mutually non-dominating vectors); a turbulence operator mutates one
// coordinate of a particle with a probability and a width that decay linearly over the run.
//
// The objective is called exactly n_particles × (max_iter + 1) times. Per particle and
// iteration the engine copies the leader positions once per iteration and offers each new
// point to the archive; its own buffers (velocity, decoded position, objective vector) are
// reused, so nothing else is allocated in the steady state.
//
// A point whose objective vector holds a NaN is never offered to the archive: NaN compares
// as neither better nor worse, so such points would never leave it. While the archive is
// empty (every point so far had a NaN), a particle follows its own personal best, without
// a draw. An objective that throws StopRun after the first swarm's evaluation ends the run
// there; the front is the archive so far.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/archive.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

struct MopsoConfig {
    std::size_t n_particles = 100;
    std::size_t max_iter = 100;
    std::size_t archive_size = 100;
    ArchiveStrategy strategy = ArchiveStrategy::crowding();
    double mutation_rate = 0.1;  // 0 or less disables turbulence
    std::optional<double> v_max;
    BoundaryMode boundary = BoundaryMode::Clamp;
    bool record_history = true;
    std::optional<std::uint64_t> seed;
};

template <class T>
struct MoSolution {
    std::vector<T> position;  // decoded
    std::vector<double> objectives;
};

struct MopsoHistory {
    // Per iteration, per particle: the internal position at the start of the iteration.
    Trace swarm_history;
    // Per iteration: the archive members' objectives at the start of the iteration, after pruning.
    Trace front_history;
};

template <class T>
struct MopsoResult {
    std::vector<MoSolution<T>> front;
    MopsoHistory history;
};

namespace detail {
// max and min that return the other operand when one is NaN.
inline double max_ignoring_nan(double a, double b) {
    return a != a ? b : (b != b ? a : (a < b ? b : a));
}
inline double min_ignoring_nan(double a, double b) {
    return a != a ? b : (b != b ? a : (b < a ? b : a));
}
inline bool has_nan(std::span<const double> values) {
    for (const double v : values)
        if (v != v) return true;
    return false;
}
}  // namespace detail

template <SearchSpace S>
class Mopso {
  public:
    using Element = typename S::Element;
    using Result = MopsoResult<Element>;

    Mopso(MopsoConfig config, S space, std::unique_ptr<Velocity> velocity)
        : config_(config), space_(std::move(space)), velocity_(std::move(velocity)) {}

    const MopsoConfig& config() const { return config_; }

    // objective: void(std::span<const Element> position, std::vector<double>& objectives),
    // writing the objective vector (cleared beforehand) of one decoded position.
    template <class Objective>
    Result minimize(Objective&& objective) const;

  private:
    MopsoConfig config_;
    S space_;
    std::unique_ptr<Velocity> velocity_;
};

template <SearchSpace S>
template <class Objective>
auto Mopso<S>::minimize(Objective&& objective) const -> Result {
    const MopsoConfig& c = config_;
    if (c.v_max && !(*c.v_max >= 0))
        fail("v_max must be >= 0 (got " + format_float(*c.v_max) + ")");
    RandomSource gen = c.seed ? RandomSource::seed_from_u64(*c.seed) : RandomSource::from_entropy();
    const std::size_t n = c.n_particles;

    std::vector<Element> decoded;
    std::vector<double> f;
    auto evaluate = [&](std::span<const double> x) {
        space_.decode_into(x, decoded);
        f.clear();
        objective(std::span<const Element>(decoded), f);
    };

    std::vector<std::vector<double>> x(n), v(n), pbest(n), pbestf(n);
    std::vector<std::vector<double>> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = space_.sample(gen);
        v[i] = space_.sample_velocity(gen);
        evaluate(x[i]);
        values[i] = f;
    }
    Archive archive(c.strategy, c.archive_size);
    for (std::size_t i = 0; i < n; ++i) {
        pbest[i] = x[i];
        pbestf[i] = std::move(values[i]);
        if (!detail::has_nan(pbestf[i])) archive.insert(x[i], pbestf[i]);
    }
    const std::vector<Bound> bounds = space_.span();
    const std::size_t dims = bounds.size();

    MopsoHistory history;
    std::vector<std::vector<double>> leaders;
    std::vector<double> new_velocity;
    try {
        for (std::size_t t = 0; t < c.max_iter; ++t) {
            const std::vector<double>& scores = archive.prune_and_scores();
            const auto& members = archive.members();
            const std::size_t count = members.size();
            leaders.resize(count);
            for (std::size_t m = 0; m < count; ++m)
                leaders[m].assign(members[m].position.begin(), members[m].position.end());
            if (c.record_history) {
                history.swarm_history.open_snapshot();
                for (const std::vector<double>& position : x)
                    history.swarm_history.push_row(position);
                history.front_history.open_snapshot();
                for (const ArchiveMember& member : members)
                    history.front_history.push_row(member.objectives);
            }
            if (n == 0) continue;
            const double frac = 1.0 - static_cast<double>(t) / static_cast<double>(c.max_iter);
            const double p = c.mutation_rate * frac;
            for (std::size_t i = 0; i < n; ++i) {
                std::span<const double> guide = pbest[i];
                if (count > 0) {
                    const std::uint64_t a = index_below(gen, count);
                    const std::uint64_t b = index_below(gen, count);
                    guide = leaders[scores[a] >= scores[b] ? a : b];
                }

                const VelocityContext context{x[i], v[i], pbest[i], guide, {}, t, c.max_iter};
                new_velocity.resize(x[i].size());
                velocity_->update_into(context, gen, new_velocity);
                if (c.v_max) {
                    const double limit = *c.v_max;
                    for (double& u : new_velocity) {
                        if (u > limit) u = limit;
                        if (u < -limit) u = -limit;
                    }
                }
                const std::size_t moved = std::min(x[i].size(), new_velocity.size());
                for (std::size_t k = 0; k < moved; ++k) x[i][k] += new_velocity[k];
                std::swap(v[i], new_velocity);
                space_.enforce_bounds(x[i], v[i], c.boundary, gen);

                if (c.mutation_rate > 0 && dims > 0) {
                    const double r = uniform01(gen);
                    if (r < p) {
                        const std::size_t k = index_below(gen, dims);
                        const auto [low, high] = bounds[k];
                        const double half = ((high - low) * frac) * 0.5;
                        if (half > 0) {
                            const double lower = detail::max_ignoring_nan(x[i][k] - half, low);
                            const double upper = detail::min_ignoring_nan(x[i][k] + half, high);
                            if (upper > lower) x[i][k] = uniform_in_inclusive(gen, lower, upper);
                        }
                    }
                }

                evaluate(x[i]);
                const MutualDominance d = mutual_dominance(f, pbestf[i]);
                const bool replace = d.first_dominates || (!d.second_dominates && coin_flip(gen));
                if (replace) {
                    pbest[i].assign(x[i].begin(), x[i].end());
                    pbestf[i].assign(f.begin(), f.end());
                }
                if (!detail::has_nan(f)) archive.insert(x[i], f);
            }
        }
    } catch (const StopRun&) {
        // The front so far: every offer to the archive so far is complete.
    }
    archive.prune_and_scores();

    Result result;
    result.front.reserve(archive.members().size());
    for (const ArchiveMember& member : archive.members()) {
        MoSolution<Element> solution;
        space_.decode_into(member.position, solution.position);
        solution.objectives = member.objectives;
        result.front.push_back(std::move(solution));
    }
    result.history = std::move(history);
    return result;
}

}  // namespace kestrelopt
