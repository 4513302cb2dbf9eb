// Mopso: the multi-objective swarm engine. Leaders come from a bounded Pareto archive by a
// two-member tournament on the archive's scores; personal bests follow dominance (a coin
// flip decides between mutually non-dominating vectors); a turbulence operator mutates one
// coordinate of a particle with a probability and a width that decay linearly over the run.
//
// Two modes share every step. minimize moves and evaluates one particle after the other;
// minimize_batch moves the whole swarm, evaluates it in one call, then updates the personal
// bests and the archive in particle order. The moves use the same draws, but the coin flips
// of the personal bests come after all moves instead of between them, so a seeded batch run
// is a different run from the sequential one.
//
// Constraints enter as one total violation per evaluation (0: feasible), compared by
// constrained domination (constrained.hpp) in the personal bests and the archive; the
// leaders come from the archive, so they follow the same rule. Without constraints every
// violation is 0 and the run is that of plain dominance.
//
// The run ends after max_iter iterations, or earlier by the callback (false), max_evals or
// max_time, tested in that order after each iteration.
//
// Without an early stop the objective is called n_particles × (max_iter + 1) times. Per
// particle and iteration the engine copies the leader positions once per iteration and
// offers each new point to the archive; its own buffers (velocity, decoded position,
// objective vector) are reused, so nothing else is allocated in the steady state.
//
// A point whose objective vector holds a NaN is never offered to the archive: NaN compares
// as neither better nor worse, so such points would never leave it. While the archive is
// empty (every point so far had a NaN), a particle follows its own personal best, without
// a draw. An objective that throws StopRun after the first swarm's evaluation ends the run
// there; the front is the archive so far.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "kestrelopt/deadline.hpp"
#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/archive.hpp"
#include "kestrelopt/mopso/constrained.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/pso.hpp"
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
    std::optional<std::size_t> max_evals;
    std::optional<Duration> max_time;
};

// Handed to the per-iteration callback.
struct MopsoIterationInfo {
    std::size_t iteration;
    std::size_t front_size;  // the archive's size once pruned
    std::size_t evaluations;
};

template <class T>
struct MoSolution {
    std::vector<T> position;  // decoded
    std::vector<double> objectives;
    double violation = 0.0;  // total constraint violation, 0 when feasible
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
    std::size_t evaluations = 0;
    StopReason stop_reason = StopReason::MaxIterations;
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

    // objective(std::span<const Element> position, std::vector<double>& objectives) writes
    // the objective vector (cleared beforehand) of one decoded position and returns void
    // (unconstrained) or its total constraint violation as a double (0 when feasible; a
    // negative value counts as 0, NaN as +inf). callback: NoCallback, or
    // bool(const MopsoIterationInfo&) returning false to stop.
    template <class Objective, class Callback = NoCallback>
    Result minimize(Objective&& objective, Callback&& callback = {}) const {
        return run<false>(objective, callback);
    }

    // batch(std::span<const std::vector<Element>> positions,
    //       std::vector<std::vector<double>>& objectives, std::vector<double>& violations)
    // evaluates the whole swarm: objectives holds one cleared vector per particle to fill,
    // violations one 0 per particle to overwrite where a constraint is violated.
    template <class Batch, class Callback = NoCallback>
    Result minimize_batch(Batch&& batch, Callback&& callback = {}) const {
        return run<true>(batch, callback);
    }

  private:
    template <bool kBatch, class Evaluate, class Callback>
    Result run(Evaluate& evaluate, Callback& callback) const;

    MopsoConfig config_;
    S space_;
    std::unique_ptr<Velocity> velocity_;
};

