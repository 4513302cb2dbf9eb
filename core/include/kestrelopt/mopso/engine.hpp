// Mopso: the multi-objective swarm engine. Leaders come from a bounded Pareto archive by a
// two-member tournament on the archive's scores; personal bests follow dominance (a coin
// flip decides between mutually non-dominating vectors); a turbulence operator mutates one
// coordinate of a particle with a probability and a width that decay linearly over the run.
//
// Two modes share every step (MopsoSteps, steps.hpp, which callers can drive themselves;
// the steps themselves are MopsoRun's, run.hpp, which AsyncMopsoSteps drives with several
// evaluations in flight).
// minimize moves and evaluates one particle after the other; minimize_batch moves the
// whole swarm, evaluates it in one call, then updates the personal bests and the archive
// in particle order. The moves use the same draws, but the coin flips
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

#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "kestrelopt/interrupt.hpp"
#include "kestrelopt/mopso/async_steps.hpp"
#include "kestrelopt/mopso/steps.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

template <SearchSpace S>
class Mopso {
  public:
    using Element = typename S::Element;
    using Result = MopsoResult<Element>;

    Mopso(MopsoConfig config, S space, std::unique_ptr<Velocity> velocity)
        : config_(std::move(config)), space_(std::move(space)), velocity_(std::move(velocity)) {}

    const MopsoConfig& config() const { return config_; }
    const S& space() const { return space_; }

    // objective(std::span<const Element> position, std::vector<double>& objectives) writes
    // the objective vector (cleared beforehand) of one decoded position and returns void
    // (unconstrained) or its total constraint violation as a double (0 when feasible; a
    // negative value counts as 0, NaN as +inf). callback: NoCallback, or
    // bool(const MopsoIterationInfo&) returning false to stop.
    template <class Objective, class Callback = NoCallback>
    Result minimize(Objective&& objective, Callback&& callback = {}) const;

    // batch(std::span<const std::vector<Element>> positions,
    //       std::vector<std::vector<double>>& objectives, std::vector<double>& violations)
    // evaluates the whole swarm: objectives holds one cleared vector per particle to fill,
    // violations one 0 per particle to overwrite where a constraint is violated.
    template <class Batch, class Callback = NoCallback>
    Result minimize_batch(Batch&& batch, Callback&& callback = {}) const;

    MopsoSteps<S> steps() const { return MopsoSteps<S>(config_, space_, *velocity_); }

    // The sequential mode with any number of evaluations in flight (async_steps.hpp);
    // with one, the same run as minimize.
    AsyncMopsoSteps<S> async_steps() const {
        return AsyncMopsoSteps<S>(config_, space_, *velocity_);
    }

  private:
    MopsoConfig config_;
    S space_;
    std::unique_ptr<Velocity> velocity_;
};

template <SearchSpace S>
template <class Objective, class Callback>
auto Mopso<S>::minimize(Objective&& objective, Callback&& callback) const -> Result {
    // A swarm without particles has no particle to ask for; its rounds are empty batches.
    if (config_.n_particles == 0) return minimize_batch([](auto&&...) {}, callback);
    MopsoSteps<S> steps = this->steps();
    std::vector<double> f;
    auto round = [&] {
        const std::span<const Element> x = steps.ask();
        f.clear();
        double violation = 0.0;
        if constexpr (std::is_void_v<decltype(objective(x, f))>)
            objective(x, f);
        else
            violation = objective(x, f);
        steps.tell(f, violation, callback);
    };
    while (!steps.started()) round();
    try {
        while (!steps.stopped()) round();
    } catch (const StopRun&) {
        // The front so far: every offer to the archive so far is complete.
        return steps.finish(StopReason::Interrupted);
    }
    return steps.finish(*steps.stopped());
}

template <SearchSpace S>
template <class Batch, class Callback>
auto Mopso<S>::minimize_batch(Batch&& batch, Callback&& callback) const -> Result {
    MopsoSteps<S> steps = this->steps();
    const std::size_t n = config_.n_particles;
    std::vector<std::vector<double>> values(n);
    std::vector<double> violations;
    auto round = [&] {
        const auto positions = steps.ask_all();
        values.resize(n);
        for (std::vector<double>& row : values) row.clear();
        violations.assign(n, 0.0);
        batch(positions, values, violations);
        steps.tell_all(values, violations, callback);
    };
    round();
    try {
        while (!steps.stopped()) round();
    } catch (const StopRun&) {
        return steps.finish(StopReason::Interrupted);
    }
    return steps.finish(*steps.stopped());
}

}  // namespace kestrelopt
