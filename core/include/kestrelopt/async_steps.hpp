// AsyncSteps: the sequential mode of the single-objective engine, advanced from outside
// with several evaluations in flight. ask hands out the next particle that is not being
// evaluated, in the sequential mode's round-robin order, moved at that moment from the
// bests known then; tell takes the value of any ticket in flight, in any order, and
// updates the bests at once. Every n_particles values told make an iteration: the
// convergence record, the callback and the stop rules follow it, as in the sequential mode.
// With one evaluation in flight (ask, tell, ask, ...) this is the sequential mode itself:
// run_sequential is that loop.
//
// The first n asks give the starting positions. The run begins (global best, tracked best)
// once their values are all told, or earlier, when an ask must move a particle while some
// of them are still in flight: those keep +inf as their best until their value arrives.
//
// The budget (max_iter, max_evals) limits the asks, in whole iterations as the sequential
// mode counts them; the run ends when the last of them is told. The other stop rules end
// the run when they fire; values of tickets still in flight may be told afterwards (counted,
// and offered to the bests) or never.
//
// Tickets are the asks numbered from 0; the first n are the starting positions of particles
// 0 to n - 1. ask and tell cost O(1) plus the move, and O(in flight) to find a ticket;
// nothing is allocated in the steady state (history aside). save writes the whole state,
// the tickets in flight included; load continues it bit for bit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "kestrelopt/pso_run.hpp"
#include "kestrelopt/pso_steps.hpp"

namespace kestrelopt {

// Why an ask cannot be answered now.
enum class AskBlock : std::uint8_t {
    Ended,        // the run has ended (stopped() names the reason)
    BudgetAsked,  // every evaluation of the budget has been asked
    AllInFlight,  // every particle is being evaluated
};

// An evaluation in flight: the number of its ask, and the particle asked.
struct AsyncTicket {
    std::uint64_t ticket;
    std::size_t particle;
};

template <SearchSpace S>
class AsyncSteps {
  public:
    using Element = typename S::Element;
    using Result = PsoResult<Element>;

    using Ticket = AsyncTicket;

    // Samples the swarm (and its starting points from config.init).
    AsyncSteps(const PsoConfig& config, const S& space, const Velocity& velocity,
               Topology& topology)
        : run_(config, space, velocity, topology),
          n_(config.n_particles),
          budget_(ask_budget(config)),
          dims_(space.span().size()) {
        if (n_ == 0) fail("swarm has at least one particle");
        const double infinity = std::numeric_limits<double>::infinity();
        for (std::size_t p = 0; p < n_; ++p) {
            auto [x, v] = run_.sample(p);
            run_.particles.emplace_back(std::move(x), std::move(v), infinity);
        }
        busy_.assign(n_, false);
        pending_.reserve(n_);
    }

    // Why ask would stop now, or nothing when it can give a particle.
    std::optional<AskBlock> blocked() const {
        if (stopped_) return AskBlock::Ended;
        if (asked_ == budget_) return AskBlock::BudgetAsked;
        if (asked_ >= n_ && pending_.size() == n_) return AskBlock::AllInFlight;
        return std::nullopt;
    }

    // The next particle to evaluate, moved (after the starting positions) and marked in
    // flight; position() gives its decoded position until it is told. Stops when blocked().
    Ticket ask() {
        if (const auto block = blocked()) fail(block_text(*block));
        std::size_t i;
        if (asked_ < n_) {
            i = asked_;
        } else {
            i = cursor_;
            while (busy_[i]) i = i + 1 == n_ ? 0 : i + 1;  // one is free: not blocked
            if (!begun_) start();
            if (record_due_) {
                run_.record_positions();
                record_due_ = false;
            }
            run_.move(i, move_iteration_);
            if (++moved_in_round_ == n_) {
                moved_in_round_ = 0;
                ++move_iteration_;
            }
            cursor_ = i + 1 == n_ ? 0 : i + 1;
        }
        busy_[i] = true;
        pending_.push_back({asked_, i});
        return {asked_++, i};
    }

    // The decoded position of a particle, in a buffer the next call overwrites.
    std::span<const Element> position(std::size_t particle) {
        run_.space.decode_into(run_.particles[particle].position, run_.decoded);
        return run_.decoded;
    }

    // The value of a ticket in flight. Stops, changing nothing, for a ticket that is not in
    // flight. callback: NoCallback, or bool(const IterationInfo&) returning false to stop,
    // called after each iteration. Returns the stop reason once the run has ended.
    template <class Callback = NoCallback>
    std::optional<StopReason> tell(std::uint64_t ticket, double value, Callback&& callback = {}) {
        auto at = std::find_if(pending_.begin(), pending_.end(),
                               [&](const Ticket& t) { return t.ticket == ticket; });
        if (at == pending_.end()) fail("the ticket is not in flight");
        const std::size_t i = at->particle;
        if (at + 1 == pending_.end())
            pending_.pop_back();  // the only one, with one in flight
        else
            pending_.erase(at);
        busy_[i] = false;
        if (ticket >= n_)
            run_.offer(i, value);
        else if (begun_)
            run_.first_value(i, value);
        else
            run_.particles[i].best_value = value;
        ++run_.evaluations;  // counted once told, so an interruption counts right
        if (stopped_) return stopped_;
        if (++round_told_ < n_) return stopped_;
        round_told_ = 0;
        if (run_.evaluations == n_) {
            if (!begun_) start();
            return stopped_;
        }
        run_.record_convergence();
        run_.close_iteration();
        const std::size_t t = iteration_++;
        if constexpr (!std::is_same_v<std::remove_cvref_t<Callback>, NoCallback>) {
            const IterationInfo info{t, run_.global_value, run_.global_best, run_.evaluations};
            if (!callback(info)) return stopped_ = StopReason::Callback;
        }
        stopped_ = run_.stop_after(t);
        record_due_ = !stopped_;
        return stopped_;
    }

