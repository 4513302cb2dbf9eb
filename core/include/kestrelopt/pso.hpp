// Pso: the single-objective swarm engine, one instance per search-space type.
//
// run_sequential moves and evaluates particles one at a time (improvements are seen at
// once by later particles); minimize_batch moves all particles, then evaluates the swarm
// in one call. Both share the move step and the stop rules. In the steady state neither
// allocates (unless history is recorded): the neighbourhood list, informant views, new
// velocity and decoded positions live in buffers reused for the whole run. Under a
// topology whose neighbourhoods are the whole swarm, the neighbourhood best is tracked
// incrementally (O(1) per particle) with exactly the tie and NaN rules of best_among.
//
// An objective, batch or callback that throws StopRun once the first swarm has its values
// ends the run at once: the result holds the bests so far, the evaluations that returned a
// value, and StopReason::Interrupted.
#pragma once

#include <algorithm>
#include <chrono>
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
#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

// Marks a sequential run without a per-iteration callback.
struct NoCallback {};

template <SearchSpace S>
class Pso {
  public:
    using Element = typename S::Element;
    using Result = PsoResult<Element>;

    Pso(PsoConfig config, S space, std::unique_ptr<Velocity> velocity,
        std::unique_ptr<Topology> topology)
        : config_(config),
          space_(std::move(space)),
          velocity_(std::move(velocity)),
          topology_(std::move(topology)) {}

    const PsoConfig& config() const { return config_; }
    const S& space() const { return space_; }

    // objective: double(std::span<const Element>), once per particle and evaluation round.
    // callback: NoCallback, or bool(const IterationInfo&) returning false to stop.
    template <class Objective, class Callback = NoCallback>
    Result run_sequential(Objective&& objective, Callback&& callback = {}) const;

    // batch: void(std::span<const std::vector<Element>> positions, std::vector<double>& values),
    // filling values (cleared beforehand) with one value per particle in particle order.
    template <class Batch>
    Result minimize_batch(Batch&& batch) const {
        return run_synchronous(batch);
    }

  private:
    struct Run;

    template <class Batch>
    Result run_synchronous(Batch& batch) const;

    PsoConfig config_;
    S space_;
    std::unique_ptr<Velocity> velocity_;
    std::unique_ptr<Topology> topology_;
};

template <SearchSpace S>
struct Pso<S>::Run {
    const Pso& engine;
    std::chrono::steady_clock::time_point start;
    RandomSource gen;
    std::vector<Particle> particles;
    std::vector<double> global_best;
    double global_value = 0.0;
    std::size_t evaluations = 0;
    History history;
    bool full = false;
    bool track = false;            // neighbourhood best tracked incrementally
    std::size_t tracked_best = 0;  // meaningful only when track
    std::size_t stall = 0;
    double previous = 0.0;
    std::vector<std::size_t> neighborhood;
    std::vector<std::span<const double>> informants;
    std::vector<double> new_velocity;
    std::vector<Element> decoded;

    explicit Run(const Pso& pso)
        : engine(pso),
          start(std::chrono::steady_clock::now()),
          gen(pso.config_.seed ? RandomSource::seed_from_u64(*pso.config_.seed)
                               : RandomSource::from_entropy()) {
        const auto& v_max = pso.config_.v_max;
        if (v_max && !(*v_max >= 0)) fail("v_max must be >= 0 (got " + format_float(*v_max) + ")");
        particles.reserve(pso.config_.n_particles);
    }

    std::pair<std::vector<double>, std::vector<double>> sample() {
        std::vector<double> x = engine.space_.sample(gen);
        std::vector<double> v = engine.space_.sample_velocity(gen);
        return {std::move(x), std::move(v)};
    }

    // Global best and the bookkeeping every run starts from, once all particles hold a value.
    void begin() {
        if (particles.empty()) fail("swarm has at least one particle");
        const std::size_t best = scan_best();
        global_best = particles[best].best_position;
        global_value = particles[best].best_value;
        full = engine.velocity_->needs_full_neighborhood();
        track = !full && engine.topology_->whole_swarm_in_order();
        tracked_best = best;
        previous = global_value;
        new_velocity.resize(global_best.size());
        const PsoConfig& config = engine.config_;
        if (config.record_history && config.record_swarm)
            history.positions.reserve(
                record_hint(config.max_iter, particles.size() * particles[0].position.size()));
    }

    std::size_t scan_best() const {
        std::size_t best = 0;
        for (std::size_t j = 1; j < particles.size(); ++j)
            if (better_value(particles[j].best_value, particles[best].best_value)) best = j;
        return best;
    }

    void record_positions() {
        if (!engine.config_.record_history || !engine.config_.record_swarm) return;
        history.positions.open_snapshot();
        for (const Particle& p : particles) history.positions.push_row(p.position);
    }

    // Neighbourhood, new velocity, velocity limit, move and boundary handling of particle i.
    void move(std::size_t i, std::size_t t) {
        const PsoConfig& config = engine.config_;
        std::size_t b;
        if (track) {
            b = tracked_best;
        } else {
            engine.topology_->neighbors_into(i, particles, neighborhood);
            b = best_among(particles, neighborhood, i);
            informants.clear();
            if (full)
                for (const std::size_t j : neighborhood)
                    informants.emplace_back(particles[j].best_position);
        }
        Particle& p = particles[i];
        const VelocityContext context{
            p.position, p.velocity, p.best_position, particles[b].best_position,
            informants, t,          config.max_iter};
        new_velocity.resize(p.position.size());
        engine.velocity_->update_into(context, gen, new_velocity);
        if (config.v_max) {
            const double limit = *config.v_max;
            for (double& c : new_velocity) {
                if (c > limit) c = limit;
                if (c < -limit) c = -limit;
            }
        }
        const std::size_t n = std::min(p.position.size(), new_velocity.size());
        for (std::size_t d = 0; d < n; ++d) p.position[d] = new_velocity[d] + p.position[d];
        std::swap(p.velocity, new_velocity);
        engine.space_.enforce_bounds(p.position, p.velocity, config.boundary, gen);
    }

