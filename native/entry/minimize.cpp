// minimize: binding of its 37 parameters, bounds, validation in a fixed order, the choice
// of the search space, then the hand-over to run; a call with an executor goes to
// kestrelopt.parallel before all that.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "adapters/constraint_sums.hpp"
#include "adapters/minimize_run.hpp"
#include "convert/binder.hpp"
#include "convert/bounds.hpp"
#include "convert/factories.hpp"
#include "convert/init_rows.hpp"
#include "convert/swarm_options.hpp"
#include "cpython/panic.hpp"
#include "docs/minimize_doc.hpp"
#include "entry/entry_points.hpp"
#include "entry/on_executor.hpp"
#include "kestrelopt/format.hpp"

namespace kestrelopt::native {

namespace {

// Parameter positions, in signature order.
enum P : std::size_t {
    kObjective,
    kBounds,
    kInteger,
    kNParticles,
    kMaxIter,
    kW,
    kC1,
    kC2,
    kVelocity,
    kTopology,
    kSeed,
    kRecordHistory,
    kVMax,
    kPatience,
    kTol,
    kConstraints,
    kPenalty,
    kBinary,
    kMaxEvals,
    kTarget,
    kMaxTime,
    kCallback,
    kBoundsHandling,
    kVectorized,
    kVarTypes,
    kDim,
    kEqualityConstraints,
    kRepair,
    kWEnd,
    kVMaxFraction,
    kRingNeighbors,
    kArrayInput,
    kInit,
    kRestarts,
    kRestartGrowth,
    kMinDiameter,
    kPreset,
    kCrossover,
};

constexpr Param kParams[] = {
    required("objective", Kind::Object),
    required("bounds", Kind::Object),
    flag("integer", false),
    count("n_particles", 30),
    count_or_none("max_iter", 100),
    real("w", 0.729),
    real("c1", 1.49445),
    real("c2", 1.49445),
    text("velocity", "inertia"),
    text("topology", "global"),
    optional("seed", Kind::Count),
    flag("record_history", true),
    optional("v_max", Kind::FloatOrList),
    count("patience", 0),
    real("tol", 0.0),
    optional("constraints", Kind::ObjectListOrReturned),
    real("penalty", 1e6),
    flag("binary", false),
    optional("max_evals", Kind::Count),
    optional("target", Kind::Float),
    optional("max_time", Kind::Float),
    optional("callback", Kind::Object),
    text("bounds_handling", "clamp"),
    flag("vectorized", false),
    optional("var_types", Kind::TextList),
    optional("dim", Kind::Count),
    optional("equality_constraints", Kind::ObjectList),
    optional("repair", Kind::Object),
    optional("w_end", Kind::Float),
    optional("v_max_fraction", Kind::Float),
    count("ring_neighbors", 1),
    flag("array_input", false),
    optional("init", Kind::Object),
    count("restarts", 0),
    real("restart_growth", 2.0),
    optional("min_diameter", Kind::Float),
    optional("preset", Kind::Text),
    real("crossover", 0.0),
};
static_assert(std::size(kParams) == kCrossover + 1);

constexpr Signature kSignature{"minimize()", kParams};

PyObject* minimize(PyObject*, PyObject* args, PyObject* kwargs) {
    if (PyObject* result = nullptr; run_on_executor("minimize", args, kwargs, result))
        return result;
    return guarded(
        [&] {
            Arguments a(kSignature, args, kwargs);

            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            BoxRunParts parts = box_run_parts<P>(a, pairs.size());
            RunRequest request;
            request.config = std::move(parts.config);

            PyObject* objective = a.object(kObjective);
            request.constraints = a.take_objects(kConstraints);
            request.equality_constraints = a.take_objects(kEqualityConstraints);
            request.returned = a.returned(kConstraints);
            request.repair = a.object(kRepair);
            request.native_name = objective_name(objective);
            if (!request.native_name) {
                request.objective = objective;
            } else if (!request.constraints.empty() || !request.equality_constraints.empty() ||
                       request.returned || request.repair != nullptr) {
                raise(PyExc_ValueError,
                      "constraints, equality_constraints and repair require a Python "
                      "objective callable, not a native benchmark name; pass a function as "
                      "the objective");
            }
            check_returned_alone(request.returned, !request.equality_constraints.empty());
            request.penalty = a.real(kPenalty);
            if (request.penalty < 0.0)
                raise(PyExc_ValueError,
                      "penalty must be >= 0 (a negative weight rewards "
                      "violating the constraints), got " +
                          format_float(request.penalty));
            request.callback = a.object(kCallback);
            request.vectorized = a.boolean(kVectorized);
            request.array_input = a.boolean(kArrayInput);

            std::optional<std::vector<VarType>> types =
                var_types_of<P>(a, pairs.size(), var_types_lengths_message);
            return with_space(std::move(pairs), std::move(types), a.boolean(kBinary),
                              a.boolean(kInteger),
                              [&](auto space) {
                                  const std::vector<Bound> spans = space.span();
                                  auto rule = limit_velocity(std::move(parts.velocity),
                                                             parts.limits, spans, kDimensions);
                                  request.config.init =
                                      init_rows(a.object(kInit), spans, request.config.n_particles);
                                  request.restarts = parts.restarts;
                                  request.remake = rule_remaker<P>(a, parts.limits, spans);
                                  return run(std::move(space), std::move(rule),
                                             std::move(parts.topology), request);
                              })
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef minimize_method = {"minimize", as_method(minimize), METH_VARARGS | METH_KEYWORDS,
                               kMinimizeDoc};

}  // namespace kestrelopt::native
