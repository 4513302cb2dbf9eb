// Swarm: a single-objective run in the synchronous mode, driven by the caller with ask and
// tell. One driver per search space holds the engine and its steps; the class reads the
// options as minimize does, checks every call before it changes anything, and pickles by
// value (the options and the bytes of the steps' state).
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "adapters/candidate_list.hpp"
#include "adapters/constraint_sums.hpp"
#include "adapters/minimize_adapters.hpp"
#include "convert/binder.hpp"
#include "convert/bounds.hpp"
#include "convert/factories.hpp"
#include "convert/init_rows.hpp"
#include "convert/numpy_api.hpp"
#include "convert/swarm_options.hpp"
#include "cpython/panic.hpp"
#include "docs/swarm_docs.hpp"
#include "entry/entry_points.hpp"
#include "entry/steppable.hpp"
#include "entry/swarm_params.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/restarts.hpp"
#include "kestrelopt/state_codec.hpp"
#include "results/result_records.hpp"

namespace kestrelopt::native {

namespace {

using namespace swarm_params;

constexpr Signature kSignature{"Swarm()", kParams};

constexpr Param kTellParams[] = {
    required("values", Kind::Object),
    optional("violations", Kind::Object),
};
constexpr Signature kTellSignature{"tell()", kTellParams};

constexpr char kRestoreSwarm[] = "_restore_swarm";

// Tells a checkpoint of a Swarm from anything else.
constexpr std::uint64_t kSwarmMagic = 0x316D726177536B4FULL;  // "OkSwarm1"

class SwarmDriver {
  public:
    virtual ~SwarmDriver() = default;
    virtual PyRef ask() = 0;
    virtual void tell(std::span<const double> values) = 0;
    virtual std::size_t particles() const = 0;
    virtual std::size_t dimensions() const = 0;
    virtual bool asked() const = 0;
    virtual bool started() const = 0;
    virtual std::optional<StopReason> stopped() const = 0;
    virtual std::size_t iteration() const = 0;
    virtual std::size_t evaluations() const = 0;
    virtual double best_value() const = 0;
    virtual std::vector<double> best_position() const = 0;
    virtual std::span<const double> convergence() const = 0;
    virtual PyPsoResult result() const = 0;
    virtual std::vector<std::uint8_t> save() const = 0;
    virtual void load(std::span<const std::uint8_t> bytes) = 0;

    // The values and violations of the last tell, their buffers reused from tell to tell.
    std::vector<double> told;
    std::vector<double> told_violations;
    // The weight of the violations told, as minimize's penalty.
    double penalty = 0.0;
};

template <class Space>
class SwarmDriverOf final : public SwarmDriver {
  public:
    SwarmDriverOf(PsoConfig config, Space space, std::unique_ptr<Velocity> velocity,
                  std::unique_ptr<Topology> topology)
        : engine_(std::move(config), std::move(space), std::move(velocity), std::move(topology)),
          steps_(engine_.steps()) {}

    PyRef ask() override {
        PyRef matrix = asked_matrix(steps_);
        if (!matrix) throw PythonError{};
        return matrix;
    }
    void tell(std::span<const double> values) override { steps_.tell(values); }
    std::size_t particles() const override { return engine_.config().n_particles; }
    std::size_t dimensions() const override { return steps_.dimensions(); }
    bool asked() const override { return steps_.asked(); }
    bool started() const override { return steps_.started(); }
    std::optional<StopReason> stopped() const override { return steps_.stopped(); }
    std::size_t iteration() const override { return steps_.iteration(); }
    std::size_t evaluations() const override { return steps_.run().evaluations; }
    double best_value() const override { return steps_.run().global_value; }
    std::vector<double> best_position() const override {
        std::vector<typename Space::Element> decoded;
        engine_.space().decode_into(steps_.run().global_best, decoded);
        return as_doubles(std::move(decoded));
    }
    std::span<const double> convergence() const override {
        return steps_.run().history.convergence;
    }
    PyPsoResult result() const override {
        return running_report(steps_, [](auto r) { return to_py_result(std::move(r)); });
    }
    std::vector<std::uint8_t> save() const override { return tagged_state(steps_, kSwarmMagic); }
    void load(std::span<const std::uint8_t> bytes) override {
        load_tagged_state(steps_, bytes, kSwarmMagic, "it is not a Swarm's");
    }

