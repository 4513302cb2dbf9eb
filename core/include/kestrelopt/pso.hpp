// Pso: the single-objective swarm engine, one instance per search-space type.
//
// run_sequential moves and evaluates particles one at a time (improvements are seen at
// once by later particles), as AsyncSteps does with one evaluation in flight;
// minimize_batch moves all particles, then evaluates the swarm in one call, as a loop over
// PsoSteps. Callers can drive either kind of steps themselves. Both share the steps of
// PsoRun: move, offer, the stop rules. In the steady state neither allocates (unless
// history is recorded): the neighbourhood list, informant views, new velocity and decoded
// positions live in buffers reused for the whole run. Under a topology whose
// neighbourhoods are the whole swarm, the neighbourhood best is tracked incrementally
// (O(1) per particle) with exactly the tie and NaN rules of best_among; the adaptive random
// topology's lists are read in place rather than copied, with the same rules.
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

#include "kestrelopt/async_steps.hpp"
#include "kestrelopt/deadline.hpp"
#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/pso_run.hpp"
#include "kestrelopt/pso_steps.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

template <SearchSpace S>
class Pso {
  public:
    using Element = typename S::Element;
    using Result = PsoResult<Element>;

    Pso(PsoConfig config, S space, std::unique_ptr<Velocity> velocity,
        std::unique_ptr<Topology> topology)
        : config_(std::move(config)),
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
    // callback as in run_sequential, after each iteration.
    template <class Batch, class Callback = NoCallback>
    Result minimize_batch(Batch&& batch, Callback&& callback = {}) const;

    // The synchronous run with each round made by round(PsoSteps<S>& steps,
    // std::vector<double>& values): ask the steps for the positions (ask or ask_into) and
    // fill values (cleared beforehand). minimize_batch is this with ask.
    template <class Round, class Callback = NoCallback>
    Result run_rounds(Round&& round, Callback&& callback = {}) const;

    // The synchronous mode as steps a caller drives (pso_steps.hpp). The topology's state
    // (the random topology's generator) is the engine's: one run at a time per engine.
    PsoSteps<S> steps() const { return PsoSteps<S>(config_, space_, *velocity_, *topology_); }

    // The sequential mode as steps a caller drives, with any number of evaluations in
    // flight (async_steps.hpp); run_sequential is their loop with one. The topology's state
    // is the engine's, as for steps().
    AsyncSteps<S> async_steps() const {
        return AsyncSteps<S>(config_, space_, *velocity_, *topology_);
    }

  private:
    PsoConfig config_;
    S space_;
    std::unique_ptr<Velocity> velocity_;
    std::unique_ptr<Topology> topology_;
};

// What AsyncSteps does with one evaluation in flight (the tests hold the two equal bit for
// bit), written on PsoRun directly: with one ticket at a time the ticket book would only
// count, and its bookkeeping costs as much as a short move.
template <SearchSpace S>
template <class Objective, class Callback>
auto Pso<S>::run_sequential(Objective&& objective, Callback&& callback) const -> Result {
    PsoRun<S> run(config_, space_, *velocity_, *topology_);
    const std::size_t n = config_.n_particles;
    if (n == 0) fail("swarm has at least one particle");
    const double infinity = std::numeric_limits<double>::infinity();
    for (std::size_t p = 0; p < n; ++p) {
        auto [x, v] = run.sample(p);
        run.particles.emplace_back(std::move(x), std::move(v), infinity);
    }
    bool begun = false;
    try {
        for (std::size_t i = 0; i < n; ++i) {
            run.particles[i].best_value = objective(run.position(i));
            ++run.evaluations;
        }
        run.begin();
        begun = true;
        if (config_.max_iter == 0) return run.finish(StopReason::MaxIterations);
        for (std::size_t t = 0;; ++t) {
            run.record_positions();
            for (std::size_t i = 0; i < n; ++i) {
                run.move(i, t);
                run.offer(i, objective(run.position(i)));
                ++run.evaluations;
            }
            run.record_convergence();
            run.close_iteration();
            if constexpr (!std::is_same_v<std::remove_cvref_t<Callback>, NoCallback>) {
                const IterationInfo info{t, run.global_value, run.global_best, run.evaluations};
                if (!callback(info)) return run.finish(StopReason::Callback);
            }
            if (const auto reason = run.stop_after(t)) return run.finish(*reason);
        }
    } catch (const StopRun&) {
        if (!begun) throw;  // no result before the first swarm has its values
        return run.finish(StopReason::Interrupted);
    }
}

template <SearchSpace S>
template <class Batch, class Callback>
auto Pso<S>::minimize_batch(Batch&& batch, Callback&& callback) const -> Result {
    return run_rounds(
        [&](PsoSteps<S>& steps, std::vector<double>& values) { batch(steps.ask(), values); },
        callback);
}

template <SearchSpace S>
template <class Round, class Callback>
auto Pso<S>::run_rounds(Round&& round, Callback&& callback) const -> Result {
    PsoSteps<S> steps = this->steps();
    std::vector<double> values;
    auto evaluate = [&] {
        values.clear();
        round(steps, values);
    };
    evaluate();
    steps.tell(values);
    try {
        while (!steps.stopped()) {
            evaluate();
            steps.tell(values, callback);
        }
    } catch (const StopRun&) {
        return steps.finish(StopReason::Interrupted);
    }
    return steps.finish(*steps.stopped());
}

}  // namespace kestrelopt
