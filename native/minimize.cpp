// minimize: binding of its 28 parameters, bounds, validation in a fixed order, the choice
// of the search space, then the hand-over to run.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "bounds.hpp"
#include "duration.hpp"
#include "entry_points.hpp"
#include "factories.hpp"
#include "minimize_doc.hpp"
#include "minimize_run.hpp"
#include "panic.hpp"

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
};

constexpr Param kParams[] = {
    required("objective", Kind::Object),
    required("bounds", Kind::Object),
    flag("integer", false),
    count("n_particles", 30),
    count("max_iter", 100),
    real("w", 0.729),
    real("c1", 1.49445),
    real("c2", 1.49445),
    text("velocity", "inertia"),
    text("topology", "global"),
    optional("seed", Kind::Count),
    flag("record_history", true),
    optional("v_max", Kind::Float),
    count("patience", 0),
    real("tol", 0.0),
    optional("constraints", Kind::ObjectList),
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
};
static_assert(std::size(kParams) == kRepair + 1);

constexpr Signature kSignature{"minimize()", kParams};

PyObject* minimize(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kSignature, args, kwargs);

            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            const std::uint64_t n_particles = a.count(kNParticles);
            if (n_particles == 0) raise(PyExc_ValueError, "n_particles must be >= 1");
            const std::optional<double> v_max = a.optional_real(kVMax);
            if (v_max && !(std::isfinite(*v_max) && *v_max >= 0.0))
                raise(PyExc_ValueError, "v_max must be a finite value >= 0 (or None to disable)");

            RunRequest request;
            PsoConfig& config = request.config;
            if (const auto max_time = a.optional_real(kMaxTime))
                config.max_time = seconds_to_duration(*max_time);
            config.boundary = build_boundary(a.text(kBoundsHandling));
            auto velocity = build_velocity(a.text(kVelocity), a.real(kW), a.real(kC1), a.real(kC2));
            const std::optional<std::uint64_t> seed = a.optional_count(kSeed);
            auto topology = build_topology(a.text(kTopology), n_particles, seed);

            PyObject* objective = a.object(kObjective);
            request.constraints = a.take_objects(kConstraints);
            request.equality_constraints = a.take_objects(kEqualityConstraints);
            request.repair = a.object(kRepair);
            if (PyUnicode_Check(objective)) {
                std::string name;
                if (!to_text(objective, name)) throw PythonError{};
                request.native_name = std::move(name);
                if (!request.constraints.empty() || !request.equality_constraints.empty() ||
                    request.repair != nullptr)
                    raise(PyExc_ValueError,
                          "constraints, equality_constraints and repair require a Python "
                          "objective callable, not a native benchmark name; pass a function as "
                          "the objective");
            } else {
                request.objective = objective;
            }

            config.seed = seed;
            config.n_particles = n_particles;
            config.max_iter = a.count(kMaxIter);
            config.v_max = v_max;
            config.patience = a.count(kPatience);
            config.tol = a.real(kTol);
            config.max_evals = a.optional_count(kMaxEvals);
            config.target = a.optional_real(kTarget);
            config.record_history = a.boolean(kRecordHistory);
            request.penalty = a.real(kPenalty);
            request.callback = a.object(kCallback);
            request.vectorized = a.boolean(kVectorized);

            if (a.present(kVarTypes)) {
                const std::vector<std::string> names = a.take_texts(kVarTypes);
                if (names.size() != pairs.size())
                    raise(PyExc_ValueError, "var_types has length " + std::to_string(names.size()) +
                                                " but bounds has length " +
                                                std::to_string(pairs.size()));
                std::vector<VarType> types = build_var_types(names);
                return run(MixedSpace(std::move(pairs), std::move(types)), std::move(velocity),
                           std::move(topology), request)
                    .release();
            }
            if (a.boolean(kBinary)) {
                std::vector<IntegerBound> ranges(pairs.size(), IntegerBound{0, 1});
                return run(IntegerSpace(std::move(ranges)), std::move(velocity),
                           std::move(topology), request)
                    .release();
            }
            if (a.boolean(kInteger)) {
                return run(IntegerSpace(integer_ranges(pairs)), std::move(velocity),
                           std::move(topology), request)
                    .release();
            }
            return run(ContinuousSpace(std::move(pairs)), std::move(velocity), std::move(topology),
                       request)
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef minimize_method = {"minimize", as_method(minimize), METH_VARARGS | METH_KEYWORDS,
                               kMinimizeDoc};

}  // namespace kestrelopt::native
