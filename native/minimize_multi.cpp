// minimize_multi: binding of its 27 parameters, the checks in their fixed order, the choice
// of the search space, and a MOPSO run (sequential, or vectorized) with the adapters of
// minimize_multi_adapters.hpp, whose result becomes a ParetoFront.
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "bounds.hpp"
#include "candidate_args.hpp"
#include "duration.hpp"
#include "entry_points.hpp"
#include "factories.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/spaces/mixed.hpp"
#include "minimize_multi_adapters.hpp"
#include "minimize_multi_doc.hpp"
#include "panic.hpp"
#include "pending_error.hpp"
#include "results.hpp"
#include "run_watch.hpp"
#include "swarm_options.hpp"

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
};

constexpr Param kParams[] = {
    required("objective", Kind::Object),
    required("bounds", Kind::Object),
    count("n_particles", 100),
    count("max_iter", 100),
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
    optional("constraints", Kind::ObjectList),
    optional("equality_constraints", Kind::ObjectList),
    flag("vectorized", false),
    optional("max_evals", Kind::Count),
    optional("max_time", Kind::Float),
    optional("callback", Kind::Object),
};
static_assert(std::size(kParams) == kCallback + 1);

constexpr Signature kSignature{"minimize_multi()", kParams};

template <class Element>
std::vector<double> as_doubles(std::vector<Element>&& values) {
    if constexpr (std::is_same_v<Element, double>) {
        return std::move(values);
    } else {
        std::vector<double> out;
        out.reserve(values.size());
        for (const Element& v : values) out.push_back(static_cast<double>(v));
        return out;
    }
}

template <class Element>
PyRef to_pareto_front(MopsoResult<Element>&& result) {
    PyParetoFront record;
    record.positions.reserve(result.front.size());
    record.objectives.reserve(result.front.size());
    record.violations.reserve(result.front.size());
    for (MoSolution<Element>& solution : result.front) {
        record.positions.push_back(as_doubles(std::move(solution.position)));
        record.objectives.push_back(std::move(solution.objectives));
        record.violations.push_back(solution.violation);
    }
    record.evaluations = result.evaluations;
    record.stop_reason = std::string(stop_reason_text(result.stop_reason));
    record.swarm_history = std::move(result.history.swarm_history);
    record.front_history = std::move(result.history.front_history);
    return make_result(std::move(record));
}

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
        return engine.minimize(VectorObjective<Element>(callables, form, watch), callback);
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
    return guarded(
        [&] {
            Arguments a(kSignature, args, kwargs);

            // The engine never hands informants to the rule, so it needs a single leader.
            if (a.text(kVelocity) == "fips")
                raise(PyExc_ValueError,
                      "MOPSO needs a single-leader velocity ('inertia' or 'constriction'); "
                      "'fips' does not apply");
            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            MopsoConfig config;
            config.n_particles = a.count(kNParticles);
            check_n_particles(config.n_particles);
            const VelocityLimits limits = velocity_limits<P>(a, pairs.size(), kDimensions);
            config.archive_size = a.count(kArchiveSize);
            if (config.archive_size == 0) raise(PyExc_ValueError, "archive_size must be >= 1");
            auto velocity = velocity_rule<P>(a);
            config.boundary = build_boundary(a.text(kBoundsHandling));

            config.max_iter = a.count(kMaxIter);
            if (const auto divisions = a.optional_count(kGridDivisions))
                config.strategy = ArchiveStrategy::grid(*divisions);
            else
                config.strategy = ArchiveStrategy::crowding();
            config.mutation_rate = a.real(kMutationRate);
            config.record_history = a.boolean(kRecordHistory);
            config.seed = a.optional_count(kSeed);
            config.max_evals = a.optional_count(kMaxEvals);
            if (const auto max_time = a.optional_real(kMaxTime))
                config.max_time = seconds_to_duration(*max_time);
            const std::vector<PyRef> constraints = a.take_objects(kConstraints);
            const std::vector<PyRef> equality_constraints = a.take_objects(kEqualityConstraints);
            MultiRequest request;
            request.callables = {a.object(kObjective), constraints, equality_constraints,
                                 a.object(kCallback)};
            request.array_input = a.boolean(kArrayInput);
            request.vectorized = a.boolean(kVectorized);

            std::optional<std::vector<VarType>> types;
            if (a.present(kVarTypes)) {
                const std::vector<std::string> names = a.take_texts(kVarTypes);
                if (names.size() != pairs.size())
                    raise(PyExc_ValueError, "var_types length must match bounds");
                types = build_var_types(names);
            }
            return with_space(
                       std::move(pairs), std::move(types), a.boolean(kBinary), a.boolean(kInteger),
                       [&](auto space) {
                           auto rule = limit_velocity(std::move(velocity), limits, space.span(),
                                                      kDimensions);
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
