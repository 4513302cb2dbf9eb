// The constructor parameters of MultiSwarm and AsyncMultiSwarm, which take the same options.
#pragma once

#include <cstddef>
#include <iterator>

#include "convert/binder.hpp"

namespace kestrelopt::native::multi_swarm_params {

// Parameter positions, in signature order.
enum P : std::size_t {
    kBounds,
    kDim,
    kNParticles,
    kMaxIter,
    kArchiveSize,
    kW,
    kC1,
    kC2,
    kVelocity,
    kSeed,
    kInteger,
    kBinary,
    kVarTypes,
    kMutationRate,
    kGridDivisions,
    kVMax,
    kBoundsHandling,
    kRecordHistory,
    kVMaxFraction,
    kMaxEvals,
    kMaxTime,
    kInit,
    kVariant,
    kArchive,
};

inline constexpr Param kParams[] = {
    required("bounds", Kind::Object),
    optional("dim", Kind::Count),
    count("n_particles", 100),
    count_or_none("max_iter", 100),
    count("archive_size", 100),
    real("w", 0.729),
    real("c1", 1.49445),
    real("c2", 1.49445),
    text("velocity", "inertia"),
    optional("seed", Kind::Count),
    flag("integer", false),
    flag("binary", false),
    optional("var_types", Kind::TextList),
    real("mutation_rate", 0.1),
    optional("grid_divisions", Kind::Count),
    optional("v_max", Kind::FloatOrList),
    text("bounds_handling", "clamp"),
    flag("record_history", true),
    optional("v_max_fraction", Kind::Float),
    optional("max_evals", Kind::Count),
    optional("max_time", Kind::Float),
    optional("init", Kind::Object),
    text("variant", "mopso"),
    optional("archive", Kind::Text),
};
static_assert(std::size(kParams) == kArchive + 1);

}  // namespace kestrelopt::native::multi_swarm_params