  private:
    Pso<Space> engine_;
    PsoSteps<Space> steps_;
};

// Tells a checkpoint of a restarting Swarm from anything else.
constexpr std::uint64_t kRestartingMagic = 0x526D726177536B4FULL;  // "OkSwarmR"

// A Swarm with restarts: the runs of a RestartSearch, each driven by its own steps. When a
// tell ends a run that stagnated, the next run (with its larger swarm) is built at once, so
// the next ask gives its initial swarm. What the getters show is the search so far.
template <class Space>
class RestartingDriverOf final : public SwarmDriver {
  public:
    using Element = typename Space::Element;

    RestartingDriverOf(PsoConfig config, Space space, std::unique_ptr<Velocity> velocity,
                       std::unique_ptr<Topology> topology, RestartPolicy policy, RuleRemaker remake)
        : search_(config, policy), space_(std::move(space)), remake_(std::move(remake)) {
        start(std::move(config), std::move(velocity), std::move(topology));
    }

    PyRef ask() override {
        PyRef matrix = asked_matrix(*steps_);
        if (!matrix) throw PythonError{};
        return matrix;
    }
    void tell(std::span<const double> values) override {
        steps_->tell(values);
        const std::optional<StopReason> reason = steps_->stopped();
        if (!reason) return;
        search_.take(steps_->finish(*reason));
        if (const std::optional<PsoConfig> config = search_.next()) {
            auto [rule, topology] = remake_(*config);
            start(*config, std::move(rule), std::move(topology));
        }
    }
    std::size_t particles() const override { return engine_->config().n_particles; }
    std::size_t dimensions() const override { return steps_->dimensions(); }
    bool asked() const override { return !search_.ended() && steps_->asked(); }
    bool started() const override { return search_.runs() > 0 || steps_->started(); }
    std::optional<StopReason> stopped() const override {
        if (!search_.ended()) return std::nullopt;
        return search_.result().stop_reason;
    }
    std::size_t iteration() const override {
        return search_.iterations() + (search_.ended() ? 0 : steps_->iteration());
    }
    std::size_t evaluations() const override {
        return search_.evaluations() + (search_.ended() ? 0 : steps_->run().evaluations);
    }
    double best_value() const override { return so_far().best_value; }
    std::vector<double> best_position() const override {
        return as_doubles(so_far().best_position);
    }
    std::span<const double> convergence() const override {
        convergence_ = so_far().history.convergence;
        return convergence_;
    }
    PyPsoResult result() const override {
        PyPsoResult record = to_py_result(so_far());
        if (!search_.ended()) record.stop_reason = kRunning;
        return record;
    }
    std::vector<std::uint8_t> save() const override {
        StateWriter out;
        out.u64(kRestartingMagic);
        search_.save(out);
        if (!search_.ended()) steps_->save(out);
        return out.take();
    }
    void load(std::span<const std::uint8_t> bytes) override {
        StateReader in(bytes);
        if (in.u64() != kRestartingMagic) StateReader::malformed("it is not a restarting Swarm's");
        search_.load(in, steps_->dimensions());
        if (!search_.ended()) {
            // The run in progress is the one next() configures after the runs taken.
            const std::optional<PsoConfig> config = search_.next();
            if (!config) StateReader::malformed("the search has no run in progress");
            auto [rule, topology] = remake_(*config);
            start(*config, std::move(rule), std::move(topology));
            steps_->load(in);
        }
        in.finish();
    }

  private:
    void start(PsoConfig config, std::unique_ptr<Velocity> rule,
               std::unique_ptr<Topology> topology) {
        steps_.reset();  // the steps refer to the engine they came from
        engine_ = std::make_unique<Pso<Space>>(std::move(config), space_, std::move(rule),
                                               std::move(topology));
        steps_ = std::make_unique<PsoSteps<Space>>(engine_->steps());
    }

