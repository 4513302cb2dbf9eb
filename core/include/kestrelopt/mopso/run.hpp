// MopsoRun: everything one multi-objective run holds (generator, particles, personal bests,
// the constrained archive, the leaders of the iteration under way, history, counters) and
// the steps every way of driving it shares: a particle's first value, the start of an
// iteration (prune, leaders, history), moving one particle, settling one particle's new
// point, the stop rules after an iteration, the result, and the state for a checkpoint.
// MopsoSteps (rounds of the engine's two modes) and AsyncMopsoSteps (evaluations in
// flight) are loops over these steps.
//
// Per iteration the leader positions are copied once and each new point is offered to the
// archive; the buffers are reused, so nothing else is allocated in the steady state.
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
#include "kestrelopt/mopso/contributions.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "kestrelopt/mopso/smpso.hpp"
#include "kestrelopt/pso_steps.hpp"
#include "kestrelopt/random.hpp"
#include "kestrelopt/state_codec.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt {

// How particles move. Mopso: the velocity rule, the boundary mode and the fading
// turbulence. Smpso: the speed-constrained move (smpso_move below), which draws its own
// coefficients, bounds every velocity component by half its dimension's width, clamps the
// position with the velocity reversed, and mutates every sixth particle polynomially.
// SmpsoCrossover: the even-numbered particles move as in Smpso; each odd-numbered one
// becomes a child of two archive members (crossover_move below) once the archive holds two.
enum class MopsoVariant : std::uint8_t { Mopso = 0, Smpso = 1, SmpsoCrossover = 2 };

struct MopsoConfig {
    MopsoVariant variant = MopsoVariant::Mopso;
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
struct MopsoRun {
    using Element = typename S::Element;
    using Result = MopsoResult<Element>;

    // Samples the swarm (and its starting points from config.init).
    MopsoRun(const MopsoConfig& config, const S& space_, const Velocity& velocity_)
        : c(config),
          space(space_),
          velocity(velocity_),
          start(std::chrono::steady_clock::now()),
          gen(config.seed ? RandomSource::seed_from_u64(*config.seed)
                          : RandomSource::from_entropy()),
          n(config.n_particles),
          x(n),
          v(n),
          pbest(n),
          pbestf(n),
          pbestv(n, 0.0),
          values(n),
          front(config.strategy, config.archive_size),
          bounds(space_.span()) {
        if (c.v_max && !(*c.v_max >= 0))
            fail("v_max must be >= 0 (got " + format_float(*c.v_max) + ")");
        if (c.init.size() > n) fail("init has more rows than the swarm has particles");
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = space.sample(gen);
            v[i] = space.sample_velocity(gen);
            if (i < c.init.size()) {
                if (c.init[i].size() != x[i].size()) fail("an init row has the wrong length");
                x[i] = c.init[i];
            }
        }
    }

    // Particle i's first value (values[i], pbestv[i]) becomes its personal best and is
    // offered to the archive.
    void adopt_first(std::size_t i) {
        pbest[i] = x[i];
        pbestf[i] = values[i];
        if (!detail::has_nan(pbestf[i])) front.insert(x[i], pbestf[i], pbestv[i]);
    }

    // Room for the history the budget can record, once the number of objectives is known.
    void reserve_history(std::size_t objectives) {
        if (!c.record_history || n == 0) return;
        history.swarm_history.reserve(record_hint(c.max_iter, c.max_evals, n, n * x[0].size()));
        history.front_history.reserve(
            record_hint(c.max_iter, c.max_evals, n, c.archive_size * objectives));
    }

    // Prune, score and copy the leaders; record the swarm and the front.
    void begin_iteration() {
        Archive& archive = front.archive();
        const std::vector<double>& archive_scores = archive.prune_and_scores();
        scores.assign(archive_scores.begin(), archive_scores.end());
        const auto& members = archive.members();
        leaders.resize(members.size());
        for (std::size_t m = 0; m < members.size(); ++m)
            leaders[m].assign(members[m].position.begin(), members[m].position.end());
        take_directions(archive);
        if (c.record_history) {
            history.swarm_history.open_snapshot();
            for (const std::vector<double>& position : x) history.swarm_history.push_row(position);
            history.front_history.open_snapshot();
            for (const ArchiveMember& member : members)
                history.front_history.push_row(member.objectives);
        }
    }

