// Run records shared by the engines: stop reasons, the recorded history and the result.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "kestrelopt/rows.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

enum class StopReason : std::uint8_t {
    MaxIterations = 0,
    Target = 1,
    MaxEvaluations = 2,
    Stagnation = 3,
    MaxTime = 4,
    Callback = 5,
    Interrupted = 6,  // StopRun thrown by the objective or the callback (interrupt.hpp)
};

// "max_iterations", "target", "max_evaluations", "stagnation", "max_time", "callback",
// "interrupted".
std::string_view stop_reason_text(StopReason reason);

// Whole seconds plus nanoseconds, compared in that order.
struct Duration {
    std::uint64_t secs = 0;
    std::uint32_t nanos = 0;
};

// The max_iter of a run without an iteration limit, which another stop rule ends.
inline constexpr std::size_t kNoIterationLimit = std::numeric_limits<std::size_t>::max();

// The iterations a run of `swarm` particles makes before `max_evals` evaluations end it:
// the first swarm's evaluation is no iteration, and the budget is tested after each
// iteration, so there is always at least one.
inline std::size_t iterations_within(std::size_t max_evals, std::size_t swarm) {
    if (swarm == 0) return 1;
    const std::size_t rounds = max_evals / swarm + (max_evals % swarm != 0 ? 1 : 0);
    return rounds > 2 ? rounds - 1 : 1;
}

// How many values to reserve for a record of `per_iteration` values per iteration, in a
// run of at most `iterations` iterations and, when given, `max_evals` evaluations of a
// swarm of `swarm`: what the budget can record, up to 64 MiB (the size of mapping a record
// keeps for the next run). A larger record grows as it goes (moving pages, not copying
// them), and reserved pages that are never written cost address space only, so a generous
// budget or an early stop costs no memory.
inline std::size_t record_hint(std::size_t iterations, std::optional<std::size_t> max_evals,
                               std::size_t swarm, std::size_t per_iteration) {
    constexpr std::size_t kMost = std::size_t{1} << 23;
    if (per_iteration == 0) return 0;
    if (max_evals && swarm > 0) iterations = std::min(iterations, *max_evals / swarm + 1);
    return iterations > kMost / per_iteration ? kMost : iterations * per_iteration;
}

// Filled only when recording is on; then one entry per iteration run.
struct History {
    // Per iteration, per particle: the encoded position at the start of the iteration.
    Trace positions;
    // Per iteration: the global best value after it.
    std::vector<double> convergence;
};

template <class T>
struct PsoResult {
    std::vector<T> best_position;
    double best_value = 0.0;
    History history;
    std::size_t evaluations = 0;
    StopReason stop_reason = StopReason::MaxIterations;
};

// Handed to the per-iteration callback; valid only during the call.
struct IterationInfo {
    std::size_t iteration;
    double best_value;
    std::span<const double> best_position;  // encoded, not decoded
    std::size_t evaluations;
};

struct PsoConfig {
    std::optional<std::uint64_t> seed;
    std::size_t n_particles = 30;
    std::size_t max_iter = 100;  // kNoIterationLimit: none
    // The iterations the inertia weight's fall from w to w_end spans, 0 for max_iter: a run
    // without an iteration limit takes it from its evaluation budget.
    std::size_t schedule_iter = 0;
    std::optional<double> v_max;
    std::size_t patience = 0;
    double tol = 0.0;
    std::optional<std::size_t> max_evals;
    std::optional<double> target;
    std::optional<Duration> max_time;
    // Ends a run as stagnant (after patience, before target) once no coordinate spreads
    // over more than this fraction of its bounds' width across the swarm; for restarts.
    std::optional<double> min_diameter;
    bool record_history = true;
    // With record_history, whether the positions are recorded too (a caller that keeps
    // only the convergence curve saves their memory).
    bool record_swarm = true;
    BoundaryMode boundary = BoundaryMode::Clamp;
    // Starting positions (encoded) of the first particles, at most n_particles of them; the
    // generator draws as it would without them.
    std::vector<std::vector<double>> init;

    std::size_t schedule_length() const { return schedule_iter != 0 ? schedule_iter : max_iter; }
};

}  // namespace kestrelopt
