// AsyncSteps: the sequential mode of the single-objective engine, advanced from outside
// with several evaluations in flight. ask hands out the next particle that is not being
// evaluated, in the sequential mode's round-robin order, moved at that moment from the
// bests known then; tell takes the value of any ticket in flight, in any order, and
// updates the bests at once. Every n_particles values told make an iteration: the
// convergence record, the callback and the stop rules follow it, as in the sequential mode.
// With one evaluation in flight (ask, tell, ask, ...) this is the sequential mode itself:
// run_sequential is that loop without the tickets.
//
// The first n asks give the starting positions. The run begins (global best, tracked best)
// once their values are all told, or earlier, when an ask must move a particle while some
// of them are still in flight: those keep +inf as their best until their value arrives.
// An iteration's starting positions are recorded at its first move.
//
// The budget (max_iter, max_evals) limits the asks, in whole iterations as the sequential
// mode counts them; the run ends when the last of them is told. The other stop rules end
// the run when they fire; values of tickets still in flight may be told afterwards (counted,
// and offered to the bests) or never.
//
// The tickets are a TicketBook's. ask and tell cost O(1) plus the move, and O(in flight)
// to find a ticket; nothing is allocated in the steady state (history aside). save writes
// the whole state, the tickets in flight included; load continues it bit for bit.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "kestrelopt/pso_run.hpp"
#include "kestrelopt/pso_steps.hpp"
#include "kestrelopt/ticket_book.hpp"

namespace kestrelopt {

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
          book_(config.n_particles,
                async_budget(config.n_particles, config.max_iter, config.max_evals)),
          dims_(space.span().size()) {
        const double infinity = std::numeric_limits<double>::infinity();
        for (std::size_t p = 0; p < config.n_particles; ++p) {
            auto [x, v] = run_.sample(p);
            run_.particles.emplace_back(std::move(x), std::move(v), infinity);
        }
    }

    // Why ask would stop now, or nothing when it can give a particle.
    std::optional<AskBlock> blocked() const { return book_.blocked(stopped_.has_value()); }

    // The next particle to evaluate, moved (after the starting positions) and marked in
    // flight; position() gives its decoded position until it is told. Stops when blocked().
    Ticket ask() {
        if (const auto block = blocked()) fail(ask_block_text(*block));
        if (!begun_ && book_.asked() >= run_.particles.size()) start();  // a move needs bests
        const TicketBook::Next next = book_.next();
        if (next.moves) {
            if (record_due_) {
                run_.record_positions();
                record_due_ = false;
            }
            run_.move(next.ticket.particle, next.iteration);
        }
        return next.ticket;
    }

    // The decoded position of a particle, valid until the next call or its move (in a box,
    // the position itself; otherwise a buffer the next call overwrites).
    std::span<const Element> position(std::size_t particle) { return run_.position(particle); }

    // The value of a ticket in flight. Stops, changing nothing, for a ticket that is not in
    // flight. callback: NoCallback, or bool(const IterationInfo&) returning false to stop,
    // called after each iteration. Returns the stop reason once the run has ended.
    template <class Callback = NoCallback>
    std::optional<StopReason> tell(std::uint64_t ticket, double value, Callback&& callback = {}) {
        const std::size_t i = book_.take(ticket).particle;
        if (!book_.starting(ticket))
            run_.offer(i, value);
        else if (begun_)
            run_.first_value(i, value);
        else
            run_.particles[i].best_value = value;
        ++run_.evaluations;  // counted once told, so an interruption counts right
        if (stopped_ || !book_.completes_round()) return stopped_;
        if (run_.evaluations == run_.particles.size()) {  // the starting swarm's
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
    std::size_t asked() const { return book_.asked(); }
    // The most asks the run makes: the starting positions and the budget's iterations.
    std::size_t budget() const { return book_.budget(); }
    // The tickets in flight, in the order they were asked.
    std::span<const Ticket> pending() const { return book_.pending(); }
    std::size_t dimensions() const { return dims_; }
    const PsoRun<S>& run() const { return run_; }

    // The result so far, with the history copied; finish hands the history over instead.
    Result report(StopReason reason) const { return run_.report(reason); }
    Result finish(StopReason reason) { return run_.finish(reason); }

    void save(StateWriter& out) const {
        out.flag(begun_);
        out.flag(record_due_);
        out.stop(stopped_);
        out.u64(iteration_);
        book_.save(out);
        run_.save(out, begun_);
        out.flag(run_.improved);  // an iteration may be under way
    }

    void load(StateReader& in) {
        begun_ = in.flag();
        record_due_ = in.flag();
        stopped_ = in.stop();
        iteration_ = in.u64();
        book_.load(in);
        run_.load(in, begun_);
        run_.improved = in.flag();
        book_.settle(run_.evaluations);
        const std::size_t n = run_.particles.size();
        if (iteration_ > book_.asked() / n || (!begun_ && (book_.asked() > n || stopped_)) ||
            (record_due_ && (!begun_ || stopped_)))
            StateReader::malformed("the run's counters do not match the asks");
    }

  private:
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
    TicketBook book_;
    std::size_t dims_;
    std::size_t iteration_ = 0;
    bool begun_ = false;
    // An iteration has begun whose starting positions the next move records first (so a
    // run stopped from outside after an iteration records none, as the sequential mode).
    bool record_due_ = false;
    std::optional<StopReason> stopped_;
};

}  // namespace kestrelopt
