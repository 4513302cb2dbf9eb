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

// ValueError for n_particles == 0, then for a v_max that is not finite and >= 0.
void check_swarm_limits(std::uint64_t n_particles, const std::optional<double>& v_max);

// The benchmark name when the objective is a str; none for a callable.
std::optional<std::string> objective_name(PyObject* objective);

// The PsoConfig of a single-objective run. Raises in this order: n_particles, v_max,
// max_time; the other fields cannot fail. The boundary is left to the caller.
template <class P>
PsoConfig swarm_config(const Arguments& a) {
    PsoConfig config;
    config.n_particles = a.count(P::kNParticles);
    config.v_max = a.optional_real(P::kVMax);
    check_swarm_limits(config.n_particles, config.v_max);
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

template <class P>
std::unique_ptr<Velocity> velocity_rule(const Arguments& a) {
    return build_velocity(a.text(P::kVelocity), a.real(P::kW), a.real(P::kC1), a.real(P::kC2));
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
