// MultiSwarm: a multi-objective run driven by the caller one particle at a time with ask
// and tell, over the engine's sequential steps. Options are read as minimize_multi reads
// them; every call is checked before it changes anything; pickling is by value.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
#include "entry/multi_swarm_params.hpp"
#include "entry/steppable.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "results/result_records.hpp"

namespace kestrelopt::native {

namespace {

using namespace multi_swarm_params;

constexpr Signature kSignature{"MultiSwarm()", kParams};

constexpr Param kTellParams[] = {
    required("objectives", Kind::Object),
    real("violation", 0.0),
};
constexpr Signature kTellSignature{"tell()", kTellParams};

constexpr Param kTellAllParams[] = {
    required("objectives", Kind::Object),
    optional("violations", Kind::Object),
};
constexpr Signature kTellAllSignature{"tell_all()", kTellAllParams};

constexpr char kRestoreMultiSwarm[] = "_restore_multi_swarm";

constexpr std::uint64_t kMultiSwarmMagic = 0x316D72617753754DULL;  // "MuSwarm1"

class MultiDriver {
  public:
    virtual ~MultiDriver() = default;
    virtual PyRef ask() = 0;
    virtual void tell(std::span<const double> objectives, double violation) = 0;
    virtual PyRef ask_all() = 0;
    virtual void tell_all(std::span<const std::vector<double>> objectives,
                          std::span<double> violations) = 0;
    virtual bool batch_asked() const = 0;
    virtual std::size_t front_size() const = 0;
    virtual std::size_t particles() const = 0;
    virtual std::size_t dimensions() const = 0;
    virtual bool asked() const = 0;
    virtual std::optional<StopReason> stopped() const = 0;
    virtual std::size_t iteration() const = 0;
    virtual std::size_t next_particle() const = 0;
    virtual std::size_t evaluations() const = 0;
    virtual PyParetoFront front() const = 0;
    virtual std::vector<std::uint8_t> save() const = 0;
    virtual void load(std::span<const std::uint8_t> bytes) = 0;

    // The number of objectives, fixed by the first tell.
    std::optional<std::size_t> objectives;
    // The last objective vector told, its buffer reused from tell to tell.
    std::vector<double> told;
    // A whole swarm's objectives and violations, their buffers reused from round to round:
    // as read, then as the steps take them.
    FloatRows told_rows;
    std::vector<double> told_violations;
    std::vector<std::vector<double>> rows;
    std::vector<double> scratch;
};

template <class Space>
class MultiDriverOf final : public MultiDriver {
  public:
    MultiDriverOf(MopsoConfig config, Space space, std::unique_ptr<Velocity> velocity)
        : engine_(std::move(config), std::move(space), std::move(velocity)),
          steps_(engine_.steps()) {}

    PyRef ask() override {
        const auto position = steps_.ask();
        const std::size_t shape[1] = {position.size()};
        double* data = nullptr;
        PyRef array = numpy::new_array(shape, data);
        if (!array) throw PythonError{};
        std::copy(position.begin(), position.end(), data);  // integers become doubles
        return array;
    }
    void tell(std::span<const double> values, double violation) override {
        steps_.tell(values, violation);
    }
    PyRef ask_all() override {
        PyRef matrix = swarm_matrix(steps_.ask_all());
        if (!matrix) throw PythonError{};
        return matrix;
    }
    void tell_all(std::span<const std::vector<double>> objectives,
                  std::span<double> violations) override {
        steps_.tell_all(objectives, violations);
    }
    bool batch_asked() const override { return steps_.batch_asked(); }
    std::size_t front_size() const override { return steps_.front_size(); }
    std::size_t particles() const override { return engine_.config().n_particles; }
    std::size_t dimensions() const override { return steps_.dimensions(); }
    bool asked() const override { return steps_.asked(); }
    std::optional<StopReason> stopped() const override { return steps_.stopped(); }
    std::size_t iteration() const override { return steps_.iteration(); }
    std::size_t next_particle() const override { return steps_.next_particle(); }
    std::size_t evaluations() const override { return steps_.evaluations(); }
    PyParetoFront front() const override {
        return running_report(steps_, [](auto r) { return to_front_record(std::move(r)); });
    }
    std::vector<std::uint8_t> save() const override {
        return tagged_state(steps_, kMultiSwarmMagic);
    }
    void load(std::span<const std::uint8_t> bytes) override {
        load_tagged_state(steps_, bytes, kMultiSwarmMagic, "it is not a MultiSwarm's");
        objectives = steps_.objective_count();
    }

