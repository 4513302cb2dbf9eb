// PsoRun: everything one single-objective run holds (generator, particles, bests, the
// incremental neighbourhood best, stop-rule counters, history) and the steps both modes
// share: sampling, moving one particle, offering one value, the stop rules, the result.
// The engine's modes and PsoSteps are loops over these steps. The buffers (neighbourhood
// list, informant views, new velocity, decoded position) are reused for the whole run.
//
// save and load write and read the whole state for a checkpoint; a loaded run continues
// with exactly the draws and values of the run that was saved.
#pragma once

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "kestrelopt/deadline.hpp"
#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/spaces/boundary.hpp"
#include "kestrelopt/state_codec.hpp"
#include "kestrelopt/topology/adaptive_random.hpp"
#include "kestrelopt/traits.hpp"
#include "kestrelopt/velocity/inertia.hpp"

namespace kestrelopt {

template <SearchSpace S>
struct PsoRun {
    using Element = typename S::Element;
    using Result = PsoResult<Element>;

    const PsoConfig& config;
    const S& space;
    const Velocity& velocity;
    Topology& topology;
    std::chrono::steady_clock::time_point start;
    RandomSource gen;
    std::vector<Particle> particles;
    std::vector<double> global_best;
    double global_value = 0.0;
    std::size_t evaluations = 0;
    History history;
    bool full = false;
    bool track = false;            // neighbourhood best tracked incrementally
    std::size_t tracked_best = 0;  // meaningful only when track
    std::size_t stall = 0;
    double previous = 0.0;
    bool improved = false;  // the global best improved in the iteration running
    std::vector<std::size_t> neighborhood;
    std::vector<std::span<const double>> informants;
    std::vector<double> new_velocity;
    std::vector<Element> decoded;
    // Set by derive when move may take the inertia rule's path (inertia_move); its factors.
    const InertiaVelocity* inertia = nullptr;
    std::vector<double> factors;
    // Set by derive when move may read the adaptive random topology's lists in place.
    const AdaptiveRandom* adaptive = nullptr;
    // With min_diameter: each coordinate's bounds width, and its extent over the swarm.
    std::vector<double> widths;
    std::vector<double> lows;
    std::vector<double> highs;

    PsoRun(const PsoConfig& config_, const S& space_, const Velocity& velocity_,
           Topology& topology_)
        : config(config_),
          space(space_),
          velocity(velocity_),
          topology(topology_),
          start(std::chrono::steady_clock::now()),
          gen(config_.seed ? RandomSource::seed_from_u64(*config_.seed)
                           : RandomSource::from_entropy()) {
        const auto& v_max = config.v_max;
        if (v_max && !(*v_max >= 0)) fail("v_max must be >= 0 (got " + format_float(*v_max) + ")");
        if (config.init.size() > config.n_particles)
            fail("init has more rows than the swarm has particles");
        particles.reserve(config.n_particles);
        if (config.min_diameter) {
            if (!(*config.min_diameter >= 0))
                fail("min_diameter must be >= 0 (got " + format_float(*config.min_diameter) + ")");
            for (const auto& [low, high] : space.span()) widths.push_back(high - low);
            lows.resize(widths.size());
            highs.resize(widths.size());
        }
    }

    // Particle p's position and velocity as drawn; a starting point the caller gave for it
    // then replaces the position, so that the generator draws what it draws without one.
    std::pair<std::vector<double>, std::vector<double>> sample(std::size_t p) {
        std::vector<double> x = space.sample(gen);
        std::vector<double> v = space.sample_velocity(gen);
        if (p < config.init.size()) {
            if (config.init[p].size() != x.size()) fail("an init row has the wrong length");
            x = config.init[p];
        }
        return {std::move(x), std::move(v)};
    }

    // Global best and the bookkeeping every run starts from, once all particles hold a value.
    void begin() {
        if (particles.empty()) fail("swarm has at least one particle");
        const std::size_t best = scan_best();
        global_best = particles[best].best_position;
        global_value = particles[best].best_value;
        tracked_best = best;
        previous = global_value;
        derive();
        close_iteration();
        if (config.record_history && config.record_swarm)
            history.positions.reserve(record_hint(config.max_iter, config.max_evals,
                                                  particles.size(),
                                                  particles.size() * particles[0].position.size()));
    }

    // What follows from the engine's parts rather than from the run so far.
    void derive() {
        full = velocity.needs_full_neighborhood();
        track = !full && topology.whole_swarm_in_order();
        new_velocity.resize(global_best.size());
        adaptive = full ? nullptr : dynamic_cast<const AdaptiveRandom*>(&topology);
        inertia = nullptr;
        if constexpr (kBoxMoves) {
            if (track && config.boundary == BoundaryMode::Clamp) {
                inertia = dynamic_cast<const InertiaVelocity*>(&velocity);
                factors.resize(2 * global_best.size());
            }
        }
    }