    // True once the run has its global best: every starting value told, or an ask has
    // moved a particle.
    bool begun() const { return begun_; }
    std::optional<StopReason> stopped() const { return stopped_; }
    // Iterations told so far, the first swarm's evaluation not counted.
    std::size_t iteration() const { return iteration_; }
    std::size_t asked() const { return asked_; }
    // The most asks the run makes: the starting positions and the budget's iterations.
    std::size_t budget() const { return budget_; }
    // The tickets in flight, in the order they were asked.
    std::span<const Ticket> pending() const { return pending_; }
    std::size_t dimensions() const { return dims_; }
    const PsoRun<S>& run() const { return run_; }

    // The result so far, with the history copied; finish hands the history over instead.
    Result report(StopReason reason) const { return run_.report(reason); }
    Result finish(StopReason reason) { return run_.finish(reason); }

    void save(StateWriter& out) const {
        out.flag(begun_);
        out.flag(record_due_);
        out.stop(stopped_);
        out.u64(asked_);
        out.u64(iteration_);
        out.u64(cursor_);
        out.u64(pending_.size());
        for (const Ticket& t : pending_) {
            out.u64(t.ticket);
            out.u64(t.particle);
        }
        run_.save(out, begun_);
        out.flag(run_.improved);  // an iteration may be under way
    }

    void load(StateReader& in) {
        begun_ = in.flag();
        record_due_ = in.flag();
        stopped_ = in.stop();
        asked_ = in.count(budget_, "the number of asks");
        iteration_ = in.count(asked_ / n_, "the iteration");
        cursor_ = in.count(n_ - 1, "the next particle");
        const std::size_t in_flight = in.count(std::min(n_, asked_), "the tickets in flight");
        pending_.clear();
        busy_.assign(n_, false);
        for (std::size_t k = 0; k < in_flight; ++k) {
            const std::uint64_t ticket = in.count(asked_ - 1, "a ticket");
            const std::size_t particle = in.count(n_ - 1, "a ticket's particle");
            if (busy_[particle] || (ticket < n_ && ticket != particle) ||
                (!pending_.empty() && ticket <= pending_.back().ticket))
                StateReader::malformed("the tickets in flight do not match the asks");
            busy_[particle] = true;
            pending_.push_back({ticket, particle});
        }
        run_.load(in, begun_);
        run_.improved = in.flag();
        const std::size_t told = run_.evaluations;
        if (told + in_flight != asked_ || (!begun_ && (asked_ > n_ || stopped_)) ||
            (record_due_ && (!begun_ || stopped_)))
            StateReader::malformed("the evaluations told do not match the asks");
        round_told_ = told < n_ ? told : (told - n_) % n_;
        const std::size_t moved = asked_ > n_ ? asked_ - n_ : 0;
        move_iteration_ = moved / n_;
        moved_in_round_ = moved % n_;
    }

  private:
    // Asks of the whole run: the starting swarm, then whole iterations until max_iter or
    // until max_evals is reached (the sequential mode checks it after each iteration, so
    // it always runs at least one).
    static std::size_t ask_budget(const PsoConfig& config) {
        const std::size_t n = config.n_particles;
        std::size_t iterations = config.max_iter;
        if (config.max_evals && iterations > 0) {
            const std::size_t wanted = *config.max_evals;
            const std::size_t needed = wanted > n && n > 0 ? (wanted - n - 1) / n + 1 : 1;
            iterations = std::min(iterations, needed);
        }
        const std::size_t most = std::numeric_limits<std::size_t>::max();
        if (n > 0 && iterations > (most - n) / n) return most;
        return n + iterations * n;
    }

    static const char* block_text(AskBlock block) {
        switch (block) {
            case AskBlock::Ended:
                return "the run has ended";
            case AskBlock::BudgetAsked:
                return "every evaluation of the budget has been asked";
            case AskBlock::AllInFlight:
                return "every particle is in flight";
        }
        return "";
    }

    // The global best from the values told so far.
    void start() {
        run_.begin();
        begun_ = true;
        if (run_.config.max_iter == 0)
            stopped_ = StopReason::MaxIterations;
        else
            record_due_ = true;
    }

    PsoRun<S> run_;
    std::size_t n_;
    std::size_t budget_;
    std::size_t dims_;
    std::vector<bool> busy_;       // per particle: a ticket of it is in flight
    std::vector<Ticket> pending_;  // in ask order
    std::size_t asked_ = 0;
    std::size_t iteration_ = 0;
    std::size_t cursor_ = 0;      // where the search for the next free particle starts
    std::size_t round_told_ = 0;  // values told since the last iteration ended
    // The iteration of the moves being asked, and how many of its n moves have been.
    std::size_t move_iteration_ = 0;
    std::size_t moved_in_round_ = 0;
    bool begun_ = false;
    // An iteration has begun whose starting positions the next move records first (so a
    // run stopped from outside after an iteration records none, as the sequential mode).
    bool record_due_ = false;
    std::optional<StopReason> stopped_;
};

}  // namespace kestrelopt
