// RestartSearch: a search made of successive runs, each with a larger swarm, while the
// budget lasts, keeping the best found, as IPOP does for CMA-ES. A run that stagnates (its
// patience rule, or its swarm shrunk below min_diameter of the box) hands over to the next;
// any other stop (the budget, the target, the callback, an interruption) ends the search.
//
// Run 0 is the configured run itself, so a search whose first run never stagnates gives
// that run bit for bit. Run k > 0 has round(n_particles * growth^k) particles, what is left
// of max_iter, max_evals and max_time (without an iteration limit, the schedules span the
// iterations its evaluations left allow), no init rows, and a seed mixed from the search's
// seed and k (fresh entropy without one). A run starts only while the evaluations left can
// pay for its first two rounds (its swarm and one iteration); else the search ends with
// max_evaluations. The caller builds and runs the engine of each configuration next()
// gives, in any mode, and hands its result to take(); the search holds only results, so
// its cost is that of the runs.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "kestrelopt/deadline.hpp"
#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/state_codec.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

struct RestartPolicy {
    std::size_t restarts = 0;  // how many runs may follow the first
    double growth = 2.0;       // the swarm's size factor from one run to the next, >= 1
};

// The seed of run k of a search seeded with `seed`: SplitMix64's finaliser over the seed
// and k, so that nearby seeds and runs draw unrelated streams; run 0 keeps the seed.
inline std::uint64_t restart_seed(std::uint64_t seed, std::size_t k) {
    if (k == 0) return seed;
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(k);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

template <class Element>
class RestartSearch {
  public:
    using Result = PsoResult<Element>;

    RestartSearch(PsoConfig base, RestartPolicy policy)
        : base_(std::move(base)), policy_(policy), start_(std::chrono::steady_clock::now()) {
        if (!(policy_.growth >= 1.0 && std::isfinite(policy_.growth)))
            fail("restart growth must be a finite number >= 1 (got " +
                 format_float(policy_.growth) + ")");
    }

    // The configuration of the next run, or none once the search has ended.
    std::optional<PsoConfig> next() {
        if (ended_) return std::nullopt;
        if (run_ == 0) return base_;
        PsoConfig config = base_;
        config.init.clear();
        config.n_particles = particles_of(run_);
        if (base_.seed) config.seed = restart_seed(*base_.seed, run_);
        config.max_iter = base_.max_iter - iterations_;
        if (base_.max_evals) {
            const std::size_t left = *base_.max_evals - evaluations_;
            if (left / 2 < config.n_particles) return end(StopReason::MaxEvaluations);
            config.max_evals = left;
            // Without an iteration limit, each run's schedules span what its own budget
            // allows, as the first run's span the whole budget.
            if (base_.schedule_iter != 0)
                config.schedule_iter = iterations_within(left, config.n_particles);
        }
        if (base_.max_time) config.max_time = time_left(*base_.max_time);
        return config;
    }

    // The result of the run next() configured last; the search ends unless it stagnated
    // with runs and budget left.
    void take(Result run) {
        const std::size_t n = particles_of(run_);
        // A run evaluates its swarm, then n particles per iteration (a broken iteration,
        // from an interruption, ends the search and no longer counts).
        const std::size_t iterations =
            run.evaluations >= n && n > 0 ? (run.evaluations - n) / n : 0;
        const StopReason reason = run.stop_reason;
        append(best_, std::move(run), run_ == 0);
        iterations_ += iterations;
        evaluations_ = best_.evaluations;
        ++run_;
        if (reason != StopReason::Stagnation) return (void)end(reason);
        // The rules a stagnating run did not get to check, in the engine's order.
        if (base_.target && best_.best_value <= *base_.target) return (void)end(StopReason::Target);
        if (base_.max_evals && evaluations_ >= *base_.max_evals)
            return (void)end(StopReason::MaxEvaluations);
        if (base_.max_time && time_is_up(start_, *base_.max_time))
            return (void)end(StopReason::MaxTime);
        if (iterations_ >= base_.max_iter) return (void)end(StopReason::MaxIterations);
        if (run_ > policy_.restarts) return (void)end(StopReason::Stagnation);
    }

    // The search's result had the run going on, whose report is `current`, ended now; the
    // search itself does not change.
    Result with(Result current) const {
        Result result = best_;
        append(result, std::move(current), run_ == 0);
        return result;
    }

    // Ends the search as interrupted: StopRun escaped a run before its swarm had its values.
    void interrupt() { end(StopReason::Interrupted); }

    // Runs taken so far, and the iterations and evaluations they made: what a callback of
    // the next run adds to its own counts.
    std::size_t runs() const { return run_; }
    std::size_t iterations() const { return iterations_; }
    std::size_t evaluations() const { return evaluations_; }
    // The best value of the runs taken (meaningful once one is).
    double best_value() const { return best_.best_value; }

    // The search's result: the best of every run, the convergence of the best so far
    // across them, the swarms of all their iterations and the reason the search ended.
    const Result& result() const { return best_; }
    Result finish() { return std::move(best_); }
    bool ended() const { return ended_; }

    // Everything the search holds, for a checkpoint; load continues it exactly (a run's
    // time budget aside, which counts from the load). Positions of `dims` coordinates.
    void save(StateWriter& out) const {
        out.u64(run_);
        out.u64(iterations_);
        out.u64(evaluations_);
        out.flag(ended_);
        out.elapsed_since(start_);
        out.u64(best_.best_position.size());
        for (const Element e : best_.best_position) {
            if constexpr (std::is_integral_v<Element>)
                out.u64(static_cast<std::uint64_t>(e));
            else
                out.f64(e);
        }
        out.f64(best_.best_value);
        out.doubles(best_.history.convergence);
        out.trace(best_.history.positions);
        out.stop(best_.stop_reason);
    }
    void load(StateReader& in, std::size_t dims) {
        const std::size_t most = policy_.restarts == SIZE_MAX ? SIZE_MAX : policy_.restarts + 1;
        run_ = in.count(most, "the restart's run");
        iterations_ = in.u64();
        evaluations_ = in.u64();
        ended_ = in.flag();
        start_ = in.start_time();
        const std::size_t size = in.count(dims, "the best position's length");
        best_.best_position.clear();
        for (std::size_t i = 0; i < size; ++i) {
            if constexpr (std::is_integral_v<Element>)
                best_.best_position.push_back(static_cast<Element>(in.u64()));
            else
                best_.best_position.push_back(in.f64());
        }
        best_.best_value = in.f64();
        in.doubles(best_.history.convergence);
        in.trace(best_.history.positions);
        best_.stop_reason = in.stop().value_or(StopReason::MaxIterations);
        best_.evaluations = evaluations_;
    }

  private:
    // Adds a run's record to `into`: its best if better, the best so far per iteration, its
    // swarms, its evaluations and its stop reason.
    static void append(Result& into, Result run, bool first) {
        const double before = into.best_value;
        for (const double value : run.history.convergence)
            into.history.convergence.push_back(first || better_value(value, before) ? value
                                                                                    : before);
        for (const RowsView snapshot : run.history.positions)
            into.history.positions.push_back(snapshot);
        if (first || better_value(run.best_value, into.best_value)) {
            into.best_value = run.best_value;
            into.best_position = std::move(run.best_position);
        }
        into.evaluations += run.evaluations;
        into.stop_reason = run.stop_reason;
    }

    std::optional<PsoConfig> end(StopReason reason) {
        ended_ = true;
        if (run_ > 0) best_.stop_reason = reason;
        return std::nullopt;
    }

    // The swarm of run k; a size beyond any machine's memory stays one, and fails there.
    std::size_t particles_of(std::size_t k) const {
        if (k == 0) return base_.n_particles;
        const double size = std::round(static_cast<double>(base_.n_particles) *
                                       std::pow(policy_.growth, static_cast<double>(k)));
        return size >= 1e18 ? std::size_t{1'000'000'000'000'000'000ULL}
                            : static_cast<std::size_t>(size);
    }

    // What is left of `limit` since the search began, none once it has passed.
    Duration time_left(const Duration& limit) const {
        const auto used =
            static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           std::chrono::steady_clock::now() - start_)
                                           .count());
        const std::uint64_t used_secs = used / 1'000'000'000;
        const auto used_nanos = static_cast<std::uint32_t>(used % 1'000'000'000);
        if (used_secs > limit.secs || (used_secs == limit.secs && used_nanos >= limit.nanos))
            return {};
        if (limit.nanos >= used_nanos) return {limit.secs - used_secs, limit.nanos - used_nanos};
        return {limit.secs - used_secs - 1, limit.nanos + 1'000'000'000 - used_nanos};
    }

    PsoConfig base_;
    RestartPolicy policy_;
    std::chrono::steady_clock::time_point start_;
    Result best_;
    std::size_t run_ = 0;
    std::size_t iterations_ = 0;
    std::size_t evaluations_ = 0;
    bool ended_ = false;
};

}  // namespace kestrelopt
