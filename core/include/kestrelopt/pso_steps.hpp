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

#include <algorithm>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "kestrelopt/pso_run.hpp"
#include "kestrelopt/spaces/continuous.hpp"

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
        : run_(config, space, velocity, topology), dims_(space.span().size()) {
        const double infinity = std::numeric_limits<double>::infinity();
        for (std::size_t p = 0; p < config.n_particles; ++p) {
            auto [x, v] = run_.sample(p);
            run_.particles.emplace_back(std::move(x), std::move(v), infinity);
        }
        decoded_.resize(run_.particles.size());
    }

    // The decoded positions to evaluate next, one per particle. Stops once the run ended.
    std::span<const std::vector<Element>> ask() {
        advance();
        if (!decoded_fresh_) decode_all();
        return decoded_;
    }

    // ask, with the decoded positions written as the rows of `out` (n_particles rows of the
    // space's dimension, as doubles) instead: a caller handing the matrix on copies each
    // position once.
    void ask_into(std::span<double> out) {
        advance();
        if (out.size() != run_.particles.size() * dims_) fail("the matrix has the wrong size");
        for (std::size_t j = 0; j < run_.particles.size(); ++j) {
            const std::span<double> row = out.subspan(j * dims_, dims_);
            const std::vector<double>& position = run_.particles[j].position;
            if constexpr (std::is_same_v<S, ContinuousSpace>) {
                std::copy(position.begin(), position.end(), row.begin());  // decoding is a copy
            } else {
                run_.space.decode_into(position, decoded_[j]);
                std::copy(decoded_[j].begin(), decoded_[j].end(), row.begin());
            }
        }
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
        run_.close_iteration();
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
    // The space's dimensions: the columns of ask_into's matrix.
    std::size_t dimensions() const { return dims_; }
    const PsoRun<S>& run() const { return run_; }

    // The result so far, with the history copied; finish hands the history over instead.
    Result report(StopReason reason) const { return run_.report(reason); }
    Result finish(StopReason reason) { return run_.finish(reason); }

    void save(StateWriter& out) const {
        out.flag(started_);
        out.flag(asked_);
        out.stop(stopped_);
        out.u64(iteration_);
        run_.save(out, started_);
    }

    void load(StateReader& in) {
        started_ = in.flag();
        asked_ = in.flag();
        stopped_ = in.stop();
        iteration_ = in.u64();
        run_.load(in, started_);
        decoded_fresh_ = false;
    }

  private:
    // Moves the swarm for the next round, once per round.
    void advance() {
        if (stopped_) fail("the run has ended");
        if (asked_) return;
        if (started_) {
            run_.record_positions();
            for (std::size_t i = 0; i < run_.particles.size(); ++i) run_.move(i, iteration_);
        }
        asked_ = true;
        decoded_fresh_ = false;
    }

    void decode_all() {
        for (std::size_t j = 0; j < run_.particles.size(); ++j)
            run_.space.decode_into(run_.particles[j].position, decoded_[j]);
        decoded_fresh_ = true;
    }

    PsoRun<S> run_;
    std::size_t dims_;
    std::vector<std::vector<Element>> decoded_;
    std::size_t iteration_ = 0;
    bool started_ = false;
    bool asked_ = false;
    bool decoded_fresh_ = false;  // decoded_ holds the positions of the round asked
    std::optional<StopReason> stopped_;
};

}  // namespace kestrelopt
