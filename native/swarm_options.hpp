// The options the swarm entry points share, read from their bound arguments. The
// templates take the entry point's parameter enum, whose positions carry the same names
// in every entry point (kNParticles, kVMax, ...); each entry point keeps its own table.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "duration.hpp"
#include "factories.hpp"
#include "kestrelopt/history.hpp"
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

// The PsoConfig of a single-objective run, and its velocity limits (of `units` units).
// Raises in this order: n_particles, v_max and v_max_fraction, max_time; the other fields
// cannot fail. The boundary is left to the caller.
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
    config.max_iter = a.count(P::kMaxIter);
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
    return build_velocity(a.text(P::kVelocity), a.real(P::kW), a.real(P::kC1), a.real(P::kC2),
                          w_end);
}

template <class P>
std::unique_ptr<Topology> topology_of(const Arguments& a, const PsoConfig& config) {
    return build_topology(a.text(P::kTopology), config.n_particles, config.seed,
                          a.count(P::kRingNeighbors));
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
