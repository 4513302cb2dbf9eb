// MopsoSteps: a multi-objective run advanced from outside, in either of the engine's modes.
// One particle at a time: ask gives the next particle's decoded position, tell takes its
// objective vector and violation (personal best and archive are updated at once). The whole
// swarm at once: ask_all gives every position, tell_all takes every vector, and the
// personal bests and the archive are updated in particle order afterwards. The first round
// evaluates the initial swarm; each later one starts an iteration (prune, leaders, history)
// and moves the particles. The engine's minimize and minimize_batch are loops over these
// steps, so a caller driving them gets exactly the engine's run.
//
// Per iteration the leader positions are copied once and each new point is offered to the
// archive; the buffers are reused, so nothing else is allocated in the steady state. save
// writes the whole state between calls (including the leaders of an iteration under way);
// load continues it bit for bit.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "kestrelopt/deadline.hpp"
#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/mopso/archive.hpp"
#include "kestrelopt/mopso/constrained.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/pso_steps.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/state_codec.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

struct MopsoConfig {
    std::size_t n_particles = 100;
    std::size_t max_iter = 100;  // kNoIterationLimit: none
    // The iterations over which the turbulence fades, 0 for max_iter: a run without an
    // iteration limit takes it from its evaluation budget.
    std::size_t schedule_iter = 0;
    std::size_t archive_size = 100;
    ArchiveStrategy strategy = ArchiveStrategy::crowding();
    double mutation_rate = 0.1;  // 0 or less disables turbulence
    std::optional<double> v_max;
    BoundaryMode boundary = BoundaryMode::Clamp;
    bool record_history = true;
    std::optional<std::uint64_t> seed;
    std::optional<std::size_t> max_evals;
    std::optional<Duration> max_time;
    // Starting positions (encoded) of the first particles, as for PsoConfig.
    std::vector<std::vector<double>> init;

    std::size_t schedule_length() const { return schedule_iter != 0 ? schedule_iter : max_iter; }
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
class MopsoSteps {
  public:
    using Element = typename S::Element;
    using Result = MopsoResult<Element>;

    // Samples the swarm (and its starting points from config.init).
    MopsoSteps(const MopsoConfig& config, const S& space, const Velocity& velocity)
        : c_(config),
          space_(space),
          velocity_(velocity),
          start_(std::chrono::steady_clock::now()),
          gen_(config.seed ? RandomSource::seed_from_u64(*config.seed)
                           : RandomSource::from_entropy()),
          n_(config.n_particles),
          x_(n_),
          v_(n_),
          pbest_(n_),
          pbestf_(n_),
          pbestv_(n_, 0.0),
          values_(n_),
          front_(config.strategy, config.archive_size),
          bounds_(space.span()) {
        if (c_.v_max && !(*c_.v_max >= 0))
            fail("v_max must be >= 0 (got " + format_float(*c_.v_max) + ")");
        if (c_.init.size() > n_) fail("init has more rows than the swarm has particles");
        for (std::size_t i = 0; i < n_; ++i) {
            x_[i] = space_.sample(gen_);
            v_[i] = space_.sample_velocity(gen_);
            if (i < c_.init.size()) {
                if (c_.init[i].size() != x_[i].size()) fail("an init row has the wrong length");
                x_[i] = c_.init[i];
            }
        }
    }

