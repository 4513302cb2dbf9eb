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

// Added to the seed of the adaptive random topology's generator.
inline constexpr std::uint64_t kAdaptiveSeedOffset = 0x9E3779B97F4A7C15ULL;

BoundaryMode build_boundary(const std::string& name);

// A coefficient option: its value (the entry point's default when not passed) and whether
// the caller passed it.
struct Coefficient {
    Coefficient(double value_, bool given_ = true) : value(value_), given(given_) {}
    double value;
    bool given;
};

// "constriction" and "fips" fall back to 2.05/2.05 and 4.1 unless c1 + c2 > 4.
// "spso2011" and "spso2011_uniform_radius" (its point at a uniform distance from the
// centre) take each of w, c1, c2 only when it was passed, their own standard value
// otherwise, since the entry points' defaults are the inertia rule's. A final weight
// `w_end` (the inertia weight falls linearly from w to it over the run) is a ValueError
// for the other rules, or when it is not finite.
std::unique_ptr<Velocity> build_velocity(const std::string& name, Coefficient w, Coefficient c1,
                                         Coefficient c2,
                                         std::optional<double> w_end = std::nullopt);

// The rule itself for a crossover of 0, else the rule wrapped by CrossoverVelocity:
// ValueError for a crossover outside [0, 1] (NaN included) and for "fips" (`velocity`, the
// rule's name), which has no single leader to cross with.
std::unique_ptr<Velocity> with_crossover(std::unique_ptr<Velocity> rule, double crossover,
                                         const std::string& velocity);

// "random" draws from its own generator, seeded with `seed` or with 0 without one;
// "adaptive_random" likewise from one of its own, seeded with that seed plus
// kAdaptiveSeedOffset (mod 2^64) so that its draws are not the run's. "ring"
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