    std::size_t scan_best() const {
        std::size_t best = 0;
        for (std::size_t j = 1; j < particles.size(); ++j)
            if (better_value(particles[j].best_value, particles[best].best_value)) best = j;
        return best;
    }

    void record_positions() {
        if (!config.record_history || !config.record_swarm) return;
        history.positions.open_snapshot();
        for (const Particle& p : particles) history.positions.push_row(p.position);
    }

    // Neighbourhood, new velocity, velocity limit, move and boundary handling of particle i.
    void move(std::size_t i, std::size_t t) {
        if constexpr (kBoxMoves) {
            if (inertia != nullptr && particles[i].position.size() == space.dimensions())
                return inertia_move(particles[i], t);
        }
        std::size_t b;
        if (track) {
            b = tracked_best;
        } else if (adaptive != nullptr && particles.size() > 1) {
            b = first_best(adaptive->list_of(i, particles.size()));
        } else {
            topology.neighbors_into(i, particles, neighborhood);
            b = best_among(particles, neighborhood, i);
            informants.clear();
            if (full)
                for (const std::size_t j : neighborhood)
                    informants.emplace_back(particles[j].best_position);
        }
        Particle& p = particles[i];
        const VelocityContext context{
            p.position, p.velocity, p.best_position,         particles[b].best_position,
            informants, t,          config.schedule_length()};
        new_velocity.resize(p.position.size());
        velocity.update_into(context, gen, new_velocity);
        if (config.v_max) clamp_speed(new_velocity, *config.v_max);
        move_within<MoveOrder::VelocityFirst>(space, p.position, p.velocity, new_velocity,
                                              config.boundary, gen);
    }

    // The decoded position of particle i, until it moves or the next call: in `decoded`,
    // or the position itself in a space whose positions are their own decoding.
    std::span<const Element> position(std::size_t i) {
        if constexpr (requires { requires S::kDecodesToItself; }) {
            return particles[i].position;
        } else {
            space.decode_into(particles[i].position, decoded);
            return decoded;
        }
    }

    // Personal- and global-best update of particle i with the value of its position.
    void offer(std::size_t i, double value) {
        Particle& p = particles[i];
        if (!better_value(value, p.best_value)) return;
        p.best_value = value;
        p.best_position.assign(p.position.begin(), p.position.end());
        if (track && (better_value(value, particles[tracked_best].best_value) ||
                      (value == particles[tracked_best].best_value && i < tracked_best)))
            tracked_best = i;
        offer_global(p);
    }

    // The first value of particle i (at its starting position) when it arrives after begin,
    // as in an asynchronous run: it becomes the personal best whatever it is, as it would
    // have at the start. The tracked best is found again only when it was particle i, whose
    // best may then have become worse (a NaN replacing the placeholder).
    void first_value(std::size_t i, double value) {
        Particle& p = particles[i];
        p.best_value = value;
        if (track) {
            if (tracked_best == i)
                tracked_best = scan_best();
            else if (better_value(value, particles[tracked_best].best_value) ||
                     (value == particles[tracked_best].best_value && i < tracked_best))
                tracked_best = i;
        }
        offer_global(p);
    }

    void record_convergence() {
        if (config.record_history) history.convergence.push_back(global_value);
    }

    // Tells the topology how the iteration (or the first swarm's evaluation) went. PsoSteps
    // saves between rounds only, after it, so its checkpoints never hold a pending
    // `improved`; AsyncSteps, saved mid-iteration, writes it itself.
    void close_iteration() {
        topology.iteration_done(improved);
        improved = false;
    }

    // The stop rules after the callback, in their fixed order; t is the iteration just run.
    std::optional<StopReason> stop_after(std::size_t t) {
        if (config.patience > 0) {
            const double improvement = previous - global_value;
            previous = global_value;
            if (improvement > config.tol)
                stall = 0;
            else
                ++stall;
            if (stall >= config.patience) return StopReason::Stagnation;
        }
        if (config.min_diameter && collapsed(*config.min_diameter)) return StopReason::Stagnation;
        if (config.target && global_value <= *config.target) return StopReason::Target;
        if (config.max_evals && evaluations >= *config.max_evals) return StopReason::MaxEvaluations;
        if (config.max_time && time_is_up(start, *config.max_time)) return StopReason::MaxTime;
        if (t + 1 == config.max_iter) return StopReason::MaxIterations;
        return std::nullopt;
    }

    // The result so far, the history copied; finish moves it instead.
    Result report(StopReason reason) const {
        Result result = summary(reason);
        result.history = history;
        return result;
    }
    Result finish(StopReason reason) {
        Result result = summary(reason);
        result.history = std::move(history);
        return result;
    }