    // Leader, velocity, move, bounds and turbulence of particle i in iteration t.
    void move(std::size_t i, std::size_t t) {
        if (c.variant == MopsoVariant::SmpsoCrossover && i % kCrossoverStride != 0 &&
            leaders.size() >= 2) {
            crossover_move(i);
            return;
        }
        const std::size_t length = c.schedule_length();
        const double frac = 1.0 - static_cast<double>(t) / static_cast<double>(length);
        const double p = c.mutation_rate * frac;
        const std::size_t count = leaders.size();
        std::span<const double> guide = pbest[i];
        if (!direction_leader.empty()) {
            guide = leaders[direction_leader[particle_direction(i)]];
        } else if (count > 0) {
            const std::uint64_t a = index_below(gen, count);
            const std::uint64_t b = index_below(gen, count);
            guide = leaders[scores[a] >= scores[b] ? a : b];
        }

        if (c.variant != MopsoVariant::Mopso) {
            smpso_move(i, guide);
            return;
        }
        const VelocityContext context{x[i], v[i], pbest[i], guide, {}, t, length};
        new_velocity.resize(x[i].size());
        velocity.update_into(context, gen, new_velocity);
        if (c.v_max) clamp_speed(new_velocity, *c.v_max);
        move_within<MoveOrder::PositionFirst>(space, x[i], v[i], new_velocity, c.boundary, gen);

        const std::size_t dims = bounds.size();
        if (c.mutation_rate > 0 && dims > 0) {
            const double r = uniform01(gen);
            if (r < p) {
                const std::size_t k = index_below(gen, dims);
                const auto [low, high] = bounds[k];
                const double half = ((high - low) * frac) * 0.5;
                if (half > 0) {
                    const double lower = detail::max_ignoring_nan(x[i][k] - half, low);
                    const double upper = detail::min_ignoring_nan(x[i][k] + half, high);
                    if (upper > lower) x[i][k] = uniform_in_inclusive(gen, lower, upper);
                }
            }
        }
    }

    // The speed-constrained move of particle i towards `guide`. Draws, in this order, once
    // per particle: r1 and r2 in [0, 1), c1 and c2 in [1.5, 2.5), w in [0.1, 0.5); the
    // velocity is chi (w v + c1 r1 (pbest - x) + c2 r2 (guide - x)) with chi from
    // phi = c1 + c2 (smpso.hpp), each component bounded by half its dimension's width. A coordinate
    // that leaves the box is set on the bound and its velocity reversed. Then every sixth particle
    // (i % 6 == 0) mutates polynomially, each coordinate with probability 1/D (one draw per
    // coordinate, a second one for a mutated coordinate).
    void smpso_move(std::size_t i, std::span<const double> guide) {
        const double r1 = uniform01(gen);
        const double r2 = uniform01(gen);
        const double c1 = 1.5 + uniform01(gen);
        const double c2 = 1.5 + uniform01(gen);
        const double w = 0.1 + 0.4 * uniform01(gen);
        const double chi = smpso_constriction(c1 + c2);
        std::vector<double>& position = x[i];
        std::vector<double>& speed = v[i];
        const std::size_t dims = bounds.size();
        for (std::size_t d = 0; d < dims; ++d) {
            const double raw = w * speed[d] + c1 * r1 * (pbest[i][d] - position[d]) +
                               c2 * r2 * (guide[d] - position[d]);
            const auto [low, high] = bounds[d];
            const double delta = (high - low) * 0.5;
            speed[d] = limited_speed(chi * raw, delta);
            position[d] = position[d] + speed[d];
            if (position[d] < low) {
                position[d] = low;
                speed[d] = -speed[d];
            } else if (position[d] > high) {
                position[d] = high;
                speed[d] = -speed[d];
            }
        }
        if (i % kSmpsoMutationStride == 0) mutate(position);
    }

    // Particle i (odd, in SmpsoCrossover) becomes a child of two archive members, drawn
    // uniformly and independently (the first, then the second, so they may coincide): each
    // coordinate is the second's with probability 1/2 (one draw per coordinate), else the
    // first's; then the child mutates as smpso's every sixth particle does. Its velocity is
    // left as it is. Recombining coordinates of members is what the velocity move lacks on
    // fronts whose variables each have many local optima (WFG4).
    void crossover_move(std::size_t i) {
        const std::size_t count = leaders.size();
        const std::vector<double>& first = leaders[index_below(gen, count)];
        const std::vector<double>& second = leaders[index_below(gen, count)];
        std::vector<double>& position = x[i];
        for (std::size_t d = 0; d < bounds.size(); ++d)
            position[d] = uniform01(gen) < 0.5 ? second[d] : first[d];
        mutate(position);
    }

    // Polynomial mutation of each coordinate with probability 1/D: one draw per coordinate,
    // a second one for a mutated coordinate.
    void mutate(std::vector<double>& position) {
        const std::size_t dims = bounds.size();
        if (dims == 0) return;
        const double probability = 1.0 / static_cast<double>(dims);
        for (std::size_t d = 0; d < dims; ++d) {
            if (!(uniform01(gen) < probability)) continue;
            const auto [low, high] = bounds[d];
            position[d] = polynomial_mutation(position[d], low, high, uniform01(gen));
        }
    }