    // The decoded position of the next particle to evaluate (the same until tell).
    std::span<const Element> ask() {
        if (stopped_) fail("the run has ended");
        if (batch_asked_) fail("a round is under way");
        if (!asked_) {
            if (started_) {
                if (next_ == 0) begin_iteration();
                move(next_);
            }
            space_.decode_into(x_[next_], decoded_);
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
            values_[i].assign(objectives.begin(), objectives.end());
            pbestv_[i] = normalized;
            if (next_ == n_) begin();
            return stopped_;
        }
        settle(i, objectives, normalized);
        ++evaluations_;  // counted once answered, so an interruption counts right
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
            begin_iteration();
            for (std::size_t i = 0; i < n_; ++i) move(i);
        }
        decoded_all_.resize(n_);
        for (std::size_t i = 0; i < n_; ++i) space_.decode_into(x_[i], decoded_all_[i]);
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
            for (std::size_t i = 0; i < n_; ++i) values_[i] = objectives[i];
            std::copy(violations.begin(), violations.end(), pbestv_.begin());
            begin();
            return stopped_;
        }
        for (std::size_t i = 0; i < n_; ++i) settle(i, objectives[i], violations[i]);
        evaluations_ += n_;
        end_iteration(callback);
        return stopped_;
    }

    bool started() const { return started_; }
    bool asked() const { return asked_; }
    // True between ask_all and tell_all.
    bool batch_asked() const { return batch_asked_; }
    std::optional<StopReason> stopped() const { return stopped_; }
    std::size_t iteration() const { return iteration_; }
    std::size_t next_particle() const { return next_; }
    std::size_t evaluations() const { return evaluations_; }
    std::size_t dimensions() const { return bounds_.size(); }
    // The archive's members once pruned to its capacity (what the callback is told).
    std::size_t front_size() const {
        return std::min(front_.archive().members().size(), c_.archive_size);
    }
    // The length of the first objective vector told, none before one was.
    std::optional<std::size_t> objective_count() const {
        if (started_) return pbestf_[0].size();
        if (next_ > 0) return values_[0].size();
        return std::nullopt;
    }

    // The front so far, pruned to the archive's capacity, with the history copied; the run
    // itself is left as it was.
    Result report(StopReason reason) const {
        ConstrainedArchive front = front_;
        front.archive().prune_and_scores();
        Result result = summary(front, reason);
        result.history = history_;
        return result;
    }

    // The run's front, pruned, with the history handed over.
    Result finish(StopReason reason) {
        front_.archive().prune_and_scores();
        Result result = summary(front_, reason);
        result.history = std::move(history_);
        return result;
    }

    void save(StateWriter& out) const;
    void load(StateReader& in);

  private:
    // After the first swarm's values: personal bests, the archive, the record.
    void begin() {
        for (std::size_t i = 0; i < n_; ++i) {
            pbest_[i] = x_[i];
            pbestf_[i] = values_[i];
            if (!detail::has_nan(pbestf_[i])) front_.insert(x_[i], pbestf_[i], pbestv_[i]);
        }
        evaluations_ = n_;
        if (c_.record_history && n_ > 0) {
            history_.swarm_history.reserve(
                record_hint(c_.max_iter, c_.max_evals, n_, n_ * x_[0].size()));
            history_.front_history.reserve(
                record_hint(c_.max_iter, c_.max_evals, n_, c_.archive_size * pbestf_[0].size()));
        }
        started_ = true;
        next_ = 0;
        if (c_.max_iter == 0) stopped_ = StopReason::MaxIterations;
    }

    // Prune, score and copy the leaders; record the swarm and the front.
    void begin_iteration() {
        Archive& archive = front_.archive();
        const std::vector<double>& scores = archive.prune_and_scores();
        scores_.assign(scores.begin(), scores.end());
        const auto& members = archive.members();
        leaders_.resize(members.size());
        for (std::size_t m = 0; m < members.size(); ++m)
            leaders_[m].assign(members[m].position.begin(), members[m].position.end());
        if (c_.record_history) {
            history_.swarm_history.open_snapshot();
            for (const std::vector<double>& position : x_)
                history_.swarm_history.push_row(position);
            history_.front_history.open_snapshot();
            for (const ArchiveMember& member : members)
                history_.front_history.push_row(member.objectives);
        }
    }

    // Leader, velocity, move, bounds and turbulence of particle i in the current iteration.
    void move(std::size_t i) {
        const std::size_t t = iteration_;
        const std::size_t length = c_.schedule_length();
        const double frac = 1.0 - static_cast<double>(t) / static_cast<double>(length);
        const double p = c_.mutation_rate * frac;
        const std::size_t count = leaders_.size();
        std::span<const double> guide = pbest_[i];
        if (count > 0) {
            const std::uint64_t a = index_below(gen_, count);
            const std::uint64_t b = index_below(gen_, count);
            guide = leaders_[scores_[a] >= scores_[b] ? a : b];
        }

        const VelocityContext context{x_[i], v_[i], pbest_[i], guide, {}, t, length};
        new_velocity_.resize(x_[i].size());
        velocity_.update_into(context, gen_, new_velocity_);
        if (c_.v_max) clamp_speed(new_velocity_, *c_.v_max);
        move_within<MoveOrder::PositionFirst>(space_, x_[i], v_[i], new_velocity_, c_.boundary,
                                              gen_);

        const std::size_t dims = bounds_.size();
        if (c_.mutation_rate > 0 && dims > 0) {
            const double r = uniform01(gen_);
            if (r < p) {
                const std::size_t k = index_below(gen_, dims);
                const auto [low, high] = bounds_[k];
                const double half = ((high - low) * frac) * 0.5;
                if (half > 0) {
                    const double lower = detail::max_ignoring_nan(x_[i][k] - half, low);
                    const double upper = detail::min_ignoring_nan(x_[i][k] + half, high);
                    if (upper > lower) x_[i][k] = uniform_in_inclusive(gen_, lower, upper);
                }
            }
        }
    }

    // Personal best and archive offer of particle i with the objectives of its position.
    void settle(std::size_t i, std::span<const double> objectives, double violation) {
        const MutualDominance d =
            constrained_dominance(objectives, violation, pbestf_[i], pbestv_[i]);
        const bool replace = d.first_dominates || (!d.second_dominates && coin_flip(gen_));
        if (replace) {
            pbest_[i].assign(x_[i].begin(), x_[i].end());
            pbestf_[i].assign(objectives.begin(), objectives.end());
            pbestv_[i] = violation;
        }
        if (!detail::has_nan(objectives)) front_.insert(x_[i], objectives, violation);
    }

    // The callback and the stop rules in their fixed order, after the swarm's last particle.
    template <class Callback>
    void end_iteration(Callback& callback) {
        next_ = 0;
        const std::size_t t = iteration_++;
        if constexpr (!std::is_same_v<std::remove_cvref_t<Callback>, NoCallback>) {
            if (!callback(MopsoIterationInfo{t, front_size(), evaluations_})) {
                stopped_ = StopReason::Callback;
                return;
            }
        }
        if (c_.max_evals && evaluations_ >= *c_.max_evals)
            stopped_ = StopReason::MaxEvaluations;
        else if (c_.max_time && time_is_up(start_, *c_.max_time))
            stopped_ = StopReason::MaxTime;
        else if (iteration_ >= c_.max_iter)
            stopped_ = StopReason::MaxIterations;
    }

    Result summary(const ConstrainedArchive& front, StopReason reason) const {
        Result result;
        result.front.reserve(front.archive().members().size());
        for (const ArchiveMember& member : front.archive().members()) {
            MoSolution<Element> solution;
            space_.decode_into(member.position, solution.position);
            solution.objectives = member.objectives;
            solution.violation = front.violation();
            result.front.push_back(std::move(solution));
        }
        result.evaluations = evaluations_;
        result.stop_reason = reason;
        return result;
    }

    const MopsoConfig& c_;
    const S& space_;
    const Velocity& velocity_;
    std::chrono::steady_clock::time_point start_;
    RandomSource gen_;
    std::size_t n_;
    std::vector<std::vector<double>> x_, v_, pbest_, pbestf_;
    std::vector<double> pbestv_;  // normalized violations of the personal bests
    // The first swarm's objective vectors, until every particle has one.
    std::vector<std::vector<double>> values_;
    ConstrainedArchive front_;
    std::vector<Bound> bounds_;
    MopsoHistory history_;
    // The iteration's leaders and their scores, fixed when it began.
    std::vector<std::vector<double>> leaders_;
    std::vector<double> scores_;
    std::vector<double> new_velocity_;
    std::vector<Element> decoded_;
    std::vector<std::vector<Element>> decoded_all_;
    std::size_t evaluations_ = 0;
    std::size_t iteration_ = 0;
    std::size_t next_ = 0;  // the particle asked next in the current round
    bool started_ = false;
    bool asked_ = false;
    bool batch_asked_ = false;
    std::optional<StopReason> stopped_;
};