    // The search's result with the run in progress counted in, once it has its values.
    PsoResult<Element> so_far() const {
        if (search_.ended() || !steps_->started()) return search_.result();
        return search_.with(steps_->report(StopReason::MaxIterations));
    }

    RestartSearch<Element> search_;
    Space space_;
    RuleRemaker remake_;
    std::unique_ptr<Pso<Space>> engine_;
    std::unique_ptr<PsoSteps<Space>> steps_;
    mutable std::vector<double> convergence_;
};

using Instance = DriverInstance<SwarmDriver>;

SwarmDriver& swarm(PyObject* self) {
    return driver_of<SwarmDriver>(self);
}

PyObject* g_swarm_type = nullptr;

PyObject* swarm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            check_positional(args, "Swarm()");
            Arguments a(kSignature, args, kwargs);
            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            BoxRunParts parts = box_run_parts<P>(a, pairs.size());
            std::optional<std::vector<VarType>> types =
                var_types_of<P>(a, pairs.size(), var_types_lengths_message);
            numpy::load_api();
            PyRef options = checkpoint_options(kwargs, pairs);
            SwarmDriver* driver = with_space(
                std::move(pairs), std::move(types), a.boolean(kBinary), a.boolean(kInteger),
                [&](auto space) -> SwarmDriver* {
                    using Space = decltype(space);
                    const std::vector<Bound> spans = space.span();
                    auto rule =
                        limit_velocity(std::move(parts.velocity), parts.limits, spans, kDimensions);
                    parts.config.init = init_rows(a.object(kInit), spans, parts.config.n_particles);
                    if (parts.restarts.restarts > 0)
                        return new RestartingDriverOf<Space>(
                            std::move(parts.config), std::move(space), std::move(rule),
                            std::move(parts.topology), parts.restarts,
                            rule_remaker<P>(a, parts.limits, spans));
                    return new SwarmDriverOf<Space>(std::move(parts.config), std::move(space),
                                                    std::move(rule), std::move(parts.topology));
                });
            driver->penalty = a.real(kPenalty);
            return adopt_driver(reinterpret_cast<PyObject*>(type), driver, std::move(options))
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

// ValueError unless the swarm waits for the values of an ask().
void check_asked(const SwarmDriver& s) {
    if (!s.asked())
        raise(PyExc_ValueError, s.stopped() ? "the run has ended; result() holds its outcome"
                                            : "tell() needs an ask() before it: it takes the "
                                              "values of the positions the last ask() gave");
}

// ValueError unless every violation is >= 0 or NaN.
void check_violations(std::span<const double> violations) {
    for (std::size_t j = 0; j < violations.size(); ++j) {
        if (!(violations[j] < 0)) continue;
        raise(PyExc_ValueError, "violations must be >= 0 (0 when feasible), but particle " +
                                    std::to_string(j) + " has " + format_float(violations[j]) +
                                    "; Swarm.violations(g) makes them of the constraint values g");
    }
}

constexpr char kOnePerParticle[] = "; it takes one number per particle (a sequence or an array)";

PyObject* swarm_tell(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            SwarmDriver& s = swarm(self);
            Arguments a(kTellSignature, args, kwargs);
            check_asked(s);
            TellValues told(s.told);
            TellValues told_violations(s.told_violations);
            std::vector<double>& read = told.read(a.object(0), "tell() got", kOnePerParticle);
            PyObject* given_violations = a.object(1);
            const std::vector<double>* violations =
                given_violations != nullptr
                    ? &told_violations.read(given_violations, "tell() got",
                                            " for violations; it takes one number per particle "
                                            "(a sequence or an array)")
                    : nullptr;
            check_asked(s);  // reading may have run code that told meanwhile
            const std::size_t n = s.particles();
            if (read.size() != n)
                raise(PyExc_ValueError, "tell() needs " + std::to_string(n) +
                                            " values, one per particle, but got " +
                                            std::to_string(read.size()));
            if (violations != nullptr) {
                if (violations->size() != n)
                    raise(PyExc_ValueError, "tell() needs " + std::to_string(n) +
                                                " violations, one per particle, but got " +
                                                std::to_string(violations->size()));
                check_violations(*violations);
                for (std::size_t j = 0; j < n; ++j)
                    read[j] = penalised(read[j], (*violations)[j], s.penalty);
            }
            s.tell(read);
            return PyRef::borrow(Py_None).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* swarm_violations(PyObject*, PyObject* args, PyObject* kwargs) {
    return constraint_sums(args, kwargs, true);
}

PyObject* swarm_result(PyObject* self, PyObject*) {
    return guarded(
        [&] {
            const SwarmDriver& s = swarm(self);
            if (!s.started())
                raise(PyExc_ValueError,
                      "result() needs the first swarm's values: call ask() and tell() first");
            return make_result(s.result()).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyRef float_list(std::span<const double> values) {
    return check(candidate_list(values, false));
}

template <class Read>
PyObject* getter(PyObject* self, Read&& read) {
    return guarded([&] { return read(swarm(self)).release(); }, static_cast<PyObject*>(nullptr));
}

PyObject* get_best_value(PyObject* self, void*) {
    return getter(self, [](const SwarmDriver& s) {
        return s.started() ? check(PyFloat_FromDouble(s.best_value())) : PyRef::borrow(Py_None);
    });
}
PyObject* get_best_position(PyObject* self, void*) {
    return getter(self, [](const SwarmDriver& s) {
        return s.started() ? float_list(s.best_position()) : PyRef::borrow(Py_None);
    });
}
PyObject* get_convergence(PyObject* self, void*) {
    return getter(self, [](const SwarmDriver& s) { return float_list(s.convergence()); });
}

PyObject* swarm_repr(PyObject* self) {
    return guarded(
        [&] {
            const SwarmDriver& s = swarm(self);
            std::string text = describe_run("Swarm", s);
            if (s.started()) text += ", best_value=" + format_float(s.best_value());
            text += ")";
            return check(PyUnicode_FromString(text.c_str())).release();
        },
        static_cast<PyObject*>(nullptr));
}

using Driver = SwarmDriver;

PyGetSetDef swarm_getters[] = {
    {"best_position", get_best_position, nullptr, kSwarmBestPositionDoc, nullptr},
    {"best_value", get_best_value, nullptr, kSwarmBestValueDoc, nullptr},
    {"iteration", size_getter<Driver, &Driver::iteration>, nullptr, kSwarmIterationDoc, nullptr},
    {"evaluations", size_getter<Driver, &Driver::evaluations>, nullptr, kSwarmEvaluationsDoc,
     nullptr},
    {"convergence", get_convergence, nullptr, kSwarmConvergenceDoc, nullptr},
    {"stop_reason", stop_reason_getter<Driver>, nullptr, kSwarmStopReasonDoc, nullptr},
    {"n_particles", size_getter<Driver, &Driver::particles>, nullptr, "Number of particles.",
     nullptr},
    {"dim", size_getter<Driver, &Driver::dimensions>, nullptr, "Number of dimensions.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef swarm_methods[] = {
    {"ask", ask_driver<Driver>, METH_NOARGS, kSwarmAskDoc},
    {"tell", as_method(swarm_tell), METH_VARARGS | METH_KEYWORDS, kSwarmTellDoc},
    {"violations", as_method(swarm_violations), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     kSwarmViolationsDoc},
    {"result", swarm_result, METH_NOARGS, kSwarmResultDoc},
    {"__reduce__", reduce_driver<Driver, kRestoreSwarm>, METH_NOARGS,
     "A checkpoint of the run, for pickle and copy."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* swarm_class() {
    if (g_swarm_type == nullptr)
        g_swarm_type = create_driver_class({"kestrelopt_native.Swarm", kSwarmDoc, sizeof(Instance),
                                            swarm_getters, swarm_methods, swarm_repr, swarm_new,
                                            dealloc_driver<SwarmDriver>});
    return g_swarm_type;
}

PyMethodDef restore_swarm_method = {kRestoreSwarm, restore_driver<SwarmDriver, swarm_class>,
                                    METH_VARARGS, "A Swarm rebuilt from its checkpoint (pickle)."};

}  // namespace kestrelopt::native