    // The state after begin (or before it, when `begun` is false: the particles' values are
    // then not yet known).
    void save(StateWriter& out, bool begun) const {
        gen.save(out);
        topology.save(out);
        out.u64(particles.size());
        for (const Particle& p : particles) {
            out.doubles(p.position);
            out.doubles(p.velocity);
            out.doubles(p.best_position);
            out.f64(p.best_value);
        }
        out.u64(evaluations);
        out.elapsed_since(start);
        if (!begun) return;
        out.doubles(global_best);
        out.f64(global_value);
        out.u64(tracked_best);
        out.u64(stall);
        out.f64(previous);
        out.trace(history.positions);
        out.doubles(history.convergence);
    }

    void load(StateReader& in, bool begun) {
        gen = RandomSource::load(in);
        topology.load(in);
        const std::size_t n = in.count(config.n_particles, "the number of particles");
        if (n != config.n_particles) StateReader::malformed("the swarm has the wrong size");
        const std::size_t dims = space.span().size();
        particles.clear();
        std::vector<double> x, v, best;
        for (std::size_t j = 0; j < n; ++j) {
            in.doubles(x, dims, "a position");
            in.doubles(v, dims, "a velocity");
            in.doubles(best, dims, "a best position");
            particles.emplace_back(x, v, in.f64());
            particles.back().best_position = best;
        }
        evaluations = in.u64();
        start = in.start_time();
        if (!begun) return;
        in.doubles(global_best, dims, "the global best");
        global_value = in.f64();
        tracked_best = in.count(n - 1, "the tracked best");
        stall = in.u64();
        previous = in.f64();
        in.trace(history.positions);
        in.doubles(history.convergence);
        derive();
    }

    // True when every coordinate's extent over the swarm's positions is at most `fraction`
    // of its bounds' width (a coordinate of zero width does not count). O(n * dims).
    bool collapsed(double fraction) {
        std::copy(particles.front().position.begin(), particles.front().position.end(),
                  lows.begin());
        std::copy(lows.begin(), lows.end(), highs.begin());
        for (const Particle& p : particles)
            for (std::size_t d = 0; d < widths.size(); ++d) {
                lows[d] = std::min(lows[d], p.position[d]);
                highs[d] = std::max(highs[d], p.position[d]);
            }
        for (std::size_t d = 0; d < widths.size(); ++d)
            if (widths[d] > 0 && !(highs[d] - lows[d] <= fraction * widths[d])) return false;
        return true;
    }

  private:
    // A box whose positions are their own decoding and whose bounds come as two arrays.
    static constexpr bool kBoxMoves = requires(const S& box) {
        requires S::kDecodesToItself;
        { box.lower().data() } -> std::same_as<const double*>;
        { box.upper().data() } -> std::same_as<const double*>;
    };

    // move for the inertia rule under a whole-swarm topology in a clamped box, without the
    // rule's interface: all of the particle's factors drawn first (the draws the rule's
    // chunks make, in order), the rule's arithmetic over the whole particle as one chunk,
    // the speed limit, then the move and clamp as move_within does them: the same bits.
    // Saves the calls and checks that cost as much as the arithmetic in a short particle.
    void inertia_move(Particle& p, std::size_t t) {
        const std::size_t n = p.position.size();
        gen.fill_uniform01(std::span<double>(factors.data(), 2 * n));
        detail::leader_chunk(
            {p.position.data(), p.velocity.data(), p.best_position.data(),
             particles[tracked_best].best_position.data(), factors.data(), new_velocity.data(), n},
            inertia->c1(), inertia->c2(), LeaderRule::Inertia,
            inertia->weight(t, config.schedule_length()));
        if (config.v_max) clamp_speed(new_velocity, *config.v_max);
        detail::clamp_over<true>(p.position, new_velocity.data(), space.lower().data(),
                                 space.upper().data());
        std::swap(p.velocity, new_velocity);
    }

    // best_among over a list that is never empty and holds only particles of the swarm; the
    // better_value test in bitwise form and the best value kept at hand, so that the choice
    // compiles to conditional moves rather than branches that mispredict.
    std::size_t first_best(std::span<const std::size_t> list) const {
        std::size_t best = list[0];
        double value = particles[best].best_value;
        for (std::size_t k = 1; k < list.size(); ++k) {
            const std::size_t j = list[k];
            const double candidate = particles[j].best_value;
            const bool better = (candidate < value) | ((value != value) & (candidate == candidate));
            best = better ? j : best;
            value = better ? candidate : value;
        }
        return best;
    }

    void offer_global(const Particle& p) {
        if (better_value(p.best_value, global_value)) {
            improved = true;
            global_value = p.best_value;
            global_best.assign(p.position.begin(), p.position.end());
        }
    }

    Result summary(StopReason reason) const {
        Result result;
        space.decode_into(global_best, result.best_position);
        result.best_value = global_value;
        result.evaluations = evaluations;
        result.stop_reason = reason;
        return result;
    }
};

}  // namespace kestrelopt