  private:
    Mopso<Space> engine_;
    MopsoSteps<Space> steps_;
};

using Instance = DriverInstance<MultiDriver>;

MultiDriver& multi(PyObject* self) {
    return driver_of<MultiDriver>(self);
}

PyObject* g_multi_swarm_type = nullptr;

PyObject* multi_swarm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            check_positional(args, "MultiSwarm()");
            Arguments a(kSignature, args, kwargs);
            check_single_leader(a.text(kVelocity));
            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            VelocityLimits limits;
            std::unique_ptr<Velocity> velocity;
            MopsoConfig config = multi_config<P>(a, limits, pairs.size(), velocity);
            std::optional<std::vector<VarType>> types =
                var_types_of<P>(a, pairs.size(), var_types_match_message);
            numpy::load_api();
            PyRef options = checkpoint_options(kwargs, pairs);
            MultiDriver* driver = with_space(
                std::move(pairs), std::move(types), a.boolean(kBinary), a.boolean(kInteger),
                [&](auto space) -> MultiDriver* {
                    using Space = decltype(space);
                    auto rule =
                        limit_velocity(std::move(velocity), limits, space.span(), kDimensions);
                    config.init = init_rows(a.object(kInit), space.span(), config.n_particles);
                    return new MultiDriverOf<Space>(std::move(config), std::move(space),
                                                    std::move(rule));
                });
            return adopt_driver(reinterpret_cast<PyObject*>(type), driver, std::move(options))
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

constexpr const char* kWholeRound =
    "a whole-swarm round is under way: ask_all() gave its positions, and tell_all() takes "
    "their objectives";

// ValueError unless the swarm waits for the objectives of an ask().
void check_asked(const MultiDriver& m) {
    if (m.asked()) return;
    if (m.batch_asked()) raise(PyExc_ValueError, kWholeRound);
    raise(PyExc_ValueError, m.stopped() ? "the run has ended; front() holds its outcome"
                                        : "tell() needs an ask() before it: it takes the "
                                          "objectives of the position the last ask() gave");
}

// ValueError unless the swarm waits for the objectives of an ask_all().
void check_batch_asked(const MultiDriver& m) {
    if (m.batch_asked()) return;
    raise(PyExc_ValueError, m.stopped() ? "the run has ended; front() holds its outcome"
                                        : "tell_all() needs an ask_all() before it: it takes "
                                          "the objectives of the positions ask_all() gave");
}

PyObject* multi_swarm_ask(PyObject* self, PyObject* args) {
    if (multi(self).batch_asked()) {
        PyErr_SetString(PyExc_ValueError, kWholeRound);
        return nullptr;
    }
    return ask_driver<MultiDriver>(self, args);
}

PyObject* multi_swarm_ask_all(PyObject* self, PyObject*) {
    return guarded(
        [&] {
            MultiDriver& m = multi(self);
            if (const auto reason = m.stopped()) raise_ended(*reason);
            if (!m.batch_asked() && (m.asked() || m.next_particle() != 0))
                raise(PyExc_ValueError,
                      "ask_all() starts a round, but a round of single particles is under way "
                      "(at particle " +
                          std::to_string(m.next_particle()) + " of " +
                          std::to_string(m.particles()) +
                          "): finish it with ask() and tell() first");
            return m.ask_all().release();
        },
        static_cast<PyObject*>(nullptr));
}

// ValueError unless `rows` holds one objective vector per particle, all of one length that
// is that of the earlier points; the length.
std::size_t check_objective_rows(const MultiDriver& m, const FloatRows& rows) {
    const std::size_t n = m.particles();
    if (rows.size() != n)
        raise(PyExc_ValueError, "tell_all() needs " + std::to_string(n) +
                                    " rows of objectives, one per particle, but got " +
                                    std::to_string(rows.size()));
    if (n == 0) return m.objectives.value_or(0);
    const std::size_t count = m.objectives.value_or(rows.row(0).size());
    if (count == 0) raise(PyExc_ValueError, "tell_all() needs at least one objective value");
    for (std::size_t j = 0; j < n; ++j) {
        if (rows.row(j).size() == count) continue;
        raise(PyExc_ValueError, "tell_all() got " + std::to_string(rows.row(j).size()) +
                                    " objective values for particle " + std::to_string(j) +
                                    ", but " +
                                    (m.objectives ? "earlier points had " : "particle 0 has ") +
                                    std::to_string(count));
    }
    return count;
}

PyObject* multi_swarm_tell_all(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            MultiDriver& m = multi(self);
            Arguments a(kTellAllSignature, args, kwargs);
            check_batch_asked(m);
            Lent<FloatRows> lent_rows(m.told_rows);
            FloatRows& read = lent_rows.get();
            if (!read_rows(a.object(0), read, m.scratch, "objectives")) {
                wrap_type_error("objectives");
                throw PythonError{};
            }
            TellValues told_violations(m.told_violations);
            PyObject* given_violations = a.object(1);
            std::vector<double>& violations =
                given_violations != nullptr
                    ? told_violations.read(given_violations, "tell_all() got",
                                           " for violations; it takes one number per particle "
                                           "(a sequence or an array)")
                    : told_violations.get();
            check_batch_asked(m);  // reading may have run code that told meanwhile
            const std::size_t count = check_objective_rows(m, read);
            const std::size_t n = m.particles();
            if (given_violations == nullptr)
                violations.assign(n, 0.0);
            else if (violations.size() != n)
                raise(PyExc_ValueError, "tell_all() needs " + std::to_string(n) +
                                            " violations, one per particle, but got " +
                                            std::to_string(violations.size()));
            m.rows.resize(n);
            for (std::size_t j = 0; j < n; ++j)
                m.rows[j].assign(read.row(j).begin(), read.row(j).end());
            m.tell_all(m.rows, violations);
            if (n > 0) m.objectives = count;
            return PyRef::borrow(Py_None).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* multi_swarm_violations(PyObject*, PyObject* args, PyObject* kwargs) {
    return constraint_sums(args, kwargs, false);
}

PyObject* multi_swarm_tell(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            MultiDriver& m = multi(self);
            Arguments a(kTellSignature, args, kwargs);
            check_asked(m);
            const double violation = a.real(1);
            TellValues told(m.told);
            const std::vector<double>& objectives =
                told.read(a.object(0), "tell() got",
                          "; it takes one number per objective (a sequence or an array)");
            check_asked(m);  // reading may have run code that told meanwhile
            if (objectives.empty())
                raise(PyExc_ValueError, "tell() needs at least one objective value");
            if (m.objectives && objectives.size() != *m.objectives)
                raise(PyExc_ValueError, "tell() got " + std::to_string(objectives.size()) +
                                            " objective values, but earlier points had " +
                                            std::to_string(*m.objectives));
            m.tell(objectives, violation);
            m.objectives = objectives.size();
            return PyRef::borrow(Py_None).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* multi_swarm_front(PyObject* self, PyObject*) {
    return guarded([&] { return make_result(multi(self).front()).release(); },
                   static_cast<PyObject*>(nullptr));
}

PyObject* multi_swarm_repr(PyObject* self) {
    return guarded(
        [&] {
            const MultiDriver& m = multi(self);
            const std::string text = describe_run("MultiSwarm", m) + ")";
            return check(PyUnicode_FromString(text.c_str())).release();
        },
        static_cast<PyObject*>(nullptr));
}

using Driver = MultiDriver;

PyGetSetDef multi_swarm_getters[] = {
    {"iteration", size_getter<Driver, &Driver::iteration>, nullptr,
     "Iterations completed (the initial swarm's round is not one).", nullptr},
    {"particle", size_getter<Driver, &Driver::next_particle>, nullptr,
     "Index of the particle the next ask() moves (or gives, if asked already).", nullptr},
    {"evaluations", size_getter<Driver, &Driver::evaluations>, nullptr,
     "Objective vectors told so far.", nullptr},
    {"front_size", size_getter<Driver, &Driver::front_size>, nullptr,
     "Points the front holds now, as front() would give them (what minimize_multi's callback "
     "is told).",
     nullptr},
    {"stop_reason", stop_reason_getter<Driver>, nullptr,
     "Why the run ended (as ParetoFront.stop_reason), or None while it goes on.", nullptr},
    {"n_particles", size_getter<Driver, &Driver::particles>, nullptr, "Number of particles.",
     nullptr},
    {"dim", size_getter<Driver, &Driver::dimensions>, nullptr, "Number of dimensions.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef multi_swarm_methods[] = {
    {"ask", multi_swarm_ask, METH_NOARGS, kMultiSwarmAskDoc},
    {"tell", as_method(multi_swarm_tell), METH_VARARGS | METH_KEYWORDS, kMultiSwarmTellDoc},
    {"ask_all", multi_swarm_ask_all, METH_NOARGS, kMultiSwarmAskAllDoc},
    {"tell_all", as_method(multi_swarm_tell_all), METH_VARARGS | METH_KEYWORDS,
     kMultiSwarmTellAllDoc},
    {"violations", as_method(multi_swarm_violations), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     kMultiSwarmViolationsDoc},
    {"front", multi_swarm_front, METH_NOARGS, kMultiSwarmFrontDoc},
    {"__reduce__", reduce_driver<Driver, kRestoreMultiSwarm>, METH_NOARGS,
     "A checkpoint of the run, for pickle and copy."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* multi_swarm_class() {
    if (g_multi_swarm_type == nullptr)
        g_multi_swarm_type = create_driver_class(
            {"kestrelopt_native.MultiSwarm", kMultiSwarmDoc, sizeof(Instance), multi_swarm_getters,
             multi_swarm_methods, multi_swarm_repr, multi_swarm_new, dealloc_driver<MultiDriver>});
    return g_multi_swarm_type;
}

PyMethodDef restore_multi_swarm_method = {
    kRestoreMultiSwarm, restore_driver<MultiDriver, multi_swarm_class>, METH_VARARGS,
    "A MultiSwarm rebuilt from its checkpoint (pickle)."};

}  // namespace kestrelopt::native
