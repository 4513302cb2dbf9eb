// The constructor parameters of Swarm and AsyncSwarm, which take the same options.
#pragma once

#include <cstddef>
#include <iterator>

#include "convert/binder.hpp"

namespace kestrelopt::native::swarm_params {

// Parameter positions, in signature order.
enum P : std::size_t {
    kBounds,
    kDim,
    kNParticles,
    kMaxIter,
    kW,
    kC1,
    kC2,
    kVelocity,
    kTopology,
    kSeed,
    kVMax,
    kBoundsHandling,
    kInteger,
    kBinary,
    kVarTypes,
    kInit,
    kRecordHistory,
    kPatience,
    kTol,
    kMaxEvals,
    kTarget,
    kMaxTime,
    kWEnd,
    kVMaxFraction,
    kRingNeighbors,
    kRestarts,
    kRestartGrowth,
    kMinDiameter,
    kPenalty,
    kPreset,
    kCrossover,
};

inline constexpr Param kParams[] = {
    required("bounds", Kind::Object),
    optional("dim", Kind::Count),
    count("n_particles", 30),
    count_or_none("max_iter", 100),
    real("w", 0.729),
    real("c1", 1.49445),
    real("c2", 1.49445),
    text("velocity", "inertia"),
    text("topology", "global"),
    optional("seed", Kind::Count),
    optional("v_max", Kind::FloatOrList),
    text("bounds_handling", "clamp"),
    flag("integer", false),
    flag("binary", false),
    optional("var_types", Kind::TextList),
    optional("init", Kind::Object),
    flag("record_history", true),
    count("patience", 0),
    real("tol", 0.0),
    optional("max_evals", Kind::Count),
    optional("target", Kind::Float),
    optional("max_time", Kind::Float),
    optional("w_end", Kind::Float),
    optional("v_max_fraction", Kind::Float),
    count("ring_neighbors", 1),
    count("restarts", 0),
    real("restart_growth", 2.0),
    optional("min_diameter", Kind::Float),
    real("penalty", 1e6),
    optional("preset", Kind::Text),
    real("crossover", 0.0),
};
static_assert(std::size(kParams) == kCrossover + 1);

}  // namespace kestrelopt::native::swarm_params
