// The factories that turn option names into components. Names are matched exactly
// (whole string, case-sensitive); an unknown name throws PythonError with a ValueError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/spaces/mixed.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt::native {

BoundaryMode build_boundary(const std::string& name);

// "constriction" and "fips" fall back to 2.05/2.05 and 4.1 unless c1 + c2 > 4. A final
// weight `w_end` (the inertia weight falls linearly from w to it over the run) is a
// ValueError for the other rules, or when it is not finite.
std::unique_ptr<Velocity> build_velocity(const std::string& name, double w, double c1, double c2,
                                         std::optional<double> w_end = std::nullopt);

// "random" draws from its own generator, seeded with `seed` or with 0 without one. "ring"
// takes `ring_neighbors` on each side: at least 1, and for another topology only the
// default 1 is accepted, since it would have no effect there.
std::unique_ptr<Topology> build_topology(const std::string& name, std::uint64_t n_particles,
                                         std::optional<std::uint64_t> seed,
                                         std::uint64_t ring_neighbors = 1);

// Fails on the first unknown name, in list order.
std::vector<VarType> build_var_types(const std::vector<std::string>& names);

// The ranges of an integer space: each end rounded to the nearest integer, halves away from
// zero, converted with saturation (NaN gives 0).
std::vector<IntegerBound> integer_ranges(const std::vector<Bound>& pairs);

}  // namespace kestrelopt::native
