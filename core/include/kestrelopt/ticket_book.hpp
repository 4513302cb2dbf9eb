// TicketBook: the bookkeeping of evaluations in flight that both engines' asynchronous
// steps share. It hands out tickets (the asks numbered from 0) for the next particle not
// in flight: the first n asks are the starting positions of particles 0 to n - 1, every
// later one moves a particle, the first free one from where the last move left off (the
// sequential mode's round robin, skipping particles in flight). It knows which moves begin
// an iteration, and which values told end a round of n (the starting swarm's, then each
// iteration's). The budget caps the asks.
//
// next and take cost O(1) plus a search for a free particle (O(1) unless many are in
// flight) and for the ticket among those in flight; nothing is allocated after
// construction. save and load write and read the tickets in flight.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/state_codec.hpp"

namespace kestrelopt {

// Why an ask cannot be answered now.
enum class AskBlock : std::uint8_t {
    Ended,        // the run has ended
    BudgetAsked,  // every evaluation of the budget has been asked
    AllInFlight,  // every particle is being evaluated
};

inline const char* ask_block_text(AskBlock block) {
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

// An evaluation in flight: the number of its ask, and the particle asked.
struct AsyncTicket {
    std::uint64_t ticket;
    std::size_t particle;
};

// The asks of a whole run of n particles: the starting swarm, then whole iterations until
// max_iter or until max_evals is reached (the sequential modes check it after each
// iteration, so they always run at least one); without either, as many as a size_t counts.
inline std::size_t async_budget(std::size_t n, std::size_t max_iter,
                                std::optional<std::size_t> max_evals) {
    std::size_t iterations = max_iter;
    if (max_evals && iterations > 0)
        iterations = std::min(iterations, iterations_within(*max_evals, n));
    const std::size_t most = std::numeric_limits<std::size_t>::max();
    if (n > 0 && iterations > (most - n) / n) return most;
    return n + iterations * n;
}

class TicketBook {
  public:
    // What next hands out: the ticket, and for a move its iteration and whether it is the
    // iteration's first move.
    struct Next {
        AsyncTicket ticket;
        bool moves;
        std::size_t iteration;
        bool first_move;
    };

    TicketBook(std::size_t particles, std::size_t budget) : n_(particles), budget_(budget) {
        if (n_ == 0) fail("swarm has at least one particle");
        busy_.assign(n_, false);
        pending_.reserve(n_);
    }

    // Why next would stop now (`ended`: the run has ended), or nothing.
    std::optional<AskBlock> blocked(bool ended) const {
        if (ended) return AskBlock::Ended;
        if (asked_ == budget_) return AskBlock::BudgetAsked;
        if (asked_ >= n_ && pending_.size() == n_) return AskBlock::AllInFlight;
        return std::nullopt;
    }

    // The next ask, marked in flight; the caller has checked blocked().
    Next next() {
        Next out{{asked_, asked_}, false, 0, false};
        if (asked_ >= n_) {
            std::size_t i = cursor_;
            while (busy_[i]) i = i + 1 == n_ ? 0 : i + 1;  // one is free: not blocked
            cursor_ = i + 1 == n_ ? 0 : i + 1;
            out = {{asked_, i}, true, move_iteration_, moved_in_round_ == 0};
            if (++moved_in_round_ == n_) {
                moved_in_round_ = 0;
                ++move_iteration_;
            }
        }
        busy_[out.ticket.particle] = true;
        pending_.push_back(out.ticket);
        ++asked_;
        return out;
    }

    // The ticket, taken out of flight; stops, changing nothing, when it is not in flight.
    AsyncTicket take(std::uint64_t ticket) {
        auto at = std::find_if(pending_.begin(), pending_.end(),
                               [&](const AsyncTicket& t) { return t.ticket == ticket; });
        if (at == pending_.end()) fail("the ticket is not in flight");
        const AsyncTicket taken = *at;
        if (at + 1 == pending_.end())
            pending_.pop_back();  // the only one, with one in flight
        else
            pending_.erase(at);
        busy_[taken.particle] = false;
        return taken;
    }

    // Counts a value told before the run ended: true when it completes a round of n.
    bool completes_round() {
        if (++round_told_ < n_) return false;
        round_told_ = 0;
        return true;
    }

    // A starting position's ticket (its value is the particle's first).
    bool starting(std::uint64_t ticket) const { return ticket < n_; }
    bool busy(std::size_t particle) const { return busy_[particle]; }
    std::size_t asked() const { return asked_; }
    std::size_t budget() const { return budget_; }
    std::span<const AsyncTicket> pending() const { return pending_; }

    void save(StateWriter& out) const {
        out.u64(asked_);
        out.u64(cursor_);
        out.u64(pending_.size());
        for (const AsyncTicket& t : pending_) {
            out.u64(t.ticket);
            out.u64(t.particle);
        }
    }

    // Reads what save wrote; settle completes it once the values told are known.
    void load(StateReader& in) {
        asked_ = in.count(budget_, "the number of asks");
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
        const std::size_t moved = asked_ > n_ ? asked_ - n_ : 0;
        move_iteration_ = moved / n_;
        moved_in_round_ = moved % n_;
    }

    // After load: the values told (of all the asks, those not in flight) and, while the run
    // goes on, the rounds they complete.
    void settle(std::size_t told) {
        if (told + pending_.size() != asked_)
            StateReader::malformed("the evaluations told do not match the asks");
        round_told_ = told < n_ ? told : (told - n_) % n_;
    }

  private:
    std::size_t n_;
    std::size_t budget_;
    std::vector<bool> busy_;            // per particle: a ticket of it is in flight
    std::vector<AsyncTicket> pending_;  // in ask order
    std::size_t asked_ = 0;
    std::size_t cursor_ = 0;      // where the search for the next free particle starts
    std::size_t round_told_ = 0;  // values told since the last round ended
    // The iteration of the moves being asked, and how many of its n moves have been.
    std::size_t move_iteration_ = 0;
    std::size_t moved_in_round_ = 0;
};

}  // namespace kestrelopt