    // Personal best and archive offer of particle i with the objectives of its position.
    void settle(std::size_t i, std::span<const double> objectives, double violation) {
        const MutualDominance d =
            constrained_dominance(objectives, violation, pbestf[i], pbestv[i]);
        bool replace = d.first_dominates;
        if (!d.first_dominates && !d.second_dominates) {
            if (direction_leader.empty() || objectives.size() != ideal.size() ||
                pbestf[i].size() != ideal.size()) {
                replace = coin_flip(gen);
            } else {
                // Along the particle's own direction, the point nearer the front and the
                // direction wins (the new one on a tie).
                const std::span<const double> unit = direction_row(particle_direction(i));
                replace = !(along_direction(pbestf[i], unit) < along_direction(objectives, unit));
            }
        }
        if (replace) {
            pbest[i].assign(x[i].begin(), x[i].end());
            pbestf[i].assign(objectives.begin(), objectives.end());
            pbestv[i] = violation;
        }
        if (!detail::has_nan(objectives)) front.insert(x[i], objectives, violation);
    }

    // Reference directions (the hypervolume and decomposition archives above three
    // objectives): particle i follows direction i * directions / n, led by the member of
    // least value along it, and its personal best keeps the point of lesser value along it.
    // The value is the penalty d1 + 5 d2 (hypervolume) or the weighted Tchebycheff value
    // (decomposition), whose leaders and personal bests drew the members nearer the front
    // (DTLZ2 with 5 and 8 objectives, with the decomposition archive's other rules: median
    // distance 1.4 % and 1.8 % against 3.8 % and 4.6 % by the penalty).
    double along_direction(std::span<const double> f, std::span<const double> unit) const {
        if (c.strategy.kind == ArchiveStrategy::Kind::Decomposition)
            return tchebycheff(f, unit, ideal, nadir);
        return boundary_penalty(f, unit, ideal, nadir, kPenaltyTheta);
    }
    std::size_t particle_direction(std::size_t i) const { return i * direction_leader.size() / n; }
    std::span<const double> direction_row(std::size_t d) const {
        const std::size_t m = ideal.size();
        return std::span<const double>(directions).subspan(d * m, m);
    }
    // The archive's directions and normalization, and each direction's leader, once the
    // archive is pruned; nothing when it does not go by directions.
    void take_directions(const Archive& archive) {
        if (!archive.by_directions() || leaders.empty()) {
            direction_leader.clear();
            return;
        }
        ideal.assign(archive.ideal().begin(), archive.ideal().end());
        nadir.assign(archive.nadir().begin(), archive.nadir().end());
        directions.assign(archive.directions().begin(), archive.directions().end());
        const auto& members = archive.members();
        direction_leader.resize(directions.size() / ideal.size());
        for (std::size_t d = 0; d < direction_leader.size(); ++d) {
            std::size_t best = 0;
            double least = 0.0;
            for (std::size_t m = 0; m < members.size(); ++m) {
                const double penalty = along_direction(members[m].objectives, direction_row(d));
                if (m == 0 || penalty < least) {
                    best = m;
                    least = penalty;
                }
            }
            direction_leader[d] = best;
        }
    }

    // The callback and the stop rules in their fixed order, once an iteration's values are
    // all told.
    template <class Callback>
    std::optional<StopReason> end_iteration(Callback& callback) {
        const std::size_t t = iteration++;
        if constexpr (!std::is_same_v<std::remove_cvref_t<Callback>, NoCallback>) {
            if (!callback(MopsoIterationInfo{t, front_size(), evaluations}))
                return StopReason::Callback;
        }
        if (c.max_evals && evaluations >= *c.max_evals) return StopReason::MaxEvaluations;
        if (c.max_time && time_is_up(start, *c.max_time)) return StopReason::MaxTime;
        if (iteration >= c.max_iter) return StopReason::MaxIterations;
        return std::nullopt;
    }

    // The archive's members once pruned to its capacity (what the callback is told).
    std::size_t front_size() const {
        return std::min(front.archive().members().size(), c.archive_size);
    }

    // The front so far, pruned to the archive's capacity, with the history copied; the run
    // itself is left as it was.
    Result report(StopReason reason) const {
        ConstrainedArchive pruned = front;
        pruned.archive().prune_and_scores();
        Result result = summary(pruned, reason);
        result.history = history;
        return result;
    }

    // The run's front, pruned, with the history handed over.
    Result finish(StopReason reason) {
        front.archive().prune_and_scores();
        Result result = summary(front, reason);
        result.history = std::move(history);
        return result;
    }

    // Everything after the counters a driver writes first; `has_best(i)` tells whether
    // particle i holds a personal best to read back.
    void save(StateWriter& out) const;
    template <class HasBest>
    void load(StateReader& in, HasBest&& has_best);

