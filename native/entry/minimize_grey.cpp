// minimize_grey: binding of its 24 parameters, the checks in their fixed order, the grey
// space, and a sequential run on a native grey benchmark or on a Python callable that
// receives each candidate as a list of pairs (or, with array input, an (n, 2) array).
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "adapters/candidate_args.hpp"
#include "adapters/minimize_adapters.hpp"
#include "convert/binder.hpp"
#include "convert/bounds.hpp"
#include "convert/factories.hpp"
#include "convert/init_rows.hpp"
#include "convert/swarm_options.hpp"
#include "cpython/panic.hpp"
#include "cpython/pending_error.hpp"
#include "cpython/run_watch.hpp"
#include "docs/minimize_grey_doc.hpp"
#include "entry/entry_points.hpp"
#include "kestrelopt/benchmarks/grey.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/spaces/grey.hpp"
#include "results/results.hpp"

namespace kestrelopt::native {

namespace {

// Parameter positions, in signature order.
enum P : std::size_t {
    kObjective,
    kBounds,
    kMaxSpread,
    kRepresentation,
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
    kMaxEvals,
    kTarget,
    kMaxTime,
    kDim,
    kWEnd,
    kVMaxFraction,
    kRingNeighbors,
    kArrayInput,
    kInit,
};

constexpr Param kParams[] = {
    required("objective", Kind::Object),
    required("bounds", Kind::Object),
    optional("max_spread", Kind::Object),  // read here: a float or a list of floats
    text("representation", "interval"),
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
    optional("max_evals", Kind::Count),
    optional("target", Kind::Float),
    optional("max_time", Kind::Float),
    optional("dim", Kind::Count),
    optional("w_end", Kind::Float),
    optional("v_max_fraction", Kind::Float),
    count("ring_neighbors", 1),
    flag("array_input", false),
    optional("init", Kind::Object),
};
static_assert(std::size(kParams) == kInit + 1);

constexpr Signature kSignature{"minimize_grey()", kParams};

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// How each grey number is handed to a Python objective.
enum class Representation : std::uint8_t {
    Interval = 0,      // (center - spread, center + spread)
    CenterSpread = 1,  // (center, spread)
};

Representation parse_representation(const std::string& name) {
    if (name == "interval") return Representation::Interval;
    if (name == "center_spread" || name == "center-spread") return Representation::CenterSpread;
    raise(PyExc_ValueError,
          "unknown representation: '" + name + "'. Available: interval, center_spread");
}

// None: no cap beyond the bounds. A list of floats must have one value per variable; one
// float is broadcast. Sign and NaN are left to the space's constructor.
std::vector<double> resolve_max_spread(PyObject* given, std::size_t variables) {
    if (given == nullptr) return std::vector<double>(variables, kInfinity);
    std::vector<double> values;
    if (to_double_list(given, values)) {
        if (values.size() != variables)
            raise(PyExc_ValueError, "max_spread has " + std::to_string(values.size()) +
                                        " values but there are " + std::to_string(variables) +
                                        " grey variables");
        return values;
    }
    discard_reading_error();
    double value = 0.0;
    if (to_double(given, value)) return std::vector<double>(variables, value);
    discard_reading_error();
    raise(PyExc_ValueError,
          "max_spread must be a float, a list of floats (one per grey variable), or None");
}

// A new (a, b) tuple of floats; null with the error set.
PyObject* float_pair(double a, double b) {
    PyRef first(PyFloat_FromDouble(a));
    PyRef second(first ? PyFloat_FromDouble(b) : nullptr);
    PyRef pair(second ? PyTuple_New(2) : nullptr);
    if (!pair) return nullptr;
    PyTuple_SetItem(pair.get(), 0, first.release());  // steals
    PyTuple_SetItem(pair.get(), 1, second.release());
    return pair.release();
}

// The adapter between the engine and the objective, for one run.
class GreyObjective {
  public:
    GreyObjective(benchmarks::GreyFunction native, PyObject* callable,
                  Representation representation, bool array_input, std::size_t particles,
                  RunWatch& watch)
        : native_(native),
          callable_(callable),
          representation_(representation),
          array_input_(array_input),
          watch_(watch),
          counter_(particles) {}

    // The first failure ends the run (the watch parks it), so Python is not called again.
    double operator()(std::span<const Grey> greys) {
        if (native_ != nullptr) {
            watch_.tick(2 * greys.size() + 1);
            return native_(greys);
        }
        watch_.tick(kPythonCallWork + greys.size());
        PyRef answer;
        if (array_input_) {
            const auto fill = [&](double* out) {
                for (std::size_t i = 0; i < greys.size(); ++i)
                    std::tie(out[2 * i], out[2 * i + 1]) = pair_values(greys[i]);
            };
            if (!args_.prepare_array(ArrayShape::pairs(greys.size()), fill)) watch_.stop();
            answer.reset(args_.call(callable_));
        } else {
            PyRef candidate = next_list(greys);
            if (!candidate) watch_.stop();
            answer.reset(PyObject_CallFunctionObjArgs(callable_, candidate.get(), nullptr));
            spare_ = std::move(candidate);
        }
        const std::size_t particle = counter_.next();
        if (!answer) watch_.stop();
        double value = 0.0;
        if (!to_double(answer.get(), value)) {
            explain_answer(answer.get(), "objective", -1, particle, "a number");
            watch_.stop();
        }
        return value;
    }

