// minimize_multi: binding of its 21 parameters, the checks in their fixed order, the choice
// of the search space, and a MOPSO run with the objective adapter below, whose result
// becomes a ParetoFront.
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
#include "entry_points.hpp"
#include "factories.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/spaces/mixed.hpp"
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
};
static_assert(std::size(kParams) == kArrayInput + 1);

constexpr Signature kSignature{"minimize_multi()", kParams};

// The adapter between the engine and the caller's objective, for one run. The first
// failure ends the run (the watch parks it), so Python is not called again.
template <class Element>
class VectorObjective {
  public:
    VectorObjective(PyObject* objective, CandidateForm form, RunWatch& watch)
        : objective_(objective), form_(form), watch_(watch) {}

    void operator()(std::span<const Element> x, std::vector<double>& out) {
        watch_.tick(kPythonCallWork + x.size());
        if (!args_.prepare(x, form_)) watch_.stop();
        PyRef answer(args_.call(objective_));
        if (!answer || !to_point(answer.get(), out, form_)) watch_.stop();
        // The archive measures every vector by the first member's length, so vectors of
        // another length would be compared on values they do not have.
        if (converted_ && out.size() != count_) {
            const std::string message = "objective returned " + values_text(out.size()) +
                                        ", but earlier evaluations returned " +
                                        std::to_string(count_);
            PyErr_SetString(PyExc_ValueError, message.c_str());
            watch_.stop();
        }
        count_ = out.size();
        converted_ = true;
    }

  private:
    static std::string values_text(std::size_t n) {
        return std::to_string(n) + (n == 1 ? " value" : " values");
    }

    PyObject* objective_;  // borrowed
    CandidateForm form_;
    RunWatch& watch_;
    std::size_t count_ = 1;   // length of the last converted result
    bool converted_ = false;  // whether any result converted yet
    CandidateArgs args_;
};

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
    for (MoSolution<Element>& solution : result.front) {
        record.positions.push_back(as_doubles(std::move(solution.position)));
        record.objectives.push_back(std::move(solution.objectives));
    }
    record.swarm_history = std::move(result.history.swarm_history);
    record.front_history = std::move(result.history.front_history);
    return make_result(std::move(record));
}

template <class Space>
PyRef run_mopso(Space space, std::unique_ptr<Velocity> velocity, const MopsoConfig& config,
                PyObject* objective, bool array_input) {
    using Element = typename Space::Element;
    const Mopso<Space> engine(config, std::move(space), std::move(velocity));
    const CandidateForm form = candidate_form(std::is_same_v<Space, IntegerSpace>, array_input);
    if (form == CandidateForm::Array) numpy::load_api();
    PendingError failure;
    RunWatch watch(failure);
    std::optional<MopsoResult<Element>> result = run_watched(watch, false, [&] {
        return engine.minimize(VectorObjective<Element>(objective, form, watch));
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
            PyObject* objective = a.object(kObjective);

            std::optional<std::vector<VarType>> types;
            if (a.present(kVarTypes)) {
                const std::vector<std::string> names = a.take_texts(kVarTypes);
                if (names.size() != pairs.size())
                    raise(PyExc_ValueError, "var_types length must match bounds");
                types = build_var_types(names);
            }
            return with_space(std::move(pairs), std::move(types), a.boolean(kBinary),
                              a.boolean(kInteger),
                              [&](auto space) {
                                  auto rule = limit_velocity(std::move(velocity), limits,
                                                             space.span(), kDimensions);
                                  return run_mopso(std::move(space), std::move(rule), config,
                                                   objective, a.boolean(kArrayInput));
                              })
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef minimize_multi_method = {"minimize_multi", as_method(minimize_multi),
                                     METH_VARARGS | METH_KEYWORDS, kMinimizeMultiDoc};

}  // namespace kestrelopt::native
