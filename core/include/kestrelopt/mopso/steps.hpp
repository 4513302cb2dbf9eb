// MopsoSteps: a multi-objective run advanced from outside, in either of the engine's modes.
// One particle at a time: ask gives the next particle's decoded position, tell takes its
// objective vector and violation (personal best and archive are updated at once). The whole
// swarm at once: ask_all gives every position, tell_all takes every vector, and the
// personal bests and the archive are updated in particle order afterwards. The first round
// evaluates the initial swarm; each later one starts an iteration (prune, leaders, history)
// and moves the particles. The engine's minimize and minimize_batch are loops over these
// steps, which are loops over the steps of MopsoRun (run.hpp), so a caller driving them
// gets exactly the engine's run.
//
// Nothing is allocated in the steady state but the archive's new members. save writes the
// whole state between calls (including the leaders of an iteration under way); load
// continues it bit for bit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/mopso/run.hpp"
#include "kestrelopt/state_codec.hpp"

namespace kestrelopt {

template <SearchSpace S>
class MopsoSteps {
  public:
    using Element = typename S::Element;
    using Result = MopsoResult<Element>;

    // Samples the swarm (and its starting points from config.init).
    MopsoSteps(const MopsoConfig& config, const S& space, const Velocity& velocity)
        : run_(config, space, velocity), n_(config.n_particles) {}

    // The decoded position of the next particle to evaluate (the same until tell).
    std::span<const Element> ask() {
        if (stopped_) fail("the run has ended");
        if (batch_asked_) fail("a round is under way");
        if (!asked_) {
            if (started_) {
                if (next_ == 0) run_.begin_iteration();
                run_.move(next_, run_.iteration);
            }
            run_.space.decode_into(run_.x[next_], decoded_);
            asked_ = true;
        }
        return decoded_;
    }

    // The objective vector and the raw total violation (normalized here) of the asked
    // particle. callback: NoCallback, or bool(const MopsoIterationInfo&), called when the
    // particle was the swarm's last. Returns the stop reason once the run has ended.
    template <class Callback = NoCallback>
    std::optional<StopReason> tell(std::span<const double> objectives, double violation,
                                   Callback&& callback = {}) {
        if (!asked_) fail("tell needs an ask before it");
        asked_ = false;
        const std::size_t i = next_++;
        const double normalized = normalized_violation(violation);
        if (!started_) {
            run_.values[i].assign(objectives.begin(), objectives.end());
            run_.pbestv[i] = normalized;
            if (next_ == n_) begin();
            return stopped_;
        }
        run_.settle(i, objectives, normalized);
        ++run_.evaluations;  // counted once answered, so an interruption counts right
        if (next_ == n_) end_iteration(callback);
        return stopped_;
    }

    // Every particle's decoded position, for a batch (only between whole rounds; the same
    // until tell_all).
    std::span<const std::vector<Element>> ask_all() {
        if (stopped_) fail("the run has ended");
        if (batch_asked_) return decoded_all_;
        if (asked_ || next_ != 0) fail("a round is under way");
        if (started_) {
            run_.begin_iteration();
            for (std::size_t i = 0; i < n_; ++i) run_.move(i, run_.iteration);
        }
        decoded_all_.resize(n_);
        for (std::size_t i = 0; i < n_; ++i) run_.space.decode_into(run_.x[i], decoded_all_[i]);
        batch_asked_ = true;
        return decoded_all_;
    }

    // One objective vector and one raw violation per particle, for the positions of ask_all.
    template <class Callback = NoCallback>
    std::optional<StopReason> tell_all(std::span<const std::vector<double>> objectives,
                                       std::span<double> violations, Callback&& callback = {}) {
        if (!batch_asked_) fail("tell_all needs an ask_all before it");
        if (objectives.size() != n_ || violations.size() != n_)
            fail("a batch must give one objective vector and one violation per particle");
        batch_asked_ = false;
        for (double& violation : violations) violation = normalized_violation(violation);
        if (!started_) {
            for (std::size_t i = 0; i < n_; ++i) run_.values[i] = objectives[i];
            std::copy(violations.begin(), violations.end(), run_.pbestv.begin());
            begin();
            return stopped_;
        }
        for (std::size_t i = 0; i < n_; ++i) run_.settle(i, objectives[i], violations[i]);
        run_.evaluations += n_;
        end_iteration(callback);
        return stopped_;
    }

    bool started() const { return started_; }
    bool asked() const { return asked_; }
    // True between ask_all and tell_all.
    bool batch_asked() const { return batch_asked_; }
    std::optional<StopReason> stopped() const { return stopped_; }
    std::size_t iteration() const { return run_.iteration; }
    std::size_t next_particle() const { return next_; }
    std::size_t evaluations() const { return run_.evaluations; }
    std::size_t dimensions() const { return run_.bounds.size(); }
    // The archive's members once pruned to its capacity (what the callback is told).
    std::size_t front_size() const { return run_.front_size(); }
    // The length of the first objective vector told, none before one was.
    std::optional<std::size_t> objective_count() const {
        if (started_) return run_.pbestf[0].size();
        if (next_ > 0) return run_.values[0].size();
        return std::nullopt;
    }

    Result report(StopReason reason) const { return run_.report(reason); }
    Result finish(StopReason reason) { return run_.finish(reason); }

    void save(StateWriter& out) const {
        out.flag(started_);
        // What waits for its values: nothing (0), the particle asked (1) or the whole swarm (2).
        out.u64(asked_ ? 1 : (batch_asked_ ? 2 : 0));
        out.stop(stopped_);
        out.u64(run_.iteration);
        out.u64(next_);
        out.u64(run_.evaluations);
        run_.save(out);
    }

    void load(StateReader& in) {
        started_ = in.flag();
        const std::uint64_t waiting = in.u64();
        if (waiting > 2) StateReader::malformed("what the run waits for is unknown");
        asked_ = waiting == 1;
        batch_asked_ = waiting == 2;
        stopped_ = in.stop();
        run_.iteration = in.u64();
        next_ = in.count(n_ - 1, "the next particle");
        run_.evaluations = in.u64();
        // Personal bests exist once the first swarm has its values.
        run_.load(in, [&](std::size_t) { return started_; });
        if (asked_) run_.space.decode_into(run_.x[next_], decoded_);
        if (batch_asked_) {
            if (next_ != 0) StateReader::malformed("a whole-swarm round begins at particle 0");
            decoded_all_.resize(n_);
            for (std::size_t i = 0; i < n_; ++i) run_.space.decode_into(run_.x[i], decoded_all_[i]);
        }
    }

  private:
    // After the first swarm's values: personal bests, the archive, the record.
    void begin() {
        for (std::size_t i = 0; i < n_; ++i) run_.adopt_first(i);
        run_.evaluations = n_;
        if (n_ > 0) run_.reserve_history(run_.pbestf[0].size());
        started_ = true;
        next_ = 0;
        if (run_.c.max_iter == 0) stopped_ = StopReason::MaxIterations;
    }

    template <class Callback>
    void end_iteration(Callback& callback) {
        next_ = 0;
        stopped_ = run_.end_iteration(callback);
    }

    MopsoRun<S> run_;
    std::size_t n_;
    std::vector<Element> decoded_;
    std::vector<std::vector<Element>> decoded_all_;
    std::size_t next_ = 0;  // the particle asked next in the current round
    bool started_ = false;
    bool asked_ = false;
    bool batch_asked_ = false;
    std::optional<StopReason> stopped_;
};

}  // namespace kestrelopt