  private:
    std::pair<double, double> pair_values(const Grey& g) const {
        if (representation_ == Representation::Interval)
            return {g.center - g.spread, g.center + g.spread};
        return {g.center, g.spread};
    }

    // The list of pairs for one evaluation. The previous list is refilled when nothing but
    // this adapter holds it (no one can tell the difference); the pairs are always new,
    // since a tuple that reached Python may have been hashed.
    PyRef next_list(std::span<const Grey> greys) {
        const auto size = static_cast<Py_ssize_t>(greys.size());
        PyRef list;
        if (spare_ && Py_REFCNT(spare_.get()) == 1 && PyList_Size(spare_.get()) == size)
            list = std::move(spare_);
        else
            list.reset(PyList_New(size));
        spare_.reset();
        if (!list) return list;
        for (Py_ssize_t i = 0; i < size; ++i) {
            const auto [a, b] = pair_values(greys[static_cast<std::size_t>(i)]);
            PyObject* pair = float_pair(a, b);
            if (pair == nullptr) return PyRef();
            PyList_SetItem(list.get(), i, pair);  // steals; drops the previous pair
        }
        return list;
    }

    benchmarks::GreyFunction native_;
    PyObject* callable_;  // borrowed; unused with a native benchmark
    Representation representation_;
    bool array_input_;  // an (n, 2) array per candidate instead of a list of pairs
    RunWatch& watch_;
    ParticleCounter counter_;
    PyRef spare_;  // the previous candidate list
    CandidateArgs args_;
};

PyGreyResult to_grey_result(PsoResult<Grey>&& result) {
    PyGreyResult record;
    const std::size_t n = result.best_position.size();
    record.best_position.reserve(n);
    record.best_centers.reserve(n);
    record.best_spreads.reserve(n);
    for (const Grey& g : result.best_position) {
        record.best_position.emplace_back(g.center - g.spread, g.center + g.spread);
        record.best_centers.push_back(g.center);
        record.best_spreads.push_back(g.spread);
    }
    record.best_value = result.best_value;
    record.convergence = std::move(result.history.convergence);
    record.evaluations = result.evaluations;
    record.stop_reason = std::string(stop_reason_text(result.stop_reason));
    return record;  // the trace of positions is not part of a GreyResult
}

PyObject* minimize_grey(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kSignature, args, kwargs);

            const Representation representation = parse_representation(a.text(kRepresentation));
            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            std::vector<double> max_spread = resolve_max_spread(a.object(kMaxSpread), pairs.size());
            VelocityLimits limits;
            PsoConfig config = swarm_config<P>(a, limits, pairs.size(), kGreyVariables);
            config.boundary = BoundaryMode::Clamp;  // the grey space projects instead
            config.record_swarm = false;            // a GreyResult has no trace of positions
            auto velocity = velocity_rule<P>(a, a.optional_real(kWEnd));
            config.schedule_iter = inertia_schedule<P>(a, config);
            auto topology = topology_of<P>(a, config);
            GreySpace space(std::move(pairs), std::move(max_spread));
            velocity = limit_velocity(std::move(velocity), limits, space.span(), kGreyVariables);
            config.init = grey_init_rows(a.object(kInit), space, config.n_particles);

            PyObject* objective = a.object(kObjective);
            benchmarks::GreyFunction native = nullptr;
            if (const std::optional<std::string> name = objective_name(objective)) {
                auto found = benchmarks::native_grey_benchmark(*name);
                if (auto* message = std::get_if<std::string>(&found))
                    raise(PyExc_KeyError, *message);
                native = std::get<benchmarks::GreyFunction>(found);
            }

            const Pso<GreySpace> engine(config, std::move(space), std::move(velocity),
                                        std::move(topology));
            const bool array_input = a.boolean(kArrayInput) && native == nullptr;
            if (array_input) numpy::load_api();
            PendingError failure;
            RunWatch watch(failure);
            // A native benchmark needs no Python until a signal check asks for it.
            std::optional<PsoResult<Grey>> result = run_watched(watch, native != nullptr, [&] {
                return engine.run_sequential(GreyObjective(native, objective, representation,
                                                           array_input, config.n_particles, watch));
            });
            const auto to_python = [](PsoResult<Grey>&& done) {
                return make_result(to_grey_result(std::move(done)));
            };
            raise_parked(failure, result, to_python);
            return to_python(std::move(*result)).release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef minimize_grey_method = {"minimize_grey", as_method(minimize_grey),
                                    METH_VARARGS | METH_KEYWORDS, kMinimizeGreyDoc};

}  // namespace kestrelopt::native
