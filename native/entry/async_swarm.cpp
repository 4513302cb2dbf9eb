// AsyncSwarm: a single-objective run in the sequential mode with several evaluations in
// flight, driven by the caller with ask and tell by ticket. One driver per search space
// holds the engine and its asynchronous steps; the options are read as Swarm reads them
// (with the penalty of the violations told); every call reads its arguments, then checks the
// object, then commits, with no Python code in between; pickling is by value, tickets in
// flight included.
#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "adapters/candidate_list.hpp"
#include "adapters/constraint_sums.hpp"
#include "convert/binder.hpp"
#include "convert/bounds.hpp"
#include "convert/factories.hpp"
#include "convert/init_rows.hpp"
#include "convert/numpy_api.hpp"
#include "convert/swarm_options.hpp"
#include "cpython/panic.hpp"
#include "docs/async_swarm_docs.hpp"
#include "docs/swarm_docs.hpp"
#include "entry/entry_points.hpp"
#include "entry/steppable.hpp"
#include "entry/swarm_params.hpp"
#include "kestrelopt/pso.hpp"
#include "results/result_records.hpp"

namespace kestrelopt::native {

namespace {

using namespace swarm_params;

constexpr Signature kSignature{"AsyncSwarm()", kParams};

constexpr Param kTellParams[] = {
    required("ticket", Kind::Object),
    required("value", Kind::Float),
    real("violation", 0.0),
};
constexpr Signature kTellSignature{"tell()", kTellParams};

constexpr char kRestoreAsyncSwarm[] = "_restore_async_swarm";

// Tells a checkpoint of an AsyncSwarm from anything else.
constexpr std::uint64_t kAsyncSwarmMagic = 0x316D72617753734FULL;  // "OsSwarm1"

class AsyncDriver {
  public:
    virtual ~AsyncDriver() = default;
    // Stops unless the steps can give a particle (the caller checks blocked() first).
    virtual std::uint64_t ask(PyRef& position) = 0;
    virtual void tell(std::uint64_t ticket, double value) = 0;
    virtual std::optional<AskBlock> blocked() const = 0;
    virtual PyRef position_of(std::uint64_t ticket) const = 0;
    virtual std::span<const AsyncTicket> pending() const = 0;
    virtual std::size_t particles() const = 0;
    virtual std::size_t dimensions() const = 0;
    virtual std::size_t asked() const = 0;
    virtual std::size_t budget() const = 0;
    virtual bool begun() const = 0;
    virtual std::optional<StopReason> stopped() const = 0;
    virtual std::size_t iteration() const = 0;
    virtual std::size_t evaluations() const = 0;
    virtual double best_value() const = 0;
    virtual std::vector<double> best_position() const = 0;
    virtual std::span<const double> convergence() const = 0;
    virtual PyPsoResult result() const = 0;
    virtual std::vector<std::uint8_t> save() const = 0;
    virtual void load(std::span<const std::uint8_t> bytes) = 0;

    double penalty = 0.0;
};

// A new one-dimensional float64 array holding `x`.
template <class Element>
PyRef position_array(std::span<const Element> x) {
    const std::size_t shape[1] = {x.size()};
    double* data = nullptr;
    PyRef array = numpy::new_array(shape, data);
    if (!array) throw PythonError{};
    std::copy(x.begin(), x.end(), data);  // integers become doubles
    return array;
}

template <class Space>
class AsyncDriverOf final : public AsyncDriver {
  public:
    using Element = typename Space::Element;

    AsyncDriverOf(PsoConfig config, Space space, std::unique_ptr<Velocity> velocity,
                  std::unique_ptr<Topology> topology)
        : engine_(std::move(config), std::move(space), std::move(velocity), std::move(topology)),
          steps_(engine_.async_steps()) {}