    // Personal- and global-best update of particle i with the value of its position.
    void offer(std::size_t i, double value) {
        Particle& p = particles[i];
        if (!better_value(value, p.best_value)) return;
        p.best_value = value;
        p.best_position.assign(p.position.begin(), p.position.end());
        if (track && (better_value(value, particles[tracked_best].best_value) ||
                      (value == particles[tracked_best].best_value && i < tracked_best)))
            tracked_best = i;
        if (better_value(value, global_value)) {
            global_value = value;
            global_best.assign(p.position.begin(), p.position.end());
        }
    }

    void record_convergence() {
        if (engine.config_.record_history) history.convergence.push_back(global_value);
    }

    // The stop rules after the callback, in their fixed order; t is the iteration just run.
    std::optional<StopReason> stop_after(std::size_t t) {
        const PsoConfig& config = engine.config_;
        if (config.patience > 0) {
            const double improvement = previous - global_value;
            previous = global_value;
            if (improvement > config.tol)
                stall = 0;
            else
                ++stall;
            if (stall >= config.patience) return StopReason::Stagnation;
        }
        if (config.target && global_value <= *config.target) return StopReason::Target;
        if (config.max_evals && evaluations >= *config.max_evals) return StopReason::MaxEvaluations;
        if (config.max_time && time_is_up(start, *config.max_time)) return StopReason::MaxTime;
        if (t + 1 == config.max_iter) return StopReason::MaxIterations;
        return std::nullopt;
    }

    Result finish(StopReason reason) {
        Result result;
        engine.space_.decode_into(global_best, result.best_position);
        result.best_value = global_value;
        result.history = std::move(history);
        result.evaluations = evaluations;
        result.stop_reason = reason;
        return result;
    }
};

template <SearchSpace S>
template <class Objective, class Callback>
auto Pso<S>::run_sequential(Objective&& objective, Callback&& callback) const -> Result {
    Run run(*this);
    for (std::size_t p = 0; p < config_.n_particles; ++p) {
        auto [x, v] = run.sample();
        space_.decode_into(x, run.decoded);
        const double value = objective(std::span<const Element>(run.decoded));
        run.particles.emplace_back(std::move(x), std::move(v), value);
    }
    run.evaluations = config_.n_particles;
    run.begin();
    if (config_.max_iter == 0) return run.finish(StopReason::MaxIterations);
    const std::size_t n = run.particles.size();
    try {
        for (std::size_t t = 0;; ++t) {
            run.record_positions();
            for (std::size_t i = 0; i < n; ++i) {
                run.move(i, t);
                space_.decode_into(run.particles[i].position, run.decoded);
                run.offer(i, objective(std::span<const Element>(run.decoded)));
                ++run.evaluations;  // counted once answered, so an interruption counts right
            }
            run.record_convergence();
            if constexpr (!std::is_same_v<std::remove_cvref_t<Callback>, NoCallback>) {
                const IterationInfo info{t, run.global_value, run.global_best, run.evaluations};
                if (!callback(info)) return run.finish(StopReason::Callback);
            }
            if (const auto reason = run.stop_after(t)) return run.finish(*reason);
        }
    } catch (const StopRun&) {
        return run.finish(StopReason::Interrupted);
    }
}

template <SearchSpace S>
template <class Batch>
auto Pso<S>::run_synchronous(Batch& batch) const -> Result {
    Run run(*this);
    const double infinity = std::numeric_limits<double>::infinity();
    for (std::size_t p = 0; p < config_.n_particles; ++p) {
        auto [x, v] = run.sample();
        run.particles.emplace_back(std::move(x), std::move(v), infinity);
    }
    std::vector<std::vector<Element>> decoded(run.particles.size());
    std::vector<double> values;
    auto evaluate_all = [&] {
        for (std::size_t j = 0; j < run.particles.size(); ++j)
            space_.decode_into(run.particles[j].position, decoded[j]);
        values.clear();
        batch(std::span<const std::vector<Element>>(decoded), values);
    };
    evaluate_all();
    for (std::size_t j = 0; j < run.particles.size() && j < values.size(); ++j)
        run.particles[j].best_value = values[j];
    run.evaluations = values.size();
    run.begin();
    if (config_.max_iter == 0) return run.finish(StopReason::MaxIterations);
    const std::size_t n = run.particles.size();
    try {
        for (std::size_t t = 0;; ++t) {
            run.record_positions();
            for (std::size_t i = 0; i < n; ++i) run.move(i, t);
            evaluate_all();
            if (values.size() != n) fail("batched objective must return one value per particle");
            for (std::size_t j = 0; j < n; ++j) run.offer(j, values[j]);
            run.record_convergence();
            run.evaluations += n;
            if (const auto reason = run.stop_after(t)) return run.finish(*reason);
        }
    } catch (const StopRun&) {
        return run.finish(StopReason::Interrupted);
    }
}

}  // namespace kestrelopt
