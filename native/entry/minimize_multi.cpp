// minimize_multi: binding of its 30 parameters, the checks in their fixed order, the choice
// of the search space, and a MOPSO run (sequential, or vectorized) with the adapters of
// minimize_multi_adapters.hpp, whose result becomes a ParetoFront; a call with an executor
// goes to kestrelopt.parallel first.
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "adapters/candidate_args.hpp"
#include "adapters/minimize_multi_adapters.hpp"
#include "convert/binder.hpp"
#include "convert/bounds.hpp"
#include "convert/duration.hpp"
#include "convert/factories.hpp"
#include "convert/init_rows.hpp"
#include "convert/swarm_options.hpp"
#include "cpython/panic.hpp"
#include "cpython/pending_error.hpp"
#include "cpython/run_watch.hpp"
#include "docs/minimize_multi_doc.hpp"
#include "entry/entry_points.hpp"
#include "entry/on_executor.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/spaces/mixed.hpp"
#include "results/result_records.hpp"
#include "results/results.hpp"

namespace kestrelopt::native {

namespace {

// Parameter positions, in signature order.
enum P : std::size_t {
    kObjective,
    kBounds,
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
    kDim,
    kGridDivisions,
    kVMax,
    kBoundsHandling,
    kRecordHistory,
    kVMaxFraction,
    kArrayInput,
    kConstraints,
    kEqualityConstraints,
    kVectorized,
    kMaxEvals,
    kMaxTime,
    kCallback,
    kInit,
    kVariant,
    kArchive,
};

constexpr Param kParams[] = {
    required("objective", Kind::Object),
    required("bounds", Kind::Object),
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
    optional("dim", Kind::Count),
    optional("grid_divisions", Kind::Count),
    optional("v_max", Kind::FloatOrList),
    text("bounds_handling", "clamp"),
    flag("record_history", true),
    optional("v_max_fraction", Kind::Float),
    flag("array_input", false),
    optional("constraints", Kind::ObjectListOrReturned),
    optional("equality_constraints", Kind::ObjectList),
    flag("vectorized", false),
    optional("max_evals", Kind::Count),
    optional("max_time", Kind::Float),
    optional("callback", Kind::Object),
    optional("init", Kind::Object),
    text("variant", "mopso"),
    optional("archive", Kind::Text),
};
static_assert(std::size(kParams) == kArchive + 1);

constexpr Signature kSignature{"minimize_multi()", kParams};

// How the run is made, besides the engine's configuration.
struct MultiRequest {
    MultiCallables callables;
    bool array_input = false;
    bool vectorized = false;
};

template <class Space>
PyRef run_mopso(Space space, std::unique_ptr<Velocity> velocity, const MopsoConfig& config,
                const MultiRequest& request) {
    using Element = typename Space::Element;
    const Mopso<Space> engine(config, std::move(space), std::move(velocity));
    const CandidateForm form =
        candidate_form(std::is_same_v<Space, IntegerSpace>, request.array_input);
    if (form == CandidateForm::Array || request.vectorized) numpy::load_api();
    PendingError failure;
    RunWatch watch(failure);
    const MultiCallables& callables = request.callables;
    // Each mode with and without a callback: the engine skips the callback at compile time.
    auto run_with = [&](auto&& callback) {
        if (request.vectorized)
            return engine.minimize_batch(VectorBatch<Element>(callables, watch), callback);
        return engine.minimize(VectorObjective<Element>(callables, form, config.n_particles, watch),
                               callback);
    };
    std::optional<MopsoResult<Element>> result = run_watched(watch, false, [&] {
        if (callables.callback != nullptr)
            return run_with(FrontCallback(callables.callback, watch));
        return run_with(NoCallback{});
    });
    raise_parked(failure, result, to_pareto_front<Element>);
    return to_pareto_front(std::move(*result));
}

PyObject* minimize_multi(PyObject*, PyObject* args, PyObject* kwargs) {
    if (PyObject* result = nullptr; run_on_executor("minimize_multi", args, kwargs, result))
        return result;
    return guarded(
        [&] {
            Arguments a(kSignature, args, kwargs);

            check_single_leader(a.text(kVelocity));
            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            VelocityLimits limits;
            std::unique_ptr<Velocity> velocity;
            MopsoConfig config = multi_config<P>(a, limits, pairs.size(), velocity);
            const std::vector<PyRef> constraints = a.take_objects(kConstraints);
            const std::vector<PyRef> equality_constraints = a.take_objects(kEqualityConstraints);
            MultiRequest request;
            const bool returned = a.returned(kConstraints);
            check_returned_alone(returned, !equality_constraints.empty());
            request.callables = {a.object(kObjective), constraints, equality_constraints,
                                 a.object(kCallback), returned};
            request.array_input = a.boolean(kArrayInput);
            request.vectorized = a.boolean(kVectorized);

            std::optional<std::vector<VarType>> types =
                var_types_of<P>(a, pairs.size(), var_types_match_message);
            return with_space(
                       std::move(pairs), std::move(types), a.boolean(kBinary), a.boolean(kInteger),
                       [&](auto space) {
                           auto rule = limit_velocity(std::move(velocity), limits, space.span(),
                                                      kDimensions);
                           config.init =
                               init_rows(a.object(kInit), space.span(), config.n_particles);
                           return run_mopso(std::move(space), std::move(rule), config, request);
                       })
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef minimize_multi_method = {"minimize_multi", as_method(minimize_multi),
                                     METH_VARARGS | METH_KEYWORDS, kMinimizeMultiDoc};

}  // namespace kestrelopt::native