template <SearchSpace S>
template <bool kBatch, class Evaluate, class Callback>
auto Mopso<S>::run(Evaluate& evaluate_with, Callback& callback) const -> Result {
    const MopsoConfig& c = config_;
    if (c.v_max && !(*c.v_max >= 0))
        fail("v_max must be >= 0 (got " + format_float(*c.v_max) + ")");
    const auto start = std::chrono::steady_clock::now();
    RandomSource gen = c.seed ? RandomSource::seed_from_u64(*c.seed) : RandomSource::from_entropy();
    const std::size_t n = c.n_particles;

    // Sequential mode: one decoded position and its objective vector.
    std::vector<Element> decoded;
    std::vector<double> f;
    // Returns the normalized violation.
    auto evaluate = [&](std::span<const double> x) -> double {
        space_.decode_into(x, decoded);
        f.clear();
        if constexpr (kBatch) {
            return 0.0;  // not used in batch mode
        } else if constexpr (std::is_void_v<decltype(evaluate_with(
                                 std::span<const Element>(decoded), f))>) {
            evaluate_with(std::span<const Element>(decoded), f);
            return 0.0;
        } else {
            return normalized_violation(evaluate_with(std::span<const Element>(decoded), f));
        }
    };

    std::vector<std::vector<double>> x(n), v(n), pbest(n), pbestf(n);
    std::vector<double> pbestv(n, 0.0);  // normalized violations of the personal bests
    // Batch mode: every particle's decoded position, objective vector and violation.
    std::vector<std::vector<Element>> decoded_all;
    std::vector<std::vector<double>> values(n);
    std::vector<double> violations;
    auto evaluate_all = [&] {
        if constexpr (kBatch) {
            decoded_all.resize(n);
            for (std::size_t j = 0; j < n; ++j) space_.decode_into(x[j], decoded_all[j]);
            values.resize(n);
            for (std::vector<double>& row : values) row.clear();
            violations.assign(n, 0.0);
            evaluate_with(std::span<const std::vector<Element>>(decoded_all), values, violations);
            if (values.size() != n || violations.size() != n)
                fail("a batch must give one objective vector and one violation per particle");
            for (double& violation : violations) violation = normalized_violation(violation);
        }
    };

    for (std::size_t i = 0; i < n; ++i) {
        x[i] = space_.sample(gen);
        v[i] = space_.sample_velocity(gen);
        if constexpr (!kBatch) {
            pbestv[i] = evaluate(x[i]);
            values[i] = f;
        }
    }
    if constexpr (kBatch) {
        evaluate_all();
        pbestv = violations;
    }
    ConstrainedArchive front(c.strategy, c.archive_size);
    Archive& archive = front.archive();
    for (std::size_t i = 0; i < n; ++i) {
        pbest[i] = x[i];
        pbestf[i] = values[i];
        if (!detail::has_nan(pbestf[i])) front.insert(x[i], pbestf[i], pbestv[i]);
    }
    std::size_t evaluations = n;
    const std::vector<Bound> bounds = space_.span();
    const std::size_t dims = bounds.size();

    MopsoHistory history;
    if (c.record_history && n > 0) {
        history.swarm_history.reserve(record_hint(c.max_iter, n * x[0].size()));
        history.front_history.reserve(record_hint(c.max_iter, c.archive_size * pbestf[0].size()));
    }
    std::vector<std::vector<double>> leaders;
    std::vector<double> new_velocity;

    // Leader, velocity, move, bounds and turbulence of particle i in iteration t.
    auto move = [&](std::size_t i, std::size_t t, double frac, double p,
                    const std::vector<double>& scores, std::size_t count) {
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
    };
    // Personal best and archive offer of particle i with the objectives of its position.
    auto settle = [&](std::size_t i, std::span<const double> objectives, double violation) {
        const MutualDominance d =
            constrained_dominance(objectives, violation, pbestf[i], pbestv[i]);
        const bool replace = d.first_dominates || (!d.second_dominates && coin_flip(gen));
        if (replace) {
            pbest[i].assign(x[i].begin(), x[i].end());
            pbestf[i].assign(objectives.begin(), objectives.end());
            pbestv[i] = violation;
        }
        if (!detail::has_nan(objectives)) front.insert(x[i], objectives, violation);
    };

    StopReason reason = StopReason::MaxIterations;
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
            const double frac = 1.0 - static_cast<double>(t) / static_cast<double>(c.max_iter);
            const double p = c.mutation_rate * frac;
            if constexpr (kBatch) {
                for (std::size_t i = 0; i < n; ++i) move(i, t, frac, p, scores, count);
                evaluate_all();
                for (std::size_t i = 0; i < n; ++i) settle(i, values[i], violations[i]);
                evaluations += n;
            } else {
                for (std::size_t i = 0; i < n; ++i) {
                    move(i, t, frac, p, scores, count);
                    const double violation = evaluate(x[i]);
                    settle(i, f, violation);
                    ++evaluations;  // counted once answered, so an interruption counts right
                }
            }

            if constexpr (!std::is_same_v<std::remove_cvref_t<Callback>, NoCallback>) {
                const std::size_t size = std::min(archive.members().size(), c.archive_size);
                if (!callback(MopsoIterationInfo{t, size, evaluations})) {
                    reason = StopReason::Callback;
                    break;
                }
            }
            if (c.max_evals && evaluations >= *c.max_evals) {
                reason = StopReason::MaxEvaluations;
                break;
            }
            if (c.max_time && time_is_up(start, *c.max_time)) {
                reason = StopReason::MaxTime;
                break;
            }
        }
    } catch (const StopRun&) {
        // The front so far: every offer to the archive so far is complete.
        reason = StopReason::Interrupted;
    }
    archive.prune_and_scores();

    Result result;
    result.front.reserve(archive.members().size());
    for (const ArchiveMember& member : archive.members()) {
        MoSolution<Element> solution;
        space_.decode_into(member.position, solution.position);
        solution.objectives = member.objectives;
        solution.violation = front.violation();
        result.front.push_back(std::move(solution));
    }
    result.history = std::move(history);
    result.evaluations = evaluations;
    result.stop_reason = reason;
    return result;
}

}  // namespace kestrelopt