    const MopsoConfig& c;
    const S& space;
    const Velocity& velocity;
    std::chrono::steady_clock::time_point start;
    RandomSource gen;
    std::size_t n;
    std::vector<std::vector<double>> x, v, pbest, pbestf;
    std::vector<double> pbestv;  // normalized violations of the personal bests
    // Each particle's first objective vector, from its first evaluation on.
    std::vector<std::vector<double>> values;
    ConstrainedArchive front;
    std::vector<Bound> bounds;
    MopsoHistory history;
    // The iteration's leaders and their scores, fixed when it began.
    std::vector<std::vector<double>> leaders;
    std::vector<double> scores;
    std::vector<double> new_velocity;
    // Going by reference directions: each direction's leader (an index into leaders; empty
    // otherwise), the unit directions and the normalization, fixed when the iteration began.
    std::vector<std::size_t> direction_leader;
    std::vector<double> directions, ideal, nadir;
    std::size_t evaluations = 0;
    std::size_t iteration = 0;  // iterations ended

  private:
    Result summary(const ConstrainedArchive& archive, StopReason reason) const {
        Result result;
        result.front.reserve(archive.archive().members().size());
        for (const ArchiveMember& member : archive.archive().members()) {
            MoSolution<Element> solution;
            space.decode_into(member.position, solution.position);
            solution.objectives = member.objectives;
            solution.violation = archive.violation();
            result.front.push_back(std::move(solution));
        }
        result.evaluations = evaluations;
        result.stop_reason = reason;
        return result;
    }
};

template <SearchSpace S>
void MopsoRun<S>::save(StateWriter& out) const {
    out.elapsed_since(start);
    gen.save(out);
    for (std::size_t i = 0; i < n; ++i) {
        out.doubles(x[i]);
        out.doubles(v[i]);
        out.doubles(pbest[i]);
        out.doubles(pbestf[i]);
        out.f64(pbestv[i]);
        out.doubles(values[i]);
    }
    const auto& members = front.archive().members();
    out.f64(front.violation());
    out.u64(members.size());
    for (const ArchiveMember& member : members) {
        out.doubles(member.position);
        out.doubles(member.objectives);
    }
    out.u64(leaders.size());
    for (const std::vector<double>& leader : leaders) out.doubles(leader);
    out.doubles(scores);
    if (c.strategy.directional()) {
        out.u64(direction_leader.size());
        for (const std::size_t leader : direction_leader) out.u64(leader);
        out.doubles(directions);
        out.doubles(ideal);
        out.doubles(nadir);
    }
    out.trace(history.swarm_history);
    out.trace(history.front_history);
}

template <SearchSpace S>
template <class HasBest>
void MopsoRun<S>::load(StateReader& in, HasBest&& has_best) {
    start = in.start_time();
    gen = RandomSource::load(in);
    const std::size_t dims = bounds.size();
    for (std::size_t i = 0; i < n; ++i) {
        in.doubles(x[i], dims, "a position");
        in.doubles(v[i], dims, "a velocity");
        in.doubles(pbest[i], has_best(i) ? dims : 0, "a best position");
        in.doubles(pbestf[i]);
        pbestv[i] = in.f64();
        in.doubles(values[i]);
    }
    const double violation = in.f64();
    const std::size_t members = in.items("the archive");
    front = ConstrainedArchive(c.strategy, c.archive_size);
    std::vector<double> position, objectives;
    for (std::size_t m = 0; m < members; ++m) {
        in.doubles(position, dims, "an archive member");
        in.doubles(objectives);
        if (detail::has_nan(objectives)) StateReader::malformed("an archive member has a NaN");
        front.insert(position, objectives, violation);
    }
    // The members of an archive neither dominate nor equal each other, so inserting them
    // in order keeps every one, in that order.
    if (front.archive().members().size() != members)
        StateReader::malformed("the archive's members dominate each other");
    leaders.resize(in.items("the leaders"));
    for (std::vector<double>& leader : leaders) in.doubles(leader, dims, "a leader");
    in.doubles(scores, leaders.size(), "the leaders' scores");
    if (c.strategy.directional()) {
        direction_leader.resize(in.items("the directions' leaders"));
        for (std::size_t& leader : direction_leader) {
            leader = in.u64();
            if (leader >= leaders.size())
                StateReader::malformed("a direction's leader is no leader");
        }
        in.doubles(directions);
        in.doubles(ideal);
        in.doubles(nadir);
        if (!direction_leader.empty() &&
            (ideal.empty() || nadir.size() != ideal.size() ||
             directions.size() != direction_leader.size() * ideal.size()))
            StateReader::malformed("the reference directions do not match");
    }
    in.trace(history.swarm_history);
    in.trace(history.front_history);
}

}  // namespace kestrelopt
