// The options the swarm entry points share, read from their bound arguments. The
// templates take the entry point's parameter enum, whose positions carry the same names
// in every entry point (kNParticles, kVMax, ...); each entry point keeps its own table.
#pragma once

#include <Python.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert/binder.hpp"
#include "convert/duration.hpp"
#include "convert/factories.hpp"
#include "convert/presets.hpp"
#include "cpython/panic.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/mopso/steps.hpp"
#include "kestrelopt/restarts.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/spaces/mixed.hpp"

namespace kestrelopt::native {

// What velocity limits are counted in: the dimensions of a space, or grey variables, each
// encoded as two coordinates (center, spread).
struct LimitUnit {
    const char* singular;
    const char* plural;
    std::size_t coordinates;  // encoded coordinates per unit
};
inline constexpr LimitUnit kDimensions{"dimension", "dimensions", 1};
inline constexpr LimitUnit kGreyVariables{"grey variable", "grey variables", 2};

// The velocity limit asked for, checked: at most one of the three is set.
struct VelocityLimits {
    std::optional<double> v_max;     // one limit for every coordinate
    std::vector<double> v_max_each;  // or one per unit (empty when not given)
    std::optional<double> fraction;  // or this fraction of each coordinate's width
};

// ValueError for n_particles == 0.
void check_n_particles(std::uint64_t n_particles);

// Checks v_max (`each` when it was given as a sequence) and v_max_fraction against `units`
// units: ValueError when both are given, for a value (or element) that is not finite and
// >= 0, and for a sequence whose length is not `units`.
VelocityLimits check_velocity_limits(std::optional<double> v_max, const std::vector<double>* each,
                                     std::optional<double> fraction, std::size_t units,
                                     LimitUnit unit);

template <class P>
VelocityLimits velocity_limits(const Arguments& a, std::size_t units, LimitUnit unit) {
    const bool each = a.holds_floats(P::kVMax);
    return check_velocity_limits(each ? std::nullopt : a.optional_real(P::kVMax),
                                 each ? &a.floats(P::kVMax) : nullptr,
                                 a.optional_real(P::kVMaxFraction), units, unit);
}

// `rule` clamped per encoded coordinate as `limits` ask, or `rule` itself when they ask for
// nothing. `spans` are the space's ranges per coordinate (the widths of v_max_fraction); a
// width that is not finite is a ValueError.
std::unique_ptr<Velocity> limit_velocity(std::unique_ptr<Velocity> rule,
                                         const VelocityLimits& limits,
                                         const std::vector<Bound>& spans, LimitUnit unit);

// The benchmark name when the objective is a str; none for a callable.
std::optional<std::string> objective_name(PyObject* objective);

// The max_iter of a run: the count given, or kNoIterationLimit for None, which needs
// max_evals or max_time to end the run (a ValueError without either: target, patience,
// min_diameter and a callback may never fire).
std::size_t iteration_limit(std::optional<std::uint64_t> max_iter, bool max_evals, bool max_time);

template <class P>
std::size_t iteration_limit(const Arguments& a) {
    return iteration_limit(a.optional_count(P::kMaxIter), a.present(P::kMaxEvals),
                           a.present(P::kMaxTime));
}

// The schedule_iter of a run: for a run without an iteration limit (max_iter None), the
// iterations its max_evals allows, over which the inertia weight falls and the turbulence
// fades; 0 (max_iter) otherwise. When the run has a schedule (`scheduled`) but neither
// limit, a ValueError says `missing`.
std::size_t schedule_iterations(bool unlimited, std::optional<std::size_t> max_evals,
                                std::size_t n_particles, bool scheduled, const char* missing);

// The schedule_iter of a single-objective run, whose schedule is the fall to w_end.
template <class P>
std::size_t inertia_schedule(const Arguments& a, const PsoConfig& config) {
    return schedule_iterations(!a.present(P::kMaxIter), config.max_evals, config.n_particles,
                               a.present(P::kWEnd),
                               "w_end needs the run's length in iterations: with max_iter=None "
                               "pass max_evals (the weight then reaches w_end at the last "
                               "iteration they allow), or a max_iter");
}

// The PsoConfig of a single-objective run, and its velocity limits (of `units` units).
// Raises in this order: n_particles, v_max and v_max_fraction, max_time, max_iter (None
// without a budget); the other fields cannot fail. The boundary and the schedule are left
// to the caller.
template <class P>
PsoConfig swarm_config(const Arguments& a, VelocityLimits& limits, std::size_t units,
                       LimitUnit unit) {
    PsoConfig config;
    config.n_particles = a.count(P::kNParticles);
    check_n_particles(config.n_particles);
    limits = velocity_limits<P>(a, units, unit);
    if (const auto max_time = a.optional_real(P::kMaxTime))
        config.max_time = seconds_to_duration(*max_time);
    config.seed = a.optional_count(P::kSeed);
    config.max_iter = iteration_limit<P>(a);
    config.patience = a.count(P::kPatience);
    config.tol = a.real(P::kTol);
    config.max_evals = a.optional_count(P::kMaxEvals);
    config.target = a.optional_real(P::kTarget);
    config.record_history = a.boolean(P::kRecordHistory);
    return config;
}

// The velocity rule, with the final inertia weight `w_end` when one is given.
template <class P>
std::unique_ptr<Velocity> velocity_rule(const Arguments& a,
                                        std::optional<double> w_end = std::nullopt) {
    return build_velocity(a.text(P::kVelocity), {a.real(P::kW), a.given(P::kW)},
                          {a.real(P::kC1), a.given(P::kC1)}, {a.real(P::kC2), a.given(P::kC2)},
                          w_end);
}

template <class P>
std::unique_ptr<Topology> topology_of(const Arguments& a, const PsoConfig& config) {
    return build_topology(a.text(P::kTopology), config.n_particles, config.seed,
                          a.count(P::kRingNeighbors));
}

// ValueError for "fips": the multi-objective engine never hands informants to the rule, so
// it needs a single leader.
void check_single_leader(const std::string& velocity);

// The variant named by `variant`: ValueError for a name other than "mopso", "smpso" or
// "smpso_crossover".
MopsoVariant mopso_variant(const std::string& variant);

// ValueError naming the first given option that `variant` ("smpso" or "smpso_crossover")
// does not take (it draws its own coefficients, bounds the velocity and the positions itself
// and mutates instead of the turbulence).
void check_smpso_alone(const std::string& variant,
                       std::initializer_list<std::pair<const char*, bool>> given);

// The archive strategy: `archive` None keeps the choice by grid_divisions (a grid with
// them, crowding without); "crowding", "hypervolume" and "decomposition" take no
// grid_divisions, "grid" needs them. ValueError for another name or a mismatch.
ArchiveStrategy archive_strategy(const std::optional<std::string>& archive,
                                 std::optional<std::uint64_t> divisions);

// The MopsoConfig of a multi-objective run, its velocity limits (of `units` dimensions) and
// its velocity rule. Raises in this order: n_particles, v_max and v_max_fraction,
// archive_size, variant and the options smpso does not take, the velocity rule,
// bounds_handling, max_iter (None without a budget), archive and grid_divisions, max_iter
// again (None with turbulence but no max_evals), max_time.
template <class P>
MopsoConfig multi_config(const Arguments& a, VelocityLimits& limits, std::size_t units,
                         std::unique_ptr<Velocity>& velocity) {
    MopsoConfig config;
    config.n_particles = a.count(P::kNParticles);
    check_n_particles(config.n_particles);
    limits = velocity_limits<P>(a, units, kDimensions);
    config.archive_size = a.count(P::kArchiveSize);
    if (config.archive_size == 0) raise(PyExc_ValueError, "archive_size must be >= 1");
    config.variant = mopso_variant(a.text(P::kVariant));
    if (config.variant != MopsoVariant::Mopso)
        check_smpso_alone(a.text(P::kVariant), {{"w", a.given(P::kW)},
                                                {"c1", a.given(P::kC1)},
                                                {"c2", a.given(P::kC2)},
                                                {"velocity", a.given(P::kVelocity)},
                                                {"mutation_rate", a.given(P::kMutationRate)},
                                                {"v_max", a.present(P::kVMax)},
                                                {"v_max_fraction", a.present(P::kVMaxFraction)},
                                                {"bounds_handling", a.given(P::kBoundsHandling)}});
    velocity = velocity_rule<P>(a);
    config.boundary = build_boundary(a.text(P::kBoundsHandling));
    config.max_iter = iteration_limit<P>(a);
    config.strategy = archive_strategy(
        a.present(P::kArchive) ? std::optional<std::string>(a.text(P::kArchive)) : std::nullopt,
        a.optional_count(P::kGridDivisions));
    config.mutation_rate = a.real(P::kMutationRate);
    config.record_history = a.boolean(P::kRecordHistory);
    config.seed = a.optional_count(P::kSeed);
    config.max_evals = a.optional_count(P::kMaxEvals);
    config.schedule_iter = schedule_iterations(
        !a.present(P::kMaxIter), config.max_evals, config.n_particles,
        config.mutation_rate > 0 && config.variant == MopsoVariant::Mopso,
        "the turbulence (mutation_rate > 0) fades over the run's length in iterations: with "
        "max_iter=None pass max_evals (it then fades over the iterations they allow), a "
        "max_iter, or mutation_rate=0");
    if (const auto max_time = a.optional_real(P::kMaxTime))
        config.max_time = seconds_to_duration(*max_time);
    return config;
}

// The ValueError texts for var_types of another length than the bounds: the
// single-objective entry points name both lengths, the multi-objective ones do not.
std::string var_types_lengths_message(std::size_t given, std::size_t dims);
std::string var_types_match_message(std::size_t given, std::size_t dims);

// The var_types of a run, none when not given; `mismatch` words the ValueError for a list
// whose length is not `dims`.
template <class P>
std::optional<std::vector<VarType>> var_types_of(Arguments& a, std::size_t dims,
                                                 std::string (*mismatch)(std::size_t,
                                                                         std::size_t)) {
    if (!a.present(P::kVarTypes)) return std::nullopt;
    const std::vector<std::string> names = a.take_texts(P::kVarTypes);
    if (names.size() != dims) raise(PyExc_ValueError, mismatch(names.size(), dims));
    return build_var_types(names);
}

// What a single-objective run over a box needs besides its objective, read as minimize and
// Swarm read it: the preset's values first (into `a`; its restarts only when the search
// can restart), then config, velocity limits, velocity rule and topology, in that order.
struct BoxRunParts {
    PsoConfig config;
    VelocityLimits limits;
    std::unique_ptr<Velocity> velocity;
    std::unique_ptr<Topology> topology;
    RestartPolicy restarts;
};

// The restart policy and the min_diameter stop rule: ValueError for a growth that is not a
// finite number >= 1, a min_diameter that is not a finite number >= 0, and restarts without
// a rule that can find a run stagnant (patience or min_diameter).
RestartPolicy restart_policy(std::uint64_t restarts, double growth,
                             std::optional<double> min_diameter, std::size_t patience);

// Makes the velocity rule and topology of each run after a restart from the options
// read once: it runs without the interpreter lock, so it touches no Python object.
using RuleRemaker = std::function<std::pair<std::unique_ptr<Velocity>, std::unique_ptr<Topology>>(
    const PsoConfig&)>;

template <class P>
RuleRemaker rule_remaker(const Arguments& a, const VelocityLimits& limits,
                         std::vector<Bound> spans) {
    return [velocity = a.text(P::kVelocity), w = Coefficient{a.real(P::kW), a.given(P::kW)},
            c1 = Coefficient{a.real(P::kC1), a.given(P::kC1)},
            c2 = Coefficient{a.real(P::kC2), a.given(P::kC2)}, w_end = a.optional_real(P::kWEnd),
            crossover = a.real(P::kCrossover), topology = a.text(P::kTopology),
            ring = a.count(P::kRingNeighbors), limits,
            spans = std::move(spans)](const PsoConfig& config) {
        return std::pair{limit_velocity(with_crossover(build_velocity(velocity, w, c1, c2, w_end),
                                                       crossover, velocity),
                                        limits, spans, kDimensions),
                         build_topology(topology, config.n_particles, config.seed, ring)};
    };
}

template <class P>
BoxRunParts box_run_parts(Arguments& a, std::size_t dims, bool restarts = true) {
    apply_preset(a, P::kPreset, dims, restarts);
    BoxRunParts parts;
    parts.config = swarm_config<P>(a, parts.limits, dims, kDimensions);
    parts.config.boundary = build_boundary(a.text(P::kBoundsHandling));
    parts.velocity = with_crossover(velocity_rule<P>(a, a.optional_real(P::kWEnd)),
                                    a.real(P::kCrossover), a.text(P::kVelocity));
    parts.config.schedule_iter = inertia_schedule<P>(a, parts.config);
    parts.topology = topology_of<P>(a, parts.config);
    parts.config.min_diameter = a.optional_real(P::kMinDiameter);
    parts.restarts = restart_policy(a.count(P::kRestarts), a.real(P::kRestartGrowth),
                                    parts.config.min_diameter, parts.config.patience);
    return parts;
}

// Calls `use` with the space the options choose: the mixed space when var_types were
// given, else 0/1 integers for binary, rounded integer ranges for integer, or the box.
template <class Use>
auto with_space(std::vector<Bound> pairs, std::optional<std::vector<VarType>> types, bool binary,
                bool integer, Use&& use) {
    if (types) return use(MixedSpace(std::move(pairs), std::move(*types)));
    if (binary)
        return use(IntegerSpace(std::vector<IntegerBound>(pairs.size(), IntegerBound{0, 1})));
    if (integer) return use(IntegerSpace(integer_ranges(pairs)));
    return use(ContinuousSpace(std::move(pairs)));
}

}  // namespace kestrelopt::native
