#include "convert/factories.hpp"

#include <Python.h>

#include <cmath>

#include "cpython/panic.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/spaces/rounding.hpp"
#include "kestrelopt/topology/adaptive_random.hpp"
#include "kestrelopt/topology/global.hpp"
#include "kestrelopt/topology/random.hpp"
#include "kestrelopt/topology/ring.hpp"
#include "kestrelopt/topology/von_neumann.hpp"
#include "kestrelopt/velocity/constriction.hpp"
#include "kestrelopt/velocity/crossover.hpp"
#include "kestrelopt/velocity/fips.hpp"
#include "kestrelopt/velocity/inertia.hpp"
#include "kestrelopt/velocity/spso2011.hpp"

namespace kestrelopt::native {

namespace {

// Informants of the random topology besides the particle itself; the particles each one
// informs in the adaptive random topology.
constexpr std::size_t kRandomInformants = 3;
// Coefficients used when c1 + c2 does not exceed 4 (the constriction factor needs phi > 4).
constexpr double kFallbackCoefficient = 2.05;
constexpr double kFallbackPhi = 4.1;

[[noreturn]] void unknown(const char* what, const std::string& name, const char* available) {
    raise(PyExc_ValueError,
          std::string("unknown ") + what + ": '" + name + "'. Available: " + available);
}

// A coefficient that a rule uses: NaN or an infinity would make every position NaN.
void check_finite(const char* name, double value) {
    if (!std::isfinite(value))
        raise(PyExc_ValueError,
              std::string(name) + " must be a finite number (got " + format_float(value) + ")");
}

}  // namespace

BoundaryMode build_boundary(const std::string& name) {
    if (name == "clamp") return BoundaryMode::Clamp;
    if (name == "reflect") return BoundaryMode::Reflect;
    if (name == "wrap") return BoundaryMode::Wrap;
    if (name == "reinit") return BoundaryMode::Reinit;
    unknown("bounds_handling", name, "clamp, reflect, wrap, reinit");
}

std::unique_ptr<Velocity> build_velocity(const std::string& name, Coefficient given_w,
                                         Coefficient given_c1, Coefficient given_c2,
                                         std::optional<double> w_end) {
    if (name == "spso2011" || name == "spso2011_uniform_radius") {
        const double w = given_w.given ? given_w.value : Spso2011Velocity::kWeight;
        const double c1 = given_c1.given ? given_c1.value : Spso2011Velocity::kAttraction;
        const double c2 = given_c2.given ? given_c2.value : Spso2011Velocity::kAttraction;
        check_finite("w", w);
        check_finite("c1", c1);
        check_finite("c2", c2);
        if (w_end)
            raise(PyExc_ValueError, "w_end applies only to velocity='inertia' (got velocity='" +
                                        name + "'), whose inertia weight w stays constant");
        return std::make_unique<Spso2011Velocity>(
            w, c1, c2, name == "spso2011" ? BallPoint::Uniform : BallPoint::UniformRadius);
    }
    const double w = given_w.value;
    const double c1 = given_c1.value;
    const double c2 = given_c2.value;
    // Strict, and false for a NaN sum.
    const bool phi_ok = c1 + c2 > 4.0;
    if (name == "inertia") {
        check_finite("w", w);
        check_finite("c1", c1);
        check_finite("c2", c2);
    } else if (phi_ok && (name == "constriction" || name == "fips")) {
        // A sum not above 4 (NaN included) selects the fixed coefficients instead.
        check_finite("c1", c1);
        check_finite("c2", c2);
    }
    std::unique_ptr<Velocity> rule;
    if (name == "inertia")
        rule = std::make_unique<InertiaVelocity>(w, c1, c2, w_end);
    else if (name == "constriction" && phi_ok)
        rule = std::make_unique<ConstrictionVelocity>(c1, c2);
    else if (name == "constriction")
        rule = std::make_unique<ConstrictionVelocity>(kFallbackCoefficient, kFallbackCoefficient);
    else if (name == "fips")
        rule = std::make_unique<FipsVelocity>(phi_ok ? c1 + c2 : kFallbackPhi);
    else
        unknown("variant", name, "inertia, constriction, fips, spso2011, spso2011_uniform_radius");
    if (w_end && name != "inertia")
        raise(PyExc_ValueError, "w_end applies only to velocity='inertia' (got velocity='" + name +
                                    "'); the other rules have no inertia weight");
    if (w_end && !std::isfinite(*w_end))
        raise(PyExc_ValueError, "w_end must be a finite value (or None for a constant w)");
    return rule;
}

std::unique_ptr<Velocity> with_crossover(std::unique_ptr<Velocity> rule, double crossover,
                                         const std::string& velocity) {
    if (!(crossover >= 0.0 && crossover <= 1.0))
        raise(PyExc_ValueError,
              "crossover must be a number in [0, 1] (got " + format_float(crossover) + ")");
    if (crossover == 0.0) return rule;
    if (rule->needs_full_neighborhood())
        raise(PyExc_ValueError, "crossover needs a single-leader velocity (got velocity='" +
                                    velocity +
                                    "'): it recombines a particle's best with its "
                                    "leader's");
    return std::make_unique<CrossoverVelocity>(std::move(rule), crossover);
}

std::unique_ptr<Topology> build_topology(const std::string& name, std::uint64_t n_particles,
                                         std::optional<std::uint64_t> seed,
                                         std::uint64_t ring_neighbors) {
    std::unique_ptr<Topology> topology;
    if (name == "global")
        topology = std::make_unique<GlobalBest>();
    else if (name == "ring")
        topology = std::make_unique<Ring>(ring_neighbors);
    else if (name == "vonneumann" || name == "von_neumann")
        topology = std::make_unique<VonNeumann>(VonNeumann::square_for(n_particles));
    else if (name == "random")
        topology = std::make_unique<Random>(kRandomInformants, seed.value_or(0));
    else if (name == "adaptive_random")
        topology = std::make_unique<AdaptiveRandom>(kRandomInformants,
                                                    seed.value_or(0) + kAdaptiveSeedOffset);
    else
        unknown("topology", name, "global, ring, vonneumann, random, adaptive_random");
    if (ring_neighbors == 0) raise(PyExc_ValueError, "ring_neighbors must be >= 1");
    if (ring_neighbors != 1 && name != "ring")
        raise(PyExc_ValueError,
              "ring_neighbors applies only to topology='ring' (got topology='" + name + "')");
    return topology;
}

std::vector<VarType> build_var_types(const std::vector<std::string>& names) {
    std::vector<VarType> types;
    types.reserve(names.size());
    for (const std::string& name : names) {
        if (name == "real" || name == "float" || name == "continuous")
            types.push_back(VarType::Real);
        else if (name == "integer" || name == "int")
            types.push_back(VarType::Integer);
        else if (name == "binary" || name == "bin")
            types.push_back(VarType::Binary);
        else
            unknown("variable type", name, "real, integer, binary");
    }
    return types;
}

std::vector<IntegerBound> integer_ranges(const std::vector<Bound>& pairs) {
    std::vector<IntegerBound> ranges;
    ranges.reserve(pairs.size());
    for (const auto& [low, high] : pairs)
        ranges.emplace_back(round_to_i64(low), round_to_i64(high));
    return ranges;
}

}  // namespace kestrelopt::native