    std::uint64_t ask(PyRef& position) override {
        // The array first: when it cannot be made, the particle is not handed out.
        const std::size_t shape[1] = {steps_.dimensions()};
        double* data = nullptr;
        PyRef array = numpy::new_array(shape, data);
        if (!array) throw PythonError{};
        const auto ticket = steps_.ask();
        const auto x = steps_.position(ticket.particle);
        std::copy(x.begin(), x.end(), data);
        position = std::move(array);
        return ticket.ticket;
    }
    void tell(std::uint64_t ticket, double value) override { steps_.tell(ticket, value); }
    std::optional<AskBlock> blocked() const override { return steps_.blocked(); }
    PyRef position_of(std::uint64_t ticket) const override {
        std::vector<Element> decoded;
        engine_.space().decode_into(steps_.run().particles[find(ticket)->particle].position,
                                    decoded);
        return position_array<Element>(decoded);
    }
    std::span<const AsyncTicket> pending() const override { return steps_.pending(); }
    std::size_t particles() const override { return engine_.config().n_particles; }
    std::size_t dimensions() const override { return steps_.dimensions(); }
    std::size_t asked() const override { return steps_.asked(); }
    std::size_t budget() const override { return steps_.budget(); }
    bool begun() const override { return steps_.begun(); }
    std::optional<StopReason> stopped() const override { return steps_.stopped(); }
    std::size_t iteration() const override { return steps_.iteration(); }
    std::size_t evaluations() const override { return steps_.run().evaluations; }
    double best_value() const override { return steps_.run().global_value; }
    std::vector<double> best_position() const override {
        std::vector<Element> decoded;
        engine_.space().decode_into(steps_.run().global_best, decoded);
        return as_doubles(std::move(decoded));
    }
    std::span<const double> convergence() const override {
        return steps_.run().history.convergence;
    }
    PyPsoResult result() const override {
        return running_report(steps_, [](auto r) { return to_py_result(std::move(r)); });
    }
    std::vector<std::uint8_t> save() const override {
        return tagged_state(steps_, kAsyncSwarmMagic);
    }
    void load(std::span<const std::uint8_t> bytes) override {
        load_tagged_state(steps_, bytes, kAsyncSwarmMagic, "it is not an AsyncSwarm's");
    }

  private:
    const AsyncTicket* find(std::uint64_t ticket) const {
        for (const auto& t : steps_.pending())
            if (t.ticket == ticket) return &t;
        return nullptr;
    }