template <SearchSpace S>
void MopsoSteps<S>::save(StateWriter& out) const {
    out.flag(started_);
    // What waits for its values: nothing (0), the particle asked (1) or the whole swarm (2).
    out.u64(asked_ ? 1 : (batch_asked_ ? 2 : 0));
    out.stop(stopped_);
    out.u64(iteration_);
    out.u64(next_);
    out.u64(evaluations_);
    out.elapsed_since(start_);
    gen_.save(out);
    for (std::size_t i = 0; i < n_; ++i) {
        out.doubles(x_[i]);
        out.doubles(v_[i]);
        out.doubles(pbest_[i]);
        out.doubles(pbestf_[i]);
        out.f64(pbestv_[i]);
        out.doubles(values_[i]);
    }
    const auto& members = front_.archive().members();
    out.f64(front_.violation());
    out.u64(members.size());
    for (const ArchiveMember& member : members) {
        out.doubles(member.position);
        out.doubles(member.objectives);
    }
    out.u64(leaders_.size());
    for (const std::vector<double>& leader : leaders_) out.doubles(leader);
    out.doubles(scores_);
    out.trace(history_.swarm_history);
    out.trace(history_.front_history);
}

template <SearchSpace S>
void MopsoSteps<S>::load(StateReader& in) {
    started_ = in.flag();
    const std::uint64_t waiting = in.u64();
    if (waiting > 2) StateReader::malformed("what the run waits for is unknown");
    asked_ = waiting == 1;
    batch_asked_ = waiting == 2;
    stopped_ = in.stop();
    iteration_ = in.u64();
    next_ = in.count(n_ - 1, "the next particle");
    evaluations_ = in.u64();
    start_ = in.start_time();
    gen_ = RandomSource::load(in);
    const std::size_t dims = bounds_.size();
    for (std::size_t i = 0; i < n_; ++i) {
        in.doubles(x_[i], dims, "a position");
        in.doubles(v_[i], dims, "a velocity");
        // Personal bests exist once the first swarm has its values.
        in.doubles(pbest_[i], started_ ? dims : 0, "a best position");
        in.doubles(pbestf_[i]);
        pbestv_[i] = in.f64();
        in.doubles(values_[i]);
    }
    const double violation = in.f64();
    const std::size_t members = in.items("the archive");
    front_ = ConstrainedArchive(c_.strategy, c_.archive_size);
    std::vector<double> position, objectives;
    for (std::size_t m = 0; m < members; ++m) {
        in.doubles(position, dims, "an archive member");
        in.doubles(objectives);
        if (detail::has_nan(objectives)) StateReader::malformed("an archive member has a NaN");
        front_.insert(position, objectives, violation);
    }
    // The members of an archive neither dominate nor equal each other, so inserting them
    // in order keeps every one, in that order.
    if (front_.archive().members().size() != members)
        StateReader::malformed("the archive's members dominate each other");
    leaders_.resize(in.items("the leaders"));
    for (std::vector<double>& leader : leaders_) in.doubles(leader, dims, "a leader");
    in.doubles(scores_, leaders_.size(), "the leaders' scores");
    in.trace(history_.swarm_history);
    in.trace(history_.front_history);
    if (asked_) space_.decode_into(x_[next_], decoded_);
    if (batch_asked_) {
        if (next_ != 0) StateReader::malformed("a whole-swarm round begins at particle 0");
        decoded_all_.resize(n_);
        for (std::size_t i = 0; i < n_; ++i) space_.decode_into(x_[i], decoded_all_[i]);
    }
}

}  // namespace kestrelopt
