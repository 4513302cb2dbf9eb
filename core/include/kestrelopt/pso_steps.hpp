// PsoSteps: the synchronous mode of the single-objective engine, advanced from outside.
// ask gives the decoded positions of the whole swarm to evaluate (the same ones until
// tell); tell takes their values in particle order, updates the bests and applies the
// callback and the stop rules. The first ask gives the initial swarm; every later one
// records the swarm (with history) and moves it. The engine's batch mode is a loop of ask,
// the batch call and tell, so a caller driving the steps gets exactly the same run.
//
// Nothing is allocated per step once the run has begun (history aside). save writes the
// whole state between calls; load continues it bit for bit, in another process too.
#pragma once

#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "kestrelopt/pso_run.hpp"

namespace kestrelopt {

// Marks a run without a per-iteration callback.
struct NoCallback {};

template <SearchSpace S>
class PsoSteps {
  public:
    using Element = typename S::Element;
    using Result = PsoResult<Element>;

    // Samples the swarm (and its starting points from config.init).
    PsoSteps(const PsoConfig& config, const S& space, const Velocity& velocity, Topology& topology)
        : run_(config, space, velocity, topology) {
        const double infinity = std::numeric_limits<double>::infinity();
        for (std::size_t p = 0; p < config.n_particles; ++p) {
            auto [x, v] = run_.sample(p);
            run_.particles.emplace_back(std::move(x), std::move(v), infinity);
        }
        decoded_.resize(run_.particles.size());
    }

    // The decoded positions to evaluate next, one per particle. Stops once the run ended.
    std::span<const std::vector<Element>> ask() {
        if (stopped_) fail("the run has ended");
        if (!asked_) {
            if (started_) {
                run_.record_positions();
                for (std::size_t i = 0; i < run_.particles.size(); ++i) run_.move(i, iteration_);
            }
            decode_all();
            asked_ = true;
        }
        return decoded_;
    }

    // The values of the asked positions. The first swarm's may be fewer than the particles
    // (the others keep +inf); afterwards there must be one per particle. callback:
    // NoCallback, or bool(const IterationInfo&) returning false to stop. Returns the stop
    // reason once the run has ended.
    template <class Callback = NoCallback>
    std::optional<StopReason> tell(std::span<const double> values, Callback&& callback = {}) {
        if (!asked_) fail("tell needs an ask before it");
        const std::size_t n = run_.particles.size();
        if (!started_) {
            for (std::size_t j = 0; j < n && j < values.size(); ++j)
                run_.particles[j].best_value = values[j];
            run_.evaluations = values.size();
            run_.begin();
            asked_ = false;
            started_ = true;
            if (run_.config.max_iter == 0) stopped_ = StopReason::MaxIterations;
            return stopped_;
        }
        if (values.size() != n) fail("batched objective must return one value per particle");
        asked_ = false;
        for (std::size_t j = 0; j < n; ++j) run_.offer(j, values[j]);
        run_.record_convergence();
        run_.evaluations += n;
        const std::size_t t = iteration_++;
        if constexpr (!std::is_same_v<std::remove_cvref_t<Callback>, NoCallback>) {
            const IterationInfo info{t, run_.global_value, run_.global_best, run_.evaluations};
            if (!callback(info)) return stopped_ = StopReason::Callback;
        }
        stopped_ = run_.stop_after(t);
        return stopped_;
    }

    // True once the first swarm has its values.
    bool started() const { return started_; }
    bool asked() const { return asked_; }
    std::optional<StopReason> stopped() const { return stopped_; }
    // Iterations told so far, the first swarm's evaluation not counted.
    std::size_t iteration() const { return iteration_; }
    const PsoRun<S>& run() const { return run_; }

    // The result so far, with the history copied; finish hands the history over instead.
    Result report(StopReason reason) const { return run_.report(reason); }
    Result finish(StopReason reason) { return run_.finish(reason); }

    void save(StateWriter& out) const {
        out.flag(started_);
        out.flag(asked_);
        out.u64(stopped_ ? static_cast<std::uint64_t>(*stopped_) + 1 : 0);
        out.u64(iteration_);
        run_.save(out, started_);
    }

    void load(StateReader& in) {
        started_ = in.flag();
        asked_ = in.flag();
        const std::size_t stop =
            in.count(static_cast<std::size_t>(StopReason::Interrupted) + 1, "the stop reason");
        stopped_ =
            stop == 0 ? std::nullopt : std::optional<StopReason>(static_cast<StopReason>(stop - 1));
        iteration_ = in.u64();
        run_.load(in, started_);
        if (asked_) decode_all();
    }

  private:
    void decode_all() {
        for (std::size_t j = 0; j < run_.particles.size(); ++j)
            run_.space.decode_into(run_.particles[j].position, decoded_[j]);
    }

    PsoRun<S> run_;
    std::vector<std::vector<Element>> decoded_;
    std::size_t iteration_ = 0;
    bool started_ = false;
    bool asked_ = false;
    std::optional<StopReason> stopped_;
};

}  // namespace kestrelopt