    Pso<Space> engine_;
    AsyncSteps<Space> steps_;
};

using Instance = DriverInstance<AsyncDriver>;

AsyncDriver& async_swarm(PyObject* self) {
    return driver_of<AsyncDriver>(self);
}

PyObject* g_async_swarm_type = nullptr;

PyObject* async_swarm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            check_positional(args, "AsyncSwarm()");
            Arguments a(kSignature, args, kwargs);
            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            // A preset's restarts are left out: an AsyncSwarm stops where minimize restarts.
            BoxRunParts parts = box_run_parts<P>(a, pairs.size(), false);
            if (parts.restarts.restarts > 0)
                raise(PyExc_ValueError,
                      "restarts are not available on an AsyncSwarm; use minimize(..., "
                      "restarts=...) for a restarting search");
            std::optional<std::vector<VarType>> types =
                var_types_of<P>(a, pairs.size(), var_types_lengths_message);
            numpy::load_api();
            PyRef options = checkpoint_options(kwargs, pairs);
            AsyncDriver* driver = with_space(
                std::move(pairs), std::move(types), a.boolean(kBinary), a.boolean(kInteger),
                [&](auto space) -> AsyncDriver* {
                    using Space = decltype(space);
                    auto rule = limit_velocity(std::move(parts.velocity), parts.limits,
                                               space.span(), kDimensions);
                    parts.config.init =
                        init_rows(a.object(kInit), space.span(), parts.config.n_particles);
                    return new AsyncDriverOf<Space>(std::move(parts.config), std::move(space),
                                                    std::move(rule), std::move(parts.topology));
                });
            driver->penalty = a.real(kPenalty);
            return adopt_driver(reinterpret_cast<PyObject*>(type), driver, std::move(options))
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* async_swarm_ask(PyObject* self, PyObject*) {
    return guarded(
        [&] {
            AsyncDriver& s = async_swarm(self);
            if (const auto block = s.blocked())
                raise_blocked(*block, s.stopped(), s.budget(), s.pending().size(), s.particles());
            PyRef position;
            const std::uint64_t ticket = s.ask(position);
            PyRef number = check(PyLong_FromUnsignedLongLong(ticket));
            return check(PyTuple_Pack(2, number.get(), position.get())).release();
        },
        static_cast<PyObject*>(nullptr));
}

// ValueError unless the violation is >= 0 or NaN.
void check_violation(double violation) {
    if (violation < 0)
        raise(PyExc_ValueError,
              "violation must be >= 0 (0 when feasible), got " + format_float(violation) +
                  "; AsyncSwarm.violations(g) makes it of the constraint values g");
}

PyObject* async_swarm_tell(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            // Reading the arguments can run Python code (a user __index__ or __float__)
            // that uses this object: read them all, then check, then commit.
            Arguments a(kTellSignature, args, kwargs);
            PyRef index = ticket_index(a.object(0));
            AsyncDriver& s = async_swarm(self);
            const std::uint64_t ticket = ticket_in_flight(index.get(), s.pending(), s.asked());
            const double violation = a.real(2);
            check_violation(violation);
            s.tell(ticket, penalised(a.real(1), violation, s.penalty));
            return PyRef::borrow(Py_None).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* async_swarm_position(PyObject* self, PyObject* arg) {
    return guarded(
        [&] {
            PyRef index = ticket_index(arg);
            const AsyncDriver& s = async_swarm(self);
            return s.position_of(ticket_in_flight(index.get(), s.pending(), s.asked())).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* async_swarm_violations(PyObject*, PyObject* args, PyObject* kwargs) {
    return constraint_sums(args, kwargs, true);
}

PyObject* async_swarm_result(PyObject* self, PyObject*) {
    return guarded(
        [&] {
            const AsyncDriver& s = async_swarm(self);
            if (!s.begun())
                raise(PyExc_ValueError,
                      "result() needs a best: tell the starting swarm's values first");
            return make_result(s.result()).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyRef float_list(std::span<const double> values) {
    return check(candidate_list(values, false));
}

template <class Read>
PyObject* getter(PyObject* self, Read&& read) {
    return guarded([&] { return read(async_swarm(self)).release(); },
                   static_cast<PyObject*>(nullptr));
}

PyObject* get_best_value(PyObject* self, void*) {
    return getter(self, [](const AsyncDriver& s) {
        return s.begun() ? check(PyFloat_FromDouble(s.best_value())) : PyRef::borrow(Py_None);
    });
}
PyObject* get_best_position(PyObject* self, void*) {
    return getter(self, [](const AsyncDriver& s) {
        return s.begun() ? float_list(s.best_position()) : PyRef::borrow(Py_None);
    });
}
PyObject* get_convergence(PyObject* self, void*) {
    return getter(self, [](const AsyncDriver& s) { return float_list(s.convergence()); });
}
PyObject* get_pending(PyObject* self, void*) {
    return getter(self, [](const AsyncDriver& s) {
        const auto pending = s.pending();
        PyRef tuple = check(PyTuple_New(static_cast<Py_ssize_t>(pending.size())));
        for (std::size_t k = 0; k < pending.size(); ++k)
            PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(k),
                            check(PyLong_FromUnsignedLongLong(pending[k].ticket)).release());
        return tuple;
    });
}

PyObject* async_swarm_repr(PyObject* self) {
    return guarded(
        [&] {
            const AsyncDriver& s = async_swarm(self);
            std::string text = describe_run("AsyncSwarm", s);
            text += ", in_flight=" + std::to_string(s.pending().size());
            if (s.begun()) text += ", best_value=" + format_float(s.best_value());
            text += ")";
            return check(PyUnicode_FromString(text.c_str())).release();
        },
        static_cast<PyObject*>(nullptr));
}

using Driver = AsyncDriver;

PyGetSetDef async_swarm_getters[] = {
    {"pending", get_pending, nullptr, kAsyncSwarmPendingDoc, nullptr},
    {"asked", size_getter<Driver, &Driver::asked>, nullptr, kAsyncSwarmAskedDoc, nullptr},
    {"best_position", get_best_position, nullptr, kAsyncSwarmBestPositionDoc, nullptr},
    {"best_value", get_best_value, nullptr, kAsyncSwarmBestValueDoc, nullptr},
    {"iteration", size_getter<Driver, &Driver::iteration>, nullptr, kAsyncSwarmIterationDoc,
     nullptr},
    {"evaluations", size_getter<Driver, &Driver::evaluations>, nullptr, kSwarmEvaluationsDoc,
     nullptr},
    {"convergence", get_convergence, nullptr, kSwarmConvergenceDoc, nullptr},
    {"stop_reason", stop_reason_getter<Driver>, nullptr, kSwarmStopReasonDoc, nullptr},
    {"n_particles", size_getter<Driver, &Driver::particles>, nullptr, "Number of particles.",
     nullptr},
    {"dim", size_getter<Driver, &Driver::dimensions>, nullptr, "Number of dimensions.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef async_swarm_methods[] = {
    {"ask", async_swarm_ask, METH_NOARGS, kAsyncSwarmAskDoc},
    {"tell", as_method(async_swarm_tell), METH_VARARGS | METH_KEYWORDS, kAsyncSwarmTellDoc},
    {"position", async_swarm_position, METH_O, kAsyncSwarmPositionDoc},
    {"violations", as_method(async_swarm_violations), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     kSwarmViolationsDoc},
    {"result", async_swarm_result, METH_NOARGS, kAsyncSwarmResultDoc},
    {"__reduce__", reduce_driver<Driver, kRestoreAsyncSwarm>, METH_NOARGS,
     "A checkpoint of the run, for pickle and copy."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* async_swarm_class() {
    if (g_async_swarm_type == nullptr)
        g_async_swarm_type = create_driver_class(
            {"kestrelopt_native.AsyncSwarm", kAsyncSwarmDoc, sizeof(Instance), async_swarm_getters,
             async_swarm_methods, async_swarm_repr, async_swarm_new, dealloc_driver<AsyncDriver>});
    return g_async_swarm_type;
}

PyMethodDef restore_async_swarm_method = {
    kRestoreAsyncSwarm, restore_driver<AsyncDriver, async_swarm_class>, METH_VARARGS,
    "An AsyncSwarm rebuilt from its checkpoint (pickle)."};

}  // namespace kestrelopt::native
