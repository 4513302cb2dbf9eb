// AsyncMopsoSteps: the sequential mode of the multi-objective engine, advanced from outside
// with several evaluations in flight, as AsyncSteps is for the single-objective one. ask
// hands out the next particle not being evaluated, in the sequential mode's round-robin
// order, moved at that moment (the iteration's first move prunes the archive, fixes the
// leaders and records the history first); tell takes the objective vector and violation
// of any ticket in flight, in any order, and settles the personal best and the archive at
// once. Every n_particles values told end an iteration: the callback and the stop rules
// follow. With one evaluation in flight this is exactly the engine's minimize.
//
// The run begins (personal bests, archive) once the starting positions' values are all
// told, or when an ask must move a particle before that: a starting value told later
// becomes its particle's personal best and is offered to the archive as it arrives. The
// budget (max_iter, max_evals) limits the asks, in whole iterations; the run ends when the
// last of them is told. max_time ends it when it fires; values still in flight may be told
// afterwards (counted and settled) or never.
//
// ask and tell cost what the sequential mode's do, plus O(in flight) to find a ticket.
// save writes the whole state, the tickets in flight included; load continues it bit for
// bit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "kestrelopt/mopso/run.hpp"
#include "kestrelopt/ticket_book.hpp"

namespace kestrelopt {

template <SearchSpace S>
class AsyncMopsoSteps {
  public:
    using Element = typename S::Element;
    using Result = MopsoResult<Element>;
    using Ticket = AsyncTicket;

    // Samples the swarm (and its starting points from config.init).
    AsyncMopsoSteps(const MopsoConfig& config, const S& space, const Velocity& velocity)
        : run_(config, space, velocity),
          book_(config.n_particles,
                async_budget(config.n_particles, config.max_iter, config.max_evals)) {}

    // Why ask would stop now, or nothing when it can give a particle.
    std::optional<AskBlock> blocked() const { return book_.blocked(stopped_.has_value()); }

    // The next particle to evaluate, moved (after the starting positions) and marked in
    // flight; position() gives its decoded position until it is told. Stops when blocked().
    Ticket ask() {
        if (const auto block = blocked()) fail(ask_block_text(*block));
        if (!begun_ && book_.asked() >= run_.n) start();  // a move needs the bests
        const TicketBook::Next next = book_.next();
        if (next.moves) {
            if (next.first_move) run_.begin_iteration();
            run_.move(next.ticket.particle, next.iteration);
        }
        return next.ticket;
    }

    // The decoded position of a particle, in a buffer the next call overwrites.
    std::span<const Element> position(std::size_t particle) {
        run_.space.decode_into(run_.x[particle], decoded_);
        return decoded_;
    }

    // The objective vector and raw total violation (normalized here) of a ticket in flight.
    // Stops, changing nothing, for a ticket that is not in flight. callback: NoCallback, or
    // bool(const MopsoIterationInfo&), called after each iteration. Returns the stop reason
    // once the run has ended.
    template <class Callback = NoCallback>
    std::optional<StopReason> tell(std::uint64_t ticket, std::span<const double> objectives,
                                   double violation, Callback&& callback = {}) {
        const std::size_t i = book_.take(ticket).particle;
        const double normalized = normalized_violation(violation);
        if (book_.starting(ticket)) {
            run_.values[i].assign(objectives.begin(), objectives.end());
            run_.pbestv[i] = normalized;
            if (begun_) run_.adopt_first(i);
        } else {
            run_.settle(i, objectives, normalized);
        }
        ++run_.evaluations;  // counted once told, so an interruption counts right
        if (stopped_ || !book_.completes_round()) return stopped_;
        if (run_.evaluations == run_.n) {  // the starting swarm's
            if (!begun_) start();
            return stopped_;
        }
        stopped_ = run_.end_iteration(callback);
        return stopped_;
    }

    bool begun() const { return begun_; }
    std::optional<StopReason> stopped() const { return stopped_; }
    std::size_t iteration() const { return run_.iteration; }
    std::size_t evaluations() const { return run_.evaluations; }
    std::size_t asked() const { return book_.asked(); }
    std::size_t budget() const { return book_.budget(); }
    std::span<const Ticket> pending() const { return book_.pending(); }
    std::size_t dimensions() const { return run_.bounds.size(); }
    // The length of the first objective vector told, none before one was.
    std::optional<std::size_t> objective_count() const {
        for (const std::vector<double>& first : run_.values)
            if (!first.empty()) return first.size();
        return std::nullopt;
    }

    Result report(StopReason reason) const { return run_.report(reason); }
    Result finish(StopReason reason) { return run_.finish(reason); }

    void save(StateWriter& out) const {
        out.flag(begun_);
        out.stop(stopped_);
        out.u64(run_.iteration);
        out.u64(run_.evaluations);
        book_.save(out);
        run_.save(out);
    }

    void load(StateReader& in) {
        begun_ = in.flag();
        stopped_ = in.stop();
        run_.iteration = in.count(book_.budget() / run_.n, "the iteration");
        run_.evaluations = in.u64();
        book_.load(in);
        // Every particle has a personal best position once the run has begun.
        run_.load(in, [&](std::size_t) { return begun_; });
        book_.settle(run_.evaluations);
        if (!begun_ && (book_.asked() > run_.n || stopped_))
            StateReader::malformed("the run's counters do not match the asks");
    }

  private:
    // Personal bests and the archive from the starting values told so far (in particle
    // order); a particle whose value is still in flight keeps its position as its best
    // position until the value arrives.
    void start() {
        for (std::size_t i = 0; i < run_.n; ++i) {
            if (book_.busy(i))
                run_.pbest[i] = run_.x[i];
            else
                run_.adopt_first(i);
        }
        if (const auto objectives = objective_count()) run_.reserve_history(*objectives);
        begun_ = true;
        if (run_.c.max_iter == 0) stopped_ = StopReason::MaxIterations;
    }

    MopsoRun<S> run_;
    TicketBook book_;
    std::vector<Element> decoded_;
    bool begun_ = false;
    std::optional<StopReason> stopped_;
};

}  // namespace kestrelopt
